// A folder's entries under its host path, never following a reparse point.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::win32 {

// `name` in `folder`, with one separator between them.
std::string joined(const std::string& folder, const std::string& name);

// The names of the folder's entries but "." and ".."; none when it cannot be listed.
std::vector<std::string> namesIn(const std::string& folder);

// The name of an entry of the folder that equals `name` without regard to case (spellingAmong);
// empty when there is none. A short (8.3) name that only aliases an entry does not count.
std::string spellingIn(const std::string& folder, const std::string& name);

// The attributes of what `path` names, the link itself for a reparse point; none when nothing
// is there.
std::optional<unsigned long> attributesOf(const std::string& path);

// A plain file: neither a folder nor a reparse point (a link or a junction) nor a device.
bool isPlainFile(unsigned long attributes);

}  // namespace platform::win32
