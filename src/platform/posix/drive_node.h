// Opening drive A:'s device node as the drive drivers need it.
#pragma once

namespace platform::posix {

// open(2) for drive A:'s path, with O_CLOEXEC added. A block device is opened without
// O_NONBLOCK: the floppy controller's driver looks for a diskette, reads its format and
// checks its write protection only on a blocking open (a non-blocking one succeeds without a
// diskette and reports 4,096 bytes). So that no pipe can be put there to stall the open, the
// node is looked at through an O_PATH descriptor first and then reopened through that very
// descriptor. The first open after a diskette is swapped may fail once with ENXIO, and is
// tried once more. Anything else (an image file) is opened with O_NONBLOCK, which the returned
// descriptor no longer has. -1 with errno set on failure.
int openDriveNode(const char* path, int flags);

}  // namespace platform::posix
