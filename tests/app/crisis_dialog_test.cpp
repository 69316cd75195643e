// The main dialog's own behaviour on the console backend: its state after start, the
// enabling table, the status line and bar, Start by disk kind, help, the About box and
// painting when minimised.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/CrisisApp.h"
#include "app/messages.h"
#include "support/dialog_harness.h"

namespace {

using dialogtest::DialogHarness;
namespace fs = std::filesystem;

constexpr int kActionControls[] = {IDC_BUTTON_CLOSE, IDC_START, IDC_RADIO_MINIDOS,
                                   IDC_RADIO_FULLDOS, IDC_RADIO_FORMAT};

class CrisisDialog : public DialogHarness {};

TEST_F(CrisisDialog, StateRightAfterStart) {
    CCrisisDlg& dlg = createDialog();
    EXPECT_TRUE(control(IDC_RADIO_MINIDOS)->checked);
    EXPECT_FALSE(control(IDC_RADIO_FULLDOS)->checked);
    EXPECT_FALSE(control(IDC_RADIO_FORMAT)->checked);
    EXPECT_EQ(dlg.m_nDiskKind, 0);
    for (int id : kActionControls) EXPECT_TRUE(control(id)->enabled) << id;
    EXPECT_FALSE(control(IDC_COMBO_PATH)->enabled);
    EXPECT_FALSE(control(IDC_BUTTON_BROWSE)->enabled);
    EXPECT_FALSE(control(IDC_EDIT_STATUS)->enabled);
    EXPECT_EQ(control(IDC_PROGRESS)->pos, 0);
    EXPECT_EQ(control(IDC_PROGRESS)->rangeMin, 0);
    EXPECT_EQ(control(IDC_PROGRESS)->rangeMax, 50);
    EXPECT_EQ(dlg.m_nProgressPos, 1);
    EXPECT_FALSE(dlg.m_bFilesInStartDir);
    EXPECT_EQ(dlg.m_hWnd->focus, control(IDC_BUTTON_CLOSE));
    EXPECT_EQ(std::string(dlg.m_szStartDir), startDir().string());
    EXPECT_EQ(dlg.m_hWnd->bigIcon, dlg.m_hIcon);
    EXPECT_EQ(dlg.m_hWnd->smallIcon, dlg.m_hIcon);
    EXPECT_EQ(dlg.OnQueryDragIcon(), dlg.m_hIcon);
    ASSERT_EQ(dlg.m_hWnd->systemMenu.size(), 2u);
    EXPECT_EQ(dlg.m_hWnd->systemMenu[0].flags, MF_SEPARATOR);
    EXPECT_EQ(dlg.m_hWnd->systemMenu[1].flags, MF_STRING);
    EXPECT_EQ(dlg.m_hWnd->systemMenu[1].id, 0x0010u);
    EXPECT_EQ(dlg.m_hWnd->systemMenu[1].text, "&About Quenvol...");
    EXPECT_TRUE(backend().messages().empty());
}

TEST_F(CrisisDialog, QuotedArgumentKeepsItsQuotesAndTrailingBlanks) {
    CCrisisDlg& dlg = createDialog("\"/proj/my bios\"  ");
    EXPECT_EQ(dlg.m_strProjectPath, "\"/proj/my bios\"  ");
    EXPECT_EQ(comboText(), "\"/proj/my bios\"  ");
}

TEST_F(CrisisDialog, EnablingTableAroundABuild) {
    CCrisisDlg& dlg = createDialog();
    dlg.EnableControls(FALSE);
    for (int id : kActionControls) EXPECT_FALSE(control(id)->enabled) << id;
    EXPECT_TRUE(control(IDC_EDIT_STATUS)->enabled);
    EXPECT_FALSE(control(IDC_BUTTON_BROWSE)->enabled);
    EXPECT_FALSE(control(IDC_COMBO_PATH)->enabled);
    EXPECT_TRUE(control(IDC_PROGRESS)->enabled);

    dlg.EnableControls(TRUE);
    for (int id : kActionControls) EXPECT_TRUE(control(id)->enabled) << id;
    EXPECT_FALSE(control(IDC_EDIT_STATUS)->enabled);
    EXPECT_TRUE(control(IDC_BUTTON_BROWSE)->enabled);
    EXPECT_TRUE(control(IDC_COMBO_PATH)->enabled);
}

TEST_F(CrisisDialog, FilesInStartDirectoryLeaveThePathControlsAsTheyAre) {
    CCrisisDlg& dlg = createDialog();
    dlg.m_bFilesInStartDir = TRUE;
    dlg.EnableControls(TRUE);
    EXPECT_FALSE(control(IDC_BUTTON_BROWSE)->enabled);
    EXPECT_FALSE(control(IDC_COMBO_PATH)->enabled);
    dlg.m_bFilesInStartDir = FALSE;
    dlg.EnableControls(TRUE);
    dlg.m_bFilesInStartDir = TRUE;
    dlg.EnableControls(FALSE);
    EXPECT_TRUE(control(IDC_BUTTON_BROWSE)->enabled);
    EXPECT_TRUE(control(IDC_COMBO_PATH)->enabled);
    EXPECT_FALSE(control(IDC_START)->enabled);
}

TEST_F(CrisisDialog, StatusLineIsReplacedNotAppended) {
    CCrisisDlg& dlg = createDialog();
    dlg.SetStatusText(texts::copying("minidos.sys").c_str());
    dlg.SetStatusText(texts::copying("bios.rom").c_str());
    EXPECT_EQ(control(IDC_EDIT_STATUS)->text, texts::copying("bios.rom"));
    dlg.m_progress.SetPos(30);
    dlg.m_nProgressPos = 31;
    dlg.ResetStatus();
    EXPECT_EQ(control(IDC_EDIT_STATUS)->text, "");
    EXPECT_EQ(control(IDC_PROGRESS)->pos, 0);
    EXPECT_EQ(dlg.m_nProgressPos, 1);
}

TEST_F(CrisisDialog, FormatOnlyKindRunsTheFormatDialogAndKeepsTheDialogOpen) {
    CCrisisDlg& dlg = createDialog();
    click(IDC_RADIO_FORMAT);
    EXPECT_EQ(dlg.m_nDiskKind, 2);
    // Enter on a radio button runs Start; the drive is empty, yet nothing checks for it.
    pressKey(afx::Key::Enter);
    EXPECT_EQ(backend().formatCalls(), 1);
    EXPECT_TRUE(backend().messages().empty());
    EXPECT_EQ(dlg.m_hWnd->focus, control(IDC_START));
    for (int id : kActionControls) EXPECT_TRUE(control(id)->enabled) << id;
    EXPECT_FALSE(dialogEnded());
    EXPECT_FALSE(dialogDestroyed());
    EXPECT_GE(backend().updates(), 1);  // repainted at once after the format dialog
}

TEST_F(CrisisDialog, StartWithAnUnknownKindDoesNothingButFocusStart) {
    CCrisisDlg& dlg = createDialog();
    dlg.m_nDiskKind = 7;
    click(IDC_START);
    EXPECT_EQ(backend().formatCalls(), 0);
    EXPECT_TRUE(backend().messages().empty());
    EXPECT_EQ(dlg.m_hWnd->focus, control(IDC_START));
}

TEST_F(CrisisDialog, StartReadsTheTypedPath) {
    CCrisisDlg& dlg = createDialog();
    control(IDC_COMBO_PATH)->enabled = true;
    typeText(IDC_COMBO_PATH, "/typed/path");
    dlg.m_nDiskKind = 2;
    click(IDC_START);
    EXPECT_EQ(dlg.m_strProjectPath, "/typed/path");
}

TEST_F(CrisisDialog, HelpForControlsButNeverForTheStatusLine) {
    CCrisisDlg& dlg = createDialog();
    pressKey(afx::Key::F1);  // the focus is on Close
    afx::userHelpClick(control(IDC_EDIT_STATUS));
    dlg.EnableControls(FALSE);  // the status line is enabled during a build
    afx::userHelpClick(control(IDC_EDIT_STATUS));
    dlg.EnableControls(TRUE);
    afx::userHelpClick(control(IDC_RADIO_FULLDOS));
    const auto& help = backend().help();
    ASSERT_EQ(help.size(), 2u);
    EXPECT_EQ(help[0].controlId, IDC_BUTTON_CLOSE);
    EXPECT_EQ(help[0].command, HELP_WM_HELP);
    EXPECT_NE(help[0].topic.find("Saves the list of recent project folders"), std::string::npos);
    EXPECT_EQ(help[1].controlId, IDC_RADIO_FULLDOS);
    EXPECT_NE(help[1].topic.find("Create FULLDOS Crisis Disk"), std::string::npos);
}

TEST_F(CrisisDialog, RightClickGivesTheHelpMenuOfEnabledControlsOnly) {
    CCrisisDlg& dlg = createDialog();
    afx::userContextMenu(dlg, control(IDC_START));
    afx::userContextMenu(dlg, control(IDC_PROGRESS));
    afx::userContextMenu(dlg, control(IDC_BUTTON_BROWSE));  // disabled: the dialog's
    afx::userContextMenu(dlg, nullptr);                     // background
    dlg.EnableControls(FALSE);
    afx::userContextMenu(dlg, control(IDC_EDIT_STATUS));  // not excluded here
    const auto& help = backend().help();
    ASSERT_EQ(help.size(), 3u);
    EXPECT_EQ(help[0].controlId, IDC_START);
    EXPECT_EQ(help[1].controlId, IDC_PROGRESS);
    EXPECT_EQ(help[2].controlId, IDC_EDIT_STATUS);
    for (const auto& h : help) EXPECT_EQ(h.command, HELP_CONTEXTMENU);
}

TEST_F(CrisisDialog, MissingHelpFileIsReportedByTheHelpService) {
    CCrisisDlg& dlg = createDialog();
    theApp.SetStartupInfo("quenvol", "", (root() / "nowhere.HLP").string());
    afx::userHelpClick(control(IDC_START));
    ASSERT_EQ(backend().help().size(), 1u);
    EXPECT_NE(backend().help()[0].topic.find("Cannot open the help file"), std::string::npos);
    EXPECT_FALSE(dlg.HasEnded());
}

TEST_F(CrisisDialog, NoHelpFileEndsTheProgram) {
    CCrisisDlg& dlg = createDialog();
    const fs::path help = root() / "edited.HLP";
    theApp.SetStartupInfo("quenvol", "", help.string());
    const std::string none = "No Help topic is associated with this item.";
    const struct {
        std::string content;
        std::string shown;  // for the Start button
    } cases[] = {
        {"[0x806603EE]\n[zz]\nStart\n[Note]\n[99999999999999999999]\n[-1]\n",
         "[zz]\nStart\n[Note]\n[99999999999999999999]\n[-1]"},
        {std::string(3 << 20, '['), none},  // one line longer than is read
    };
    for (const auto& c : cases) {
        dialogtest::writeFile(help, c.content);
        afx::userHelpClick(control(IDC_START));
        ASSERT_FALSE(backend().help().empty());
        EXPECT_EQ(backend().help().back().topic, c.shown);
    }
#ifndef _WIN32
    // A pipe under the help file's name is no help file, and nobody writes to it.
    fs::remove(help);
    ASSERT_EQ(::mkfifo(help.c_str(), 0600), 0);
    afx::userHelpClick(control(IDC_START));
    EXPECT_NE(backend().help().back().topic.find("Cannot open the help file"), std::string::npos);
#endif
    EXPECT_FALSE(dlg.HasEnded());
}

TEST_F(CrisisDialog, AboutBoxFromTheSystemMenu) {
    CCrisisDlg& dlg = createDialog();
    afx::userSysCommand(dlg, 0x0010);
    afx::userSysCommand(dlg, 0x0013);  // the low four bits are not looked at
    EXPECT_EQ(backend().dialogsRun(), (std::vector<int>{100, 100}));
    EXPECT_FALSE(dialogEnded());
    afx::userSysCommand(dlg, SC_CLOSE);
    EXPECT_TRUE(dialogEnded());
    EXPECT_FALSE(fs::exists(settingsFile()));
}

TEST_F(CrisisDialog, MinimisedPaintingCentresTheIcon) {
    CCrisisDlg& dlg = createDialog();
    dlg.SendMessage(WM_PAINT);
    EXPECT_TRUE(backend().draws().empty());  // not minimised: default painting
    dlg.m_hWnd->iconic = true;
    for (LONG width : {36, 30, 29}) {
        dlg.m_hWnd->client = {0, 0, width, 40};
        dlg.SendMessage(WM_PAINT);
    }
    const auto& draws = backend().draws();
    ASSERT_EQ(draws.size(), 3u);
    EXPECT_EQ(draws[0].x, 2);
    EXPECT_EQ(draws[1].x, 0);  // (-1) / 2 truncates toward zero
    EXPECT_EQ(draws[2].x, -1);
    EXPECT_EQ(draws[0].y, 4);
    EXPECT_EQ(draws[0].icon, dlg.m_hIcon);
}

TEST_F(CrisisDialog, StartDirectoryTooLongForItsFieldIsRefused) {
    fs::path deep = root();
    while (deep.string().size() <= 130) deep /= "a-rather-long-folder-name";
    fs::create_directories(deep);
    std::error_code changed;
    fs::current_path(deep, changed);
    ASSERT_FALSE(changed);
    CCrisisDlg& dlg = createDialog();
    EXPECT_TRUE(dialogEnded());
    ASSERT_EQ(backend().messages().size(), 1u);
    EXPECT_NE(backend().messages()[0].text.find(deep.string()), std::string::npos);
    EXPECT_EQ(dlg.m_szStartDir[0], '\0');
    EXPECT_FALSE(fs::exists(settingsFile()));
}

}  // namespace
