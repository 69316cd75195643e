#include "platform/win32/folder_entries.h"

#include <windows.h>

#include <vector>

#include "platform/text_case.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform::win32 {

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    // FindExInfoBasic: the short names are not wanted, and skipping them is faster.
    HANDLE search = FindFirstFileExA(joined(folder, "*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

std::string spellingIn(const std::string& folder, const std::string& name) {
    // The system compares names without regard to case itself; its answer is checked, because
    // a search by name also matches an entry's short name.
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileExA(joined(folder, name).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        if (sameIgnoringCase(entry.cFileName, name)) return entry.cFileName;
    }
    return spellingAmong(namesIn(folder), name);
}

std::optional<unsigned long> attributesOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

bool isPlainFile(unsigned long attributes) {
    return (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace platform::win32

namespace platform {

std::string findIgnoringCase(const std::string& folder, const std::string& name) {
    return win32::spellingIn(folder, name);
}

bool existsAsWritten(const std::string& path) {
    return win32::attributesOf(path).has_value();
}

std::optional<base::Result<std::string>> systemHostPath(std::string_view name) {
    // The system's own rules: each drive's current directory, "." and "..", both separators.
    const std::string asked(name);
    std::vector<char> full(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFullPathNameA(asked.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return base::Result<std::string>(
                win32::failedBecause("\"" + asked + "\" is not a name the system accepts"));
        }
        if (length < full.size())
            return base::Result<std::string>(std::string(full.data(), length));
        full.resize(length + 1);
    }
}

}  // namespace platform
