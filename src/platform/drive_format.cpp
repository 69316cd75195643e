#include "platform/drive_format.h"

#include <memory>
#include <optional>
#include <utility>

#include "platform/diskette_image.h"
#include "platform/drive_a.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

struct MediumName {
    std::uint64_t bytes;
    const char* text;
};

constexpr MediumName kMediumNames[] = {
    {368640, "5.25\", 360KB, 512 bytes/sector"},  {737280, "3.5\", 720KB, 512 bytes/sector"},
    {1228800, "5.25\", 1.2MB, 512 bytes/sector"}, {1474560, "3.5\", 1.44MB, 512 bytes/sector"},
    {2949120, "3.5\", 2.88MB, 512 bytes/sector"},
};

// The drive's refusals, each turned into what the user should do about it.
base::Error refusal(const base::Error& opened) {
    const std::string& why = opened.detail();
    std::string sentence;
    switch (opened.kind()) {
        case base::Failure::NoMedium:
            sentence = "There is no diskette in drive A:. Insert a diskette and try again.";
            break;
        case base::Failure::NotDiskette:
            sentence = "Drive A: does not hold a diskette, so nothing was formatted.";
            break;
        case base::Failure::WriteProtected:
            sentence =
                "The diskette in drive A: is write-protected. Remove the write protection and try "
                "again.";
            break;
        case base::Failure::PermissionDenied:
            sentence =
                "You have no permission to use drive A:. Join the group that owns the drive, or "
                "run the program with access to it, then try again.";
            break;
        case base::Failure::Busy:
            sentence =
                "Drive A: is in use by another program or is mounted. Close that program or "
                "unmount the drive, then try again.";
            break;
        case base::Failure::NoRoom:
        case base::Failure::IoError:
        case base::Failure::BadData:
        case base::Failure::Other:
            sentence = "Drive A: could not be opened for formatting.";
            break;
    }
    return Status::failure(opened.kind(), sentence + " [" + why + "]");
}

// Passes every transfer on and remembers the last one that failed, so that a failed format
// can say where the medium gave up.
class WatchedDevice final : public fat::SectorDevice {
  public:
    explicit WatchedDevice(fat::SectorDevice& inner) : m_inner(inner) {}

    std::uint32_t sectorCount() const override { return m_inner.sectorCount(); }
    Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override {
        return watch("read", first, count, m_inner.read(first, count, out));
    }
    Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override {
        Status s = watch("write", first, count, m_inner.write(first, count, in));
        if (s) m_wroteAny = true;
        return s;
    }
    Status flush() override { return watch("flush", 0, 0, m_inner.flush()); }

    // "a write error at sector 7", or nothing when every transfer succeeded.
    std::optional<std::string> lastFailure() const {
        if (!m_failedWhat) return std::nullopt;
        const std::string what = *m_failedWhat;
        if (what == "flush") return std::string("the last writes could not be completed");
        std::string where = m_failedCount == 1
                                ? "at sector " + std::to_string(m_failedFirst)
                                : "at sectors " + std::to_string(m_failedFirst) + " to " +
                                      std::to_string(m_failedFirst + m_failedCount - 1);
        return "a " + what + " error " + where;
    }
    bool wroteAny() const { return m_wroteAny; }

  private:
    Status watch(const char* what, std::uint32_t first, std::uint32_t count, Status s) {
        if (!s) {
            m_failedWhat = what;
            m_failedFirst = first;
            m_failedCount = count;
        }
        return s;
    }

    fat::SectorDevice& m_inner;
    std::optional<std::string> m_failedWhat;
    std::uint32_t m_failedFirst = 0;
    std::uint32_t m_failedCount = 0;
    bool m_wroteAny = false;
};

}  // namespace

std::string describeMedium(std::uint64_t bytes) {
    for (const MediumName& m : kMediumNames) {
        if (m.bytes == bytes) return m.text;
    }
    return "Unknown capacity";
}

std::string groupThousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
}

Result<DriveAMedium> probeDriveA() {
    DriveOpenOptions options;
    options.access = DriveAccess::Read;
    auto drive = DriveA::open(options);
    if (!drive) return refusal(drive.error());
    DriveAMedium medium;
    medium.path = (*drive)->path();
    medium.bytes = (*drive)->sizeBytes();
    medium.geometry = (*drive)->geometry();
    medium.description = describeMedium(medium.bytes);
    medium.name = nameDrive(medium.path,
                            (*drive)->isBlockDevice() ? describeBlockDevice(medium.path) : "",
                            medium.bytes);
    return medium;
}

Result<fat::FormatReport> formatMedium(fat::SectorDevice& device,
                                       const fat::FormatOptions& options) {
    WatchedDevice watched(device);
    auto report = fat::format(watched, options);
    if (report) return report;
    if (!watched.wroteAny() && !watched.lastFailure()) {
        // Refused before the medium was touched, e.g. for a bad volume label.
        return Status::failure("Drive A: was not formatted: " + report.message() + ".");
    }
    std::string sentence = "The format of drive A: failed";
    if (auto where = watched.lastFailure()) sentence += ": " + *where;
    sentence += ". The diskette is not usable until it has been formatted again.";
    return Status::failure(sentence + " [" + report.message() + "]");
}

Result<fat::FormatReport> formatDriveA(const fat::FormatOptions& options) {
    DriveOpenOptions open;
    open.access = DriveAccess::Write;
    open.exclusive = true;
    // A full format's check must read the medium, not the page cache that still holds what was
    // just written: O_DIRECT on a block device, the cache dropped before each read of an image.
    open.bypassCache = !options.quick;
    auto drive = DriveA::open(open);
    if (!drive) return refusal(drive.error());
    // The formatter flushes the drive before it reports success.
    return formatMedium(**drive, options);
}

}  // namespace platform
