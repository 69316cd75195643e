// The help service: topics from the help file beside the program, one per context id.
#include "framework/help.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "framework/afxwin.h"

namespace {

// A help file is a few kilobytes; anything past this is not read.
constexpr std::size_t kHelpReadLimit = 1024 * 1024;

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of("\r\n ");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of("\r\n ");
    return std::string(text.substr(first, last - first + 1));
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// "0x" and hexadecimal digits, or decimal digits, of a value that fits 32 bits.
std::optional<std::uint32_t> contextIdOf(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int digit = digitValue(c);
        if (digit >= static_cast<int>(base)) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> topicStart(std::string_view line) {
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') return std::nullopt;
    return contextIdOf(line.substr(1, line.size() - 2));
}

}  // namespace

std::string HelpTopic::title() const {
    return text.substr(0, text.find('\n'));
}

std::string HelpTopic::body() const {
    const auto end = text.find('\n');
    return end == std::string::npos ? std::string() : trimmed(std::string_view(text).substr(end));
}

std::vector<HelpTopic> AfxParseHelpTopics(std::string_view fileText) {
    std::vector<HelpTopic> topics;
    std::string text;
    auto finish = [&] {
        if (!topics.empty()) topics.back().text = trimmed(text);
        text.clear();
    };
    while (!fileText.empty()) {
        const auto end = fileText.find('\n');
        std::string_view line = fileText.substr(0, end);
        fileText.remove_prefix(end == std::string_view::npos ? fileText.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line[0] == ';') continue;
        if (const auto id = topicStart(line)) {
            finish();
            topics.push_back({*id, {}});
            continue;
        }
        text.append(line).append("\n");
    }
    finish();
    return topics;
}

std::optional<std::vector<HelpTopic>> AfxReadHelpTopics(const char* path) {
    // A pipe or a device under the help file's name would stall or never end.
    std::error_code error;
    if (!path || !std::filesystem::is_regular_file(path, error)) return std::nullopt;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in) return std::nullopt;
    std::string content(static_cast<std::size_t>(std::min<std::uintmax_t>(size, kHelpReadLimit)),
                        '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    return AfxParseHelpTopics(content);
}

const HelpTopic* AfxFindHelpTopic(const std::vector<HelpTopic>& topics, std::uint32_t contextId) {
    for (const HelpTopic& topic : topics)
        if (topic.contextId == contextId) return &topic;
    return nullptr;
}

BOOL WinHelpA(HWND hwnd, const char* helpFile, UINT command, ULONG_PTR data) {
    const auto topics = AfxReadHelpTopics(helpFile);
    if (!topics) {
        AfxBackend().showHelp(
            hwnd, std::string("Cannot open the help file ") + (helpFile ? helpFile : "") + ".",
            command);
        return FALSE;
    }
    if (command != HELP_WM_HELP && command != HELP_CONTEXTMENU) {
        // Contents: the file's first topic, which lists the others.
        AfxBackend().showHelp(hwnd, topics->empty() ? std::string() : topics->front().text,
                              command);
        return TRUE;
    }
    // The table pairs control ids with context ids and ends with a (0, 0) pair.
    const auto* table = reinterpret_cast<const DWORD*>(data);
    const DWORD controlId = hwnd ? static_cast<DWORD>(hwnd->id) : 0;
    DWORD contextId = 0;
    for (const DWORD* p = table; p && (p[0] != 0 || p[1] != 0); p += 2)
        if (p[0] == controlId) {
            contextId = p[1];
            break;
        }
    const HelpTopic* found = AfxFindHelpTopic(*topics, contextId);
    AfxBackend().showHelp(
        hwnd, found ? found->text : std::string("No Help topic is associated with this item."),
        command);
    return TRUE;
}
