// What the formatting suites share: fixed options, so that images are the same each run, and
// a FAT entry read out of an image.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "fat/endian.h"
#include "fat/fat12.h"

namespace formattest {

inline constexpr std::uint32_t kSerial = 0x1234ABCD;
inline constexpr std::time_t kClock = 1700000000;  // 2023-11-14

inline fat::FormatOptions fixedOptions() {
    fat::FormatOptions options;
    options.serial = kSerial;
    options.clock = kClock;
    return options;
}

inline std::uint16_t fatEntry(const std::vector<std::uint8_t>& image, std::uint32_t fatStart,
                              std::uint32_t n) {
    const std::uint16_t pair = fat::load16(&image[fatStart + n + n / 2]);
    return (n & 1) ? static_cast<std::uint16_t>(pair >> 4)
                   : static_cast<std::uint16_t>(pair & 0xFFF);
}

}  // namespace formattest
