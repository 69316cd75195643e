// Windows file names given their meaning on the host, in this one place. On Windows the system
// gives a name off drive A: its meaning itself (drive letters, the current directory of each
// drive, the case rule); on Linux:
// - a backslash separates folders as a slash does;
// - "c:" starts at the root "/" (drive C: is the whole tree);
// - "a:\name" is a file in the root folder of the diskette's FAT12 volume;
// - a name that does not exist as written is looked up without regard to case, folder by
//   folder, so "ZYPLET16.EXE" finds zyplet16.exe and a new bios.rom replaces BIOS.ROM;
// - other names are relative to the current directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace platform {

struct WindowsName {
    enum class Where { Host, DriveA };
    Where where = Where::Host;
    // Host: an absolute path; on Linux each part as it exists on disk, on Windows the system's
    // full path name of it (the system finds any spelling).
    std::string hostPath;
    std::string diskName;  // DriveA: the name within the diskette's root folder
};

// Fails for an empty name, a NUL inside it, characters Windows refuses in names (* ? < > | "),
// a drive other than A: or C: (on Linux), or a folder below the diskette's root.
base::Result<WindowsName> mapWindowsName(std::string_view name);

// The name of an entry in `folder` that equals `name` without regard to ASCII case: the exact
// one if it exists, else the first in byte order; empty when there is none.
std::string findIgnoringCase(const std::string& folder, const std::string& name);

// Whether `path` names an entry as written (a link counts as itself).
bool existsAsWritten(const std::string& path);

// The host path the system itself gives `name` (not on drive A:, its parts already checked),
// where it gives names a meaning: Windows does; on Linux none, and the rules above make one.
std::optional<base::Result<std::string>> systemHostPath(std::string_view name);

}  // namespace platform
