// Windows names whose last part holds '?' wildcards, as the project folder's first BIOS image
// candidate ("??" + part number + "???.rom") does. The platform refuses '?' in names, so the
// caller expands such a name here and passes the real name on.
#pragma once

#include <string>
#include <string_view>

#include "fat/result.h"

namespace platform {

// True when `name` matches `pattern`: the same length, each '?' standing for exactly one
// character and every other character equal without regard to ASCII case.
bool matchesWildcards(std::string_view pattern, std::string_view name);

// The regular file in the folder of `windowsName` whose name matches its last part: the first
// in byte order when several do. Returns `windowsName` with its last part replaced by the real
// name, so the folder part stays as the caller spelt it. Fails when the folder cannot be read
// or nothing matches; only '?' is a wildcard, and the folder part may hold none.
fat::Result<std::string> expandWildcardName(std::string_view windowsName);

}  // namespace platform
