// What the formatter, the boot-sector reader and the mounted volume share: where each region
// of a volume begins, the name and label rules' private parts, and how a failure's detail is
// worded. Private to fat/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "base/result.h"
#include "fat/clock.h"
#include "fat/fat12.h"
#include "fat/layout.h"

namespace fat {

inline std::uint32_t rootSectors(const Geometry& g) {
    return std::uint32_t{g.rootEntries} * dirent::kSize / kSectorSize;
}

inline std::uint32_t firstRootSector(const Geometry& g) {
    return g.reservedSectors + std::uint32_t{g.fatCount} * g.sectorsPerFat;
}

inline std::uint32_t firstDataSector(const Geometry& g) {
    return firstRootSector(g) + rootSectors(g);
}

inline std::uint32_t clusterCount(const Geometry& g) {
    return (g.totalSectors - firstDataSector(g)) / g.sectorsPerCluster;
}

// Bytes a FAT needs to hold the two reserved entries and `clusters` more.
inline std::uint64_t fatBytesNeeded(std::uint64_t clusters) {
    return (3 * (clusters + 2) + 1) / 2;
}

// The same failure with what was being done put in front of its detail: the kind stays the
// device's (an I/O error, write protection...).
inline base::Error within(const std::string& what, const base::Status& s) {
    return base::Status::failure(s.error().kind(), what + s.message());
}

inline std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// "MINIDOS.SYS" from an entry's 8.3 name field, as the user sees it (names.cpp).
std::string displayName(const std::uint8_t* entry);

// A new label that fails the rule, in words (names.cpp).
base::Error labelRefusal(std::string_view label, const LabelCheck& check);

// Stamps a directory entry's creation, access and write fields with the local time of `when`
// as `clock` tells it (volume.cpp).
void stampEntry(std::uint8_t* entry, std::time_t when, const LocalClock& clock);

}  // namespace fat
