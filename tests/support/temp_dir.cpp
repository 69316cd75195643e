#include "support/temp_dir.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace fattools {

// create_directory makes the name only where it was free, so a name another test (or another
// process) took is drawn again; nothing of the system's own is needed for it.
TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 draw(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto candidate = base / ("quenvol-fat-" + std::to_string(draw()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            m_path = candidate.string();
            return;
        }
        if (error) return;
    }
}

TempDir::~TempDir() {
    if (m_path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace fattools
