#include "platform/host_system.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/host_faults.h"
#include "platform/posix/system_error.h"

namespace platform {
namespace {

using posix::systemError;

base::Result<std::string> userFolder(const char* variable, const char* underHome) {
    const char* set = std::getenv(variable);
    // A relative path is to be ignored, as the base-directory rules say.
    if (set != nullptr && set[0] == '/') return std::string(set);
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') {
        return base::Status::failure(std::string("neither ") + variable +
                                     " nor a home folder is known");
    }
    return std::string(home) + "/" + underHome;
}

}  // namespace

base::Result<std::string> settingsFolder() {
    return userFolder("XDG_CONFIG_HOME", ".config");
}

base::Result<std::string> stateFolder() {
    return userFolder("XDG_STATE_HOME", ".local/state");
}

base::Result<std::string> currentDirectory() {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return posix::systemError(errno, "the current directory cannot be read");
    }
    std::string path = cwd;
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

std::string absoluteHostPath(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
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
    // O_NONBLOCK: a pipe under the file's name neither stalls the open nor takes the text; the
    // type check below refuses it (a pipe without a reader already fails the open: ENXIO).
    const int fd = ::open(path.c_str(),
                          O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info {};
    if (fd < 0 && errno != ENXIO) {
        const int error = errno;
        return systemError(error, "cannot open " + path + ": " + std::strerror(error));
    }
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) ::close(fd);
        return base::Status::failure("cannot write " + path + ": it is not a regular file");
    }
    // Appenders of ours take turns, so that a line cut short can be taken back whole before
    // anyone appends after it. A lock nobody lets go of is given a second, never a hang.
    constexpr int kLockTries = 100;
    int tries = 0;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || ++tries == kLockTries) {
            ::close(fd);
            return base::Status::failure(base::Failure::Busy,
                                         "cannot write " + path + ": another program holds it");
        }
        ::usleep(10000);
    }
    std::string line = text;
    // A line cut short by a crash of some earlier writer is never continued: a line of its own.
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') {
        line.insert(line.begin(), '\n');
    }
    std::size_t allowed = line.size();
    if (HostFaults* faults = currentHostFaults()) {
        allowed = std::min(
            allowed, faults->allowWrite(path, static_cast<std::uint64_t>(info.st_size), line.size())
                         .value_or(allowed));
    }
    errno = allowed == 0 ? posix::errnoFor(currentHostFaults()->error()) : 0;
    const ssize_t n = allowed == 0 ? -1 : ::write(fd, line.data(), allowed);
    const int error = errno;
    base::Status status = base::Status::success();
    if (n < 0) {
        status = systemError(error, "cannot write " + path + ": " + std::strerror(error));
    } else if (static_cast<std::size_t>(n) != line.size()) {
        status = base::Status::failure(
            base::Failure::NoRoom, "cannot write " + path + ": only " + std::to_string(n) + " of " +
                                       std::to_string(line.size()) + " bytes were written");
    }
    // The line whole or not at all: what a short write put there is taken back.
    if (!status && n > 0 && ::ftruncate(fd, info.st_size) != 0) {
        status = base::Status::failure(status.error().kind(),
                                       status.message() + ", and the part written stays");
    }
    if (::close(fd) != 0 && status) {
        const int closeError = errno;
        status = systemError(closeError, "cannot write " + path + ": " + std::strerror(closeError));
    }
    return status;
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
