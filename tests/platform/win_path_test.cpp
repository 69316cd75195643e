#include "platform/win_path.h"

#include <gtest/gtest.h>

#include "platform_fixture.h"

namespace {

using platform::mapWindowsName;
using platform::WindowsName;
namespace fs = std::filesystem;

class WinPathTest : public platformtest::PlatformTest {
  protected:
    std::string hostPath(std::string_view name) {
        auto mapped = mapWindowsName(name);
        EXPECT_TRUE(mapped) << name << ": " << mapped.message();
        if (!mapped) return {};
        EXPECT_EQ(mapped->where, WindowsName::Where::Host) << name;
        return mapped->hostPath;
    }
    std::string dir() const { return m_dir.string(); }
};

#ifndef _WIN32
// The Linux meaning of names off drive A:; on Windows the system gives them theirs (the Windows
// suite checks it).
TEST_F(WinPathTest, BackslashesSeparateFoldersAndRelativeNamesStartHere) {
    fs::create_directories(m_dir / "proj" / "sub");
    EXPECT_EQ(hostPath("proj\\sub\\file.bin"), dir() + "/proj/sub/file.bin");
    EXPECT_EQ(hostPath("proj/sub\\\\file.bin"), dir() + "/proj/sub/file.bin");
    EXPECT_EQ(hostPath(dir() + "\\proj"), dir() + "/proj");
    EXPECT_EQ(hostPath("proj\\..\\x"), dir() + "/proj/../x");
}

TEST_F(WinPathTest, DriveCIsTheRoot) {
    EXPECT_EQ(hostPath("c:\\"), "/");
    EXPECT_EQ(hostPath("C:"), "/");
    EXPECT_EQ(hostPath("C:\\tmp"), "/tmp");
    EXPECT_EQ(hostPath("c:" + dir()), dir());
    auto other = mapWindowsName("d:\\setup.exe");
    ASSERT_FALSE(other);
    EXPECT_NE(other.message().find("no drive D:"), std::string::npos);
}

TEST_F(WinPathTest, NamesThatDoNotExistAsWrittenAreFoundWithoutRegardToCase) {
    fs::create_directories(m_dir / "Project");
    platformtest::writeBytes(m_dir / "Project" / "zyplet16.exe", {1});
    platformtest::writeBytes(m_dir / "BIOS.ROM", {2});
    EXPECT_EQ(hostPath("ZYPLET16.EXE"), dir() + "/ZYPLET16.EXE") << "not in this folder";
    EXPECT_EQ(hostPath("PROJECT\\ZYPLET16.EXE"), dir() + "/Project/zyplet16.exe");
    EXPECT_EQ(hostPath("bios.rom"), dir() + "/BIOS.ROM");
    // A new name keeps its spelling; the folders above it are still matched.
    EXPECT_EQ(hostPath("project\\New.Txt"), dir() + "/Project/New.Txt");
}

TEST_F(WinPathTest, AnExactSpellingWinsOverOtherCases) {
    platformtest::writeBytes(m_dir / "Bios.rom", {1});
    platformtest::writeBytes(m_dir / "bios.rom", {2});
    EXPECT_EQ(hostPath("bios.rom"), dir() + "/bios.rom");
    EXPECT_EQ(hostPath("Bios.rom"), dir() + "/Bios.rom");
    EXPECT_EQ(hostPath("BIOS.ROM"), dir() + "/Bios.rom") << "the first in byte order";
}
#endif

TEST_F(WinPathTest, DriveANamesAFileInTheDiskettesRoot) {
    for (const char* name : {"a:\\minidos.sys", "A:\\minidos.sys", "a:minidos.sys"}) {
        auto mapped = mapWindowsName(name);
        ASSERT_TRUE(mapped) << name;
        EXPECT_EQ(mapped->where, WindowsName::Where::DriveA) << name;
        EXPECT_EQ(mapped->diskName, "minidos.sys") << name;
    }
    EXPECT_FALSE(mapWindowsName("a:\\"));
    EXPECT_FALSE(mapWindowsName("a:\\dos\\minidos.sys"));
}

TEST_F(WinPathTest, BadNamesFail) {
    EXPECT_FALSE(mapWindowsName(""));
    EXPECT_FALSE(mapWindowsName(std::string_view("bios\0.rom", 9)));
    for (const char* name : {"??123???.rom", "bios*.rom", "a<b", "a|b", "x\\y:z"}) {
        EXPECT_FALSE(mapWindowsName(name)) << name;
    }
}

}  // namespace
