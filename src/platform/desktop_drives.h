// Drive A: as the desktop sees it. On a desktop a diskette is mounted as soon as it is pushed
// in, and an ordinary user reaches a drive they may not open through the desktop's disk
// service, which asks the user (or the administrator's rules) first. This is what the build
// needs of that: drive A:'s mounts, unmounting them with the user's consent, and taking the
// diskette out at the end. Where no such service runs, mounts are undone by the system itself
// (which needs the right to) and nothing else changes. Nothing here ever acts on a device that
// is not drive A:.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace platform {

struct Mount {
    std::string fileSystem;  // "vfat", "ext2"
    std::string mountPoint;  // "/media/ann/DISK"
    bool operator==(const Mount&) const = default;
};

// The mounts of the block device `major`:`minor` in a mount report in the kernel's mountinfo
// format, in the report's order. Mount points are given with the report's escapes undone.
std::vector<Mount> mountsOfDevice(const std::string& report, unsigned major, unsigned minor);

// Drive A: as a block device with the file systems mounted from it. None when drive A: is an
// image file, no block device or mounted nowhere.
struct DriveAMounts {
    std::string device;  // drive A:'s path
    std::vector<Mount> mounts;
};
std::optional<DriveAMounts> mountedDriveA();

// "ext2 at /media/ann/DISK, ext2 at /mnt": the mounts as a person reads them.
std::string describeMounts(const std::vector<Mount>& mounts);

// Unmounts every file system mounted from drive A:'s device, through the desktop's disk service
// when it runs and through the system otherwise. Busy, with the reason, while a program uses a
// file there; permission denied when this user may not. Drive A:'s device is checked again
// right before, so that what is unmounted is what the user agreed to.
base::Status unmountDriveA(const DriveAMounts& agreed);

// What the desktop's disk service can do with drive A:'s drive at the end of a build.
enum class Removal {
    None,      // no service, no drive behind drive A:, or the drive can do neither
    Eject,     // the medium can be ejected
    PowerOff,  // the drive cannot eject but can be powered off, so that it may be unplugged
};
Removal driveARemoval();
// Ejects the diskette (or powers the drive off) as driveARemoval() says it can.
base::Status removeDriveA(Removal how);

// Whether the desktop's disk service answers on the system bus; asked with a short timeout.
bool desktopDiskServiceRuns();

}  // namespace platform
