// The presence check, formatting through the shell's format call, and the boot-sector update,
// driven on the main dialog.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/messages.h"
#include "disk_prep_fixture.h"
#include "fat/fat12.h"
#include "fat/layout.h"
#include "framework/shell.h"
#include "platform/drive_format.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"
#include "ui/console/format_policy.h"

namespace {

using disktest::DiskPrepTest;
using platformtest::patternBytes;
using platformtest::readBytes;
using platformtest::writeBytes;
namespace fs = std::filesystem;

// ---- CheckFloppy ----

class CheckFloppyTest : public DiskPrepTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        DiskPrepTest::SetUp();
        selectPlatform(GetParam());
        makeImage();
    }
    bool biosBackEnd() const { return std::string(GetParam()) == "1"; }
};

TEST_P(CheckFloppyTest, ReadableAtOnceTakesOneRead) {
    EXPECT_EQ(dlg->CheckFloppy(), TRUE);
    EXPECT_EQ(hooks.reads, 1);
    EXPECT_TRUE(backend.messages().empty());
}

TEST_P(CheckFloppyTest, TwoFailuresThenSuccessTakeThreeReads) {
    hooks.failReads = 2;
    EXPECT_EQ(dlg->CheckFloppy(), TRUE);
    EXPECT_EQ(hooks.reads, 3);
    if (biosBackEnd()) {
        EXPECT_EQ(hooks.biosResets, 3) << "each attempt begins with a reset";
    }
    EXPECT_TRUE(backend.messages().empty());
}

TEST_P(CheckFloppyTest, ThreeFailuresShowTheMessageOnce) {
    hooks.failReads = 5;
    int readsWhenShown = -1;
    policy.beforeAnswer = [&] { readsWhenShown = hooks.reads; };
    EXPECT_EQ(dlg->CheckFloppy(), FALSE);
    EXPECT_EQ(readsWhenShown, 3) << "the message follows the third failure";
    EXPECT_EQ(hooks.reads, 3);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, texts::kNoFloppy);
    EXPECT_EQ(backend.messages()[0].type, 16u);
    EXPECT_EQ(backend.messages()[0].caption, "quenvol");
    EXPECT_EQ(hooks.writes, 0);
}

TEST_P(CheckFloppyTest, EmptyDriveShowsTheMessage) {
    fs::remove(driveImage());
    EXPECT_EQ(dlg->CheckFloppy(), FALSE);
    ASSERT_EQ(backend.messages().size(), 1u);
    EXPECT_EQ(backend.messages()[0].text, texts::kNoFloppy);
    EXPECT_FALSE(fs::exists(driveImage()));
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, CheckFloppyTest, ::testing::Values("2", "1"),
                         [](const auto& info) {
                             return std::string(info.param) == "1" ? "Bios" : "RawVolume";
                         });

// ---- UpdateBootSector ----

class UpdateBootSectorTest : public DiskPrepTest {
  protected:
    void SetUp() override {
        DiskPrepTest::SetUp();
        // A formatted 1.44 MB volume over patterned bytes, so that any stray write shows.
        fat::MemoryDevice device(patternBytes(1474560, 1));
        fat::FormatOptions options;
        options.serial = 0x2468ACE0;
        options.label = "VOLUME";
        ASSERT_TRUE(fat::format(device, options));
        writeBytes(driveImage(), device.bytes());
        m_before = readBytes(driveImage());
        // Leftovers of a copy step, which the update must clear.
        dlg->SetStatusText(texts::copying("BIOS.ROM").c_str());
        dlg->m_progress.SetPos(37);
        dlg->m_nProgressPos = 37;
        policy.statusTexts.clear();
    }
    // A boot-sector image for this volume: its jump and parameters (serial and label too), a
    // boot program of its own and the signature; `size` bytes in all.
    std::vector<std::uint8_t> bootImage(unsigned seed, std::size_t size = 512) const {
        auto image = patternBytes(std::max<std::size_t>(size, 512), seed);
        std::copy(m_before.begin(), m_before.begin() + fat::boot::kBootCode, image.begin());
        image[510] = 0x55;
        image[511] = 0xAA;
        image.resize(size);
        return image;
    }
    void expectStatusReset() {
        EXPECT_EQ(statusText(), "");
        EXPECT_EQ(dlg->m_progress.GetPos(), 0);
        EXPECT_EQ(dlg->m_nProgressPos, 1);
        EXPECT_EQ(backend.waitCursorShows(), 1);
        EXPECT_EQ(backend.waitCursorDepth(), 0);
        EXPECT_TRUE(backend.messages().empty());
    }
    // Sector 0 must be `sector`, and every other byte as before.
    void expectSectorZero(const std::vector<std::uint8_t>& sector) {
        const auto after = readBytes(driveImage());
        ASSERT_EQ(after.size(), m_before.size());
        EXPECT_TRUE(std::equal(sector.begin(), sector.end(), after.begin()));
        EXPECT_TRUE(std::equal(after.begin() + 512, after.end(), m_before.begin() + 512));
    }
    std::vector<std::uint8_t> m_before;
};

TEST_F(UpdateBootSectorTest, ImageOfExactlyOneSectorIsWrittenAsItIs) {
    const auto image = bootImage(9);
    writeBytes("crisboot.bin", image);
    std::string statusDuringWrite;
    hooks.onEachWrite = [&] { statusDuringWrite = statusText(); };
    EXPECT_EQ(dlg->UpdateBootSector(), TRUE);
    EXPECT_EQ(hooks.writes, 1);
    EXPECT_EQ(statusDuringWrite, texts::kUpdatingBootSector);
    EXPECT_EQ(policy.statusTexts, (std::vector<std::string>{texts::kUpdatingBootSector, ""}));
    expectSectorZero(image);
    EXPECT_EQ(dlg->m_written.bootSector, image) << "the sector the read-back will expect";
    expectStatusReset();
}

// The volume keeps its own serial number and label, so that the boot sector's label and the
// root directory's label entry agree.
TEST_F(UpdateBootSectorTest, TheVolumesSerialNumberAndLabelAreKept) {
    auto image = bootImage(5);
    std::copy_n("ANOTHER    ", 11, image.begin() + fat::boot::kLabel);
    std::fill_n(image.begin() + fat::boot::kSerial, 4, 0x11);
    writeBytes("crisboot.bin", image);
    EXPECT_EQ(dlg->UpdateBootSector(), TRUE);
    auto expected = image;
    std::copy_n(m_before.begin() + fat::boot::kSerial, 15, expected.begin() + fat::boot::kSerial);
    expectSectorZero(expected);
    const auto fsck = fattools::runFsck(driveImage().string());
    EXPECT_TRUE(fsck.clean) << fsck.output;
}

// Whatever is no boot sector for the volume on the diskette leaves sector 0 as it was: an
// empty or short image (no longer padded with zeros), a missing signature, or parameters of
// another layout.
TEST_F(UpdateBootSectorTest, ImagesThatDoNotFitTheVolumeAreRefused) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
        const char* why;
    };
    auto with = [this](std::size_t at, std::uint8_t value) {
        auto image = bootImage(3);
        image[at] = value;
        return image;
    };
    const std::vector<Case> cases = {
        {"empty", {}, "holds 0 bytes; a boot sector is 512"},
        {"short", bootImage(4, 100), "holds 100 bytes"},
        {"one byte short", bootImage(4, 511), "holds 511 bytes"},
        {"no signature", with(511, 0x00), "signature 0x55AA"},
        {"1 KB sectors", with(fat::boot::kBytesPerSector + 1, 0x04),
         "bytes a sector is 1024 in the image"},
        {"720 KB media byte", with(fat::boot::kMedia, 0xF9),
         "media byte is 249 in the image, 240 for"},
        {"720 KB FAT size", with(fat::boot::kSectorsPerFat, 3),
         "sectors a FAT is 3 in the image, 9 for"},
        {"2.88 MB clusters", with(fat::boot::kSectorsPerCluster, 2),
         "sectors a cluster is 2 in the image, 1 for"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes("crisboot.bin", c.image);
        hooks.writes = 0;
        backend.clearRecords();
        EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
        EXPECT_EQ(hooks.writes, 0);
        EXPECT_TRUE(readBytes(driveImage()) == m_before);
        EXPECT_EQ(dlg->m_outcome.kind, build::Outcome::Kind::BootSectorFailed);
        EXPECT_NE(dlg->m_outcome.detail.find(c.why), std::string::npos) << dlg->m_outcome.detail;
        EXPECT_TRUE(backend.messages().empty());
    }
}

// A longer file is no boot sector (a whole diskette's image, say): its first sector is not
// taken for one.
TEST_F(UpdateBootSectorTest, LongImageLeavesSectorZeroAlone) {
    writeBytes("CRISBOOT.BIN", bootImage(6, 513));  // found whatever the letter case
    EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
    EXPECT_EQ(hooks.writes, 0);
    EXPECT_TRUE(readBytes(driveImage()) == m_before);
    expectStatusReset();
}

TEST_F(UpdateBootSectorTest, MissingImageLeavesSectorZeroAlone) {
    EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
    EXPECT_EQ(hooks.writes, 0);
    EXPECT_TRUE(readBytes(driveImage()) == m_before);
    EXPECT_EQ(policy.statusTexts, (std::vector<std::string>{texts::kUpdatingBootSector, ""}));
    expectStatusReset();
}

TEST_F(UpdateBootSectorTest, FailedWriteReportsFalseQuietly) {
    writeBytes("crisboot.bin", bootImage(2));
    hooks.failWrites = true;
    EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
    EXPECT_EQ(hooks.writes, 1);
    EXPECT_TRUE(readBytes(driveImage()) == m_before);
    expectStatusReset();
}

// Written but never made durable: no boot sector either.
TEST_F(UpdateBootSectorTest, UnflushedWriteReportsFalseQuietly) {
    writeBytes("crisboot.bin", bootImage(2));
    struct NoFlush : platform::DriveFaults {
        bool allowFlush() override { return false; }
    } medium;
    const platform::ScopedDriveFaults faults(medium);
    EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
    EXPECT_EQ(hooks.writes, 1);
    expectStatusReset();
}

TEST_F(UpdateBootSectorTest, EmptyDriveReportsFalseQuietly) {
    writeBytes("crisboot.bin", bootImage(2));
    fs::remove(driveImage());
    EXPECT_EQ(dlg->UpdateBootSector(), FALSE);
    EXPECT_FALSE(fs::exists(driveImage()));
    expectStatusReset();
}

TEST_F(UpdateBootSectorTest, BiosBackEndWritesTheSameSector) {
    selectPlatform("1");
    const auto image = bootImage(11);
    writeBytes("crisboot.bin", image);
    EXPECT_EQ(dlg->UpdateBootSector(), TRUE);
    EXPECT_EQ(hooks.writes, 1);
    expectSectorZero(image);
    expectStatusReset();
}

// ---- FormatFloppy and the format-only kind ----

struct FormatCall {
    HWND owner;
    UINT drive;
    int updatesBefore;
};

TEST_F(DiskPrepTest, FormatFloppyOpensTheFormatDialogForDriveAOnce) {
    std::vector<FormatCall> calls;
    policy.onFormat = [&](HWND owner, UINT drive) {
        calls.push_back({owner, drive, backend.updates()});
    };
    dlg->FormatFloppy();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, dlg->m_hWnd);
    EXPECT_EQ(calls[0].drive, 0u);
    EXPECT_EQ(calls[0].updatesBefore, 0);
    EXPECT_EQ(backend.updates(), 1) << "the dialog is painted once the format dialog is gone";
    EXPECT_EQ(backend.formatCalls(), 1);
    EXPECT_EQ(statusText(), "");
    EXPECT_EQ(backend.waitCursorShows(), 0);
    EXPECT_TRUE(backend.messages().empty());
    // The shell library was given back: a second load starts from nothing.
    HMODULE shell = LoadLibraryA("shell32.dll");
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(FreeLibrary(shell), TRUE);
    EXPECT_EQ(FreeLibrary(shell), FALSE);
}

class FormatOnlyTest : public DiskPrepTest {
  protected:
    // Chooses the format-only kind and presses Start; the format dialog's stand-in takes the
    // focus away, as a modal window would.
    void startFormatOnly(console::FormatChoice choice) {
        auto format = console::makeFormatAction(std::move(choice), &outcome);
        policy.onFormat = [this, format](HWND owner, UINT drive) {
            format(owner, drive);
            afx::userSetFocus(control(IDC_BUTTON_CLOSE));
        };
        afx::userClick(control(IDC_RADIO_FORMAT));
        ASSERT_EQ(dlg->m_nDiskKind, 2);
        afx::userClick(control(IDC_START));
    }
    void expectDialogReady() {
        EXPECT_EQ(CWnd::GetFocus(), dlg->GetDlgItem(IDC_START));
        EXPECT_FALSE(dlg->HasEnded());
        for (int id : {IDC_START, IDC_BUTTON_CLOSE, IDC_RADIO_MINIDOS, IDC_RADIO_FULLDOS,
                       IDC_RADIO_FORMAT}) {
            EXPECT_TRUE(control(id)->enabled) << id;
        }
        EXPECT_EQ(hooks.reads, 0) << "no presence check for the format-only kind";
        EXPECT_EQ(backend.formatCalls(), 1);
        EXPECT_TRUE(backend.messages().empty());
    }
    void expectFormattedImage() {
        const auto fsck = fattools::runFsck(driveImage().string());
        EXPECT_TRUE(fsck.clean) << fsck.output;
        const auto names = fattools::mdirNames(driveImage().string());
        ASSERT_TRUE(names);
        EXPECT_TRUE(names->empty());
        EXPECT_EQ(fattools::mdirFreeBytes(driveImage().string()), 1457664u);
    }
    console::FormatOutcome outcome;
};

TEST_F(FormatOnlyTest, QuickFormatThroughStart) {
    makeImage();
    startFormatOnly({console::FormatChoice::Action::Quick, "rescue"});
    EXPECT_EQ(outcome.formatted, 1) << outcome.error;
    ASSERT_TRUE(outcome.report);
    EXPECT_EQ(outcome.report->capacityBytes, 1457664u);
    EXPECT_EQ(console::describeOutcome(outcome),
              "Format complete: 1,457,664 bytes available on the diskette.");
    expectDialogReady();
    expectFormattedImage();
}

TEST_F(FormatOnlyTest, FullFormatThroughStart) {
    makeImage();
    startFormatOnly({console::FormatChoice::Action::Full, ""});
    EXPECT_EQ(outcome.formatted, 1) << outcome.error;
    expectDialogReady();
    expectFormattedImage();
    const auto bytes = readBytes(driveImage());
    EXPECT_TRUE(
        std::all_of(bytes.begin() + 33 * 512, bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(FormatOnlyTest, EmptyDriveGetsNoMessageFromTheProgram) {
    startFormatOnly({console::FormatChoice::Action::Quick, ""});
    EXPECT_EQ(outcome.shown, 1);
    EXPECT_EQ(outcome.formatted, 0);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.errorKind, base::Failure::NoMedium);
    EXPECT_EQ(outcome.error.rfind("There is no diskette in drive A:", 0), 0u) << outcome.error;
    EXPECT_EQ(console::describeOutcome(outcome), outcome.error);
    expectDialogReady();
    EXPECT_FALSE(fs::exists(driveImage()));
}

TEST_F(FormatOnlyTest, SkippingLeavesTheDisketteAsItIs) {
    makeImage();
    const auto before = readBytes(driveImage());
    startFormatOnly({console::FormatChoice::Action::Skip, ""});
    EXPECT_TRUE(outcome.skipped);
    EXPECT_EQ(outcome.formatted, 0);
    EXPECT_EQ(console::describeOutcome(outcome), "The diskette in drive A: was left as it was.");
    expectDialogReady();
    EXPECT_TRUE(readBytes(driveImage()) == before);
}

TEST_F(FormatOnlyTest, RefusedMediaAreLeftUnchanged) {
    const auto tenMegabytes = patternBytes(10 * 1024 * 1024, 7);
    writeBytes(driveImage(), tenMegabytes);
    startFormatOnly({console::FormatChoice::Action::Full, ""});
    EXPECT_EQ(outcome.error.rfind("Drive A: does not hold a diskette", 0), 0u) << outcome.error;
    EXPECT_NE(outcome.error.find("10,485,760 bytes"), std::string::npos) << outcome.error;
    EXPECT_TRUE(readBytes(driveImage()) == tenMegabytes);
    expectDialogReady();
}

TEST(FormatPolicyTest, OnlyDriveAIsFormatted) {
    console::FormatOutcome outcome;
    auto format = console::makeFormatAction({console::FormatChoice::Action::Quick, ""}, &outcome);
    format(nullptr, 1);
    EXPECT_EQ(outcome.shown, 1);
    EXPECT_EQ(outcome.formatted, 0);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error, "Only drive A: can be formatted; drive number 1 was asked for.");
    EXPECT_EQ(console::describeOutcome(console::FormatOutcome{}),
              "The diskette was not formatted.");
}

}  // namespace
