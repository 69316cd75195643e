#include "platform/drive_a.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/drive_faults.h"
#include "platform/exclusive_hold.h"
#include "platform_fixture.h"

// Another process, flock, loop devices and device nodes: the cases that need them run on
// Linux; their Windows counterparts are in win32_drive_test.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/desktop_drives.h"
#include "platform/device_hooks.h"
#include "platform/posix/drive_node.h"
#include "support/fat_tools.h"
#endif

namespace {

using platform::DriveA;
using platform::DriveAccess;
using platform::DriveOpenOptions;
using platform::ExclusiveHold;
using platform::HoldState;
using platformtest::patternBytes;
using platformtest::readBytes;
using platformtest::writeBytes;
namespace fs = std::filesystem;

DriveOpenOptions forWriting() {
    DriveOpenOptions options;
    options.access = DriveAccess::Write;
    return options;
}

class DriveATest : public platformtest::PlatformTest {};

#ifndef _WIN32
// Runs `check` in a child process (another copy of the program, as far as locks go).
bool inAnotherProcess(const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(check() ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
#endif

TEST_F(DriveATest, PathComesFromTheEnvironmentElseTheFloppyDevice) {
    EXPECT_EQ(platform::driveAPath(), driveImage().string());
#ifndef _WIN32
    platformtest::ScopedEnv unset("QUENVOL_DRIVE_A", std::nullopt);
    platformtest::ScopedEnv noDrives("QUENVOL_SYSFS", (m_dir / "no-sysfs").string());
    EXPECT_EQ(platform::driveAPath(), "/dev/fd0");
#endif
}

TEST_F(DriveATest, AcceptsExactlyTheDisketteFormats) {
    for (std::uint64_t size : {368640u, 737280u, 1228800u, 1474560u, 2949120u}) {
        EXPECT_TRUE(platform::isDisketteSize(size)) << size;
    }
    for (std::uint64_t size : {0u, 512u, 1474048u, 1474561u, 1475072u, 2949632u, 10485760u}) {
        EXPECT_FALSE(platform::isDisketteSize(size)) << size;
    }
}

TEST_F(DriveATest, MissingPathIsAnEmptyDrive) {
    auto drive = DriveA::open();
    ASSERT_FALSE(drive);
    EXPECT_EQ(drive.message().rfind("no diskette in drive A:", 0), 0u) << drive.message();
    EXPECT_FALSE(fs::exists(driveImage()));
    EXPECT_FALSE(DriveA::open(forWriting()));
    EXPECT_FALSE(fs::exists(driveImage())) << "opening for writing must not create the image";
}

#ifndef _WIN32
// A USB floppy drive without a diskette opens with a medium of no size: a loop device over an
// empty file stands for it. Needs a system that lets the tests attach loop devices.
TEST_F(DriveATest, DriveWithAMediumOfNoSizeIsAnEmptyDrive) {
    writeBytes(m_dir / "empty", {});
    const auto attach = fattools::runTool({"losetup", "-f", "--show", (m_dir / "empty").string()});
    // losetup warns about the empty file besides naming the device.
    const auto at = attach.output.find("/dev/");
    const std::string device =
        at == std::string::npos ? "" : attach.output.substr(at, attach.output.find('\n', at) - at);
    if (attach.exitCode != 0 || device.empty()) {
        GTEST_SKIP() << "no loop device: " << attach.output;
    }
    struct Detach {
        std::string device;
        ~Detach() { fattools::runTool({"losetup", "-d", device}); }
    } detach{device};
    pointDriveAt(device);
    for (DriveAccess access : {DriveAccess::Read, DriveAccess::Write}) {
        DriveOpenOptions options;
        options.access = access;
        auto drive = DriveA::open(options);
        ASSERT_FALSE(drive);
        EXPECT_EQ(drive.message().rfind("no diskette in drive A:", 0), 0u) << drive.message();
    }
    // Measured as an empty drive, not as no drive at all.
    const auto medium = platform::measureMediumAt(device);
    ASSERT_TRUE(medium);
    EXPECT_TRUE(medium->blockDevice);
    EXPECT_EQ(medium->bytes, 0u);
}

// A block device is opened blocking (the floppy driver checks for a diskette only then), and
// a pipe put where drive A: was is still opened without waiting for a writer. A device's first
// sector is read from the medium, by which a swapped diskette is told.
TEST_F(DriveATest, DriveNodesAreOpenedBlockingAndPipesNever) {
    const auto image = patternBytes(1474560, 7);
    writeBytes(m_dir / "a.img", image);
    ASSERT_EQ(::mkfifo((m_dir / "pipe").c_str(), 0600), 0);
    const auto attach = fattools::runTool({"losetup", "-f", "--show", (m_dir / "a.img").string()});
    const std::string loop =
        attach.exitCode == 0 ? attach.output.substr(0, attach.output.find('\n')) : std::string();
    struct Detach {
        std::string device;
        ~Detach() {
            if (!device.empty()) fattools::runTool({"losetup", "-d", device});
        }
    } detach{loop};
    for (const std::string& path : {(m_dir / "a.img").string(), (m_dir / "pipe").string(), loop}) {
        if (path.empty()) continue;  // no loop device here
        const int fd = platform::posix::openDriveNode(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << path;
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << path;
        ::close(fd);
    }
    if (loop.empty()) GTEST_SKIP() << "no loop device: " << attach.output;
    const auto medium = platform::measureMediumAt(loop);
    ASSERT_TRUE(medium);
    EXPECT_EQ(medium->bytes, image.size());
    EXPECT_EQ(medium->firstSector, std::string(image.begin(), image.begin() + 512));
}

#endif

TEST_F(DriveATest, TenMegabyteFileIsRefusedAndLeftUnchanged) {
    const auto original = patternBytes(10 * 1024 * 1024, 3);
    writeBytes(driveImage(), original);
    for (DriveAccess access : {DriveAccess::Read, DriveAccess::Write}) {
        DriveOpenOptions options;
        options.access = access;
        auto drive = DriveA::open(options);
        ASSERT_FALSE(drive);
        EXPECT_NE(drive.message().find("not a diskette"), std::string::npos) << drive.message();
        EXPECT_NE(drive.message().find("10,485,760"), std::string::npos) << drive.message();
    }
    EXPECT_TRUE(readBytes(driveImage()) == original);
}

TEST_F(DriveATest, WrongSizedImageIsNotADiskette) {
    writeBytes(driveImage(), patternBytes(1474560 + 512, 2));
    auto drive = DriveA::open(forWriting());
    ASSERT_FALSE(drive);
    EXPECT_NE(drive.message().find("not a diskette"), std::string::npos);
}

TEST_F(DriveATest, FoldersAndCharacterDevicesAreNoDiskette) {
    fs::create_directory(driveImage());
    auto folder = DriveA::open(forWriting());
    ASSERT_FALSE(folder);
    EXPECT_NE(folder.message().find("is a directory"), std::string::npos) << folder.message();

#ifndef _WIN32
    pointDriveAt("/dev/null");
    auto null = DriveA::open(forWriting());
    ASSERT_FALSE(null);
    EXPECT_NE(null.message().find("character device"), std::string::npos) << null.message();
#endif
}

TEST_F(DriveATest, ReadOnlyImageIsWriteProtectedAndUnchanged) {
    makeImage();
    const auto original = readBytes(driveImage());
    fs::permissions(driveImage(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto drive = DriveA::open(forWriting());
    ASSERT_FALSE(drive);
    EXPECT_EQ(drive.message().rfind("write-protected", 0), 0u) << drive.message();

    // It can still be read, and with the fallback opened for reading only.
    auto reader = DriveA::open();
    ASSERT_TRUE(reader) << reader.message();
    DriveOpenOptions fallback = forWriting();
    fallback.readOnlyFallback = true;
    auto readOnly = DriveA::open(fallback);
    ASSERT_TRUE(readOnly) << readOnly.message();
    EXPECT_FALSE((*readOnly)->writable());
    std::vector<std::uint8_t> sector(512, 0xEE);
    base::Status refused = (*readOnly)->write(0, 1, sector.data());
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.message().rfind("write-protected", 0), 0u);
    EXPECT_FALSE((*reader)->write(0, 1, sector.data()));
    EXPECT_NE((*reader)->write(0, 1, sector.data()).message().find("reading only"),
              std::string::npos);
    EXPECT_TRUE(readBytes(driveImage()) == original);
}

TEST_F(DriveATest, ReadsAndWritesWholeSectorsWithinTheMedium) {
    makeImage();
    auto original = readBytes(driveImage());
    auto drive = DriveA::open(forWriting());
    ASSERT_TRUE(drive) << drive.message();
    EXPECT_EQ((*drive)->sectorCount(), 2880u);
    EXPECT_EQ((*drive)->geometry().sectorsPerTrack, 18);

    std::vector<std::uint8_t> two(1024);
    ASSERT_TRUE((*drive)->read(2878, 2, two.data()));
    EXPECT_TRUE(std::equal(two.begin(), two.end(), original.end() - 1024));

    const auto fresh = patternBytes(1024, 9);
    ASSERT_TRUE((*drive)->write(5, 2, fresh.data()));
    ASSERT_TRUE((*drive)->flush());
    EXPECT_FALSE((*drive)->read(2879, 2, two.data()));
    EXPECT_FALSE((*drive)->write(2880, 1, fresh.data()));
    EXPECT_FALSE((*drive)->write(0xFFFFFFFFu, 2, fresh.data()));
    drive->reset();

    std::copy(fresh.begin(), fresh.end(), original.begin() + 5 * 512);
    EXPECT_TRUE(readBytes(driveImage()) == original);
    EXPECT_EQ(fs::file_size(driveImage()), 1474560u);
}

TEST_F(DriveATest, ByteTransfersStopAtTheEndAndNeverGrowTheImage) {
    makeImage();
    auto drive = DriveA::open(forWriting());
    ASSERT_TRUE(drive);
    std::vector<std::uint8_t> block(2048, 0x5A);
    auto put = (*drive)->writeAt(1474560 - 512, block.data(), block.size());
    ASSERT_TRUE(put);
    EXPECT_EQ(*put, 512u);
    auto beyond = (*drive)->writeAt(1474560, block.data(), 512);
    ASSERT_TRUE(beyond);
    EXPECT_EQ(*beyond, 0u);
    auto got = (*drive)->readAt(1474560, block.data(), 512);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, 0u);
    drive->reset();
    EXPECT_EQ(fs::file_size(driveImage()), 1474560u);
}

TEST_F(DriveATest, WriteSessionsExcludeEachOther) {
    makeImage();
    auto first = DriveA::open(forWriting());
    ASSERT_TRUE(first) << first.message();
    EXPECT_TRUE((*first)->locked());
    auto second = DriveA::open(forWriting());
    ASSERT_FALSE(second);
    EXPECT_EQ(second.message().rfind("busy", 0), 0u) << second.message();

#ifndef _WIN32
    // Another program's lock on the image is honoured the same way.
    first->reset();
    int other = ::open(driveImage().c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_FALSE(DriveA::open(forWriting()));
    // Without a session lock, a single write still needs the drive for itself.
    DriveOpenOptions loose = forWriting();
    loose.exclusive = false;
    auto unlocked = DriveA::open(loose);
    ASSERT_TRUE(unlocked) << unlocked.message();
    std::vector<std::uint8_t> sector(512, 1);
    EXPECT_FALSE((*unlocked)->write(0, 1, sector.data()));
    ::close(other);
    EXPECT_TRUE((*unlocked)->write(0, 1, sector.data()));
#endif
}

// A lock guard takes the hold only where the session has none, and gives back only what it took.
TEST_F(DriveATest, LockGuardGivesBackOnlyWhatItTook) {
    makeImage();
    DriveOpenOptions loose = forWriting();
    loose.exclusive = false;
    auto drive = DriveA::open(loose);
    ASSERT_TRUE(drive) << drive.message();
    DriveA& a = **drive;
    {
        const platform::DriveLock hold(a);
        ASSERT_TRUE(hold.status()) << hold.status().message();
        EXPECT_TRUE(a.locked());
    }
    EXPECT_FALSE(a.locked());
    ASSERT_TRUE(a.lock());
    { const platform::DriveLock hold(a); }
    EXPECT_TRUE(a.locked()) << "the session's own hold was given back by a guard";
    a.unlock();

    const std::vector<std::uint8_t> sector(512, 3);
    ASSERT_TRUE(a.write(0, 1, sector.data()));
    EXPECT_FALSE(a.locked()) << "a write kept the hold it took for itself";
#ifndef _WIN32
    const int other = ::open(driveImage().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    {
        const platform::DriveLock hold(a);
        EXPECT_EQ(hold.status().kind(), base::Failure::Busy);
    }
    EXPECT_FALSE(a.locked());
    ::close(other);
#endif
}

TEST_F(DriveATest, BypassingTheCacheStillReadsTheMedium) {
    makeImage(737280);
    DriveOpenOptions options;
    options.bypassCache = true;
    auto drive = DriveA::open(options);
    ASSERT_TRUE(drive) << drive.message();
    EXPECT_EQ((*drive)->geometry().sectorsPerTrack, 9);
    std::vector<std::uint8_t> sector(512);
    base::Status read = (*drive)->read(1439, 1, sector.data());
    ASSERT_TRUE(read) << read.message();
    auto image = readBytes(driveImage());
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), image.end() - 512));
}

#ifndef _WIN32
// What a build holds keeps other processes out at once and never the build's own sessions: an
// image (flock), a block device where a loop device can be attached (flock and O_EXCL), and a
// read-only folder.
TEST_F(DriveATest, BuildHoldsShutOutOtherProcessesButNotTheirOwnSessions) {
    makeImage();
    std::vector<std::string> drives{driveImage().string()};
    const auto attach = fattools::runTool({"losetup", "-f", "--show", driveImage().string()});
    const std::string device = attach.output.substr(0, attach.output.find('\n'));
    struct Detach {
        std::string device;
        ~Detach() { fattools::runTool({"losetup", "-d", device}); }
    };
    std::optional<Detach> detach;
    if (attach.exitCode == 0 && device.starts_with("/dev/")) {
        detach.emplace().device = device;
        drives.push_back(device);
    }
    for (const std::string& drive : drives) {
        SCOPED_TRACE(drive);
        pointDriveAt(drive);
        {
            const ExclusiveHold hold = ExclusiveHold::driveA();
            ASSERT_EQ(hold.state(), HoldState::Held) << hold.detail();
            auto own = DriveA::open(forWriting());
            ASSERT_TRUE(own) << own.message();
            const std::vector<std::uint8_t> sector(512, 7);
            EXPECT_TRUE((*own)->write(0, 1, sector.data()));
            EXPECT_TRUE(inAnotherProcess([] {
                return ExclusiveHold::driveA().state() == HoldState::HeldByAnotherBuild &&
                       !DriveA::open(forWriting());
            }));
        }
        EXPECT_TRUE(inAnotherProcess([] { return ExclusiveHold::driveA().held(); }));
    }
    if (detach) {
        // Held exclusively by another program, as a mount holds it.
        const int exclusive = ::open(device.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
        ASSERT_GE(exclusive, 0);
        pointDriveAt(device);
        EXPECT_EQ(ExclusiveHold::driveA().state(), HoldState::InUse);
        ::close(exclusive);
    }

    const std::string folder = (m_dir / "kit").string();
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    {
        const ExclusiveHold hold = ExclusiveHold::folder(folder);
        ASSERT_TRUE(hold.held()) << hold.detail();
        EXPECT_TRUE(inAnotherProcess([&] {
            return ExclusiveHold::folder(folder).state() == HoldState::HeldByAnotherBuild;
        }));
    }
    EXPECT_TRUE(inAnotherProcess([&] { return ExclusiveHold::folder(folder).held(); }));
}
#endif

}  // namespace

#ifndef _WIN32

// Within a build, drive A: is what its hold resolved: every session borrows the hold's
// descriptor instead of opening the drive again, reads past the cache drop it only when
// something was written since, and a path that comes to name another file is refused.
TEST_F(DriveATest, BuildSessionsUseTheDriveTheHoldResolved) {
    makeImage();
    const auto descriptorsOnImage = [&] {
        std::size_t n = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            n += fs::read_symlink(entry.path(), ec) == driveImage();
        }
        return n;
    };
    struct Drops : platform::DriveFaults {
        int drops = 0;
        void cacheDropped() override { ++drops; }
    } counted;
    const platform::ScopedDriveFaults faults(counted);
    const ExclusiveHold hold = ExclusiveHold::driveA();
    ASSERT_TRUE(hold.held()) << hold.detail();
    const std::size_t held = descriptorsOnImage();

    DriveOpenOptions pastCache;
    pastCache.bypassCache = true;
    const std::vector<std::uint8_t> sector(512, 9);
    std::vector<std::uint8_t> back(512);
    for (const int round : {1, 2}) {
        auto writer = DriveA::open(forWriting());
        ASSERT_TRUE(writer) << writer.message();
        ASSERT_TRUE((*writer)->write(5, 1, sector.data()));
        auto reader = DriveA::open(pastCache);
        ASSERT_TRUE(reader) << reader.message();
        EXPECT_EQ(descriptorsOnImage(), held);
        for (std::uint32_t s : {0u, 100u, 5u}) ASSERT_TRUE((*reader)->read(s, 1, back.data()));
        EXPECT_TRUE(back == sector);
        EXPECT_EQ(counted.drops, round) << "one drop after each round's write";
    }

    // Another file renamed over the image: the build's sessions refuse it and touch neither.
    const fs::path other = m_dir / "other.img";
    writeBytes(other, patternBytes(1474560, 3));
    fs::rename(other, driveImage());
    auto replaced = DriveA::open(forWriting());
    ASSERT_FALSE(replaced);
    EXPECT_NE(replaced.message().find("now names another file"), std::string::npos)
        << replaced.message();
    EXPECT_TRUE(readBytes(driveImage()) == patternBytes(1474560, 3));
}

// The kernel's mount report: drive A:'s mounts found by device number alone, whatever the
// optional fields, with the report's escapes undone; other devices' mounts never count.
TEST(MountReportTest, FindsTheMountsOfOneDeviceOnly) {
    const std::string report =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "46 27 7:1 / /media/ann/MY\\040DISK rw,nosuid shared:9 master:3 - vfat /dev/loop1 rw\n"
        "47 27 7:11 / /mnt/other rw - ext2 /dev/loop11 rw\n"
        "48 22 7:1 /sub /srv/tab\\011bed rw - vfat /dev/loop1 rw\n"
        "49 22 7:1 / /broken rw without the separator\n";
    const std::vector<platform::Mount> expected = {{"vfat", "/media/ann/MY DISK"},
                                                   {"vfat", "/srv/tab\tbed"}};
    EXPECT_EQ(platform::mountsOfDevice(report, 7, 1), expected);
    EXPECT_TRUE(platform::mountsOfDevice(report, 7, 2).empty());
    EXPECT_TRUE(platform::mountsOfDevice(report, 71, 1).empty()) << "7:11 is not 71:1";
    EXPECT_EQ(platform::describeMounts(expected),
              "vfat at /media/ann/MY DISK, vfat at /srv/tab\tbed");
}

// An image file is never "mounted" to us, and without a disk service nothing is removed.
TEST_F(DriveATest, ImageFileHasNoMountsAndNothingToEject) {
    writeBytes(driveImage(), patternBytes(1474560, 1));
    platformtest::ScopedEnv noBus("DBUS_SYSTEM_BUS_ADDRESS",
                                  "unix:path=" + (m_dir / "no-bus").string());
    EXPECT_FALSE(platform::mountedDriveA());
    EXPECT_EQ(platform::driveARemoval(), platform::Removal::None);
    EXPECT_FALSE(platform::desktopDiskServiceRuns());
    const platform::DriveAMounts madeUp{driveImage().string(), {{"ext2", "/mnt"}}};
    const base::Status unmounted = platform::unmountDriveA(madeUp);
    ASSERT_FALSE(unmounted);
    EXPECT_NE(unmounted.message().find("changed since the question"), std::string::npos)
        << unmounted.message();
}
#endif
