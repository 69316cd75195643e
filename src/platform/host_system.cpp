#include "platform/host_system.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

base::Failure kindOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return base::Failure::PermissionDenied;
        case ENOSPC:
        case EDQUOT:
            return base::Failure::NoRoom;
        case EIO:
            return base::Failure::IoError;
        default:
            return base::Failure::Other;
    }
}

base::Error systemError(int error, std::string detail) {
    return base::Status::failure(kindOf(error), std::move(detail));
}

}  // namespace

std::string currentDirectory() {
    char* cwd = ::getcwd(nullptr, 0);
    std::string path = cwd ? cwd : "";
    std::free(cwd);
    return path;
}

base::Status makeFolders(const std::string& path, std::string& failedFolder) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        struct stat info {};
        // EEXIST: another copy of the program made it in between, which is as good.
        if (!prefix.empty() && ::stat(prefix.c_str(), &info) != 0 &&
            ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            const int error = errno;
            failedFolder = prefix;
            return systemError(error, std::strerror(error));
        }
        if (end == std::string::npos) break;
    }
    return base::Status::success();
}

std::string resolvedPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string programFilePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

base::Status appendToFile(const std::string& path, const std::string& text) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int error = errno;
        return systemError(error, "cannot open " + path + ": " + std::strerror(error));
    }
    // One write: with O_APPEND the text lands whole at the end, whoever else appends.
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int error = errno;
    const bool closed = ::close(fd) == 0;
    if (n < 0) return systemError(error, "cannot write " + path + ": " + std::strerror(error));
    if (static_cast<std::size_t>(n) != text.size()) {
        return base::Status::failure(
            base::Failure::NoRoom, "cannot write " + path + ": only " + std::to_string(n) + " of " +
                                       std::to_string(text.size()) + " bytes were written");
    }
    if (!closed) {
        const int closeError = errno;
        return systemError(closeError, "cannot write " + path + ": " + std::strerror(closeError));
    }
    return base::Status::success();
}

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace platform
