// --verify: what a build put on the diskette, read back and compared with the files it was
// first copied from, by the same check the build makes before it reports success.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build/build_outcome.h"
#include "build/readback.h"
#include "fat/sector_device.h"

namespace cli {

using ExpectedFile = build::ExpectedFile;

struct Expectation {
    std::vector<ExpectedFile> files;
    std::optional<std::vector<std::uint8_t>> bootSector;  // 512 bytes, MINIDOS only
    std::vector<std::string> problems;                    // reported first, as they are
};

// The sources of what the build wrote, as the build recorded them, read now.
Expectation expectationOf(const build::Written& written);

// Every difference between the device and the expectation, one line each ("verify: ...");
// empty when everything matches.
std::vector<std::string> verifyDiskette(fat::SectorDevice& device, const Expectation& expectation);

// The same for drive A:, read past any cache on the way.
std::vector<std::string> verifyDriveA(const Expectation& expectation);

}  // namespace cli
