// Windows has no desktop disk service of the kind this interface serves: a diskette is not
// mounted as a file system another program holds (the volume lock that a build takes refuses
// while files are open on A:, which is "in use"), and the drive is opened by the volume's own
// rights. So there is never a mount to offer to undo and never a drive to eject here.
#include "platform/desktop_drives.h"

namespace platform {

std::optional<DriveAMounts> mountedDriveA() {
    return std::nullopt;
}

base::Status unmountDriveA(const DriveAMounts& agreed) {
    return base::Status::failure("nothing is unmounted on this system: " + agreed.device +
                                 " is a volume, not a mounted file system of a disk service");
}

Removal driveARemoval() {
    return Removal::None;
}

base::Status removeDriveA(Removal) {
    return base::Status::failure(
        "no disk service takes the diskette out on this system; take it out by hand");
}

bool desktopDiskServiceRuns() {
    return false;
}

}  // namespace platform
