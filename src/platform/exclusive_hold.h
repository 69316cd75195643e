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

struct HeldDriveA;

class ExclusiveHold {
  public:
    ExclusiveHold() = default;
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
    int m_fd = -1;               // holds the flock
    int m_exclusiveFd = -1;      // block devices: the O_EXCL open
    int m_backingFd = -1;        // a loop device's backing file: its flock
    std::vector<int> m_loopFds;  // the O_EXCL opens of the other loop devices over the medium
    std::uint64_t m_pin = 0;     // a drive: its entry in the list driveAHeldHere reads
};

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
};

// The drive A: of the latest build of this process still running; none outside a build.
std::optional<HeldDriveA> driveAHeldHere();

// What one build holds: drive A: and, unless it only formats, its start directory.
struct BuildHold {
    ExclusiveHold drive;
    ExclusiveHold startDir;
};

// True when `fd` is open on the file or device of a drive A: that this process holds.
bool driveHeldHere(int fd);
// True while this process holds any drive A:, that is while a build or a format runs.
bool anyDriveHeldHere();

}  // namespace platform
