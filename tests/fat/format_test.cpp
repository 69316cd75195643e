// Formatting: the layout of each diskette size, the golden image, the full format's check of
// every sector and devices that fail. The checks by fsck.fat and mtools are in
// format_tools_test.cpp; this suite needs no tool and runs on Windows too.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "fat/endian.h"
#include "fat/fat12.h"
#include "fat/layout.h"
#include "format_fixture.h"
#include "support/failing_device.h"
#include "support/memory_device.h"
#include "support/test_files.h"

namespace {

using fat::FailingDevice;
using fat::FormatOptions;
using fat::MemoryDevice;
using formattest::fatEntry;
using formattest::fixedOptions;
using formattest::kClock;
using formattest::kSerial;

TEST(GeometryTest, HighDensityDisketteHasTheStandardLayout) {
    auto g = fat::geometryForSize(1474560);
    ASSERT_TRUE(g.ok()) << g.message();
    EXPECT_EQ(g->totalSectors, 2880u);
    EXPECT_EQ(g->sectorsPerTrack, 18);
    EXPECT_EQ(g->heads, 2);
    EXPECT_EQ(g->sectorsPerCluster, 1);
    EXPECT_EQ(g->reservedSectors, 1);
    EXPECT_EQ(g->fatCount, 2);
    EXPECT_EQ(g->sectorsPerFat, 9);
    EXPECT_EQ(g->rootEntries, 224);
    EXPECT_EQ(g->media, 0xF0);
}

TEST(GeometryTest, OtherSizesFailNamingTheSize) {
    for (std::uint64_t bytes : {0ull, 512ull, 1474048ull, 1474561ull, 2949121ull, 10485760ull}) {
        auto g = fat::geometryForSize(bytes);
        EXPECT_FALSE(g.ok()) << bytes;
        EXPECT_NE(g.message().find(std::to_string(bytes)), std::string::npos) << g.message();
    }
}

TEST(FormatTest, BootSectorFieldsAndEmptyFats) {
    MemoryDevice device(2880);
    ASSERT_TRUE(fat::format(device, fixedOptions()).ok());
    const auto& b = device.bytes();
    EXPECT_EQ(b[0], 0xEB);
    EXPECT_EQ(b[1], 0x3C);
    EXPECT_EQ(b[2], 0x90);
    EXPECT_EQ(fat::load16(&b[fat::boot::kBytesPerSector]), 512);
    EXPECT_EQ(fat::load16(&b[fat::boot::kTotalSectors16]), 2880);
    EXPECT_EQ(fat::load32(&b[fat::boot::kHiddenSectors]), 0u);
    EXPECT_EQ(b[fat::boot::kDriveNumber], 0);
    EXPECT_EQ(b[fat::boot::kExtSignature], 0x29);
    EXPECT_EQ(fat::load32(&b[fat::boot::kSerial]), kSerial);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[fat::boot::kLabel]), 11), "NO NAME    ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[fat::boot::kFsType]), 8), "FAT12   ");
    EXPECT_EQ(b[510], 0x55);
    EXPECT_EQ(b[511], 0xAA);
    const std::string code(reinterpret_cast<const char*>(&b[fat::boot::kBootCode]), 448);
    EXPECT_NE(code.find("Non-system disk. Replace the disk and press any key."), std::string::npos);
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
        const std::size_t fat = (1 + copy * 9) * 512;
        EXPECT_EQ(b[fat], 0xF0);
        EXPECT_EQ(b[fat + 1], 0xFF);
        EXPECT_EQ(b[fat + 2], 0xFF);
        EXPECT_TRUE(std::all_of(b.begin() + fat + 3, b.begin() + fat + 9 * 512,
                                [](std::uint8_t x) { return x == 0; }));
    }
    // Root directory and data area: all zero.
    EXPECT_TRUE(std::all_of(b.begin() + 19 * 512, b.end(), [](std::uint8_t x) { return x == 0; }));
}

TEST(FormatTest, BadLabelsFailBeforeWriting) {
    // Bytes over 0x7F are refused, so a label never begins with 0xE5, a free entry's mark.
    for (const char* label : {"TWELVE CHARS", "A.B", " LEAD", "STAR*",
                              "\xE5"
                              "BC",
                              "CAF\xC9"}) {
        MemoryDevice device(2880);
        FormatOptions options = fixedOptions();
        options.label = label;
        auto report = fat::format(device, options);
        EXPECT_FALSE(report.ok()) << label;
        EXPECT_TRUE(std::all_of(device.bytes().begin(), device.bytes().end(),
                                [](std::uint8_t x) { return x == 0; }));
    }
}

TEST(FormatTest, SerialComesFromTheClockWhenNotGiven) {
    MemoryDevice a(2880), b(2880);
    FormatOptions options;
    options.clock = kClock;
    ASSERT_TRUE(fat::format(a, options).ok());
    options.clock = kClock + 1;
    ASSERT_TRUE(fat::format(b, options).ok());
    EXPECT_NE(fat::load32(&a.bytes()[fat::boot::kSerial]),
              fat::load32(&b.bytes()[fat::boot::kSerial]));
}

// A quick format writes the root directory, then the boot sector and FATs, and leaves the
// data area as it was.
TEST(FormatTest, QuickFormatWritesOnlyTheSystemArea) {
    MemoryDevice memory(2880);
    std::fill(memory.bytes().begin(), memory.bytes().end(), 0xAA);
    FailingDevice device(memory);
    ASSERT_TRUE(fat::format(device, fixedOptions()).ok());
    EXPECT_EQ(device.writeCalls(), 2u);
    EXPECT_EQ(device.flushCalls(), 2u);
    EXPECT_EQ(device.sectorsWritten(), 33u);
    EXPECT_EQ(memory.bytes()[33 * 512], 0xAA);
    EXPECT_EQ(memory.bytes().back(), 0xAA);
}

TEST(FormatTest, FullFormatClearsAndChecksEverySector) {
    MemoryDevice memory(2880);
    std::fill(memory.bytes().begin(), memory.bytes().end(), 0xAA);
    FailingDevice device(memory);
    FormatOptions options = fixedOptions();
    options.quick = false;
    std::uint32_t lastDone = 0, calls = 0;
    options.progress = [&](std::uint32_t done, std::uint32_t all) {
        EXPECT_EQ(all, 2880u);
        EXPECT_GT(done, lastDone);
        lastDone = done;
        ++calls;
    };
    auto report = fat::format(device, options);
    ASSERT_TRUE(report.ok()) << report.message();
    EXPECT_EQ(lastDone, 2880u);
    EXPECT_GT(calls, 1u);
    EXPECT_GE(device.sectorsRead(), 2880u);
    EXPECT_TRUE(std::all_of(memory.bytes().begin() + 33 * 512, memory.bytes().end(),
                            [](std::uint8_t x) { return x == 0; }));
    MemoryDevice quick(2880);
    ASSERT_TRUE(fat::format(quick, fixedOptions()).ok());
    EXPECT_EQ(memory.bytes(), quick.bytes());
}

TEST(FormatTest, BadSectorInTheSystemAreaFailsTheFormat) {
    MemoryDevice memory(2880);
    FailingDevice device(memory);
    device.markBad(5);
    FormatOptions options = fixedOptions();
    options.quick = false;
    auto report = fat::format(device, options);
    ASSERT_FALSE(report.ok());
    EXPECT_NE(report.message().find("sector 5 of the boot sector"), std::string::npos)
        << report.message();
    EXPECT_NE(report.message().find("write of sector 5 failed"), std::string::npos)
        << report.message();
}

// A medium that takes every write without complaint but, for some sectors, gives back other
// bytes than it was given: only reading the medium back shows them.
class ForgetfulDevice final : public fat::SectorDevice {
  public:
    ForgetfulDevice(MemoryDevice& inner, std::set<std::uint32_t> forgets)
        : m_inner(inner), m_forgets(std::move(forgets)) {}
    std::uint32_t sectorCount() const override { return m_inner.sectorCount(); }
    base::Status read(std::uint32_t first, std::uint32_t count, std::uint8_t* out) override {
        base::Status s = m_inner.read(first, count, out);
        for (std::uint32_t n : m_forgets)
            if (n >= first && n < first + count) out[(n - first) * 512 + 17] ^= 0x40;
        return s;
    }
    base::Status write(std::uint32_t first, std::uint32_t count, const std::uint8_t* in) override {
        return m_inner.write(first, count, in);
    }
    base::Status flush() override { return base::Status::success(); }

  private:
    MemoryDevice& m_inner;
    std::set<std::uint32_t> m_forgets;
};

TEST(FormatTest, FullFormatFindsSectorsThatReadBackWrong) {
    struct Case {
        std::set<std::uint32_t> forgets;
        std::vector<std::uint32_t> bad;  // set aside; none when the format must fail
    };
    for (const Case& c : {Case{{100, 2879}, {100, 2879}}, Case{{5}, {}}}) {
        MemoryDevice memory(2880);
        ForgetfulDevice device(memory, c.forgets);
        FormatOptions options = fixedOptions();
        options.quick = false;
        auto report = fat::format(device, options);
        if (c.bad.empty()) {
            ASSERT_FALSE(report.ok());
            EXPECT_NE(report.message().find("sector 5 read back wrong"), std::string::npos)
                << report.message();
            continue;
        }
        ASSERT_TRUE(report.ok()) << report.message();
        EXPECT_EQ(report->badSectors, c.bad);
        EXPECT_EQ(fatEntry(memory.bytes(), 512, 69), 0xFF7);  // sector 100
        EXPECT_EQ(fatEntry(memory.bytes(), 512, 2848), 0xFF7);
    }
}

TEST(FormatTest, WriteProtectedDisketteFailsAtOnceWithTheDeviceMessage) {
    MemoryDevice memory(2880);
    FailingDevice device(memory);
    device.failAfterSectorsWritten(0);
    FormatOptions options = fixedOptions();
    options.quick = false;
    bool progressed = false;
    options.progress = [&](std::uint32_t, std::uint32_t) { progressed = true; };
    auto report = fat::format(device, options);
    ASSERT_FALSE(report.ok());
    EXPECT_NE(report.message().find("sector 0 "), std::string::npos) << report.message();
    EXPECT_FALSE(progressed);
    EXPECT_LE(device.writeCalls(), 19u);  // the first track, then each of its sectors
}

// A device that gives out part way never yields a successful format.
TEST(FormatTest, DeviceFailingAfterNSectorsGivesAFailure) {
    for (auto mode : {FailingDevice::Mode::Fail, FailingDevice::Mode::Stop}) {
        for (bool quick : {true, false}) {
            const std::uint32_t needed = quick ? 33 : 2880 + 33;
            for (std::uint32_t n : {0u, 1u, 18u, 32u, 34u, 1000u, 2879u, 2880u, needed - 1}) {
                if (n >= needed) continue;
                SCOPED_TRACE(testing::Message() << "quick " << quick << " after " << n);
                MemoryDevice memory(2880);
                FailingDevice device(memory);
                device.failAfterSectorsWritten(n, mode);
                FormatOptions options = fixedOptions();
                options.quick = quick;
                auto report = fat::format(device, options);
                EXPECT_FALSE(report.ok());
                EXPECT_FALSE(report.message().empty());
            }
            MemoryDevice memory(2880);
            FailingDevice device(memory);
            device.failAfterSectorsWritten(needed, mode);
            FormatOptions options = fixedOptions();
            options.quick = quick;
            EXPECT_TRUE(fat::format(device, options).ok());
        }
    }
}

TEST(FormatTest, MediumOfNoDisketteSizeIsRefused) {
    MemoryDevice device(2000);
    auto report = fat::format(device, fixedOptions());
    ASSERT_FALSE(report.ok());
    EXPECT_NE(report.message().find("1024000"), std::string::npos) << report.message();
}

// The system area of a quick format with fixed serial and clock, byte for byte; the rest of
// the image is zero. Compared against tests/fat/golden/format_1440.bin.
TEST(FormatTest, GoldenImage) {
    MemoryDevice device(2880);
    ASSERT_TRUE(fat::format(device, fixedOptions()).ok());
    const auto golden =
        fattools::readBytes(std::string(QUENVOL_SOURCE_DIR) + "/tests/fat/golden/format_1440.bin");
    ASSERT_TRUE(golden.has_value());
    ASSERT_EQ(golden->size(), 33u * 512);
    EXPECT_TRUE(std::equal(golden->begin(), golden->end(), device.bytes().begin()));
    EXPECT_TRUE(std::all_of(device.bytes().begin() + 33 * 512, device.bytes().end(),
                            [](std::uint8_t x) { return x == 0; }));
}

}  // namespace
