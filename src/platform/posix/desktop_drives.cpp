#include "platform/desktop_drives.h"

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/drive_a.h"
#include "platform/posix/udisks.h"

namespace platform {
namespace {

using base::Failure;
using base::Status;

std::string readWhole(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Drive A: as a block device: its path and number; none for anything else.
struct DriveADevice {
    std::string path;
    dev_t number = 0;
};

std::optional<DriveADevice> driveADevice() {
    DriveADevice device{driveAPath(), 0};
    struct stat info {};
    if (::stat(device.path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode)) return std::nullopt;
    device.number = info.st_rdev;
    return device;
}

bool insideOf(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return true;
    return path == mountPoint || (path.size() > mountPoint.size() && path.starts_with(mountPoint) &&
                                  path[mountPoint.size()] == '/');
}

std::string linkTarget(const std::string& link) {
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Who keeps the file system at `mountPoint` busy, as far as this user may see: "sleep (process
// 812) has its working directory there". Empty when nobody visible does.
std::string whoUses(const std::string& mountPoint) {
    std::string found;
    int named = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return found;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string base = "/proc/" + pid;
        std::string how;
        if (insideOf(linkTarget(base + "/cwd"), mountPoint)) {
            how = "has its working directory there";
        } else if (DIR* fds = ::opendir((base + "/fd").c_str())) {
            while (const dirent* fd = ::readdir(fds)) {
                if (fd->d_name[0] == '.') continue;
                if (insideOf(linkTarget(base + "/fd/" + fd->d_name), mountPoint)) {
                    how = "has a file open there";
                    break;
                }
            }
            ::closedir(fds);
        }
        if (how.empty()) continue;
        std::string command = readWhole((base + "/comm").c_str());
        if (!command.empty() && command.back() == '\n') command.pop_back();
        if (named++ == 3) {
            found += ", and others";
            break;
        }
        found += (found.empty() ? "" : "; ") + command + " (process " + pid + ") " + how;
    }
    ::closedir(proc);
    return found;
}

base::Error inUse(const Mount& mount, const std::string& serviceSays) {
    const std::string who = whoUses(mount.mountPoint);
    return Status::failure(Failure::Busy,
                           "the " + mount.fileSystem + " file system at " + mount.mountPoint +
                               " is in use" + (who.empty() ? "" : ": " + who) +
                               (serviceSays.empty() ? "" : " (" + serviceSays + ")") +
                               "; close the files there or leave the folder, then try again");
}

// The system's own unmount, for where no desktop service runs; needs the administrator.
Status unmountBySystem(const std::vector<Mount>& mounts) {
    // The last mount made is the one on top.
    for (auto mount = mounts.rbegin(); mount != mounts.rend(); ++mount) {
        if (::umount2(mount->mountPoint.c_str(), UMOUNT_NOFOLLOW) == 0) continue;
        const int error = errno;
        if (error == EBUSY) return inUse(*mount, {});
        if (error == EPERM || error == EACCES) {
            return Status::failure(Failure::PermissionDenied,
                                   "permission denied: no desktop disk service runs, and only the "
                                   "administrator may unmount " +
                                       mount->mountPoint + " (umount " + mount->mountPoint +
                                       ", as root)");
        }
        return Status::failure("cannot unmount " + mount->mountPoint + ": " + std::strerror(error));
    }
    return Status::success();
}

}  // namespace

std::optional<DriveAMounts> mountedDriveA() {
    const auto device = driveADevice();
    if (!device) return std::nullopt;
    DriveAMounts mounted{device->path,
                         mountsOfDevice(readWhole("/proc/self/mountinfo"), major(device->number),
                                        minor(device->number))};
    if (mounted.mounts.empty()) return std::nullopt;
    return mounted;
}

Status unmountDriveA(const DriveAMounts& agreed) {
    // What is unmounted is what the user was asked about, and nothing else.
    const auto device = driveADevice();
    const auto now = mountedDriveA();
    if (!device || !now || now->device != agreed.device || now->mounts != agreed.mounts) {
        return Status::failure("drive A: changed since the question about unmounting it: " +
                               (now ? describeMounts(now->mounts) : std::string("not mounted")));
    }
    if (auto byService = udisks::unmount(device->path, device->number)) {
        if (!*byService) {
            if (byService->kind() == Failure::Busy) {
                return inUse(agreed.mounts.front(), byService->message());
            }
            if (byService->kind() == Failure::PermissionDenied) {
                return Status::failure(Failure::PermissionDenied,
                                       "permission denied: the desktop's disk service refused to "
                                       "unmount " +
                                           agreed.device + " (" + byService->message() + ")");
            }
            return Status::failure("the desktop's disk service could not unmount " + agreed.device +
                                   ": " + byService->message());
        }
    } else if (Status bySystem = unmountBySystem(agreed.mounts); !bySystem) {
        return bySystem;
    }
    if (const auto left = mountedDriveA()) {
        return Status::failure(
            Failure::Busy, agreed.device + " is still mounted: " + describeMounts(left->mounts));
    }
    return Status::success();
}

Removal driveARemoval() {
    const auto device = driveADevice();
    if (!device) return Removal::None;
    const auto ability = udisks::driveAbility(device->path, device->number);
    if (!ability) return Removal::None;
    if (ability->eject) return Removal::Eject;
    if (ability->powerOff) return Removal::PowerOff;
    return Removal::None;
}

Status removeDriveA(Removal how) {
    const auto device = driveADevice();
    if (!device) return Status::failure("drive A: is no drive that can be ejected");
    switch (how) {
        case Removal::Eject:
            return udisks::eject(device->path, device->number);
        case Removal::PowerOff:
            return udisks::powerOff(device->path, device->number);
        case Removal::None:
            break;
    }
    return Status::failure("drive A: (" + device->path + ") can neither eject nor power off");
}

bool desktopDiskServiceRuns() {
    return udisks::serviceRuns();
}

}  // namespace platform
