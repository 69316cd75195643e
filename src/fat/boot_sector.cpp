// The boot-sector reader: the layout a boot sector describes, each field that cannot be
// refused in its own words, and the checks on a boot-sector image written by others.
#include <algorithm>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/fat12_common.h"
#include "fat/layout.h"

namespace fat {

using base::Failure;
using base::Result;
using base::Status;

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

}  // namespace fat
