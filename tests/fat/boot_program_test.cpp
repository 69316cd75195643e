// The boot program of a freshly formatted diskette, run in an emulated PC: it must say on
// the serial port that the diskette holds no system.
#include <gtest/gtest.h>

#include "fat/fat12.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace {

TEST(BootProgramTest, FormattedDisketteSaysItHoldsNoSystem) {
    fat::MemoryDevice device(2880);
    fat::FormatOptions options;
    options.serial = 7;
    options.clock = 1700000000;
    options.label = "BOOTTEST";
    ASSERT_TRUE(fat::format(device, options).ok());
    fattools::TempDir dir;
    const std::string image = dir.file("boot.img");
    ASSERT_TRUE(fattools::saveImage(device, image));
    const auto run =
        fattools::runTool({"sh", std::string(QUENVOL_SOURCE_DIR) + "/scripts/boot-test.sh", image,
                           "Non-system disk. Replace the disk and press any key.", "60"},
                          90);
    if (run.exitCode == 2) GTEST_SKIP() << "no emulator: " << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

}  // namespace
