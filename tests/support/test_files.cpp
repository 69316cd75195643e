#include "support/test_files.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace fattools {

// create_directory makes the name only where it was free, so a name another test (or another
// process) took is drawn again; nothing of the system's own is needed for it.
std::string newFolder(const std::string& base, const std::string& prefix) {
    std::random_device seed;
    std::mt19937_64 draw(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = std::filesystem::path(base) / (prefix + std::to_string(draw()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) return candidate.string();
        if (error) return {};
    }
    return {};
}

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // An empty value removes the variable from the C runtime's copy and from the system's.
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
#endif
}

TempDir::TempDir()
    : m_path(newFolder(std::filesystem::temp_directory_path().string(), "quenvol-fat-")) {}

TempDir::~TempDir() {
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::optional<std::vector<std::uint8_t>> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> plausibleImage(std::size_t size, const std::string& partNumber,
                                         std::uint8_t seed) {
    std::vector<std::uint8_t> image(size);
    std::uint32_t state = seed * 2654435761u + 7;
    for (auto& b : image) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    markPlausible(image, partNumber);
    return image;
}

void markPlausible(std::vector<std::uint8_t>& image, const std::string& partNumber) {
    const std::string head = "TEST BIOS image for part " + partNumber + "\r\n";
    std::copy_n(head.begin(), std::min(head.size(), image.size()), image.begin());
    // At 0xFFFF0 of the first megabyte: jmp far F000:E05B, then the date and the model byte.
    static constexpr std::uint8_t kEnd[16] = {0xEA, 0x5B, 0xE0, 0x00, 0xF0, '1',  '2',  '/',
                                              '0',  '1',  '/',  '2',  '6',  0x00, 0xFC, 0x00};
    if (image.size() >= sizeof kEnd) std::copy(std::begin(kEnd), std::end(kEnd), image.end() - 16);
}

}  // namespace fattools
