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

// Linux has no device names: a folder called "con" is a folder there.
TEST_F(WinPathTest, DeviceNamesOfWindowsAreOrdinaryNamesHere) {
    fs::create_directories(m_dir / "con" / "Nul.txt");
    EXPECT_EQ(hostPath("CON\\nul.txt\\bios.rom"), dir() + "/con/Nul.txt/bios.rom");
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

TEST(WinPathRules, NamesWindowsKeepsForDevices) {
    const struct {
        const char* part;
        const char* device;  // none: an ordinary name
    } cases[] = {
        {"CON", "CON"},     {"con", "CON"},         {"Nul.txt", "NUL"},   {"nul.tar.gz", "NUL"},
        {"AUX  ", "AUX"},   {"prn .log", "PRN"},    {"prn.", "PRN"},      {"com1", "COM1"},
        {"LpT9.x", "LPT9"}, {"COM\xB9", "COM\xB9"}, {"COM0", nullptr},    {"COM10", nullptr},
        {"LPT", nullptr},   {"CONFIG", nullptr},    {"console", nullptr}, {"xnul", nullptr},
        {"nul_", nullptr},  {".con", nullptr},      {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto device = platform::reservedDeviceName(c.part);
        EXPECT_EQ(device.value_or("-"), c.device ? c.device : "-") << '"' << c.part << '"';
    }
}

TEST(WinPathRules, TheFirstPartThatNamesADeviceAndDeviceNamespaces) {
    const struct {
        const char* path;
        const char* part;  // none: no part names a device
        bool deviceNamespace;
    } cases[] = {
        {"C:\\work\\CON\\proj", "CON", false},
        {"proj\\nul.d\\aux", "nul.d", false},
        {"C:con", "con", false},
        {"C:\\projects\\console\\com0", nullptr, false},
        {"\\\\con\\share\\kit", nullptr, false},  // a server's and a share's names
        {"\\\\?\\C:\\aux\\x", "aux", false},
        {"\\\\?\\UNC\\nul\\share\\kit", nullptr, false},
        {"//?/c:/a.img", nullptr, false},
        {"\\\\.\\CON", "CON", true},
        {"\\\\.\\PhysicalDrive0", nullptr, true},
        {"//./A:", nullptr, true},
        {"\\\\?\\PhysicalDrive0", nullptr, true},
        {"\\\\?\\A:", nullptr, true},  // the volume itself, not its root folder
        {"\\\\?\\Volume{0}\\", nullptr, true},
        {"\\\\?\\", nullptr, true},
        {"\\\\?x", nullptr, false},
    };
    for (const auto& c : cases) {
        const auto found = platform::firstReservedPart(c.path);
        EXPECT_EQ(found ? found->part : "-", c.part ? c.part : "-") << c.path;
        EXPECT_EQ(platform::isDeviceNamespace(c.path), c.deviceNamespace) << c.path;
    }
    const auto refusal = platform::reservedPartRefusal("x\\nul.d", {"nul.d", "NUL"});
    EXPECT_NE(refusal.find("\"nul.d\" is a name Windows keeps for a device (NUL)"),
              std::string::npos)
        << refusal;
}

TEST_F(WinPathTest, BadNamesFail) {
    EXPECT_FALSE(mapWindowsName(""));
    EXPECT_FALSE(mapWindowsName(std::string_view("bios\0.rom", 9)));
    for (const char* name : {"??123???.rom", "bios*.rom", "a<b", "a|b", "x\\y:z"}) {
        EXPECT_FALSE(mapWindowsName(name)) << name;
    }
}

}  // namespace
