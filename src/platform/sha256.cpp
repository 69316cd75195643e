#include "platform/sha256.h"

namespace platform {

std::string Sha256::hex() {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * kDigestSize);
    for (const std::uint8_t byte : finish()) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 digest;
    digest.add(bytes);
    return digest.hex();
}

}  // namespace platform
