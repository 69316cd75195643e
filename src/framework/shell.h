// The shell's format call, found at run time in its library as on the original platform, and
// the words its format dialogs (windows and console) use for a format that failed.
#pragma once

#include <string>

#include "base/result.h"
#include "framework/afxwin.h"
#include "platform/drive_format.h"

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

namespace shell {

// The sentence for a format that failed, made from its stage and kind: what the user can do.
std::string formatFailureSentence(const platform::FormatFailure& failure);
// The detail that the dialog shows apart from the sentence; empty where the sentence holds it.
std::string formatFailureDetail(const platform::FormatFailure& failure);
// Both on one line, the detail in brackets: for a terminal, a tooltip and the build record.
std::string formatFailureLine(const platform::FormatFailure& failure);
// What the user should do about drive A: refusing to be opened, in one sentence.
std::string driveRefusalSentence(base::Failure kind);
// Drive A:'s refusal to be opened for a format (probeDriveA's failure), on one line.
std::string driveRefusalLine(const base::Error& refusal);
// The capacity list's entry when drive A: holds nothing that can be formatted.
std::string shortRefusal(base::Failure kind);

// The format dialog's own words, the same in every window system's dialog.
inline constexpr char kFormatTitle[] = "Format - A:";
inline constexpr char kFormatOnlyDriveA[] = "Only drive A: can be formatted here.";
inline constexpr char kFormatChoice[] =
    "Click OK to format the diskette, or Cancel to leave it as it is.";
inline constexpr char kFormatComplete[] = "Format Complete.";
// The warning before anything is erased, naming drive A: as it is now.
std::string formatWarning(const std::string& driveA);
// What a finished format made of the diskette: its space, what is free, what is bad.
std::string formatReport(const fat::FormatReport& report);

}  // namespace shell
