#include "platform/sha256.h"

#include <nettle/sha2.h>

namespace platform {

static_assert(SHA256_DIGEST_SIZE == Sha256::kDigestSize);

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

std::array<std::uint8_t, Sha256::kDigestSize> Sha256::finish() {
    std::array<std::uint8_t, kDigestSize> digest{};
    sha256_digest(&m_state->context, digest.size(), digest.data());
    return digest;
}

}  // namespace platform
