// The check a build makes before it reports success, and that quenvol-cli --verify repeats:
// every file read back from the diskette and compared byte for byte with the file it was
// first copied from, and sector 0 with the sector the build meant to write.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "build/build_outcome.h"
#include "fat/sector_device.h"

namespace build {

struct ExpectedFile {
    std::string name;  // as the file list spells it: "bios.rom"
    std::vector<std::uint8_t> bytes;
    std::string origin;  // the file it was copied from, for the report
};

struct Difference {
    std::string file;  // the listed name, "crisboot.bin" for sector 0, empty for the diskette
    std::string text;  // "bios.rom differs from /p/testQ7A.rom at byte 7 (diskette 0x00, ...)"
};

struct Expectation {
    std::vector<ExpectedFile> files;
    std::optional<std::vector<std::uint8_t>> bootSector;  // 512 bytes, MINIDOS only
    std::vector<Difference> problems;                     // sources that could not be read
};

// What the read-back found on the diskette for each file it could read.
struct ReadBackFile {
    std::string name;
    std::uint64_t bytes = 0;
    std::string sha256;
};

// The sources' bytes as they are now.
Expectation expectationOf(const Written& written);

// (file being read, bytes compared so far, bytes to compare in all), before each file and once
// at the end.
using ReadBackProgress =
    std::function<void(const std::string& file, std::uint64_t done, std::uint64_t total)>;

// Every difference between the device and the expectation, problems first; empty when the
// diskette holds exactly what is expected.
// With `readBack`, the size and SHA-256 of every file read from the diskette go there.
std::vector<Difference> compareDiskette(fat::SectorDevice& device, const Expectation& expectation,
                                        std::vector<ReadBackFile>* readBack = nullptr,
                                        const ReadBackProgress& progress = {});

// The same for drive A:, read past every cache: O_DIRECT on a block device, the cached pages
// dropped before each read of an image.
std::vector<Difference> compareDriveA(const Expectation& expectation,
                                      std::vector<ReadBackFile>* readBack = nullptr,
                                      const ReadBackProgress& progress = {});

}  // namespace build
