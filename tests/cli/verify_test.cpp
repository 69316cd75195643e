// --verify: the comparison of a diskette with the files it was built from, including a
// diskette altered after the build.
#include "cli/verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli_process.h"
#include "fat/fat12.h"
#include "fat/memory_device.h"
#include "support/dialog_harness.h"
#include "support/fat_tools.h"

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

bool mentions(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
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

// The current directory for one test, restored afterwards.
class InDirectory {
  public:
    explicit InDirectory(const std::string& dir) : m_old(fs::current_path()) {
        fs::current_path(dir);
    }
    ~InDirectory() { fs::current_path(m_old); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    fs::path m_old;
};

TEST(VerifySnapshot, TakesTheListTheBuildCopiesAndTheBootImage) {
    fattools::TempDir dir;
    for (const char* name : {"minidos.sys", "zyplet.exe", "platform.bin", "bios.rom"})
        ASSERT_TRUE(fattools::writeBytes(dir.file(name), pattern(100, name[0])));
    ASSERT_TRUE(fattools::writeBytes(dir.file("crisboot.bin"), pattern(300, 5)));
    InDirectory in(dir.path());

    const Expectation five = cli::snapshotStartDirectory(true);
    std::vector<std::string> names;
    for (const auto& f : five.files) names.push_back(f.name);
    // No vgabios.exe: the build passes it over, so nothing is expected of it.
    EXPECT_EQ(names,
              (std::vector<std::string>{"minidos.sys", "zyplet.exe", "platform.bin", "bios.rom"}));
    EXPECT_TRUE(five.problems.empty());
    EXPECT_EQ(five.files[3].bytes, pattern(100, 'b'));
    EXPECT_EQ(five.files[3].origin, fs::canonical(dir.path()).string() + "/bios.rom");
    ASSERT_TRUE(five.bootSector);
    auto padded = pattern(300, 5);
    padded.resize(512, 0);
    EXPECT_EQ(*five.bootSector, padded);

    // The flash utility's name in capitals still chooses the four-file list.
    ASSERT_TRUE(fattools::writeBytes(dir.file("ZYPLET16.EXE"), pattern(10, 6)));
    fs::remove(dir.file("crisboot.bin"));
    const Expectation four = cli::snapshotStartDirectory(true);
    EXPECT_EQ(cli::fileListOfCurrentDirectory(),
              (std::vector<std::string>{"minidos.sys", "zyplet16.exe", "vgabios.exe", "bios.qvx"}));
    EXPECT_FALSE(four.bootSector);
    EXPECT_TRUE(mentions(four.problems, "bios.qvx could not be read from the start directory"));
    EXPECT_TRUE(mentions(four.problems, "no boot-sector image crisboot.bin"));
}

TEST(VerifySnapshot, StagedFilesAreNamedByTheProjectFileTheyCameFrom) {
    fattools::TempDir project;
    ASSERT_TRUE(fattools::writeBytes(project.file("develQ7A.rom"), pattern(64, 1)));
    ASSERT_TRUE(fattools::writeBytes(project.file("testQ7A.rom"), pattern(64, 2)));
    Expectation expected;
    expected.files = {{"bios.rom", pattern(64, 2), "/gone/bios.rom"},
                      {"platform.bin", pattern(8, 3), "/gone/platform.bin"},
                      {"minidos.sys", pattern(8, 4), project.file("testQ7A.rom")}};
    cli::nameStagedOrigins(expected, project.path());
    EXPECT_EQ(expected.files[0].origin, project.file("testQ7A.rom"));
    EXPECT_EQ(expected.files[1].origin, "/gone/platform.bin as staged for the copy");
    // A file still where it was copied from keeps that name.
    EXPECT_EQ(expected.files[2].origin, project.file("testQ7A.rom"));
}

// End to end: a diskette built by the program, then changed behind its back.
TEST(VerifyDrive, ADisketteAlteredAfterTheBuildIsCaught) {
    clitest::Scratch s;
    const auto built =
        s.run({"--create", "--yes", "--drive", s.image(), clitest::Scratch::project()});
    ASSERT_EQ(built.exitCode, 0) << built.output;

    // The start directory as it stood during the copy: the kit and the staged BIOS files.
    const std::string project = clitest::Scratch::project();
    fs::copy_file(project + "/platform.bin", s.kit() + "/platform.bin");
    fs::copy_file(project + "/vgabios.exe", s.kit() + "/vgabios.exe");
    fs::copy_file(project + "/testQ7A.rom", s.kit() + "/bios.rom");
    Expectation expected;
    {
        InDirectory in(s.kit());
        expected = cli::snapshotStartDirectory(true);
    }
    dialogtest::ScopedEnv drive("QUENVOL_DRIVE_A", s.image());
    EXPECT_TRUE(cli::verifyDriveA(expected).empty());

    auto altered = *fattools::readBytes(project + "/testQ7A.rom");
    altered[12345] ^= 0x01;
    ASSERT_TRUE(fattools::mcopyIn(s.image(), "BIOS.ROM", altered));
    const auto report = cli::verifyDriveA(expected);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_TRUE(report[0].starts_with("verify: bios.rom differs from " +
                                      fs::canonical(s.kit()).string() + "/bios.rom at byte 12345"))
        << report[0];
}

}  // namespace
