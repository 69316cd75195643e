// SHA-256 digests as lower-case hex, for the build report and the build log. The digest
// itself is the system's (posix/ or win32/); the text of it is the same on both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace platform {

// A digest fed in pieces, for a whole diskette read a track at a time.
class Sha256 {
  public:
    static constexpr std::size_t kDigestSize = 32;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(std::span<const std::uint8_t> bytes);
    std::string hex();  // ends the digest

  private:
    std::array<std::uint8_t, kDigestSize> finish();

    struct State;
    std::unique_ptr<State> m_state;
};

std::string sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace platform
