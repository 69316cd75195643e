// A sector device over bytes held in memory: for building images and for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "fat/sector_device.h"

namespace fat {

class MemoryDevice : public SectorDevice {
  public:
    // `sectors` zero sectors.
    explicit MemoryDevice(std::uint32_t sectors);
    // Takes an image's bytes; a trailing partial sector is dropped.
    explicit MemoryDevice(std::vector<std::uint8_t> image);

    // Loads or saves the whole image as a file.
    static base::Result<MemoryDevice> loadFile(const std::string& path);
    base::Status saveFile(const std::string& path) const;

    std::uint32_t sectorCount() const override;
    base::Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override;
    base::Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override;
    base::Status flush() override { return base::Status::success(); }

    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    std::vector<std::uint8_t>& bytes() { return m_bytes; }

  private:
    base::Status checkRange(const char* what, std::uint32_t first, std::uint32_t count) const;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace fat
