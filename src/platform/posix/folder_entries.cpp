#include "platform/posix/folder_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text_case.h"
#include "platform/win_path.h"

namespace platform::posix {

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return names;
    DIR* entries = ::fdopendir(listing);
    if (entries == nullptr) {
        ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) names.emplace_back(entry->d_name);
    ::closedir(entries);
    return names;
}

std::string spellingIn(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return name;
    return spellingAmong(namesIn(folder), name);
}

}  // namespace platform::posix

namespace platform {

std::string findIgnoringCase(const std::string& folder, const std::string& name) {
    // O_PATH: looking an entry up needs only search permission, as a plain lstat would.
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string found = posix::spellingIn(fd, name);
    ::close(fd);
    return found;
}

bool existsAsWritten(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::optional<base::Result<std::string>> systemHostPath(std::string_view) {
    return std::nullopt;
}

}  // namespace platform
