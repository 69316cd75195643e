// Names of a given shape in a folder, as the project folder's first BIOS image candidate
// ("??" + part number + "???.rom") is found: two characters of any kind, the part number as
// it is written, three of any kind, ".rom". The platform refuses '?' in names, so the caller
// finds the real name here and passes that on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace platform {

// A file name of fixed length: each position either any one character or one given
// character, compared without regard to ASCII case.
class NamePattern {
  public:
    // Every '?' of `text` stands for any one character.
    static NamePattern wildcards(std::string_view text);
    NamePattern& any(std::size_t count);
    // Each character of `text` stands for itself, a '?' too.
    NamePattern& literal(std::string_view text);
    bool matches(std::string_view name) const;
    std::string describe() const;  // "??Q7A???.rom", for messages

  private:
    std::string m_chars;
    std::vector<bool> m_any;
};

// The regular file in `folder` whose name matches `pattern`, the first in byte order when
// several do; with `nonEmptyOnly`, an empty file does not count. `folder` is a Windows folder
// name ending in a separator, or empty for the current directory; the result is `folder`
// followed by the real name. Fails when the folder cannot be read or nothing matches.
base::Result<std::string> findFirstMatch(std::string_view folder, const NamePattern& pattern,
                                         bool nonEmptyOnly);

// The host folder a pattern's search reads for `folder` (as for findFirstMatch): "." when it
// is empty; fails for a name that is not the host's (drive A:'s names are not looked up).
base::Result<std::string> patternFolder(std::string_view folder);

// Every entry of `folder` (as for findFirstMatch) whose name matches `pattern`, of whatever
// kind (a folder, a pipe, a link to nothing), in byte order; none when it cannot be read.
std::vector<std::string> allMatches(std::string_view folder, const NamePattern& pattern);

}  // namespace platform
