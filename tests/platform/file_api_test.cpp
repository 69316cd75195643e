#include <gtest/gtest.h>

#include <cstring>

#include "fat/fat12.h"
#include "platform/drive_a.h"
#include "platform/drive_a_transaction.h"
#include "platform/host_file.h"
#include "platform/text_case.h"
#include "platform/winapi.h"
#include "platform_fixture.h"
#ifndef _WIN32
#include "support/fat_tools.h"
#endif
#include "support/memory_device.h"

namespace {

using platformtest::patternBytes;
using platformtest::readBytes;
using platformtest::writeBytes;
namespace fs = std::filesystem;

class FileApiTest : public platformtest::PlatformTest {
  protected:
    // A freshly formatted 1.44 MB diskette in drive A:.
    void formatDiskette() {
        fat::MemoryDevice device(2880);
        fat::FormatOptions options;
        options.serial = 0x12345678;
        options.clock = 0;
        ASSERT_TRUE(fat::format(device, options));
        ASSERT_TRUE(device.saveFile(driveImage().string()));
    }
    std::vector<std::uint8_t> fileOnDiskette(const std::string& name) {
        auto device = fat::MemoryDevice::loadFile(driveImage().string());
        EXPECT_TRUE(device);
        auto volume = fat::Volume::mount(*device);
        EXPECT_TRUE(volume) << volume.message();
        auto content = volume->readFile(name);
        EXPECT_TRUE(content) << content.message();
        return content ? *content : std::vector<std::uint8_t>{};
    }
};

TEST_F(FileApiTest, CopyOnTheHostOverwritesUnderTheExistingSpelling) {
    const auto content = patternBytes(70000, 1);
    writeBytes(m_dir / "Source.BIN", content);
    writeBytes(m_dir / "BIOS.ROM", {9, 9});
    ASSERT_TRUE(CopyFileA("source.bin", "bios.rom", FALSE)) << platform::lastErrorMessage();
    EXPECT_EQ(platformtest::namesIn(m_dir), (std::set<std::string>{"BIOS.ROM", "Source.BIN"}));
    EXPECT_TRUE(readBytes(m_dir / "BIOS.ROM") == content);

    EXPECT_FALSE(CopyFileA("source.bin", "bios.rom", TRUE));
    EXPECT_NE(platform::lastErrorMessage().find("already exists"), std::string::npos);
    fs::create_directory(m_dir / "Proj");
    ASSERT_TRUE(CopyFileA("SOURCE.bin", "proj\\copy.bin", TRUE));
    EXPECT_TRUE(readBytes(m_dir / "Proj" / "copy.bin") == content);
}

TEST_F(FileApiTest, CopyRefusesMissingSourcesFoldersAndItself) {
    writeBytes(m_dir / "keep.bin", {1, 2, 3});
    EXPECT_FALSE(CopyFileA("missing.bin", "keep.bin", FALSE));
    EXPECT_TRUE(readBytes(m_dir / "keep.bin") == std::vector<std::uint8_t>({1, 2, 3}));
    fs::create_directory(m_dir / "folder");
    EXPECT_FALSE(CopyFileA("folder", "other.bin", FALSE));
    EXPECT_FALSE(CopyFileA("keep.bin", "folder", FALSE));
    EXPECT_FALSE(CopyFileA("keep.bin", "KEEP.BIN", FALSE));
    EXPECT_TRUE(readBytes(m_dir / "keep.bin") == std::vector<std::uint8_t>({1, 2, 3}));
    EXPECT_FALSE(CopyFileA(platformtest::kDeviceName, "zero.bin", FALSE));
    EXPECT_FALSE(fs::exists(m_dir / "zero.bin"));
    EXPECT_FALSE(CopyFileA("", "x", FALSE));
}

TEST_F(FileApiTest, CopyToDriveAWritesIntoTheDiskettesRoot) {
    formatDiskette();
    const auto content = patternBytes(20000, 2);
    writeBytes(m_dir / "MINIDOS.SYS", content);
    ASSERT_TRUE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE)) << platform::lastErrorMessage();
    EXPECT_TRUE(fileOnDiskette("MINIDOS.SYS") == content);

    // Overwritten without a question; refused when asked to keep it.
    writeBytes(m_dir / "MINIDOS.SYS", {7});
    EXPECT_FALSE(CopyFileA("minidos.sys", "A:\\MINIDOS.SYS", TRUE));
    EXPECT_TRUE(fileOnDiskette("MINIDOS.SYS") == content);
    ASSERT_TRUE(CopyFileA("minidos.sys", "A:\\MINIDOS.SYS", FALSE));
    EXPECT_TRUE(fileOnDiskette("MINIDOS.SYS") == std::vector<std::uint8_t>({7}));

    EXPECT_TRUE(PathFileExistsA("a:\\minidos.sys"));
    EXPECT_FALSE(PathFileExistsA("a:\\vgabios.exe"));
    EXPECT_TRUE(DeleteFileA("a:\\minidos.sys"));
    EXPECT_FALSE(PathFileExistsA("a:\\minidos.sys"));

    // An independent reader agrees.
    ASSERT_TRUE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE));
    std::string command = "MTOOLS_SKIP_CHECK=1 mtype -i '" + driveImage().string() +
                          "' ::MINIDOS.SYS > '" + (m_dir / "mtype.out").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_TRUE(readBytes(m_dir / "mtype.out") == std::vector<std::uint8_t>({7}));
}

// Copies made as a batch: seen at once by this program, by the diskette only once the batch
// is finished; a diskette changed in between is noticed before anything more is written.
TEST_F(FileApiTest, BatchOfCopiesReachesTheDisketteWhenFinished) {
    formatDiskette();
    writeBytes(m_dir / "one.bin", patternBytes(3000, 5));
    writeBytes(m_dir / "two.bin", patternBytes(9000, 6));
    {
        platform::DriveATransaction copies;
        ASSERT_TRUE(CopyFileA("one.bin", "a:\\one.bin", FALSE)) << platform::lastErrorMessage();
        ASSERT_TRUE(CopyFileA("two.bin", "a:\\two.bin", FALSE));
        EXPECT_TRUE(PathFileExistsA("a:\\two.bin"));
#ifdef _WIN32
        // mtools is a tool of the Linux side: the image is read in-process instead.
        auto seen = fat::MemoryDevice::loadFile(driveImage().string());
        ASSERT_TRUE(seen);
        auto volume = fat::Volume::mount(*seen);
        ASSERT_TRUE(volume) << volume.message();
        EXPECT_FALSE(volume->find("ONE.BIN") || volume->find("TWO.BIN"));
#else
        EXPECT_EQ(fattools::mdirNames(driveImage().string()), std::vector<std::string>{});
#endif
        ASSERT_TRUE(copies.finish());
    }
    EXPECT_TRUE(fileOnDiskette("ONE.BIN") == patternBytes(3000, 5));
    EXPECT_TRUE(fileOnDiskette("TWO.BIN") == patternBytes(9000, 6));

    const auto built = readBytes(driveImage());
    platform::DriveATransaction copies;
    ASSERT_TRUE(CopyFileA("one.bin", "a:\\three.bin", FALSE));
    fs::rename(driveImage(), m_dir / "moved.img");
    writeBytes(driveImage(), built);
    EXPECT_FALSE(CopyFileA("two.bin", "a:\\four.bin", FALSE));
    EXPECT_TRUE(readBytes(driveImage()) == built);
}

TEST_F(FileApiTest, CopyToDriveAFailsWithACauseAndDamagesNothing) {
    writeBytes(m_dir / "minidos.sys", {1});
    EXPECT_FALSE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE));
    EXPECT_EQ(platform::lastErrorMessage().rfind("no diskette in drive A:", 0), 0u);

    const auto unformatted = patternBytes(1474560, 3);
    writeBytes(driveImage(), unformatted);
    EXPECT_FALSE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE));
    EXPECT_TRUE(readBytes(driveImage()) == unformatted);

    const auto big = patternBytes(10 * 1024 * 1024, 4);
    writeBytes(driveImage(), big);
    EXPECT_FALSE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE));
    EXPECT_NE(platform::lastErrorMessage().find("not a diskette"), std::string::npos);
    EXPECT_TRUE(readBytes(driveImage()) == big);

    formatDiskette();
    const auto formatted = readBytes(driveImage());
    fs::permissions(driveImage(), fs::perms::owner_read);
    EXPECT_FALSE(CopyFileA("minidos.sys", "a:\\minidos.sys", FALSE));
    EXPECT_EQ(platform::lastErrorMessage().rfind("write-protected", 0), 0u);
    EXPECT_FALSE(CopyFileA("minidos.sys", "a:\\too-long-name.sys", FALSE));
    EXPECT_TRUE(readBytes(driveImage()) == formatted);
}

TEST_F(FileApiTest, DeleteAndExistFollowTheSameNameRules) {
    writeBytes(m_dir / "BIOS.QVX", {1});
    fs::create_directory(m_dir / "Folder");
    EXPECT_TRUE(PathFileExistsA("bios.qvx"));
    EXPECT_TRUE(PathFileExistsA("FOLDER"));
    EXPECT_TRUE(PathFileExistsA("c:\\"));
    EXPECT_FALSE(PathFileExistsA("nothing.here"));
    EXPECT_FALSE(DeleteFileA("folder"));
    EXPECT_TRUE(fs::exists(m_dir / "Folder"));
    EXPECT_TRUE(DeleteFileA("bios.qvx"));
    EXPECT_FALSE(fs::exists(m_dir / "BIOS.QVX"));
    EXPECT_FALSE(DeleteFileA("bios.qvx"));
}

TEST_F(FileApiTest, CurrentDirectoryRoundTripsThroughWindowsNames) {
    fs::create_directory(m_dir / "Start");
    ASSERT_TRUE(SetCurrentDirectoryA("START"));
    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
#ifdef _WIN32
    // The system keeps the spelling it was given and finds any.
    EXPECT_TRUE(platform::sameIgnoringCase(buffer, (m_dir / "Start").string())) << buffer;
#else
    EXPECT_EQ(std::string(buffer), (m_dir / "Start").string());
#endif
    EXPECT_EQ(length, std::strlen(buffer));
    EXPECT_EQ(GetCurrentDirectoryA(3, buffer), length + 1) << "too small: the size needed";
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), length + 1);
    EXPECT_FALSE(SetCurrentDirectoryA("no-such-folder"));
    EXPECT_FALSE(SetCurrentDirectoryA("a:\\x"));
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\"));
    EXPECT_EQ(fs::current_path(), platformtest::kDriveCRoot);
}

#ifndef _WIN32
// On Windows the Windows directory is the system's (the Windows suite tests it).
TEST_F(FileApiTest, WindowsDirectoryIsTheConfigFolder) {
    char buffer[MAX_PATH];
    {
        platformtest::ScopedEnv config("XDG_CONFIG_HOME", "/srv/conf");
        EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 9u);
        EXPECT_STREQ(buffer, "/srv/conf");
    }
    platformtest::ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    platformtest::ScopedEnv home("HOME", "/home/someone");
    EXPECT_GT(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "/home/someone/.config");
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 5), 22u);
}
#endif

TEST_F(FileApiTest, HostFilesOpenRegularFilesOnly) {
    writeBytes(m_dir / "PartNum.Mak", {'P', 'N'});
    auto file = platform::HostFile::openRead("partnum.mak");
    ASSERT_TRUE(file) << file.message();
    EXPECT_EQ(*file->length(), 2u);
    char text[4] = {};
    EXPECT_EQ(*file->read(text, sizeof text), 2u);
    EXPECT_EQ(*file->read(text, sizeof text), 0u);
    EXPECT_TRUE(file->close());

    fs::create_directory(m_dir / "dir");
    EXPECT_FALSE(platform::HostFile::openRead("dir"));
    EXPECT_FALSE(platform::HostFile::openRead(platformtest::kDeviceName));
    EXPECT_FALSE(platform::HostFile::openRead("missing"));
    EXPECT_FALSE(platform::HostFile::create("dir"));
    EXPECT_FALSE(platform::HostFile::openRead("a:\\partnum.mak"));

    auto created = platform::HostFile::create("PARTNUM.MAK");
    ASSERT_TRUE(created);
    EXPECT_TRUE(created->write("xyz", 3));
    EXPECT_TRUE(created->close());
    EXPECT_TRUE(readBytes(m_dir / "PartNum.Mak") == std::vector<std::uint8_t>({'x', 'y', 'z'}));
}

TEST_F(FileApiTest, AtomicReplaceLeavesOnlyTheNewContent) {
    writeBytes(m_dir / "quenvol.ini", {'o', 'l', 'd'});
    // Windows has no such permission bits.
    constexpr bool kPermissionBits = !platformtest::kWindows;
    if (kPermissionBits) {
        fs::permissions(m_dir / "quenvol.ini",
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    const std::vector<std::uint8_t> fresh = {'n', 'e', 'w', '\r', '\n'};
    ASSERT_TRUE(platform::replaceFileAtomically("QUENVOL.INI", fresh));
    EXPECT_TRUE(readBytes(m_dir / "quenvol.ini") == fresh);
    if (kPermissionBits) {
        EXPECT_EQ(fs::status(m_dir / "quenvol.ini").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) ++entries;
    EXPECT_EQ(entries, 1) << "no temporary file stays behind";
    EXPECT_FALSE(platform::replaceFileAtomically("missing-folder\\quenvol.ini", fresh));
}

}  // namespace
