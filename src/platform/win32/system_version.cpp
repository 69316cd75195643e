#include "platform/system_version.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/handle.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

// Without a manifest naming every later system, GetVersionExA reports 6.2 on Windows 8.1 and
// later; the kernel's own query does not pretend. The 95/98 family has no such query.
std::optional<SystemVersion> kernelVersion() {
    using Query = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (query == nullptr) return std::nullopt;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (query(&info) != 0) return std::nullopt;
    SystemVersion version;
    version.platformId = info.dwPlatformId;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    for (const WCHAR* c = info.szCSDVersion; *c != 0; ++c) {
        version.servicePack += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    version.fromSystem = true;
    return version;
}

}  // namespace

SystemVersion systemVersion() {
    if (auto chosen = versionChosenForTests()) return *chosen;
    // A per-program compatibility setting (Version=win98 under wine) speaks through
    // GetVersionExA only, so it is asked first and the kernel only for the NT family's numbers.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (known && info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (auto kernel = kernelVersion()) return *kernel;
    }
    SystemVersion version;
    if (!known) return version;  // assumed: the NT family, as on Linux
    version.platformId = info.dwPlatformId;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    // The 95/98 family keeps its major and minor numbers in the build number's high word.
    version.build = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? info.dwBuildNumber
                                                               : LOWORD(info.dwBuildNumber);
    version.servicePack = info.szCSDVersion;
    version.fromSystem = true;
    return version;
}

#if defined(_WIN32) && !defined(_WIN64)

namespace {

// The 95/98 family's VWIN32 service: control code 4 runs Int 13h with this record in and out.
constexpr DWORD kVwin32DiocDosInt13 = 4;
struct DiocRegisters {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};
static_assert(sizeof(DiocRegisters) == 28);

}  // namespace

bool systemBiosServiceBuilt() {
    return true;
}

base::Result<NativeHandle> openSystemBiosService() {
    const HANDLE device =
        CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return win32::failedBecause("the BIOS diskette service (\\\\.\\vwin32) cannot be opened");
    }
    return win32::nativeOf(device);
}

base::Status callSystemBiosService(NativeHandle service, BiosRegisters& registers) {
    DiocRegisters r{registers.ebx, registers.edx, registers.ecx,  registers.eax,
                    registers.edi, registers.esi, registers.flags};
    DWORD returned = 0;
    if (!DeviceIoControl(win32::handleOf(service), kVwin32DiocDosInt13, &r, sizeof r, &r, sizeof r,
                         &returned, nullptr)) {
        return win32::failedBecause("the BIOS diskette service refused the call");
    }
    registers = {r.reg_EBX, r.reg_EDX, r.reg_ECX, r.reg_EAX, r.reg_EDI, r.reg_ESI, r.reg_Flags};
    return base::Status::success();
}

void closeSystemBiosService(NativeHandle service) {
    if (service.valid()) CloseHandle(win32::handleOf(service));
}

#else

// A 64-bit program cannot pass a buffer's address in a 32-bit register, and no 64-bit system
// of the 95/98 family exists: the service is the emulation alone.
bool systemBiosServiceBuilt() {
    return false;
}

base::Result<NativeHandle> openSystemBiosService() {
    return base::Status::failure("the 64-bit build has no BIOS diskette service of the system's");
}

base::Status callSystemBiosService(NativeHandle, BiosRegisters&) {
    return base::Status::failure("the 64-bit build has no BIOS diskette service of the system's");
}

void closeSystemBiosService(NativeHandle) {}

#endif

}  // namespace platform
