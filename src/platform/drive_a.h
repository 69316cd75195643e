// Drive A: an image file, or a floppy drive (a block device on Linux, a drive letter's raw
// volume on Windows), chosen by the rule in floppy_drives.h (named for the run,
// QUENVOL_DRIVE_A, else a floppy drive found, else /dev/fd0 or \\.\A:). A path that does
// not exist, or a drive without a medium, is an empty drive. Only a regular file or a drive
// whose size is one of the diskette formats counts as a diskette; anything else is refused
// before a single byte is written.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "fat/fat12.h"
#include "fat/sector_device.h"
#include "platform/native_handle.h"

namespace platform {

struct HeldDriveA;    // posix/held_drive.h
struct ExaminedPath;  // what drive A:'s path named before it was opened, as the system says

// The largest medium ever accepted: the 2.88 MB format.
inline constexpr std::uint64_t kLargestDisketteBytes = 2949120;

std::string driveAPath();

// Exactly the sizes of the diskette formats the file system can lay out (360 KB, 720 KB,
// 1.2 MB, 1.44 MB, 2.88 MB) and never above kLargestDisketteBytes: a medium we could not
// format or mount is no diskette to us, and a size off by one sector is more likely a disk
// image of something else than a diskette.
bool isDisketteSize(std::uint64_t bytes);

// What is at `path` and how large, diskette or not: a block device's medium or a regular
// file's size, so that a refusal can say what was refused. None for anything else, or for a
// device that cannot be opened or measured.
struct MediumSize {
    bool blockDevice = false;
    std::uint64_t bytes = 0;
    // A block device's first sector as read from the medium now (Linux), by which a diskette
    // swapped for another without the drive ever being seen empty is told; empty where it was
    // not read.
    std::string firstSector;
};
std::optional<MediumSize> measureMediumAt(const std::string& path);

// Drive A: is there but this user may not open it for reading: which device, and the way out
// ("it belongs to the group \"disk\": join that group ..." or, where the group may not either,
// its owner).
struct DriveAccessDenied {
    std::string path;
    std::string wayOut;
    std::string detail;  // the refusal in full
};
std::optional<DriveAccessDenied> driveAAccessDenied();

enum class DriveAccess { Read, Write };

struct DriveOpenOptions {
    DriveAccess access = DriveAccess::Read;
    // Write access only: hold the drive for the whole session (flock on an image, O_EXCL on a
    // block device), so that two programs never write at once and a mounted device is refused.
    bool exclusive = true;
    // Write access only: open a write-protected medium for reading instead of refusing it.
    bool readOnlyFallback = false;
    // Read what is on the medium rather than what the page cache holds (O_DIRECT for block
    // devices; for an image, the cache dropped before a read whenever this program wrote to
    // the drive since it was last dropped).
    bool bypassCache = false;
};

// One open session on drive A:. Refusals carry their kind and name the cause: "no diskette in
// drive A:", "not a diskette", "write-protected", "permission denied", "busy".
class DriveA final : public fat::SectorDevice {
  public:
    static base::Result<std::unique_ptr<DriveA>> open(const DriveOpenOptions& options = {});
    ~DriveA() override;
    DriveA(const DriveA&) = delete;
    DriveA& operator=(const DriveA&) = delete;

    std::uint32_t sectorCount() const override;
    base::Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override;
    // Needs the drive held exclusively; takes it for this call when it is not held already.
    base::Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override;
    base::Status flush() override;
    // Whether this program has written to drive A: since its last successful flush.
    static bool hasUnflushedWrites();
    // Fails, saying what it names now, when drive A:'s path no longer names the file or
    // device this session opened.
    base::Status checkStillAtPath() const;

    // Byte-level transfers at `offset` for the raw volume, cut at the end of the medium; the
    // count actually transferred is returned, 0 at the end.
    base::Result<std::size_t> readAt(std::uint64_t offset, void* out, std::size_t bytes);
    base::Result<std::size_t> writeAt(std::uint64_t offset, const void* in, std::size_t bytes);

    // Exclusive hold of the drive; fails "busy" when another program or a mount holds it.
    // Succeeds at once while this process holds the drive for a build (exclusive_hold.h).
    base::Status lock();
    void unlock();
    bool locked() const { return m_locked; }
    // Makes the next reads return what is on the medium: drops the host's cached pages of the
    // drive when this program wrote to it since they were last dropped (or never dropped
    // them), flushing first what is not yet flushed. False when that flush failed.
    bool dropCache();

    bool writable() const { return m_writable; }
    bool isBlockDevice() const { return m_blockDevice; }
    std::uint64_t sizeBytes() const { return m_size; }
    const fat::Geometry& geometry() const { return m_geometry; }
    const std::string& path() const { return m_path; }

  private:
    DriveA() = default;
    base::Status openDescriptor(const ExaminedPath& before, const DriveOpenOptions& options,
                                const HeldDriveA* lender);
    base::Status measureMedium(const DriveOpenOptions& options);
    base::Status measureBlockDevice(const DriveOpenOptions& options);
    void readOnlyBecause(base::Error why);
    base::Status transferCheck(std::uint32_t first, std::uint32_t count) const;
    // Each system's raw calls under the portable rules: a read of a range already cut to the
    // medium, a write with the drive held, a flush of this session's handle, a flush through
    // any handle that can (for a session opened for reading), and dropping the cached pages.
    base::Result<std::size_t> readMedium(std::uint64_t offset, void* out, std::size_t bytes);
    base::Result<std::size_t> writeHeld(std::uint64_t offset, const void* in, std::size_t bytes);
    base::Status flushMedium();
    bool flushAnyHandle() const;
    void forgetCachedPages();

    std::string m_path;
    NativeHandle m_handle;
    bool m_borrowed = false;  // m_handle is the build's hold's, which closes it
    // Block devices: the exclusive open that holds the device (on Windows, a volume's mutex);
    // Windows image files: the handle that reads past the cache.
    NativeHandle m_exclusive;
    bool m_locked = false;
    bool m_lockedByHold = false;  // held by this process's ExclusiveHold, not by this session
    bool m_writable = false;
    bool m_openedForReading = false;
    bool m_blockDevice = false;
    bool m_direct = false;
    bool m_dropBeforeRead = false;
    base::Status m_whyReadOnly = base::Status::success();  // opened for writing, got reading only
    std::uint64_t m_size = 0;
    std::uint64_t m_device = 0;  // what was opened: the file system's or the device's number
    std::uint64_t m_inode = 0;   // files only
    fat::Geometry m_geometry{};
};

// Holds drive A: exclusively while it lives: takes the hold unless the session has it already,
// and gives back only what it took.
class [[nodiscard]] DriveLock {
  public:
    explicit DriveLock(DriveA& drive);
    ~DriveLock();
    DriveLock(const DriveLock&) = delete;
    DriveLock& operator=(const DriveLock&) = delete;
    // Success while the drive is held; else why it could not be taken (busy...).
    const base::Status& status() const { return m_status; }

  private:
    DriveA& m_drive;
    bool m_took = false;
    base::Status m_status = base::Status::success();
};

}  // namespace platform
