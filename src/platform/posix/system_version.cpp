#include "platform/system_version.h"

namespace platform {

SystemVersion systemVersion() {
    if (auto chosen = versionChosenForTests()) return *chosen;
    return SystemVersion{};
}

bool systemBiosServiceBuilt() {
    return false;
}

base::Result<NativeHandle> openSystemBiosService() {
    return base::Status::failure("this system has no BIOS diskette service of its own");
}

base::Status callSystemBiosService(NativeHandle, BiosRegisters&) {
    return base::Status::failure("this system has no BIOS diskette service of its own");
}

void closeSystemBiosService(NativeHandle) {}

}  // namespace platform
