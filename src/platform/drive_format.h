// Formatting drive A: as a whole: what the format dialogs (windows and console) call. Every
// failure comes back as a sentence the user can act on, followed by the detail in brackets.
#pragma once

#include <cstdint>
#include <string>

#include "fat/fat12.h"
#include "base/result.h"
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

// The capacity list's entry for a medium of `bytes` bytes; "Unknown capacity" for sizes that
// are no diskette format.
std::string describeMedium(std::uint64_t bytes);

// Looks at drive A: without writing to it or holding it.
base::Result<DriveAMedium> probeDriveA();

// Formats drive A:, held exclusively for the whole format. Refuses an empty drive, a medium
// that is not a diskette, a write-protected diskette and a drive in use, before any byte is
// written. A format that fails part-way reports the failure, never success.
base::Result<fat::FormatReport> formatDriveA(const fat::FormatOptions& options);

// The format itself on any device, with failures worded as formatDriveA words them.
base::Result<fat::FormatReport> formatMedium(fat::SectorDevice& device,
                                            const fat::FormatOptions& options);

// "1,457,664": a byte count grouped in thousands, as the reports show it.
std::string groupThousands(std::uint64_t value);

}  // namespace platform
