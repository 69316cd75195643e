// Diskette image files the user names as drive A:, and how drive A: is named to the user
// before anything on it is erased.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.h"

namespace platform {

inline constexpr std::uint64_t kBlankDisketteBytes = 1474560;  // a 1.44 MB diskette

// Creates a zero-filled 1.44 MB image at `path`. Anything already there (a file, a link, even
// a dangling one) is left alone and the call fails; the failure's message is the system's
// reason ("File exists").
base::Status createBlankDiskette(const std::string& path);

struct DisketteImage {
    std::string path;  // absolute
    std::uint64_t bytes = 0;
    bool created = false;  // a new blank image was made
};

// An image file chosen to be drive A:: an existing regular file of a diskette's size is taken
// as it is, and where nothing exists a blank 1.44 MB image is created. Folders, devices,
// pipes and files of any other size are refused, untouched, with a sentence that says why.
base::Result<DisketteImage> takeDisketteImage(const std::string& path);

// "/dev/sdb, TEAC FD-05PUB, 1,474,560 bytes" for a device, "/tmp/a.img, 1,474,560 bytes" for
// an image file (an empty description).
std::string nameDrive(const std::string& path, const std::string& description, std::uint64_t bytes);

// What to call the block device at `path`: the floppy drive's vendor and model where it is
// one of the drives found, else "block device".
std::string describeBlockDevice(const std::string& path);

}  // namespace platform
