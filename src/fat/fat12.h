// FAT12 on a sector device: formatting, and files in the root directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fat/result.h"
#include "fat/sector_device.h"

namespace fat {

// The layout of one diskette format, chosen from the medium's size.
struct Geometry {
    std::uint32_t totalSectors;      // sectors on the medium
    std::uint16_t sectorsPerTrack;   // for the BIOS
    std::uint16_t heads;             // for the BIOS
    std::uint8_t sectorsPerCluster;  //
    std::uint16_t reservedSectors;   // boot sector included
    std::uint8_t fatCount;           //
    std::uint16_t sectorsPerFat;     //
    std::uint16_t rootEntries;       // 32-byte entries
    std::uint8_t media;              // media descriptor, also FAT[0]'s low byte
};

// The geometry for a medium of `bytes` bytes; fails for sizes that are no diskette format.
Result<Geometry> geometryForSize(std::uint64_t bytes);

struct FormatOptions {
    std::string label;                    // volume label; empty gives "NO NAME"
    bool quick = true;                    // system area only, or every sector written and read back
    std::optional<std::uint32_t> serial;  // fixed by tests; otherwise from the clock
    std::optional<std::time_t> clock;     // fixed by tests; otherwise the current time
    // Called now and then during a full format with (sectors done, sectors in all).
    std::function<void(std::uint32_t, std::uint32_t)> progress;
};

struct FormatReport {
    Geometry geometry;
    std::uint64_t capacityBytes = 0;        // bytes available to files
    std::vector<std::uint32_t> badSectors;  // sectors that failed a full format's check
};

// Writes a fresh, empty FAT12 volume over the whole device.
Result<FormatReport> format(SectorDevice& device, const FormatOptions& options);

// One entry of the root directory as the user sees it.
struct FileInfo {
    std::string name;  // "MINIDOS.SYS": 8.3, capitals, dot only when there is an extension
    std::uint32_t size = 0;
    std::uint8_t attributes = 0;
    std::uint16_t firstCluster = 0;
};

// A mounted volume: the boot sector, the first FAT and the root directory held in memory.
// Every change is written through to the device before the call returns. The device must
// outlive the volume.
class Volume {
  public:
    // Reads and checks the boot sector, the FATs and the root directory.
    static Result<Volume> mount(SectorDevice& device);

    // Creates or replaces a file in the root directory. `name` is a DOS name such as
    // "minidos.sys" (stored in capitals); `when` gives the entry's date and time.
    // A bad name, too little room or a full root directory fail before anything is written.
    // Data goes first, then the FATs, then the entry, so a device error part way leaves at
    // worst lost clusters (or, where the old file had to make room first, no file at all),
    // never an entry pointing at data not yet written.
    Status writeFile(std::string_view name, std::span<const std::uint8_t> data, std::time_t when);
    Result<std::vector<std::uint8_t>> readFile(std::string_view name) const;
    Status removeFile(std::string_view name);
    std::vector<FileInfo> list() const;
    // The entry of a file or directory, looked up as writeFile would; none for a bad name.
    std::optional<FileInfo> find(std::string_view name) const;
    std::uint64_t freeBytes() const;
    const Geometry& geometry() const { return m_geometry; }

  private:
    explicit Volume(SectorDevice& device) : m_device(&device) {}

    std::uint32_t clusterBytes() const;
    std::optional<std::size_t> findEntry(const std::string& shortName) const;
    std::optional<std::size_t> findFreeEntry() const;
    Result<std::vector<std::uint16_t>> chainOf(std::uint16_t first, std::string_view name) const;
    std::vector<std::uint16_t> allocate(const std::vector<std::uint8_t>& fat,
                                        std::uint32_t count) const;
    Status writeClusters(const std::vector<std::uint16_t>& chain, const std::uint8_t* data);
    Status writeFatChanges(const std::vector<std::uint8_t>& before,
                           const std::vector<std::uint8_t>& after);
    Status writeRootEntry(const std::vector<std::uint8_t>& root, std::size_t index);
    Status failAndReload(Status failure);
    SectorDevice* m_device;
    Geometry m_geometry{};
    std::uint32_t m_firstRootSector = 0;
    std::uint32_t m_firstDataSector = 0;
    std::uint32_t m_clusterCount = 0;
    std::vector<std::uint8_t> m_fat;   // the first FAT, as on the medium
    std::vector<std::uint8_t> m_root;  // the root directory, as on the medium
};

// "minidos.sys" -> "MINIDOS SYS" (11 bytes); fails for names that are no valid 8.3 name.
Result<std::string> toShortName(std::string_view name);

}  // namespace fat
