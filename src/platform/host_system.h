// What the dialog's operations and the framework ask of the host beyond files under Windows
// names: the current folder, folders made on the way to a file, a path with its links
// resolved, the program's own file, appending to a log, and the time of day.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"

namespace platform {

// The process's current folder as a host path; fails "the current directory cannot be read".
base::Result<std::string> currentDirectory();

// The user's folders by the base-directory rules: the variable's folder when it holds an
// absolute path, else the folder under the home folder ($HOME when absolute, else the
// account's). Fails "neither XDG_CONFIG_HOME nor a home folder is known" and the like.
// Settings (the Windows directory, where quenvol.ini lives): $XDG_CONFIG_HOME, ~/.config.
base::Result<std::string> settingsFolder();
// State kept between runs (the build log): $XDG_STATE_HOME, ~/.local/state.
base::Result<std::string> stateFolder();

// The host's side of the file calls, under host paths; a failure's detail names the path and
// the reason. A copy refuses an existing target when `failIfExists`, and a copy onto the
// source itself; a copy cut short leaves nothing under the target's name.
base::Status copyHostFile(const std::string& source, const std::string& target, bool failIfExists);
// Removes a file or link, never a folder.
base::Status deleteHostFile(const std::string& path);
// Something is at `path`, after links.
base::Status hostPathExists(const std::string& path);
base::Status changeDirectory(const std::string& path);
// The size of what is at `path` (after links); none when nothing is.
std::optional<std::uint64_t> sizeAt(const std::string& path);

// Makes the folder `path` and every missing folder above it, private to the user (0700). A
// folder that exists, or that another program makes at the same moment, is as good as made.
// A failure's detail is the system's reason; `failedFolder` is set to the folder concerned.
base::Status makeFolders(const std::string& path, std::string& failedFolder);

// `path` made absolute against the current folder, without its "." and ".." parts, as the
// system reads it; a name in the device namespaces ("\\.\PhysicalDrive0", "\\?\...") stays as
// written. Links are not resolved.
std::string absoluteHostPath(const std::string& path);

// `path` with links and dots resolved, or `path` itself when it cannot be.
std::string resolvedPath(const std::string& path);

// A regular file (after links) is at `path`.
bool isRegularFile(const std::string& path);

// The running program's file, from the kernel; empty when it cannot be found out.
std::string programFilePath();

// Appends `text` to the file at `path` in one write, creating the file (0600) when it is not
// there, never through a symbolic link, never to anything but a regular file. With many
// writers at once each text lands whole; a write cut short is taken back, and a text never
// continues a last line that an earlier writer left without its line break.
base::Status appendToFile(const std::string& path, const std::string& text);

// The current time in UTC as "2026-12-07T20:41:19Z".
std::string utcTimestamp();

}  // namespace platform
