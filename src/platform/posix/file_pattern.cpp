// The search for a file by pattern, through the system's folder listing.
#include "platform/file_pattern.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "platform/win_path.h"

namespace platform {

base::Result<std::string> findFirstMatch(std::string_view prefix, const NamePattern& pattern,
                                         bool nonEmptyOnly) {
    auto found = patternFolder(prefix);
    if (!found) return found.error();
    const std::string folder = *found;

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

std::vector<std::string> allMatches(std::string_view prefix, const NamePattern& pattern) {
    std::vector<std::string> names;
    auto found = patternFolder(prefix);
    if (!found) return names;
    const std::string& folder = *found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get()))
        if (pattern.matches(entry->d_name)) names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace platform
