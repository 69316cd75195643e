#include "cli/copy_worker.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <span>

#include "build/build_record.h"
#include "cli/cli_app.h"
#include "cli/drive_target.h"
#include "fat/fat12.h"
#include "platform/diskette_image.h"
#include "platform/drive_a.h"
#include "platform/exclusive_hold.h"
#include "platform/interrupts.h"
#include "platform/sha256.h"

namespace cli {
namespace {

using base::Failure;
using Runs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

constexpr std::uint32_t kSector = fat::kSectorSize;
// A track of a 1.44 MB diskette: the most written or read at once, so that an interrupt or a
// medium taken out is noticed within a revolution or two.
constexpr std::uint32_t kSectorsAtOnce = 18;
// The boot sector, FATs and root folder of every diskette format come within these sectors.
constexpr std::uint32_t kSystemAreaAtMost = 64;

unsigned le16(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}

// Adds `count` sectors from `first` to `runs`, joined to the last run where they follow it.
void addRun(Runs& runs, std::uint32_t first, std::uint32_t count) {
    if (count == 0) return;
    if (!runs.empty() && runs.back().first + runs.back().second == first)
        runs.back().second += count;
    else
        runs.emplace_back(first, count);
}

DisketteCopy failed(const base::Error& error, const char* kind = nullptr) {
    DisketteCopy copy;
    copy.failure = error.kind();
    copy.failureKind = kind ? kind : build::failureKindName(error.kind());
    copy.message = error.detail();
    return copy;
}

// The drive held for the copy, or why it cannot be.
std::optional<base::Error> holdDrive(platform::ExclusiveHold& hold) {
    hold = platform::ExclusiveHold::driveA();
    switch (hold.state()) {
        case platform::HoldState::Held:
        case platform::HoldState::None:
        case platform::HoldState::Absent:  // opening it says what is missing
            return std::nullopt;
        case platform::HoldState::HeldByAnotherBuild:
        case platform::HoldState::InUse:
            return base::Status::failure(
                Failure::Busy, "busy: drive A: (" + hold.path() + ") is in use: " + hold.detail());
        case platform::HoldState::Failed:
            break;
    }
    return base::Status::failure(
        Failure::Other, "drive A: (" + hold.path() + ") could not be held: " + hold.detail());
}

base::Status interruptedNow() {
    return base::Status::failure(Failure::Other, std::string("interrupted by ") +
                                                     platform::interruptSignalName() +
                                                     " while the diskette was written");
}

// Writes `runs` of the image, sector 0 left for last.
base::Status writeRuns(platform::DriveA& drive, std::span<const std::uint8_t> image,
                       const Runs& runs) {
    for (auto [first, count] : runs) {
        if (first == 0) {  // sector 0 comes last
            ++first;
            --count;
        }
        for (std::uint32_t at = first; at < first + count; at += kSectorsAtOnce) {
            if (platform::interrupted()) return interruptedNow();
            const std::uint32_t n = std::min(kSectorsAtOnce, first + count - at);
            if (auto written = drive.write(at, n, image.data() + std::size_t{at} * kSector);
                !written)
                return written;
        }
    }
    return base::Status::success();
}

// Sector 0 blanked and flushed, the rest written and flushed, sector 0 written and flushed.
base::Status writeImage(platform::DriveA& drive, std::span<const std::uint8_t> image,
                        const Runs& runs) {
    const std::vector<std::uint8_t> blank(kSector, 0);
    if (auto s = drive.write(0, 1, blank.data()); !s) return s;
    if (auto s = drive.flush(); !s) return s;
    if (auto s = writeRuns(drive, image, runs); !s) return s;
    if (auto s = drive.flush(); !s) return s;
    if (auto s = drive.checkStillAtPath(); !s) return s;
    if (auto s = drive.write(0, 1, image.data()); !s) return s;
    return drive.flush();
}

// The runs read back past the cache and compared with the image: the first sector that
// differs, or a read that fails.
base::Status readBack(std::span<const std::uint8_t> image, const Runs& runs,
                      std::string& sector0Sha256) {
    platform::DriveOpenOptions reading;
    reading.bypassCache = true;
    auto opened = platform::DriveA::open(reading);
    if (!opened) return opened.error();
    platform::DriveA& drive = **opened;
    std::vector<std::uint8_t> got(std::size_t{kSectorsAtOnce} * kSector);
    for (auto [first, count] : runs) {
        for (std::uint32_t at = first; at < first + count; at += kSectorsAtOnce) {
            if (platform::interrupted()) return interruptedNow();
            const std::uint32_t n = std::min(kSectorsAtOnce, first + count - at);
            if (auto read = drive.read(at, n, got.data()); !read) return read;
            const auto* want = image.data() + std::size_t{at} * kSector;
            const auto end = got.begin() + static_cast<std::ptrdiff_t>(n * kSector);
            const auto differs = std::mismatch(got.begin(), end, want);
            if (differs.first != end) {
                const auto sector =
                    at + static_cast<std::uint32_t>((differs.first - got.begin()) / kSector);
                return base::Status::failure(
                    Failure::BadData, "read back from drive A: (" + drive.path() + "), sector " +
                                          std::to_string(sector) +
                                          " differs from what was written to it");
            }
            if (at == 0) sector0Sha256 = platform::sha256Hex({got.data(), kSector});
        }
    }
    return drive.checkStillAtPath();
}

// Tabs and line breaks would end a field or a line.
std::string oneField(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n'; }, ' ');
    return text;
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
        fields.push_back(line.substr(at, tab - at));
    fields.push_back(line.substr(at));
    return fields;
}

void tell(const WorkerLine& line) {
    std::fputs((workerLine(line) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void tell(WorkerLine::Kind kind, unsigned diskette, const std::string& text) {
    WorkerLine line;
    line.kind = kind;
    line.diskette = diskette;
    line.text = text;
    tell(line);
}

}  // namespace

Runs sectorsInUse(std::span<const std::uint8_t> image) {
    const auto total = static_cast<std::uint32_t>(image.size() / kSector);
    const Runs whole{{0, total}};
    if (image.size() < kSector || image.size() % kSector != 0) return whole;
    const unsigned perSector = le16(image, 11), perCluster = image[13], reserved = le16(image, 14),
                   fats = image[16], rootEntries = le16(image, 17), perFat = le16(image, 22);
    const unsigned rootSectors = (rootEntries * 32 + kSector - 1) / kSector;
    const std::uint32_t dataStart = reserved + fats * perFat + rootSectors;
    const bool plausible = perSector == kSector && perCluster != 0 && reserved != 0 && fats != 0 &&
                           perFat != 0 && dataStart < total && dataStart <= kSystemAreaAtMost;
    if (!plausible) return whole;
    const std::uint32_t clusters = (total - dataStart) / perCluster;
    if (clusters >= 4085 || (clusters + 2) * 3 / 2 > perFat * kSector) return whole;  // no FAT12
    Runs runs;
    addRun(runs, 0, dataStart);
    const std::uint8_t* fat = image.data() + std::size_t{reserved} * kSector;
    for (std::uint32_t cluster = 2; cluster < clusters + 2; ++cluster) {
        const std::size_t at = cluster * 3 / 2;
        const unsigned pair = fat[at] | (fat[at + 1] << 8);
        const unsigned entry = cluster % 2 ? pair >> 4 : pair & 0xFFF;
        if (entry != 0) addRun(runs, dataStart + (cluster - 2) * perCluster, perCluster);
    }
    return runs;
}

DisketteCopy copyImageToDriveA(std::span<const std::uint8_t> image,
                               const std::function<void(const char*)>& step) {
    platform::InterruptCatch interrupts;
    platform::ExclusiveHold hold;
    if (auto refused = holdDrive(hold)) return failed(*refused);
    platform::DriveOpenOptions writing;
    writing.access = platform::DriveAccess::Write;
    auto opened = platform::DriveA::open(writing);
    if (!opened) return failed(opened.error());
    platform::DriveA& drive = **opened;
    if (drive.sizeBytes() != image.size()) {
        return failed(base::Status::failure(
            Failure::NotDiskette, "not a diskette of this size: drive A: (" + drive.path() +
                                      ") holds " + std::to_string(drive.sizeBytes()) +
                                      " bytes, the diskette built " +
                                      std::to_string(image.size())));
    }
    const Runs runs = sectorsInUse(image);
    if (step) step("writing");
    if (auto written = writeImage(drive, image, runs); !written)
        return failed(written.error(), platform::interrupted() ? "interrupted" : nullptr);
    opened->reset();  // the write session closed before the medium is read
    if (step) step("reading back");
    DisketteCopy copy;
    if (auto same = readBack(image, runs, copy.sector0Sha256); !same) {
        copy = failed(same.error(), platform::interrupted()           ? "interrupted"
                                    : same.kind() == Failure::BadData ? "verify-differs"
                                                                      : nullptr);
        copy.readBack = same.kind() == Failure::BadData;
        return copy;
    }
    copy.ok = copy.readBack = true;
    return copy;
}

std::string workerLine(const WorkerLine& line) {
    switch (line.kind) {
        case WorkerLine::Kind::Drive:
            return "drive\t" + oneField(line.text);
        case WorkerLine::Kind::Step:
            return "step\t" + std::to_string(line.diskette) + "\t" + oneField(line.text);
        case WorkerLine::Kind::Done:
            return "done\t" + std::to_string(line.diskette) + "\t" + std::to_string(line.status) +
                   "\t" + oneField(line.failureKind) + "\t" + oneField(line.sector0Sha256) + "\t" +
                   oneField(line.text);
        case WorkerLine::Kind::Other:
            break;
    }
    return oneField(line.text);
}

WorkerLine parseWorkerLine(const std::string& text) {
    WorkerLine line;
    line.text = text;
    const auto f = fieldsOf(text);
    auto number = [](const std::string& s) {
        return !s.empty() && s.size() < 9 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (f.size() == 2 && f[0] == "drive") {
        line.kind = WorkerLine::Kind::Drive;
        line.text = f[1];
    } else if (f.size() == 3 && f[0] == "step" && number(f[1])) {
        line.kind = WorkerLine::Kind::Step;
        line.diskette = static_cast<unsigned>(std::stoul(f[1]));
        line.text = f[2];
    } else if (f.size() == 6 && f[0] == "done" && number(f[1]) && number(f[2])) {
        line.kind = WorkerLine::Kind::Done;
        line.diskette = static_cast<unsigned>(std::stoul(f[1]));
        line.status = std::stoi(f[2]);
        line.failureKind = f[3];
        line.sector0Sha256 = f[4];
        line.text = f[5];
    }
    return line;
}

int runCopyWorker(const Options& options) {
    auto done = [](unsigned n, int status, const DisketteCopy& copy) {
        tell({WorkerLine::Kind::Done, n, status, copy.message, copy.failureKind,
              copy.sector0Sha256});
        return status;
    };
    // Only the sectors the copy writes are read (the system area first, which says which):
    // the rest of the buffer is never touched, which spares the worker filling 1.44 MB.
    std::ifstream in(*options.copyImage, std::ios::binary | std::ios::ate);
    std::unique_ptr<std::uint8_t[]> bytes;
    std::span<std::uint8_t> image;
    if (const std::streamoff size = in ? std::streamoff(in.tellg()) : -1;
        size > 0 && std::uint64_t(size) <= platform::kLargestDisketteBytes) {
        bytes = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(size));
        image = {bytes.get(), static_cast<std::size_t>(size)};
        auto load = [&](std::uint32_t first, std::uint32_t count) {
            in.seekg(static_cast<std::streamoff>(first) * kSector);
            in.read(reinterpret_cast<char*>(image.data()) + std::size_t{first} * kSector,
                    static_cast<std::streamsize>(count * kSector));
        };
        const auto total = static_cast<std::uint32_t>(image.size() / kSector);
        load(0, std::min(total, kSystemAreaAtMost));
        for (const auto& [first, count] : sectorsInUse(image))
            if (first + count > kSystemAreaAtMost)
                load(std::max(first, kSystemAreaAtMost),
                     first + count - std::max(first, kSystemAreaAtMost));
    }
    const DriveTarget target = prepareDrive(options.drive, options.create);
    tell(WorkerLine::Kind::Drive, 0,
         target.state == DriveTarget::State::Ready
             ? platform::nameDrive(target.path, target.description, target.bytes)
             : target.path);
    if (!in || !platform::isDisketteSize(image.size())) {
        DisketteCopy copy;
        copy.failureKind = "other";
        copy.message = "the diskette image " + *options.copyImage + " could not be read whole";
        return done(1, kExitStopped, copy);
    }
    if (target.state == DriveTarget::State::Unusable) {
        DisketteCopy copy;
        copy.failureKind = "not-a-diskette";
        copy.message = target.message;
        return done(1, kExitUsage, copy);
    }
    int status = kExitSuccess;
    for (unsigned n = 1;; ++n) {
        const DisketteCopy copy = copyImageToDriveA(
            image, [n](const char* step) { tell(WorkerLine::Kind::Step, n, step); });
        status = copy.ok ? kExitSuccess : exitStatusOfFailure(copy.failure, kExitStopped);
        done(n, status, copy);
        if (copy.failureKind == "interrupted" || (options.count != 0 && n >= options.count)) break;
        if (!awaitNewMedium(target.path, [n] {
                tell(WorkerLine::Kind::Step, n + 1, "waiting for the next diskette");
            }))
            break;
    }
    return status;
}

}  // namespace cli
