// Formatting drive A: as a whole: what the format dialogs (windows and console) call. A failure
// comes back as data: its kind, how far the format got, where the medium gave up and the detail;
// the dialogs word it (framework/shell.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "base/result.h"
#include "fat/fat12.h"
#include "fat/sector_device.h"

namespace platform {

// What is in drive A: before it is formatted.
struct DriveAMedium {
    std::string path;         // where drive A: points
    std::uint64_t bytes = 0;  // size of the medium
    fat::Geometry geometry{};
    std::string description;  // "3.5\", 1.44MB, 512 bytes/sector"
    std::string name;         // "/dev/sdb, TEAC FD-05PUB, 1,474,560 bytes" (nameDrive)
};

// How far a failed format got.
enum class FormatStage {
    Opening,    // drive A: could not be opened for it: nothing was written
    Preparing,  // refused before the medium was touched, e.g. for a bad volume label
    Writing,    // the medium gave up part-way: it is unusable until formatted again
};

// The last transfer the medium refused.
struct FailedTransfer {
    enum class Op { Read, Write, Flush };
    Op op = Op::Write;
    std::uint32_t first = 0;  // Read and Write: the sectors asked for
    std::uint32_t count = 0;
};

struct FormatFailure {
    FormatStage stage = FormatStage::Opening;
    base::Error error;                       // the kind, and the detail in the drive's words
    std::optional<FailedTransfer> transfer;  // Writing: where the medium gave up, when known
};

// A format's report, or why there is none.
class [[nodiscard]] FormatResult {
  public:
    FormatResult(fat::FormatReport report) : m_report(std::move(report)) {}  // NOLINT
    FormatResult(FormatFailure failure) : m_failure(std::move(failure)) {}   // NOLINT

    bool ok() const { return m_report.has_value(); }
    explicit operator bool() const { return ok(); }
    const fat::FormatReport& operator*() const { return *m_report; }
    const fat::FormatReport* operator->() const { return &*m_report; }
    const FormatFailure& failure() const { return *m_failure; }
    base::Failure kind() const {
        return m_failure ? m_failure->error.kind() : base::Failure::Other;
    }
    // The detail of a failure, in the drive's or the file system's words; empty on success.
    const std::string& message() const {
        static const std::string none;
        return m_failure ? m_failure->error.detail() : none;
    }

  private:
    std::optional<fat::FormatReport> m_report;
    std::optional<FormatFailure> m_failure;
};

// The capacity list's entry for a medium of `bytes` bytes; "Unknown capacity" for sizes that
// are no diskette format.
std::string describeMedium(std::uint64_t bytes);

// Looks at drive A: without writing to it or holding it. A failure is drive A:'s refusal to
// open, with its kind (a format of it would fail at FormatStage::Opening).
base::Result<DriveAMedium> probeDriveA();

// Formats drive A:, held exclusively for the whole format. Refuses an empty drive, a medium
// that is not a diskette, a write-protected diskette and a drive in use, before any byte is
// written. A format that fails part-way reports the failure, never success.
FormatResult formatDriveA(const fat::FormatOptions& options);

// The format itself on any device, failing at FormatStage::Preparing or ::Writing.
FormatResult formatMedium(fat::SectorDevice& device, const fat::FormatOptions& options);

// Why a medium of `bytes` bytes is refused, in the one wording every refusal of a size uses:
// "holds 1,475,072 bytes, which is no diskette's size; a 1.44 MB diskette holds 1,474,560
// bytes, the largest 2,949,120" (a medium larger than any diskette: "holds 10,485,760 bytes
// (10 MB), too large to be a diskette; ..."). The sizes come from the capacity table.
std::string disketteSizeRefusal(std::uint64_t bytes);
// "a 1.44 MB diskette holds 1,474,560 bytes, the largest 2,949,120": what a refusal points to.
std::string disketteSizes();

// "1,457,664": a byte count grouped in thousands, as the reports show it.
std::string groupThousands(std::uint64_t value);

}  // namespace platform
