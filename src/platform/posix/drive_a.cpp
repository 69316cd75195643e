#include "platform/drive_a.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/device_hooks.h"
#include "platform/drive_a_system.h"
#include "platform/drive_format.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/drive_node.h"
#include "platform/posix/held_drive.h"
#include "platform/posix/system_error.h"
#include "platform/posix/udisks.h"

namespace platform {
namespace {

using base::Failure;
using base::Result;
using base::Status;

constexpr std::size_t kDirectAlignment = 4096;

std::string errnoText(int error) {
    return std::strerror(error);
}

using drive_a::noDiskette;
using drive_a::notDiskette;
using drive_a::writeProtected;

base::Error busy(const std::string& path) {
    return Status::failure(Failure::Busy,
                           "busy: drive A: (" + path + ") is mounted or in use by another program");
}

std::string groupName(gid_t gid) {
    struct group entry {};
    struct group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

std::string userName(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return std::to_string(uid);
}

// The file's immutable or append-only attribute, which refuses a write to everyone, its owner
// and root included; empty when it has neither (or is no file that can carry them).
std::string writeRefusingAttribute(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    int flags = 0;
    const bool known = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    if (known && (flags & FS_IMMUTABLE_FL)) return "immutable";
    if (known && (flags & FS_APPEND_FL)) return "append-only";
    return {};
}

// Who may open a device or file of these permissions, as a way out for a user who may not.
std::string wayOutFor(const std::string& path, const struct stat& info, bool writing) {
    // Asked only after a refusal, and a build always opens for writing: the attribute is the
    // cause whatever the permissions say.
    if (const std::string attribute = writeRefusingAttribute(path); !attribute.empty()) {
        return "it carries the " + attribute +
               " attribute, which no user may write through: remove it (chattr -" +
               (attribute == "immutable" ? "i" : "a") + " " + path +
               ", as root), or use another image";
    }
    const mode_t needed = writing ? (S_IRGRP | S_IWGRP) : S_IRGRP;
    if ((info.st_mode & needed) == needed) {
        return "it belongs to the group \"" + groupName(info.st_gid) +
               "\": join that group and log in again, or run the program as a user with access "
               "to it";
    }
    return "only its owner \"" + userName(info.st_uid) +
           "\" may use it: run the program as that user, or give yourself access to it";
}

// The device (or image) is there but this user may not open it: say who may, so that the user
// knows the way out.
base::Error permissionDenied(const std::string& path, const struct stat& info, bool writing) {
    return Status::failure(Failure::PermissionDenied,
                           "permission denied: this user may not open drive A: (" + path +
                               ") for " + (writing ? "writing" : "reading") + "; " +
                               wayOutFor(path, info, writing));
}

// The way out where the desktop's disk service runs: the package's polkit rule lets one group
// open diskette drives through it, and polkit reads the group from the system's list, so no
// new login is needed.
std::string serviceWayOut() {
    return std::string("join the group \"") + udisks::kPolkitGroup +
           "\", whose members may open diskette drives through the desktop's disk service "
           "(adduser " +
           userName(::getuid()) + " " + udisks::kPolkitGroup +
           ", as root), or run the program as a user with access to it";
}

// The desktop's disk service refused the device as well.
base::Error serviceRefused(const std::string& path, const std::string& serviceSays, bool writing) {
    return Status::failure(Failure::PermissionDenied,
                           "permission denied: this user may not open drive A: (" + path +
                               ") for " + (writing ? "writing" : "reading") +
                               ", and the desktop's disk service refused it too (" + serviceSays +
                               "); " + serviceWayOut());
}

// A block device this user may not open, through the desktop's disk service where one runs:
// polkit decides (on a desktop its agent asks the user). None where no service answers, so
// that the system's own refusal stands. Within a build the hold asked already, and its answer
// stands rather than the user being asked twice.
std::optional<Result<int>> openThroughService(const std::string& path, const struct stat& before,
                                              int flags, bool writing) {
    if (!S_ISBLK(before.st_mode)) return std::nullopt;
    if (auto held = driveAHeldHere(); held && !held->held && !held->serviceRefusal.empty()) {
        return Result<int>(serviceRefused(path, held->serviceRefusal, writing));
    }
    auto opened = udisks::openDevice(path, before.st_rdev, flags & (O_EXCL | O_DIRECT));
    if (opened && !*opened && opened->kind() == Failure::PermissionDenied) {
        return Result<int>(serviceRefused(path, opened->message(), writing));
    }
    return opened;
}

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISCHR(mode)) return "is a character device";
    if (S_ISFIFO(mode)) return "is a pipe";
    if (S_ISSOCK(mode)) return "is a socket";
    return "is neither a regular file nor a block device";
}

// pread/pwrite until done, an error or end of file; returns the count moved or -1.
template <class Op>
ssize_t transferAll(Op op, std::size_t bytes) {
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = op(done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t bytes)
        : size((bytes + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment),
          data(static_cast<std::uint8_t*>(std::aligned_alloc(kDirectAlignment, size))) {}
    ~AlignedBuffer() { std::free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    std::size_t size;
    std::uint8_t* data;
};

// What is at drive A:'s path, refused unless it can be a diskette: a block device, or a
// regular file of a diskette's size.
Result<struct stat> examine(const std::string& path) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return noDiskette(path, "does not exist");
        return Status::failure("cannot examine drive A: (" + path + "): " + errnoText(errno));
    }
    if (!S_ISREG(before.st_mode) && !S_ISBLK(before.st_mode)) {
        return notDiskette(path, kindOf(before.st_mode));
    }
    const auto bytes = static_cast<std::uint64_t>(before.st_size);
    if (S_ISREG(before.st_mode) && !isDisketteSize(bytes)) {
        return notDiskette(path, disketteSizeRefusal(bytes));
    }
    return before;
}

// Why open(2) refused drive A:, as the kind of refusal it is.
base::Error openRefusal(const std::string& path, const struct stat& before, int error,
                        bool writing) {
    if (error == ENOENT) return noDiskette(path, "does not exist");
    // The floppy controller's driver says ENXIO for an empty drive, a USB drive ENOMEDIUM.
    if (error == ENXIO || error == ENOMEDIUM || error == ENODEV) {
        return noDiskette(path, "holds no diskette: " + errnoText(error));
    }
    if (error == EROFS) return writeProtected(path);
    // A missing permission is no write protection: the way out is another.
    if (posix::failureOf(error) == Failure::PermissionDenied) {
        return permissionDenied(path, before, writing);
    }
    if (error == EBUSY) return busy(path);
    return Status::failure("cannot open drive A: (" + path + "): " + errnoText(error));
}

// The one check that drive A:'s path still names the file or device a session or a build
// took: a path that now names another one, or nothing, is refused with what it names.
Status samePlace(const std::string& path, const struct stat& named, bool blockDevice,
                 std::uint64_t device, std::uint64_t inode) {
    const bool same =
        blockDevice ? S_ISBLK(named.st_mode) && named.st_rdev == device
                    : S_ISREG(named.st_mode) && named.st_dev == device && named.st_ino == inode;
    if (same) return Status::success();
    return Status::failure("drive A: (" + path + ") now names another " +
                           (S_ISBLK(named.st_mode) ? "device" : "file") + " than the " +
                           (blockDevice ? "device" : "image") + " in use");
}

// What a failed transfer on a block device may owe to the diskette having been taken out (or
// the drive unplugged) meanwhile, which the driver reports as a mere I/O error: looked at
// through a new descriptor, on which the driver checks for a diskette again. Empty for files,
// and where a diskette is still in.
std::string mediumTakenOut(const std::string& path, bool blockDevice, int error) {
    if (!blockDevice || (error != EIO && error != ENOMEDIUM && error != ENXIO && error != ENODEV))
        return {};
    const auto medium = measureMediumAt(path);
    if (medium && medium->bytes > 0) return {};
    return "; drive A: holds no diskette now: it was taken out, or the drive disconnected, "
           "during the build";
}

}  // namespace

// A failing medium's error as Linux reports it.
std::string drive_a::heldBackTransferText() {
    return errnoText(EIO);
}

std::string drive_a::heldBackFlushText() {
    return errnoText(EIO);
}

std::string driveAPath() {
    // Within a build, drive A: is what the build's hold resolved when the build began.
    if (auto held = driveAHeldHere()) return held->path;
    return currentDriveA().path;
}

std::optional<DriveAccessDenied> driveAAccessDenied() {
    auto opened = DriveA::open();
    if (opened || opened.kind() != base::Failure::PermissionDenied) return std::nullopt;
    DriveAccessDenied denied;
    denied.path = driveAPath();
    denied.detail = opened.message();
    struct stat info {};
    if (::stat(denied.path.c_str(), &info) != 0) {
        denied.wayOut = "run the program as a user with access to it";
    } else if (S_ISBLK(info.st_mode) && udisks::serviceRuns()) {
        denied.wayOut = serviceWayOut();
    } else {
        denied.wayOut = wayOutFor(denied.path, info, false);
    }
    return denied;
}

std::optional<MediumSize> measureMediumAt(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    if (S_ISREG(info.st_mode)) {
        return MediumSize{false, static_cast<std::uint64_t>(info.st_size), {}};
    }
    if (!S_ISBLK(info.st_mode)) return std::nullopt;
    const int fd = posix::openDriveNode(path.c_str(), O_RDONLY);
    // An empty drive: the floppy controller's driver says ENXIO, a USB drive's ENOMEDIUM.
    if (fd < 0 && (errno == ENXIO || errno == ENOMEDIUM)) return MediumSize{true, 0, {}};
    if (fd < 0) return std::nullopt;
    MediumSize medium{true, 0, {}};
    const bool measured = ::ioctl(fd, BLKGETSIZE64, &medium.bytes) == 0;
    if (measured && medium.bytes >= fat::kSectorSize) {
        // From the medium itself, past the page cache, where the driver allows that.
        AlignedBuffer sector(fat::kSectorSize);
        const int direct = posix::openDriveNode(path.c_str(), O_RDONLY | O_DIRECT);
        const int from = direct >= 0 ? direct : fd;
        if (sector.data != nullptr && ::pread(from, sector.data, fat::kSectorSize, 0) ==
                                          static_cast<ssize_t>(fat::kSectorSize)) {
            medium.firstSector.assign(reinterpret_cast<const char*>(sector.data), fat::kSectorSize);
        }
        if (direct >= 0) ::close(direct);
    }
    ::close(fd);
    if (!measured) return std::nullopt;
    return medium;
}

struct ExaminedPath : stat {};

Result<std::unique_ptr<DriveA>> DriveA::open(const DriveOpenOptions& options) {
    std::unique_ptr<DriveA> drive(new DriveA());
    // Within a build, the drive its hold resolved; the sessions borrow the hold's descriptors.
    const std::optional<HeldDriveA> held = driveAHeldHere();
    drive->m_path = held ? held->path : driveAPath();
    // Look before opening: opening a device node of the wrong kind can have effects of its own.
    Result<struct stat> before = examine(drive->m_path);
    if (!before) return before.error();
    if (held && held->held) {
        if (Status s =
                samePlace(drive->m_path, *before, held->blockDevice, held->device, held->inode);
            !s) {
            return s.error();
        }
    }
    drive->m_writable = options.access == DriveAccess::Write;
    drive->m_openedForReading = !drive->m_writable;
    const HeldDriveA* lender = held && held->held ? &*held : nullptr;
    if (Status s = drive->openDescriptor(ExaminedPath{*before}, options, lender); !s) {
        return s.error();
    }
    if (Status s = drive->measureMedium(options); !s) return s.error();
    drive->m_dropBeforeRead = options.bypassCache && !drive->m_direct;
    if (drive->m_writable && options.exclusive) {
        Status held = drive->lock();
        if (!held) return held.error();
    }
    return drive;
}

void DriveA::readOnlyBecause(base::Error why) {
    m_writable = false;
    m_whyReadOnly = std::move(why);
}

// Opens what `before` describes, for writing where the session wants it and the medium allows
// it, and checks that what was opened is what was examined. Within a build the hold's
// descriptor serves where it allows what the session wants (`lender`).
Status DriveA::openDescriptor(const ExaminedPath& before, const DriveOpenOptions& options,
                              const HeldDriveA* lender) {
    // An image without any write permission stands for a diskette with its tab set, even for
    // the superuser, whom the permission bits would not stop.
    if (m_writable && S_ISREG(before.st_mode) &&
        (before.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        if (!options.readOnlyFallback) return writeProtected(m_path);
        readOnlyBecause(writeProtected(m_path));
    }
    m_direct = options.bypassCache && S_ISBLK(before.st_mode);
    m_blockDevice = S_ISBLK(before.st_mode);
    if (lender != nullptr) {
        const int fd = m_direct ? lender->directFd : lender->fd;
        const bool fdWritable = m_direct ? lender->directWritable : lender->fdWritable;
        // A session that may be refused writing opens on its own, to learn why.
        if (fd >= 0 && (fdWritable || !m_writable)) {
            m_handle = posix::handleOf(fd);
            m_borrowed = true;
            m_device = lender->device;
            m_inode = lender->inode;
            if (!m_blockDevice) m_size = static_cast<std::uint64_t>(before.st_size);
            return Status::success();
        }
    }
    int flags = m_writable ? O_RDWR : O_RDONLY;
    if (m_direct) flags |= O_DIRECT;
    int fd = posix::openDriveNode(m_path.c_str(), flags);
    if (fd < 0 && m_writable &&
        (errno == EROFS || posix::failureOf(errno) == Failure::PermissionDenied) &&
        options.readOnlyFallback) {
        readOnlyBecause(errno == EROFS ? writeProtected(m_path)
                                       : permissionDenied(m_path, before, true));
        fd = posix::openDriveNode(m_path.c_str(), (flags & ~O_RDWR) | O_RDONLY);
    }
    if (fd < 0 && posix::failureOf(errno) == Failure::PermissionDenied) {
        const int denied = errno;
        auto through = openThroughService(m_path, before, flags, m_writable);
        if (through && !*through) return through->error();
        if (through) {
            // The service opens for reading and writing, which the session then has.
            fd = **through;
            m_whyReadOnly = Status::success();
            m_writable = options.access == DriveAccess::Write;
        }
        errno = denied;
    }
    if (fd < 0) return openRefusal(m_path, before, errno, m_writable);
    m_handle = posix::handleOf(fd);

    // The thing opened must be the thing examined.
    struct stat after {};
    if (::fstat(fd, &after) != 0 || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino || (after.st_mode & S_IFMT) != (before.st_mode & S_IFMT)) {
        return Status::failure("drive A: (" + m_path + ") changed while it was being opened");
    }
    m_device = m_blockDevice ? after.st_rdev : after.st_dev;
    m_inode = m_blockDevice ? 0 : after.st_ino;
    if (!m_blockDevice) m_size = static_cast<std::uint64_t>(after.st_size);
    return Status::success();
}

Status DriveA::measureBlockDevice(const DriveOpenOptions& options) {
    std::uint64_t bytes = 0;
    if (::ioctl(posix::descriptor(m_handle), BLKGETSIZE64, &bytes) != 0) {
        return noDiskette(m_path, "reports no medium: " + errnoText(errno));
    }
    // A removable drive opened without a diskette in shows a medium of no size.
    if (bytes == 0) return noDiskette(m_path, "holds no medium");
    if (!isDisketteSize(bytes)) {
        return notDiskette(m_path, disketteSizeRefusal(bytes));
    }
    int readOnly = 0;
    if (m_writable && ::ioctl(posix::descriptor(m_handle), BLKROGET, &readOnly) == 0 &&
        readOnly != 0) {
        if (!options.readOnlyFallback) return writeProtected(m_path);
        readOnlyBecause(writeProtected(m_path));
    }
    m_size = bytes;
    return Status::success();
}

DriveA::~DriveA() {
    unlock();
    if (m_handle.valid() && !m_borrowed) ::close(posix::descriptor(m_handle));
}

// The read itself: through an aligned copy when the cache is bypassed.
Result<std::size_t> DriveA::readMedium(std::uint64_t offset, void* out, std::size_t bytes) {
    ssize_t n;
    if (m_direct) {
        if (offset % fat::kSectorSize != 0 || bytes % fat::kSectorSize != 0) {
            return Status::failure(Failure::BadData, "drive A: transfers whole sectors only");
        }
        AlignedBuffer bounce(bytes);
        if (bounce.data == nullptr) return Status::failure("out of memory");
        n = transferAll(
            [&](std::size_t done) {
                return ::pread(posix::descriptor(m_handle), bounce.data + done, bytes - done,
                               static_cast<off_t>(offset + done));
            },
            bytes);
        if (n > 0) std::memcpy(out, bounce.data, static_cast<std::size_t>(n));
    } else {
        auto* target = static_cast<std::uint8_t*>(out);
        n = transferAll(
            [&](std::size_t done) {
                return ::pread(posix::descriptor(m_handle), target + done, bytes - done,
                               static_cast<off_t>(offset + done));
            },
            bytes);
    }
    if (n < 0) {
        const int error = errno;
        return Status::failure(Failure::IoError, "read error at byte " + std::to_string(offset) +
                                                     " of drive A: (" + m_path +
                                                     "): " + errnoText(error) +
                                                     mediumTakenOut(m_path, m_blockDevice, error));
    }
    return static_cast<std::size_t>(n);
}

// The write itself, with the drive held: through an aligned copy when the cache is bypassed.
Result<std::size_t> DriveA::writeHeld(std::uint64_t offset, const void* in, std::size_t bytes) {
    const auto* source = static_cast<const std::uint8_t*>(in);
    std::optional<AlignedBuffer> bounce;
    if (m_direct) {
        if (offset % fat::kSectorSize != 0 || bytes % fat::kSectorSize != 0) {
            return Status::failure(Failure::BadData, "drive A: transfers whole sectors only");
        }
        bounce.emplace(bytes);
        if (bounce->data == nullptr) return Status::failure("out of memory");
        std::memcpy(bounce->data, in, bytes);
        source = bounce->data;
    }
    const ssize_t n = transferAll(
        [&](std::size_t done) {
            return ::pwrite(posix::descriptor(m_handle), source + done, bytes - done,
                            static_cast<off_t>(offset + done));
        },
        bytes);
    if (n >= 0) return static_cast<std::size_t>(n);
    const int error = errno;
    if (error == EROFS) return writeProtected(m_path);
    if (posix::failureOf(error) == Failure::PermissionDenied) {
        return Status::failure(Failure::PermissionDenied,
                               "permission denied: drive A: (" + m_path + ") refused the write");
    }
    return Status::failure(Failure::IoError, "write error at byte " + std::to_string(offset) +
                                                 " of drive A: (" + m_path +
                                                 "): " + errnoText(error) +
                                                 mediumTakenOut(m_path, m_blockDevice, error));
}

Status DriveA::flushMedium() {
    // The data is what must reach the medium; an image's size never changes, so the file's
    // times need not be journalled with every flush.
    if (::fdatasync(posix::descriptor(m_handle)) != 0) {
        const int error = errno;
        return Status::failure(Failure::IoError, "drive A: (" + m_path +
                                                     ") could not be flushed: " + errnoText(error) +
                                                     mediumTakenOut(m_path, m_blockDevice, error));
    }
    return Status::success();
}

bool DriveA::flushAnyHandle() const {
    return ::fdatasync(posix::descriptor(m_handle)) == 0;
}

void DriveA::forgetCachedPages() {
    ::posix_fadvise(posix::descriptor(m_handle), 0, 0, POSIX_FADV_DONTNEED);
}

Status DriveA::checkStillAtPath() const {
    const std::string path = driveAPath();
    if (path != m_path) {
        return Status::failure("drive A: is now " + path + ", no longer " + m_path);
    }
    struct stat named {};
    if (::stat(m_path.c_str(), &named) != 0) {
        return Status::failure("drive A: (" + m_path + ") is gone: " + errnoText(errno));
    }
    return samePlace(m_path, named, m_blockDevice, m_device, m_inode);
}

Status DriveA::lock() {
    if (m_locked) return Status::success();
    // A build of this process holds the drive: its hold keeps everyone else out, and a lock
    // of our own would be refused by it.
    if (m_borrowed || driveHeldHere(posix::descriptor(m_handle))) {
        m_locked = true;
        m_lockedByHold = true;
        return Status::success();
    }
    if (m_blockDevice) {
        // O_EXCL on a block device fails with EBUSY while it is mounted or held by another.
        int fd = posix::openDriveNode(m_path.c_str(), O_RDONLY | O_EXCL);
        if (fd < 0 && posix::failureOf(errno) == Failure::PermissionDenied) {
            const int denied = errno;
            struct stat named {};
            auto through = ::stat(m_path.c_str(), &named) == 0
                               ? openThroughService(m_path, named, O_EXCL, m_writable)
                               : std::nullopt;
            if (through && !*through) {
                if (through->kind() == Failure::Busy) return busy(m_path);
                return through->error();
            }
            if (through) fd = **through;
            errno = denied;
        }
        if (fd < 0) {
            if (errno == EBUSY) return busy(m_path);
            return Status::failure("cannot lock drive A: (" + m_path + "): " + errnoText(errno));
        }
        struct stat held {};
        struct stat ours {};
        if (::fstat(fd, &held) != 0 || ::fstat(posix::descriptor(m_handle), &ours) != 0 ||
            held.st_rdev != ours.st_rdev) {
            ::close(fd);
            return Status::failure("drive A: (" + m_path + ") changed while it was being locked");
        }
        m_exclusive = posix::handleOf(fd);
    } else if (::flock(posix::descriptor(m_handle), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return busy(m_path);
        return Status::failure("cannot lock drive A: (" + m_path + "): " + errnoText(errno));
    }
    m_locked = true;
    return Status::success();
}

void DriveA::unlock() {
    if (!m_locked) return;
    if (m_lockedByHold) {
        m_locked = m_lockedByHold = false;
        return;
    }
    if (m_blockDevice) {
        ::close(posix::descriptor(m_exclusive));
        m_exclusive = {};
    } else {
        ::flock(posix::descriptor(m_handle), LOCK_UN);
    }
    m_locked = false;
}

}  // namespace platform
