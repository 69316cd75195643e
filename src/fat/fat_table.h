// FAT12 entries over the bytes of one FAT copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "fat/endian.h"

namespace fat {

// Entries that fit whole in `bytes` bytes of FAT: entry n ends with byte n * 1.5 + 1.
inline std::uint32_t fatEntriesIn(std::size_t bytes) {
    return static_cast<std::uint32_t>(bytes * 2 / 3);
}

// FAT12 packs two 12-bit entries into three bytes: entry n starts at byte n * 1.5; an even
// entry takes a whole byte and the low half of the next, an odd one the high half and a byte.
// The caller keeps n below fatEntriesIn(fat.size()).
inline std::uint16_t fatEntry(std::span<const std::uint8_t> fat, std::uint32_t n) {
    const std::uint16_t pair = load16(&fat[n + n / 2]);
    return (n & 1) ? static_cast<std::uint16_t>(pair >> 4)
                   : static_cast<std::uint16_t>(pair & 0x0FFF);
}

// Stores the low 12 bits of `value` as entry n, leaving the half bytes of its neighbours.
inline void setFatEntry(std::span<std::uint8_t> fat, std::uint32_t n, std::uint16_t value) {
    std::uint8_t* p = &fat[n + n / 2];
    if (n & 1) {
        p[0] = static_cast<std::uint8_t>((p[0] & 0x0F) | ((value << 4) & 0xF0));
        p[1] = static_cast<std::uint8_t>(value >> 4);
    } else {
        p[0] = static_cast<std::uint8_t>(value);
        p[1] = static_cast<std::uint8_t>((p[1] & 0xF0) | ((value >> 8) & 0x0F));
    }
}

}  // namespace fat
