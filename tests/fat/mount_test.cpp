// Mounting: each bad boot-sector field is refused with its own message, and no content of
// the medium makes mount, list or read crash or read past the tables.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/layout.h"
#include "support/memory_device.h"

namespace {

using fat::MemoryDevice;
using fat::Volume;
namespace boot = fat::boot;

MemoryDevice formatted() {
    MemoryDevice device(2880);
    fat::FormatOptions options;
    options.serial = 1;
    options.clock = 1700000000;
    EXPECT_TRUE(fat::format(device, options).ok());
    return device;
}

struct Corruption {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> apply;
    const char* message;  // part of the expected failure message
};

TEST(MountTest, EachBadFieldHasItsOwnMessage) {
    const std::vector<Corruption> cases = {
        {"signature", [](auto& b) { b[510] = 0; }, "signature"},
        {"sector size", [](auto& b) { fat::store16(&b[boot::kBytesPerSector], 1024); },
         "bytes per sector is 1024"},
        {"zero per cluster", [](auto& b) { b[boot::kSectorsPerCluster] = 0; },
         "sectors per cluster is 0"},
        {"per cluster not power", [](auto& b) { b[boot::kSectorsPerCluster] = 3; },
         "not a power of two"},
        {"no reserved", [](auto& b) { fat::store16(&b[boot::kReservedSectors], 0); }, "reserved"},
        {"no FATs", [](auto& b) { b[boot::kFatCount] = 0; }, "number of FATs is 0"},
        {"zero per FAT", [](auto& b) { fat::store16(&b[boot::kSectorsPerFat], 0); },
         "sectors per FAT is 0"},
        {"FAT too small", [](auto& b) { fat::store16(&b[boot::kSectorsPerFat], 2); },
         "cannot hold"},
        {"root not whole sectors", [](auto& b) { fat::store16(&b[boot::kRootEntries], 225); },
         "root directory entries 225"},
        {"no root", [](auto& b) { fat::store16(&b[boot::kRootEntries], 0); },
         "root directory entries 0"},
        {"too many sectors", [](auto& b) { fat::store16(&b[boot::kTotalSectors16], 2881); },
         "exceed the medium"},
        {"32-bit total too large",
         [](auto& b) {
             fat::store16(&b[boot::kTotalSectors16], 0);
             fat::store32(&b[boot::kTotalSectors32], 0xFFFFFFFF);
         },
         "exceed the medium"},
        {"no data area", [](auto& b) { fat::store16(&b[boot::kTotalSectors16], 33); },
         "no data area"},
        {"media invalid", [](auto& b) { b[boot::kMedia] = 0x12; }, "media descriptor 0x12"},
        {"media against FAT", [](auto& b) { b[boot::kMedia] = 0xF9; }, "does not match"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryDevice device = formatted();
        c.apply(device.bytes());
        auto volume = Volume::mount(device);
        ASSERT_FALSE(volume.ok());
        EXPECT_NE(volume.message().find(c.message), std::string::npos) << volume.message();
        EXPECT_EQ(volume.kind(), base::Failure::BadData);
    }
}

TEST(MountTest, TooManyClustersForFat12IsRefused) {
    // 5760 sectors with one sector per cluster and large FATs: 5700 clusters.
    MemoryDevice device(5760);
    fat::FormatOptions options;
    options.serial = 1;
    options.clock = 0;
    ASSERT_TRUE(fat::format(device, options).ok());
    auto& b = device.bytes();
    b[boot::kSectorsPerCluster] = 1;
    fat::store16(&b[boot::kSectorsPerFat], 17);
    auto volume = Volume::mount(device);
    ASSERT_FALSE(volume.ok());
    EXPECT_NE(volume.message().find("too many for FAT12"), std::string::npos) << volume.message();
}

TEST(MountTest, EmptyOrShortMediumIsRefused) {
    MemoryDevice empty(std::uint32_t{0});
    EXPECT_FALSE(Volume::mount(empty).ok());
    MemoryDevice zeros(2880);
    auto volume = Volume::mount(zeros);
    ASSERT_FALSE(volume.ok());
    EXPECT_NE(volume.message().find("signature"), std::string::npos);
}

TEST(MountTest, DamagedChainsFailReadsInsteadOfLooping) {
    MemoryDevice device = formatted();
    {
        auto volume = Volume::mount(device);
        ASSERT_TRUE(volume.ok());
        ASSERT_TRUE(volume->writeFile("LOOP", std::vector<std::uint8_t>(3000, 7), 0).ok());
        ASSERT_TRUE(volume->writeFile("SHORT", std::vector<std::uint8_t>(3000, 8), 0).ok());
    }
    auto& b = device.bytes();
    // LOOP is clusters 2..7: point 7 back at 2. SHORT is 8..13: end it at 9.
    auto setEntry = [&](std::uint32_t n, std::uint16_t v) {
        std::uint8_t* p = &b[512 + n + n / 2];
        if (n & 1) {
            p[0] = static_cast<std::uint8_t>((p[0] & 0x0F) | (v << 4));
            p[1] = static_cast<std::uint8_t>(v >> 4);
        } else {
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>((p[1] & 0xF0) | (v >> 8));
        }
    };
    setEntry(7, 2);
    setEntry(9, 0xFFF);
    auto volume = Volume::mount(device);
    ASSERT_TRUE(volume.ok());
    auto loop = volume->readFile("LOOP");
    EXPECT_FALSE(loop.ok());
    EXPECT_NE(loop.message().find("broken"), std::string::npos) << loop.message();
    auto shortFile = volume->readFile("SHORT");
    EXPECT_FALSE(shortFile.ok());
    EXPECT_FALSE(volume->removeFile("LOOP").ok());
    EXPECT_FALSE(volume->writeFile("LOOP", {}, 0).ok());
}

// Random damage to the boot sector, FAT and root directory: whatever mount accepts, listing,
// reading, writing and removing must stay within the medium (run under the sanitizers).
TEST(MountTest, RandomDamageNeverCrashes) {
    MemoryDevice base = formatted();
    {
        auto volume = Volume::mount(base);
        ASSERT_TRUE(volume.ok());
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(
                volume
                    ->writeFile("F" + std::to_string(i), std::vector<std::uint8_t>(1500 * i, 1), 0)
                    .ok());
        }
    }
    std::mt19937 random(12345);
    int mounted = 0;
    for (int round = 0; round < 600; ++round) {
        MemoryDevice device(base.bytes());
        auto& b = device.bytes();
        const int flips = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < flips; ++i) {
            // Mostly the boot parameters, the FAT start and the first root entries.
            const std::size_t regions[][2] = {{0x0B, 0x26}, {512, 600}, {19 * 512, 19 * 512 + 256}};
            const auto& r = regions[random() % 3];
            b[r[0] + random() % (r[1] - r[0])] = static_cast<std::uint8_t>(random());
        }
        auto volume = Volume::mount(device);
        if (!volume.ok()) {
            EXPECT_FALSE(volume.message().empty());
            continue;
        }
        ++mounted;
        for (const auto& file : volume->list()) {
            (void)volume->readFile(file.name);
        }
        (void)volume->freeBytes();
        (void)volume->writeFile("NEW.BIN", std::vector<std::uint8_t>(2000, 3), 0);
        (void)volume->removeFile("F3");
        EXPECT_EQ(device.sectorCount(), 2880u);
    }
    EXPECT_GT(mounted, 0);
}

}  // namespace
