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

#include "base/result.h"
#include "fat/clock.h"
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
base::Result<Geometry> geometryForSize(std::uint64_t bytes);

struct FormatOptions {
    std::string label;                    // volume label; empty gives "NO NAME"
    bool quick = true;                    // system area only, or every sector written and read back
    std::optional<std::uint32_t> serial;  // fixed by tests; otherwise from the clock
    std::optional<std::time_t> clock;     // fixed by tests; otherwise the current time
    // Gives the label entry's stamp in local time; none stamps it in UTC.
    const LocalClock* localClock = nullptr;
    // Called now and then during a full format with (sectors done, sectors in all).
    std::function<void(std::uint32_t, std::uint32_t)> progress;
};

struct FormatReport {
    Geometry geometry;
    std::uint64_t capacityBytes = 0;        // bytes available to files
    std::vector<std::uint32_t> badSectors;  // sectors that failed a full format's check
};

// What the files of a freshly formatted volume of this layout may take, and a cluster's bytes.
struct FileSpace {
    std::uint64_t bytes = 0;
    std::uint64_t clusterBytes = 0;
};
FileSpace fileSpace(const Geometry& g);

// Writes a fresh, empty FAT12 volume over the whole device.
base::Result<FormatReport> format(SectorDevice& device, const FormatOptions& options);

// One entry of the root directory as the user sees it.
struct FileInfo {
    std::string name;  // "MINIDOS.SYS": 8.3, capitals, dot only when there is an extension
    std::uint32_t size = 0;
    std::uint8_t attributes = 0;
    std::uint16_t firstCluster = 0;
};

// A mounted volume: the boot sector, the first FAT and the root directory held in memory.
// The device must outlive the volume.
//
// The order of writes keeps one rule, whatever the device puts on the medium between two
// flushes and wherever a crash cuts in: nothing that names clusters (a directory entry, or a
// FAT chain an entry reaches) reaches the medium before the data in them is durable, and no
// cluster is reused while a durable entry still names it. So a crash leaves each file whole
// with its old or its new content, or gone, and at worst lost clusters, never a cross-link.
class Volume {
  public:
    // Reads and checks the boot sector, the FATs and the root directory. `clock` stamps the
    // entries of files written (the system's local clock, outside tests); it must outlive the
    // volume.
    static base::Result<Volume> mount(SectorDevice& device, const LocalClock& clock = utcClock());

    // Creates or replaces a file in the root directory and makes it durable: stageFile,
    // commit and a flush. `name` is a DOS name such as "minidos.sys" (stored in capitals);
    // `when` gives the entry's date and time. A bad name, too little room or a full root
    // directory fail before anything is written.
    base::Status writeFile(std::string_view name, std::span<const std::uint8_t> data,
                           std::time_t when);
    // Writes a file's data into clusters nothing names and keeps its chain and entry in memory
    // until commit(), so that files staged one after another need one commit between them.
    // Lookups here see the staged file at once; the medium shows the old one (or none) until
    // the commit. Where the old file must make room first it is removed, durably, before its
    // clusters take new data (a crash then leaves the file absent).
    base::Status stageFile(std::string_view name, std::span<const std::uint8_t> data,
                           std::time_t when);
    // Puts what was staged on the medium: the new chains, a flush; the entries; and where
    // files were replaced, a flush and then their old clusters freed. The last writes are left
    // for the caller's flush. A failure gives up what was staged.
    base::Status commit();
    bool hasStaged() const;
    // Fails when the medium no longer holds the boot sector and tables this volume has written,
    // for instance when the diskette was changed between two calls.
    base::Status checkMedium() const;

    base::Result<std::vector<std::uint8_t>> readFile(std::string_view name) const;
    // Commits what was staged, then removes the file: its entry, a flush, its clusters, a flush.
    base::Status removeFile(std::string_view name);
    std::vector<FileInfo> list() const;
    // The entry of a file or directory, looked up as writeFile would; none for a bad name.
    std::optional<FileInfo> find(std::string_view name) const;
    std::uint64_t freeBytes() const;
    const Geometry& geometry() const { return m_geometry; }

  private:
    // Where a file being staged goes: its directory slot, the clusters it needs, and the chain
    // of the file it replaces until that chain is freed.
    struct Placement {
        std::size_t slot = 0;
        bool replaces = false;
        std::uint32_t clusters = 0;
        std::vector<std::uint16_t> oldChain;
    };

    Volume(SectorDevice& device, const LocalClock& clock) : m_device(&device), m_clock(&clock) {}
    base::Status loadTables();
    base::Result<Placement> placeFile(const std::string& shortName, std::string_view name,
                                      std::size_t bytes);
    base::Status freeOldIfNeeded(Placement& place, const std::string& what);
    base::Result<std::vector<std::uint16_t>> writeChain(std::uint32_t clusters,
                                                        std::span<const std::uint8_t> data);
    base::Status stageEntry(std::size_t slot, const std::string& shortName,
                            std::uint16_t firstCluster, std::size_t bytes, std::time_t when,
                            const std::string& what);

    std::uint32_t clusterBytes() const;
    std::optional<std::size_t> findEntry(const std::string& shortName) const;
    std::optional<std::size_t> findFreeEntry() const;
    base::Result<std::vector<std::uint16_t>> chainOf(std::uint16_t first,
                                                     std::string_view name) const;
    std::vector<std::uint16_t> allocate(const std::vector<std::uint8_t>& fat,
                                        std::uint32_t count) const;
    base::Status writeClusters(const std::vector<std::uint16_t>& chain, const std::uint8_t* data);
    base::Status writeFatChanges(const std::vector<std::uint8_t>& before,
                                 const std::vector<std::uint8_t>& after);
    base::Status writeRootChanges(const std::vector<std::uint8_t>& before,
                                  const std::vector<std::uint8_t>& after);
    base::Status removeEntry(std::size_t index, const std::vector<std::uint16_t>& chain);
    bool isStagedEntry(std::size_t index) const;
    base::Status failAndReload(base::Status failure);
    SectorDevice* m_device;
    const LocalClock* m_clock;
    Geometry m_geometry{};
    std::uint32_t m_firstRootSector = 0;
    std::uint32_t m_firstDataSector = 0;
    std::uint32_t m_clusterCount = 0;
    std::vector<std::uint8_t> m_bootSector;
    // The first FAT and the root directory with what is staged, and as written to the device.
    // Staged chains are in m_fat; the clusters of replaced files stay taken there until the
    // commit frees them (m_pendingFree).
    std::vector<std::uint8_t> m_fat;
    std::vector<std::uint8_t> m_root;
    std::vector<std::uint8_t> m_fatOnMedium;
    std::vector<std::uint8_t> m_rootOnMedium;
    std::vector<std::uint16_t> m_pendingFree;
};

// "minidos.sys" -> "MINIDOS SYS" (11 bytes); fails for names that are no valid 8.3 name.
base::Result<std::string> toShortName(std::string_view name);

// ---- Volume labels: the one rule, for the command line, the format dialog and the formatter.
//
// A label is at most 11 bytes of ASCII: letters, digits, the blank (not first) and
// !#$%&'()-@^_`{}~; small letters are stored as capitals. Bytes from 0x80 up are refused: the
// label field is read in the DOS code page of whatever machine boots the diskette, so such a
// byte would show as another character there (and text typed here arrives as UTF-8), and
// fsck.fat takes a label holding one for damage and removes it. So a label never begins with
// 0xE5, the mark of a free directory entry.
inline constexpr std::size_t kLabelBytes = 11;

enum class LabelFault { None, TooLong, LeadingBlank, BadCharacter };

struct LabelCheck {
    LabelFault fault = LabelFault::None;
    std::size_t bytes = 0;        // the label's length in bytes
    unsigned char character = 0;  // BadCharacter: the first byte not allowed
    bool ok() const { return fault == LabelFault::None; }
};

LabelCheck checkVolumeLabel(std::string_view label);

// The boot sector's label field for a label that passes: capitals, blank-padded to 11 bytes;
// "NO NAME    " for an empty label.
std::string labelField(std::string_view label);

// ---- Boot sectors written by others (crisboot.bin).

// The layout a boot sector describes, checked as mounting checks it: the 0x55AA signature,
// 512 bytes a sector, and FAT12 tables and a data area that fit in `deviceSectors`.
base::Result<Geometry> readBootSectorLayout(std::span<const std::uint8_t> sector,
                                            std::uint32_t deviceSectors);

// Whether a boot-sector image can be sector 0 of a volume laid out as `layout`: a whole
// sector, the 0x55AA signature, 512 bytes a sector, and sectors a cluster, reserved sectors,
// FAT count, root entries, total sectors, media byte, sectors a FAT, sectors a track and heads
// all as `layout` has them. Fails naming the first field that differs.
base::Status checkBootImage(std::span<const std::uint8_t> image, const Geometry& layout);

// The sector to write for `image` over `current` (both 512 bytes): the image, with the serial
// number and the label of the volume now on the diskette when both carry the extended
// parameters, so that the volume keeps its identity and its boot-sector label stays the one
// its root directory holds.
std::vector<std::uint8_t> withVolumeIdentity(std::span<const std::uint8_t> image,
                                             std::span<const std::uint8_t> current);

}  // namespace fat
