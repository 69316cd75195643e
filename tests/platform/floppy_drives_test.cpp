#include "platform/floppy_drives.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/drive_a.h"
#include "platform_fixture.h"
#include "support/fake_sysfs.h"

namespace {

using platform::DriveASource;
using platform::FloppyDrive;
namespace fs = std::filesystem;

// The selection is the process's: every test leaves it as it found it.
class FloppyDrivesTest : public platformtest::PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        m_saved = platform::driveASelection();
        platform::setDriveASelection({});
    }
    void TearDown() override {
        platform::setDriveASelection(m_saved);
        PlatformTest::TearDown();
    }

  private:
    platform::DriveASelection m_saved;
};

TEST_F(FloppyDrivesTest, OnlyFloppyDrivesAreListedWithTheirFields) {
    fakesysfs::addMachine(m_dir / "sys");
    const fs::path dev = m_dir / "dev";
    fs::create_directory(dev);
    for (const char* node : {"fd0", "sdb"}) fakesysfs::writeAttribute(dev / node, "");
    ::chmod((dev / "sdb").c_str(), 0666);

    struct Expected {
        std::string name, description;
        std::optional<std::uint64_t> bytes;
        bool readOnly, mayWrite;
    };
    const std::vector<Expected> expected = {
        {"fd0", "floppy controller drive", std::nullopt, false, true},
        {"sdb", "TEAC FD-05PUB", 1474560, true, true},
        {"sdc", "Y-E DATA USB FDU", 0, false, false},
        {"sdab", "unnamed drive", 737280, false, false},
    };
    const auto drives = platform::findFloppyDrives((m_dir / "sys").string(), dev.string());
    ASSERT_EQ(drives.size(), expected.size());
    for (std::size_t i = 0; i < drives.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(drives[i].name, expected[i].name);
        EXPECT_EQ(drives[i].path, (dev / expected[i].name).string());
        EXPECT_EQ(drives[i].description(), expected[i].description);
        EXPECT_EQ(drives[i].mediumBytes, expected[i].bytes);
        EXPECT_EQ(drives[i].readOnly, expected[i].readOnly);
        EXPECT_EQ(drives[i].mayWrite, expected[i].mayWrite);
    }
    EXPECT_EQ(drives[1].vendor, "TEAC");
    EXPECT_EQ(drives[1].model, "FD-05PUB");
    EXPECT_TRUE(platform::findFloppyDrives((m_dir / "none").string(), dev.string()).empty());

    ASSERT_TRUE(platform::floppyDriveAt(drives, (dev / "sdc").string()));
    EXPECT_EQ(platform::floppyDriveAt(drives, (dev / "sdc").string())->name, "sdc");
    EXPECT_FALSE(platform::floppyDriveAt(drives, (dev / "sdd").string()));
    // A link to a drive's node (as under /dev/disk/by-id) names that drive.
    struct stat loop {};
    if (::stat("/dev/loop0", &loop) == 0 && S_ISBLK(loop.st_mode)) {
        fs::create_symlink("/dev/loop0", m_dir / "by-id");
        std::vector<FloppyDrive> real(1);
        real[0].name = "loop0";
        real[0].path = "/dev/loop0";
        EXPECT_TRUE(platform::floppyDriveAt(real, (m_dir / "by-id").string()));
    }
}

FloppyDrive drive(const std::string& name, std::optional<std::uint64_t> bytes) {
    FloppyDrive d;
    d.name = name;
    d.path = "/dev/" + name;
    d.mediumBytes = bytes;
    return d;
}

TEST_F(FloppyDrivesTest, DriveAIsChosenInOrder) {
    const FloppyDrive fd0 = drive("fd0", std::nullopt);
    const FloppyDrive emptyUsb = drive("sdb", 0);
    const FloppyDrive fullUsb = drive("sdc", 1474560);
    const FloppyDrive otherFull = drive("sdd", 737280);
    struct Case {
        const char* what;
        platform::DriveASelection selection;
        std::string environment, previous;
        std::vector<FloppyDrive> found;
        std::string path;
        DriveASource source;
    };
    const std::vector<Case> cases = {
        {"--drive first",
         {"/x.img", "/menu.img"},
         "/env.img",
         "",
         {fullUsb},
         "/x.img",
         DriveASource::Named},
        {"then the window menu",
         {"", "/menu.img"},
         "/env.img",
         "",
         {fullUsb},
         "/menu.img",
         DriveASource::ChosenThisRun},
        {"then the environment",
         {},
         "/env.img",
         "",
         {fullUsb},
         "/env.img",
         DriveASource::Environment},
        {"the only drive, empty", {}, "", "", {emptyUsb}, "/dev/sdb", DriveASource::OnlyDrive},
        {"the first with a diskette",
         {},
         "",
         "",
         {fd0, emptyUsb, fullUsb, otherFull},
         "/dev/sdc",
         DriveASource::FirstWithDiskette},
        {"the first when none holds one",
         {},
         "",
         "",
         {fd0, emptyUsb},
         "/dev/fd0",
         DriveASource::FirstDrive},
        {"A: keeps its diskette",
         {},
         "",
         "/dev/sdd",
         {fullUsb, otherFull},
         "/dev/sdd",
         DriveASource::StillHoldsDiskette},
        {"A: lost its diskette",
         {},
         "",
         "/dev/sdb",
         {emptyUsb, fullUsb},
         "/dev/sdc",
         DriveASource::FirstWithDiskette},
        {"none found", {}, "", "", {}, "/dev/fd0", DriveASource::Default},
    };
    for (const auto& c : cases) {
        const auto choice = platform::chooseDriveA(c.selection, c.environment, c.found, c.previous);
        EXPECT_EQ(choice.path, c.path) << c.what;
        EXPECT_EQ(choice.source, c.source) << c.what;
    }

    // The same rule on the process's own inputs: the fabricated machine, then a named drive.
    fakesysfs::addMachine(m_dir / "sys");
    platformtest::ScopedEnv sysfs("QUENVOL_SYSFS", (m_dir / "sys").string());
    platformtest::ScopedEnv unset("QUENVOL_DRIVE_A", std::nullopt);
    EXPECT_EQ(platform::currentDriveA().path, "/dev/sdb");
    EXPECT_EQ(platform::driveAPath(), "/dev/sdb");
    platform::setDriveASelection({.named = driveImage().string(), .chosenThisRun = {}});
    EXPECT_EQ(platform::driveAPath(), driveImage().string());
}

}  // namespace
