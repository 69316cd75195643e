// --verify: the comparison of a diskette with the files it was built from, including a
// diskette altered after the build.
#include "cli/verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli_process.h"
#include "fat/fat12.h"
#include "support/dialog_harness.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace {

namespace fs = std::filesystem;
using cli::Expectation;

constexpr std::uint32_t kSectors = 2880;
constexpr std::time_t kWhen = 1700000000;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

// A formatted diskette holding two files and a boot sector, and the expectation it meets.
class VerifyDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fat::format(m_device, {}).ok());
        auto volume = fat::Volume::mount(m_device);
        ASSERT_TRUE(volume.ok());
        ASSERT_TRUE(volume->writeFile("minidos.sys", m_small, kWhen).ok());
        ASSERT_TRUE(volume->writeFile("bios.rom", m_rom, kWhen).ok());
        // A boot sector of our own that keeps the formatter's parameters, as crisboot.bin does.
        m_boot.resize(512);
        ASSERT_TRUE(m_device.read(0, 1, m_boot.data()).ok());
        const auto code = pattern(200, 0x33);
        std::copy(code.begin(), code.end(), m_boot.begin() + 100);
        ASSERT_TRUE(m_device.write(0, 1, m_boot.data()).ok());
        m_expected.files = {{"minidos.sys", m_small, "/kit/minidos.sys"},
                            {"bios.rom", m_rom, "/project/testQ7A.rom"}};
        m_expected.bootSector = m_boot;
    }
    void rewrite(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        auto volume = fat::Volume::mount(m_device);
        ASSERT_TRUE(volume.ok());
        ASSERT_TRUE(volume->writeFile(name, bytes, kWhen).ok());
    }

    fat::MemoryDevice m_device{kSectors};
    std::vector<std::uint8_t> m_small = pattern(700, 1);
    std::vector<std::uint8_t> m_rom = pattern(65536, 9);
    std::vector<std::uint8_t> m_boot;
    Expectation m_expected;
};

TEST_F(VerifyDevice, AMatchingDisketteReportsNothing) {
    EXPECT_TRUE(cli::verifyDiskette(m_device, m_expected).empty());
}

TEST_F(VerifyDevice, AnAlteredByteIsReportedWithItsOffsetAndSource) {
    auto altered = m_rom;
    altered[40000] ^= 0xFF;
    rewrite("bios.rom", altered);
    const auto report = cli::verifyDiskette(m_device, m_expected);
    ASSERT_EQ(report.size(), 1u);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "verify: bios.rom differs from /project/testQ7A.rom at byte 40000 (diskette "
                  "0x%02X, source 0x%02X)",
                  altered[40000], m_rom[40000]);
    EXPECT_EQ(report[0], expected);
}

TEST_F(VerifyDevice, EachDifferenceIsReportedOnItsOwnLine) {
    rewrite("minidos.sys", pattern(699, 1));  // one byte short
    auto changed = m_boot;
    changed[300] ^= 0x80;
    ASSERT_TRUE(m_device.write(0, 1, changed.data()).ok());
    m_expected.files.push_back({"vgabios.exe", pattern(10, 2), "/project/vgabios.exe"});
    const auto report = cli::verifyDiskette(m_device, m_expected);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0],
              "verify: minidos.sys holds 699 bytes on the diskette, /kit/minidos.sys holds 700");
    EXPECT_TRUE(report[1].starts_with("verify: vgabios.exe cannot be read from the diskette"))
        << report[1];
    EXPECT_TRUE(report[2].starts_with("verify: sector 0 differs from crisboot.bin at byte 300"))
        << report[2];
}

TEST_F(VerifyDevice, ProblemsFoundBeforeTheCopyComeFirst) {
    m_expected.problems.push_back("verify: no boot-sector image crisboot.bin");
    m_expected.bootSector.reset();
    const auto report = cli::verifyDiskette(m_device, m_expected);
    EXPECT_EQ(report, std::vector<std::string>{"verify: no boot-sector image crisboot.bin"});
}

TEST(Verify, AnUnformattedDisketteIsReported) {
    fat::MemoryDevice blank(kSectors);
    Expectation expected;
    expected.files = {{"minidos.sys", {1, 2, 3}, "/kit/minidos.sys"}};
    const auto report = cli::verifyDiskette(blank, expected);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_TRUE(report[0].starts_with("verify: the diskette holds no readable FAT12 volume"))
        << report[0];
}

// The expectation comes from the files the build recorded as its sources, read as they are
// now: never from a staged copy in the start directory.
TEST(VerifySources, AreTheFilesTheBuildRecordedReadNow) {
    fattools::TempDir dir;
    ASSERT_TRUE(fattools::writeBytes(dir.file("minidos.sys"), pattern(100, 1)));
    ASSERT_TRUE(fattools::writeBytes(dir.file("testQ7A.rom"), pattern(64, 2)));
    build::Written written;
    written.files = {{"minidos.sys", dir.file("minidos.sys")},
                     {"bios.rom", dir.file("testQ7A.rom")},
                     {"platform.bin", dir.file("gone.bin")}};
    written.bootSector = pattern(512, 3);

    const Expectation expected = cli::expectationOf(written);
    ASSERT_EQ(expected.files.size(), 2u);
    EXPECT_EQ(expected.files[1].name, "bios.rom");
    EXPECT_EQ(expected.files[1].bytes, pattern(64, 2));
    EXPECT_EQ(expected.files[1].origin, dir.file("testQ7A.rom"));
    EXPECT_EQ(expected.bootSector, written.bootSector);
    ASSERT_EQ(expected.problems.size(), 1u);
    EXPECT_TRUE(
        expected.problems[0].starts_with("verify: platform.bin cannot be compared: its "
                                         "source " +
                                         dir.file("gone.bin")))
        << expected.problems[0];
}

// End to end: a diskette built by the program, then changed behind its back.
TEST(VerifyDrive, ADisketteAlteredAfterTheBuildIsCaught) {
    clitest::Scratch s;
    const auto built =
        s.run({"--create", "--yes", "--drive", s.image(), clitest::Scratch::project()});
    ASSERT_EQ(built.exitCode, 0) << built.output;

    const std::string project = clitest::Scratch::project();
    build::Written written;
    written.files = {{"minidos.sys", s.kit() + "/minidos.sys"},
                     {"zyplet.exe", s.kit() + "/zyplet.exe"},
                     {"platform.bin", project + "/platform.bin"},
                     {"vgabios.exe", project + "/vgabios.exe"},
                     {"bios.rom", project + "/testQ7A.rom"}};
    auto image = fattools::readBytes(s.image());
    ASSERT_TRUE(image);
    written.bootSector.emplace(image->begin(), image->begin() + 512);
    const Expectation expected = cli::expectationOf(written);
    dialogtest::ScopedEnv drive("QUENVOL_DRIVE_A", s.image());
    EXPECT_TRUE(cli::verifyDriveA(expected).empty());

    auto altered = *fattools::readBytes(project + "/testQ7A.rom");
    altered[12345] ^= 0x01;
    ASSERT_TRUE(fattools::mcopyIn(s.image(), "BIOS.ROM", altered));
    const auto report = cli::verifyDriveA(expected);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_TRUE(report[0].starts_with("verify: bios.rom differs from " + project +
                                      "/testQ7A.rom at byte 12345"))
        << report[0];
}

}  // namespace
