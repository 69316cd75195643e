// A fresh directory for a test's files, and whole files written and read, on either system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fattools {

// A fresh directory, removed with its contents when the object goes. path() is empty where
// none could be made.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// A fresh folder "<base>/<prefix><random>", or an empty text where none could be made; the
// caller removes it.
std::string newFolder(const std::string& base, const std::string& prefix);

// Sets, or with nullopt removes, an environment variable of this process.
void setEnvironment(const std::string& name, const std::optional<std::string>& value);

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> readBytes(const std::string& path);

// A BIOS image that passes every payload check: `size` bytes that differ with `seed`, the part
// number in a line of text at the start, and a legacy image's end (the reset vector's far jump
// and its date). `size` should be a power of two from 64 KiB up.
std::vector<std::uint8_t> plausibleImage(std::size_t size, const std::string& partNumber,
                                         std::uint8_t seed = 0);
// The same marks (the part number's line, the legacy end) on bytes of the caller's.
void markPlausible(std::vector<std::uint8_t>& image, const std::string& partNumber);

}  // namespace fattools
