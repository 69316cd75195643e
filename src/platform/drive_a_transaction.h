// Copies into the root of drive A: made one after another, as a build makes them, put on the
// medium together as one transaction. While a DriveATransaction lives, CopyFileA stages each copy
// on one open drive and one mounted volume (fat::Volume::stageFile): the data is written at once,
// the FAT chains and directory entries wait for finish(). So all the data reaches the medium before
// any entry that names it, with two or three flushes for the whole list instead of one or two per
// file, and a real drive moves its head from the data tracks to the tables once.
//
// Copies made while none lives are durable when CopyFileA returns, as before. A failed copy
// finishes the copies before it, so that they are on the diskette whatever the caller does next.
#pragma once

#include <memory>

#include "base/result.h"
#include "fat/fat12.h"
#include "platform/drive_a.h"

namespace platform {

// Drive A: opened and its FAT12 volume mounted, for one call or for one transaction.
struct MountedDriveA {
    std::unique_ptr<DriveA> drive;
    std::unique_ptr<fat::Volume> volume;  // mounted on *drive: let go of first
    void release() {
        volume.reset();
        drive.reset();
    }
};

// Opens drive A: (for writing: held for the session) and mounts its volume. A drive that
// cannot be opened fails as DriveA::open does; a volume that cannot be mounted fails "the
// diskette in drive A: holds no usable FAT12 volume: ..." with the mount's kind.
base::Result<MountedDriveA> mountDriveA(DriveAccess access);

class DriveATransaction {
  public:
    DriveATransaction();
    // Finishes what finish() was not called for.
    ~DriveATransaction();
    DriveATransaction(const DriveATransaction&) = delete;
    DriveATransaction& operator=(const DriveATransaction&) = delete;

    // Puts the staged copies on the medium (fat::Volume::commit), flushes and lets go of the
    // drive. Later copies start a new batch.
    base::Status finish();
    // Lets go of the drive without putting the staged copies on the medium: their data stays
    // in clusters that nothing names, and the diskette shows none of them.
    void abandon();

    // The batch in force, or null.
    static DriveATransaction* current();
    // The volume copies are staged on: drive A: opened and mounted at the first copy, and at
    // every later one checked to still hold what was written.
    base::Result<fat::Volume*> volume();

  private:
    MountedDriveA m_mounted;
    bool m_active = true;  // false for a batch made while another lives: it leaves all to that one
};

// Makes every write this program made to drive A: durable; does nothing when nothing has been
// written since the last successful flush.
base::Status flushDriveA();

}  // namespace platform
