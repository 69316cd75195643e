#include "build/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace build {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    m_state->context = EVP_MD_CTX_new();
    if (m_state->context == nullptr ||
        EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256() = default;

void Sha256::add(std::span<const std::uint8_t> bytes) {
    EVP_DigestUpdate(m_state->context, bytes.data(), bytes.size());
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context, digest, &length);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 digest;
    digest.add(bytes);
    return digest.hex();
}

}  // namespace build
