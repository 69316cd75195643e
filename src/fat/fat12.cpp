#include "fat/fat12.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "fat/endian.h"
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
constexpr char kNoLabel[] = "NO NAME    ";
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

std::uint32_t rootSectors(const Geometry& g) {
    return std::uint32_t{g.rootEntries} * dirent::kSize / kSectorSize;
}

std::uint32_t firstRootSector(const Geometry& g) {
    return g.reservedSectors + std::uint32_t{g.fatCount} * g.sectorsPerFat;
}

std::uint32_t firstDataSector(const Geometry& g) {
    return firstRootSector(g) + rootSectors(g);
}

std::uint32_t clusterCount(const Geometry& g) {
    return (g.totalSectors - firstDataSector(g)) / g.sectorsPerCluster;
}

// Bytes a FAT needs to hold the two reserved entries and `clusters` more.
std::uint64_t fatBytesNeeded(std::uint64_t clusters) {
    return (3 * (clusters + 2) + 1) / 2;
}

struct DosStamp {
    std::uint16_t date;
    std::uint16_t time;
    std::uint8_t tenths;  // 10 ms units: the odd second that the 2-second time drops
};

// Local time in the DOS encoding; years the encoding cannot hold are clamped to its ends.
DosStamp toDosStamp(std::time_t when) {
    std::tm tm{};
    const bool converted = localtime_r(&when, &tm) != nullptr;
    const long long year = converted ? tm.tm_year + 1900LL : (when < 0 ? 1979 : 2108);
    if (year < 1980) return {static_cast<std::uint16_t>((1 << 5) | 1), 0, 0};
    if (year > 2107) {
        return {static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31),
                static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29), 100};
    }
    const int second = std::min(tm.tm_sec, 59);  // a leap second has no encoding
    DosStamp stamp{};
    stamp.date =
        static_cast<std::uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    stamp.time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (second / 2));
    stamp.tenths = static_cast<std::uint8_t>((second % 2) * 100);
    return stamp;
}

void stampEntry(std::uint8_t* entry, std::time_t when) {
    const DosStamp stamp = toDosStamp(when);
    entry[dirent::kCreateTenths] = stamp.tenths;
    store16(entry + dirent::kCreateTime, stamp.time);
    store16(entry + dirent::kCreateDate, stamp.date);
    store16(entry + dirent::kAccessDate, stamp.date);
    store16(entry + dirent::kWriteTime, stamp.time);
    store16(entry + dirent::kWriteDate, stamp.date);
}

// Characters DOS allows in a short name besides letters and digits; bytes from 0x80 up
// belong to the code page and are allowed as well.
bool isShortNameChar(unsigned char c) {
    if (c >= 0x80) return true;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != '\0';
}

char toUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A new label that fails the rule, in words.
base::Error labelRefusal(std::string_view label, const LabelCheck& check) {
    const std::string quoted = "volume label \"" + std::string(label) + "\"";
    switch (check.fault) {
        case LabelFault::TooLong:
            return Status::failure(Failure::BadData, quoted + " is longer than 11 bytes");
        case LabelFault::LeadingBlank:
            return Status::failure(Failure::BadData, quoted + " begins with a blank");
        case LabelFault::BadCharacter:
        case LabelFault::None:  // only refused labels come here
            break;
    }
    return Status::failure(Failure::BadData, quoted + " holds a character not allowed in a label");
}

std::string displayName(const std::uint8_t* entry) {
    std::string base(reinterpret_cast<const char*>(entry), 8);
    std::string ext(reinterpret_cast<const char*>(entry + 8), 3);
    if (static_cast<std::uint8_t>(base[0]) == dirent::kEscapedE5) base[0] = static_cast<char>(0xE5);
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

// Entries a name lookup or the file list may see: not free, not a label, not a long-name piece.
bool isVisibleEntry(const std::uint8_t* entry) {
    const std::uint8_t attributes = entry[dirent::kAttributes];
    return entry[0] != dirent::kDeletedMark && (attributes & dirent::kAttrVolumeLabel) == 0;
}

// The same failure with what was being done put in front of its detail: the kind stays the
// device's (an I/O error, write protection...).
base::Error within(const std::string& what, const Status& s) {
    return Status::failure(s.kind(), what + s.message());
}

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

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

Result<std::string> toShortName(std::string_view name) {
    const std::string quoted = "\"" + std::string(name) + "\"";
    auto bad = [](const std::string& why) { return Status::failure(Failure::BadData, why); };
    if (name.empty()) return bad("a file name is empty");
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
    if (base.empty()) return bad("file name " + quoted + " has no name before the dot");
    if (ext.find('.') != std::string_view::npos) {
        return bad("file name " + quoted + " has more than one dot");
    }
    if (base.size() > 8 || ext.size() > 3) {
        return bad("file name " + quoted + " is longer than 8.3 characters");
    }
    std::string shortName(11, ' ');
    for (std::size_t i = 0; i < base.size(); ++i) {
        if (!isShortNameChar(static_cast<unsigned char>(base[i]))) {
            return bad("file name " + quoted + " holds a character not allowed");
        }
        shortName[i] = toUpperAscii(base[i]);
    }
    for (std::size_t i = 0; i < ext.size(); ++i) {
        if (!isShortNameChar(static_cast<unsigned char>(ext[i]))) {
            return bad("file name " + quoted + " holds a character not allowed");
        }
        shortName[8 + i] = toUpperAscii(ext[i]);
    }
    return shortName;
}

LabelCheck checkVolumeLabel(std::string_view label) {
    LabelCheck check;
    check.bytes = label.size();
    if (label.size() > kLabelBytes) {
        check.fault = LabelFault::TooLong;
        return check;
    }
    if (!label.empty() && label.front() == ' ') {
        check.fault = LabelFault::LeadingBlank;
        return check;
    }
    for (const char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        // Bytes from 0x80 up belong to a code page the label cannot name (see fat12.h).
        if (byte != ' ' && (byte >= 0x80 || !isShortNameChar(byte))) {
            check.fault = LabelFault::BadCharacter;
            check.character = byte;
            return check;
        }
    }
    return check;
}

std::string labelField(std::string_view label) {
    if (label.empty()) return kNoLabel;
    std::string field;
    for (const char c : label.substr(0, kLabelBytes)) field += toUpperAscii(c);
    field.resize(kLabelBytes, ' ');
    return field;
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
                           std::time_t clock, const std::vector<std::uint32_t>& badSectors) {
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
        stampEntry(entry, clock);
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
    const SystemArea area = buildSystemArea(g, serial, options.label, clock, report.badSectors);
    if (Status s = writeSystemArea(device, g, area.bytes, options.quick); !s) return s.error();
    if (options.quick && options.progress) options.progress(g.totalSectors, g.totalSectors);
    report.capacityBytes =
        std::uint64_t{clusterCount(g) - area.badClusters} * g.sectorsPerCluster * kSectorSize;
    return report;
}

namespace {

// The boot sector's layout fields as they stand, read from a sector that has already been
// checked to be one.
Geometry bootSectorFields(std::span<const std::uint8_t> s) {
    Geometry g{};
    g.sectorsPerCluster = s[boot::kSectorsPerCluster];
    g.reservedSectors = load16(&s[boot::kReservedSectors]);
    g.fatCount = s[boot::kFatCount];
    g.rootEntries = load16(&s[boot::kRootEntries]);
    g.totalSectors = load16(&s[boot::kTotalSectors16]);
    if (g.totalSectors == 0) g.totalSectors = load32(&s[boot::kTotalSectors32]);
    g.media = s[boot::kMedia];
    g.sectorsPerFat = load16(&s[boot::kSectorsPerFat]);
    g.sectorsPerTrack = load16(&s[boot::kSectorsPerTrack]);
    g.heads = load16(&s[boot::kHeads]);
    return g;
}

base::Error bootSectorFailure(const std::string& what) {
    return Status::failure(Failure::BadData, "boot sector: " + what);
}

// Whether a layout read from a boot sector describes a FAT12 volume that fits in
// `deviceSectors`, each field that does not refused with its own words.
Status checkLayout(const Geometry& g, std::uint32_t deviceSectors) {
    const auto bad = bootSectorFailure;
    if (g.sectorsPerCluster == 0 || (g.sectorsPerCluster & (g.sectorsPerCluster - 1)) != 0) {
        return bad("sectors per cluster is " + std::to_string(g.sectorsPerCluster) +
                   ", not a power of two");
    }
    if (g.reservedSectors == 0) return bad("no reserved sectors, so no room for itself");
    if (g.fatCount == 0) return bad("the number of FATs is 0");
    if (g.sectorsPerFat == 0) return bad("sectors per FAT is 0");
    if (g.rootEntries == 0 || g.rootEntries % (kSectorSize / dirent::kSize) != 0) {
        return bad("root directory entries " + std::to_string(g.rootEntries) +
                   " do not fill whole sectors");
    }
    if (g.media != 0xF0 && g.media < 0xF8)
        return bad("media descriptor " + hex(g.media, 2) + " is not valid");
    if (g.totalSectors > deviceSectors) {
        return bad("total sectors " + std::to_string(g.totalSectors) + " exceed the medium's " +
                   std::to_string(deviceSectors));
    }
    const std::uint64_t dataStart = std::uint64_t{g.reservedSectors} +
                                    std::uint64_t{g.fatCount} * g.sectorsPerFat +
                                    std::uint64_t{g.rootEntries} * dirent::kSize / kSectorSize;
    if (dataStart >= g.totalSectors) {
        return bad("FATs and root directory end at sector " + std::to_string(dataStart) +
                   ", leaving no data area in " + std::to_string(g.totalSectors) + " sectors");
    }
    const std::uint64_t clusters = (g.totalSectors - dataStart) / g.sectorsPerCluster;
    if (clusters == 0) return bad("the data area holds no whole cluster");
    if (clusters > cluster::kMaxFat12Clusters) {
        return bad(std::to_string(clusters) + " clusters are too many for FAT12");
    }
    if (fatBytesNeeded(clusters) > std::uint64_t{g.sectorsPerFat} * kSectorSize) {
        return bad(std::to_string(g.sectorsPerFat) + " sectors per FAT cannot hold " +
                   std::to_string(clusters) + " clusters");
    }
    return Status::success();
}

}  // namespace

Result<Geometry> readBootSectorLayout(std::span<const std::uint8_t> s,
                                      std::uint32_t deviceSectors) {
    const auto bad = bootSectorFailure;
    if (s.size() < kSectorSize) {
        return bad("only " + std::to_string(s.size()) + " bytes, a sector holds 512");
    }
    if (load16(&s[boot::kSignature]) != boot::kSignatureValue) {
        return bad("signature " + hex(load16(&s[boot::kSignature]), 4) + " is not 0xAA55");
    }
    const std::uint16_t bytesPerSector = load16(&s[boot::kBytesPerSector]);
    if (bytesPerSector != kSectorSize) {
        return bad("bytes per sector is " + std::to_string(bytesPerSector) + ", not 512");
    }
    const Geometry g = bootSectorFields(s);
    if (Status checked = checkLayout(g, deviceSectors); !checked) return checked.error();
    return g;
}

Status checkBootImage(std::span<const std::uint8_t> image, const Geometry& layout) {
    if (image.size() < kSectorSize) {
        return Status::failure(Failure::BadData, "it holds " + std::to_string(image.size()) +
                                                     " bytes; a boot sector is 512");
    }
    if (load16(&image[boot::kSignature]) != boot::kSignatureValue) {
        return Status::failure(Failure::BadData,
                               "it does not end in the boot-sector signature 0x55AA");
    }
    if (load16(&image[boot::kBytesPerSector]) != kSectorSize) {
        return Status::failure(Failure::BadData,
                               "bytes a sector is " +
                                   std::to_string(load16(&image[boot::kBytesPerSector])) +
                                   " in the image, 512 for the diskette");
    }
    std::uint32_t total = load16(&image[boot::kTotalSectors16]);
    if (total == 0) total = load32(&image[boot::kTotalSectors32]);
    struct Field {
        const char* what;
        std::uint32_t image;
        std::uint32_t volume;
    };
    const Field fields[] = {
        {"sectors a cluster", image[boot::kSectorsPerCluster], layout.sectorsPerCluster},
        {"reserved sectors", load16(&image[boot::kReservedSectors]), layout.reservedSectors},
        {"FAT copies", image[boot::kFatCount], layout.fatCount},
        {"root directory entries", load16(&image[boot::kRootEntries]), layout.rootEntries},
        {"total sectors", total, layout.totalSectors},
        {"media byte", image[boot::kMedia], layout.media},
        {"sectors a FAT", load16(&image[boot::kSectorsPerFat]), layout.sectorsPerFat},
        {"sectors a track", load16(&image[boot::kSectorsPerTrack]), layout.sectorsPerTrack},
        {"heads", load16(&image[boot::kHeads]), layout.heads},
    };
    for (const Field& f : fields) {
        if (f.image != f.volume) {
            return Status::failure(Failure::BadData,
                                   std::string(f.what) + " is " + std::to_string(f.image) +
                                       " in the image, " + std::to_string(f.volume) +
                                       " for the diskette");
        }
    }
    return Status::success();
}

std::vector<std::uint8_t> withVolumeIdentity(std::span<const std::uint8_t> image,
                                             std::span<const std::uint8_t> current) {
    std::vector<std::uint8_t> sector(image.begin(),
                                     image.begin() + std::min(image.size(), kSectorSize));
    sector.resize(kSectorSize, 0);
    // Without the extended signature these bytes are boot code, which must stay as it is.
    if (current.size() >= kSectorSize && sector[boot::kExtSignature] == boot::kExtSignatureValue &&
        current[boot::kExtSignature] == boot::kExtSignatureValue) {
        std::copy_n(&current[boot::kSerial], 4, &sector[boot::kSerial]);
        std::copy_n(&current[boot::kLabel], kLabelBytes, &sector[boot::kLabel]);
    }
    return sector;
}

namespace {

// Reads sector 0 into `sector` and the layout it describes, checked against the medium.
Result<Geometry> readVolumeLayout(SectorDevice& device, std::vector<std::uint8_t>& sector) {
    const std::uint32_t deviceSectors = device.sectorCount();
    if (deviceSectors == 0) return Status::failure("mount: the medium has no sectors");
    sector.assign(kSectorSize, 0);
    if (Status st = device.read(0, 1, sector.data()); !st) {
        return within("mount: reading the boot sector: ", st);
    }
    return readBootSectorLayout(sector, deviceSectors);
}

}  // namespace

Result<Volume> Volume::mount(SectorDevice& device) {
    std::vector<std::uint8_t> bootSector;
    Result<Geometry> layout = readVolumeLayout(device, bootSector);
    if (!layout) return layout.error();
    const Geometry& g = *layout;
    Volume volume(device);
    volume.m_geometry = g;
    volume.m_firstRootSector = firstRootSector(g);
    volume.m_firstDataSector = firstDataSector(g);
    volume.m_clusterCount = clusterCount(g);
    volume.m_bootSector = std::move(bootSector);
    if (Status st = volume.loadTables(); !st) return st.error();
    return volume;
}

// Reads the first FAT and the root directory of the layout the boot sector gave.
Status Volume::loadTables() {
    const Geometry& g = m_geometry;
    m_fat.resize(std::size_t{g.sectorsPerFat} * kSectorSize);
    if (Status st = m_device->read(g.reservedSectors, g.sectorsPerFat, m_fat.data()); !st) {
        return within("mount: reading the FAT: ", st);
    }
    if (m_fat[0] != g.media) {
        return Status::failure(Failure::BadData, "FAT: first byte " + hex(m_fat[0], 2) +
                                                     " does not match the media descriptor " +
                                                     hex(g.media, 2));
    }
    m_root.resize(std::size_t{g.rootEntries} * dirent::kSize);
    if (Status st = m_device->read(m_firstRootSector, rootSectors(g), m_root.data()); !st) {
        return within("mount: reading the root directory: ", st);
    }
    m_fatOnMedium = m_fat;
    m_rootOnMedium = m_root;
    return Status::success();
}

std::uint32_t Volume::clusterBytes() const {
    return std::uint32_t{m_geometry.sectorsPerCluster} * kSectorSize;
}

std::optional<std::size_t> Volume::findEntry(const std::string& shortName) const {
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t* entry = &m_root[i * dirent::kSize];
        if (entry[0] == dirent::kEndMark) break;
        if (!isVisibleEntry(entry)) continue;
        const char first =
            entry[0] == dirent::kEscapedE5 ? static_cast<char>(0xE5) : static_cast<char>(entry[0]);
        if (first == shortName[0] && std::memcmp(entry + 1, shortName.data() + 1, 10) == 0) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> Volume::findFreeEntry() const {
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t first = m_root[i * dirent::kSize];
        if (first == dirent::kEndMark || first == dirent::kDeletedMark) return i;
    }
    return std::nullopt;
}

// The clusters of a chain in order, checked: each one a data cluster, none twice, ending in
// an end-of-chain mark.
Result<std::vector<std::uint16_t>> Volume::chainOf(std::uint16_t first,
                                                   std::string_view name) const {
    std::vector<std::uint16_t> chain;
    if (first == cluster::kFree) return chain;
    std::vector<bool> seen(m_clusterCount + cluster::kFirstData, false);
    std::uint16_t n = first;
    while (true) {
        if (n < cluster::kFirstData || n >= m_clusterCount + cluster::kFirstData || seen[n]) {
            return Status::failure(Failure::BadData, "the cluster chain of " + std::string(name) +
                                                         " is broken at cluster " +
                                                         std::to_string(n));
        }
        seen[n] = true;
        chain.push_back(n);
        const std::uint16_t next = fatEntry(m_fat, n);
        if (next >= cluster::kMinEndOfChain) return chain;
        n = next;
    }
}

std::vector<std::uint16_t> Volume::allocate(const std::vector<std::uint8_t>& fat,
                                            std::uint32_t count) const {
    std::vector<std::uint16_t> chain;
    for (std::uint32_t n = cluster::kFirstData;
         n < m_clusterCount + cluster::kFirstData && chain.size() < count; ++n) {
        if (fatEntry(fat, n) == cluster::kFree) chain.push_back(static_cast<std::uint16_t>(n));
    }
    return chain;
}

// One device call per run of consecutive clusters.
Status Volume::writeClusters(const std::vector<std::uint16_t>& chain, const std::uint8_t* data) {
    const std::uint32_t perCluster = m_geometry.sectorsPerCluster;
    for (std::size_t i = 0; i < chain.size();) {
        std::size_t j = i + 1;
        while (j < chain.size() && chain[j] == chain[j - 1] + 1) ++j;
        const std::uint32_t first =
            m_firstDataSector + (chain[i] - cluster::kFirstData) * perCluster;
        const auto count = static_cast<std::uint32_t>((j - i) * perCluster);
        if (Status s = m_device->write(first, count, data + i * clusterBytes()); !s) {
            return within("writing the data: ", s);
        }
        i = j;
    }
    return Status::success();
}

// Writes the FAT sectors that differ, each run of them in one call per FAT copy.
Status Volume::writeFatChanges(const std::vector<std::uint8_t>& before,
                               const std::vector<std::uint8_t>& after) {
    auto differs = [&](std::uint32_t sector) {
        const std::size_t at = std::size_t{sector} * kSectorSize;
        return std::memcmp(&before[at], &after[at], kSectorSize) != 0;
    };
    for (std::uint32_t copy = 0; copy < m_geometry.fatCount; ++copy) {
        const std::uint32_t base = m_geometry.reservedSectors + copy * m_geometry.sectorsPerFat;
        for (std::uint32_t i = 0; i < m_geometry.sectorsPerFat;) {
            if (!differs(i)) {
                ++i;
                continue;
            }
            std::uint32_t j = i + 1;
            while (j < m_geometry.sectorsPerFat && differs(j)) ++j;
            if (Status s = m_device->write(base + i, j - i, &after[std::size_t{i} * kSectorSize]);
                !s) {
                return within("writing FAT " + std::to_string(copy + 1) + ": ", s);
            }
            i = j;
        }
    }
    return Status::success();
}

// Writes the root directory sectors that differ, one call for each sector.
Status Volume::writeRootChanges(const std::vector<std::uint8_t>& before,
                                const std::vector<std::uint8_t>& after) {
    for (std::size_t sector = 0; sector < after.size() / kSectorSize; ++sector) {
        const std::size_t at = sector * kSectorSize;
        if (std::memcmp(&before[at], &after[at], kSectorSize) == 0) continue;
        if (Status s = m_device->write(m_firstRootSector + static_cast<std::uint32_t>(sector), 1,
                                       &after[at]);
            !s) {
            return within("writing the root directory: ", s);
        }
    }
    return Status::success();
}

// After a failed write the medium may hold part of a change: take the tables from it again so
// that later calls work on what is really there. What was staged is given up.
Status Volume::failAndReload(Status failure) {
    std::vector<std::uint8_t> fat(m_fat.size());
    std::vector<std::uint8_t> root(m_root.size());
    if (m_device->read(m_geometry.reservedSectors, m_geometry.sectorsPerFat, fat.data()) &&
        m_device->read(m_firstRootSector, rootSectors(m_geometry), root.data())) {
        m_fat = std::move(fat);
        m_root = std::move(root);
    }
    m_fatOnMedium = m_fat;
    m_rootOnMedium = m_root;
    m_pendingFree.clear();
    return failure;
}

bool Volume::hasStaged() const {
    return m_fat != m_fatOnMedium || m_root != m_rootOnMedium || !m_pendingFree.empty();
}

bool Volume::isStagedEntry(std::size_t index) const {
    return std::memcmp(&m_root[index * dirent::kSize], &m_rootOnMedium[index * dirent::kSize],
                       dirent::kSize) != 0;
}

Status Volume::checkMedium() const {
    std::vector<std::uint8_t> boot(kSectorSize);
    std::vector<std::uint8_t> fat(m_fat.size());
    std::vector<std::uint8_t> root(m_root.size());
    if (Status s = m_device->read(0, 1, boot.data()); !s) return s;
    if (Status s = m_device->read(m_geometry.reservedSectors, m_geometry.sectorsPerFat, fat.data());
        !s) {
        return s;
    }
    if (Status s = m_device->read(m_firstRootSector, rootSectors(m_geometry), root.data()); !s) {
        return s;
    }
    if (boot != m_bootSector || fat != m_fatOnMedium || root != m_rootOnMedium) {
        return Status::failure("the diskette no longer holds the volume that was being written");
    }
    return Status::success();
}

// Takes a file off the medium in an order that no crash can tear: its entry, a flush, then
// its clusters, left unflushed. Whatever was staged has been committed before.
Status Volume::removeEntry(std::size_t index, const std::vector<std::uint16_t>& chain) {
    m_root[index * dirent::kSize] = dirent::kDeletedMark;
    if (Status s = writeRootChanges(m_rootOnMedium, m_root); !s) return s;
    m_rootOnMedium = m_root;
    if (chain.empty()) return Status::success();
    if (Status s = m_device->flush(); !s) return s;
    for (std::uint16_t n : chain) setFatEntry(m_fat, n, cluster::kFree);
    if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return s;
    m_fatOnMedium = m_fat;
    return Status::success();
}

Status Volume::stageFile(std::string_view name, std::span<const std::uint8_t> data,
                         std::time_t when) {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string what = "cannot write \"" + std::string(name) + "\": ";
    Result<Placement> place = placeFile(*shortName, name, data.size());
    if (!place) return place.error();
    if (Status s = freeOldIfNeeded(*place, what); !s) return s;
    // The data goes to clusters that nothing on the medium names; the chain and the entry stay
    // in memory until commit().
    Result<std::vector<std::uint16_t>> chain = writeChain(place->clusters, data);
    if (!chain) return within(what, chain.status());
    const std::uint16_t first = chain->empty() ? cluster::kFree : chain->front();
    if (Status s = stageEntry(place->slot, *shortName, first, data.size(), when, what); !s) {
        return s;
    }
    m_pendingFree.insert(m_pendingFree.end(), place->oldChain.begin(), place->oldChain.end());
    return Status::success();
}

// Where a file goes: the slot of the file it replaces or a free one, and whether there is room
// for it. Refuses before anything is written: a directory of that name, a full root
// directory, too little room even with the old file's clusters.
Result<Volume::Placement> Volume::placeFile(const std::string& shortName, std::string_view name,
                                            std::size_t bytes) {
    const std::string quoted = "\"" + std::string(name) + "\"";
    std::optional<std::size_t> existing = findEntry(shortName);
    // Staged twice: the first version goes onto the medium before it is replaced.
    if (existing && isStagedEntry(*existing)) {
        if (Status s = commit(); !s) return within("cannot write " + quoted + ": ", s);
    }
    Placement place;
    if (existing) {
        const std::uint8_t* entry = &m_root[*existing * dirent::kSize];
        if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
            return Status::failure("cannot write " + quoted + ": a directory of that name exists");
        }
        Result<std::vector<std::uint16_t>> chain =
            chainOf(load16(entry + dirent::kFirstCluster), name);
        if (!chain) return within("cannot replace " + quoted + ": ", chain.status());
        place.oldChain = std::move(*chain);
    }
    const std::optional<std::size_t> slot = existing ? existing : findFreeEntry();
    if (!slot) {
        return Status::failure(Failure::NoRoom,
                               "cannot write " + quoted + ": the root directory is full");
    }
    const std::uint64_t needed = (bytes + clusterBytes() - 1) / clusterBytes();
    const std::uint64_t freeClusters = freeBytes() / clusterBytes();
    const std::uint64_t room = freeClusters + m_pendingFree.size() + place.oldChain.size();
    if (needed > room || bytes > 0xFFFFFFFFu) {
        return Status::failure(Failure::NoRoom,
                               "cannot write " + quoted + ": it needs " +
                                   std::to_string(needed * clusterBytes()) + " bytes, " +
                                   std::to_string(room * clusterBytes()) + " are free");
    }
    place.slot = *slot;
    place.replaces = existing.has_value();
    place.clusters = static_cast<std::uint32_t>(needed);
    return place;
}

// Frees clusters for a file that does not fit beside what is there: the clusters of files
// replaced earlier come free once their new entries are durable; then, without room for old
// and new side by side, the old file goes first, durably, so that its clusters can take the
// new data.
Status Volume::freeOldIfNeeded(Placement& place, const std::string& what) {
    std::uint64_t freeClusters = freeBytes() / clusterBytes();
    if (place.clusters > freeClusters && !m_pendingFree.empty()) {
        if (Status s = commit(); !s) return within(what, s);
        freeClusters = freeBytes() / clusterBytes();
    }
    if (place.replaces && place.clusters > freeClusters) {
        if (Status s = commit(); !s) return within(what, s);
        if (Status s = removeEntry(place.slot, place.oldChain); !s) {
            return failAndReload(within(what, s));
        }
        place.oldChain.clear();
    }
    return Status::success();
}

// Writes `data` into `clusters` free clusters and chains them in the FAT held in memory.
Result<std::vector<std::uint16_t>> Volume::writeChain(std::uint32_t clusters,
                                                      std::span<const std::uint8_t> data) {
    const std::vector<std::uint16_t> chain = allocate(m_fat, clusters);
    if (!chain.empty()) {
        std::vector<std::uint8_t> padded(std::size_t{clusters} * clusterBytes(), 0);
        std::copy(data.begin(), data.end(), padded.begin());
        if (Status s = writeClusters(chain, padded.data()); !s) return s.error();
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        setFatEntry(m_fat, chain[i], i + 1 < chain.size() ? chain[i + 1] : cluster::kEndOfChain);
    }
    return chain;
}

// Fills the file's directory entry in memory; the medium sees it at the commit.
Status Volume::stageEntry(std::size_t slot, const std::string& shortName,
                          std::uint16_t firstCluster, std::size_t bytes, std::time_t when,
                          const std::string& what) {
    // Taking the slot of the end-of-directory mark moves the mark on by one: whatever stale
    // entries lie beyond it must stay out of sight rather than come back as files. Marking a
    // slot past the end changes nothing visible, so a mark in another sector goes out at once.
    const std::size_t next = slot + 1;
    if (m_root[slot * dirent::kSize] == dirent::kEndMark && next < m_root.size() / dirent::kSize &&
        m_root[next * dirent::kSize] != dirent::kEndMark) {
        m_root[next * dirent::kSize] = dirent::kEndMark;
        if (next * dirent::kSize / kSectorSize != slot * dirent::kSize / kSectorSize) {
            std::vector<std::uint8_t> marked = m_rootOnMedium;
            marked[next * dirent::kSize] = dirent::kEndMark;
            if (Status s = writeRootChanges(m_rootOnMedium, marked); !s) {
                return failAndReload(within(what, s));
            }
            m_rootOnMedium = std::move(marked);
        }
    }
    std::uint8_t* entry = &m_root[slot * dirent::kSize];
    std::fill(entry, entry + dirent::kSize, 0);
    std::memcpy(entry + dirent::kName, shortName.data(), 11);
    if (entry[0] == dirent::kDeletedMark) entry[0] = dirent::kEscapedE5;
    entry[dirent::kAttributes] = dirent::kAttrArchive;
    stampEntry(entry, when);
    store16(entry + dirent::kFirstCluster, firstCluster);
    store32(entry + dirent::kFileSize, static_cast<std::uint32_t>(bytes));
    return Status::success();
}

Status Volume::commit() {
    if (!hasStaged()) return Status::success();
    auto fail = [&](const Status& s) {
        return failAndReload(within("putting the staged files on the medium: ", s));
    };
    // The new chains name no file yet: they go out with the data, and both become durable
    // before any entry points at them.
    if (m_fat != m_fatOnMedium) {
        if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return fail(s);
        m_fatOnMedium = m_fat;
        if (Status s = m_device->flush(); !s) return fail(s);
    }
    if (Status s = writeRootChanges(m_rootOnMedium, m_root); !s) return fail(s);
    m_rootOnMedium = m_root;
    // A replaced file's clusters are freed only once no durable entry names them.
    if (!m_pendingFree.empty()) {
        if (Status s = m_device->flush(); !s) return fail(s);
        for (std::uint16_t n : m_pendingFree) setFatEntry(m_fat, n, cluster::kFree);
        if (Status s = writeFatChanges(m_fatOnMedium, m_fat); !s) return fail(s);
        m_fatOnMedium = m_fat;
        m_pendingFree.clear();
    }
    return Status::success();
}

Status Volume::writeFile(std::string_view name, std::span<const std::uint8_t> data,
                         std::time_t when) {
    if (Status s = stageFile(name, data, when); !s) return s;
    const std::string what = "cannot write \"" + std::string(name) + "\": ";
    if (Status s = commit(); !s) return within(what, s);
    if (Status s = m_device->flush(); !s) return failAndReload(within(what, s));
    return Status::success();
}

Result<std::vector<std::uint8_t>> Volume::readFile(std::string_view name) const {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string quoted = "\"" + std::string(name) + "\"";
    const std::optional<std::size_t> index = findEntry(*shortName);
    if (!index) return Status::failure("file " + quoted + " not found");
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
        return Status::failure(quoted + " is a directory");
    }
    const std::uint32_t size = load32(entry + dirent::kFileSize);
    if (size == 0) return std::vector<std::uint8_t>();
    Result<std::vector<std::uint16_t>> chain = chainOf(load16(entry + dirent::kFirstCluster), name);
    if (!chain) return chain.error();
    const std::uint64_t needed = (std::uint64_t{size} + clusterBytes() - 1) / clusterBytes();
    if (chain->size() < needed) {
        return Status::failure(Failure::BadData,
                               "file " + quoted + " is " + std::to_string(size) +
                                   " bytes, but its cluster chain holds " +
                                   std::to_string(chain->size() * clusterBytes()));
    }
    chain->resize(needed);
    std::vector<std::uint8_t> bytes(needed * clusterBytes());
    const std::uint32_t perCluster = m_geometry.sectorsPerCluster;
    for (std::size_t i = 0; i < chain->size();) {
        std::size_t j = i + 1;
        while (j < chain->size() && (*chain)[j] == (*chain)[j - 1] + 1) ++j;
        const std::uint32_t first =
            m_firstDataSector + ((*chain)[i] - cluster::kFirstData) * perCluster;
        if (Status s = m_device->read(first, static_cast<std::uint32_t>((j - i) * perCluster),
                                      &bytes[i * clusterBytes()]);
            !s) {
            return within("reading " + quoted + ": ", s);
        }
        i = j;
    }
    bytes.resize(size);
    return bytes;
}

Status Volume::removeFile(std::string_view name) {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return shortName.error();
    const std::string quoted = "\"" + std::string(name) + "\"";
    auto fail = [&](const Status& s) {
        return failAndReload(within("cannot remove " + quoted + ": ", s));
    };
    if (!findEntry(*shortName)) return Status::failure("cannot remove " + quoted + ": not found");
    // The root sector written below would carry staged entries along.
    if (Status s = commit(); !s) return within("cannot remove " + quoted + ": ", s);
    const std::optional<std::size_t> index = findEntry(*shortName);
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    if (entry[dirent::kAttributes] & dirent::kAttrDirectory) {
        return Status::failure("cannot remove " + quoted + ": it is a directory");
    }
    Result<std::vector<std::uint16_t>> chain = chainOf(load16(entry + dirent::kFirstCluster), name);
    if (!chain) return within("cannot remove " + quoted + ": ", chain.status());
    if (Status s = removeEntry(*index, *chain); !s) return fail(s);
    if (Status s = m_device->flush(); !s) return fail(s);
    return Status::success();
}

std::vector<FileInfo> Volume::list() const {
    std::vector<FileInfo> files;
    for (std::size_t i = 0; i < m_root.size() / dirent::kSize; ++i) {
        const std::uint8_t* entry = &m_root[i * dirent::kSize];
        if (entry[0] == dirent::kEndMark) break;
        if (!isVisibleEntry(entry)) continue;
        FileInfo info;
        info.name = displayName(entry);
        info.size = load32(entry + dirent::kFileSize);
        info.attributes = entry[dirent::kAttributes];
        info.firstCluster = load16(entry + dirent::kFirstCluster);
        files.push_back(std::move(info));
    }
    return files;
}

std::optional<FileInfo> Volume::find(std::string_view name) const {
    Result<std::string> shortName = toShortName(name);
    if (!shortName) return std::nullopt;
    const std::optional<std::size_t> index = findEntry(*shortName);
    if (!index) return std::nullopt;
    const std::uint8_t* entry = &m_root[*index * dirent::kSize];
    return FileInfo{displayName(entry), load32(entry + dirent::kFileSize),
                    entry[dirent::kAttributes], load16(entry + dirent::kFirstCluster)};
}

std::uint64_t Volume::freeBytes() const {
    std::uint64_t freeClusters = 0;
    for (std::uint32_t n = cluster::kFirstData; n < m_clusterCount + cluster::kFirstData; ++n) {
        if (fatEntry(m_fat, n) == cluster::kFree) ++freeClusters;
    }
    return freeClusters * clusterBytes();
}

}  // namespace fat
