// The host's side of the file calls (file_api.cpp): files and folders under host paths.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/win_path.h"

namespace platform {

using base::Status;

Status copyHostFile(const std::string& source, const std::string& target, bool failIfExists) {
    auto from = HostFile::openRead(source);
    if (!from) return Status::failure(from.message());
    auto to = mapWindowsName(target);
    if (!to) return Status::failure(to.message());
    struct stat sourceInfo {};
    struct stat targetInfo {};
    ::stat(from->path().c_str(), &sourceInfo);
    if (::stat(to->hostPath.c_str(), &targetInfo) == 0) {
        if (failIfExists) return Status::failure("\"" + to->hostPath + "\" already exists");
        // Truncating the target would destroy the source before it is read.
        if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
            return Status::failure("\"" + to->hostPath + "\" cannot be copied onto itself");
        }
    }
    auto into = HostFile::create(to->hostPath);
    if (!into) return Status::failure(into.message());
    // A copy cut short (a full file system, an I/O error) must not stay behind looking like
    // the file: whatever fails, the partial copy goes.
    auto abandon = [&](const std::string& why) {
        (void)into->close();
        ::unlink(into->path().c_str());
        return Status::failure("copying \"" + from->path() + "\" to \"" + to->hostPath +
                               "\": " + why);
    };
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (;;) {
        auto got = from->read(chunk.data(), chunk.size());
        if (!got) return abandon(got.message());
        if (*got == 0) break;
        base::Status put = into->write(chunk.data(), *got);
        if (!put) return abandon(put.message());
    }
    const std::string written = into->path();
    base::Status closed = into->close();
    if (!closed) {
        ::unlink(written.c_str());
        return Status::failure("copying \"" + from->path() + "\" to \"" + to->hostPath +
                               "\": " + closed.message());
    }
    return Status::success();
}

Status deleteHostFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return Status::failure("\"" + path + "\" does not exist");
    if (S_ISDIR(info.st_mode)) return Status::failure("\"" + path + "\" is a folder");
    if (::unlink(path.c_str()) != 0) {
        return Status::failure("\"" + path + "\" cannot be deleted: " + std::strerror(errno));
    }
    return Status::success();
}

Status hostPathExists(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return Status::failure("\"" + path + "\" does not exist");
    return Status::success();
}

Status changeDirectory(const std::string& path) {
    if (::chdir(path.c_str()) != 0) {
        return Status::failure("\"" + path + "\" cannot be made current: " + std::strerror(errno));
    }
    return Status::success();
}

std::optional<std::uint64_t> sizeAt(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace platform
