#include "platform/posix/drive_node.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace platform::posix {
namespace {

// How long the floppy controller's driver is given to take in a swapped diskette.
constexpr auto kSwapPause = std::chrono::milliseconds(300);

int openBlockDevice(int node, const char* path, int flags) {
    const std::string reopen = "/proc/self/fd/" + std::to_string(node);
    for (int attempt = 0;; ++attempt) {
        int fd = ::open(reopen.c_str(), flags);
        // Without /proc the node is opened by its name; it was a block device a moment ago.
        if (fd < 0 && errno == ENOENT) fd = ::open(path, flags);
        if (fd >= 0 || errno != ENXIO || attempt > 0) return fd;
        std::this_thread::sleep_for(kSwapPause);
    }
}

}  // namespace

int openDriveNode(const char* path, int flags) {
    flags = (flags | O_CLOEXEC) & ~O_NONBLOCK;
    const int node = ::open(path, O_PATH | O_CLOEXEC);
    if (node < 0) return -1;
    struct stat info {};
    int fd;
    if (::fstat(node, &info) == 0 && S_ISBLK(info.st_mode)) {
        fd = openBlockDevice(node, path, flags);
    } else {
        fd = ::open(path, flags | O_NONBLOCK);
        if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    const int error = errno;
    ::close(node);
    errno = error;
    return fd;
}

}  // namespace platform::posix
