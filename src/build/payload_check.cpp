// The plausibility checks of a BIOS image and of an option ROM. Every structure is read through
// named offsets and little-endian helpers over the bytes, each read bounded by the file's size:
// the bytes are whatever the project folder holds, a hostile file among them.
#include "build/payload_check.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <optional>

namespace build {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kSmallestFlash = 64 * kKiB;
// A file of which one byte value makes more than this share (in percent) holds no image: an
// erased chip, a failed read-out, a file of padding.
constexpr std::uint64_t kBlankPercent = 95;
// Text around the part number: a run of at least this many printable characters.
constexpr std::size_t kShortestText = 4;
// Option ROMs reported inside one file, at most; a file full of them says enough by then.
constexpr std::size_t kMostOptionRoms = 16;

// Firmware volume header (UEFI Platform Initialization, volume 3).
constexpr std::size_t kFvLength = 32;          // u64: the volume's length in bytes, header included
constexpr std::size_t kFvSignature = 40;       // "_FVH"
constexpr std::size_t kFvHeaderLength = 48;    // u16: the header's length in bytes
constexpr std::size_t kFvSmallestHeader = 56;  // up to the first block-map entry
constexpr std::uint64_t kFvAlignment = 4 * kKiB;  // volumes of a flash image start on blocks

// Flash descriptor: its signature at offset 16 (or at 0 on the oldest chipsets), then the
// first map word: bits 7:0 the component section's base in 16-byte units, bits 9:8 the number
// of flash chips less one. The component section's first word holds each chip's density.
constexpr std::array<std::uint8_t, 4> kDescriptorSignature = {0x5A, 0xA5, 0xF0, 0x0F};
constexpr std::size_t kDescriptorMap0 = 4;  // u32, after the signature

// Option ROM header: 0x55 0xAA, then its length in 512-byte units, its entry at offset 3, and
// at 0x18 (u16) where its PCI data structure ("PCIR") stands, if it has one.
constexpr std::size_t kRomLengthUnits = 2;
constexpr std::size_t kRomPcirPointer = 0x18;
constexpr std::size_t kPcirImageLength = 0x10;  // u16, in 512-byte units
constexpr std::size_t kPcirCodeType = 0x14;     // 0 x86, 3 EFI
constexpr std::size_t kPcirIndicator = 0x15;    // bit 7: the last image of the ROM
constexpr std::size_t kPcirSmallest = 0x18;
constexpr std::uint64_t kRomUnit = 512;
constexpr std::size_t kMostChainedImages = 8;

// A legacy image ends with the processor's first instruction 16 bytes from its end (0xFFFF0
// of the first megabyte), a jump, and the BIOS date at 0xFFFF5 as MM/DD/YY.
constexpr std::uint64_t kResetVectorFromEnd = 16;
constexpr std::uint64_t kDateFromEnd = 11;
constexpr std::size_t kDateLength = 8;

std::uint32_t le16(Bytes b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t le32(Bytes b, std::size_t at) {
    return le16(b, at) | (le16(b, at + 2) << 16);
}

std::uint64_t le64(Bytes b, std::size_t at) {
    return le32(b, at) | (std::uint64_t{le32(b, at + 4)} << 32);
}

bool hasAt(Bytes b, std::size_t at, std::span<const std::uint8_t> signature) {
    return at <= b.size() && b.size() - at >= signature.size() &&
           std::equal(signature.begin(), signature.end(), b.begin() + static_cast<long>(at));
}

bool hasTextAt(Bytes b, std::size_t at, std::string_view text) {
    return hasAt(b, at, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string grouped(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string bytesText(std::uint64_t bytes) {
    return grouped(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string sizeName(std::uint64_t bytes) {
    if (bytes >= kKiB * kKiB && bytes % (kKiB * kKiB) == 0)
        return grouped(bytes / (kKiB * kKiB)) + " MiB";
    if (bytes >= kKiB && bytes % kKiB == 0) return grouped(bytes / kKiB) + " KiB";
    return bytesText(bytes);
}

bool printable(std::uint8_t c) {
    return c >= 0x20 && c < 0x7F;
}

bool powerOfTwo(std::uint64_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// The top-level firmware volumes: walked from offset 0, a volume's end being where the next
// may start, and free space skipped block by block.
struct Volumes {
    std::size_t count = 0;
    std::uint64_t covered = 0;  // bytes inside volumes
    std::uint64_t lastEnd = 0;  // where the last one ends
    bool firstAtStart = false;
};

Volumes findVolumes(Bytes b) {
    Volumes v;
    std::uint64_t at = 0;
    while (at + kFvSmallestHeader <= b.size()) {
        const auto here = static_cast<std::size_t>(at);
        if (hasTextAt(b, here + kFvSignature, "_FVH")) {
            const std::uint64_t length = le64(b, here + kFvLength);
            const std::uint32_t header = le16(b, here + kFvHeaderLength);
            if (header >= kFvSmallestHeader && length > header && length <= b.size() - at) {
                if (v.count == 0) v.firstAtStart = at == 0;
                ++v.count;
                v.covered += length;
                at += length;
                v.lastEnd = at;
                continue;
            }
        }
        at = (at / kFvAlignment + 1) * kFvAlignment;
    }
    return v;
}

// The flash chips' sizes a descriptor declares, read both ways the density field has been laid
// out (three bits a chip on older chipsets, four on newer ones); the readings that make sense.
struct Descriptor {
    std::size_t offset = 0;
    std::size_t chips = 1;
    std::vector<std::uint64_t> totals;  // one per reading whose codes are all valid
};

std::optional<Descriptor> findDescriptor(Bytes b) {
    for (std::size_t at : {std::size_t{16}, std::size_t{0}}) {
        if (!hasAt(b, at, kDescriptorSignature) || at + kDescriptorMap0 + 4 > b.size()) continue;
        Descriptor d;
        d.offset = at;
        const std::uint32_t map0 = le32(b, at + kDescriptorMap0);
        const std::size_t components = (map0 & 0xFF) << 4;
        d.chips = ((map0 >> 8) & 0x3) + 1;
        if (components + 4 > b.size()) return d;
        const std::uint32_t flcomp = le32(b, components);
        struct Reading {
            unsigned bits;
            unsigned highestCode;
        };
        for (const Reading r : {Reading{3, 5}, Reading{4, 7}}) {
            const std::uint32_t mask = (1u << r.bits) - 1;
            std::uint64_t total = 0;
            bool valid = true;
            for (std::size_t chip = 0; chip < d.chips && chip < 2; ++chip) {
                const std::uint32_t code = (flcomp >> (chip * r.bits)) & mask;
                if (code > r.highestCode) valid = false;
                total += (512 * kKiB) << code;
            }
            if (valid && std::find(d.totals.begin(), d.totals.end(), total) == d.totals.end())
                d.totals.push_back(total);
        }
        return d;
    }
    return std::nullopt;
}

// MM/DD/YY with a month from 1 to 12 and a day from 1 to 31.
bool plausibleDate(Bytes b, std::size_t at) {
    if (at + kDateLength > b.size()) return false;
    auto digit = [&](std::size_t i) { return std::isdigit(b[at + i]) != 0; };
    for (std::size_t i : {0, 1, 3, 4, 6, 7})
        if (!digit(i)) return false;
    if (b[at + 2] != '/' || b[at + 5] != '/') return false;
    const int month = (b[at] - '0') * 10 + (b[at + 1] - '0');
    const int day = (b[at + 3] - '0') * 10 + (b[at + 4] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// What a file's first bytes say it is, when it is an update package rather than an image.
struct PackageSignature {
    std::string_view bytes;
    const char* looksLike;
};

constexpr PackageSignature kPackages[] = {
    {"MZ", "a DOS or Windows program (\"MZ\"), such as an update program"},
    {"PK\x03\x04", "a zip archive (\"PK\\3\\4\")"},
    {"Rar!\x1A\x07", "a RAR archive"},
    {"7z\xBC\xAF\x27\x1C", "a 7-Zip archive"},
    {"\x1F\x8B", "a gzip-compressed file"},
    {"MSCF", "a cabinet archive (\"MSCF\")"},
};

// Capsules: a GUID at offset 0, stored with its first three fields little-endian.
struct CapsuleGuid {
    std::array<std::uint8_t, 16> bytes;
    const char* looksLike;
};

constexpr CapsuleGuid kCapsules[] = {
    {{0xBD, 0x86, 0x66, 0x3B, 0x76, 0x0D, 0x30, 0x40, 0xB7, 0x0E, 0xB5, 0x51, 0x9E, 0x2F, 0xC5,
      0xA0},
     "a UEFI capsule (GUID 3B6686BD-0D76-4030-B70E-B5519E2FC5A0)"},
    {{0xED, 0xD5, 0xCB, 0x6D, 0x2D, 0xE8, 0x44, 0x4C, 0xBD, 0xA1, 0x71, 0x94, 0x19, 0x9A, 0xD9,
      0x2A},
     "a UEFI firmware-management capsule (GUID 6DCBD5ED-E82D-4C44-BDA1-7194199AD92A)"},
    {{0x8B, 0xA6, 0x3C, 0x4A, 0x23, 0x77, 0xFB, 0x48, 0x80, 0x3D, 0x57, 0x8C, 0xC1, 0xFE, 0xC4,
      0x4D},
     "a vendor's signed capsule (GUID 4A3CA68B-7723-48FB-803D-578CC1FEC44D)"},
    {{0x90, 0xBB, 0xEE, 0x14, 0x0A, 0x89, 0xDB, 0x43, 0xAE, 0xD1, 0x5D, 0x3C, 0x45, 0x88, 0xA4,
      0x18},
     "a vendor's capsule (GUID 14EEBB90-890A-43DB-AED1-5D3C4588A418)"},
    {{0xD3, 0xAF, 0x0B, 0xE2, 0x14, 0x99, 0x4F, 0x4F, 0x95, 0x37, 0x31, 0x29, 0xE0, 0x90, 0xEB,
      0x3C},
     "a vendor's capsule (GUID E20BAFD3-9914-4F4F-9537-3129E090EB3C)"},
    {{0x76, 0xFE, 0xB5, 0x25, 0x43, 0x82, 0x5C, 0x4A, 0xA9, 0xBD, 0x7E, 0xE3, 0x24, 0x61, 0x98,
      0xB5},
     "a vendor's capsule (GUID 25B5FE76-8243-4A5C-A9BD-7EE3246198B5)"},
    {{0x62, 0x70, 0xE0, 0x3B, 0x51, 0x1D, 0xD2, 0x45, 0x83, 0x2B, 0xF0, 0x93, 0x25, 0x7E, 0xD4,
      0x61},
     "a vendor's capsule (GUID 3BE07062-1D51-45D2-832B-F093257ED461)"},
};

class Findings {
  public:
    void add(PayloadLevel level, const char* name, std::uint64_t offset, std::string text) {
        m_list.push_back({level, name, offset, std::move(text)});
    }
    void pass(const char* name, std::uint64_t offset, std::string text) {
        add(PayloadLevel::Pass, name, offset, std::move(text));
    }
    void warn(const char* name, std::uint64_t offset, std::string text) {
        add(PayloadLevel::Warn, name, offset, std::move(text));
    }
    std::vector<PayloadFinding> take() { return std::move(m_list); }

  private:
    std::vector<PayloadFinding> m_list;
};

// One option ROM, or a chain of images (an x86 image and an EFI image, say) starting at `at`.
// Returns where the chain ends.
std::uint64_t checkOptionRom(Bytes b, std::uint64_t at, Findings& out, std::size_t& reported) {
    for (std::size_t image = 0; image < kMostChainedImages; ++image) {
        const auto here = static_cast<std::size_t>(at);
        if (!hasTextAt(b, here, "\x55\xAA")) break;
        if (here + kRomPcirPointer + 2 > b.size()) {
            if (reported++ < kMostOptionRoms)
                out.warn("option-rom", at,
                         "0x55 0xAA at offset " + hex(at) +
                             " begins an option ROM, but the file ends before its header does");
            break;
        }
        const std::uint64_t declared = b[here + kRomLengthUnits] * kRomUnit;
        const std::size_t pcir = here + le16(b, here + kRomPcirPointer);
        const bool hasPcir = pcir + kPcirSmallest <= b.size() && hasTextAt(b, pcir, "PCIR");
        const std::uint64_t length =
            hasPcir ? le16(b, pcir + kPcirImageLength) * kRomUnit : declared;
        const unsigned codeType = hasPcir ? b[pcir + kPcirCodeType] : 0;
        const bool last = !hasPcir || (b[pcir + kPcirIndicator] & 0x80) != 0;
        const std::string where = "at offset " + hex(at);
        if (reported++ < kMostOptionRoms) {
            if (codeType == 3) {
                out.pass("option-rom", at,
                         "an EFI image of " + bytesText(length) + " " + where +
                             " (EFI images carry no sum to check)");
            } else if (codeType != 0) {
                out.pass("option-rom", at,
                         "an option ROM image of code type " + std::to_string(codeType) + ", " +
                             bytesText(length) + " " + where);
            } else if (declared == 0) {
                out.warn("option-rom", at,
                         "an x86 option ROM " + where +
                             " declares a length of 0: the BIOS would not run it");
            } else if (declared > b.size() - at) {
                out.warn("option-rom", at,
                         "an x86 option ROM " + where + " declares " + bytesText(declared) +
                             ", but the file holds only " + bytesText(b.size() - at) +
                             " from there: cut short");
            } else {
                unsigned sum = 0;
                for (std::uint64_t i = 0; i < declared; ++i) sum += b[here + i];
                sum &= 0xFF;
                if (sum == 0)
                    out.pass("option-rom", at,
                             "an x86 option ROM of " + bytesText(declared) + " " + where +
                                 "; its 8-bit sum is 0");
                else
                    out.warn("option-rom", at,
                             "an x86 option ROM of " + bytesText(declared) + " " + where +
                                 " has the 8-bit sum " + hex(sum) +
                                 ", not 0: the BIOS skips a ROM whose bytes do not add up, so "
                                 "it is damaged or was changed");
            }
        }
        // A length that leads nowhere ends the chain; a scan goes on after the header.
        if (length == 0 || length > b.size() - at) return image == 0 ? at + kRomUnit : at;
        at += length;
        if (last) break;
    }
    return at;
}

// Option ROMs inside a system image: on a 512-byte boundary, with a PCI data structure, so
// that two bytes of compressed data are not taken for one.
void findOptionRoms(Bytes b, Findings& out) {
    std::size_t reported = 0;
    for (std::uint64_t at = 0; at + kRomPcirPointer + 2 <= b.size(); at += kRomUnit) {
        const auto here = static_cast<std::size_t>(at);
        if (!hasTextAt(b, here, "\x55\xAA")) continue;
        const std::size_t pcir = here + le16(b, here + kRomPcirPointer);
        if (pcir + kPcirSmallest > b.size() || !hasTextAt(b, pcir, "PCIR")) continue;
        const std::uint64_t end = checkOptionRom(b, at, out, reported);
        at = std::max(at, (end + kRomUnit - 1) / kRomUnit * kRomUnit - kRomUnit);
    }
}

void checkBlank(Bytes b, Findings& out) {
    std::array<std::uint64_t, 256> counts{};
    for (std::uint8_t c : b) ++counts[c];
    const auto most = std::max_element(counts.begin(), counts.end());
    const auto value = static_cast<unsigned>(most - counts.begin());
    const std::uint64_t percent = *most * 100 / b.size();
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", value);
    if (*most == b.size()) {
        const char* what = value == 0xFF ? ": an erased flash chip, as a failed read-out gives"
                           : value == 0x00
                               ? ": a file of nothing, as a failed read-out or copy gives"
                               : "";
        out.add(PayloadLevel::Fail, "blank", 0,
                std::string("every byte is ") + byte + what + "; there is no image in it");
    } else if (percent > kBlankPercent) {
        out.add(PayloadLevel::Fail, "blank", 0,
                std::to_string(percent) + "% of the bytes are " + byte +
                    ": too little is left for a BIOS image (a failed read-out, or padding)");
    } else {
        out.pass("blank", 0,
                 std::string("the most frequent byte, ") + byte + ", makes " +
                     (percent == 0 ? std::string("less than 1") : std::to_string(percent)) +
                     "% of the file");
    }
}

// The part number as text: where it stands inside a run of printable characters, compared
// without regard to case as the image names are.
void checkPartNumber(Bytes b, std::string_view partNumber, Findings& out) {
    auto same = [](std::uint8_t a, char c) {
        return std::tolower(a) == std::tolower(static_cast<unsigned char>(c));
    };
    const std::size_t n = partNumber.size();
    for (std::size_t at = 0; at + n <= b.size(); ++at) {
        bool match = true;
        for (std::size_t i = 0; i < n && match; ++i)
            match = printable(b[at + i]) && same(b[at + i], partNumber[i]);
        if (!match) continue;
        std::size_t first = at, end = at + n;
        while (first > 0 && printable(b[first - 1])) --first;
        while (end < b.size() && printable(b[end])) ++end;
        if (end - first < kShortestText) continue;
        constexpr std::size_t kQuoted = 48;
        const std::size_t from = at - first > kQuoted / 2 ? at - kQuoted / 2 : first;
        const std::size_t to = std::min(end, from + kQuoted);
        const std::string quoted(b.begin() + static_cast<long>(from),
                                 b.begin() + static_cast<long>(to));
        out.pass("part-number", at,
                 "the part number stands in the text \"" + quoted + "\" at offset " + hex(at));
        return;
    }
    out.warn("part-number", 0,
             "the part number appears nowhere in the image as text: it may be the image of "
             "another board");
}

void checkSystemImage(Bytes b, std::string_view partNumber, Findings& out) {
    const std::uint64_t size = b.size();
    const Volumes volumes = findVolumes(b);
    const std::optional<Descriptor> descriptor = findDescriptor(b);
    const bool volumesFill = volumes.count >= 2 && volumes.firstAtStart &&
                             volumes.covered == size && volumes.lastEnd == size;
    const bool volumeLayout = volumes.count >= 1 && volumes.lastEnd == size;
    const bool loneVolume = volumes.count == 1 && volumes.firstAtStart && volumes.lastEnd == size;
    const bool descriptorFits =
        descriptor && std::find(descriptor->totals.begin(), descriptor->totals.end(), size) !=
                          descriptor->totals.end();

    // Size.
    if (size >= kSmallestFlash && powerOfTwo(size)) {
        out.pass("size", 0, sizeName(size) + ", the size of a flash chip");
    } else if (volumesFill) {
        out.pass("size", 0,
                 bytesText(size) + ": not a flash chip's size, but " +
                     std::to_string(volumes.count) +
                     " firmware volumes fill it end to end (a part of a flash whose other "
                     "part is kept apart)");
    } else if (descriptorFits) {
        out.pass("size", 0, bytesText(size) + ", the flash size its descriptor declares");
    } else {
        out.warn("size", 0,
                 bytesText(size) +
                     " is not a flash chip's size (a power of two from 64 KiB up): a download "
                     "cut short, or a file that holds more or less than the image");
    }

    checkBlank(b, out);

    // An update package instead of the image it carries.
    const char* package = nullptr;
    for (const PackageSignature& p : kPackages)
        if (hasTextAt(b, 0, p.bytes)) package = p.looksLike;
    for (const CapsuleGuid& c : kCapsules)
        if (hasAt(b, 0, c.bytes)) package = c.looksLike;
    if (package) {
        out.warn("package", 0,
                 std::string("the file begins as ") + package +
                     ": an update package, whose image the flash utility cannot write as it "
                     "is; put the image it holds into the project folder");
    } else if (loneVolume) {
        out.warn("package", kFvSignature,
                 "the file is one firmware volume (\"_FVH\" at offset 40) and nothing else: "
                 "a volume out of an update package, not a whole flash image");
    } else {
        out.pass("package", 0, "no update package's header at offset 0");
    }

    // Layout and reset vector.
    const bool hasJump = size >= kResetVectorFromEnd && (b[size - kResetVectorFromEnd] == 0xEA ||
                                                         b[size - kResetVectorFromEnd] == 0xE9);
    const bool hasDate =
        size >= kDateFromEnd && plausibleDate(b, static_cast<std::size_t>(size - kDateFromEnd));
    const std::uint64_t vectorAt = size >= kResetVectorFromEnd ? size - kResetVectorFromEnd : 0;
    std::string date;
    if (hasDate) date.assign(b.end() - kDateFromEnd, b.end() - kDateFromEnd + kDateLength);
    if (descriptor) {
        out.pass("layout", descriptor->offset,
                 "a whole flash image: a flash descriptor at offset " + hex(descriptor->offset) +
                     " for " + std::to_string(descriptor->chips) + " flash chip" +
                     (descriptor->chips == 1 ? "" : "s"));
    } else if (volumeLayout && !loneVolume) {
        out.pass("layout", volumes.firstAtStart ? 0 : kFvSignature,
                 "a UEFI image: " + std::to_string(volumes.count) + " firmware volume" +
                     (volumes.count == 1 ? "" : "s") + ", the last ending at the file's end");
    } else if (hasJump && hasDate) {
        out.pass("layout", vectorAt, "a legacy BIOS image dated " + date);
    }
    const char* jump = hasJump && b[vectorAt] == 0xEA ? "a far jump (0xEA)" : "a near jump (0xE9)";
    if (hasJump && hasDate) {
        out.pass("reset-vector", vectorAt,
                 std::string(jump) + " at size-16, where the processor starts, and the date " +
                     date + " after it");
    } else if (descriptor || (volumeLayout && !loneVolume)) {
        out.pass("reset-vector", vectorAt,
                 std::string("not a legacy image's: the ") +
                     (descriptor ? "flash descriptor" : "firmware volumes") +
                     " lay the image out, and the processor starts in its last volume");
    } else if (hasJump) {
        out.warn("reset-vector", vectorAt,
                 std::string(jump) +
                     " at size-16, but no MM/DD/YY date after it, as a legacy BIOS image has");
    } else {
        out.warn("reset-vector", vectorAt,
                 "no jump (0xEA or 0xE9) at size-16, where a legacy BIOS image has the "
                 "processor's first instruction, and no flash descriptor or firmware volume "
                 "explains the layout: the end of the image may be missing, or it is no "
                 "BIOS image");
    }

    if (descriptor) {
        std::string declared;
        for (std::uint64_t total : descriptor->totals)
            declared += (declared.empty() ? "" : " or ") + sizeName(total);
        if (descriptorFits)
            out.pass("flash-descriptor", descriptor->offset,
                     "the descriptor declares " + sizeName(size) + " of flash, as the file holds");
        else if (declared.empty())
            out.warn("flash-descriptor", descriptor->offset,
                     "the descriptor declares no flash size it could have: damaged");
        else
            out.warn("flash-descriptor", descriptor->offset,
                     "the descriptor declares " + declared + " of flash, the file holds " +
                         bytesText(size) + ": an image of another flash size, or a file cut short");
    }

    if (!partNumber.empty()) checkPartNumber(b, partNumber, out);
    findOptionRoms(b, out);
}

}  // namespace

const char* payloadLevelName(PayloadLevel level) {
    switch (level) {
        case PayloadLevel::Pass:
            return "pass";
        case PayloadLevel::Warn:
            return "warn";
        case PayloadLevel::Fail:
            return "fail";
    }
    return "fail";
}

std::vector<PayloadFinding> checkPayload(Bytes bytes, PayloadRole role,
                                         std::string_view partNumber) {
    Findings out;
    if (role == PayloadRole::OptionRom) {
        if (hasTextAt(bytes, 0, "\x55\xAA")) {
            std::size_t reported = 0;
            checkOptionRom(bytes, 0, out, reported);
        } else {
            out.pass("option-rom", 0,
                     hasTextAt(bytes, 0, "MZ")
                         ? "a program (\"MZ\"), not an option ROM image: nothing to check"
                         : "not an option ROM image (no 0x55 0xAA at its start): nothing to "
                           "check");
        }
        return out.take();
    }
    if (bytes.empty()) {
        out.add(PayloadLevel::Fail, "blank", 0, "the file is empty");
        return out.take();
    }
    checkSystemImage(bytes, partNumber, out);
    return out.take();
}

PayloadLevel worstLevel(const std::vector<PayloadReport>& reports) {
    PayloadLevel worst = PayloadLevel::Pass;
    for (const PayloadReport& report : reports)
        for (const PayloadFinding& f : report.findings) worst = std::max(worst, f.level);
    return worst;
}

bool payloadRoleOf(std::string_view diskName, PayloadRole& role) {
    if (diskName == "bios.rom" || diskName == "bios.qvx") {
        role = PayloadRole::SystemImage;
        return true;
    }
    if (diskName == "vgabios.exe") {
        role = PayloadRole::OptionRom;
        return true;
    }
    return false;
}

std::string findingLine(const PayloadFinding& f) {
    return std::string(payloadLevelName(f.level)) + " " + f.name + " at " + hex(f.offset) + ": " +
           f.text;
}

}  // namespace build
