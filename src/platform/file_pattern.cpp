#include "platform/file_pattern.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <memory>

#include "platform/win_path.h"

namespace platform {

bool matchesWildcards(std::string_view pattern, std::string_view name) {
    if (pattern.size() != name.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '?') continue;
        if (std::tolower(static_cast<unsigned char>(pattern[i])) !=
            std::tolower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

fat::Result<std::string> expandWildcardName(std::string_view windowsName) {
    const std::size_t cut = windowsName.find_last_of("\\/");
    // Everything up to and including the last separator is the folder as the caller spelt it;
    // a name without one lies in the current directory.
    const std::string_view prefix =
        cut == std::string_view::npos ? std::string_view() : windowsName.substr(0, cut + 1);
    const std::string_view pattern = windowsName.substr(prefix.size());
    if (pattern.empty()) {
        return fat::Status::failure("\"" + std::string(windowsName) + "\" names no file");
    }

    std::string folder;
    if (prefix.empty()) {
        folder = ".";
    } else {
        auto mapped = mapWindowsName(prefix);
        if (!mapped) return mapped.status();
        if (mapped->where != WindowsName::Where::Host) {
            return fat::Status::failure("\"" + std::string(windowsName) +
                                        "\": names on drive A: are not expanded");
        }
        folder = mapped->hostPath;
    }

    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) {
        return fat::Status::failure("the folder \"" + folder + "\" cannot be read");
    }
    std::string best;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view candidate(entry->d_name);
        if (!matchesWildcards(pattern, candidate)) continue;
        if (!best.empty() && candidate >= best) continue;
        // Only a file can be a candidate: a folder of a matching name is passed over.
        struct stat info {};
        const std::string path = folder + "/" + std::string(candidate);
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        best = std::string(candidate);
    }
    if (best.empty()) {
        return fat::Status::failure("no file in \"" + folder + "\" matches \"" +
                                    std::string(pattern) + "\"");
    }
    return std::string(prefix) + best;
}

}  // namespace platform
