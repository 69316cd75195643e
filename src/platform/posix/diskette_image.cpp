#include "platform/diskette_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/floppy_drives.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISBLK(mode)) return "a device";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

}  // namespace

Status createBlankDiskette(const std::string& path) {
    // O_EXCL: an existing file, link or device at the path is never touched.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return Status::failure(std::strerror(errno));
    std::string error;
    if (::ftruncate(fd, static_cast<off_t>(kBlankDisketteBytes)) != 0 || ::fsync(fd) != 0) {
        error = std::strerror(errno);
    }
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty()) return Status::success();
    ::unlink(path.c_str());
    return Status::failure(error);
}

Result<DisketteImage> takeDisketteImage(const std::string& path) {
    DisketteImage image;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    image.path = ec ? path : absolute.lexically_normal().string();
    const std::string& at = image.path;

    struct stat st {};
    if (::stat(at.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return Status::failure(at + " cannot be looked at: " + std::strerror(errno) + ".");
        }
        if (auto made = createBlankDiskette(at); !made) {
            return Status::failure("A blank diskette image could not be created at " + at + ": " +
                                   made.message() + ".");
        }
        image.bytes = kBlankDisketteBytes;
        image.created = true;
        return image;
    }
    if (!S_ISREG(st.st_mode)) {
        return Status::failure(at + " is " + kindOf(st.st_mode) + ", not a diskette image file.");
    }
    image.bytes = static_cast<std::uint64_t>(st.st_size);
    if (!isDisketteSize(image.bytes)) {
        return Status::failure(at + " " + disketteSizeRefusal(image.bytes) +
                               ": it is not a diskette image.");
    }
    return image;
}

std::string describeBlockDevice(const std::string& path) {
    const auto found = floppyDriveAt(findFloppyDrives(), path);
    return found ? found->description() : "block device";
}

}  // namespace platform
