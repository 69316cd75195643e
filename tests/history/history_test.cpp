// The path history: splitting, the settings file's bytes in every shape it can take, the
// shift on push, and saving on Close only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "support/dialog_harness.h"
#include "support/message_shape.h"

namespace {

using dialogtest::DialogHarness;
using dialogtest::readFile;
using dialogtest::writeFile;
using Strings = std::vector<std::string>;

constexpr const char* kFourPaths = "P1\r\nP2\r\nP3\r\nP4\r\n";
constexpr const char* kFourEmpty = "\r\n\r\n\r\n\r\n";

struct Split {
    std::string piece;
    std::string rest;
};

Split extract(char sep, const std::string& text, int skip) {
    CCrisisDlg dlg;  // splitting needs no window
    CString rest(text);
    const CString piece = dlg.ExtractToken(sep, rest, skip);
    return {piece.str(), rest.str()};
}

TEST(ExtractToken, LineEndedByCrLfIsCutWithItsEnding) {
    const Split s = extract('\r', "P1\r\nP2\r\n", 2);
    EXPECT_EQ(s.piece, "P1");
    EXPECT_EQ(s.rest, "P2\r\n");
}

TEST(ExtractToken, CharacterAfterTheSeparatorIsSkippedWhateverItIs) {
    const Split s = extract('\r', "P1\rXP2", 2);
    EXPECT_EQ(s.piece, "P1");
    EXPECT_EQ(s.rest, "P2");
}

TEST(ExtractToken, SeparatorAsLastCharacterLeavesNothing) {
    const Split s = extract('\r', "P1\r", 2);
    EXPECT_EQ(s.piece, "P1");
    EXPECT_EQ(s.rest, "");
}

TEST(ExtractToken, TextWithoutSeparatorGivesEmptyPieceAndLosesOneCharacter) {
    const Split s = extract('\r', "abc\n", 2);
    EXPECT_EQ(s.piece, "");
    EXPECT_EQ(s.rest, "bc\n");
}

TEST(ExtractToken, SeparatorFirstGivesEmptyPiece) {
    const Split s = extract('\r', "\r\nP2", 2);
    EXPECT_EQ(s.piece, "");
    EXPECT_EQ(s.rest, "P2");
}

TEST(ExtractToken, OtherSeparatorAndSkip) {
    const Split s = extract(';', "a;b;c", 1);
    EXPECT_EQ(s.piece, "a");
    EXPECT_EQ(s.rest, "b;c");
}

class HistoryTest : public DialogHarness {
  protected:
    Strings slots() {
        Strings v;
        for (const CString& s : dialog().m_strHistory) v.push_back(s.str());
        return v;
    }
    // Starts the dialog over the settings file `content` and closes it with the Close button.
    std::string roundTrip(const std::string& content, const std::string& cmdLine = "") {
        writeFile(settingsFile(), content);
        createDialog(cmdLine);
        click(IDC_BUTTON_CLOSE);
        EXPECT_TRUE(dialogDestroyed());
        return readFile(settingsFile()).value_or("<no file>");
    }
    // Entries other than quenvol.ini in the settings folder: leftovers of a save.
    Strings strayFiles() {
        Strings v;
        for (const auto& e : dialogtest::fs::directory_iterator(settingsDir()))
            if (e.path().filename() != "quenvol.ini") v.push_back(e.path().filename().string());
        return v;
    }
};

TEST_F(HistoryTest, FirstRunShowsFourEmptyItemsAndCloseWritesEightBytes) {
    createDialog();
    EXPECT_EQ(comboItems(), (Strings{"", "", "", ""}));
    EXPECT_EQ(comboText(), "");
    EXPECT_EQ(dialog().m_strProjectPath.str(), "");
    click(IDC_BUTTON_CLOSE);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(readFile(settingsFile()), kFourEmpty);
    EXPECT_TRUE(backend().messages().empty());
}

TEST_F(HistoryTest, CommandLinePathBecomesNewestAndOldestDropsOut) {
    writeFile(settingsFile(), kFourPaths);
    createDialog("/X");
    EXPECT_EQ(slots(), (Strings{"P2", "P3", "P4", "/X"}));
    EXPECT_EQ(comboItems(), (Strings{"/X", "P4", "P3", "P2"}));
    EXPECT_EQ(comboText(), "/X");
    EXPECT_EQ(control(IDC_COMBO_PATH)->curSel, 0);
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(settingsFile()), "P2\r\nP3\r\nP4\r\n/X\r\n");
}

// Unchanged content is not even rewritten: the file is the same file afterwards; a change
// replaces it.
TEST_F(HistoryTest, CommandLineEqualToNewestChangesNothing) {
    for (const auto& [cmdLine, rewritten] : {std::pair{"P4", false}, std::pair{"P5", true}}) {
        writeFile(settingsFile(), kFourPaths);
        struct stat was {};
        ASSERT_EQ(::stat(settingsFile().c_str(), &was), 0);
        createDialog(cmdLine);
        click(IDC_BUTTON_CLOSE);
        struct stat now {};
        ASSERT_EQ(::stat(settingsFile().c_str(), &now), 0);
        EXPECT_EQ(now.st_ino != was.st_ino, rewritten) << cmdLine;
        EXPECT_EQ(readFile(settingsFile()) == kFourPaths, !rewritten) << cmdLine;
    }
}

// The next run may start elsewhere: a relative path enters the history as the folder it names
// from the start directory, its parts as written; what names its own root stays as it is.
TEST_F(HistoryTest, RelativePathEntersAsTheFolderItNamesFromTheStartDirectory) {
    const std::string start = startDir().string(), parent = startDir().parent_path().string();
    for (const auto& [cmdLine, kept] :
         std::vector<std::pair<std::string, std::string>>{{".", start},
                                                          {"../project", parent + "/project"},
                                                          {"..\\bios 1 \\.\\", parent + "/bios 1 "},
                                                          {"sub/../x", start + "/x"},
                                                          {"/abs/p", "/abs/p"},
                                                          {"C:\\W", "C:\\W"},
                                                          {"\"q d\"", "\"q d\""}}) {
        SCOPED_TRACE(cmdLine);
        writeFile(settingsFile(), kFourPaths);
        createDialog(cmdLine);
        EXPECT_EQ(slots().back(), kept);
        EXPECT_EQ(dialog().m_strProjectPath.str(), cmdLine);  // the path itself is as typed
        click(IDC_BUTTON_CLOSE);
    }
    // What a settings file already holds is read as it is.
    writeFile(settingsFile(), "a\r\n.\r\n../p\r\nP4\r\n");
    createDialog();
    EXPECT_EQ(slots(), (Strings{"a", ".", "../p", "P4"}));
}

TEST_F(HistoryTest, CommandLineDifferingOnlyInCaseIsANewEntry) {
    EXPECT_EQ(roundTrip("P1\r\nP2\r\nP3\r\n/P4\r\n", "/p4"), "P2\r\nP3\r\n/P4\r\n/p4\r\n");
}

TEST_F(HistoryTest, FinalBackslashMakesADifferentPath) {
    EXPECT_EQ(roundTrip("\r\n\r\n\r\nC:\\W\r\n", "C:\\W\\"), "\r\n\r\nC:\\W\r\nC:\\W\\\r\n");
}

// The file holds one path a line: a path with a line break would come back as two entries,
// or as one cut short, and the next run would build another folder. It is never kept.
TEST_F(HistoryTest, APathWithALineBreakIsNeverKept) {
    for (const std::string path : {"C:\\A\r\nC:\\B", "C:\\A\rB", "C:\\A\nB"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(roundTrip(kFourPaths, path), kFourPaths);
    }
}

TEST_F(HistoryTest, PathAlreadyInAnOlderSlotIsAddedAgain) {
    EXPECT_EQ(roundTrip("/P1\r\n/P2\r\n/P3\r\n/P4\r\n", "/P2"), "/P2\r\n/P3\r\n/P4\r\n/P2\r\n");
    createDialog();
    EXPECT_EQ(comboItems(), (Strings{"/P2", "/P4", "/P3", "/P2"}));
}

TEST_F(HistoryTest, EmptyCommandLineShowsTheNewestPath) {
    writeFile(settingsFile(), kFourPaths);
    createDialog();
    EXPECT_EQ(dialog().m_strProjectPath.str(), "P4");
    EXPECT_EQ(comboText(), "P4");
    EXPECT_EQ(comboItems(), (Strings{"P4", "P3", "P2", "P1"}));
}

TEST_F(HistoryTest, SavedFileReadsBackIntoTheSameSlotsEmptyOnesIncluded) {
    const std::string content = "\r\nA b\\c\r\n\r\n\xE9t\xE9\r\n";
    EXPECT_EQ(roundTrip(content), content);
    createDialog();
    EXPECT_EQ(slots(), (Strings{"", "A b\\c", "", "\xE9t\xE9"}));
}

TEST_F(HistoryTest, LastFourFoldersSurviveARestart) {
    createDialog("/w/one");
    click(IDC_BUTTON_CLOSE);
    for (const char* path : {"/w/two", "/w/three", "/w/four", "/w/five"}) {
        createDialog(path);
        click(IDC_BUTTON_CLOSE);
    }
    createDialog();
    EXPECT_EQ(comboItems(), (Strings{"/w/five", "/w/four", "/w/three", "/w/two"}));
    EXPECT_EQ(comboText(), "/w/five");
    EXPECT_EQ(readFile(settingsFile()), "/w/two\r\n/w/three\r\n/w/four\r\n/w/five\r\n");
}

TEST_F(HistoryTest, ThreeLinesFillTheOldestSlots) {
    writeFile(settingsFile(), "P1\r\nP2\r\nP3\r\n");
    createDialog();
    EXPECT_EQ(slots(), (Strings{"P1", "P2", "P3", ""}));
    EXPECT_EQ(comboItems(), (Strings{"", "P3", "P2", "P1"}));
    EXPECT_EQ(dialog().m_strProjectPath.str(), "");
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(settingsFile()), "P1\r\nP2\r\nP3\r\n\r\n");
}

TEST_F(HistoryTest, LinesAfterTheFourthAreDropped) {
    EXPECT_EQ(roundTrip("P1\r\nP2\r\nP3\r\nP4\r\nP5\r\nP6\r\n"), kFourPaths);
}

TEST_F(HistoryTest, EmptyFileActsLikeNoFile) {
    EXPECT_EQ(roundTrip(""), kFourEmpty);
}

TEST_F(HistoryTest, NulEndsTheText) {
    using namespace std::string_literals;
    EXPECT_EQ(roundTrip("P1\r\nP2\0X\r\nP3\r\nP4\r\n"s), "P1\r\n\r\n\r\n\r\n");
    EXPECT_EQ(roundTrip("\0P1\r\nP2\r\nP3\r\nP4\r\n"s), kFourEmpty);
}

TEST_F(HistoryTest, FourthLineWithoutCrLfGivesAnEmptyNewestSlot) {
    EXPECT_EQ(roundTrip("P1\r\nP2\r\nP3\r\nP4"), "P1\r\nP2\r\nP3\r\n\r\n");
}

TEST_F(HistoryTest, FourthLineEndedByCrAloneIsKept) {
    EXPECT_EQ(roundTrip("P1\r\nP2\r\nP3\r\nP4\r"), kFourPaths);
}

TEST_F(HistoryTest, LineWithoutCrLfEmptiesEveryLaterSlot) {
    EXPECT_EQ(roundTrip("P1\r\nP2"), "P1\r\n\r\n\r\n\r\n");
}

TEST_F(HistoryTest, LinesEndedByLfAloneGiveEmptySlots) {
    EXPECT_EQ(roundTrip("P1\nP2\nP3\nP4\n"), kFourEmpty);
}

TEST_F(HistoryTest, TypedPathIsNotSavedWithoutStartOrBrowse) {
    writeFile(settingsFile(), kFourPaths);
    createDialog();
    dialog().EnableControls(TRUE);
    typeText(IDC_COMBO_PATH, "/typed/here");
    ASSERT_EQ(comboText(), "/typed/here");
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(settingsFile()), kFourPaths);
}

TEST_F(HistoryTest, EscapeWritesNothing) {
    writeFile(settingsFile(), kFourPaths);
    createDialog("/X");
    pressKey(afx::Key::Escape);
    EXPECT_TRUE(dialogEnded());
    EXPECT_EQ(dialog().Result(), IDCANCEL);
    EXPECT_EQ(readFile(settingsFile()), kFourPaths);
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(HistoryTest, EscapeOnFirstRunCreatesNoFile) {
    createDialog("/X");
    pressKey(afx::Key::Escape);
    EXPECT_TRUE(dialogEnded());
    EXPECT_FALSE(dialogtest::fs::exists(settingsFile()));
}

TEST_F(HistoryTest, CaptionCloseBoxWritesNothing) {
    writeFile(settingsFile(), kFourPaths);
    createDialog("/X");
    afx::userSysCommand(dialog(), SC_CLOSE);
    EXPECT_TRUE(dialogEnded());
    EXPECT_EQ(readFile(settingsFile()), kFourPaths);
}

TEST_F(HistoryTest, EnterRightAfterStartClosesAndSaves) {
    createDialog("/X");
    pressKey(afx::Key::Enter);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(readFile(settingsFile()), "\r\n\r\n\r\n/X\r\n");
}

TEST_F(HistoryTest, LongestRealPathsReadBackWhole) {
    // Four paths of Linux's longest with their line ends fit the read limit.
    std::string content;
    for (char c : {'a', 'b', 'c', 'd'}) content += "/" + std::string(4095, c) + "\r\n";
    EXPECT_EQ(roundTrip(content), content);
}

TEST_F(HistoryTest, HugeFileIsReadOnlyAsFarAsTheLimit) {
    // A terabyte that holds nothing past its first line ends: reading it whole would not fit
    // in memory, so loading at all shows the read is bounded.
    writeFile(settingsFile(), kFourPaths);
    ASSERT_EQ(::truncate(settingsFile().c_str(), 1LL << 40), 0);
    createDialog();
    EXPECT_EQ(slots(), (Strings{"P1", "P2", "P3", "P4"}));
}

TEST_F(HistoryTest, OverLongLineGivesAnEmptySlotAndTheLinesAfterItStay) {
    const std::string limit(64 * 1024, 'k');  // the longest line kept
    const std::string over(70000, 'x');
    const struct {
        std::string content;
        std::string saved;
    } cases[] = {
        {over + "\r\nP2\r\nP3\r\nP4\r\n", "\r\nP2\r\nP3\r\nP4\r\n"},
        {"P1\r\n" + over + "\r\nP3\r\nP4\r\n", "P1\r\n\r\nP3\r\nP4\r\n"},
        {limit + "\r\n" + limit + "x\r\nP3\r\n", limit + "\r\n\r\nP3\r\n\r\n"},
        // No line end at all, or none before the file is read no further.
        {"P1\r\n" + over, "P1\r\n\r\n\r\n\r\n"},
        {std::string(17 << 20, 'y') + "\r\nP2\r\n", kFourEmpty},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 8));
        EXPECT_EQ(roundTrip(c.content), c.saved);
    }
}

TEST_F(HistoryTest, SaveCreatesTheMissingSettingsFolderPrivately) {
    const auto deep = root() / "made" / "for" / "settings";
    dialogtest::ScopedEnv config("XDG_CONFIG_HOME", deep.string());
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(deep / "quenvol.ini"), "\r\n\r\n\r\n/X\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(deep.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(backend().messages().empty());
}

TEST_F(HistoryTest, SaveLeavesNoTemporaryFileBehind) {
    writeFile(settingsFile(), kFourPaths);
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(settingsFile()), "P2\r\nP3\r\nP4\r\n/X\r\n");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(HistoryTest, SettingsFolderThatIsAFileIsToldAndTheDialogStillCloses) {
    dialogtest::fs::remove_all(settingsDir());
    writeFile(settingsDir(), "not a folder");
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(readFile(settingsDir()), "not a folder");
    ASSERT_EQ(backend().messages().size(), 1u);
    const auto& box = backend().messages().front();
    const auto detail = textsupport::findComposed(box.text, texts::historyNotSaved);
    ASSERT_TRUE(detail.has_value()) << box.text;
    EXPECT_NE(detail->find(settingsDir().string()), std::string::npos) << box.text;
    EXPECT_NE(detail->find("Not a directory"), std::string::npos) << box.text;
    EXPECT_EQ(box.caption, "quenvol");
    EXPECT_EQ(box.icon, MB_ICONEXCLAMATION);
}

TEST_F(HistoryTest, SettingsFileThatIsAFolderIsLeftAloneWithoutLeftovers) {
    dialogtest::fs::create_directories(settingsFile());
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_TRUE(dialogtest::fs::is_directory(settingsFile()));
    EXPECT_TRUE(strayFiles().empty());
    ASSERT_EQ(backend().messages().size(), 1u);
    EXPECT_NE(backend().messages().front().text.find(settingsFile().string()), std::string::npos);
}

TEST_F(HistoryTest, ReadOnlySettingsFolderKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    writeFile(settingsFile(), kFourPaths);
    ASSERT_EQ(::chmod(settingsDir().c_str(), 0500), 0);
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    ::chmod(settingsDir().c_str(), 0700);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(readFile(settingsFile()), kFourPaths);
    EXPECT_TRUE(strayFiles().empty());
    EXPECT_EQ(backend().messages().size(), 1u);
}

TEST_F(HistoryTest, SettingsNameTooLongForItsBufferIsNeverUsed) {
    // 260 characters hold the name with its terminator; a longer one would be cut to another
    // file's name.
    std::string longDir = settingsDir().string() + "/";
    longDir += std::string(260 - longDir.size() - 12, 'd');  // "\quenvol.ini" ends at 260
    dialogtest::ScopedEnv config("XDG_CONFIG_HOME", longDir);
    writeFile(dialogtest::fs::path(longDir) / "quenvol.ini", kFourPaths);
    createDialog("/X");
    EXPECT_EQ(slots(), (Strings{"", "", "", "/X"}));
    click(IDC_BUTTON_CLOSE);
    EXPECT_TRUE(dialogDestroyed());
    EXPECT_EQ(readFile(dialogtest::fs::path(longDir) / "quenvol.ini"), kFourPaths);
    ASSERT_EQ(backend().messages().size(), 1u);
    EXPECT_NE(backend().messages().front().text.find("259 characters"), std::string::npos)
        << backend().messages().front().text;
}

TEST_F(HistoryTest, SettingsNameThatJustFitsIsUsed) {
    std::string longDir = settingsDir().string() + "/";
    longDir += std::string(259 - longDir.size() - 12, 'd');  // 259 with "\quenvol.ini"
    dialogtest::ScopedEnv config("XDG_CONFIG_HOME", longDir);
    writeFile(dialogtest::fs::path(longDir) / "quenvol.ini", kFourPaths);
    createDialog("/X");
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(dialogtest::fs::path(longDir) / "quenvol.ini"), "P2\r\nP3\r\nP4\r\n/X\r\n");
    EXPECT_TRUE(backend().messages().empty());
}

// A settings file that is a symbolic link (a dotfile manager's) stays a link, and the file at
// its end takes the new history, keeping its permissions; a link to a file not yet made makes
// it. No temporary is left beside the link or the target.
TEST_F(HistoryTest, SettingsFileThatIsALinkIsSavedThroughToItsTarget) {
    const auto dotfiles = root() / "dotfiles";
    struct Shape {
        std::string linkText;   // what quenvol.ini points at
        std::string chainLink;  // a second link in dotfiles, or none
        bool targetExists;
    };
    const Shape shapes[] = {
        {"../dotfiles/quenvol.ini", "", true},
        {(dotfiles / "chain").string(), "quenvol.ini", true},
        {"../dotfiles/quenvol.ini", "", false},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.linkText + " " + shape.chainLink);
        dialogtest::fs::remove_all(dotfiles);
        dialogtest::fs::remove(settingsFile());
        dialogtest::fs::create_directories(dotfiles);
        const auto target = dotfiles / "quenvol.ini";
        if (shape.targetExists) {
            writeFile(target, kFourPaths);
            ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
        }
        if (!shape.chainLink.empty())
            dialogtest::fs::create_symlink(shape.chainLink, dotfiles / "chain");
        dialogtest::fs::create_symlink(shape.linkText, settingsFile());

        createDialog("/X");
        click(IDC_BUTTON_CLOSE);
        EXPECT_TRUE(backend().messages().empty());
        EXPECT_TRUE(dialogtest::fs::is_symlink(settingsFile()));
        EXPECT_EQ(readFile(target),
                  shape.targetExists ? "P2\r\nP3\r\nP4\r\n/X\r\n" : "\r\n\r\n\r\n/X\r\n");
        struct stat info {};
        ASSERT_EQ(::lstat(target.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        if (shape.targetExists) {
            EXPECT_EQ(info.st_mode & 07777, 0600u);
        }
        EXPECT_TRUE(strayFiles().empty());
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : dialogtest::fs::directory_iterator(dotfiles))
            ++entries;
        EXPECT_EQ(entries, shape.chainLink.empty() ? 1u : 2u);
    }
}

// A replaced settings file keeps its permissions; a new one gets 0644 less the umask.
TEST_F(HistoryTest, SavedFileKeepsItsPermissionsAndANewOneHas0644LessTheUmask) {
    struct Case {
        int existingMode;  // -1: no settings file yet
        mode_t umask;
        mode_t expected;
    };
    const Case cases[] = {
        {0600, 022, 0600}, {0640, 077, 0640}, {0604, 0, 0604},
        {-1, 022, 0644},   {-1, 077, 0600},   {-1, 0, 0644},
    };
    const mode_t before = ::umask(022);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.existingMode);
        SCOPED_TRACE(c.umask);
        dialogtest::fs::remove(settingsFile());
        if (c.existingMode >= 0) {
            writeFile(settingsFile(), kFourPaths);
            ASSERT_EQ(::chmod(settingsFile().c_str(), static_cast<mode_t>(c.existingMode)), 0);
        }
        ::umask(c.umask);
        createDialog("/X");
        click(IDC_BUTTON_CLOSE);
        ::umask(022);
        struct stat info {};
        ASSERT_EQ(::stat(settingsFile().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expected);
    }
    ::umask(before);
}

}  // namespace
