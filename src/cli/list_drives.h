// --list-drives: the floppy drives of this machine, one a line, for people and scripts.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

// Writes one line a drive to `out`, tab-separated: the device path; the medium's size in
// bytes (0 without a diskette, "unknown" where the drive cannot tell); vendor and model;
// "read-only", "writable" or "no access"; and "A:" on drive A:'s line. Control characters,
// line separators and backslashes in a field are written as escapes (\n, \u2028, \\), so
// that each drive stays one line. What is worth knowing beyond that (no drive found, drive
// A: not among them) goes to `err`. `drive` is --drive.
void listDrives(const std::optional<std::string>& drive, std::FILE* out, std::FILE* err);

// The same facts as one JSON object for scripts: {"drives": [{"path", "name", "bytes" (null
// where the drive cannot tell), "vendor", "model", "description", "access", "readOnly",
// "mayWrite", "driveA"}...], "driveA": {"path", "source", "listed"}}. Nothing goes to `err`:
// what the lines' notes say is in the object.
void listDrivesJson(const std::optional<std::string>& drive, std::FILE* out);

}  // namespace cli
