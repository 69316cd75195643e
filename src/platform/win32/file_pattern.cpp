// The search for a file by pattern, through the system's folder listing.
#include "platform/file_pattern.h"

#include <windows.h>

#include <algorithm>

#include "platform/host_system.h"
#include "platform/win32/folder_entries.h"
#include "platform/win_path.h"

namespace platform {

base::Result<std::string> findFirstMatch(std::string_view prefix, const NamePattern& pattern,
                                         bool nonEmptyOnly) {
    auto found = patternFolder(prefix);
    if (!found) return found.error();
    const std::string folder = *found;

    // Every entry is listed and matched here: the system's own wildcards would also match the
    // short (8.3) names, and its '?' differs at the end of a name.
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileExA(win32::joined(folder, "*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return base::Status::failure("the folder \"" + folder + "\" cannot be read");
    }
    std::string best;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string_view candidate(entry.cFileName);
            if (!pattern.matches(candidate)) continue;
            if (!best.empty() && candidate >= best) continue;
            // Only a file can be a candidate: a folder of a matching name is passed over, and
            // so is an empty file where only content counts. A link counts as what it reaches.
            if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
                continue;
            const std::string path = win32::joined(folder, std::string(candidate));
            if (!isRegularFile(path)) continue;
            if (nonEmptyOnly && sizeAt(path).value_or(0) == 0) continue;
            best = std::string(candidate);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    if (best.empty()) {
        return base::Status::failure("no file in \"" + folder + "\" matches \"" +
                                     pattern.describe() + "\"");
    }
    return std::string(prefix) + best;
}

std::vector<std::string> allMatches(std::string_view prefix, const NamePattern& pattern) {
    std::vector<std::string> names;
    auto found = patternFolder(prefix);
    if (!found) return names;
    const std::string& folder = *found;
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileExA(win32::joined(folder, "*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (pattern.matches(entry.cFileName)) names.emplace_back(entry.cFileName);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace platform
