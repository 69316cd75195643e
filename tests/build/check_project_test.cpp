// The project folder check, the part-number read, file lengths and the "??" image pattern,
// called on the dialog directly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "build/build_fixture.h"
#include "build/image_candidates.h"
#include "platform/file_pattern.h"

namespace {

using buildtest::BuildHarness;
using buildtest::Strings;
namespace fs = std::filesystem;
using dialogtest::writeFile;

class ProjectCheck : public BuildHarness {
  protected:
    void SetUp() override {
        BuildHarness::SetUp();
        createDialog(projectDir().string());
    }
    void project(const std::string& name, const std::string& bytes) {
        writeFile(projectDir() / name, bytes);
    }
    void start(const std::string& name, const std::string& bytes) {
        writeFile(startDir() / name, bytes);
    }
    std::string confirmation() const { return texts::confirmProject(projectDir().string()); }
};

// ---- where the BIOS files are ----

TEST_F(ProjectCheck, StartDirectoryImageAndPlatformFilePassAtOnce) {
    start("bios.rom", "R");
    start("platform.bin", "P");
    const std::string historyBefore = dialog().m_strHistory[3].str();
    dialog().m_strProjectPath = "/elsewhere";
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_TRUE(dialog().m_bFilesInStartDir);
    EXPECT_TRUE(backend().messages().empty());
    EXPECT_EQ(dialog().m_strHistory[3].str(), historyBefore);
    EXPECT_FALSE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_FALSE(controlEnabled(IDC_COMBO_PATH));
}

TEST_F(ProjectCheck, EmptyPlatformFileFallsBackToThePackagedImage) {
    start("zyplet16.exe", "Z");  // the kit whose list takes the packaged image
    start("bios.rom", "R");
    start("platform.bin", "");
    start("bios.qvx", "Q");
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_TRUE(dialog().m_bFilesInStartDir);
    EXPECT_TRUE(backend().messages().empty());
}

TEST_F(ProjectCheck, EmptyPackagedImageSendsTheCheckToTheProject) {
    start("bios.qvx", "");
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_FALSE(dialog().m_bFilesInStartDir);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
}

TEST_F(ProjectCheck, StartDirectoryNamesAreFoundWithoutRegardToCase) {
    start("BIOS.ROM", "R");
    start("Platform.Bin", "P");
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_TRUE(dialog().m_bFilesInStartDir);
}

TEST_F(ProjectCheck, CheckRunsInTheStartDirectoryWhereverTheProcessIs) {
    start("zyplet16.exe", "Z");
    start("bios.qvx", "Q");
    fs::current_path(projectDir());
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_EQ(fs::current_path(), startDir());
}

// ---- the project folder ----

TEST_F(ProjectCheck, RefusalMovesTheFocusToThePathAndKeepsTheHistory) {
    project("platform.bin", "P");
    project("develQ7A.rom", "D");  // no partnum.mak: refused whatever else is there
    dialog().m_strProjectPath = projectDir().string() + "/";
    EXPECT_EQ(dialog().CheckProject(), 0);
    ASSERT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_EQ(backend().messages()[0].type, 0u);
    EXPECT_TRUE(hasFocus(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_EQ(dialog().m_strHistory[3].str(), projectDir().string() + "/");
}

TEST_F(ProjectCheck, FlashableImageAloneIsAccepted) {
    start("zyplet16.exe", "Z");  // the four-file kit, which takes flashabl.rom
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("flashabl.rom", "F");
    policy().answers = {IDYES};
    EXPECT_EQ(dialog().CheckProject(), 1);
    ASSERT_EQ(messageTexts(), Strings{confirmation()});
    EXPECT_EQ(backend().messages()[0].type, 36u);
    EXPECT_FALSE(dialog().m_bFilesInStartDir);
}

TEST_F(ProjectCheck, PlatformFileWithoutAnyImageIsRefused) {
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("platform.bin", "P");
    project("testQ7B.rom", "T");  // another part number
    project("develQ7A.rom", "");  // empty counts as absent
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
}

TEST_F(ProjectCheck, EachImageCandidateIsEnoughWithThePlatformFile) {
    for (const char* image : {"xyQ7A001.rom", "develQ7A.rom", "testQ7A.rom", "ABq7a-_-.ROM"}) {
        SCOPED_TRACE(image);
        fs::remove_all(projectDir());
        project("partnum.mak", "PARTNUM = Q7A\r\n");
        project("platform.bin", "P");
        project(image, "I");
        backend().clearRecords();
        policy().answers = {IDYES};
        EXPECT_EQ(dialog().CheckProject(), 1);
        EXPECT_EQ(messageTexts(), Strings{confirmation()});
    }
}

TEST_F(ProjectCheck, PatternNeedsExactlyTwoAndThreeCharacters) {
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("platform.bin", "P");
    project("xQ7A001.rom", "I");
    project("xyQ7A0012.rom", "I");
    project("xyQ7A001.rom.bak", "I");
    fs::create_directories(projectDir() / "xyQ7A002.rom");  // a folder is no image
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
}

TEST_F(ProjectCheck, NoToTheConfirmationLeavesThePathControlsEnabled) {
    start("zyplet16.exe", "Z");  // the four-file kit, which takes flashabl.rom
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("flashabl.rom", "F");
    policy().answers = {IDNO};
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{confirmation()});
    EXPECT_TRUE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_TRUE(controlEnabled(IDC_BUTTON_BROWSE));
}

TEST_F(ProjectCheck, FlagFromAnEarlierBuildDisablesThePathControls) {
    start("zyplet16.exe", "Z");  // the four-file kit, which takes flashabl.rom
    dialog().m_bFilesInStartDir = TRUE;
    dialog().m_btnBrowse.EnableWindow(TRUE);
    dialog().m_comboPath.EnableWindow(TRUE);
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("flashabl.rom", "F");
    policy().answers = {IDYES};
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_EQ(messageTexts(), Strings{confirmation()});
    EXPECT_FALSE(controlEnabled(IDC_COMBO_PATH));
    EXPECT_FALSE(controlEnabled(IDC_BUTTON_BROWSE));
    EXPECT_TRUE(dialog().m_bFilesInStartDir);
}

TEST_F(ProjectCheck, EmptyPathTakesTheMostRecentHistoryEntry) {
    start("zyplet16.exe", "Z");  // the four-file kit, which takes flashabl.rom
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    project("flashabl.rom", "F");
    dialog().m_strProjectPath = "";  // the command line put the folder in the history
    policy().answers = {IDYES};
    EXPECT_EQ(dialog().CheckProject(), 1);
    EXPECT_EQ(dialog().m_strProjectPath.str(), projectDir().string());
}

// ---- the kit decides what the project must hold ----

struct FitCase {
    const char* title;
    bool fourFileKit;
    std::vector<std::pair<std::string, std::string>> startFiles, projectFiles;
    std::string rule;   // empty: refused
    std::string image;  // the file chosen for the diskette's image, by its name
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.title;
}

class KitFit : public ProjectCheck, public ::testing::WithParamInterface<FitCase> {};

TEST_P(KitFit, OnlyNonEmptyFilesOfTheKitsListAreChosen) {
    const FitCase& c = GetParam();
    start(c.fourFileKit ? "zyplet16.exe" : "zyplet.exe", "Z");
    for (const auto& [name, bytes] : c.startFiles) start(name, bytes);
    project("partnum.mak", "PARTNUM = Q7A\r\n");
    for (const auto& [name, bytes] : c.projectFiles) {
        if (bytes == "<dir>") {
            fs::create_directories(projectDir() / name);
        } else if (bytes == "<fifo>") {
#ifdef _WIN32
            GTEST_SKIP() << "Windows has no named pipe in a folder";
#else
            ASSERT_EQ(::mkfifo((projectDir() / name).c_str(), 0600), 0);
#endif
        } else {
            project(name, bytes);
        }
    }
    policy().answers = {IDYES};
    EXPECT_EQ(dialog().CheckProject(), c.rule.empty() ? 0 : 1);
    EXPECT_EQ(dialog().m_biosChoice.rule, c.rule);
    if (c.rule.empty()) {
        EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
        ASSERT_EQ(backend().messages().size(), 1u);
        EXPECT_NE(
            backend().messages()[0].details.find(c.fourFileKit ? "zyplet16.exe" : "zyplet.exe"),
            std::string::npos)
            << backend().messages()[0].details;
        return;
    }
    ASSERT_NE(dialog().m_biosChoice.image(), nullptr);
    const std::string source = dialog().m_biosChoice.image()->source.str();
    EXPECT_EQ(source.substr(source.find_last_of("\\/") + 1), c.image) << source;
    EXPECT_EQ(dialog().m_bFilesInStartDir != FALSE, c.rule == "start-directory");
}

using Files = std::vector<std::pair<std::string, std::string>>;
INSTANTIATE_TEST_SUITE_P(
    Cases, KitFit,
    ::testing::Values(
        FitCase{"EmptyTestImageGivesWayToTheDevelopmentImage",
                false,
                {},
                Files{{"platform.bin", "P"}, {"testQ7A.rom", ""}, {"develQ7A.rom", "D"}},
                "devel",
                "develQ7A.rom"},
        FitCase{"EmptyCapitalImageGivesWayToThePattern",
                false,
                {},
                Files{{"platform.bin", "P"}, {"TESTQ7A.ROM", ""}, {"xyQ7A001.rom", "X"}},
                "part-number",
                "xyQ7A001.rom"},
        FitCase{"FolderInTheTestImagesPlace",
                false,
                {},
                Files{{"platform.bin", "P"}, {"testQ7A.rom", "<dir>"}, {"develQ7A.rom", "D"}},
                "devel",
                "develQ7A.rom"},
        FitCase{"PipeInTheTestImagesPlace",
                false,
                {},
                Files{{"platform.bin", "P"}, {"testQ7A.rom", "<fifo>"}, {"develQ7A.rom", "D"}},
                "devel",
                "develQ7A.rom"},
        FitCase{"TestImageWinsAsStagingAlwaysHad",
                false,
                {},
                Files{{"platform.bin", "P"}, {"testQ7A.rom", "T"}, {"develQ7A.rom", "D"}},
                "test",
                "testQ7A.rom"},
        FitCase{"EmptyPlatformFile",
                false,
                {},
                Files{{"platform.bin", ""}, {"develQ7A.rom", "D"}},
                "",
                ""},
        FitCase{"FlashableImageAloneForTheFiveFileKit",
                false,
                {},
                Files{{"platform.bin", "P"}, {"flashabl.rom", "F"}},
                "",
                ""},
        FitCase{"StaleStartDirectoryImageIsNoPartOfAProject", false, Files{{"bios.rom", "old"}},
                Files{{"platform.bin", "P"}, {"flashabl.rom", "F"}}, "", ""},
        FitCase{"ImageAndPlatformFileForTheFourFileKit",
                true,
                {},
                Files{{"platform.bin", "P"}, {"develQ7A.rom", "D"}},
                "",
                ""},
        FitCase{"EmptyFlashableImage", true, {}, Files{{"flashabl.rom", ""}}, "", ""},
        FitCase{"EmptyPackagedImageInTheStartDirectory", true, Files{{"bios.qvx", ""}},
                Files{{"flashabl.rom", "F"}}, "flashable", "flashabl.rom"},
        FitCase{"FiveFileFilesInAFourFileStartDirectory", true,
                Files{{"bios.rom", "R"}, {"platform.bin", "P"}}, Files{{"flashabl.rom", "F"}},
                "flashable", "flashabl.rom"},
        FitCase{"PackagedImageInAFourFileStartDirectory",
                true,
                Files{{"bios.qvx", "Q"}},
                {},
                "start-directory",
                "bios.qvx"}),
    [](const auto& info) { return std::string(info.param.title); });

// Every file the choice passed over is named, with why, in the confirmation's details.
TEST_F(ProjectCheck, TheConfirmationNamesWhatTheChoicePassedOver) {
#ifdef _WIN32
    GTEST_SKIP() << "names that differ only in case are one file on Windows, and links differ";
#else
    struct Case {
        const char* title;
        std::vector<std::pair<std::string, std::string>> files;  // "<link>": a link to nothing
        std::string passed;
    };
    const Case cases[] = {
        {"CaseVariant",
         {{"testQ7A.rom", "T"}, {"TestQ7A.rom", "U"}},
         "TestQ7A.rom differs from testQ7A.rom only in case"},
        {"SecondPatternMatch",
         {{"xyQ7A002.rom", "B"}, {"xyQ7A001.rom", "A"}},
         "xyQ7A002.rom matches ??Q7A???.rom too; xyQ7A001.rom comes first in byte order"},
        {"LinkToNothing",
         {{"testQ7A.rom", "<link>"}, {"develQ7A.rom", "D"}},
         "testQ7A.rom cannot be reached (a link to nothing?)"},
        {"LaterCandidate",
         {{"develQ7A.rom", "D"}, {"abQ7A123.rom", "P"}},
         "abQ7A123.rom comes after develQ7A.rom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        fs::remove_all(projectDir());
        fs::create_directories(projectDir());
        backend().clearRecords();
        start("zyplet.exe", "Z");
        project("partnum.mak", "PARTNUM = Q7A\r\n");
        project("platform.bin", "P");
        for (const auto& [name, bytes] : c.files) {
            if (bytes == "<link>")
                fs::create_symlink(projectDir() / "nowhere", projectDir() / name);
            else
                project(name, bytes);
        }
        policy().answers = {IDYES};
        EXPECT_EQ(dialog().CheckProject(), 1);
        ASSERT_EQ(backend().messages().size(), 1u);
        EXPECT_NE(backend().messages()[0].details.find("Passed over: " + c.passed),
                  std::string::npos)
            << backend().messages()[0].details;
    }
#endif
}

// ---- the part number ----

struct PartNumberCase {
    const char* title;
    std::string content;
    int result;
    std::string partNumber;  // after the read; "old" is the value before it
};

class PartNumber : public ProjectCheck, public ::testing::WithParamInterface<PartNumberCase> {};

TEST_P(PartNumber, ReadsWhatFollowsTheFirstKey) {
    const PartNumberCase& c = GetParam();
    project("partnum.mak", c.content);
    dialog().m_strPartNum = "old";
    EXPECT_EQ(dialog().ReadPartNumber(), c.result);
    EXPECT_EQ(dialog().m_strPartNum.str(), c.partNumber);
}

std::string padded(std::size_t before, const std::string& tail) {
    return std::string(before, '#') + tail;
}

INSTANTIATE_TEST_SUITE_P(
    Content, PartNumber,
    ::testing::Values(
        PartNumberCase{"LineOfItsOwn", "# made\r\nPARTNUM = Q7A\r\nREV = 2\r\n", 1, "Q7A"},
        PartNumberCase{"MidLine", "X_PARTNUM = abc-def", 1, "abc"},
        PartNumberCase{"TwoCharactersAtTheEnd", "PARTNUM = AB", 1, "AB"},
        PartNumberCase{"OneCharacterAndCrLf", "PARTNUM = 7\r\nX", 1, "7\r\n"},
        PartNumberCase{"KeyAtTheVeryEnd", "PARTNUM = ", 1, ""},
        PartNumberCase{"TheSameTwice", "PARTNUM = AAA\nPARTNUM = AAA\n", 1, "AAA"},
        // A key naming another board, commented out or renamed, and a longer part number
        // refuse the file: either would take another board's image.
        PartNumberCase{"TwoDifferent", "PARTNUM = AAA\nPARTNUM = BBB\n", 0, "old"},
        PartNumberCase{"CommentedOutFirst", "# was: PARTNUM = Q7B\nPARTNUM = Q7A\n", 0, "old"},
        PartNumberCase{"RenamedKeyFirst", "OLD_PARTNUM = Q7B\r\nPARTNUM = Q7A\r\n", 0, "old"},
        PartNumberCase{"LongerNumber", "PARTNUM = Q7AB\n", 0, "old"},
        PartNumberCase{"LongerByADigit", "PARTNUM = Q7A1", 0, "old"},
        PartNumberCase{"DifferentAfterNulDoesNotCount",
                       std::string("PARTNUM = Q7A\0PARTNUM = X", 25), 1, "Q7A"},
        PartNumberCase{"DifferentFarIn", "PARTNUM = Q7A\n" + padded(9000, "PARTNUM = Q7B"), 0,
                       "old"},
        PartNumberCase{"NulEndsTheText", std::string("PARTNUM = A\0BC", 14), 1, "A"},
        PartNumberCase{"KeyAfterNul", std::string("x\0PARTNUM = Q7A", 15), 0, "old"},
        PartNumberCase{"NoSpaces", "PARTNUM=Q7A\r\n", 0, "old"},
        PartNumberCase{"SmallLetters", "partnum = q7a\r\n", 0, "old"},
        PartNumberCase{"EmptyFile", "", 0, "old"},
        // The file is read in chunks of 4,096 bytes: the key and the number across the seams.
        PartNumberCase{"KeyAcrossChunks", padded(4090, "PARTNUM = K01"), 1, "K01"},
        PartNumberCase{"NumberAcrossChunks", padded(4085, "PARTNUM = K02"), 1, "K02"},
        PartNumberCase{"NumberInNextChunk", padded(4086, "PARTNUM = K03"), 1, "K03"},
        PartNumberCase{"KeyFarIn", padded(3 * 4096 + 7, "PARTNUM = K04\n") + '\0' + "PARTNUM = X",
                       1, "K04"}),
    [](const auto& info) { return std::string(info.param.title); });

TEST_F(ProjectCheck, MissingPartNumberFileKeepsTheOldNumber) {
    dialog().m_strPartNum = "old";
    EXPECT_EQ(dialog().ReadPartNumber(), 0);
    EXPECT_EQ(dialog().m_strPartNum.str(), "old");
}

// The refusal's cause quotes the lines, with what cannot be seen escaped.
TEST_F(ProjectCheck, AnAmbiguousPartNumberFileIsRefusedQuotingItsLines) {
    project("partnum.mak",
            "REV = 2\r\nPARTNUM = Q\x01"
            "B\r\nX_PARTNUM = Q7A\r\n");
    project("platform.bin", "P");
    project("testQ7A.rom", "T");
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_NE(dialog().m_outcome.detail.find(
                  "partnum.mak names two part numbers, \"Q\\x01B\" at line 2 \"PARTNUM = "
                  "Q\\x01B\" and \"Q7A\" at line 3 \"X_PARTNUM = Q7A\""),
              std::string::npos)
        << dialog().m_outcome.detail;
}

// With no project path and nothing in the history, no folder is read: the root's files are
// no project's.
TEST_F(ProjectCheck, NoProjectPathAtAllIsRefused) {
    dialog().m_strProjectPath = "";
    for (CString& entry : dialog().m_strHistory) entry = "";
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    EXPECT_EQ(dialog().m_outcome.detail,
              "no project path was given, and no project folder was used before");
}

TEST_F(ProjectCheck, PartNumberFileWithoutTheKeyIsRefused) {
    project("partnum.mak", "PARTNUM=Q7A\r\n");
    project("platform.bin", "P");
    project("develQ7A.rom", "D");
    project("flashabl.rom", "F");
    EXPECT_EQ(dialog().CheckProject(), 0);
    EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
}

// ---- file lengths ----

TEST_F(ProjectCheck, FileLengthIsZeroForWhatCannotBeOpened) {
    start("five", "12345");
    fs::create_directories(startDir() / "folder");
    EXPECT_EQ(dialog().GetFileLength("five"), 5u);
    EXPECT_EQ(dialog().GetFileLength("FIVE"), 5u);
    EXPECT_EQ(dialog().GetFileLength((projectDir() / "..\\start\\five").string()), 5u);
    EXPECT_EQ(dialog().GetFileLength("missing"), 0u);
    EXPECT_EQ(dialog().GetFileLength("folder"), 0u);
    EXPECT_EQ(dialog().GetFileLength(""), 0u);
}

TEST_F(ProjectCheck, FileLengthKeepsTheLow32Bits) {
    start("huge", "");
    fs::resize_file(startDir() / "huge", (std::uint64_t{1} << 32) + 7);  // sparse
    EXPECT_EQ(dialog().GetFileLength("huge"), 7u);
}

// ---- the pattern ----

TEST(WildcardName, QuestionMarkStandsForExactlyOneCharacter) {
    const auto matches = [](const char* pattern, const char* name) {
        return platform::NamePattern::wildcards(pattern).matches(name);
    };
    EXPECT_TRUE(matches("??Q7A???.rom", "abQ7A123.rom"));
    EXPECT_TRUE(matches("??Q7A???.rom", "ABq7a123.ROM"));
    EXPECT_TRUE(matches("??Q7A???.rom", "??Q7A???.rom"));
    EXPECT_FALSE(matches("??Q7A???.rom", "aQ7A123.rom"));
    EXPECT_FALSE(matches("??Q7A???.rom", "abQ7A1234.rom"));
    EXPECT_FALSE(matches("??Q7A???.rom", "abQ7B123.rom"));
    EXPECT_FALSE(matches("??Q7A???.rom", "abQ7A123.roms"));
    // The part number is text: its own '?' stands for a '?' only.
    const auto literal = platform::NamePattern().any(2).literal("Q?A").any(3).literal(".rom");
    EXPECT_TRUE(literal.matches("abq?a123.ROM"));
    EXPECT_FALSE(literal.matches("abQ7A123.rom"));
}

TEST_F(ProjectCheck, PatternTakesTheFirstMatchInByteOrder) {
#ifdef _WIN32
    GTEST_SKIP() << "names that differ only in case are one file on Windows";
#endif
    project("zzQ7A000.rom", "z");
    project("abQ7A999.rom", "a");
    project("ABq7a999.ROM", "A");  // capitals sort before small letters
    project("AAQ7A000.rom", "");   // empty: no candidate
    const std::string folder = projectDir().string();
    const auto q7a = platform::NamePattern::wildcards("??Q7A???.rom");
    auto found = platform::findFirstMatch(folder + "\\", q7a, true);
    ASSERT_TRUE(found) << found.message();
    EXPECT_EQ(*found, folder + "\\ABq7a999.ROM");

    auto none = platform::findFirstMatch(folder + "\\",
                                         platform::NamePattern::wildcards("??Q7B???.rom"), true);
    EXPECT_FALSE(none);
    auto noFolder = platform::findFirstMatch(folder + "/missing\\", q7a, true);
    EXPECT_FALSE(noFolder);
    // The folder part is matched by the platform's own rules, so its case does not matter.
    auto relative = platform::findFirstMatch("..\\PROJECT\\", q7a, true);
    ASSERT_TRUE(relative) << relative.message();
    EXPECT_EQ(*relative, "..\\PROJECT\\ABq7a999.ROM");
}

// A part number is matched as written: "???" names no image, however many 8-character images
// the folder holds; "Q?A" finds only the image that carries the '?' itself.
TEST_F(ProjectCheck, PartNumberIsTextNotAPattern) {
    project("platform.bin", "P");
    project("abcdefgh.rom", "unrelated");
    project("xyQ7A123.rom", "Q7A's");
    for (const char* partNumber : {"???", "Q?A"}) {
        SCOPED_TRACE(partNumber);
        project("partnum.mak", std::string("PARTNUM = ") + partNumber + "\r\n");
        backend().clearRecords();
        EXPECT_EQ(dialog().CheckProject(), 0);
        EXPECT_EQ(messageTexts(), Strings{texts::kProjectRefused});
    }
    // A name cannot hold '?' on Windows.
#ifndef _WIN32
    project("xyq?a000.rom", "");  // empty files never count
    project("zzq?a000.rom", "the image");
    EXPECT_EQ(build::FirstImageCandidate(projectDir().string(), "Q?A"),
              projectDir().string() + "\\zzq?a000.rom");
#endif
}

}  // namespace
