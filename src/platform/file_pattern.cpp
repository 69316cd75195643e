#include "platform/file_pattern.h"

#include <cctype>

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

base::Result<std::string> patternFolder(std::string_view prefix) {
    if (prefix.empty()) return std::string(".");
    auto mapped = mapWindowsName(prefix);
    if (!mapped) return mapped.error();
    if (mapped->where != WindowsName::Where::Host) {
        return base::Status::failure("\"" + std::string(prefix) +
                                     "\": names on drive A: are not looked up");
    }
    return mapped->hostPath;
}

std::string NamePattern::describe() const {
    return m_chars;
}

}  // namespace platform
