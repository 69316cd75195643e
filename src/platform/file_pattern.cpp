#include "platform/file_pattern.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>

#include "platform/text_case.h"
#include "platform/win_path.h"

namespace platform {

NamePattern NamePattern::wildcards(std::string_view text) {
    NamePattern pattern;
    for (const char c : text) {
        if (c == '?') {
            pattern.any(1);
        } else {
            pattern.literal(std::string_view(&c, 1));
        }
    }
    return pattern;
}

NamePattern& NamePattern::any(std::size_t count) {
    m_chars.append(count, '?');
    m_any.insert(m_any.end(), count, true);
    return *this;
}

NamePattern& NamePattern::literal(std::string_view text) {
    m_chars.append(text);
    m_any.insert(m_any.end(), text.size(), false);
    return *this;
}

bool NamePattern::matches(std::string_view name) const {
    if (name.size() != m_chars.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (m_any[i]) continue;
        if (lowerAscii(m_chars[i]) != lowerAscii(name[i])) return false;
    }
    return true;
}

std::string NamePattern::describe() const {
    return m_chars;
}

base::Result<std::string> findFirstMatch(std::string_view prefix, const NamePattern& pattern,
                                         bool nonEmptyOnly) {
    std::string folder;
    if (prefix.empty()) {
        folder = ".";
    } else {
        auto mapped = mapWindowsName(prefix);
        if (!mapped) return mapped.error();
        if (mapped->where != WindowsName::Where::Host) {
            return base::Status::failure("\"" + std::string(prefix) +
                                         "\": names on drive A: are not looked up");
        }
        folder = mapped->hostPath;
    }

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) {
        return base::Status::failure("the folder \"" + folder + "\" cannot be read");
    }
    std::string best;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view candidate(entry->d_name);
        if (!pattern.matches(candidate)) continue;
        if (!best.empty() && candidate >= best) continue;
        // Only a file can be a candidate: a folder of a matching name is passed over, and so
        // is an empty file where only content counts.
        struct stat info {};
        const std::string path = folder + "/" + std::string(candidate);
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        if (nonEmptyOnly && info.st_size == 0) continue;
        best = std::string(candidate);
    }
    if (best.empty()) {
        return base::Status::failure("no file in \"" + folder + "\" matches \"" +
                                     pattern.describe() + "\"");
    }
    return std::string(prefix) + best;
}

}  // namespace platform
