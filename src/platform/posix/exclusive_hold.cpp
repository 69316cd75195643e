#include "platform/exclusive_hold.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/drive_a.h"
#include "platform/posix/drive_node.h"
#include "platform/posix/held_drive.h"
#include "platform/posix/udisks.h"
#include "platform/win_path.h"

namespace platform {
namespace {

// The drives this process holds, by what they are rather than by name, so that a session
// opened under another spelling of the same image or device is recognised. A child made by
// fork inherits the list but not the hold, so each entry names its process.
struct HeldDrive {
    HeldDriveA drive;
    pid_t owner = 0;
    std::uint64_t pin = 0;
};

struct HeldDrives {
    std::mutex mutex;
    std::vector<HeldDrive> drives;
    std::uint64_t lastPin = 0;
};

HeldDrives& heldDrives() {
    static HeldDrives held;
    return held;
}

HeldDriveA identityOf(const struct stat& info) {
    HeldDriveA drive;
    drive.held = true;
    drive.blockDevice = S_ISBLK(info.st_mode);
    drive.device = drive.blockDevice ? info.st_rdev : info.st_dev;
    drive.inode = drive.blockDevice ? 0 : info.st_ino;
    return drive;
}

bool sameDrive(const HeldDriveA& a, const HeldDriveA& b) {
    return a.held && b.held && a.blockDevice == b.blockDevice && a.device == b.device &&
           a.inode == b.inode;
}

// Opens `path` for reading and writing where that is allowed, else for reading only; -1 with
// errno when neither. `writable` says which it got.
int openForSessions(const char* path, int flags, bool& writable) {
    int fd = posix::openDriveNode(path, flags | O_RDWR);
    writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
        fd = posix::openDriveNode(path, flags | O_RDONLY);
    }
    return fd;
}

// udev takes a brief shared flock on a block device while it looks at it after a change, so
// a refused flock on a device is tried again for a moment before it counts as another build.
constexpr int kDeviceLockAttempts = 10;
constexpr auto kDeviceLockPause = std::chrono::milliseconds(50);

// flock(LOCK_EX | LOCK_NB), tried `attempts` times; 0, or the errno of the last refusal.
int lockExclusively(int fd, int attempts) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || --attempts <= 0) return error;
        std::this_thread::sleep_for(kDeviceLockPause);
    }
}

// A small sysfs file whole, without the line end the kernel adds; none when unreadable.
std::optional<std::string> sysfsText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    std::string value = text.str();
    if (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

std::string blockSysfs(dev_t device) {
    return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// What a file is, as the kernel names a loop device's backing file.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The backing file of the loop device open at `fd`; none for any other device or an unbound
// loop device.
std::optional<FileIdentity> loopBacking(int fd) {
    struct loop_info64 info {};
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<dev_t>(info.lo_device), static_cast<ino_t>(info.lo_inode)};
}

struct LoopDevice {
    std::string node;  // "/dev/loop3"
    dev_t device = 0;
};

// The bound loop devices whose backing file is `file`. A device this user may not open is
// recognised by the path sysfs gives for its backing file.
std::vector<LoopDevice> loopDevicesOver(const FileIdentity& file) {
    std::vector<LoopDevice> found;
    DIR* dir = ::opendir("/sys/block");
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.starts_with("loop")) continue;
        const std::string sys = "/sys/block/" + name;
        const auto backing = sysfsText(sys + "/loop/backing_file");
        if (!backing) continue;  // not bound to a file
        LoopDevice loop{"/dev/" + name, 0};
        std::optional<FileIdentity> identity;
        const int fd = ::open(loop.node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat node {};
        if (fd >= 0) {
            identity = loopBacking(fd);
            if (::fstat(fd, &node) == 0 && S_ISBLK(node.st_mode)) loop.device = node.st_rdev;
            ::close(fd);
        }
        struct stat named {};
        if (!identity && ::stat(backing->c_str(), &named) == 0) {
            identity = FileIdentity{named.st_dev, named.st_ino};
        }
        if (loop.device == 0) {
            unsigned majorNumber = 0, minorNumber = 0;
            const auto numbers = sysfsText(sys + "/dev");
            if (!numbers ||
                std::sscanf(numbers->c_str(), "%u:%u", &majorNumber, &minorNumber) != 2) {
                continue;
            }
            loop.device = makedev(majorNumber, minorNumber);
        }
        if (identity == file) found.push_back(std::move(loop));
    }
    ::closedir(dir);
    return found;
}

// Whether the block device is mounted, as this process's mount table says.
bool mountedHere(dev_t device) {
    std::ifstream table("/proc/self/mountinfo");
    const std::string numbers =
        " " + std::to_string(major(device)) + ":" + std::to_string(minor(device)) + " ";
    for (std::string line; std::getline(table, line);) {
        if (line.find(numbers) != std::string::npos) return true;
    }
    return false;
}

// Record locks another program holds on the file: QEMU locks byte ranges of the images it
// uses, and wine's LockFileEx is a record lock too. A shared lock of ours over the whole file
// then keeps them from taking a lock for writing while we hold it.
enum class RecordLocks { Free, HeldElsewhere, NotKnown };

RecordLocks holdRecords(int fd) {
    struct flock whole {};
    whole.l_type = F_RDLCK;
    whole.l_whence = SEEK_SET;  // from byte 0 to the end, whatever the end becomes
    if (::fcntl(fd, F_OFD_SETLK, &whole) != 0) {
        return errno == EAGAIN || errno == EACCES ? RecordLocks::HeldElsewhere
                                                  : RecordLocks::NotKnown;
    }
    // Our own lock never conflicts with this probe: any lock it finds is another's.
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return RecordLocks::NotKnown;
    return probe.l_type == F_UNLCK ? RecordLocks::Free : RecordLocks::HeldElsewhere;
}

// Every loop device over `file` but `except`, opened exclusively into `fds`; the refusal's
// detail when one is mounted or held by another program.
std::optional<std::string> claimLoopDevices(const FileIdentity& file, dev_t except,
                                            std::vector<int>& fds) {
    for (const LoopDevice& loop : loopDevicesOver(file)) {
        if (loop.device == except) continue;
        const int fd = ::open(loop.node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            fds.push_back(fd);
            continue;
        }
        // A device this user may not open can still be seen to be mounted.
        if (errno == EBUSY || mountedHere(loop.device)) {
            return "the same medium is " + loop.node +
                   ", which is mounted or held by another program";
        }
    }
    return std::nullopt;
}

constexpr const char* kLockedByAnother =
    "another program holds a lock on it (an emulator that uses it, for instance)";

}  // namespace

// Closing the descriptors gives up the flocks and the exclusive opens.
struct ExclusiveHold::Handles {
    int fd = -1;               // holds the flock
    int exclusiveFd = -1;      // block devices: the O_EXCL open
    int backingFd = -1;        // a loop device's backing file: its flock
    std::vector<int> loopFds;  // the O_EXCL opens of the other loop devices over the medium
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
        for (const int loop : loopFds) ::close(loop);
        for (const int open : {backingFd, exclusiveFd, fd})
            if (open >= 0) ::close(open);
    }
};

ExclusiveHold::ExclusiveHold() = default;

ExclusiveHold ExclusiveHold::driveA() {
    ExclusiveHold hold;
    hold.m_handles = std::make_unique<Handles>();
    hold.m_path = driveAPath();
    const char* path = hold.m_path.c_str();
    auto refused = [&hold](HoldState state, std::string detail) {
        hold.m_state = state;
        hold.m_detail = std::move(detail);
        hold.release();
        return std::move(hold);
    };

    // Whatever cannot be held here cannot be read either: the presence check that follows
    // says what is wrong with the drive, the drive resolved here rather than another one.
    auto absent = [&refused](std::string detail) {
        ExclusiveHold empty = refused(HoldState::Absent, std::move(detail));
        HeldDriveA unheld;
        unheld.path = empty.m_path;
        empty.pin(std::move(unheld));
        return empty;
    };
    struct stat named {};
    if (::stat(path, &named) != 0) return absent(std::strerror(errno));
    if (!S_ISREG(named.st_mode) && !S_ISBLK(named.st_mode)) {
        return absent("neither an image file nor a block device");
    }
    bool fdWritable = false;
    hold.m_handles->fd = openForSessions(path, 0, fdWritable);
    // A drive this user may not open is opened through the desktop's disk service, where it
    // runs and polkit lets this user; what it refuses, the presence check reports.
    const bool throughService =
        hold.m_handles->fd < 0 && S_ISBLK(named.st_mode) && (errno == EACCES || errno == EPERM);
    if (throughService) {
        const int denied = errno;
        auto opened = udisks::openDevice(hold.m_path, named.st_rdev, 0);
        if (!opened) {
            errno = denied;
        } else if (*opened) {
            hold.m_handles->fd = **opened;
            fdWritable = true;
        } else {
            ExclusiveHold empty = refused(HoldState::Absent, opened->message());
            HeldDriveA unheld;
            unheld.path = empty.m_path;
            if (opened->kind() == base::Failure::PermissionDenied) {
                unheld.serviceRefusal = opened->message();
            }
            empty.pin(std::move(unheld));
            return empty;
        }
    }
    if (hold.m_handles->fd < 0) return absent(std::strerror(errno));
    struct stat opened {};
    if (::fstat(hold.m_handles->fd, &opened) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
        return refused(HoldState::Failed, "it changed while it was being held");
    }
    const bool blockDevice = S_ISBLK(opened.st_mode);
    bool directWritable = false;
    bool directUsable = true;

    if (const int error =
            lockExclusively(hold.m_handles->fd, blockDevice ? kDeviceLockAttempts : 1)) {
        if (error == EWOULDBLOCK) return refused(HoldState::HeldByAnotherBuild, "");
        return refused(HoldState::Failed, std::strerror(error));
    }
    std::optional<FileIdentity> medium;
    if (blockDevice) {
        // A loop device is its backing file: held as a build on the file would hold it, so
        // that another build reaching the file by its name, or by another loop device, is
        // told a build holds it.
        medium = loopBacking(hold.m_handles->fd);
        const auto backing =
            medium ? sysfsText(blockSysfs(opened.st_rdev) + "/loop/backing_file") : std::nullopt;
        const int fd = backing ? ::open(backing->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
        struct stat file {};
        if (fd >= 0 && ::fstat(fd, &file) == 0 &&
            FileIdentity{file.st_dev, file.st_ino} == *medium) {
            hold.m_handles->backingFd = fd;
            if (const int error = lockExclusively(fd, 1)) {
                if (error == EWOULDBLOCK) return refused(HoldState::HeldByAnotherBuild, "");
                return refused(HoldState::Failed, std::strerror(error));
            }
            if (holdRecords(fd) == RecordLocks::HeldElsewhere) {
                return refused(HoldState::InUse, "its image " + *backing + ": " + kLockedByAnother);
            }
        } else if (fd >= 0) {
            ::close(fd);
        }

        // Refused while the device is mounted or another program holds it exclusively. The
        // same descriptor serves the build's reads past the page cache.
        hold.m_handles->exclusiveFd = openForSessions(path, O_EXCL | O_DIRECT, directWritable);
        if (hold.m_handles->exclusiveFd < 0 && errno == EINVAL) {
            directUsable = false;  // the sessions that need O_DIRECT open their own
            hold.m_handles->exclusiveFd = openForSessions(path, O_EXCL, directWritable);
        }
        if (hold.m_handles->exclusiveFd < 0 && (errno == EACCES || errno == EPERM)) {
            const int denied = errno;
            auto exclusive = udisks::openDevice(hold.m_path, opened.st_rdev, O_EXCL | O_DIRECT);
            if (exclusive && !*exclusive && exclusive->kind() != base::Failure::Busy) {
                directUsable = false;
                exclusive = udisks::openDevice(hold.m_path, opened.st_rdev, O_EXCL);
            }
            if (!exclusive) {
                errno = denied;
            } else if (*exclusive) {
                hold.m_handles->exclusiveFd = **exclusive;
                directWritable = true;
            } else if (exclusive->kind() == base::Failure::Busy) {
                return refused(HoldState::InUse, exclusive->message());
            } else {
                return refused(HoldState::Failed, exclusive->message());
            }
        }
        if (hold.m_handles->exclusiveFd < 0) {
            const int error = errno;
            if (error == EBUSY) return refused(HoldState::InUse, "");
            if (error == ENXIO || error == ENOMEDIUM || error == ENODEV || error == ENOENT) {
                return absent(std::strerror(error));
            }
            return refused(HoldState::Failed, std::strerror(error));
        }
        struct stat exclusive {};
        if (::fstat(hold.m_handles->exclusiveFd, &exclusive) != 0 ||
            exclusive.st_rdev != opened.st_rdev) {
            return refused(HoldState::Failed, "it changed while it was being held");
        }
    } else {
        medium = FileIdentity{opened.st_dev, opened.st_ino};
    }
    if (holdRecords(hold.m_handles->fd) == RecordLocks::HeldElsewhere) {
        return refused(HoldState::InUse, kLockedByAnother);
    }
    if (medium) {
        if (auto inUse = claimLoopDevices(*medium, blockDevice ? opened.st_rdev : 0,
                                          hold.m_handles->loopFds)) {
            return refused(HoldState::InUse, *inUse);
        }
    }

    HeldDriveA drive = identityOf(opened);
    drive.path = hold.m_path;
    drive.fd = hold.m_handles->fd;
    drive.fdWritable = fdWritable;
    if (blockDevice && directUsable) {
        drive.directFd = hold.m_handles->exclusiveFd;
        drive.directWritable = directWritable;
    }
    hold.pin(std::move(drive));
    hold.m_state = HoldState::Held;
    return hold;
}

void ExclusiveHold::pin(HeldDriveA drive) {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    m_pin = ++held.lastPin;
    held.drives.push_back({std::move(drive), ::getpid(), m_pin});
}

ExclusiveHold ExclusiveHold::folder(const std::string& windowsName) {
    ExclusiveHold hold;
    hold.m_path = windowsName;
    hold.m_handles = std::make_unique<Handles>();
    auto refused = [&hold](HoldState state, std::string detail) {
        hold.m_state = state;
        hold.m_detail = std::move(detail);
        hold.release();
        return std::move(hold);
    };
    auto mapped = mapWindowsName(windowsName);
    if (!mapped) return refused(HoldState::Failed, mapped.message());
    if (mapped->where != WindowsName::Where::Host) {
        return refused(HoldState::Failed, "drive A: is no folder of this computer");
    }
    hold.m_path = mapped->hostPath;
    hold.m_handles->fd = ::open(hold.m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hold.m_handles->fd < 0) {
        const int error = errno;
        return refused(error == ENOENT || error == ENOTDIR ? HoldState::Absent : HoldState::Failed,
                       std::strerror(error));
    }
    if (const int error = lockExclusively(hold.m_handles->fd, 1)) {
        if (error == EWOULDBLOCK) return refused(HoldState::HeldByAnotherBuild, "");
        return refused(HoldState::Failed, std::strerror(error));
    }
    hold.m_state = HoldState::Held;
    return hold;
}

ExclusiveHold::ExclusiveHold(ExclusiveHold&& other) noexcept {
    *this = std::move(other);
}

ExclusiveHold& ExclusiveHold::operator=(ExclusiveHold&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_state = std::exchange(other.m_state, HoldState::None);
    m_path = std::move(other.m_path);
    m_detail = std::move(other.m_detail);
    m_handles = std::move(other.m_handles);
    m_pin = std::exchange(other.m_pin, 0);
    return *this;
}

ExclusiveHold::~ExclusiveHold() {
    release();
}

void ExclusiveHold::release() {
    if (m_pin != 0) {
        HeldDrives& held = heldDrives();
        std::lock_guard<std::mutex> guard(held.mutex);
        std::erase_if(held.drives, [&](const HeldDrive& d) { return d.pin == m_pin; });
        m_pin = 0;
    }
    m_handles.reset();
    if (m_state == HoldState::Held) m_state = HoldState::None;
}

bool driveHeldHere(int fd) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) return false;
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) return false;
    const HeldDriveA candidate = identityOf(info);
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    const pid_t self = ::getpid();
    return std::any_of(held.drives.begin(), held.drives.end(), [&](const HeldDrive& d) {
        return d.owner == self && sameDrive(d.drive, candidate);
    });
}

bool anyDriveHeldHere() {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    const pid_t self = ::getpid();
    return std::any_of(held.drives.begin(), held.drives.end(),
                       [self](const HeldDrive& d) { return d.owner == self && d.drive.held; });
}

std::optional<HeldDriveA> driveAHeldHere() {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    const pid_t self = ::getpid();
    for (auto d = held.drives.rbegin(); d != held.drives.rend(); ++d) {
        if (d->owner == self) return d->drive;
    }
    return std::nullopt;
}

}  // namespace platform
