// Drive A: and the holds on Windows: the names of drives, the alignment the raw volume demands,
// the media types of floppy drives, another process kept out by a build's holds, and the raw
// volume of a drive letter mapped to an image (wine's dosdevices/a::, named to the tests by
// QUENVOL_WINE_DRIVE_A).
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fat/fat12.h"
#include "platform/drive_a.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "platform/system_version.h"
#include "platform/win32/held_drive.h"
#include "platform_fixture.h"
#include "support/memory_device.h"

namespace {

using platform::DriveA;
using platform::DriveAccess;
using platform::DriveOpenOptions;
using platform::ExclusiveHold;
using platform::HoldState;
using platformtest::patternBytes;
using platformtest::readBytes;
namespace fs = std::filesystem;

constexpr const char* kChildOption = "--hold-in-child=";

DriveOpenOptions forWriting() {
    DriveOpenOptions options;
    options.access = DriveAccess::Write;
    return options;
}

TEST(Win32DriveNames, DriveLettersAndImagePaths) {
    const struct {
        const char* path;
        char letter;  // 0: an image file's path
    } cases[] = {
        {"A:", 'A'},   {"b:", 'B'},     {"\\\\.\\c:", 'C'}, {"//./D:", 'D'},
        {"A:\\", 'A'}, {"e:/", 'E'},    {"C:\\a.img", 0},   {"AB:", 0},
        {"1:", 0},     {"\\\\.\\A", 0}, {"\\\\?\\A:", 'A'}, {"", 0},
    };
    for (const auto& c : cases) {
        const auto letter = platform::win32::volumeLetter(c.path);
        EXPECT_EQ(letter.value_or(0), c.letter) << c.path;
        EXPECT_EQ(platform::driveLetterOf(c.path), letter) << c.path;
    }
    EXPECT_EQ(platform::win32::volumePath('B'), "\\\\.\\B:");
}

TEST(Win32DriveNames, TransfersWithoutBufferingAreWholeAlignedSectors) {
    alignas(4096) static std::uint8_t buffer[8192];
    const struct {
        std::size_t at;
        std::uint64_t offset;
        std::size_t bytes;
        bool aligned;
    } cases[] = {
        {0, 0, 512, true},          {512, 1024, 4096, true}, {1, 0, 512, false},
        {0, 100, 512, false},       {0, 0, 500, false},      {256, 512, 512, false},
        {4096, 1474048, 512, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::win32::alignedForDevice(buffer + c.at, c.offset, c.bytes), c.aligned)
            << c.at << " " << c.offset << " " << c.bytes;
    }
}

TEST(Win32DriveNames, OnlyDisketteMediaTypesMakeAFloppyDrive) {
    const struct {
        MEDIA_TYPE type;
        bool diskette;
    } cases[] = {
        {F3_1Pt44_512, true}, {F3_720_512, true}, {F5_1Pt2_512, true}, {F3_2Pt88_512, true},
        {F5_360_512, true},   {Unknown, false},   {FixedMedia, false}, {RemovableMedia, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::win32::isDisketteMediaType(c.type), c.diskette) << c.type;
    }
}

class Win32DriveTest : public platformtest::PlatformTest {};

TEST_F(Win32DriveTest, VersionIsTheSystemsUnlessATestChoosesOne) {
    const platform::SystemVersion system = platform::systemVersion();
    EXPECT_TRUE(system.fromSystem);
    EXPECT_EQ(system.platformId, platform::kPlatformNt);
    EXPECT_GE(system.major, 5u);
    selectPlatform("1");
    const platform::SystemVersion chosen = platform::systemVersion();
    EXPECT_FALSE(chosen.fromSystem) << "the system's own service must not serve a test";
    EXPECT_EQ(chosen.platformId, platform::kPlatformWindows);
}

// What drive A:'s name can be on Windows, and what each gives.
TEST_F(Win32DriveTest, NamesOfDriveAAreImagesOrDriveLetters) {
    makeImage();
    const struct {
        std::string name;
        std::optional<base::Failure> refused;  // none: opens
    } cases[] = {
        {"\\\\?\\" + driveImage().string(), std::nullopt},
        {driveImage().string(), std::nullopt},
        {"\\\\.\\COM1", base::Failure::NotDiskette},
        {"\\\\.\\PhysicalDrive0", base::Failure::NotDiskette},
        {"\\\\?\\PhysicalDrive0", base::Failure::NotDiskette},
        {"\\\\?\\GLOBALROOT\\Device\\Harddisk0\\DR0", base::Failure::NotDiskette},
        {m_dir.string(), base::Failure::NotDiskette},
        {"Q:", base::Failure::NoMedium},  // no such drive
        {(m_dir / "none.img").string(), base::Failure::NoMedium},
    };
    for (const auto& c : cases) {
        pointDriveAt(c.name);
        auto drive = DriveA::open();
        EXPECT_EQ(drive.ok(), !c.refused) << c.name << ": " << drive.message();
        if (!drive && c.refused) {
            EXPECT_EQ(drive.kind(), *c.refused) << c.name << ": " << drive.message();
        }
    }
}

// The state of the hold `what` ("drive" or "folder:<path>") taken by another process running
// this program, with the environment of this one.
HoldState holdInAnotherProcess(const std::string& what) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    EXPECT_GT(length, 0u);
    std::string command = "\"" + std::string(program, length) + "\" " + kChildOption + what;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        ADD_FAILURE() << "no second process: error " << GetLastError();
        return HoldState::None;
    }
    WaitForSingleObject(child.hProcess, 60000);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_GE(status, 10u) << "the second process gave no state";
    return static_cast<HoldState>(status - 10);
}

// What a build holds keeps another process out at once: an image by its byte-range lock, a
// folder by its name's mutex; an image another program has open for writing is in use.
TEST_F(Win32DriveTest, HoldsKeepAnotherProcessOut) {
    makeImage();
    // As the start directory is named: relative to the current folder.
    const std::string folder = "kit";
    fs::create_directory(m_dir / folder);
    const std::string image = driveImage().string();
    enum class Parent { Nothing, HoldsDrive, HoldsFolder, WritesImage };
    const struct {
        Parent parent;
        std::string child;
        HoldState expected;
    } cases[] = {
        {Parent::Nothing, "drive", HoldState::Held},
        {Parent::HoldsDrive, "drive", HoldState::HeldByAnotherBuild},
        {Parent::WritesImage, "drive", HoldState::InUse},
        {Parent::Nothing, "folder:" + folder, HoldState::Held},
        {Parent::HoldsFolder, "folder:" + folder, HoldState::HeldByAnotherBuild},
        {Parent::HoldsDrive, "folder:" + folder, HoldState::Held},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.child + " " + std::to_string(static_cast<int>(c.parent)));
        ExclusiveHold hold;
        HANDLE writer = INVALID_HANDLE_VALUE;
        if (c.parent == Parent::HoldsDrive) hold = ExclusiveHold::driveA();
        if (c.parent == Parent::HoldsFolder) hold = ExclusiveHold::folder(folder);
        if (c.parent == Parent::WritesImage) {
            writer =
                CreateFileA(image.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        }
        if (c.parent == Parent::HoldsDrive || c.parent == Parent::HoldsFolder) {
            ASSERT_TRUE(hold.held()) << hold.detail();
        }
        EXPECT_EQ(holdInAnotherProcess(c.child), c.expected);
        if (c.parent == Parent::HoldsDrive) {
            // The build's own sessions borrow the hold and write through it.
            auto own = DriveA::open(forWriting());
            ASSERT_TRUE(own) << own.message();
            const std::vector<std::uint8_t> sector(512, 7);
            EXPECT_TRUE((*own)->write(0, 1, sector.data()));
        }
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
    EXPECT_EQ(readBytes(driveImage())[0], 7);
}

// The image behind drive A: (wine's dosdevices/a::), as a Windows path; empty when none is.
fs::path mappedImage() {
    const char* behind = std::getenv("QUENVOL_WINE_DRIVE_A");
    return behind == nullptr || *behind == '\0' ? fs::path() : fs::path(std::string("Z:") + behind);
}

// A 720 KB volume at the start of a 1.44 MB medium: a size taken from the file would be twice
// the one its boot sector gives.
std::vector<std::uint8_t> smallVolumeInALargeFile() {
    fat::MemoryDevice small(1440);
    fat::FormatOptions options;
    options.serial = 0x1234;
    options.clock = 0;
    EXPECT_TRUE(fat::format(small, options));
    std::vector<std::uint8_t> bytes = patternBytes(1474560, 5);
    std::copy(small.bytes().begin(), small.bytes().end(), bytes.begin());
    return bytes;
}

// Drive A: as the raw volume of a letter that wine maps to an image file: reads and writes
// reach the image; the volume lock holds; the size comes from the boot sector, since no size
// code is answered; the dismount at the end of a hold, refused for an image, leaves what was
// written in place.
TEST_F(Win32DriveTest, RawVolumeOfAMappedDriveLetter) {
    const fs::path image = mappedImage();
    if (image.empty()) GTEST_SKIP() << "QUENVOL_WINE_DRIVE_A names no image behind drive A:";
    fs::permissions(image, fs::perms::owner_write, fs::perm_options::add);
    platformtest::writeBytes(image, smallVolumeInALargeFile());
    pointDriveAt("A:");

    auto drive = DriveA::open(forWriting());
    ASSERT_TRUE(drive) << drive.message();
    EXPECT_TRUE((*drive)->isBlockDevice());
    EXPECT_EQ((*drive)->path(), "\\\\.\\A:");
    EXPECT_EQ((*drive)->sectorCount(), 1440u);
    EXPECT_EQ((*drive)->geometry().sectorsPerTrack, 9);
    EXPECT_TRUE((*drive)->locked());
    // Wine "answers" the media-type codes without filling the record: no floppy drive.
    const HANDLE query = CreateFileA("\\\\.\\A:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(platform::win32::offersDisketteMedia(
        platform::NativeHandle{reinterpret_cast<std::intptr_t>(query)}));
    CloseHandle(query);
    const auto fresh = patternBytes(1024, 8);
    ASSERT_TRUE((*drive)->write(3, 2, fresh.data()));
    ASSERT_TRUE((*drive)->flush());
    // An odd address is copied through an aligned buffer, never passed on.
    std::vector<std::uint8_t> back(1024 + 1);
    ASSERT_TRUE((*drive)->read(3, 2, back.data() + 1));
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), back.begin() + 1));
    drive->reset();
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), readBytes(image).begin() + 3 * 512));

    {
        const ExclusiveHold hold = ExclusiveHold::driveA();
        ASSERT_TRUE(hold.held()) << hold.detail();
        auto own = DriveA::open(forWriting());
        ASSERT_TRUE(own) << own.message();
        ASSERT_TRUE((*own)->write(0x100, 1, fresh.data()));
        EXPECT_EQ(holdInAnotherProcess("drive"), HoldState::HeldByAnotherBuild);
    }
    EXPECT_TRUE(
        std::equal(fresh.begin(), fresh.begin() + 512, readBytes(image).begin() + 0x100 * 512));
    EXPECT_TRUE(ExclusiveHold::driveA().held()) << "the hold was given back";

    // No boot sector and no size from the drive: no diskette we could lay out.
    platformtest::writeBytes(image, std::vector<std::uint8_t>(1474560, 0));
    auto blank = DriveA::open();
    ASSERT_FALSE(blank);
    EXPECT_EQ(blank.kind(), base::Failure::NotDiskette) << blank.message();
    EXPECT_NE(blank.message().find("boot sector"), std::string::npos) << blank.message();
}

// Write-protected, not a permission: refused when the drive says so at the open, else (the
// drive cannot tell) when the medium refuses the write; read all the same.
TEST_F(Win32DriveTest, ReadOnlyImageBehindADriveLetterIsWriteProtected) {
    const fs::path image = mappedImage();
    if (image.empty()) GTEST_SKIP() << "QUENVOL_WINE_DRIVE_A names no image behind drive A:";
    fs::permissions(image, fs::perms::owner_write, fs::perm_options::add);
    platformtest::writeBytes(image, smallVolumeInALargeFile());
    pointDriveAt("A:");
    const auto before = readBytes(image);
    fs::permissions(image, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct Restore {
        fs::path image;
        ~Restore() { fs::permissions(image, fs::perms::owner_write, fs::perm_options::add); }
    } restore{image};

    // Whether the medium can be written all the same: its own first sector written back.
    const HANDLE probe =
        CreateFileA("\\\\.\\A:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    alignas(4096) static std::uint8_t first[512];
    DWORD moved = 0;
    const bool writable = ReadFile(probe, first, 512, &moved, nullptr) && moved == 512 &&
                          SetFilePointer(probe, 0, nullptr, FILE_BEGIN) == 0 &&
                          WriteFile(probe, first, 512, &moved, nullptr);
    CloseHandle(probe);
    if (writable) {
        GTEST_SKIP() << "the image behind drive A: is written all the same while read-only (as "
                        "the superuser): no write-protected medium to show";
    }
    const auto fresh = patternBytes(512, 8);
    {
        auto opened = DriveA::open(forWriting());
        const base::Status refused =
            opened ? (*opened)->write(0, 1, fresh.data()) : base::Status(opened.error());
        EXPECT_EQ(refused.kind(), base::Failure::WriteProtected) << refused.message();
    }
    EXPECT_TRUE(readBytes(image) == before);
    DriveOpenOptions fallback = forWriting();
    fallback.readOnlyFallback = true;
    auto reader = DriveA::open(fallback);
    ASSERT_TRUE(reader) << reader.message();
    EXPECT_FALSE((*reader)->writable());
    EXPECT_EQ((*reader)->write(0, 1, fresh.data()).kind(), base::Failure::WriteProtected);
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE((*reader)->read(0, 1, sector.data()));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), before.begin()));
}

}  // namespace

// The tests, or one hold taken for a test in another process: its state is the exit status
// (plus 10, so that a crash is no state).
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.starts_with(kChildOption)) continue;
        const std::string what = arg.substr(std::strlen(kChildOption));
        const ExclusiveHold hold =
            what == "drive" ? ExclusiveHold::driveA() : ExclusiveHold::folder(what.substr(7));
        bool agrees = true;
        if (what == "drive" && hold.state() == HoldState::HeldByAnotherBuild) {
            // Refused as a build, refused as a session.
            agrees = !DriveA::open(forWriting());
        }
        return agrees ? 10 + static_cast<int>(hold.state()) : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
