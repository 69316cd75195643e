// The shell's format call, found at run time in its library as on the original platform.
#pragma once

#include "framework/afxwin.h"

inline constexpr UINT SHFMT_ID_DEFAULT = 0xFFFF;

struct ModuleObject;
using HMODULE = ModuleObject*;
using FARPROC = void (*)();
using SHFormatDriveProc = DWORD (*)(HWND owner, UINT drive, UINT formatId, UINT options);

// Only "shell32.dll" is known (any letter case); other names give null.
HMODULE LoadLibraryA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

// Shows the format dialog for the drive (0 is A:) and returns when the user has closed it.
DWORD SHFormatDrive(HWND owner, UINT drive, UINT formatId, UINT options);
