// The drive A: a build of this process holds, for the sessions within it that borrow the
// hold's descriptors (exclusive_hold.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Drive A: as a build of this process resolved it when it took its hold.
struct HeldDriveA {
    std::string path;
    bool held = false;  // false: nothing was there to hold (the presence check says why)
    bool blockDevice = false;
    std::uint64_t device = 0;  // files: the file system's number; block devices: the device's
    std::uint64_t inode = 0;   // files only
    int fd = -1;               // the hold's descriptor, open for writing where that is allowed
    bool fdWritable = false;
    int directFd = -1;  // block devices: the hold's descriptor that reads past the page cache
    bool directWritable = false;
    // This user may not open the device, and the desktop's disk service refused it as well:
    // its words, so that the build's sessions report that instead of asking again.
    std::string serviceRefusal;
};

// The drive A: of the latest build of this process still running; none outside a build.
std::optional<HeldDriveA> driveAHeldHere();

// True when `fd` is open on the file or device of a drive A: that this process holds.
bool driveHeldHere(int fd);

}  // namespace platform
