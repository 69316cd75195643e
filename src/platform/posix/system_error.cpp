#include "platform/posix/system_error.h"

#include <cerrno>
#include <cstring>

namespace platform::posix {

base::Failure failureOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return base::Failure::PermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return base::Failure::NoRoom;
        case EIO:
            return base::Failure::IoError;
        default:
            return base::Failure::Other;
    }
}

int errnoFor(base::Failure kind) {
    switch (kind) {
        case base::Failure::PermissionDenied:
            return EACCES;
        case base::Failure::NoRoom:
            return ENOSPC;
        default:
            return EIO;
    }
}

base::Error systemError(int error, std::string detail) {
    return base::Status::failure(failureOf(error), std::move(detail));
}

base::Error failedBecause(const std::string& what) {
    const int error = errno;
    return systemError(error, what + ": " + std::strerror(error));
}

}  // namespace platform::posix
