// A folder's entries through its descriptor, never following a link.
#pragma once

#include <string>
#include <vector>

namespace platform::posix {

// The names of the folder's entries; none when it cannot be listed.
std::vector<std::string> namesIn(int folder);

// The name of an entry of the folder that equals `name` without regard to case
// (spellingAmong); empty when there is none. An exact entry is found without a listing.
std::string spellingIn(int folder, const std::string& name);

}  // namespace platform::posix
