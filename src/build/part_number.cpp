#include "build/part_number.h"

#include <cstdio>

namespace build {
namespace {

constexpr std::string_view kKey = "PARTNUM = ";
constexpr std::size_t kNumberLength = 3;
// A line quoted in a message is cut here: a part-number file is a short make fragment, and a
// hostile one must not make a message of megabytes.
constexpr std::size_t kQuotedLine = 120;
// More occurrences than this are not kept: the first two that differ already refuse the file.
constexpr std::size_t kHitsKept = 64;

bool IsLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

void PartNumberScan::take(char c) {
    // The characters after a key: the number's three, then the one that tells a longer number.
    for (Hit& hit : m_hits) {
        if (hit.complete) continue;
        if (hit.number.size() < kNumberLength) {
            hit.number.push_back(c);
        } else {
            // A number that took a line end ended there; what follows is the next line's.
            hit.longer =
                IsLetterOrDigit(c) && hit.number.find_first_of("\r\n") == std::string::npos;
            hit.complete = true;
        }
    }
    for (Hit& hit : m_hits)
        if (hit.lineNumber == m_lineNumber && hit.line.size() < kQuotedLine) hit.line.push_back(c);

    if (c == '\n') {
        ++m_lineNumber;
        m_line.clear();
    } else if (m_line.size() < kQuotedLine) {
        m_line.push_back(c);
    }

    // The key holds no repeated prefix, so a mismatch starts the match afresh.
    if (c == kKey[m_keyMatched]) {
        ++m_keyMatched;
    } else {
        m_keyMatched = c == kKey[0] ? 1 : 0;
    }
    if (m_keyMatched == kKey.size()) {
        m_keyMatched = 0;
        if (m_hits.size() < kHitsKept) m_hits.push_back({{}, m_line, m_lineNumber, false, false});
    }
}

bool PartNumberScan::feed(std::string_view bytes) {
    if (m_ended) return false;
    for (char c : bytes) {
        if (c == '\0') {
            m_ended = true;
            return false;
        }
        take(c);
    }
    return true;
}

void PartNumberScan::end() {
    m_ended = true;
}

std::string PartNumberScan::problem() const {
    auto quoted = [](const Hit& hit) {
        std::string line = hit.line;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return "line " + std::to_string(hit.lineNumber) + " \"" + Printable(line) + "\"";
    };
    const Hit& first = m_hits.front();
    if (first.longer) {
        return "partnum.mak names a part number longer than three characters, at " + quoted(first) +
               "; \"" + Printable(first.number) + "\" would name another board";
    }
    for (const Hit& hit : m_hits) {
        if (hit.number != first.number) {
            return "partnum.mak names two part numbers, \"" + Printable(first.number) + "\" at " +
                   quoted(first) + " and \"" + Printable(hit.number) + "\" at " + quoted(hit);
        }
    }
    return {};
}

std::string Printable(std::string_view text) {
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown.push_back(c);
        }
    }
    return shown;
}

}  // namespace build
