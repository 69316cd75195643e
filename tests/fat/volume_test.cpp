// Files in the root directory: written by us and read back by mtools, and the other way
// round; replacement, a full disk and a full root directory leaving a consistent volume.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <optional>
#include <tuple>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/layout.h"
#include "support/failing_device.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace {

using fat::FailingDevice;
using fat::MemoryDevice;
using fat::Volume;

constexpr std::time_t kWhen = 1700000000;
constexpr std::uint64_t kEmptyFree = 1457664;
constexpr std::size_t kRootOffset = 19 * 512;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed = 1) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

MemoryDevice formatted() {
    MemoryDevice device(2880);
    fat::FormatOptions options;
    options.serial = 0x0BADF00D;
    options.clock = kWhen;
    EXPECT_TRUE(fat::format(device, options).ok());
    return device;
}

class VolumeTest : public testing::Test {
  protected:
    // Saves the image and runs fsck.fat on it; returns the image path for more checks.
    std::string checkedImage(const std::string& name = "v.img") {
        const std::string image = m_dir.file(name);
        EXPECT_TRUE(fattools::saveImage(m_memory, image));
        const auto fsck = fattools::runFsck(image);
        EXPECT_TRUE(fsck.clean) << fsck.output;
        return image;
    }
    Volume mounted() {
        auto volume = Volume::mount(m_memory);
        EXPECT_TRUE(volume.ok()) << volume.message();
        return std::move(*volume);
    }

    fattools::TempDir m_dir;
    MemoryDevice m_memory = formatted();
};

TEST_F(VolumeTest, FilesOfEverySizeReadBackThroughMtools) {
    Volume volume = mounted();
    const std::vector<std::pair<std::string, std::size_t>> files = {
        {"EMPTY.TXT", 0}, {"ONE", 1}, {"SECTOR.BIN", 512}, {"PAST.BIN", 513}, {"BIG.DAT", 100000}};
    std::uint8_t seed = 1;
    for (const auto& [name, size] : files) {
        ASSERT_TRUE(volume.writeFile(name, pattern(size, seed++), kWhen).ok()) << name;
    }
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mdirNames(image),
              (std::vector<std::string>{"EMPTY.TXT", "ONE", "SECTOR.BIN", "PAST.BIN", "BIG.DAT"}));
    seed = 1;
    for (const auto& [name, size] : files) {
        const auto back = fattools::mtype(image, name);
        ASSERT_TRUE(back.has_value()) << name;
        EXPECT_EQ(*back, pattern(size, seed)) << name;
        auto ours = volume.readFile(name);
        ASSERT_TRUE(ours.ok()) << ours.message();
        EXPECT_EQ(*ours, pattern(size, seed)) << name;
        ++seed;
    }
    const std::uint64_t used = (0 + 1 + 1 + 2 + 196) * 512;
    EXPECT_EQ(volume.freeBytes(), kEmptyFree - used);
    EXPECT_EQ(fattools::mdirFreeBytes(image), kEmptyFree - used);
    // A second mount sees the same files.
    Volume again = mounted();
    ASSERT_EQ(again.list().size(), files.size());
    EXPECT_EQ(again.list()[4].name, "BIG.DAT");
    EXPECT_EQ(again.list()[4].size, 100000u);
}

// A clock of a zone far from UTC, so that a stamp taken from anywhere else shows.
class FixedClock final : public fat::LocalClock {
  public:
    std::optional<fat::LocalTime> localTime(std::time_t when) const override {
        if (when != kWhen) return std::nullopt;
        return fat::LocalTime{2023, 11, 15, 9, 43, 21};
    }
};

TEST(UtcClockTest, WorksOutTheCalendarWithoutTheSystem) {
    const auto t = fat::utcClock().localTime(kWhen);  // 2023-11-14 22:13:20 UTC
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(std::tuple(t->year, t->month, t->day, t->hour, t->minute, t->second),
              std::tuple(2023LL, 11, 14, 22, 13, 20));
    const auto before = fat::utcClock().localTime(-1);
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(std::tuple(before->year, before->hour, before->second), std::tuple(1969LL, 23, 59));
    EXPECT_FALSE(fat::utcClock().localTime(std::numeric_limits<std::time_t>::max()).has_value());
}

TEST_F(VolumeTest, EntryFieldsAreThoseOfAPlainShortNameFile) {
    const FixedClock clock;
    auto mountedWithClock = Volume::mount(m_memory, clock);
    ASSERT_TRUE(mountedWithClock.ok());
    Volume volume = std::move(*mountedWithClock);
    ASSERT_TRUE(volume.writeFile("minidos.sys", pattern(700), kWhen).ok());
    ASSERT_TRUE(volume.writeFile("empty", {}, kWhen).ok());
    const std::uint8_t* e = &m_memory.bytes()[kRootOffset];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e), 11), "MINIDOS SYS");
    EXPECT_EQ(e[fat::dirent::kAttributes], fat::dirent::kAttrArchive);
    EXPECT_EQ(e[fat::dirent::kCaseFlags], 0);
    EXPECT_EQ(fat::load16(e + fat::dirent::kClusterHigh), 0);
    EXPECT_EQ(fat::load16(e + fat::dirent::kFirstCluster), 2);
    EXPECT_EQ(fat::load32(e + fat::dirent::kFileSize), 700u);

    const fat::LocalTime tm = *clock.localTime(kWhen);
    const std::uint16_t date = fat::load16(e + fat::dirent::kWriteDate);
    const std::uint16_t time = fat::load16(e + fat::dirent::kWriteTime);
    EXPECT_EQ((date >> 9) + 1980, tm.year);
    EXPECT_EQ((date >> 5) & 15, tm.month);
    EXPECT_EQ(date & 31, tm.day);
    EXPECT_EQ(time >> 11, tm.hour);
    EXPECT_EQ((time >> 5) & 63, tm.minute);
    EXPECT_EQ((time & 31) * 2, tm.second & ~1);
    EXPECT_EQ(e[fat::dirent::kCreateTenths], 100);  // the odd second
    EXPECT_EQ(fat::load16(e + fat::dirent::kCreateDate), date);
    EXPECT_EQ(fat::load16(e + fat::dirent::kCreateTime), time);

    const std::uint8_t* empty = e + 32;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(empty), 11), "EMPTY      ");
    EXPECT_EQ(fat::load16(empty + fat::dirent::kFirstCluster), 0);
    EXPECT_EQ(fat::load32(empty + fat::dirent::kFileSize), 0u);
    // Nothing follows but the end of the directory.
    EXPECT_EQ(e[64], 0);
    checkedImage();
}

TEST_F(VolumeTest, DatesOutsideTheDosRangeAreClamped) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("OLD", pattern(1), 0).ok());                // 1970
    ASSERT_TRUE(volume.writeFile("FUTURE", pattern(1), 4400000000LL).ok());  // 2109
    const std::uint8_t* old = &m_memory.bytes()[kRootOffset];
    EXPECT_EQ(fat::load16(old + fat::dirent::kWriteDate), (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(fat::load16(old + fat::dirent::kWriteTime), 0);
    const std::uint8_t* future = old + 32;
    EXPECT_EQ(fat::load16(future + fat::dirent::kWriteDate), (127 << 9) | (12 << 5) | 31);
    EXPECT_EQ(fat::load16(future + fat::dirent::kWriteTime), (23 << 11) | (59 << 5) | 29);
    checkedImage();
}

// A fresh file goes out as one call for its clusters, one per FAT copy and one for the
// directory sector.
TEST_F(VolumeTest, NewFileTakesFourWriteCalls) {
    FailingDevice counter(m_memory);
    auto volume = Volume::mount(counter);
    ASSERT_TRUE(volume.ok());
    counter.resetCounters();
    ASSERT_TRUE(volume->writeFile("BIG.DAT", pattern(300000), kWhen).ok());
    EXPECT_EQ(counter.writeCalls(), 4u);
    // 586 data sectors; the chain's entries span FAT sectors 0..1 (bytes 0..882) in each copy.
    EXPECT_EQ(counter.sectorsWritten(), 586u + 2 + 2 + 1);
    // The data and its chain are durable before the entry that names them is written.
    EXPECT_EQ(counter.flushCalls(), 2u);
}

// Staged files are seen by the volume that staged them at once and by the medium only after
// the commit; a file replaced in the batch keeps its old content there until then.
TEST_F(VolumeTest, StagedFilesReachTheMediumTogetherAtTheCommit) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("OLD.BIN", pattern(3000, 1), kWhen).ok());
    const std::uint64_t freeBefore = volume.freeBytes();
    auto onMedium = [&](const char* name) {
        MemoryDevice medium(m_memory.bytes());
        return Volume::mount(medium)->readFile(name);
    };
    ASSERT_TRUE(volume.stageFile("NEW.BIN", pattern(9000, 2), kWhen).ok());
    ASSERT_TRUE(volume.stageFile("OLD.BIN", pattern(700, 3), kWhen).ok());
    EXPECT_TRUE(volume.hasStaged());
    EXPECT_EQ(volume.readFile("OLD.BIN").value(), pattern(700, 3));
    EXPECT_FALSE(onMedium("NEW.BIN").ok());
    EXPECT_EQ(onMedium("OLD.BIN").value(), pattern(3000, 1));
    // Staged again: the first version goes onto the medium before it is replaced.
    ASSERT_TRUE(volume.stageFile("NEW.BIN", pattern(5000, 4), kWhen).ok());
    EXPECT_EQ(onMedium("NEW.BIN").value(), pattern(9000, 2));
    EXPECT_EQ(onMedium("OLD.BIN").value(), pattern(700, 3));
    ASSERT_TRUE(volume.checkMedium().ok());
    ASSERT_TRUE(volume.commit().ok());
    EXPECT_FALSE(volume.hasStaged());
    EXPECT_EQ(volume.freeBytes(), freeBefore - (10 + 2 - 6) * 512);
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mtype(image, "NEW.BIN"), pattern(5000, 4));
    EXPECT_EQ(fattools::mtype(image, "OLD.BIN"), pattern(700, 3));

    // Another volume writing meanwhile is noticed before anything more is written.
    Volume intruder = mounted();
    ASSERT_TRUE(intruder.writeFile("OTHER.BIN", pattern(10, 5), kWhen).ok());
    EXPECT_FALSE(volume.checkMedium().ok());
}

TEST_F(VolumeTest, OverwriteReplacesTheFileAndFreesTheOldChain) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("A.BIN", pattern(5000, 1), kWhen).ok());
    ASSERT_TRUE(volume.writeFile("B.BIN", pattern(700, 2), kWhen).ok());
    ASSERT_TRUE(volume.writeFile("a.bin", pattern(20000, 3), kWhen).ok());  // larger
    ASSERT_TRUE(volume.writeFile("B.BIN", pattern(10, 4), kWhen).ok());     // smaller
    ASSERT_EQ(volume.list().size(), 2u);
    EXPECT_EQ(volume.list()[0].name, "A.BIN");
    EXPECT_EQ(volume.list()[0].size, 20000u);
    EXPECT_EQ(volume.freeBytes(), kEmptyFree - (40 + 1) * 512);
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mtype(image, "A.BIN"), pattern(20000, 3));
    EXPECT_EQ(fattools::mtype(image, "B.BIN"), pattern(10, 4));
    ASSERT_TRUE(volume.writeFile("A.BIN", {}, kWhen).ok());  // to empty
    EXPECT_EQ(volume.freeBytes(), kEmptyFree - 512);
    EXPECT_EQ(volume.find("A.BIN")->firstCluster, 0);
    checkedImage("v2.img");
}

TEST_F(VolumeTest, OverwriteWithoutRoomForBothFreesTheOldFileFirst) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("KEEP", pattern(1000, 1), kWhen).ok());
    ASSERT_TRUE(volume.writeFile("HUGE", pattern(1000000, 2), kWhen).ok());
    const std::uint64_t left = volume.freeBytes();
    // HUGE's last cluster holds 448 unused bytes; fill those and all that is left, bar 100.
    const auto bigger = pattern(static_cast<std::size_t>(1000448 + left - 100), 3);
    ASSERT_TRUE(volume.writeFile("HUGE", bigger, kWhen).ok());
    EXPECT_EQ(volume.freeBytes(), 0u);
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mtype(image, "HUGE"), bigger);
    EXPECT_EQ(fattools::mtype(image, "KEEP"), pattern(1000, 1));
}

TEST_F(VolumeTest, FileThatCannotFitChangesNothing) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("FIRST", pattern(800000, 1), kWhen).ok());
    const auto before = m_memory.bytes();
    auto status = volume.writeFile("SECOND", pattern(700000, 2), kWhen);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find("SECOND"), std::string::npos) << status.message();
    EXPECT_EQ(status.kind(), base::Failure::NoRoom);
    // Replacing FIRST by a file larger than the whole disk fails the same way.
    EXPECT_FALSE(volume.writeFile("FIRST", pattern(kEmptyFree + 1), kWhen).ok());
    EXPECT_EQ(m_memory.bytes(), before);
    EXPECT_EQ(volume.list().size(), 1u);
    EXPECT_EQ(volume.freeBytes(), kEmptyFree - 1563 * 512);
    checkedImage();
    // What exactly fills the disk still fits.
    EXPECT_TRUE(volume.writeFile("SECOND", pattern(volume.freeBytes(), 3), kWhen).ok());
    EXPECT_EQ(volume.freeBytes(), 0u);
    checkedImage("full.img");
}

TEST_F(VolumeTest, FullRootDirectoryRefusesAnotherFile) {
    Volume volume = mounted();
    for (int i = 0; i < 224; ++i) {
        ASSERT_TRUE(volume.writeFile("F" + std::to_string(i), pattern(1, 1), kWhen).ok()) << i;
    }
    const auto before = m_memory.bytes();
    auto status = volume.writeFile("ONEMORE", pattern(10), kWhen);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find("root directory is full"), std::string::npos);
    EXPECT_EQ(status.kind(), base::Failure::NoRoom);
    EXPECT_EQ(m_memory.bytes(), before);
    // Replacing one of them still works.
    ASSERT_TRUE(volume.writeFile("F7", pattern(3000, 2), kWhen).ok());
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mdirNames(image)->size(), 224u);
    EXPECT_EQ(fattools::mtype(image, "F7"), pattern(3000, 2));
}

TEST_F(VolumeTest, RemovedEntriesAreSkippedAndReused) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("A", pattern(600, 1), kWhen).ok());
    ASSERT_TRUE(volume.writeFile("B", pattern(600, 2), kWhen).ok());
    ASSERT_TRUE(volume.removeFile("a").ok());
    EXPECT_EQ(m_memory.bytes()[kRootOffset], fat::dirent::kDeletedMark);
    EXPECT_FALSE(volume.readFile("A").ok());
    EXPECT_FALSE(volume.removeFile("A").ok());
    ASSERT_EQ(volume.list().size(), 1u);
    EXPECT_EQ(volume.freeBytes(), kEmptyFree - 2 * 512);
    ASSERT_TRUE(volume.writeFile("C", pattern(10, 3), kWhen).ok());
    ASSERT_EQ(volume.list().size(), 2u);
    EXPECT_EQ(volume.list()[0].name, "C");  // took A's slot
    EXPECT_EQ(volume.list()[1].name, "B");
    const std::string image = checkedImage();
    EXPECT_EQ(fattools::mdirNames(image), (std::vector<std::string>{"C", "B"}));
}

TEST_F(VolumeTest, ListSkipsLabelsLongNamePiecesAndStopsAtTheEndMark) {
    ASSERT_TRUE(mounted().writeFile("REAL.TXT", pattern(5), kWhen).ok());
    auto& b = m_memory.bytes();
    // Shift REAL.TXT to slot 2, put a label in slot 0 and a long-name piece in slot 1.
    std::copy(b.begin() + kRootOffset, b.begin() + kRootOffset + 32, b.begin() + kRootOffset + 64);
    std::fill(b.begin() + kRootOffset, b.begin() + kRootOffset + 64, 0);
    std::memcpy(&b[kRootOffset], "MYLABEL    ", 11);
    b[kRootOffset + 11] = fat::dirent::kAttrVolumeLabel;
    std::memcpy(&b[kRootOffset + 32], "\x41r\0e\0a\0l\0.\0", 11);
    b[kRootOffset + 32 + 11] = fat::dirent::kAttrLongName;
    // An entry after the end mark (slot 3 left zero) must not show.
    std::memcpy(&b[kRootOffset + 128], "GHOST      ", 11);
    Volume volume = mounted();
    ASSERT_EQ(volume.list().size(), 1u);
    EXPECT_EQ(volume.list()[0].name, "REAL.TXT");
    EXPECT_FALSE(volume.find("GHOST").has_value());
    EXPECT_FALSE(volume.find("MYLABEL").has_value());
    EXPECT_EQ(*volume.readFile("real.txt"), pattern(5));
}

TEST_F(VolumeTest, FilesWrittenByMtoolsAreReadAndReplaced) {
    const std::string image = m_dir.file("m.img");
    ASSERT_TRUE(fattools::mformat(image, 1440));
    ASSERT_TRUE(fattools::mcopyIn(image, "THEIRS.BIN", pattern(7000, 5)));
    ASSERT_TRUE(fattools::mcopyIn(image, "OTHER.TXT", pattern(100, 6)));
    auto loaded = MemoryDevice::loadFile(image);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    MemoryDevice memory = std::move(*loaded);
    auto volume = Volume::mount(memory);
    ASSERT_TRUE(volume.ok()) << volume.message();
    EXPECT_EQ(*volume->readFile("THEIRS.BIN"), pattern(7000, 5));
    EXPECT_EQ(volume->freeBytes(), *fattools::mdirFreeBytes(image));
    ASSERT_TRUE(volume->writeFile("THEIRS.BIN", pattern(9000, 7), kWhen).ok());
    ASSERT_TRUE(volume->writeFile("MINE.SYS", pattern(40000, 8), kWhen).ok());
    ASSERT_TRUE(volume->removeFile("OTHER.TXT").ok());
    ASSERT_TRUE(fattools::saveImage(memory, image));
    const auto fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
    EXPECT_EQ(fattools::mdirNames(image), (std::vector<std::string>{"THEIRS.BIN", "MINE.SYS"}));
    EXPECT_EQ(fattools::mtype(image, "THEIRS.BIN"), pattern(9000, 7));
    EXPECT_EQ(fattools::mtype(image, "MINE.SYS"), pattern(40000, 8));
}

// A device giving out during a write never reports success, whatever the point of failure.
TEST_F(VolumeTest, DeviceFailingAfterNSectorsGivesAFailure) {
    // Fresh file: 20 data sectors, one FAT sector per copy, one directory sector.
    const std::uint32_t needed = 20 + 2 + 1;
    for (auto mode : {FailingDevice::Mode::Fail, FailingDevice::Mode::Stop}) {
        for (std::uint32_t n = 0; n <= needed; ++n) {
            SCOPED_TRACE(n);
            MemoryDevice memory = formatted();
            FailingDevice device(memory);
            auto volume = Volume::mount(device);
            ASSERT_TRUE(volume.ok());
            device.failAfterSectorsWritten(n, mode);
            const auto status = volume->writeFile("FILE.BIN", pattern(20 * 512), kWhen);
            EXPECT_EQ(status.ok(), n == needed) << status.message();
            if (!status.ok()) {
                EXPECT_NE(status.message().find("\"FILE.BIN\""), std::string::npos)
                    << status.message();
                // The device's kind comes through whatever the volume was doing.
                EXPECT_EQ(status.kind(), base::Failure::IoError);
            }
        }
    }
}

TEST_F(VolumeTest, ReplacingOnAFailingDeviceGivesAFailure) {
    Volume volume = mounted();
    ASSERT_TRUE(volume.writeFile("FILE.BIN", pattern(3000, 1), kWhen).ok());
    const auto start = m_memory.bytes();
    for (std::uint32_t n = 0; n < 9; ++n) {
        SCOPED_TRACE(n);
        MemoryDevice memory(start);
        FailingDevice device(memory);
        auto mountedHere = Volume::mount(device);
        ASSERT_TRUE(mountedHere.ok());
        device.failAfterSectorsWritten(n, FailingDevice::Mode::Fail);
        // 4 data sectors, FAT sector in each copy, directory sector, FAT again for the old chain.
        EXPECT_FALSE(mountedHere->writeFile("FILE.BIN", pattern(2000, 2), kWhen).ok());
    }
}

TEST(ShortNameTest, ValidNamesInCapitals) {
    EXPECT_EQ(*fat::toShortName("minidos.sys"), "MINIDOS SYS");
    EXPECT_EQ(*fat::toShortName("A"), "A          ");
    EXPECT_EQ(*fat::toShortName("zyplet16.exe"), "ZYPLET16EXE");
    EXPECT_EQ(*fat::toShortName("x.a"), "X       A  ");
    EXPECT_EQ(*fat::toShortName("~$#_-!.{}@"), "~$#_-!  {}@");
}

TEST(ShortNameTest, InvalidNamesFailWithTheName) {
    for (const char* name : {"",          ".",     "..",     ".hidden",   "toolongname.txt",
                             "name.long", "a.b.c", "sp ace", "star*.txt", "what?",
                             "a/b",       "a\\b",  "plus+",  "semi;",     "comma,",
                             "eq=",       "br[",   "quo\"",  "col:on",    "lt<",
                             "pipe|"}) {
        auto shortName = fat::toShortName(name);
        EXPECT_FALSE(shortName.ok()) << name;
        if (*name) {
            EXPECT_NE(shortName.message().find(name), std::string::npos) << shortName.message();
        }
    }
}

}  // namespace

namespace {

// Two-sector clusters (720 KB): chains, padding of the last cluster and free space in
// whole clusters.
TEST(VolumeClusterTest, TwoSectorClustersReadBackThroughMtools) {
    MemoryDevice memory(1440);
    fat::FormatOptions options;
    options.serial = 3;
    options.clock = kWhen;
    ASSERT_TRUE(fat::format(memory, options).ok());
    auto volume = Volume::mount(memory);
    ASSERT_TRUE(volume.ok()) << volume.message();
    const std::size_t sizes[] = {1, 1024, 1025, 50000};
    std::uint8_t seed = 10;
    for (std::size_t size : sizes) {
        ASSERT_TRUE(
            volume->writeFile("S" + std::to_string(size), pattern(size, seed++), kWhen).ok());
    }
    ASSERT_TRUE(volume->removeFile("S1024").ok());
    ASSERT_TRUE(volume->writeFile("S1025", pattern(3000, 99), kWhen).ok());
    EXPECT_EQ(volume->freeBytes(), 730112u - (1 + 3 + 49) * 1024);
    fattools::TempDir dir;
    const std::string image = dir.file("dd.img");
    ASSERT_TRUE(fattools::saveImage(memory, image));
    const auto fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
    EXPECT_EQ(fattools::mdirFreeBytes(image), volume->freeBytes());
    EXPECT_EQ(fattools::mtype(image, "S1"), pattern(1, 10));
    EXPECT_EQ(fattools::mtype(image, "S1025"), pattern(3000, 99));
    EXPECT_EQ(fattools::mtype(image, "S50000"), pattern(50000, 13));
    EXPECT_EQ(*volume->readFile("S50000"), pattern(50000, 13));
}

}  // namespace
