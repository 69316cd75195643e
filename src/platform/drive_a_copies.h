// Copies into the root of drive A: made one after another, as a build makes them, put on the
// medium together. While a DriveACopies lives, CopyFileA stages each copy on one open drive
// and one mounted volume (fat::Volume::stageFile): the data is written at once, the FAT chains
// and directory entries wait for finish(). So all the data reaches the medium before any
// entry that names it, with two or three flushes for the whole list instead of one or two per
// file, and a real drive moves its head from the data tracks to the tables once.
//
// Copies made while none lives are durable when CopyFileA returns, as before. A failed copy
// finishes the copies before it, so that they are on the diskette whatever the caller does next.
#pragma once

#include <memory>

#include "base/result.h"
#include "fat/fat12.h"

namespace platform {

class DriveA;

class DriveACopies {
  public:
    DriveACopies();
    // Finishes what finish() was not called for.
    ~DriveACopies();
    DriveACopies(const DriveACopies&) = delete;
    DriveACopies& operator=(const DriveACopies&) = delete;

    // Puts the staged copies on the medium (fat::Volume::commit), flushes and lets go of the
    // drive. Later copies start a new batch.
    base::Status finish();
    // Lets go of the drive without putting the staged copies on the medium: their data stays
    // in clusters that nothing names, and the diskette shows none of them.
    void abandon();

    // The batch in force, or null.
    static DriveACopies* current();
    // The volume copies are staged on: drive A: opened and mounted at the first copy, and at
    // every later one checked to still hold what was written.
    base::Result<fat::Volume*> volume();

  private:
    std::unique_ptr<DriveA> m_drive;
    std::unique_ptr<fat::Volume> m_volume;
    bool m_active = true;  // false for a batch made while another lives: it leaves all to that one
};

// Makes every write this program made to drive A: durable; does nothing when nothing has been
// written since the last successful flush.
base::Status flushDriveA();

}  // namespace platform
