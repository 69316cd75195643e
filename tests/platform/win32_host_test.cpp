// What only Windows has on the host side: the system's own meaning of names, the console's
// control events ending a build, the staging journal's renames, the settings and log folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_pattern.h"
#include "platform/host_faults.h"
#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"
#include "platform/local_clock.h"
#include "platform/pages.h"
#include "platform/staging_area.h"
#include "platform/text_case.h"
#include "platform/win_path.h"
#include "platform_fixture.h"

namespace {

namespace fs = std::filesystem;
using platformtest::readBytes;
using platformtest::writeBytes;

class Win32HostTest : public platformtest::PlatformTest {
  protected:
    std::string at(const std::string& name) const { return (m_dir / name).string(); }
    std::string text(const std::string& name) const {
        const auto bytes = readBytes(m_dir / name);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(Win32HostTest, NamesOffDriveAMeanWhatTheSystemSays) {
    fs::create_directories(m_dir / "Project" / "sub");
    writeBytes(m_dir / "Project" / "zyplet16.exe", {7});
    const std::string here = m_dir.string();
    const struct {
        const char* name;
        std::string host;
    } cases[] = {
        {"project\\sub\\file.bin", here + "\\project\\sub\\file.bin"},
        {"project/sub\\\\file.bin", here + "\\project\\sub\\file.bin"},
        {"project\\..\\x", here + "\\x"},
        {"C:\\tmp", "C:\\tmp"},
        {"d:\\setup.exe", "D:\\setup.exe"},  // every drive letter but A: is the host's
        {"\\\\server\\share\\kit", "\\\\server\\share\\kit"},
    };
    for (const auto& c : cases) {
        auto mapped = platform::mapWindowsName(c.name);
        ASSERT_TRUE(mapped) << c.name << ": " << mapped.message();
        EXPECT_EQ(mapped->where, platform::WindowsName::Where::Host) << c.name;
        EXPECT_TRUE(platform::sameIgnoringCase(mapped->hostPath, c.host))
            << c.name << " gave " << mapped->hostPath;
    }
    // The system finds any spelling, and a new file keeps the spelling of the one it replaces.
    auto found = platform::readWholeFile("PROJECT\\ZYPLET16.EXE");
    ASSERT_TRUE(found) << found.message();
    EXPECT_EQ(*found, std::vector<std::uint8_t>{7});
    auto created = platform::HostFile::create("project\\ZYPLET16.exe");
    ASSERT_TRUE(created) << created.message();
    EXPECT_TRUE(created->close());
    EXPECT_EQ(platformtest::namesIn(m_dir / "Project"),
              (std::set<std::string>{"sub", "zyplet16.exe"}));
    EXPECT_EQ(platform::findIgnoringCase(m_dir.string(), "PROJECT"), "Project");
}

// A folder made and removed by its name as written: the system would drop the blank at its
// end, or open a device (and the C++ library's removal loops on such a folder under wine).
class FolderAsWritten {
  public:
    explicit FolderAsWritten(std::string path) : m_path("\\\\?\\" + std::move(path)) {
        EXPECT_TRUE(CreateDirectoryA(m_path.c_str(), nullptr)) << m_path;
    }
    ~FolderAsWritten() {
        WIN32_FIND_DATAA entry{};
        const HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &entry);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry))
            DeleteFileA((m_path + "\\" + entry.cFileName).c_str());
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        EXPECT_TRUE(RemoveDirectoryA(m_path.c_str())) << m_path;
    }
    FolderAsWritten(const FolderAsWritten&) = delete;
    FolderAsWritten& operator=(const FolderAsWritten&) = delete;

  private:
    std::string m_path;
};

// A folder is the one the names below it are found in: "proj " keeps its blank, as
// "proj \\bios.rom" does, and never becomes "proj" beside it.
TEST_F(Win32HostTest, AFoldersNameKeepsTheBlanksAtItsEnd) {
    const std::string here = m_dir.string();
    fs::create_directories(m_dir / "proj");
    const FolderAsWritten blank(here + "\\proj ");
    const FolderAsWritten blanks(here + "\\proj  ");
    writeBytes(m_dir / "proj" / "bios.rom", {1});
    auto made = platform::HostFile::create("proj \\bios.rom");
    ASSERT_TRUE(made) << made.message();
    EXPECT_TRUE(made->close());
    const struct {
        const char* name;
        std::string host;
    } cases[] = {
        {"proj ", here + "\\proj \\"},   {"proj \\", here + "\\proj \\"},
        {"proj  ", here + "\\proj  \\"}, {"proj", here + "\\proj"},
        {"proj\\.", here + "\\proj"},    {"proj \\bios.rom", here + "\\proj \\bios.rom"},
    };
    for (const auto& c : cases) {
        auto mapped = platform::mapWindowsName(c.name);
        ASSERT_TRUE(mapped) << c.name << ": " << mapped.message();
        EXPECT_EQ(mapped->hostPath, c.host) << '"' << c.name << '"';
    }
    // What a report names: the folder the files came from, not the one the system reads
    // "proj " alone as.
    EXPECT_EQ(platform::resolvedPath(here + "\\proj "), here + "\\proj");
    EXPECT_EQ(platform::resolvedPath(platform::mapWindowsName("proj ")->hostPath),
              here + "\\proj ");
    auto copied = platform::readWholeFile(platform::mapWindowsName("proj ")->hostPath + "bios.rom");
    ASSERT_TRUE(copied) << copied.message();
    EXPECT_TRUE(copied->empty()) << "the file in \"proj\"";
}

// A name Windows keeps for a device opens the device in any folder: a folder of a project or
// of the kit so named is refused, saying why, whether it is named or the current folder.
TEST_F(Win32HostTest, FoldersNamedAsDevicesAreRefused) {
    const std::string here = m_dir.string();
    const struct {
        const char* name;
        const char* device;
    } cases[] = {
        {"CON", "CON"},   {"con\\partnum.mak", "CON"},      {"proj\\Nul.txt\\bios.rom", "NUL"},
        {"aux\\", "AUX"}, {"C:\\kits\\com1\\proj", "COM1"}, {"lpt2.dir\\x", "LPT2"},
    };
    for (const auto& c : cases) {
        auto mapped = platform::mapWindowsName(c.name);
        ASSERT_FALSE(mapped) << c.name << " gave " << mapped->hostPath;
        EXPECT_NE(mapped.message().find(std::string("is a name Windows keeps for a device (") +
                                        c.device + ")"),
                  std::string::npos)
            << mapped.message();
    }
    const FolderAsWritten device(here + "\\nul");
    ASSERT_TRUE(SetCurrentDirectoryA(("\\\\?\\" + here + "\\nul").c_str()));
    auto inside = platform::mapWindowsName("bios.rom");
    SetCurrentDirectoryA(here.c_str());
    ASSERT_FALSE(inside) << inside->hostPath;
    EXPECT_NE(inside.message().find("(NUL)"), std::string::npos) << inside.message();
}

// Drive A: named by a device's name or as written stays so named; only other names are made
// absolute against the current folder.
TEST_F(Win32HostTest, DeviceNamesAreNotMadeRelativeToTheCurrentDrive) {
    const std::string here = m_dir.string();
    const struct {
        std::string name;
        std::string absolute;
    } cases[] = {
        {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive0"},
        {"\\\\?\\PhysicalDrive0", "\\\\?\\PhysicalDrive0"},
        {"//./A:", "//./A:"},
        {"\\\\?\\" + here + "\\a\\..\\b.img", "\\\\?\\" + here + "\\a\\..\\b.img"},
        {"b.img", here + "\\b.img"},
        {"sub/../b.img", here + "\\b.img"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::absoluteHostPath(c.name), c.absolute) << c.name;
}

TEST_F(Win32HostTest, PatternsMatchRegularFilesListedByTheSystem) {
    fs::create_directories(m_dir / "Proj" / "aaQ7A000.rom");  // a folder: passed over
    writeBytes(m_dir / "Proj" / "abq7a000.ROM", {});          // empty: passed over for content
    writeBytes(m_dir / "Proj" / "zzQ7A999.rom", {1});
    writeBytes(m_dir / "Proj" / "xxQ7A1234.rom", {1});  // one character too many
    const auto pattern =
        platform::NamePattern::wildcards("??").literal("Q7A").any(3).literal(".rom");
    auto found = platform::findFirstMatch("proj\\", pattern, true);
    ASSERT_TRUE(found) << found.message();
    EXPECT_EQ(*found, "proj\\zzQ7A999.rom");
    found = platform::findFirstMatch("proj\\", pattern, false);
    ASSERT_TRUE(found) << found.message();
    EXPECT_EQ(*found, "proj\\abq7a000.ROM");
    EXPECT_FALSE(platform::findFirstMatch("missing\\", pattern, false));
}

TEST_F(Win32HostTest, CopiesRefuseTheSourceItselfAndLeaveNothingWhenCutShort) {
    writeBytes(m_dir / "Keep.bin", platformtest::patternBytes(200000, 3));
    const base::Status onto = platform::copyHostFile(at("Keep.bin"), at("KEEP.BIN"), false);
    EXPECT_FALSE(onto);
    EXPECT_NE(onto.message().find("onto itself"), std::string::npos) << onto.message();
    EXPECT_FALSE(platform::copyHostFile(at("Keep.bin"), at("keep.bin"), true));
    EXPECT_EQ(readBytes(m_dir / "Keep.bin"), platformtest::patternBytes(200000, 3));

    struct Full : platform::HostFaults {
        std::optional<std::size_t> allowWrite(const std::string&, std::uint64_t offset,
                                              std::size_t bytes) override {
            return offset >= 100000 ? 0 : std::min<std::size_t>(bytes, 100000 - offset);
        }
    } full;
    {
        platform::ScopedHostFaults faults(full);
        const base::Status cut = platform::copyHostFile(at("Keep.bin"), at("copy.bin"), false);
        EXPECT_FALSE(cut);
        EXPECT_NE(cut.message().find("after 34464 of 65536 bytes"), std::string::npos)
            << cut.message();
    }
    EXPECT_FALSE(fs::exists(m_dir / "copy.bin"));
    ASSERT_TRUE(platform::copyHostFile(at("Keep.bin"), at("copy.bin"), true));
    EXPECT_EQ(readBytes(m_dir / "copy.bin"), platformtest::patternBytes(200000, 3));
}

TEST_F(Win32HostTest, AppendsStartALineOfTheirOwnAndTakeBackWhatIsCutShort) {
    writeBytes(m_dir / "builds.jsonl", {'c', 'u', 't'});
    ASSERT_TRUE(platform::appendToFile(at("builds.jsonl"), "next\n"));
    EXPECT_EQ(text("builds.jsonl"), "cut\nnext\n");
    struct Short : platform::HostFaults {
        std::optional<std::size_t> allowWrite(const std::string&, std::uint64_t,
                                              std::size_t) override {
            return 2;
        }
    } cutShort;
    {
        platform::ScopedHostFaults faults(cutShort);
        EXPECT_FALSE(platform::appendToFile(at("builds.jsonl"), "lost\n"));
    }
    EXPECT_EQ(text("builds.jsonl"), "cut\nnext\n");
    EXPECT_FALSE(platform::appendToFile(platformtest::kDeviceName, "x\n"));
}

TEST_F(Win32HostTest, SavesReplaceWholeAndRemoveOnlyAbandonedTemporaries) {
    writeBytes(m_dir / "quenvol.ini", {'o', 'l', 'd'});
    writeBytes(m_dir / "quenvol.ini.saving-abc123", {'x'});  // left by a save that was killed
    // One that a running save holds stays.
    HANDLE held = CreateFileA(at("quenvol.ini.saving-def456").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::vector<std::uint8_t> fresh = {'n', 'e', 'w'};
    ASSERT_TRUE(platform::replaceFileAtomically("QUENVOL.INI", fresh));
    EXPECT_EQ(readBytes(m_dir / "quenvol.ini"), fresh);
    EXPECT_EQ(platformtest::namesIn(m_dir),
              (std::set<std::string>{"quenvol.ini", "quenvol.ini.saving-def456"}));
    CloseHandle(held);
}

// Run by cmake/windows/interrupt-check.sh, which sends the program SIGINT once it waits (wine
// hands it to the console's control handlers as Ctrl+C), within a build's catch or, with
// QUENVOL_INTERRUPT_OUTSIDE set, outside any: what the program saw goes to the file
// QUENVOL_INTERRUPT_REPORT names, and the program ends as the build would.
TEST(Win32HostChild, DISABLED_WaitsForAnInterrupt) {
    const char* report = std::getenv("QUENVOL_INTERRUPT_REPORT");
    ASSERT_NE(report, nullptr);
    std::optional<platform::InterruptCatch> caught;
    if (std::getenv("QUENVOL_INTERRUPT_OUTSIDE") == nullptr) caught.emplace();
    ASSERT_TRUE(platform::appendToFile(report, "waiting\n"));
    for (int wait = 0; wait < 3000 && !platform::interrupted(); ++wait) Sleep(10);
    ASSERT_TRUE(
        platform::appendToFile(report, std::string(platform::interruptSignalName()) + "\n"));
    if (caught) caught->raiseCaught();
}

// The journal's renames never replace: a user's file that cannot go back under its name is
// kept under a visible one, and the journal stays naming it.
TEST_F(Win32HostTest, StagingMovesTheUsersFileAsideAndPutsItBack) {
    writeBytes(m_dir / "BIOS.ROM", {'u', 's', 'e', 'r'});
    writeBytes(m_dir / "source.bin", {'c', 'o', 'p', 'y'});
    const std::vector<std::string> stageable = {"bios.rom"};
    {
        auto area = platform::StagingArea::open(m_dir.string());
        ASSERT_TRUE(area) << area.message();
        ASSERT_TRUE(area->plan({{at("source.bin"), "bios.rom"}}));
        const std::string journal = text(platform::kStagingJournal);
        EXPECT_EQ(journal.substr(0, journal.find('\n')), "quenvol-staging 2");
        EXPECT_NE(journal.find("entry BIOS.ROM .quenvol-staging.bios.rom.part "
                               ".quenvol-staging.bios.rom.user - 1 4 "),
                  std::string::npos)
            << journal;
        ASSERT_TRUE(area->stage(at("source.bin"), "bios.rom"));
        EXPECT_EQ(area->stagedNames(), std::vector<std::string>{"BIOS.ROM"});
        EXPECT_EQ(text("BIOS.ROM"), "copy");
        EXPECT_EQ(text(".quenvol-staging.bios.rom.user"), "user");
        ASSERT_TRUE(area->finish()) << area->finish().message();
    }
    EXPECT_EQ(platformtest::namesIn(m_dir), (std::set<std::string>{"BIOS.ROM", "source.bin"}));
    EXPECT_EQ(text("BIOS.ROM"), "user");
    EXPECT_TRUE(platform::checkStagingRoom(m_dir.string(), stageable));
    writeBytes(m_dir / ".quenvol-staging.bios.rom.part", {});
    const base::Status blocked = platform::checkStagingRoom(m_dir.string(), stageable);
    EXPECT_FALSE(blocked);
    EXPECT_NE(blocked.message().find("in the way of staging"), std::string::npos)
        << blocked.message();
}

// A build that ended without finishing, and a file put under the staged name since: the user's
// file moved aside goes under a visible name, and never over a file already there.
TEST_F(Win32HostTest, AnUnfinishedBuildsUserFileNeverReplacesAnother) {
    const std::vector<std::string> stageable = {"bios.rom"};
    for (const bool yoursTaken : {false, true}) {
        const fs::path dir = m_dir / (yoursTaken ? "taken" : "free");
        fs::create_directories(dir);
        writeBytes(dir / "BIOS.ROM", {'u', 's', 'e', 'r'});
        writeBytes(dir / "source.bin", {'c', 'o', 'p', 'y'});
        auto first = platform::StagingArea::open(dir.string());
        ASSERT_TRUE(first);
        ASSERT_TRUE(first->plan({{(dir / "source.bin").string(), "bios.rom"}}));
        ASSERT_TRUE(first->stage((dir / "source.bin").string(), "bios.rom"));
        writeBytes(dir / "BIOS.ROM", {'n', 'e', 'w'});
        if (yoursTaken) writeBytes(dir / "BIOS.ROM.yours", {'o', 'l', 'd'});
        auto next = platform::StagingArea::open(dir.string());
        ASSERT_TRUE(next);
        auto left = next->recover(stageable);
        ASSERT_TRUE(left) << left.message();
        ASSERT_EQ(left->size(), 2u) << yoursTaken;
        EXPECT_EQ((*left)[0].what, platform::StagingLeftover::What::Copy);
        EXPECT_EQ((*left)[1].what, platform::StagingLeftover::What::UsersFile);
        const std::string userAt = yoursTaken ? ".quenvol-staging.bios.rom.user" : "BIOS.ROM.yours";
        EXPECT_EQ((*left)[1].name, userAt);
        EXPECT_EQ((*left)[1].reason.empty(), !yoursTaken) << (*left)[1].reason;
        EXPECT_EQ(readBytes(dir / userAt), (std::vector<std::uint8_t>{'u', 's', 'e', 'r'}));
        EXPECT_EQ(readBytes(dir / "BIOS.ROM"), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
        if (yoursTaken) {
            EXPECT_EQ(readBytes(dir / "BIOS.ROM.yours"),
                      (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        }
        EXPECT_TRUE(fs::exists(dir / platform::kStagingJournal));
    }
}

TEST_F(Win32HostTest, SettingsAndLogFoldersAreTheUsersOnes) {
    fs::create_directories(m_dir / "Windows");
    fs::create_directories(m_dir / "Roaming");
    fs::create_directories(m_dir / "Local");
    std::optional<platformtest::ScopedEnv> windir;
    platformtest::ScopedEnv roaming("APPDATA", at("Roaming"));
    platformtest::ScopedEnv local("LOCALAPPDATA", at("Local"));
    const struct {
        const char* windows;      // what %windir% names
        const char* roamingFile;  // a settings file in the application-data folder, if any
        std::string expected;
    } cases[] = {
        {"Windows", nullptr, at("Windows")},
        // A Windows directory the user cannot write in: the application-data folder, made.
        {"Missing", nullptr, at("Roaming") + "\\Quenvol"},
        // Once there, it is read first, even where the Windows directory could be written.
        {"Windows", "Quenvol\\quenvol.ini", at("Roaming") + "\\Quenvol"},
    };
    for (const auto& c : cases) {
        windir.emplace("windir", at(c.windows));
        if (c.roamingFile) writeBytes(m_dir / "Roaming" / c.roamingFile, {});
        auto settings = platform::settingsFolder();
        ASSERT_TRUE(settings) << settings.message();
        EXPECT_EQ(*settings, c.expected) << c.windows;
        EXPECT_TRUE(fs::is_directory(*settings));
    }

    auto state = platform::stateFolder();
    ASSERT_TRUE(state) << state.message();
    EXPECT_EQ(*state, at("Local"));
    std::string failed;
    ASSERT_TRUE(platform::makeFolders(*state + "/quenvol", failed)) << failed;
    ASSERT_TRUE(platform::appendToFile(*state + "/quenvol/builds.jsonl", "{}\n"));
    EXPECT_EQ(text("Local\\quenvol\\builds.jsonl"), "{}\n");
}

TEST(Win32Host, ClockPagesAndTimestampComeFromTheSystem) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const auto local = platform::localClock().localTime(std::time(nullptr));
    ASSERT_TRUE(local);
    EXPECT_EQ(local->year, now.wYear);
    EXPECT_EQ(local->month, now.wMonth);
    EXPECT_EQ(local->day, now.wDay);
    EXPECT_NEAR(local->hour * 60 + local->minute, now.wHour * 60 + now.wMinute, 1);
    const std::string stamp = platform::utcTimestamp();
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    ASSERT_EQ(stamp.size(), 20u) << stamp;
    EXPECT_EQ(stamp.substr(0, 5), std::to_string(utc.wYear) + "-") << stamp;
    EXPECT_EQ(stamp.substr(10, 1) + stamp.substr(19), "TZ") << stamp;

    constexpr std::size_t kBytes = 3 * 4096;
    auto* block = static_cast<unsigned char*>(platform::mapPages(kBytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 4096, 0u);
    EXPECT_EQ(std::count(block, block + kBytes, 0), static_cast<std::ptrdiff_t>(kBytes));
    block[kBytes - 1] = 1;
    platform::unmapPages(block, kBytes);
}

}  // namespace
