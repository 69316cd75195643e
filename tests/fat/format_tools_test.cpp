// Formatting checked by tools we did not write: fsck.fat and mtools find each size, a label and
// marked bad sectors as the formatter meant them. Linux only, where the tools are.
#include <gtest/gtest.h>

#include <string>

#include "fat/fat12.h"
#include "fat/layout.h"
#include "format_fixture.h"
#include "support/failing_device.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace {

using fat::FailingDevice;
using fat::FormatOptions;
using fat::MemoryDevice;
using formattest::fatEntry;
using formattest::fixedOptions;

// Every diskette size: fsck.fat finds nothing, mdir shows an empty disk with all data clusters
// free, and the report's capacity and the space a build plans with agree.
TEST(FormatTest, EverySizeIsCleanAndEmptyForTheTools) {
    const struct {
        std::uint32_t sectors;
        std::uint64_t freeBytes;
    } sizes[] = {{720, 362496}, {1440, 730112}, {2400, 1213952}, {2880, 1457664}, {5760, 2931712}};
    fattools::TempDir dir;
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.sectors);
        MemoryDevice device(size.sectors);
        auto report = fat::format(device, fixedOptions());
        ASSERT_TRUE(report.ok()) << report.message();
        EXPECT_EQ(report->capacityBytes, size.freeBytes);
        EXPECT_EQ(fat::fileSpace(report->geometry).bytes, size.freeBytes);
        EXPECT_EQ(fat::fileSpace(report->geometry).clusterBytes,
                  report->geometry.sectorsPerCluster * fat::kSectorSize);
        EXPECT_TRUE(report->badSectors.empty());
        const std::string image = dir.file("f" + std::to_string(size.sectors) + ".img");
        ASSERT_TRUE(fattools::saveImage(device, image));
        const auto fsck = fattools::runFsck(image);
        EXPECT_TRUE(fsck.clean) << fsck.output;
        const auto names = fattools::mdirNames(image);
        ASSERT_TRUE(names.has_value());
        EXPECT_TRUE(names->empty());
        EXPECT_EQ(fattools::mdirFreeBytes(image), size.freeBytes);
        auto volume = fat::Volume::mount(device);
        ASSERT_TRUE(volume.ok()) << volume.message();
        EXPECT_EQ(volume->freeBytes(), size.freeBytes);
        EXPECT_TRUE(volume->list().empty());
    }
}

TEST(FormatTest, LabelGoesToBootSectorAndRootDirectory) {
    MemoryDevice device(2880);
    FormatOptions options = fixedOptions();
    options.label = "Crisis 1";
    ASSERT_TRUE(fat::format(device, options).ok());
    const auto& b = device.bytes();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[fat::boot::kLabel]), 11), "CRISIS 1   ");
    const std::size_t root = 19 * 512;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[root]), 11), "CRISIS 1   ");
    EXPECT_EQ(b[root + fat::dirent::kAttributes], fat::dirent::kAttrVolumeLabel);

    fattools::TempDir dir;
    ASSERT_TRUE(fattools::saveImage(device, dir.file("l.img")));
    const auto fsck = fattools::runFsck(dir.file("l.img"));
    EXPECT_TRUE(fsck.clean) << fsck.output;
    const auto out = fattools::runTool({"mdir", "-i", dir.file("l.img"), "::"});
    EXPECT_NE(out.output.find("Volume in drive : is CRISIS 1"), std::string::npos) << out.output;
    auto volume = fat::Volume::mount(device);
    ASSERT_TRUE(volume.ok());
    EXPECT_TRUE(volume->list().empty());  // the label is no file
}

TEST(FormatTest, FullFormatReportsBadSectorsAndMarksTheirClusters) {
    MemoryDevice memory(2880);
    FailingDevice device(memory);
    device.markBad(100);
    device.markBad(2879);
    FormatOptions options = fixedOptions();
    options.quick = false;
    auto report = fat::format(device, options);
    ASSERT_TRUE(report.ok()) << report.message();
    EXPECT_EQ(report->badSectors, (std::vector<std::uint32_t>{100, 2879}));
    EXPECT_EQ(report->capacityBytes, 1457664u - 2 * 512);
    // Sector 100 is cluster 100 - 33 + 2 = 69; the last sector is cluster 2848.
    EXPECT_EQ(fatEntry(memory.bytes(), 512, 69), 0xFF7);
    EXPECT_EQ(fatEntry(memory.bytes(), 512, 2848), 0xFF7);
    EXPECT_EQ(fatEntry(memory.bytes(), 512 + 9 * 512, 69), 0xFF7);
    EXPECT_EQ(fatEntry(memory.bytes(), 512, 70), 0);

    fattools::TempDir dir;
    ASSERT_TRUE(fattools::saveImage(memory, dir.file("bad.img")));
    const auto fsck = fattools::runFsck(dir.file("bad.img"));
    EXPECT_TRUE(fsck.clean) << fsck.output;
    EXPECT_EQ(fattools::mdirFreeBytes(dir.file("bad.img")), 1457664u - 2 * 512);
}

}  // namespace
