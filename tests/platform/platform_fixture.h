// Shared by the platform and sector tests: a scratch folder, drive A: pointed at a file in it,
// and the platform id, all restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace platformtest {

namespace fs = std::filesystem;

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        fattools::setEnvironment(name, value);
    }
    ~ScopedEnv() { fattools::setEnvironment(m_name, m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

inline std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Bytes that differ from sector to sector and from position to position.
inline std::vector<std::uint8_t> patternBytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed * 13 + i / 512) & 0xFF);
    }
    return bytes;
}

// A scratch folder as the current directory, with drive A: at <folder>/drive_a.img.
class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fattools::newFolder(fs::temp_directory_path().string(), "quenvol-platform-");
        ASSERT_FALSE(m_dir.empty());
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir);
        m_drive.emplace("QUENVOL_DRIVE_A", driveImage().string());
        m_platform.emplace("QUENVOL_PLATFORM_ID", std::nullopt);
    }
    void TearDown() override {
        m_platform.reset();
        m_drive.reset();
        fs::current_path(m_oldCwd);
        std::error_code ignored;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_dir, ignored);
    }

    fs::path driveImage() const { return m_dir / "drive_a.img"; }
    void pointDriveAt(const fs::path& path) { m_drive.emplace("QUENVOL_DRIVE_A", path.string()); }
    void selectPlatform(const std::string& id) { m_platform.emplace("QUENVOL_PLATFORM_ID", id); }
    // A blank 1.44 MB medium holding a distinct pattern, so that any stray write shows.
    void makeImage(std::size_t bytes = 1474560) {
        writeBytes(driveImage(), patternBytes(bytes, 1));
    }

    fs::path m_dir;

  private:
    fs::path m_oldCwd;
    std::optional<ScopedEnv> m_drive;
    std::optional<ScopedEnv> m_platform;
};

}  // namespace platformtest
