#include "platform/sha256.h"

// bcrypt.h builds on the types windows.h declares.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstdlib>
#include <limits>

namespace platform {

namespace {

// SHA-256 in CNG is part of every Windows this program runs on; a provider or hash that cannot
// be made is a broken system, not a condition a build could report and go on from.
void check(NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status)) std::abort();
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    check(BCryptOpenAlgorithmProvider(&m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    // The hash object's memory is CNG's own (no buffer given), as Windows 7 allows.
    check(BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::add(std::span<const std::uint8_t> bytes) {
    // A ULONG at a time: a span may be longer than 4 GiB on a 64-bit build.
    constexpr std::size_t most = std::numeric_limits<ULONG>::max();
    while (!bytes.empty()) {
        const std::size_t size = bytes.size() < most ? bytes.size() : most;
        check(BCryptHashData(m_state->hash, const_cast<PUCHAR>(bytes.data()),
                             static_cast<ULONG>(size), 0));
        bytes = bytes.subspan(size);
    }
}

std::array<std::uint8_t, Sha256::kDigestSize> Sha256::finish() {
    std::array<std::uint8_t, kDigestSize> digest{};
    check(BCryptFinishHash(m_state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    return digest;
}

}  // namespace platform
