#include "build/readback.h"

#include <algorithm>

#include "fat/fat12.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/host_file.h"
#include "platform/sha256.h"

namespace build {
namespace {

std::string hexByte(std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

// The offset of the first differing byte, or none when both are equal.
std::optional<std::size_t> firstDifference(const std::vector<std::uint8_t>& a,
                                           const std::vector<std::uint8_t>& b) {
    const auto n = std::min(a.size(), b.size());
    const auto [ia, ib] =
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n), b.begin());
    if (ia != a.begin() + static_cast<std::ptrdiff_t>(n))
        return static_cast<std::size_t>(ia - a.begin());
    if (a.size() != b.size()) return n;
    return std::nullopt;
}

}  // namespace

Expectation expectationOf(const Written& written) {
    Expectation expectation;
    for (const WrittenFile& file : written.files) {
        // A source that has grown past any diskette since it was copied is not read whole.
        auto opened = platform::HostFile::openRead(file.source);
        auto length = opened ? opened->length() : base::Result<std::uint64_t>(opened.error());
        auto bytes = length && *length > platform::kLargestDisketteBytes
                         ? base::Result<std::vector<std::uint8_t>>(base::Status::failure(
                               "it now holds " + platform::groupThousands(*length) + " bytes"))
                         : platform::readWholeFile(file.source);
        if (!bytes) {
            expectation.problems.push_back(
                {file.name, file.name + " cannot be compared: its source " + file.source +
                                " cannot be read: " + bytes.message()});
            continue;
        }
        expectation.files.push_back({file.name, std::move(*bytes), file.source});
    }
    expectation.bootSector = written.bootSector;
    return expectation;
}

std::vector<Difference> compareDiskette(fat::SectorDevice& device, const Expectation& expectation,
                                        std::vector<ReadBackFile>* readBack,
                                        const ReadBackProgress& progress) {
    std::vector<Difference> report = expectation.problems;
    auto volume = fat::Volume::mount(device);
    if (!volume) {
        report.push_back({"", "the diskette holds no readable FAT12 volume: " + volume.message()});
        return report;
    }
    std::uint64_t total = expectation.bootSector ? fat::kSectorSize : 0;
    for (const auto& file : expectation.files) total += file.bytes.size();
    std::uint64_t done = 0;
    for (const auto& file : expectation.files) {
        if (progress) progress(file.name, done, total);
        done += file.bytes.size();
        auto onDisk = volume->readFile(file.name);
        if (!onDisk) {
            report.push_back(
                {file.name, file.name + " cannot be read from the diskette: " + onDisk.message()});
            continue;
        }
        if (readBack)
            readBack->push_back({file.name, onDisk->size(), platform::sha256Hex(*onDisk)});
        if (onDisk->size() != file.bytes.size()) {
            report.push_back({file.name, file.name + " holds " +
                                             platform::groupThousands(onDisk->size()) +
                                             " bytes on the diskette, " + file.origin + " holds " +
                                             platform::groupThousands(file.bytes.size())});
            continue;
        }
        if (auto at = firstDifference(*onDisk, file.bytes)) {
            report.push_back({file.name, file.name + " differs from " + file.origin + " at byte " +
                                             std::to_string(*at) + " (diskette " +
                                             hexByte((*onDisk)[*at]) + ", source " +
                                             hexByte(file.bytes[*at]) + ")"});
        }
    }
    if (expectation.bootSector) {
        if (progress) progress("crisboot.bin", done, total);
        done += fat::kSectorSize;
        std::vector<std::uint8_t> sector(fat::kSectorSize);
        if (auto read = device.read(0, 1, sector.data()); !read) {
            report.push_back({"crisboot.bin", "sector 0 cannot be read: " + read.message()});
        } else if (auto at = firstDifference(sector, *expectation.bootSector)) {
            report.push_back({"crisboot.bin", "sector 0 differs from crisboot.bin at byte " +
                                                  std::to_string(*at) + " (diskette " +
                                                  hexByte(sector[*at]) + ", crisboot.bin " +
                                                  hexByte((*expectation.bootSector)[*at]) + ")"});
        }
    }
    if (progress) progress("", done, total);
    return report;
}

std::vector<Difference> compareDriveA(const Expectation& expectation,
                                      std::vector<ReadBackFile>* readBack,
                                      const ReadBackProgress& progress) {
    platform::DriveOpenOptions options;
    options.access = platform::DriveAccess::Read;
    options.bypassCache = true;
    auto drive = platform::DriveA::open(options);
    if (!drive) {
        std::vector<Difference> report = expectation.problems;
        report.push_back({"", "drive A: cannot be read: " + drive.message()});
        return report;
    }
    return compareDiskette(**drive, expectation, readBack, progress);
}

}  // namespace build
