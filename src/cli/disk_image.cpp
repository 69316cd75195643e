#include "cli/disk_image.h"

#include <algorithm>

#include "cli/system.h"
#include "platform/drive_a.h"
#include "platform/exclusive_hold.h"
#include "platform/host_file.h"
#include "platform/interrupts.h"
#include "platform/sha256.h"

namespace cli {
namespace {

constexpr std::uint32_t kChunkSectors = 36;  // two tracks of a 1.44 MB diskette

}  // namespace

std::string sectorList(const std::vector<std::uint32_t>& sectors) {
    std::string text;
    for (std::uint32_t s : sectors) text += (text.empty() ? "" : ", ") + std::to_string(s);
    return text;
}

namespace {

ImageCopy copyHeld(const std::string& path, bool skipBad) {
    ImageCopy copy;
    // The hold a build takes: the copy never reads a diskette halfway through another build's
    // writes, and a refusal leaves no file behind.
    const auto hold = platform::ExclusiveHold::driveA();
    switch (hold.state()) {
        case platform::HoldState::HeldByAnotherBuild:
            copy.failure = base::Failure::Busy;
            copy.message = "drive A: (" + hold.path() + ") is in use by another build";
            return copy;
        case platform::HoldState::InUse:
            copy.failure = base::Failure::Busy;
            copy.message = "drive A: (" + hold.path() + ") is " +
                           (hold.detail().empty() ? "mounted or in use by another program"
                                                  : "in use: " + hold.detail());
            return copy;
        case platform::HoldState::Failed:
            copy.message = "drive A: (" + hold.path() + ") cannot be held: " + hold.detail();
            return copy;
        default:
            // Held, or nothing there: opening the drive says what is wrong with it.
            break;
    }
    platform::DriveOpenOptions options;
    options.access = platform::DriveAccess::Read;
    options.bypassCache = true;
    auto drive = platform::DriveA::open(options);
    if (!drive) {
        copy.message = drive.message();
        copy.failure = drive.error().kind();
        return copy;
    }
    // Made new: an existing file, link or device at the path is never touched.
    auto file = sys::NewFile::create(path);
    if (!file) {
        copy.message = file.message();
        copy.failure = file.error().kind();
        return copy;
    }
    // A copy given up leaves no file behind: the new file goes with it.
    auto abandon = [&](std::string why) {
        copy.message = std::move(why);
        return copy;
    };
    // Asked after anything that failed too: a signal can be what broke off a read.
    auto interrupted = [&] {
        if (!platform::interrupted()) return false;
        copy.interrupted = true;
        copy.failure.reset();
        copy.message = std::string(platform::interruptSignalName()) + " ended the copy of drive A:";
        return true;
    };

    fat::SectorDevice& device = **drive;
    const std::uint32_t total = device.sectorCount();
    std::vector<std::uint8_t> chunk(std::size_t{kChunkSectors} * fat::kSectorSize);
    platform::Sha256 digest;
    for (std::uint32_t first = 0; first < total; first += kChunkSectors) {
        if (interrupted()) return copy;
        const std::uint32_t count = std::min(kChunkSectors, total - first);
        if (!device.read(first, count, chunk.data())) {
            // Sector by sector, to tell the unreadable ones from the rest.
            for (std::uint32_t s = 0; s < count; ++s) {
                std::uint8_t* at = chunk.data() + std::size_t{s} * fat::kSectorSize;
                if (auto read = device.read(first + s, 1, at); !read) {
                    if (interrupted()) return copy;
                    if (!skipBad) {
                        copy.failure = read.error().kind();
                        return abandon("sector " + std::to_string(first + s) +
                                       " of drive A: cannot be read: " + read.message());
                    }
                    std::fill(at, at + fat::kSectorSize, std::uint8_t{0});
                    copy.unreadableSectors.push_back(first + s);
                }
            }
        }
        const std::size_t size = std::size_t{count} * fat::kSectorSize;
        if (auto wrote = file->write(chunk.data(), size); !wrote) {
            if (interrupted()) return copy;
            copy.failure = wrote.error().kind();
            return abandon(wrote.message());
        }
        digest.add(std::span(chunk.data(), size));
        copy.bytes += size;
        if (first == 0) platform::pausePoint("saving drive A:");
    }
    if (interrupted()) return copy;
    if (auto finished = file->finish(); !finished) {
        copy.failure = finished.error().kind();
        return abandon(finished.message());
    }
    copy.ok = true;
    copy.sha256 = digest.hex();
    return copy;
}

}  // namespace

ImageCopy copyDriveAToFile(const std::string& path, bool skipBad) {
    // SIGINT, SIGTERM and SIGHUP end the copy at its next chunk, without a file; the program
    // ends by the signal once it has reported.
    platform::InterruptCatch interrupts;
    ImageCopy copy = copyHeld(path, skipBad);
    interrupts.raiseCaught();
    return copy;
}

}  // namespace cli
