// The running system's version as the version query (GetVersionExA) reports it, and the
// BIOS diskette service of the 95/98 family where this build can reach the system's own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "platform/native_handle.h"

namespace platform {

inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWindows = 1;  // the 95/98 family
inline constexpr std::uint32_t kPlatformNt = 2;

struct SystemVersion {
    std::uint32_t platformId = kPlatformNt;
    std::uint32_t major = 5;
    std::uint32_t minor = 1;
    std::uint32_t build = 2600;
    std::string servicePack;
    // Reported by the system itself, not chosen by QUENVOL_PLATFORM_ID nor assumed.
    bool fromSystem = false;
};

// QUENVOL_PLATFORM_ID's choice (0, 1 or 2) with a version of that family, so that tests select
// a back-end on any system; none when it is unset or holds anything else.
std::optional<SystemVersion> versionChosenForTests();

// Linux: the choice for tests, else the NT family (the raw volume serves real drives there).
// Windows: the choice for tests, else what the system reports.
SystemVersion systemVersion();

// The register record of the system's BIOS call interface (VWIN32_DIOC_DOS_INT13). On the
// 32-bit Windows build EBX holds the buffer's address.
struct BiosRegisters {
    std::uint32_t ebx = 0;
    std::uint32_t edx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t eax = 0;
    std::uint32_t edi = 0;
    std::uint32_t esi = 0;
    std::uint32_t flags = 0;  // bit 0: carry, set by the BIOS on error
};

// Whether this build can call the system's own service: the 32-bit Windows build only, where
// the service's record can carry a pointer.
bool systemBiosServiceBuilt();
// The system's \\.\vwin32 device; fails where it is not built or the system has none.
base::Result<NativeHandle> openSystemBiosService();
// One call: false with the system's reason when the call itself failed; a BIOS error leaves
// the carry flag and its status in the registers.
base::Status callSystemBiosService(NativeHandle service, BiosRegisters& registers);
void closeSystemBiosService(NativeHandle service);

}  // namespace platform
