#include "platform/floppy_drives.h"

#include <gtest/gtest.h>

#include "platform/diskette_image.h"
#include "platform/drive_a.h"
#include "platform_fixture.h"

// The made-up sysfs, device nodes, pipes and links serve the Linux cases only.
#ifndef _WIN32
#include <sys/stat.h>

#include "support/fake_sysfs.h"
#endif

namespace {

using platform::FloppyDrive;
namespace fs = std::filesystem;

// The selection is the process's: every test leaves it as it found it.
class FloppyDrivesTest : public platformtest::PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        platform::setDriveASelection({});
#ifndef _WIN32
        fakesysfs::addMachine(m_dir / "sys");
#endif
    }
    void TearDown() override {
        platform::setDriveASelection(m_saved);
        PlatformTest::TearDown();
    }

  private:
    platform::DriveASelection m_saved = platform::driveASelection();
};

#ifndef _WIN32
// "name, description, size, ro, w": the fields of one drive in one text.
std::string summary(const FloppyDrive& d) {
    return d.name + ", " + d.description() + ", " +
           (d.mediumBytes ? std::to_string(*d.mediumBytes) : "unknown") +
           (d.readOnly ? ", ro" : "") + (d.mayWrite ? ", w" : "");
}

TEST_F(FloppyDrivesTest, OnlyFloppyDrivesAreListedWithTheirFields) {
    const fs::path dev = m_dir / "dev";
    for (const char* node : {"fd0", "sdb"}) fakesysfs::writeAttribute(dev / node, "");
    const auto drives = platform::findFloppyDrives((m_dir / "sys").string(), dev.string());
    std::vector<std::string> found;
    for (const auto& d : drives) found.push_back(summary(d));
    EXPECT_EQ(found, (std::vector<std::string>{"fd0, floppy controller drive, unknown, w",
                                               "sdb, TEAC FD-05PUB, USB port 2-1.3, 1474560, ro, w",
                                               "sdc, Y-E DATA USB FDU, USB port 1-2, 0",
                                               "sdab, unnamed drive, USB port 1-4, 737280"}));
    ASSERT_EQ(drives.size(), 4u);
    EXPECT_EQ(drives[3].path, (dev / "sdab").string());
    EXPECT_TRUE(platform::findFloppyDrives((m_dir / "none").string(), dev.string()).empty());

    EXPECT_EQ(platform::floppyDriveAt(drives, (dev / "sdc").string())->name, "sdc");
    EXPECT_FALSE(platform::floppyDriveAt(drives, (dev / "sdd").string()));
    // A link to a drive's node (as under /dev/disk/by-id) names that drive.
    struct stat loop {};
    if (::stat("/dev/loop0", &loop) == 0 && S_ISBLK(loop.st_mode)) {
        fs::create_symlink("/dev/loop0", m_dir / "by-id");
        FloppyDrive real;
        real.path = "/dev/loop0";
        EXPECT_TRUE(platform::floppyDriveAt({real}, (m_dir / "by-id").string()));
    }
}

#endif

TEST_F(FloppyDrivesTest, DriveAIsChosenInOrder) {
    using S = platform::DriveASource;
#ifdef _WIN32
    const std::string kDefault = "\\\\.\\A:";
#else
    const std::string kDefault = "/dev/fd0";
#endif
    const auto drive = [](const char* name, std::optional<std::uint64_t> bytes) {
        FloppyDrive d;
        d.path = std::string("/dev/") + name;
        d.mediumBytes = bytes;
        return d;
    };
    const FloppyDrive fd = drive("fd0", std::nullopt), e = drive("sdb", 0),
                      f = drive("sdc", 1474560), g = drive("sdd", 737280);
    struct Case {
        platform::DriveASelection selection;
        std::string environment, previous;
        std::vector<FloppyDrive> found;
        std::string path;
        S source;
    };
    const std::vector<Case> cases = {
        {{"/x.img", "/menu.img"}, "/env.img", "", {f}, "/x.img", S::Named},
        {{"", "/menu.img"}, "/env.img", "", {f}, "/menu.img", S::ChosenThisRun},
        {{}, "/env.img", "", {f}, "/env.img", S::Environment},
        {{}, "", "", {e}, "/dev/sdb", S::OnlyDrive},
        {{}, "", "", {fd, e, f, g}, "/dev/sdc", S::FirstWithDiskette},
        {{}, "", "", {fd, e}, "/dev/fd0", S::FirstDrive},
        {{}, "", "/dev/sdd", {f, g}, "/dev/sdd", S::StillHoldsDiskette},
        {{}, "", "/dev/sdb", {e, f}, "/dev/sdc", S::FirstWithDiskette},
        {{}, "", "", {}, kDefault, S::Default},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const auto choice = platform::chooseDriveA(c.selection, c.environment, c.found, c.previous);
        EXPECT_EQ(choice.path, c.path) << "case " << i;
        EXPECT_EQ(choice.source, c.source) << "case " << i;
    }

#ifndef _WIN32
    // The same rule on the process's own inputs: the made-up machine, then a named drive.
    platformtest::ScopedEnv sysfs("QUENVOL_SYSFS", (m_dir / "sys").string());
    platformtest::ScopedEnv unset("QUENVOL_DRIVE_A", std::nullopt);
    EXPECT_EQ(platform::driveAPath(), "/dev/sdb");
    platform::setDriveASelection({.named = driveImage().string(), .chosenThisRun = {}});
    EXPECT_EQ(platform::driveAPath(), driveImage().string());
#endif
}

// An image file chosen for drive A: is taken when it is of a diskette's size, made blank where
// nothing is, and otherwise refused without a byte changed or created.
TEST_F(FloppyDrivesTest, ImageFilesForDriveAAreTakenMadeOrRefused) {
    using platformtest::patternBytes;
    const auto big = patternBytes(1474560 + 512, 2);
    platformtest::writeBytes(m_dir / "ok.img", patternBytes(737280, 1));
    platformtest::writeBytes(m_dir / "big.img", big);
    fs::create_directory(m_dir / "folder");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((m_dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink(m_dir / "gone.img", m_dir / "dangling.img");
#endif
    struct Case {
        std::string name;
        std::uint64_t bytes;  // 0: refused
        std::string why;
    };
    const std::vector<Case> cases = {
        {"ok.img", 737280, ""},
        {"new.img", 1474560, ""},
        {"big.img", 0, " holds 1,475,072 bytes, which is no diskette's size"},
        {"folder", 0, " is a folder, not a diskette image file."},
#ifndef _WIN32
        {"pipe", 0, " is a pipe, not a diskette image file."},
        {"dangling.img", 0, "could not be created at "},
#endif
        {"no/such/folder.img", 0, "could not be created at "},
    };
    for (const Case& c : cases) {
        const auto image = platform::takeDisketteImage(c.name);  // relative to the scratch folder
        ASSERT_EQ(image.ok(), c.bytes != 0) << c.name << ": " << image.message();
        if (!image) {
            EXPECT_NE(image.message().find(c.why), std::string::npos) << image.message();
            continue;
        }
        EXPECT_EQ(image->path, (m_dir / c.name).string());
        EXPECT_EQ(image->bytes, c.bytes) << c.name;
        EXPECT_EQ(image->created, c.name == "new.img") << c.name;
        EXPECT_EQ(fs::file_size(m_dir / c.name), c.bytes) << c.name;
    }
    EXPECT_EQ(platformtest::readBytes(m_dir / "big.img"), big);
    EXPECT_FALSE(fs::exists(m_dir / "gone.img")) << "a link's target must never be created";

#ifndef _WIN32
    // What a block device is called before it is erased.
    platformtest::ScopedEnv sysfs("QUENVOL_SYSFS", (m_dir / "sys").string());
    EXPECT_EQ(platform::describeBlockDevice("/dev/sdb"), "TEAC FD-05PUB, USB port 2-1.3");
    EXPECT_EQ(platform::describeBlockDevice("/dev/sda"), "block device");
#endif
}

}  // namespace
