// The desktop's disk service (udisks2) on the system bus, as drive A: needs it. Every call
// connects for itself and lets go before it returns, so that a program with no system bus or
// no service starts and runs as without them; a service that does not answer in a few seconds
// counts as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"

namespace platform::udisks {

// The group the package's polkit rule lets open diskette drives through the service.
inline constexpr const char* kPolkitGroup = "quenvol";

// The block device `path` (device number `device`) opened through the service for reading and
// writing, with `flags` among O_EXCL and O_DIRECT, after the service has asked polkit (and so,
// on a desktop, the user). None when no service answers; else the descriptor, or why it was
// refused: permission denied (with the way out), busy (another holds it exclusively).
std::optional<base::Result<int>> openDevice(const std::string& path, std::uint64_t device,
                                            int flags);

// Unmounts the file system on `path` (device number `device`) through the service. None when
// no service answers or it does not know the device.
std::optional<base::Status> unmount(const std::string& path, std::uint64_t device);

// What the drive behind `path` can do: eject its medium, be powered off. None when no service
// answers or there is no drive behind the device (a loop device has none).
struct DriveAbility {
    bool eject = false;
    bool powerOff = false;
};
std::optional<DriveAbility> driveAbility(const std::string& path, std::uint64_t device);
base::Status eject(const std::string& path, std::uint64_t device);
base::Status powerOff(const std::string& path, std::uint64_t device);

bool serviceRuns();

}  // namespace platform::udisks
