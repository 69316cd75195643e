#include "platform/exclusive_hold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/drive_a.h"
#include "platform/win_path.h"

namespace platform {
namespace {

// The drives this process holds, by what they are rather than by name, so that a session
// opened under another spelling of the same image or device is recognised. A child made by
// fork inherits the list but not the hold, so each entry names its process.
struct HeldDrive {
    bool blockDevice = false;
    dev_t device = 0;  // files: the file system; block devices: the device itself
    ino_t inode = 0;   // files only
    pid_t owner = 0;
};

struct HeldDrives {
    std::mutex mutex;
    std::vector<HeldDrive> drives;
};

HeldDrives& heldDrives() {
    static HeldDrives held;
    return held;
}

HeldDrive identityOf(const struct stat& info) {
    if (S_ISBLK(info.st_mode)) return {true, info.st_rdev, 0, ::getpid()};
    return {false, info.st_dev, info.st_ino, ::getpid()};
}

bool sameDrive(const HeldDrive& a, const HeldDrive& b) {
    return a.blockDevice == b.blockDevice && a.device == b.device && a.inode == b.inode &&
           a.owner == b.owner;
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

}  // namespace

ExclusiveHold ExclusiveHold::driveA() {
    ExclusiveHold hold;
    hold.m_path = driveAPath();
    const char* path = hold.m_path.c_str();
    auto refused = [&hold](HoldState state, std::string detail) {
        hold.m_state = state;
        hold.m_detail = std::move(detail);
        hold.release();
        return std::move(hold);
    };

    // Whatever cannot be held here cannot be read either: the presence check that follows
    // says what is wrong with the drive.
    struct stat named {};
    if (::stat(path, &named) != 0) return refused(HoldState::Absent, std::strerror(errno));
    if (!S_ISREG(named.st_mode) && !S_ISBLK(named.st_mode)) {
        return refused(HoldState::Absent, "neither an image file nor a block device");
    }
    hold.m_fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (hold.m_fd < 0) return refused(HoldState::Absent, std::strerror(errno));
    struct stat opened {};
    if (::fstat(hold.m_fd, &opened) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
        return refused(HoldState::Failed, "it changed while it was being held");
    }
    const bool blockDevice = S_ISBLK(opened.st_mode);

    if (const int error = lockExclusively(hold.m_fd, blockDevice ? kDeviceLockAttempts : 1)) {
        if (error == EWOULDBLOCK) return refused(HoldState::HeldByAnotherBuild, "");
        return refused(HoldState::Failed, std::strerror(error));
    }
    if (blockDevice) {
        // Refused while the device is mounted or another program holds it exclusively.
        hold.m_exclusiveFd = ::open(path, O_RDONLY | O_EXCL | O_CLOEXEC | O_NONBLOCK);
        if (hold.m_exclusiveFd < 0) {
            const int error = errno;
            if (error == EBUSY) return refused(HoldState::InUse, std::strerror(error));
            if (error == ENXIO || error == ENOMEDIUM || error == ENODEV || error == ENOENT) {
                return refused(HoldState::Absent, std::strerror(error));
            }
            return refused(HoldState::Failed, std::strerror(error));
        }
        struct stat exclusive {};
        if (::fstat(hold.m_exclusiveFd, &exclusive) != 0 || exclusive.st_rdev != opened.st_rdev) {
            return refused(HoldState::Failed, "it changed while it was being held");
        }
    }

    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    held.drives.push_back(identityOf(opened));
    hold.m_registered = true;
    hold.m_identityDevice = blockDevice ? opened.st_rdev : opened.st_dev;
    hold.m_identityInode = blockDevice ? 0 : opened.st_ino;
    hold.m_identityBlock = blockDevice;
    hold.m_state = HoldState::Held;
    return hold;
}

ExclusiveHold ExclusiveHold::folder(const std::string& windowsName) {
    ExclusiveHold hold;
    hold.m_path = windowsName;
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
    hold.m_fd = ::open(hold.m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (hold.m_fd < 0) {
        const int error = errno;
        return refused(error == ENOENT || error == ENOTDIR ? HoldState::Absent : HoldState::Failed,
                       std::strerror(error));
    }
    if (const int error = lockExclusively(hold.m_fd, 1)) {
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
    m_fd = std::exchange(other.m_fd, -1);
    m_exclusiveFd = std::exchange(other.m_exclusiveFd, -1);
    m_registered = std::exchange(other.m_registered, false);
    m_identityBlock = other.m_identityBlock;
    m_identityDevice = other.m_identityDevice;
    m_identityInode = other.m_identityInode;
    return *this;
}

ExclusiveHold::~ExclusiveHold() {
    release();
}

void ExclusiveHold::release() {
    if (m_registered) {
        const HeldDrive mine{m_identityBlock, static_cast<dev_t>(m_identityDevice),
                             static_cast<ino_t>(m_identityInode), ::getpid()};
        HeldDrives& held = heldDrives();
        std::lock_guard<std::mutex> guard(held.mutex);
        auto found = std::find_if(held.drives.begin(), held.drives.end(),
                                  [&](const HeldDrive& d) { return sameDrive(d, mine); });
        if (found != held.drives.end()) held.drives.erase(found);
        m_registered = false;
    }
    // Closing the descriptors gives up the flock and the exclusive open.
    if (m_exclusiveFd >= 0) ::close(m_exclusiveFd);
    if (m_fd >= 0) ::close(m_fd);
    m_exclusiveFd = -1;
    m_fd = -1;
    if (m_state == HoldState::Held) m_state = HoldState::None;
}

bool driveHeldHere(int fd) {
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) return false;
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) return false;
    const HeldDrive candidate = identityOf(info);
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    return std::any_of(held.drives.begin(), held.drives.end(),
                       [&](const HeldDrive& d) { return sameDrive(d, candidate); });
}

bool anyDriveHeldHere() {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    const pid_t self = ::getpid();
    return std::any_of(held.drives.begin(), held.drives.end(),
                       [self](const HeldDrive& d) { return d.owner == self; });
}

}  // namespace platform
