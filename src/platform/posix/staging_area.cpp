// The staging's calls on Linux: every entry is reached relative to the folder's descriptor and
// never through a link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW); renames never replace
// (RENAME_NOREPLACE, or a hard link where the file system lacks it); durability is fsync of
// the journal and of the folder.
#include "platform/staging_area.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/posix/descriptor.h"
#include "platform/posix/file_io.h"
#include "platform/posix/folder_entries.h"
#include "platform/posix/system_error.h"
#include "platform/staging_folder.h"

namespace platform {
namespace {

using base::Result;
using base::Status;
using posix::descriptor;

// The descriptor of what `name` names in the folder, opened for reading without blocking on a
// pipe and without following a link, if it is a regular file; how it went in `found`.
int openRegularAt(int folder, const std::string& name, staging::Found& found) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        found = errno == ENOENT ? staging::Found::Absent : staging::Found::Failed;
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        found = staging::Found::NotRegular;
        return -1;
    }
    found = staging::Found::Opened;
    return fd;
}

}  // namespace

namespace staging {

std::optional<std::size_t> File::read(char* out, std::size_t bytes) {
    for (;;) {
        const ssize_t n = ::read(descriptor(m_handle), out, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        return static_cast<std::size_t>(n);
    }
}

Status File::write(const std::string& path, const char* in, std::size_t bytes) {
    return writeAll(descriptor(m_handle), path, in, bytes);
}

bool File::flush() {
    return ::fsync(descriptor(m_handle)) == 0;
}

bool File::close() {
    if (!m_handle.valid()) return true;
    const int fd = descriptor(m_handle);
    m_handle = {};
    return ::close(fd) == 0;
}

std::string Folder::at(const std::string& name) const {
    return m_path + "/" + name;
}

std::optional<Kind> Folder::kindOf(const std::string& name) const {
    struct stat info {};
    if (::fstatat(descriptor(m_handle), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (S_ISREG(info.st_mode)) return Kind::Plain;
    if (S_ISLNK(info.st_mode)) return Kind::Link;
    return Kind::Other;
}

std::vector<std::string> Folder::names() const {
    return posix::namesIn(descriptor(m_handle));
}

std::string Folder::spelling(const std::string& name) const {
    std::string found = posix::spellingIn(descriptor(m_handle), name);
    return found.empty() ? name : found;
}

File Folder::openRegular(const std::string& name) const {
    Found found = Found::Failed;
    return File(posix::handleOf(openRegularAt(descriptor(m_handle), name, found)));
}

File Folder::openJournal(const std::string& name, Found& found) const {
    return File(posix::handleOf(openRegularAt(descriptor(m_handle), name, found)));
}

File Folder::create(const std::string& name, NewFile what) const {
    const mode_t mode = what == NewFile::Journal ? 0644 : 0666;
    return File(
        posix::handleOf(::openat(descriptor(m_handle), name.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode)));
}

bool Folder::remove(const std::string& name) const {
    return ::unlinkat(descriptor(m_handle), name.c_str(), 0) == 0;
}

bool Folder::renameNoReplace(const std::string& from, const std::string& to) const {
    const int folder = descriptor(m_handle);
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: a hard link refuses an existing name just as well.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return false;
    return ::unlinkat(folder, from.c_str(), 0) == 0;
}

bool Folder::replace(const std::string& from, const std::string& to) const {
    return ::renameat(descriptor(m_handle), from.c_str(), descriptor(m_handle), to.c_str()) == 0;
}

bool Folder::sync() const {
    return ::fsync(descriptor(m_handle)) == 0;
}

Status openPlannedSource(const std::string& source, File& file) {
    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (from < 0) return failedBecause("\"" + source + "\" cannot be opened");
    file = File(posix::handleOf(from));
    struct stat info {};
    if (::fstat(from, &info) != 0 || !S_ISREG(info.st_mode)) {
        file.close();
        return Status::failure("\"" + source + "\" is not a regular file");
    }
    return Status::success();
}

File openStagedSource(const std::string& source) {
    return File(posix::handleOf(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)));
}

void closeFolder(NativeHandle folder) {
    ::close(descriptor(folder));
}

bool namesIgnoreCase() {
    return false;
}

const char* nameSeparators() {
    return "/";
}

base::Error failedBecause(const std::string& what) {
    return posix::failedBecause(what);
}

std::string lastReason() {
    return std::strerror(errno);
}

bool lastWasAbsent() {
    return errno == ENOENT;
}

std::string ioErrorReason() {
    return std::strerror(EIO);
}

}  // namespace staging

Result<StagingArea> StagingArea::open(const std::string& hostFolder) {
    const int folder = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return posix::failedBecause("the start directory \"" + hostFolder + "\" cannot be opened");
    return StagingArea(posix::handleOf(folder), hostFolder);
}

Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names,
                        std::uint64_t bytes) {
    const std::string where = "the start directory \"" + hostFolder + "\"";
    const int folder = ::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return posix::failedBecause(where + " cannot be opened");
    Status status = Status::success();
    struct statvfs space {};
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        status = posix::failedBecause(where + " cannot be written");
    } else if (::fstatvfs(folder, &space) == 0 &&
               staging::lacksRoom(static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize,
                                  names.size(), bytes)) {
        status = staging::noRoomFailure(
            where, static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize, bytes);
    } else {
        status =
            staging::roomFor(staging::Folder(posix::handleOf(folder), hostFolder), where, names);
    }
    ::close(folder);
    return status;
}

}  // namespace platform
