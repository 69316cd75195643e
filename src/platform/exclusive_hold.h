// One build at a time. A build holds drive A: and its start directory from its presence check
// to its end, and a format-only run holds drive A:; another copy of the program that wants
// either is refused at once instead of writing between this one's steps.
//
// Drive A: is held by a flock on the drive's file (the image, or the device node) and, for a
// block device, by an O_EXCL open as well, which also keeps mounts and other programs out. Both
// belong to one open file, not to the process, so a second flock or O_EXCL open by the
// build's own operations would be refused by its own hold: DriveA::lock() therefore takes a
// drive held by this process as locked already (driveHeldHere).
//
// One medium is one drive whatever path reaches it: a loop device counts as its backing file,
// and every loop device over the file held counts as that file. So the hold also takes the
// backing file's flock, and an exclusive open of each loop device over it (which fails while
// one is mounted); an image in which another program holds a record lock (an emulator using
// it) is in use, and a shared record lock of ours over the whole file keeps such a program
// from starting on it meanwhile.
//
// A folder is held by a flock on the folder itself, opened for reading, which needs no file of
// ours in it and works where the folder is read-only.
//
// The hold is also where a build resolves which image or device is drive A:, once: every
// session within the build opens that path (driveAPath) and borrows the hold's descriptors
// instead of opening the drive again, and a path that names another file or device than the
// one held is refused (DriveA::checkStillHeld).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class HoldState {
    None,  // nothing was asked (a default-made hold)
    Held,
    Absent,              // nothing there to hold: no diskette, no drive, or it cannot be opened
    HeldByAnotherBuild,  // another build holds it
    InUse,               // drive A: is mounted or held by another program
    Failed,              // it is there but could not be locked; see detail()
};

struct HeldDriveA;  // posix/held_drive.h

class ExclusiveHold {
  public:
    ExclusiveHold();
    // Drive A: as driveAPath() names it.
    static ExclusiveHold driveA();
    // A folder under its Windows name (win_path.h).
    static ExclusiveHold folder(const std::string& windowsName);

    ExclusiveHold(ExclusiveHold&& other) noexcept;
    ExclusiveHold& operator=(ExclusiveHold&& other) noexcept;
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    ~ExclusiveHold();

    HoldState state() const { return m_state; }
    bool held() const { return m_state == HoldState::Held; }
    // The host path asked for.
    const std::string& path() const { return m_path; }
    // Why it is not held, for people; empty when it is.
    const std::string& detail() const { return m_detail; }

  private:
    void release();

    void pin(HeldDriveA drive);

    HoldState m_state = HoldState::None;
    std::string m_path;
    std::string m_detail;
    struct Handles;                      // what the system holds it by; closed, they let go
    std::unique_ptr<Handles> m_handles;  // null while nothing is held
    std::uint64_t m_pin = 0;             // a drive: its entry in the list driveAHeldHere reads
};

// What one build holds: drive A: and, unless it only formats, its start directory.
struct BuildHold {
    ExclusiveHold drive;
    ExclusiveHold startDir;
};

// True while this process holds any drive A:, that is while a build or a format runs.
bool anyDriveHeldHere();

}  // namespace platform
