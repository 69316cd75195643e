// Formatting drive A: through the engine: images checked by fsck.fat and mtools, and every
// refusal leaving the medium exactly as it was.
#include "platform/drive_format.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "../platform/platform_fixture.h"
#include "framework/shell.h"
#include "support/failing_device.h"
#include "support/fake_sysfs.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace {

using platformtest::patternBytes;
using platformtest::readBytes;
using platformtest::writeBytes;
namespace fs = std::filesystem;

constexpr std::size_t kImageBytes = 1474560;
constexpr std::uint64_t kFreeBytes = 1457664;  // 2847 clusters of one sector

class DriveFormatTest : public platformtest::PlatformTest {
  protected:
    static bool startsWith(const std::string& text, const std::string& prefix) {
        return text.rfind(prefix, 0) == 0;
    }
    void expectCleanAndEmpty(std::uint64_t freeBytes = kFreeBytes) {
        const auto fsck = fattools::runFsck(driveImage().string());
        EXPECT_TRUE(fsck.clean) << fsck.output;
        const auto names = fattools::mdirNames(driveImage().string());
        ASSERT_TRUE(names);
        EXPECT_TRUE(names->empty());
        EXPECT_EQ(fattools::mdirFreeBytes(driveImage().string()), freeBytes);
    }
    // Runs a format that must be refused and checks that the medium kept every byte.
    std::string refusedFormat(const fs::path& medium) {
        const auto before =
            fs::is_regular_file(medium) ? readBytes(medium) : std::vector<std::uint8_t>{};
        auto report = platform::formatDriveA({});
        EXPECT_FALSE(report);
        if (!report) {
            EXPECT_EQ(report.failure().stage, platform::FormatStage::Opening);
        }
        if (fs::is_regular_file(medium)) {
            EXPECT_TRUE(readBytes(medium) == before) << "a refused format changed the medium";
        }
        return report ? std::string() : shell::formatFailureLine(report.failure());
    }
};

TEST_F(DriveFormatTest, QuickFormatLeavesAnEmptyVolumeThatToolsAccept) {
    makeImage();
    fat::FormatOptions options;
    options.label = "crisis";
    auto report = platform::formatDriveA(options);
    ASSERT_TRUE(report) << report.message();
    EXPECT_EQ(report->capacityBytes, kFreeBytes);
    EXPECT_EQ(report->geometry.totalSectors, 2880u);
    EXPECT_TRUE(report->badSectors.empty());
    EXPECT_EQ(fs::file_size(driveImage()), kImageBytes);
    expectCleanAndEmpty();
    const auto label = fattools::runTool({"mlabel", "-s", "-i", driveImage().string(), "::"});
    EXPECT_NE(label.output.find("CRISIS"), std::string::npos) << label.output;
}

TEST_F(DriveFormatTest, FullFormatClearsEverySectorAndReportsProgress) {
    makeImage();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
    fat::FormatOptions options;
    options.quick = false;
    options.progress = [&](std::uint32_t done, std::uint32_t all) {
        calls.emplace_back(done, all);
    };
    auto report = platform::formatDriveA(options);
    ASSERT_TRUE(report) << report.message();
    ASSERT_GT(calls.size(), 10u);
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
    EXPECT_EQ(calls.back(), std::make_pair(2880u, 2880u));
    const auto bytes = readBytes(driveImage());
    // Data area from sector 33 on: the old pattern must be gone.
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 33 * 512, bytes.end(), [](std::uint8_t b) { return b == 0; }));
    expectCleanAndEmpty();
}

TEST_F(DriveFormatTest, EveryDisketteSizeFormatsCleanly) {
    for (std::size_t size : {368640u, 737280u, 1228800u, 2949120u}) {
        SCOPED_TRACE(size);
        makeImage(size);
        auto report = platform::formatDriveA({});
        ASSERT_TRUE(report) << report.message();
        EXPECT_EQ(fs::file_size(driveImage()), size);
        expectCleanAndEmpty(report->capacityBytes);
    }
}

TEST_F(DriveFormatTest, ProbeNamesTheMediumWithoutWritingIt) {
    makeImage();
    const auto before = readBytes(driveImage());
    auto medium = platform::probeDriveA();
    ASSERT_TRUE(medium) << medium.message();
    EXPECT_EQ(medium->description, "3.5\", 1.44MB, 512 bytes/sector");
    EXPECT_EQ(medium->bytes, kImageBytes);
    EXPECT_EQ(medium->path, driveImage().string());
    EXPECT_EQ(medium->name, driveImage().string() + ", 1,474,560 bytes");
    EXPECT_TRUE(readBytes(driveImage()) == before);

    // A write-protected diskette still shows its capacity.
    fs::permissions(driveImage(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_TRUE(platform::probeDriveA());

    fs::remove(driveImage());
    auto empty = platform::probeDriveA();
    ASSERT_FALSE(empty);
    const std::string refusal = shell::driveRefusalLine(empty.error());
    EXPECT_TRUE(startsWith(refusal, "There is no diskette in drive A:")) << refusal;
}

// A floppy drive is named by its device, vendor and model: a loop device over the image
// stands for a USB floppy drive that a made-up sysfs describes. Needs loop devices.
TEST_F(DriveFormatTest, ProbeNamesAFloppyDeviceByItsModel) {
    makeImage();
    const auto attach = fattools::runTool({"losetup", "-f", "--show", driveImage().string()});
    const std::string device = attach.output.substr(0, attach.output.find('\n'));
    if (attach.exitCode != 0 || !startsWith(device, "/dev/loop")) {
        GTEST_SKIP() << "no loop device: " << attach.output;
    }
    struct Detach {
        std::string device;
        ~Detach() { fattools::runTool({"losetup", "-d", device}); }
    } detach{device};
    fakesysfs::addDisk(m_dir / "sys", {device.substr(5), "2880", "1", "0", "TEAC", "FD-05PUB",
                                       "pci0000:00/usb1/1-1:1.0", "08 04"});
    platformtest::ScopedEnv sysfs("QUENVOL_SYSFS", (m_dir / "sys").string());
    pointDriveAt(device);
    auto medium = platform::probeDriveA();
    ASSERT_TRUE(medium) << medium.message();
    EXPECT_EQ(medium->name, device + ", TEAC FD-05PUB, USB port 1-1, 1,474,560 bytes");
}

TEST_F(DriveFormatTest, MediumNamesAndGroupedNumbers) {
    EXPECT_EQ(platform::describeMedium(737280), "3.5\", 720KB, 512 bytes/sector");
    EXPECT_EQ(platform::describeMedium(1228800), "5.25\", 1.2MB, 512 bytes/sector");
    EXPECT_EQ(platform::describeMedium(1474048), "Unknown capacity");
    EXPECT_EQ(platform::groupThousands(0), "0");
    EXPECT_EQ(platform::groupThousands(999), "999");
    EXPECT_EQ(platform::groupThousands(1000), "1,000");
    EXPECT_EQ(platform::groupThousands(1457664), "1,457,664");
}

TEST_F(DriveFormatTest, EmptyDriveIsRefusedWithoutCreatingAnything) {
    const std::string message = refusedFormat(driveImage());
    EXPECT_TRUE(startsWith(message, "There is no diskette in drive A:. Insert a diskette"))
        << message;
    EXPECT_FALSE(fs::exists(driveImage()));
}

TEST_F(DriveFormatTest, WrongSizedImagesAreRefusedAndLeftUnchanged) {
    for (std::size_t size :
         {std::size_t{1474048}, std::size_t{1474561}, std::size_t{10 * 1024 * 1024}}) {
        SCOPED_TRACE(size);
        writeBytes(driveImage(), patternBytes(size, 5));
        const std::string message = refusedFormat(driveImage());
        EXPECT_TRUE(startsWith(message, "Drive A: does not hold a diskette")) << message;
        EXPECT_NE(message.find(platform::groupThousands(size) + " bytes"), std::string::npos)
            << message;
        EXPECT_EQ(fs::file_size(driveImage()), size);
    }
}

TEST_F(DriveFormatTest, DirectoryAsDriveIsNotADiskette) {
    fs::create_directory(m_dir / "folder");
    pointDriveAt(m_dir / "folder");
    const std::string message = refusedFormat(m_dir / "folder");
    EXPECT_TRUE(startsWith(message, "Drive A: does not hold a diskette")) << message;
}

TEST_F(DriveFormatTest, ReadOnlyImageIsWriteProtected) {
    // The image's missing write bits stand for the diskette's tab, for the superuser too.
    makeImage();
    ASSERT_EQ(::chmod(driveImage().c_str(), 0444), 0);
    const std::string message = refusedFormat(driveImage());
    EXPECT_TRUE(startsWith(message, "The diskette in drive A: is write-protected")) << message;
}

TEST_F(DriveFormatTest, DriveHeldByAnotherProgramIsBusy) {
    makeImage();
    const int other = ::open(driveImage().c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    const std::string message = refusedFormat(driveImage());
    ::close(other);
    EXPECT_TRUE(startsWith(message, "Drive A: is in use by another program")) << message;
    EXPECT_TRUE(platform::formatDriveA({})) << "the drive is free again";
}

TEST_F(DriveFormatTest, BadLabelIsRefusedBeforeAnyWrite) {
    makeImage();
    fat::FormatOptions options;
    options.label = "MUCH TOO LONG";
    const auto before = readBytes(driveImage());
    auto report = platform::formatDriveA(options);
    ASSERT_FALSE(report);
    const std::string line = shell::formatFailureLine(report.failure());
    EXPECT_TRUE(startsWith(line, "Drive A: was not formatted: volume label")) << line;
    EXPECT_TRUE(readBytes(driveImage()) == before);
}

// On a real drive a full format must read the medium, not the page cache that holds what it
// has just written: the drive is open with O_DIRECT while the sectors are checked. A loop
// device stands for the drive; skipped where none can be attached.
TEST_F(DriveFormatTest, FullFormatReadsABlockDevicePastTheCache) {
    makeImage();
    const fattools::ToolRun attach =
        fattools::runTool({"losetup", "-f", "--show", driveImage().string()});
    const std::string device = attach.output.substr(0, attach.output.find('\n'));
    if (attach.exitCode != 0 || device.rfind("/dev/", 0) != 0) {
        GTEST_SKIP() << "no loop device can be attached here: " << attach.output;
    }
    struct Detach {
        std::string device;
        ~Detach() { fattools::runTool({"losetup", "-d", device}); }
    } detach{device};
    pointDriveAt(device);

    // Whether a descriptor open on the device carries O_DIRECT, seen from /proc.
    auto directOpen = [&device] {
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            if (fs::read_symlink(fd.path(), ec) != device) continue;
            std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
            std::string key;
            std::string flags;
            while (info >> key >> flags)
                if (key == "flags:" && (std::stoul(flags, nullptr, 8) & O_DIRECT) != 0) return true;
        }
        return false;
    };
    int checks = 0;
    int direct = 0;
    fat::FormatOptions options;
    options.quick = false;
    options.progress = [&](std::uint32_t done, std::uint32_t all) {
        if (done == all) return;
        ++checks;
        if (directOpen()) ++direct;
    };
    auto report = platform::formatDriveA(options);
    ASSERT_TRUE(report) << report.message();
    EXPECT_GT(checks, 0);
    EXPECT_EQ(direct, checks) << "the check read through the page cache";
    pointDriveAt(driveImage());
    expectCleanAndEmpty();
}

// A medium that gives up part-way: the format must report failure and say where.
TEST(DriveFormatDeviceTest, FailureMidFormatIsNeverSuccess) {
    fat::MemoryDevice memory(2880);
    {
        fat::FailingDevice device(memory);
        device.failAfterSectorsWritten(10);
        auto direct = fat::format(device, {});
        EXPECT_FALSE(direct);
    }
    {
        fat::FailingDevice device(memory);
        device.failAfterSectorsWritten(10);
        auto report = platform::formatMedium(device, {});
        ASSERT_FALSE(report);
        EXPECT_EQ(report.failure().stage, platform::FormatStage::Writing);
        EXPECT_EQ(report.kind(), base::Failure::IoError);
        const std::string line = shell::formatFailureLine(report.failure());
        EXPECT_EQ(line.rfind("The format of drive A: failed: a write error at sectors 19 to 32. "
                             "The diskette is not usable until it has been formatted again.",
                             0),
                  0u)
            << line;
    }
    for (auto mode : {fat::FailingDevice::Mode::Fail, fat::FailingDevice::Mode::Stop}) {
        // A full format that loses the medium in the data area.
        fat::FailingDevice device(memory);
        device.failAfterSectorsWritten(1000, mode);
        fat::FormatOptions options;
        options.quick = false;
        auto report = platform::formatMedium(device, options);
        ASSERT_FALSE(report);
        const std::string line = shell::formatFailureLine(report.failure());
        EXPECT_NE(line.find("The format of drive A: failed: a write error at sector"),
                  std::string::npos)
            << line;
    }
}

// The dialogs' words come from the failure's stage and kind alone, never from the detail.
TEST(FormatWordsTest, EachStageAndKindHasItsSentence) {
    using base::Failure;
    using platform::FailedTransfer;
    using platform::FormatStage;
    struct Refusal {
        Failure kind;
        const char* sentence;
        const char* shortName;  // the capacity list's entry
    };
    const Refusal refusals[] = {
        {Failure::NoMedium, "There is no diskette in drive A:. Insert a diskette and try again.",
         "No diskette"},
        {Failure::NotDiskette, "Drive A: does not hold a diskette, so nothing was formatted.",
         "Not a diskette"},
        {Failure::WriteProtected,
         "The diskette in drive A: is write-protected. Remove the write protection and try again.",
         "Unknown capacity"},
        {Failure::PermissionDenied,
         "You have no permission to use drive A:. Join the group that owns the drive, or run the "
         "program with access to it, then try again.",
         "Unknown capacity"},
        {Failure::Busy,
         "Drive A: is in use by another program or is mounted. Close that program or unmount the "
         "drive, then try again.",
         "Drive in use"},
        {Failure::IoError, "Drive A: could not be opened for formatting.", "Unknown capacity"},
        {Failure::Other, "Drive A: could not be opened for formatting.", "Unknown capacity"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.sentence);
        const base::Error why(r.kind, "busy: a detail that names another kind");
        const platform::FormatFailure failure{FormatStage::Opening, why, std::nullopt};
        EXPECT_EQ(shell::formatFailureSentence(failure), r.sentence);
        EXPECT_EQ(shell::formatFailureDetail(failure), why.detail());
        EXPECT_EQ(shell::driveRefusalLine(why),
                  std::string(r.sentence) + " [" + why.detail() + "]");
        EXPECT_EQ(shell::shortRefusal(r.kind), r.shortName);
    }

    const platform::FormatFailure label{
        FormatStage::Preparing, base::Error(Failure::BadData, "volume label \"X\" is bad"), {}};
    EXPECT_EQ(shell::formatFailureLine(label),
              "Drive A: was not formatted: volume label \"X\" is bad.");
    EXPECT_EQ(shell::formatFailureDetail(label), "");

    const std::string unusable = ". The diskette is not usable until it has been formatted again.";
    const base::Error lost(Failure::IoError, "no medium");
    const std::pair<std::optional<FailedTransfer>, std::string> stops[] = {
        {FailedTransfer{FailedTransfer::Op::Read, 7, 1}, ": a read error at sector 7"},
        {FailedTransfer{FailedTransfer::Op::Write, 19, 14}, ": a write error at sectors 19 to 32"},
        {FailedTransfer{FailedTransfer::Op::Flush, 0, 0},
         ": the last writes could not be completed"},
        {std::nullopt, ""},
    };
    for (const auto& [transfer, where] : stops) {
        const platform::FormatFailure failure{FormatStage::Writing, lost, transfer};
        EXPECT_EQ(shell::formatFailureLine(failure),
                  "The format of drive A: failed" + where + unusable + " [no medium]");
    }
}

TEST(DriveFormatDeviceTest, OneBadSectorInTheDataAreaIsSetAside) {
    fat::MemoryDevice memory(2880);
    fat::FailingDevice device(memory);
    device.markBad(100);
    fat::FormatOptions options;
    options.quick = false;
    auto report = platform::formatMedium(device, options);
    ASSERT_TRUE(report) << report.message();
    EXPECT_EQ(report->badSectors, std::vector<std::uint32_t>{100});
    EXPECT_EQ(report->capacityBytes, kFreeBytes - 512);
}

}  // namespace
