// Formatting: the layout of each diskette size, the boot sector and its boot program, a full
// format's check of every sector, and the system area written in an order no crash can tear.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/fat12_common.h"
#include "fat/fat_table.h"
#include "fat/layout.h"

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

namespace {

constexpr std::array<Geometry, 5> kGeometries = {{
    // sectors, per track, heads, per cluster, reserved, FATs, per FAT, root entries, media
    {720, 9, 2, 2, 1, 2, 2, 112, 0xFD},    // 360 KB, 5.25"
    {1440, 9, 2, 2, 1, 2, 3, 112, 0xF9},   // 720 KB, 3.5"
    {2400, 15, 2, 1, 1, 2, 7, 224, 0xF9},  // 1.2 MB, 5.25"
    {2880, 18, 2, 1, 1, 2, 9, 224, 0xF0},  // 1.44 MB, 3.5"
    {5760, 36, 2, 2, 1, 2, 9, 240, 0xF0},  // 2.88 MB, 3.5"
}};

constexpr char kOemName[] = "QUENVOL ";
constexpr char kFsType[] = "FAT12   ";

// Loaded at 0x7C00 and entered at kBootCode (0x7C3E) through the jump in the first bytes.
// It says that the diskette holds no system, on the screen and on the first serial port,
// waits for a key and asks the BIOS to boot again.
constexpr std::uint8_t kBootProgram[] = {
    0xFA,              // cli
    0x31, 0xC0,        // xor ax, ax
    0x8E, 0xD8,        // mov ds, ax
    0x8E, 0xD0,        // mov ss, ax
    0xBC, 0x00, 0x7C,  // mov sp, 0x7C00            stack grows down below the boot sector
    0xFB,              // sti
    0xFC,              // cld
    0xB8, 0xE3, 0x00,  // mov ax, 0x00E3            int 14h ah=0: 9600 baud, 8N1
    0x31, 0xD2,        // xor dx, dx                COM1
    0xCD, 0x14,        // int 0x14
    0xBE, 0x7B, 0x7C,  // mov si, 0x7C7B            the message, right after this code
    // next:
    0xAC,              // lodsb
    0x84, 0xC0,        // test al, al
    0x74, 0x19,        // jz wait_key               message ends with a zero byte
    0x88, 0xC1,        // mov cl, al
    0xB4, 0x0E,        // mov ah, 0x0E              int 10h teletype output
    0xBB, 0x07, 0x00,  // mov bx, 0x0007            page 0, grey
    0xCD, 0x10,        // int 0x10
    0xBA, 0xFD, 0x03,  // mov dx, 0x3FD             COM1 line status
    // busy:
    0xEC,              // in al, dx
    0xA8, 0x20,        // test al, 0x20             transmitter holding register empty?
    0x74, 0xFB,        // jz busy                   (a missing port reads 0xFF: no hang)
    0xBA, 0xF8, 0x03,  // mov dx, 0x3F8             COM1 data
    0x88, 0xC8,        // mov al, cl
    0xEE,              // out dx, al
    0xEB, 0xE2,        // jmp next
    // wait_key:
    0x31, 0xC0,  // xor ax, ax
    0xCD, 0x16,  // int 0x16                  wait for a key
    0xCD, 0x19,  // int 0x19                  boot again
    // halt:
    0xF4,        // hlt
    0xEB, 0xFD,  // jmp halt
};
constexpr char kBootMessage[] = "\r\nNon-system disk. Replace the disk and press any key.\r\n";
static_assert(0x7C00 + boot::kBootCode + sizeof kBootProgram == 0x7C7B,
              "the message address in kBootProgram");
static_assert(boot::kBootCode + sizeof kBootProgram + sizeof kBootMessage <= boot::kSignature,
              "the boot program fits before the signature");

std::array<std::uint8_t, kSectorSize> buildBootSector(const Geometry& g, std::uint32_t serial,
                                                      const std::string& label) {
    std::array<std::uint8_t, kSectorSize> s{};
    s[boot::kJump] = 0xEB;  // jmp short kBootCode
    s[boot::kJump + 1] = static_cast<std::uint8_t>(boot::kBootCode - 2);
    s[boot::kJump + 2] = 0x90;  // nop
    std::memcpy(&s[boot::kOemName], kOemName, 8);
    store16(&s[boot::kBytesPerSector], kSectorSize);
    s[boot::kSectorsPerCluster] = g.sectorsPerCluster;
    store16(&s[boot::kReservedSectors], g.reservedSectors);
    s[boot::kFatCount] = g.fatCount;
    store16(&s[boot::kRootEntries], g.rootEntries);
    store16(&s[boot::kTotalSectors16], static_cast<std::uint16_t>(g.totalSectors));
    s[boot::kMedia] = g.media;
    store16(&s[boot::kSectorsPerFat], g.sectorsPerFat);
    store16(&s[boot::kSectorsPerTrack], g.sectorsPerTrack);
    store16(&s[boot::kHeads], g.heads);
    store32(&s[boot::kHiddenSectors], 0);
    store32(&s[boot::kTotalSectors32], 0);
    s[boot::kDriveNumber] = 0x00;
    s[boot::kExtSignature] = boot::kExtSignatureValue;
    store32(&s[boot::kSerial], serial);
    std::memcpy(&s[boot::kLabel], label.data(), kLabelBytes);
    std::memcpy(&s[boot::kFsType], kFsType, 8);
    std::memcpy(&s[boot::kBootCode], kBootProgram, sizeof kBootProgram);
    std::memcpy(&s[boot::kBootCode + sizeof kBootProgram], kBootMessage, sizeof kBootMessage);
    store16(&s[boot::kSignature], boot::kSignatureValue);
    return s;
}

std::uint32_t serialFromClock(std::time_t clock, bool fixedClock) {
    std::uint64_t seed = static_cast<std::uint64_t>(clock);
    if (!fixedClock) {
        seed ^=
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    seed *= 0x9E3779B97F4A7C15ULL;  // spreads nearby times over the whole range
    return static_cast<std::uint32_t>(seed >> 32);
}

struct SectorCheck {
    std::vector<std::uint32_t> bad;
    std::string firstError;  // what the device said about the first bad sector
    std::string flushError;  // the cleared system area could not be made durable
};

// Writes and reads back every sector, a track a transfer, retrying a failed track sector by
// sector: a sector that fails either way, or reads back other bytes than were written, is bad.
// Stops at a bad sector of the system area, since the disk is then unusable anyway. The
// device must read the medium itself for this to mean anything (drive A: is opened past the
// page cache for it).
SectorCheck checkEverySector(SectorDevice& device, const Geometry& g,
                             const FormatOptions& options) {
    const std::uint32_t chunk = g.sectorsPerTrack;
    const std::vector<std::uint8_t> zeros(std::size_t{chunk} * kSectorSize, 0);
    std::vector<std::uint8_t> back(zeros.size());
    SectorCheck check;
    auto writesBack = [&](std::uint32_t first, std::uint32_t count) {
        std::fill(back.begin(), back.end(), 0xA5);
        Status s = device.write(first, count, zeros.data());
        if (s) s = device.read(first, count, back.data());
        if (s && !std::all_of(back.begin(), back.begin() + std::size_t{count} * kSectorSize,
                              [](std::uint8_t b) { return b == 0; })) {
            s = Status::failure(Failure::IoError,
                                "sector " + std::to_string(first) + " read back wrong");
        }
        if (!s && count == 1 && check.firstError.empty()) check.firstError = s.message();
        return s.ok();
    };
    for (std::uint32_t first = 0; first < g.totalSectors; first += chunk) {
        const std::uint32_t count = std::min(chunk, g.totalSectors - first);
        if (!writesBack(first, count)) {
            for (std::uint32_t s = first; s < first + count; ++s) {
                if (!writesBack(s, 1)) check.bad.push_back(s);
            }
            if (!check.bad.empty() && check.bad.front() < firstDataSector(g)) return check;
        }
        // The old root directory is cleared durably before any old file's clusters are:
        // until then its entries would name what this check overwrites.
        if (first < firstDataSector(g) && first + count >= firstDataSector(g)) {
            if (Status s = device.flush(); !s) {
                check.flushError = s.message();
                return check;
            }
        }
        if (options.progress) options.progress(first + count, g.totalSectors);
    }
    return check;
}

}  // namespace

Result<Geometry> geometryForSize(std::uint64_t bytes) {
    for (const Geometry& g : kGeometries) {
        if (std::uint64_t{g.totalSectors} * kSectorSize == bytes) return g;
    }
    return Status::failure(Failure::NotDiskette, "a medium of " + std::to_string(bytes) +
                                                     " bytes has no diskette format");
}

namespace {

// A full format's check of every sector: the bad sectors of the data area, or a failure when
// the system area is unusable or cannot be made durable.
Result<std::vector<std::uint32_t>> checkForFormat(SectorDevice& device, const Geometry& g,
                                                  const FormatOptions& options) {
    SectorCheck check = checkEverySector(device, g, options);
    if (!check.flushError.empty()) {
        return Status::failure(Failure::IoError, "format: " + check.flushError);
    }
    if (!check.bad.empty() && check.bad.front() < firstDataSector(g)) {
        return Status::failure(Failure::IoError,
                               "format: sector " + std::to_string(check.bad.front()) +
                                   " of the boot sector, FATs or root directory is unusable (" +
                                   check.firstError + ")");
    }
    return std::move(check.bad);
}

// The boot sector, the FAT copies and the root directory of a fresh volume.
struct SystemArea {
    std::vector<std::uint8_t> bytes;
    std::uint32_t badClusters = 0;  // clusters the FATs set aside for `badSectors`
};

SystemArea buildSystemArea(const Geometry& g, std::uint32_t serial, std::string_view label,
                           std::time_t clock, const LocalClock& local,
                           const std::vector<std::uint32_t>& badSectors) {
    const std::uint32_t dataStart = firstDataSector(g);
    SystemArea area;
    area.bytes.assign(std::size_t{dataStart} * kSectorSize, 0);
    const std::string field = labelField(label);
    const auto bootSector = buildBootSector(g, serial, field);
    std::copy(bootSector.begin(), bootSector.end(), area.bytes.begin());
    std::vector<std::uint8_t> fatBytes(std::size_t{g.sectorsPerFat} * kSectorSize, 0);
    setFatEntry(fatBytes, 0, static_cast<std::uint16_t>(0xF00 | g.media));
    setFatEntry(fatBytes, 1, cluster::kEndOfChain);
    const std::uint32_t clusters = clusterCount(g);
    for (std::uint32_t s : badSectors) {
        const std::uint32_t n = (s - dataStart) / g.sectorsPerCluster + cluster::kFirstData;
        if (n >= clusters + cluster::kFirstData) continue;  // sectors past the last whole cluster
        if (fatEntry(fatBytes, n) != cluster::kBad) {
            setFatEntry(fatBytes, n, cluster::kBad);
            ++area.badClusters;
        }
    }
    for (std::uint32_t copy = 0; copy < g.fatCount; ++copy) {
        std::copy(fatBytes.begin(), fatBytes.end(),
                  area.bytes.begin() +
                      (g.reservedSectors + std::size_t{copy} * g.sectorsPerFat) * kSectorSize);
    }
    if (!label.empty()) {
        std::uint8_t* entry = &area.bytes[std::size_t{firstRootSector(g)} * kSectorSize];
        std::memcpy(entry + dirent::kName, field.data(), kLabelBytes);
        entry[dirent::kAttributes] = dirent::kAttrVolumeLabel;
        stampEntry(entry, clock, local);
    }
    return area;
}

// Puts the system area on the medium and makes it durable. A quick format empties the root
// directory first, durably: until then its old entries would name clusters that the new FATs
// call free. A full format's check has done so.
Status writeSystemArea(SectorDevice& device, const Geometry& g,
                       const std::vector<std::uint8_t>& system, bool quick) {
    const std::uint32_t rootStart = firstRootSector(g);
    const std::uint32_t dataStart = firstDataSector(g);
    std::uint32_t tablesEnd = dataStart;
    if (quick) {
        if (Status s = device.write(rootStart, dataStart - rootStart,
                                    &system[std::size_t{rootStart} * kSectorSize]);
            !s) {
            return within("format: writing the root directory: ", s);
        }
        if (Status s = device.flush(); !s) return within("format: ", s);
        tablesEnd = rootStart;
    }
    if (Status s = device.write(0, tablesEnd, system.data()); !s) {
        return within("format: writing the boot sector, FATs and root directory: ", s);
    }
    if (Status s = device.flush(); !s) return within("format: ", s);
    return Status::success();
}

}  // namespace

// Choose the layout, check the medium (a full format), build the tables, write them, sync.
Result<FormatReport> format(SectorDevice& device, const FormatOptions& options) {
    const std::uint64_t bytes = std::uint64_t{device.sectorCount()} * kSectorSize;
    Result<Geometry> geometry = geometryForSize(bytes);
    if (!geometry) return geometry.error();
    const Geometry& g = *geometry;
    if (const LabelCheck check = checkVolumeLabel(options.label); !check.ok()) {
        return labelRefusal(options.label, check);
    }
    const std::time_t clock = options.clock.value_or(std::time(nullptr));
    const std::uint32_t serial =
        options.serial.value_or(serialFromClock(clock, options.clock.has_value()));

    FormatReport report;
    report.geometry = g;
    if (!options.quick) {
        Result<std::vector<std::uint32_t>> bad = checkForFormat(device, g, options);
        if (!bad) return bad.error();
        report.badSectors = std::move(*bad);
    }
    const SystemArea area =
        buildSystemArea(g, serial, options.label, clock,
                        options.localClock ? *options.localClock : utcClock(), report.badSectors);
    if (Status s = writeSystemArea(device, g, area.bytes, options.quick); !s) return s.error();
    if (options.quick && options.progress) options.progress(g.totalSectors, g.totalSectors);
    report.capacityBytes =
        std::uint64_t{clusterCount(g) - area.badClusters} * g.sectorsPerCluster * kSectorSize;
    return report;
}

FileSpace fileSpace(const Geometry& g) {
    const std::uint64_t cluster = std::uint64_t{g.sectorsPerCluster} * kSectorSize;
    const std::uint64_t clusters = g.totalSectors > firstDataSector(g) ? clusterCount(g) : 0;
    return {clusters * cluster, cluster};
}

}  // namespace fat
