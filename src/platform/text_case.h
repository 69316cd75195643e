// Windows names compare without regard to the case of ASCII letters; other bytes compare as
// they are, whatever the locale says. Every case-blind comparison, folding and lookup of a
// name goes through here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string lowerAscii(std::string text) {
    for (char& c : text) c = lowerAscii(c);
    return text;
}

inline bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

inline bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The spelling among `names` (a folder's entries) of `name` without regard to case: `name`
// itself when it is there, else the first equal one in byte order; empty when there is none.
inline std::string spellingAmong(const std::vector<std::string>& names, std::string_view name) {
    std::string best;
    for (const std::string& candidate : names) {
        if (candidate == name) return candidate;
        if (sameIgnoringCase(candidate, name) && (best.empty() || candidate < best)) {
            best = candidate;
        }
    }
    return best;
}

}  // namespace platform
