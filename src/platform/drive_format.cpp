#include "platform/drive_format.h"

#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "platform/diskette_image.h"
#include "platform/drive_a.h"
#include "platform/local_clock.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

struct MediumName {
    std::uint64_t bytes;
    const char* text;
    const char* size;  // as a refusal names it
};

// The diskette formats by size, smallest first: the one table the capacity list and the
// refusal of other sizes read.
constexpr MediumName kMediumNames[] = {
    {368640, "5.25\", 360KB, 512 bytes/sector", "360 KB"},
    {737280, "3.5\", 720KB, 512 bytes/sector", "720 KB"},
    {1228800, "5.25\", 1.2MB, 512 bytes/sector", "1.2 MB"},
    {1474560, "3.5\", 1.44MB, 512 bytes/sector", "1.44 MB"},
    {2949120, "3.5\", 2.88MB, 512 bytes/sector", "2.88 MB"},
};
// The diskette a refusal points to: the one nearly every drive takes.
constexpr const MediumName& kUsualMedium = kMediumNames[3];
static_assert(std::end(kMediumNames)[-1].bytes == kLargestDisketteBytes);

// " (10 MB)", " (512 KB)": the size as a person would say it; nothing below a kilobyte.
std::string roughSize(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024) {
        std::snprintf(text, sizeof text, " (%.3g MB)",
                      static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, " (%.3g KB)", static_cast<double>(bytes) / 1024.0);
    } else {
        text[0] = '\0';
    }
    return text;
}

// Passes every transfer on and remembers the last one that failed, so that a failed format
// can say where the medium gave up.
class WatchedDevice final : public fat::SectorDevice {
  public:
    explicit WatchedDevice(fat::SectorDevice& inner) : m_inner(inner) {}

    std::uint32_t sectorCount() const override { return m_inner.sectorCount(); }
    Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override {
        return watch(FailedTransfer::Op::Read, first, count, m_inner.read(first, count, out));
    }
    Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override {
        Status s = watch(FailedTransfer::Op::Write, first, count, m_inner.write(first, count, in));
        if (s) m_wroteAny = true;
        return s;
    }
    Status flush() override { return watch(FailedTransfer::Op::Flush, 0, 0, m_inner.flush()); }

    // The last transfer that failed, if any did.
    const std::optional<FailedTransfer>& lastFailure() const { return m_failed; }
    bool wroteAny() const { return m_wroteAny; }

  private:
    Status watch(FailedTransfer::Op op, std::uint32_t first, std::uint32_t count, Status s) {
        if (!s) m_failed = FailedTransfer{op, first, count};
        return s;
    }

    fat::SectorDevice& m_inner;
    std::optional<FailedTransfer> m_failed;
    bool m_wroteAny = false;
};

}  // namespace

std::string describeMedium(std::uint64_t bytes) {
    for (const MediumName& m : kMediumNames) {
        if (m.bytes == bytes) return m.text;
    }
    return "Unknown capacity";
}

std::string disketteSizeRefusal(std::uint64_t bytes) {
    const std::string held = bytes > kLargestDisketteBytes
                                 ? " bytes" + roughSize(bytes) + ", too large to be a diskette"
                                 : " bytes, which is no diskette's size";
    return "holds " + groupThousands(bytes) + held + "; " + disketteSizes();
}

std::string disketteSizes() {
    return std::string("a ") + kUsualMedium.size + " diskette holds " +
           groupThousands(kUsualMedium.bytes) + " bytes, the largest " +
           groupThousands(kLargestDisketteBytes);
}

std::string groupThousands(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

Result<DriveAMedium> probeDriveA() {
    DriveOpenOptions options;
    options.access = DriveAccess::Read;
    auto drive = DriveA::open(options);
    if (!drive) return drive.error();
    DriveAMedium medium;
    medium.path = (*drive)->path();
    medium.bytes = (*drive)->sizeBytes();
    medium.geometry = (*drive)->geometry();
    medium.description = describeMedium(medium.bytes);
    medium.name =
        nameDrive(medium.path, (*drive)->isBlockDevice() ? describeBlockDevice(medium.path) : "",
                  medium.bytes);
    return medium;
}

FormatResult formatMedium(fat::SectorDevice& device, const fat::FormatOptions& given) {
    fat::FormatOptions options = given;
    if (!options.localClock) options.localClock = &localClock();
    WatchedDevice watched(device);
    auto report = fat::format(watched, options);
    if (report) return std::move(*report);
    // Refused before the medium was touched, e.g. for a bad volume label.
    if (!watched.wroteAny() && !watched.lastFailure()) {
        return FormatFailure{FormatStage::Preparing, report.error(), std::nullopt};
    }
    return FormatFailure{FormatStage::Writing, report.error(), watched.lastFailure()};
}

FormatResult formatDriveA(const fat::FormatOptions& options) {
    DriveOpenOptions open;
    open.access = DriveAccess::Write;
    open.exclusive = true;
    // A full format's check must read the medium, not the page cache that still holds what was
    // just written: O_DIRECT on a block device, the cache dropped before each read of an image.
    open.bypassCache = !options.quick;
    auto drive = DriveA::open(open);
    if (!drive) return FormatFailure{FormatStage::Opening, drive.error(), std::nullopt};
    // The formatter flushes the drive before it reports success.
    return formatMedium(**drive, options);
}

}  // namespace platform
