#include "platform/host_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/win_path.h"

namespace platform {
namespace {

using fat::Result;
using fat::Status;

Result<std::string> hostPathOf(std::string_view windowsName) {
    auto mapped = mapWindowsName(windowsName);
    if (!mapped) return mapped.status();
    if (mapped->where != WindowsName::Where::Host) {
        return Status::failure("\"" + std::string(windowsName) +
                               "\" is on drive A: and cannot be opened as a file");
    }
    return mapped->hostPath;
}

Status cannotOpen(const std::string& path, const std::string& why) {
    return Status::failure("\"" + path + "\" cannot be opened: " + why);
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

Result<HostFile> HostFile::openRead(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.status();
    // O_NONBLOCK keeps a pipe from stalling the open; the type check below refuses it.
    int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return cannotOpen(*path, std::strerror(errno));
    HostFile file(fd, *path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return cannotOpen(*path, std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return cannotOpen(*path, "it is not a regular file");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

Result<HostFile> HostFile::create(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.status();
    struct stat info {};
    if (::stat(path->c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return cannotOpen(*path, "it is not a regular file");
    }
    int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return cannotOpen(*path, std::strerror(errno));
    return HostFile(fd, *path);
}

HostFile::HostFile(HostFile&& other) noexcept : m_fd(other.m_fd), m_path(std::move(other.m_path)) {
    other.m_fd = -1;
}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

HostFile::~HostFile() {
    if (m_fd >= 0) ::close(m_fd);
}

Result<std::uint64_t> HostFile::length() const {
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        return Status::failure("the length of \"" + m_path + "\" cannot be read");
    }
    return static_cast<std::uint64_t>(info.st_size);
}

Result<std::size_t> HostFile::read(void* out, std::size_t bytes) {
    if (m_fd < 0) return Status::failure("read from a closed file");
    auto* target = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::read(m_fd, target + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::failure("read error in \"" + m_path + "\": " + std::strerror(errno));
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

Status HostFile::write(const void* in, std::size_t bytes) {
    if (m_fd < 0) return Status::failure("write to a closed file");
    const auto* source = static_cast<const std::uint8_t*>(in);
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::write(m_fd, source + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::failure("write error in \"" + m_path + "\": " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    return Status::success();
}

Status HostFile::close() {
    if (m_fd < 0) return Status::success();
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        return Status::failure("\"" + m_path + "\" could not be closed: " + std::strerror(errno));
    }
    return Status::success();
}

Result<std::vector<std::uint8_t>> readWholeFile(std::string_view windowsName) {
    auto file = HostFile::openRead(windowsName);
    if (!file) return file.status();
    auto size = file->length();
    if (!size) return size.status();
    std::vector<std::uint8_t> content(static_cast<std::size_t>(*size));
    auto got = file->read(content.data(), content.size());
    if (!got) return got.status();
    // A file that changes while it is read is taken as far as it went.
    content.resize(*got);
    return content;
}

Status replaceFileAtomically(std::string_view windowsName, std::span<const std::uint8_t> content) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.status();
    std::string temporary = *path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return Status::failure("a temporary file beside \"" + *path +
                               "\" cannot be created: " + std::strerror(errno));
    }
    HostFile file(fd, temporary);
    // mkstemp makes the file private; give it the target's permissions, or the usual ones.
    struct stat existing {};
    mode_t mode;
    if (::stat(path->c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    Status written = file.write(content.data(), content.size());
    if (written && ::fsync(fd) != 0) {
        written =
            Status::failure("\"" + temporary + "\" could not be synced: " + std::strerror(errno));
    }
    if (written) written = file.close();
    if (written && ::rename(temporary.c_str(), path->c_str()) != 0) {
        written =
            Status::failure("\"" + *path + "\" could not be replaced: " + std::strerror(errno));
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return written;
    }
    // The rename is durable once the folder itself is synced.
    int folder = ::open(folderOf(*path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return Status::success();
}

}  // namespace platform
