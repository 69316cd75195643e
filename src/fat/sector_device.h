// The seam between the file system and the medium: whole 512-byte sectors only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.h"

namespace fat {

inline constexpr std::size_t kSectorSize = 512;

class SectorDevice {
  public:
    virtual ~SectorDevice() = default;
    // Number of 512-byte sectors on the medium.
    virtual std::uint32_t sectorCount() const = 0;
    // Transfers `count` consecutive sectors starting at `first`; a range past the end fails.
    virtual base::Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) = 0;
    virtual base::Status write(std::uint32_t first, std::uint32_t count,
                               const std::uint8_t* in) = 0;
    // Makes every completed write durable on the medium.
    virtual base::Status flush() = 0;
};

}  // namespace fat
