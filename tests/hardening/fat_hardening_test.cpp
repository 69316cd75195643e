// Diskettes whose root directory holds more than its end-of-directory mark admits: what the
// fuzzing of mount found, kept as readable cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fat/fat12.h"
#include "fat/layout.h"
#include "support/memory_device.h"

namespace {

constexpr std::size_t kRootStart =
    19 * fat::kSectorSize;  // 1.44 MB: boot sector, two 9-sector FATs

std::vector<std::string> names(const fat::Volume& volume) {
    std::vector<std::string> out;
    for (const fat::FileInfo& info : volume.list()) out.push_back(info.name);
    return out;
}

// A diskette whose first root entry was turned into the end mark: the entries after it are
// stale, and a new file in that slot must not bring them back.
TEST(StaleRootEntries, NewFileInTheEndMarkSlotKeepsLaterEntriesHidden) {
    fat::MemoryDevice device(2880);
    fat::FormatOptions options;
    options.serial = 1;
    options.clock = 1'000'000'000;
    ASSERT_TRUE(fat::format(device, options).ok());
    {
        auto volume = fat::Volume::mount(device);
        ASSERT_TRUE(volume.ok());
        ASSERT_TRUE(volume->writeFile("old.txt", std::vector<std::uint8_t>(100, 1), 0).ok());
        ASSERT_TRUE(volume->writeFile("stale.txt", std::vector<std::uint8_t>(100, 2), 0).ok());
    }
    device.bytes()[kRootStart + fat::dirent::kName] = fat::dirent::kEndMark;

    auto volume = fat::Volume::mount(device);
    ASSERT_TRUE(volume.ok());
    EXPECT_TRUE(names(*volume).empty());
    ASSERT_TRUE(volume->writeFile("new.txt", std::vector<std::uint8_t>(10, 3), 0).ok());
    EXPECT_EQ(names(*volume), std::vector<std::string>{"NEW.TXT"});
    auto again = fat::Volume::mount(device);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(names(*again), std::vector<std::string>{"NEW.TXT"});
    EXPECT_FALSE(again->find("stale.txt").has_value());
}

// The same where the end mark is the last entry of a root sector, so the mark moves into the
// next sector.
TEST(StaleRootEntries, EndMarkMovesAcrossASectorBoundary) {
    fat::MemoryDevice device(2880);
    fat::FormatOptions options;
    options.serial = 1;
    options.clock = 1'000'000'000;
    ASSERT_TRUE(fat::format(device, options).ok());
    {
        auto volume = fat::Volume::mount(device);
        ASSERT_TRUE(volume.ok());
        for (int i = 0; i < 17; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            ASSERT_TRUE(volume->writeFile(name, std::vector<std::uint8_t>(1, 1), 0).ok()) << name;
        }
    }
    // Entry 15 ends a sector; entry 16 (F16.TXT) opens the next and becomes stale.
    device.bytes()[kRootStart + 15 * fat::dirent::kSize] = fat::dirent::kEndMark;

    auto volume = fat::Volume::mount(device);
    ASSERT_TRUE(volume.ok());
    ASSERT_EQ(names(*volume).size(), 15u);
    ASSERT_TRUE(volume->writeFile("new.txt", std::vector<std::uint8_t>(10, 3), 0).ok());
    auto again = fat::Volume::mount(device);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(names(*again).size(), 16u);
    EXPECT_TRUE(again->find("new.txt").has_value());
    EXPECT_FALSE(again->find("f16.txt").has_value());
}

}  // namespace
