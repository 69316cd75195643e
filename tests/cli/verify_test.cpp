// --verify: the comparison of a diskette with the files it was built from, including a
// diskette altered after the build.
#include "cli/verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "cli/cli_app.h"
#include "cli/cli_process.h"
#include "cli/copy_worker.h"
#include "cli/several_drives.h"
#include "fat/fat12.h"
#include "platform/drive_faults.h"
#include "platform/sha256.h"
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

// Copies of a built diskette, one per drive: the sectors the file system uses, and nothing
// else, are written and read back.
TEST_F(VerifyDevice, ACopyTakesTheSystemAreaAndTheClustersInUse) {
    std::vector<std::uint8_t> image(std::size_t{kSectors} * 512);
    ASSERT_TRUE(m_device.read(0, kSectors, image.data()).ok());
    const auto runs = cli::sectorsInUse(image);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front().first, 0u);  // boot sector, 2 FATs of 9, 14 root sectors, then data
    std::uint32_t sectors = 0;
    for (const auto& [first, count] : runs) sectors += count;
    // 700 bytes and 65,536 bytes: 2 and 128 sectors (one-sector clusters).
    EXPECT_EQ(sectors, 33u + 2u + 128u);
    // Whatever is no FAT12 volume of ours is taken whole.
    for (std::size_t corrupt : {std::size_t{12}, std::size_t{13}, std::size_t{16}}) {
        auto odd = image;
        odd[corrupt] = 0;
        EXPECT_EQ(cli::sectorsInUse(odd), (decltype(runs){{0u, kSectors}})) << corrupt;
    }
}

// The copy as the medium may let it down: each failure named, never taken for a whole
// diskette, sector 0 of a copy cut short left blank.
TEST_F(VerifyDevice, ACopyToADriveFailsByTheDrivesFaultAlone) {
    std::vector<std::uint8_t> image(std::size_t{kSectors} * 512);
    ASSERT_TRUE(m_device.read(0, kSectors, image.data()).ok());
    struct Faults : platform::DriveFaults {
        std::function<std::optional<std::size_t>(std::uint64_t)> write;
        std::function<void(int)> afterFlush;
        std::vector<std::uint64_t> writes;
        int flushes = 0;
        std::optional<std::size_t> allowWrite(std::uint64_t offset, std::size_t) override {
            return write ? write(offset) : std::nullopt;
        }
        void written(std::uint64_t offset, const void*, std::size_t) override {
            writes.push_back(offset);
        }
        void flushed() override {
            if (afterFlush) afterFlush(++flushes);
        }
    };
    fattools::TempDir dir;
    const std::string drive = dir.file("drive.img"), away = dir.file("away.img");
    struct Case {
        const char* what;
        std::function<void(Faults&)> arrange;
        const char* kind;  // none: a whole copy
        const char* says;
    };
    const std::vector<Case> cases = {
        {"whole", nullptr, nullptr, ""},
        {"bad sector",
         [](Faults& f) {
             f.write = [](std::uint64_t at) {
                 return at >= 40 * 512 ? std::optional<std::size_t>(0) : std::nullopt;
             };
         },
         "other", "write error at byte"},
        {"differs on reading back",
         [&](Faults& f) {
             f.afterFlush = [&](int n) {  // the medium drops a byte of cluster 2 once written
                 if (n != 2) return;
                 auto bytes = *fattools::readBytes(drive);
                 bytes[33 * 512 + 5] ^= 0xFF;
                 fattools::writeBytes(drive, bytes);
             };
         },
         "verify-differs", "sector 33 differs from what was written"},
        {"taken out",
         [&](Faults& f) {
             f.afterFlush = [&](int n) {
                 if (n == 2) std::filesystem::rename(drive, away);
             };
         },
         "other", "drive.img"},
        {"no diskette", [&](Faults&) { std::filesystem::remove(drive); }, "no-diskette",
         "no diskette in drive A:"},
        {"another size", [&](Faults&) { std::filesystem::resize_file(drive, 737280); },
         "not-a-diskette", "holds 737280 bytes, the diskette built 1474560"},
    };
    dialogtest::ScopedEnv named("QUENVOL_DRIVE_A", drive);
    for (const Case& c : cases) {
        std::filesystem::remove(away);
        ASSERT_TRUE(fattools::writeBytes(drive, std::vector<std::uint8_t>(image.size(), 0xF6)));
        Faults faults;
        if (c.arrange) c.arrange(faults);
        std::vector<std::string> steps;
        cli::DisketteCopy copy;
        {
            platform::ScopedDriveFaults installed(faults);
            copy = cli::copyImageToDriveA(image, [&](const char* step) { steps.push_back(step); });
        }
        EXPECT_EQ(copy.ok, c.kind == nullptr) << c.what << ": " << copy.message;
        if (c.kind) {
            EXPECT_EQ(copy.failureKind, c.kind) << c.what;
            EXPECT_NE(copy.message.find(c.says), std::string::npos)
                << c.what << ": " << copy.message;
        }
        // Sector 0 is blanked first and written last: a copy cut short never starts.
        if (!faults.writes.empty()) {
            EXPECT_EQ(faults.writes.front(), 0u) << c.what;
        }
        const auto left = fattools::readBytes(std::filesystem::exists(away) ? away : drive);
        if (!c.kind) {
            ASSERT_TRUE(left);
            EXPECT_EQ(faults.writes.back(), 0u);
            EXPECT_EQ(steps, (std::vector<std::string>{"writing", "reading back"}));
            EXPECT_EQ(copy.sector0Sha256, platform::sha256Hex({image.data(), 512}));
            for (const auto& [first, count] : cli::sectorsInUse(image))
                EXPECT_TRUE(std::equal(image.begin() + first * 512,
                                       image.begin() + (first + count) * 512,
                                       left->begin() + first * 512));
            EXPECT_EQ((*left)[kSectors * 512 - 1], 0xF6);  // a free cluster is left as it was
        } else if (left && left->size() == image.size() && !faults.writes.empty() &&
                   std::string(c.kind) != "verify-differs") {
            EXPECT_TRUE(std::all_of(left->begin(), left->begin() + 512,
                                    [](std::uint8_t b) { return b == 0; }))
                << c.what << ": sector 0 of a copy cut short is blank";
        }
    }
}

TEST(SeveralDrives, TheWorkersLinesAndTheRunsStatus) {
    using Line = cli::WorkerLine;
    Line done;
    done.kind = Line::Kind::Done;
    done.diskette = 3;
    done.status = 4;
    done.failureKind = "write-protected";
    done.text = "write-protected:\tthe diskette\nin drive A:";
    const Line back = cli::parseWorkerLine(cli::workerLine(done));
    EXPECT_EQ(back.kind, Line::Kind::Done);
    EXPECT_EQ(back.diskette, 3u);
    EXPECT_EQ(back.status, 4);
    EXPECT_EQ(back.failureKind, "write-protected");
    EXPECT_EQ(back.text, "write-protected: the diskette in drive A:");  // one field, one line
    for (const char* other : {"step\tx\twriting", "done\t1\t0", "drive", "Formatting..."})
        EXPECT_EQ(cli::parseWorkerLine(other).kind, Line::Kind::Other) << other;

    const struct {
        std::vector<int> statuses;
        int status;
    } runs[] = {
        {{0, 0, 0, 0}, cli::kExitSuccess}, {{0, 4, 0, 3}, cli::kExitSomeDrivesFailed},
        {{3, 3}, cli::kExitNoDiskette},    {{3, 4}, cli::kExitStopped},
        {{0}, cli::kExitSuccess},
    };
    for (const auto& run : runs)
        EXPECT_EQ(cli::statusOfDrives(run.statuses), run.status)
            << ::testing::PrintToString(run.statuses);
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
