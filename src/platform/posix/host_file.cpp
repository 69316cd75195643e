#include "platform/host_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/host_faults.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/file_io.h"
#include "platform/posix/system_error.h"
#include "platform/win_path.h"

namespace platform {
namespace {

// One write(2), unless the faults in force hold it back.
ssize_t writeSome(int fd, const std::string& path, const std::uint8_t* data, std::size_t bytes) {
    if (HostFaults* faults = currentHostFaults()) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        const std::size_t allowed = std::min(
            bytes, faults->allowWrite(path, at < 0 ? 0 : static_cast<std::uint64_t>(at), bytes)
                       .value_or(bytes));
        if (allowed == 0 && bytes > 0) {
            errno = posix::errnoFor(faults->error());
            return -1;
        }
        bytes = allowed;
    }
    return ::write(fd, data, bytes);
}

using base::Failure;
using base::Result;
using base::Status;

Result<std::string> hostPathOf(std::string_view windowsName) {
    auto mapped = mapWindowsName(windowsName);
    if (!mapped) return mapped.error();
    if (mapped->where != WindowsName::Where::Host) {
        return Status::failure("\"" + std::string(windowsName) +
                               "\" is on drive A: and cannot be opened as a file");
    }
    return mapped->hostPath;
}

base::Error cannotOpen(const std::string& path, const std::string& why) {
    return Status::failure("\"" + path + "\" cannot be opened: " + why);
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A save's temporary beside "name" is "name.saving-XXXXXX", mkstemp's six letters and digits
// at the end: a name a user is unlikely to give a file of their own.
constexpr char kTemporaryMark[] = ".saving-";
constexpr std::size_t kTemporaryLetters = 6;

bool isTemporaryOf(const std::string& entry, const std::string& base) {
    const std::string prefix = base + kTemporaryMark;
    if (entry.size() != prefix.size() + kTemporaryLetters || entry.rfind(prefix, 0) != 0) {
        return false;
    }
    return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The file that `path` names once symbolic links are followed; it need not exist (a link may
// point at a file still to be made). A relative link is taken from the link's own folder.
Result<std::string> finalTarget(std::string path) {
    constexpr int kLinkLimit = 40;  // as the kernel's own limit
    for (int links = 0;; ++links) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        if (links == kLinkLimit) {
            return Status::failure("\"" + path + "\" cannot be replaced: too many links");
        }
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            return Status::failure("the link \"" + path + "\" cannot be read: " +
                                   std::strerror(length < 0 ? errno : ENAMETOOLONG));
        }
        std::string next(target.data(), static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
}

// A save holds a lock on its temporary from its creation to its rename, and the lock goes
// with the process; an unlocked temporary was left by a save that was killed or crashed.
void removeAbandonedTemporaries(const std::string& path) {
    const std::string base = baseNameOf(path);
    DIR* folder = ::opendir(folderOf(path).c_str());
    if (folder == nullptr) return;
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (!isTemporaryOf(name, base)) continue;
        struct stat named {};
        if (::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode)) {
            continue;
        }
        const int fd =
            ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        // Still the file examined, and still under this name once locked: a save that just
        // ended has renamed its temporary over the settings file.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino &&
            ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            ::unlinkat(folderFd, name.c_str(), 0);
        }
        ::close(fd);
    }
    ::closedir(folder);
}

struct Temporary {
    int fd;
    std::string path;
};

// A new temporary beside `path`, locked. Another save's clean-up may catch it in the moment
// between its creation and the lock and remove it; then another name is tried.
Result<Temporary> createTemporary(const std::string& path) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string temporary = path + kTemporaryMark + std::string(kTemporaryLetters, 'X');
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0) {
            return Status::failure("a temporary file beside \"" + path +
                                   "\" cannot be created: " + std::strerror(errno));
        }
        struct stat info {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0) {
            return Temporary{fd, temporary};
        }
        ::close(fd);
    }
    return Status::failure("a temporary file beside \"" + path +
                           "\" was removed each time it was made");
}

}  // namespace

Result<HostFile> HostFile::openRead(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.error();
    // O_NONBLOCK keeps a pipe from stalling the open; the type check below refuses it.
    int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return cannotOpen(*path, std::strerror(errno));
    HostFile file(posix::handleOf(fd), *path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return cannotOpen(*path, std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return cannotOpen(*path, "it is not a regular file");
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

Result<HostFile> HostFile::create(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.error();
    struct stat info {};
    if (::stat(path->c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        return cannotOpen(*path, "it is not a regular file");
    }
    // O_NONBLOCK: a pipe put there since the look above fails the open (no reader) or the
    // type check below, and never stalls the program.
    int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && errno == ENXIO) return cannotOpen(*path, "it is not a regular file");
    if (fd < 0) return cannotOpen(*path, std::strerror(errno));
    HostFile file(posix::handleOf(fd), *path);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return cannotOpen(*path, "it is not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

HostFile::HostFile(HostFile&& other) noexcept
    : m_handle(other.m_handle), m_path(std::move(other.m_path)) {
    other.m_handle = {};
}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
    if (this != &other) {
        if (m_handle.valid()) ::close(posix::descriptor(m_handle));
        m_handle = std::exchange(other.m_handle, {});
        m_path = std::move(other.m_path);
    }
    return *this;
}

HostFile::~HostFile() {
    if (m_handle.valid()) ::close(posix::descriptor(m_handle));
}

Result<std::uint64_t> HostFile::length() const {
    struct stat info {};
    if (!m_handle.valid() || ::fstat(posix::descriptor(m_handle), &info) != 0) {
        return Status::failure("the length of \"" + m_path + "\" cannot be read");
    }
    return static_cast<std::uint64_t>(info.st_size);
}

Result<std::size_t> HostFile::read(void* out, std::size_t bytes) {
    if (!m_handle.valid()) return Status::failure("read from a closed file");
    auto* target = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = ::read(posix::descriptor(m_handle), target + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            return Status::failure(posix::failureOf(error),
                                   "read error in \"" + m_path + "\": " + std::strerror(error));
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

Status HostFile::write(const void* in, std::size_t bytes) {
    if (!m_handle.valid()) return Status::failure("write to a closed file");
    return writeAll(posix::descriptor(m_handle), m_path, in, bytes);
}

Status writeAll(int fd, const std::string& path, const void* in, std::size_t bytes) {
    const auto* source = static_cast<const std::uint8_t*>(in);
    std::size_t done = 0;
    while (done < bytes) {
        ssize_t n = writeSome(fd, path, source + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            return Status::failure(posix::failureOf(error), "write error in \"" + path +
                                                                "\" after " + std::to_string(done) +
                                                                " of " + std::to_string(bytes) +
                                                                " bytes: " + std::strerror(error));
        }
        if (n == 0) {
            return Status::failure("write error in \"" + path +
                                   "\": nothing more was taken after " + std::to_string(done) +
                                   " of " + std::to_string(bytes) + " bytes");
        }
        done += static_cast<std::size_t>(n);
    }
    return Status::success();
}

Status HostFile::close() {
    if (!m_handle.valid()) return Status::success();
    const int fd = posix::descriptor(std::exchange(m_handle, {}));
    if (::close(fd) != 0) {
        const int error = errno;
        return Status::failure(posix::failureOf(error),
                               "\"" + m_path + "\" could not be closed: " + std::strerror(error));
    }
    return Status::success();
}

Result<std::vector<std::uint8_t>> readWholeFile(std::string_view windowsName) {
    auto file = HostFile::openRead(windowsName);
    if (!file) return file.error();
    auto size = file->length();
    if (!size) return size.error();
    std::vector<std::uint8_t> content(static_cast<std::size_t>(*size));
    auto got = file->read(content.data(), content.size());
    if (!got) return got.error();
    // A file that changes while it is read is taken as far as it went.
    content.resize(*got);
    return content;
}

Status replaceFileAtomically(std::string_view windowsName, std::span<const std::uint8_t> content) {
    auto named = hostPathOf(windowsName);
    if (!named) return named.error();
    // A link (a dotfile manager's, say) stays a link: its target is what is replaced.
    auto resolved = finalTarget(*named);
    if (!resolved) return resolved.error();
    const std::string& path = *resolved;
    struct stat existing {};
    const bool replacing = ::stat(path.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) {
        return Status::failure("\"" + path + "\" cannot be replaced: it is not a regular file");
    }
    removeAbandonedTemporaries(path);

    auto created = createTemporary(path);
    if (!created) return created.error();
    HostFile file(posix::handleOf(created->fd), created->path);
    const std::string temporary = created->path;
    // mkstemp makes the file private: give it the old file's owner and permissions, or those
    // of a new file.
    mode_t mode;
    if (replacing) {
        [[maybe_unused]] const int owned = ::fchown(created->fd, existing.st_uid, existing.st_gid);
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0644 & ~mask;
    }
    ::fchmod(created->fd, mode);
    Status written = file.write(content.data(), content.size());
    if (written && ::fsync(created->fd) != 0) {
        const int error = errno;
        written =
            Status::failure(posix::failureOf(error),
                            "\"" + temporary + "\" could not be synced: " + std::strerror(error));
    }
    // Renamed while still locked, so that no other save takes it for abandoned meanwhile.
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        written =
            Status::failure("\"" + path + "\" could not be replaced: " + std::strerror(errno));
    }
    if (!written) ::unlink(temporary.c_str());
    const Status closed = file.close();
    if (!written) return written;
    if (!closed) return closed;
    // The rename is durable once the folder itself is synced.
    int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return Status::success();
}

}  // namespace platform
