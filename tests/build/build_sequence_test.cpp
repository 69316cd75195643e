// Whole builds through the Start button: the diskette image that results, every message the
// user sees, the status line and progress bar, and the start directory afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>

#include "build/build_fixture.h"
#include "fat/fat12.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"
#include "support/test_files.h"

namespace {

using buildtest::BuildHarness;
using buildtest::Bytes;
using buildtest::kDisketteBytes;
using buildtest::Strings;
namespace fs = std::filesystem;

class BuildSequence : public BuildHarness {
  protected:
    std::string confirmation() const { return texts::confirmProject(projectDir().string()); }
    // A status text as the recorder lists it, with the progress position at that moment.
    static std::string copyingAt(const char* name, int pos) {
        return texts::copying(name) + "@" + std::to_string(pos);
    }
    static std::string bootSectorAt(int pos) {
        return texts::kUpdatingBootSector + ("@" + std::to_string(pos));
    }
    static std::string readingBackAt(int pos) {
        return texts::kReadingBack + ("@" + std::to_string(pos));
    }
    bool inStartDir(const char* name) const { return fs::exists(startDir() / name); }
};

// The user's own vgabios.exe in the start directory, used because the project has none, is
// no staged copy: a complete build leaves it where it was.
TEST_F(BuildSequence, CompleteBuildDeletesOnlyWhatItStaged) {
    useSampleKit();
    useSampleProject();
    fs::remove(projectDir() / "vgabios.exe");
    const Bytes own(3000, 0x5A);
    putBytes(startDir() / "vgabios.exe", own);
    blankDiskette();
    startBuild(0, {IDYES, IDOK, IDYES});

    ASSERT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                         {"PLATFORM.BIN", projectDir() / "platform.bin"},
                         {"VGABIOS.EXE", startDir() / "vgabios.exe"},
                         {"BIOS.ROM", projectDir() / "testQ7A.rom"}});
    EXPECT_EQ(fileBytes(startDir() / "vgabios.exe"), own);
    EXPECT_FALSE(inStartDir("platform.bin"));
    EXPECT_FALSE(inStartDir("bios.rom"));
}

TEST_F(BuildSequence, MinidosBuildFromTheSampleProject) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    startBuild(0, {IDYES, IDOK, IDYES});

    ASSERT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_EQ(backend().messages()[0].type, 36u);
    EXPECT_EQ(backend().messages()[1].type, 48u);
    EXPECT_EQ(backend().messages()[2].type, 36u);
    EXPECT_EQ(backend().messages()[1].caption, "quenvol");
    EXPECT_EQ(m_format.formatted, 1);

    // The test image wins over the development image; sector 0 is the kit's boot sector.
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                         {"PLATFORM.BIN", projectDir() / "platform.bin"},
                         {"VGABIOS.EXE", projectDir() / "vgabios.exe"},
                         {"BIOS.ROM", projectDir() / "testQ7A.rom"}});
    EXPECT_EQ(fattools::withoutVolumeIdentity(sector0()),
              fattools::withoutVolumeIdentity(fileBytes(startDir() / "crisboot.bin")));

    // Each file's share of 90,988 bytes is added before it is copied.
    EXPECT_EQ(recorder().events,
              (Strings{"bar=1", copyingAt("minidos.sys", 1), "bar=1", copyingAt("zyplet.exe", 1),
                       "bar=7", copyingAt("platform.bin", 7), "bar=8", copyingAt("vgabios.exe", 8),
                       "bar=13", copyingAt("bios.rom", 13), "bar=49", "bar=0", bootSectorAt(1),
                       "bar=0", readingBackAt(1), "bar=0"}));

    // The staged copies are gone, the kit's own files stay.
    EXPECT_FALSE(inStartDir("platform.bin"));
    EXPECT_FALSE(inStartDir("vgabios.exe"));
    EXPECT_FALSE(inStartDir("bios.rom"));
    EXPECT_TRUE(inStartDir("minidos.sys"));
    EXPECT_TRUE(inStartDir("zyplet.exe"));
    EXPECT_FALSE(dialog().m_bFilesInStartDir);
    EXPECT_EQ(dialog().m_strPartNum, "Q7A");

    // Yes to another diskette: everything enabled again, the focus on Start.
    EXPECT_FALSE(dialogDestroyed());
    for (int id : {IDC_START, IDC_BUTTON_CLOSE, IDC_RADIO_MINIDOS, IDC_RADIO_FULLDOS,
                   IDC_RADIO_FORMAT, IDC_BUTTON_BROWSE, IDC_COMBO_PATH}) {
        EXPECT_TRUE(controlEnabled(id)) << id;
    }
    EXPECT_TRUE(hasFocus(IDC_START));
    EXPECT_EQ(backend().waitCursorDepth(), 0);
    EXPECT_EQ(control(IDC_EDIT_STATUS)->text, "");
    EXPECT_EQ(control(IDC_PROGRESS)->pos, 0);
    EXPECT_EQ(dialog().m_nProgressPos, 1);

    // The next build finds nothing in the start directory and asks about the folder again.
    backend().clearRecords();
    policy().answers = {IDNO};
    click(IDC_START);
    EXPECT_EQ(messageTexts(), Strings{confirmation()});
}

TEST_F(BuildSequence, FulldosKeepsTheBootSectorFormattingWrote) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    Bytes formatted;
    auto format = policy().onFormat;
    policy().onFormat = [&](HWND owner, UINT drive) {
        format(owner, drive);
        formatted = sector0();
    };
    startBuild(1, {IDYES, IDOK, IDYES});

    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    ASSERT_EQ(formatted.size(), 512u);
    EXPECT_EQ(sector0(), formatted);
    EXPECT_NE(sector0(), fileBytes(startDir() / "crisboot.bin"));
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                         {"PLATFORM.BIN", projectDir() / "platform.bin"},
                         {"VGABIOS.EXE", projectDir() / "vgabios.exe"},
                         {"BIOS.ROM", projectDir() / "testQ7A.rom"}});
}

TEST_F(BuildSequence, LastImageStagedIsTheOneOnTheDiskette) {
#ifdef _WIN32
    // Under wine the Linux tools' read of the image failed once in a clean run, while the
    // dialog awaited the next diskette; kept to Linux until that is understood.
    GTEST_SKIP() << "the Linux tools do not yet read this image back reliably under wine";
#endif
    useSampleKit();
    blankDiskette();
    for (const char* name : {"partnum.mak", "platform.bin"})
        fs::copy_file(sampleProject() / name, projectDir() / name);
    putBytes(projectDir() / "AbQ7a-01.ROM", fattools::plausibleImage(65536, "Q7A", 20));
    startBuild(0, {IDYES, IDOK, IDYES});
    EXPECT_EQ(fattools::mtype(driveImage().string(), "BIOS.ROM"),
              fileBytes(projectDir() / "AbQ7a-01.ROM"));

    fs::copy_file(sampleProject() / "develQ7A.rom", projectDir() / "develQ7A.rom");
    backend().clearRecords();
    policy().answers = {IDYES, IDOK, IDYES};
    click(IDC_START);
    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_EQ(fattools::mtype(driveImage().string(), "BIOS.ROM"),
              fileBytes(projectDir() / "develQ7A.rom"));
    EXPECT_FALSE(inStartDir("bios.rom"));
    expectConsistentDiskette();
}

TEST_F(BuildSequence, NoToAnotherDisketteSavesTheHistoryAndEnds) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    startBuild(0, {IDYES, IDOK, IDNO});
    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(dialogtest::readFile(settingsFile()),
              "\r\n\r\n\r\n" + projectDir().string() + "\r\n");
}

TEST_F(BuildSequence, NoDisketteShowsOnlyThePresenceMessage) {
    useSampleKit();
    useSampleProject();
    startBuild(0, {IDOK});
    EXPECT_EQ(messageTexts(), Strings{texts::kNoFloppy});
    EXPECT_EQ(backend().formatCalls(), 0);
    EXPECT_FALSE(fs::exists(driveImage()));
    EXPECT_FALSE(dialogDestroyed());
    EXPECT_TRUE(hasFocus(IDC_START));
    EXPECT_TRUE(controlEnabled(IDC_START));
    // Nothing was enabled for the project: the check never ran.
    EXPECT_FALSE(controlEnabled(IDC_BUTTON_BROWSE));
}

TEST_F(BuildSequence, RefusedFolderStopsBeforeFormatting) {
    useSampleKit();
    blankDiskette();
    // The images are there but the part-number file is not.
    fs::copy_file(sampleProject() / "platform.bin", projectDir() / "platform.bin");
    fs::copy_file(sampleProject() / "develQ7A.rom", projectDir() / "develQ7A.rom");
    startBuild(0, {IDOK});

    ASSERT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_EQ(backend().messages()[0].type, 0u);
    EXPECT_EQ(backend().formatCalls(), 0);
    EXPECT_EQ(fileBytes(driveImage()), Bytes(buildtest::kDisketteBytes, 0));
    // OnStart puts the focus on Start once the build has returned; the refusal itself moved
    // it to the combo box, which is what the user sees while the message is up.
    EXPECT_TRUE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_TRUE(controlEnabled(IDC_START));
    EXPECT_FALSE(dialogDestroyed());
}

TEST_F(BuildSequence, NoToTheConfirmationStops) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    startBuild(0, {IDNO});
    EXPECT_EQ(messageTexts(), Strings{confirmation()});
    EXPECT_EQ(backend().formatCalls(), 0);
    EXPECT_EQ(fileBytes(driveImage()), Bytes(buildtest::kDisketteBytes, 0));
    EXPECT_FALSE(inStartDir("bios.rom"));
    EXPECT_TRUE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_FALSE(dialogDestroyed());
}

// A BIOS image the payload checks doubt asks, after the project question and before the
// format, naming the file and what was found; No leaves the diskette as it was, Yes builds.
TEST_F(BuildSequence, DoubtfulImagesAskBeforeAnythingIsErased) {
    const Bytes plausible = fattools::plausibleImage(65536, "Q7A", 4);
    Bytes exe = plausible;
    exe[0] = 'M';
    exe[1] = 'Z';
    Bytes zip = plausible;
    std::copy_n("PK\x03\x04", 4, zip.begin());
    struct Case {
        const char* what;
        Bytes image;
        const char* says;
    };
    const Case cases[] = {
        {"an .exe", exe, "a DOS or Windows program"},
        {"a zip", zip, "a zip archive"},
        {"all 0xFF", Bytes(65536, 0xFF), "every byte is 0xFF"},
        {"another board's", fattools::plausibleImage(65536, "Q7B", 4), "appears nowhere"},
    };
    for (const Case& c : cases) {
        for (const int answer : {IDNO, IDYES}) {
            SCOPED_TRACE(std::string(c.what) + (answer == IDYES ? ", Yes" : ", No"));
            useFreshSamples();
            putBytes(projectDir() / "testQ7A.rom", c.image);
            blankDiskette();
            m_format = {};
            backend().clearRecords();
            startBuild(0, answer == IDNO ? std::vector<int>{IDYES, IDNO}
                                         : std::vector<int>{IDYES, IDYES, IDOK, IDYES});
            const auto& shown = backend().messages();
            ASSERT_GE(shown.size(), 2u);
            EXPECT_EQ(shown[1].type, MB_YESNO | MB_ICONEXCLAMATION);
            EXPECT_TRUE(shown[1].text.starts_with(texts::payloadQuestion("").substr(0, 60)));
            EXPECT_NE(shown[1].text.find(" bios.rom (" + projectDir().string()), std::string::npos)
                << shown[1].text;
            EXPECT_NE(shown[1].text.find(c.says), std::string::npos) << shown[1].text;
            EXPECT_NE(shown[1].details.find("pass size at 0x0: 64 KiB"), std::string::npos)
                << shown[1].details;
            if (answer == IDNO) {
                EXPECT_EQ(shown.size(), 2u);
                EXPECT_EQ(backend().formatCalls(), 0);
                EXPECT_EQ(fileBytes(driveImage()), Bytes(kDisketteBytes, 0));
                EXPECT_EQ(dialog().m_outcome.kind, build::Outcome::Kind::PayloadDeclined);
                EXPECT_NE(dialog().m_outcome.detail.find(c.says), std::string::npos);
            } else {
                EXPECT_EQ(dialog().m_outcome.kind, build::Outcome::Kind::Succeeded);
                EXPECT_EQ(fattools::mtype(driveImage().string(), "BIOS.ROM"), c.image);
            }
        }
    }
}

TEST_F(BuildSequence, StartDirectoryFilesAreUsedWithoutAsking) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    putBytes(startDir() / "bios.rom", fattools::plausibleImage(65536, "Q7A", 1));
    putBytes(startDir() / "platform.bin", patterned(300, 2));
    createDialog("");
    const std::vector<std::string> history(std::begin(dialog().m_strHistory),
                                           std::end(dialog().m_strHistory));
    typeText(IDC_COMBO_PATH, projectDir().string());
    policy().answers = {IDOK, IDYES};
    click(IDC_START);

    EXPECT_EQ(messageTexts(), (Strings{texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_TRUE(dialog().m_bFilesInStartDir);
    EXPECT_EQ(std::vector<std::string>(std::begin(dialog().m_strHistory),
                                       std::end(dialog().m_strHistory)),
              history);
    // Nothing staged (the project's vgabios.exe stays behind), nothing deleted.
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                         {"PLATFORM.BIN", startDir() / "platform.bin"},
                         {"BIOS.ROM", startDir() / "bios.rom"}});
    EXPECT_TRUE(inStartDir("bios.rom"));
    EXPECT_TRUE(inStartDir("platform.bin"));
    EXPECT_FALSE(inStartDir("vgabios.exe"));
    // The project controls were never enabled and the build leaves them so.
    EXPECT_FALSE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_FALSE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_START));
}

TEST_F(BuildSequence, FlashableImageAloneIsRefusedByTheFiveFileKit) {
    useSampleKit();
    blankDiskette();
    fs::copy_file(sampleProject() / "partnum.mak", projectDir() / "partnum.mak");
    fs::copy_file(sampleProject() / "flashabl.rom", projectDir() / "flashabl.rom");
    // A stale image of the start directory's own never makes up for the project's.
    putBytes(startDir() / "bios.rom", patterned(700, 2));
    startBuild(0, {IDOK});

    ASSERT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_EQ(m_format.shown, 0) << "the diskette was offered for erasing";
    EXPECT_EQ(fileBytes(driveImage()), Bytes(kDisketteBytes, 0));
    // The box holds what the kit needs as its details, the text as it always was.
    EXPECT_EQ(backend().messages()[0].details, dialog().m_outcome.detail);
    EXPECT_NE(dialog().m_outcome.detail.find("zyplet.exe takes platform.bin"), std::string::npos)
        << dialog().m_outcome.detail;
    EXPECT_EQ(control(IDC_EDIT_STATUS)->text, "");
    EXPECT_EQ(control(IDC_PROGRESS)->pos, 0);
    EXPECT_EQ(dialog().m_nProgressPos, 1);
    EXPECT_TRUE(controlEnabled(IDC_START));
    EXPECT_TRUE(controlEnabled(IDC_BUTTON_CLOSE));
    EXPECT_TRUE(hasFocus(IDC_START));
    EXPECT_FALSE(dialogDestroyed());
}

// A file that merely exists is not a BIOS file: an empty, a folder or a pipe in the test
// image's place gives way to the development image, on the diskette and in the record.
TEST_F(BuildSequence, OnlyNonEmptyRegularImagesReachTheDiskette) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
        {"empty", [](const fs::path& p) { putBytes(p, {}); }},
        {"folder",
         [](const fs::path& p) {
             fs::remove(p);
             fs::create_directories(p);
         }},
#ifndef _WIN32
        {"pipe",
         [](const fs::path& p) {
             fs::remove(p);
             ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
         }},
#endif
    };
    for (const auto& [what, replace] : cases) {
        SCOPED_TRACE(what);
        useFreshSamples();
        replace(projectDir() / "testQ7A.rom");
        blankDiskette();
        m_format = {};
        backend().clearRecords();
        startBuild(0, {IDYES, IDOK, IDYES});
        EXPECT_EQ(messageTexts(),
                  (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
        expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                             {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                             {"PLATFORM.BIN", projectDir() / "platform.bin"},
                             {"VGABIOS.EXE", projectDir() / "vgabios.exe"},
                             {"BIOS.ROM", projectDir() / "develQ7A.rom"}});
        EXPECT_EQ(dialog().m_record.imageRule, std::optional<std::string>("devel"));
        EXPECT_EQ(dialog().m_record.imageSource, (projectDir() / "develQ7A.rom").string());
        EXPECT_EQ(dialog().m_outcome.failure, std::nullopt);  // a success has no failure kind
    }
}

TEST_F(BuildSequence, MissingVideoBiosIsPassedOver) {
    useSampleKit();
    useSampleProject();
    fs::remove(projectDir() / "vgabios.exe");
    blankDiskette();
    startBuild(0, {IDYES, IDOK, IDYES});
    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET.EXE", startDir() / "zyplet.exe"},
                         {"PLATFORM.BIN", projectDir() / "platform.bin"},
                         {"BIOS.ROM", projectDir() / "testQ7A.rom"}});
}

TEST_F(BuildSequence, FourFileListSharesProgressByLength) {
    // ZYPLET16.EXE in capitals chooses the four-file list; one byte, it has no share of the
    // bar, and vgabios.exe is missing. The image is a third of the bytes, a whole flash chip's.
    putBytes(startDir() / "minidos.sys", patterned(21845, 3));
    putBytes(startDir() / "ZYPLET16.EXE", {0xCB});
    putBytes(startDir() / "bios.qvx", fattools::plausibleImage(65536, "Q7A", 4));
    blankDiskette();
    startBuild(1, {IDOK, IDYES});

    EXPECT_EQ(messageTexts(), (Strings{texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_EQ(
        recorder().events,
        (Strings{"bar=1", copyingAt("minidos.sys", 1), "bar=13", copyingAt("zyplet16.exe", 13),
                 "bar=13", copyingAt("vgabios.exe", 13), "bar=13", copyingAt("bios.qvx", 13),
                 "bar=50", "bar=0", readingBackAt(1), "bar=0"}));
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET16.EXE", startDir() / "ZYPLET16.EXE"},
                         {"BIOS.QVX", startDir() / "bios.qvx"}});
    EXPECT_TRUE(inStartDir("bios.qvx")) << "the flag keeps the start directory's own files";
}

TEST_F(BuildSequence, FourFileListStagesTheFlashableImage) {
    useSampleKit();
    fs::rename(startDir() / "zyplet.exe", startDir() / "zyplet16.exe");
    useSampleProject();
    blankDiskette();
    startBuild(0, {IDYES, IDOK, IDYES});
    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    expectDisketteFiles({{"MINIDOS.SYS", startDir() / "minidos.sys"},
                         {"ZYPLET16.EXE", startDir() / "zyplet16.exe"},
                         {"VGABIOS.EXE", projectDir() / "vgabios.exe"},
                         {"BIOS.QVX", projectDir() / "flashabl.rom"}});
    // Every staged copy is taken back, the video BIOS program too.
    EXPECT_FALSE(inStartDir("bios.qvx"));
    EXPECT_FALSE(inStartDir("vgabios.exe"));
    EXPECT_FALSE(inStartDir("bios.rom"));
    EXPECT_FALSE(inStartDir("platform.bin"));
}

TEST_F(BuildSequence, FourFileListWithoutFlashableImageIsRefusedBeforeTheFormat) {
    useSampleKit();
    fs::rename(startDir() / "zyplet.exe", startDir() / "zyplet16.exe");
    useSampleProject();
    fs::remove(projectDir() / "flashabl.rom");
    blankDiskette();
    startBuild(0, {IDOK});
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_EQ(m_format.shown, 0);
    EXPECT_FALSE(inStartDir("vgabios.exe"));
}

TEST_F(BuildSequence, StartDirectoryFilesOfTheOtherListDoNotCount) {
    // bios.rom and platform.bin are the five-file list's; ZYPLET16.EXE calls for an image
    // that is empty here, so the project folder (empty) is looked at and refused.
    putBytes(startDir() / "bios.rom", patterned(10, 5));
    putBytes(startDir() / "platform.bin", patterned(10, 6));
    putBytes(startDir() / "minidos.sys", {});
    putBytes(startDir() / "zyplet16.exe", {});
    putBytes(startDir() / "bios.qvx", {});
    blankDiskette();
    startBuild(1, {IDOK});
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_FALSE(dialog().m_bFilesInStartDir);
    EXPECT_EQ(m_format.shown, 0);
}

// A kit file that is missing or empty is found before the format: the diskette keeps what it
// held, and the message names the file.
TEST_F(BuildSequence, AMissingOrEmptyKitFileIsFoundBeforeTheFormat) {
    putBytes(startDir() / "bios.rom", patterned(10, 5));
    putBytes(startDir() / "platform.bin", patterned(10, 6));
    for (const bool empty : {false, true}) {
        SCOPED_TRACE(empty ? "empty" : "missing");
        if (empty) {
            useSampleKit();
            putBytes(startDir() / "zyplet.exe", {});
        }
        blankDiskette();
        const auto before = fileBytes(driveImage());
        startBuild(1, {IDOK});
        const std::string why = empty ? "zyplet.exe in the start directory is empty"
                                      : "minidos.sys in the start directory is not there";
        ASSERT_FALSE(messageTexts().empty());
        EXPECT_EQ(messageTexts().back(), texts::startDirUnfit(startDir().string(), why));
        EXPECT_EQ(fileBytes(driveImage()), before);
    }
}

TEST_F(BuildSequence, ProgressShareUsesThe32BitProduct) {
    // 90,000,000 × 50 wraps at 2^32 to 205,032,704, a share of 2 rather than 49. The file is
    // sparse and too big for the diskette: a build refuses it before the format, so the copy
    // is called by itself here, and fails.
    putBytes(startDir() / "minidos.sys", patterned(1000, 8));
    putBytes(startDir() / "ZYPLET16.EXE", {0xCB});
    putBytes(startDir() / "bios.qvx", {});
    fs::resize_file(startDir() / "bios.qvx", 90000000);
    formattedDiskette();
    createDialog(projectDir().string());
    ASSERT_EQ(dialog().CheckProject(), 1);
    EXPECT_EQ(dialog().CopyFilesToDisk(), 0);

    EXPECT_EQ(messageTexts(), Strings{texts::copyFailed("bios.qvx")});
    const Strings& events = recorder().events;
    const auto at = std::find(events.begin(), events.end(), copyingAt("bios.qvx", 1));
    ASSERT_NE(at, events.end());
    ASSERT_NE(at + 1, events.end());
    EXPECT_EQ(*(at + 1), "bar=3");
    expectConsistentDiskette();
}

TEST_F(BuildSequence, FilesAlreadyOnTheDisketteAreReplaced) {
    useSampleKit();
    useSampleProject();
    formattedDiskette();
    const std::string image = driveImage().string();
    ASSERT_TRUE(fattools::mcopyIn(image, "MINIDOS.SYS", patterned(20000, 9)));
    ASSERT_TRUE(fattools::mcopyIn(image, "BIOS.ROM", patterned(100, 10)));
    ASSERT_TRUE(fattools::mcopyIn(image, "OTHER.TXT", patterned(700, 11)));
    startBuild(0, {IDYES, IDOK, IDYES});

    EXPECT_EQ(messageTexts(),
              (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
    EXPECT_EQ(m_format.formatted, 0) << "the format dialog was left without formatting";
    const auto names = fattools::mdirNames(image);
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(std::count(names->begin(), names->end(), "MINIDOS.SYS"), 1);
    EXPECT_EQ(std::count(names->begin(), names->end(), "BIOS.ROM"), 1);
    EXPECT_EQ(fattools::mtype(image, "MINIDOS.SYS"), fileBytes(startDir() / "minidos.sys"));
    EXPECT_EQ(fattools::mtype(image, "BIOS.ROM"), fileBytes(projectDir() / "testQ7A.rom"));
    EXPECT_EQ(fattools::mtype(image, "OTHER.TXT"), patterned(700, 11));
    EXPECT_EQ(fattools::mtype(image, "PLATFORM.BIN"), fileBytes(projectDir() / "platform.bin"));
    expectConsistentDiskette();
}

TEST_F(BuildSequence, BiosImageTooBigForTheDisketteTakesBackWhatWasStaged) {
    useSampleKit();
    useSampleProject();
    // The user's own video BIOS program in the start directory is not this build's to delete.
    fs::remove(projectDir() / "vgabios.exe");
    putBytes(startDir() / "vgabios.exe", patterned(5000, 12));
    putBytes(projectDir() / "testQ7A.rom", patterned(1500000, 13));
    blankDiskette();
    startBuild(0, {IDYES, IDOK});

    // Found before the format: nothing was staged, nothing erased.
    ASSERT_EQ(messageTexts().size(), 2u);
    EXPECT_EQ(messageTexts()[1],
              texts::startDirUnfit(startDir().string(), dialog().m_outcome.detail));
    EXPECT_NE(dialog().m_outcome.detail.find("testQ7A.rom holds 1,500,000 bytes"),
              std::string::npos)
        << dialog().m_outcome.detail;
    EXPECT_EQ(m_format.shown, 0);
    EXPECT_EQ(fileBytes(driveImage()), Bytes(kDisketteBytes, 0));
    EXPECT_FALSE(inStartDir("bios.rom"));
    EXPECT_FALSE(inStartDir("platform.bin"));
    EXPECT_EQ(fileBytes(startDir() / "vgabios.exe"), patterned(5000, 12));

    // The retry examines the project folder again instead of taking a leftover image.
    backend().clearRecords();
    policy().answers = {IDNO};
    click(IDC_START);
    EXPECT_EQ(messageTexts(), Strings{confirmation()});
    EXPECT_FALSE(dialog().m_bFilesInStartDir);
}

TEST_F(BuildSequence, FullRootDirectoryStopsTheCopy) {
    useSampleKit();
    useSampleProject();
    formattedDiskette();
    {
        auto device = fat::MemoryDevice::loadFile(driveImage().string());
        ASSERT_TRUE(device);
        auto volume = fat::Volume::mount(*device);
        ASSERT_TRUE(volume);
        // Two entries left: minidos.sys and zyplet.exe fit, platform.bin does not.
        for (int i = 0; i < 222; ++i) {
            ASSERT_TRUE(volume->writeFile("F" + std::to_string(i) + ".TXT", {}, 0));
        }
        ASSERT_TRUE(device->saveFile(driveImage().string()));
    }
    startBuild(0, {IDYES, IDOK});

    EXPECT_EQ(messageTexts(), (Strings{confirmation(), texts::copyFailed("platform.bin")}));
    const std::string image = driveImage().string();
    EXPECT_EQ(fattools::mtype(image, "MINIDOS.SYS"), fileBytes(startDir() / "minidos.sys"));
    EXPECT_EQ(fattools::mtype(image, "ZYPLET.EXE"), fileBytes(startDir() / "zyplet.exe"));
    EXPECT_FALSE(fattools::mtype(image, "PLATFORM.BIN").has_value());
    expectConsistentDiskette();
    EXPECT_FALSE(inStartDir("bios.rom"));
    EXPECT_FALSE(inStartDir("platform.bin"));
    EXPECT_FALSE(inStartDir("vgabios.exe"));
}

TEST_F(BuildSequence, UnwrittenBootSectorIsNeverCalledASuccess) {
    useSampleKit();
    useSampleProject();
    blankDiskette();
    Bytes formatted;
    auto format = policy().onFormat;
    // The image goes between the check before the format and the update after the copy.
    policy().onFormat = [&](HWND owner, UINT drive) {
        format(owner, drive);
        formatted = sector0();
        fs::remove(startDir() / "crisboot.bin");
    };
    startBuild(0, {IDYES, IDOK});

    ASSERT_EQ(messageTexts(), (Strings{confirmation(), texts::kBootSectorFailed}));
    EXPECT_EQ(backend().messages()[1].type, 16u);
    EXPECT_EQ(sector0(), formatted);
    EXPECT_FALSE(dialogDestroyed());
    EXPECT_TRUE(hasFocus(IDC_START));
    for (int id : {IDC_START, IDC_BUTTON_CLOSE, IDC_RADIO_MINIDOS, IDC_BUTTON_BROWSE}) {
        EXPECT_TRUE(controlEnabled(id)) << id;
    }
    // The files themselves are on the diskette; only the boot sector is missing.
    expectConsistentDiskette();
}

// ---- what a build checks before it says "Successfully Created" ----

// The diskette is read back and compared with the files the build copied from, never with a
// staged copy: whatever changes in between is caught, and nothing is called a success.
TEST_F(BuildSequence, ADisketteThatDiffersFromItsSourcesIsNoSuccess) {
    struct Case {
        std::string when;  // the status text at which the change is made
        const char* what;
        std::string message;
    };
    const std::vector<Case> cases = {
        {texts::copying("bios.rom"), "start/bios.rom", texts::differs("bios.rom")},
        {texts::copying("zyplet.exe"), "start/minidos.sys", texts::differs("minidos.sys")},
#ifndef _WIN32  // there the build's handle keeps every other writer off the image
        {"", "sector 0", texts::differs("crisboot.bin")},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useFreshSamples();
        blankDiskette();
        bool boot = false;
        recorder().onStatus = [&](const std::string& text) {
            boot = boot || text == texts::kUpdatingBootSector;
            if (text != c.when || (text.empty() && !boot)) return;
            if (text.empty()) {
                Bytes disk = fileBytes(driveImage());
                disk[300] ^= 0x20;  // in the boot program
                putBytes(driveImage(), disk);
            } else {
                putBytes(root() / c.what, patterned(3000, 77));
            }
        };
        backend().clearRecords();
        startBuild(0, {IDYES, IDOK});
        recorder().onStatus = nullptr;
        EXPECT_EQ(messageTexts(), (Strings{confirmation(), c.message}));
        EXPECT_EQ(backend().messages().back().type, 16u);
        EXPECT_EQ(dialog().m_outcome.kind, build::Outcome::Kind::Differs);
        for (int id : {IDC_START, IDC_BUTTON_CLOSE, IDC_RADIO_MINIDOS, IDC_COMBO_PATH}) {
            EXPECT_TRUE(controlEnabled(id)) << id;
        }
    }
}

// Drive A: takes other media than 1.44 MB, and FULLDOS builds on them; crisboot.bin describes
// one layout only, and an image that is no boot sector at all describes none. Either is
// refused before the diskette is touched, with the message of a failed boot-sector update.
TEST_F(BuildSequence, ABootSectorForAnotherMediumIsRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        std::uint64_t bytes;
        std::optional<Bytes> crisboot;  // none: the kit's
    };
    const Bytes kit = fileBytes(sampleKit() / "crisboot.bin");
    Bytes unsigned_ = kit;
    unsigned_[511] = 0;
    const std::vector<Case> cases = {
        {"360 KB", 368640, {}},
        {"720 KB", 737280, {}},
        {"1.2 MB", 1228800, {}},
        {"2.88 MB", 2949120, {}},
        {"empty image", kDisketteBytes, Bytes()},
        {"short image", kDisketteBytes, Bytes(kit.begin(), kit.begin() + 100)},
        {"no signature", kDisketteBytes, unsigned_},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useFreshSamples();
        if (c.crisboot) putBytes(startDir() / "crisboot.bin", *c.crisboot);
        blankDiskette();
        putBytes(driveImage(), Bytes(c.bytes, 0));
        m_format = {};
        backend().clearRecords();
        startBuild(0, {IDOK});
        // The kit's file is named as the cause; the diskette is not blamed.
        EXPECT_EQ(messageTexts(), Strings{texts::bootImageUnusable(startDir().string(),
                                                                   dialog().m_outcome.detail)});
        EXPECT_EQ(m_format.shown, 0) << "the format dialog was opened";
        EXPECT_EQ(fileBytes(driveImage()), Bytes(c.bytes, 0));
        EXPECT_EQ(dialog().m_outcome.kind, build::Outcome::Kind::BootSectorFailed);
        if (c.crisboot) continue;

        backend().clearRecords();
        startBuild(1, {IDYES, IDOK, IDNO});
        EXPECT_EQ(messageTexts(),
                  (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
        const auto fsck = fattools::runFsck(driveImage().string());
        EXPECT_TRUE(fsck.clean) << fsck.output;
    }
}

// Left unformatted, the diskette's volume may not be the one the format would have made: the
// image is checked against the volume itself before sector 0 is written.
TEST_F(BuildSequence, ABootSectorForAnotherVolumeIsNotWrittenOverIt) {
    useSampleKit();
    useSampleProject();
    formattedDiskette();
    const std::string image = driveImage().string();
    const auto made = fattools::runTool(
        {"mformat", "-C", "-f", "1440", "-c", "2", "-i", image, "::"});  // 2 sectors a cluster
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const Bytes before = sector0();
    startBuild(0, {IDYES, IDOK});
    EXPECT_EQ(messageTexts(), (Strings{confirmation(), texts::kBootSectorFailed}));
    EXPECT_EQ(sector0(), before);
    EXPECT_NE(
        dialog().m_outcome.detail.find("sectors a cluster is 1 in the image, 2 for the diskette"),
        std::string::npos)
        << dialog().m_outcome.detail;
    const auto fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
}

// With a label, the boot sector's label and the root directory's agree after either kind of
// build: the MINIDOS boot sector takes the formatted volume's label and serial number.
TEST_F(BuildSequence, ALabelledDisketteIsSoundForEitherKind) {
    useSampleKit();
    useSampleProject();
    for (int kind : {0, 1}) {
        SCOPED_TRACE(kind);
        putBytes(driveImage(), Bytes(kDisketteBytes, 0));
        console::FormatChoice choice;
        choice.label = "Rescue 1";
        policy().onFormat = console::makeFormatAction(choice, &m_format);
        backend().clearRecords();
        startBuild(kind, {IDYES, IDOK, IDNO});
        EXPECT_EQ(messageTexts(),
                  (Strings{confirmation(), texts::kSucceeded, texts::kAnotherDiskette}));
        const Bytes boot = sector0();
        EXPECT_EQ(std::string(boot.begin() + 0x2B, boot.begin() + 0x36), "RESCUE 1   ");
        const auto fsck = fattools::runFsck(driveImage().string());
        EXPECT_TRUE(fsck.clean) << fsck.output;
    }
}

}  // namespace
