#include "cli/verify.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fat/fat12.h"
#include "platform/drive_a.h"
#include "platform/host_file.h"
#include "platform/win_path.h"
#include "platform/winapi.h"

namespace cli {
namespace {

constexpr std::size_t kSectorBytes = 512;

std::string hostPathOf(const std::string& name) {
    auto mapped = platform::mapWindowsName(name);
    return mapped ? mapped->hostPath : name;
}

std::optional<std::vector<std::uint8_t>> readHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

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

std::vector<std::string> fileListOfCurrentDirectory() {
    if (PathFileExistsA("ZYPLET16.EXE")) {
        return {"minidos.sys", "zyplet16.exe", "vgabios.exe", "bios.qvx"};
    }
    return {"minidos.sys", "zyplet.exe", "platform.bin", "vgabios.exe", "bios.rom"};
}

Expectation snapshotStartDirectory(bool bootSector) {
    Expectation expectation;
    for (const auto& name : fileListOfCurrentDirectory()) {
        auto bytes = platform::readWholeFile(name);
        if (!bytes) {
            // The build passes a missing vgabios.exe over; any other missing file stops it.
            if (name != "vgabios.exe") {
                expectation.problems.push_back(
                    "verify: " + name +
                    " could not be read from the start directory: " + bytes.message());
            }
            continue;
        }
        expectation.files.push_back({name, std::move(*bytes), hostPathOf(name)});
    }
    if (bootSector) {
        auto image = platform::readWholeFile("crisboot.bin");
        if (!image) {
            expectation.problems.push_back(
                "verify: no boot-sector image crisboot.bin in the start directory (" +
                image.message() + "), so sector 0 was not replaced");
        } else {
            image->resize(kSectorBytes, 0);
            expectation.bootSector = std::move(*image);
        }
    }
    return expectation;
}

void nameStagedOrigins(Expectation& expectation, const std::string& projectFolder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> candidates;
    for (const auto& entry : fs::directory_iterator(projectFolder, ec)) {
        if (entry.is_regular_file(ec)) candidates.push_back(entry.path());
    }
    std::sort(candidates.begin(), candidates.end());
    for (auto& file : expectation.files) {
        if (fs::exists(file.origin, ec)) continue;
        const std::string note = file.origin + " as staged for the copy";
        file.origin = note;
        for (const auto& candidate : candidates) {
            if (fs::file_size(candidate, ec) != file.bytes.size() || ec) continue;
            if (readHostFile(candidate) == file.bytes) {
                file.origin = candidate.string();
                break;
            }
        }
    }
}

std::vector<std::string> verifyDiskette(fat::SectorDevice& device, const Expectation& expectation) {
    std::vector<std::string> report = expectation.problems;
    auto volume = fat::Volume::mount(device);
    if (!volume) {
        report.push_back("verify: the diskette holds no readable FAT12 volume: " +
                         volume.message());
        return report;
    }
    for (const auto& file : expectation.files) {
        auto onDisk = volume->readFile(file.name);
        if (!onDisk) {
            report.push_back("verify: " + file.name +
                             " cannot be read from the diskette: " + onDisk.message());
            continue;
        }
        if (onDisk->size() != file.bytes.size()) {
            report.push_back("verify: " + file.name + " holds " + std::to_string(onDisk->size()) +
                             " bytes on the diskette, " + file.origin + " holds " +
                             std::to_string(file.bytes.size()));
            continue;
        }
        if (auto at = firstDifference(*onDisk, file.bytes)) {
            report.push_back("verify: " + file.name + " differs from " + file.origin + " at byte " +
                             std::to_string(*at) + " (diskette " + hexByte((*onDisk)[*at]) +
                             ", source " + hexByte(file.bytes[*at]) + ")");
        }
    }
    if (expectation.bootSector) {
        std::vector<std::uint8_t> sector(kSectorBytes);
        if (auto read = device.read(0, 1, sector.data()); !read) {
            report.push_back("verify: sector 0 cannot be read: " + read.message());
        } else if (auto at = firstDifference(sector, *expectation.bootSector)) {
            report.push_back("verify: sector 0 differs from crisboot.bin at byte " +
                             std::to_string(*at) + " (diskette " + hexByte(sector[*at]) +
                             ", crisboot.bin " + hexByte((*expectation.bootSector)[*at]) + ")");
        }
    }
    return report;
}

std::vector<std::string> verifyDriveA(const Expectation& expectation) {
    platform::DriveOpenOptions options;
    options.access = platform::DriveAccess::Read;
    options.bypassCache = true;
    auto drive = platform::DriveA::open(options);
    if (!drive) {
        std::vector<std::string> report = expectation.problems;
        report.push_back("verify: drive A: cannot be read: " + drive.message());
        return report;
    }
    return verifyDiskette(**drive, expectation);
}

}  // namespace cli
