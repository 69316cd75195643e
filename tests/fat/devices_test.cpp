// The memory device and the failing wrapper that other tests build on.
#include <gtest/gtest.h>

#include "support/failing_device.h"
#include "support/memory_device.h"
#include "support/test_files.h"

namespace {

using fat::FailingDevice;
using fat::MemoryDevice;

std::vector<std::uint8_t> filled(std::uint32_t sectors, std::uint8_t value) {
    return std::vector<std::uint8_t>(std::size_t{sectors} * fat::kSectorSize, value);
}

TEST(MemoryDeviceTest, TransfersWithinTheImageAndRefusesPastItsEnd) {
    MemoryDevice device(10);
    EXPECT_EQ(device.sectorCount(), 10u);
    ASSERT_TRUE(device.write(8, 2, filled(2, 0x5A).data()).ok());
    std::vector<std::uint8_t> back(2 * fat::kSectorSize);
    ASSERT_TRUE(device.read(8, 2, back.data()).ok());
    EXPECT_EQ(back, filled(2, 0x5A));
    EXPECT_EQ(device.bytes()[8 * 512 - 1], 0);
    EXPECT_FALSE(device.write(9, 2, filled(2, 1).data()).ok());
    EXPECT_FALSE(device.read(0xFFFFFFFF, 2, back.data()).ok());
    EXPECT_EQ(device.bytes().back(), 0x5A);  // the refused write left the image alone
}

TEST(MemoryDeviceTest, ImageFileRoundTripDropsAPartialSector) {
    std::vector<std::uint8_t> bytes = filled(3, 7);
    bytes.push_back(1);
    MemoryDevice device(bytes);
    EXPECT_EQ(device.sectorCount(), 3u);
    fattools::TempDir dir;
    ASSERT_TRUE(device.saveFile(dir.file("x.img")).ok());
    auto loaded = MemoryDevice::loadFile(dir.file("x.img"));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded->bytes(), filled(3, 7));
    EXPECT_FALSE(MemoryDevice::loadFile(dir.file("missing.img")).ok());
}

TEST(FailingDeviceTest, WriteCrossingTheLimitStoresTheSectorsBelowIt) {
    MemoryDevice memory(10);
    FailingDevice device(memory);
    device.failAfterSectorsWritten(3);
    EXPECT_TRUE(device.write(0, 2, filled(2, 1).data()).ok());
    EXPECT_FALSE(device.write(2, 4, filled(4, 2).data()).ok());
    EXPECT_EQ(memory.bytes()[2 * 512], 2);
    EXPECT_EQ(memory.bytes()[3 * 512], 0);
    EXPECT_FALSE(device.write(5, 1, filled(1, 3).data()).ok());
    std::vector<std::uint8_t> back(512);
    EXPECT_TRUE(device.read(0, 1, back.data()).ok());  // Fail mode still reads
    EXPECT_EQ(device.writeCalls(), 3u);
    EXPECT_EQ(device.sectorsWritten(), 3u);
    EXPECT_EQ(device.readCalls(), 1u);
}

TEST(FailingDeviceTest, StopModeFailsEverythingAfterTheLimitIsCrossed) {
    MemoryDevice memory(10);
    FailingDevice device(memory);
    device.failAfterSectorsWritten(2, FailingDevice::Mode::Stop);
    std::vector<std::uint8_t> back(512);
    EXPECT_TRUE(device.write(0, 2, filled(2, 1).data()).ok());
    EXPECT_TRUE(device.read(0, 1, back.data()).ok());  // exactly at the limit: still there
    EXPECT_TRUE(device.flush().ok());
    EXPECT_FALSE(device.write(2, 1, filled(1, 1).data()).ok());
    EXPECT_FALSE(device.read(0, 1, back.data()).ok());
    EXPECT_FALSE(device.flush().ok());
    device.heal();
    EXPECT_TRUE(device.read(0, 1, back.data()).ok());
}

TEST(FailingDeviceTest, BadSectorsFailReadsAndWritesThatTouchThem) {
    MemoryDevice memory(10);
    FailingDevice device(memory);
    device.markBad(4);
    std::vector<std::uint8_t> back(3 * 512);
    EXPECT_FALSE(device.write(3, 3, filled(3, 9).data()).ok());
    EXPECT_EQ(memory.bytes()[3 * 512], 9);  // sector 3 was written before the bad one
    EXPECT_EQ(memory.bytes()[5 * 512], 0);
    EXPECT_FALSE(device.read(2, 3, back.data()).ok());
    EXPECT_TRUE(device.read(5, 3, back.data()).ok());
    EXPECT_TRUE(device.write(5, 1, filled(1, 9).data()).ok());
}

}  // namespace
