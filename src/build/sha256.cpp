#include "build/sha256.h"

#include <nettle/sha2.h>

namespace build {

// Nettle's context is plain data with no start-up cost, which a program started once per
// diskette notices: a provider-based library spends longer loading than hashing a diskette.
struct Sha256::State {
    sha256_ctx context{};
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    sha256_init(&m_state->context);
}

Sha256::~Sha256() = default;

void Sha256::add(std::span<const std::uint8_t> bytes) {
    sha256_update(&m_state->context, bytes.size(), bytes.data());
}

std::string Sha256::hex() {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&m_state->context, SHA256_DIGEST_SIZE, digest);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * SHA256_DIGEST_SIZE);
    for (const std::uint8_t byte : digest) {
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

}  // namespace build
