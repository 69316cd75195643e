// --backup and --save-image: drive A: read whole, past every cache, into a new file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace cli {

struct ImageCopy {
    bool ok = false;
    std::string message;                   // what failed, for a failed copy
    std::optional<base::Failure> failure;  // its kind, when one is known; none for a success
    std::uint64_t bytes = 0;
    std::string sha256;  // of the bytes written to the file
    std::vector<std::uint32_t> unreadableSectors;
    bool interrupted = false;  // SIGINT, SIGTERM or SIGHUP ended it; raised once reported
};

// Reads drive A: into `path`, which must not exist (nothing is ever overwritten). A sector
// that cannot be read fails the copy and removes the file, unless `skipBad`: then it is
// written as zeros and listed. A failed or interrupted copy leaves no file behind, and the
// file has its name only once it is whole and on the medium.
ImageCopy copyDriveAToFile(const std::string& path, bool skipBad);

// "3, 17, 18": the sector numbers, for a message.
std::string sectorList(const std::vector<std::uint32_t>& sectors);

}  // namespace cli
