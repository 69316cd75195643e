#include "framework/shell.h"

#include "platform/text_case.h"

#include <cctype>
#include <string>

struct ModuleObject {
    int loads = 0;
};

namespace {

ModuleObject g_shell;

}  // namespace

HMODULE LoadLibraryA(const char* name) {
    if (!name || !platform::sameIgnoringCase(name, "shell32.dll")) return nullptr;
    ++g_shell.loads;
    return &g_shell;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module != &g_shell || g_shell.loads == 0 || !name || std::string(name) != "SHFormatDrive")
        return nullptr;
    return reinterpret_cast<FARPROC>(&SHFormatDrive);
}

BOOL FreeLibrary(HMODULE module) {
    if (module != &g_shell || g_shell.loads == 0) return FALSE;
    --g_shell.loads;
    return TRUE;
}

DWORD SHFormatDrive(HWND owner, UINT drive, UINT, UINT) {
    AfxBackend().formatDrive(owner, drive);
    return 0;
}
