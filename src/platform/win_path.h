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

// The device Windows keeps `part` (one folder or file name) for, in capitals ("CON", "COM1"):
// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 (also with a superscript 1-3), in any case, alone or
// before an extension ("nul.txt") or blanks. None for any other name. Windows opens the device
// whatever folder the name stands in, so a folder so named cannot be used as one there.
std::optional<std::string> reservedDeviceName(std::string_view part);

// The first part of `path` (folders and file) that reservedDeviceName() refuses, with its
// device; none when there is no such part. The root of the path (a drive, a server and share,
// the "\\?\" or "\\.\" prefix) is not looked at.
struct ReservedPart {
    std::string part;
    std::string device;
};
std::optional<ReservedPart> firstReservedPart(std::string_view path);

// What the refusal of such a path says.
std::string reservedPartRefusal(std::string_view path, const ReservedPart& reserved);

// Whether `path` names a device rather than a file: the "\\.\" namespace, or "\\?\"
// before anything but a drive's folder ("\\?\C:\...") or a share ("\\?\UNC\...").
// Either separator counts. Such names are kept as written, never made relative to a folder.
bool isDeviceNamespace(std::string_view path);

// The host path the system itself gives `name` (not on drive A:, its parts already checked),
// where it gives names a meaning: Windows does; on Linux none, and the rules above make one.
// On Windows a name keeps the blanks at its end, with a separator after them, as the names
// below it do ("proj " is "...\proj \"); a name with a part that names a device (firstReservedPart,
// or one the system turns into "\\.\...") is refused.
std::optional<base::Result<std::string>> systemHostPath(std::string_view name);

}  // namespace platform
