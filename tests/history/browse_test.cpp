// The folder chooser: how it is set up, how the folder is cut from the returned path, and
// what Browse does to the project path, the combo box and the history.
#include <cstring>
#include <string>
#include <vector>

#include "history/DirDlg.h"
#include "support/dialog_harness.h"

namespace {

using dialogtest::DialogHarness;
using dialogtest::readFile;
using dialogtest::writeFile;
using Strings = std::vector<std::string>;

std::string folderOf(const std::string& path, WORD offset) {
    char buffer[MAX_PATH] = {};
    std::strncpy(buffer, path.c_str(), sizeof buffer - 1);
    OPENFILENAME ofn;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.nFileOffset = offset;
    return FolderOfChosenFile(ofn).str();
}

TEST(ChosenFolder, IsThePathBeforeTheFileName) {
    EXPECT_EQ(folderOf("C:\\PROJECTS\\BIOS1\\Junk", 18), "C:\\PROJECTS\\BIOS1");
    EXPECT_EQ(folderOf("/projects/bios1/Junk", 16), "/projects/bios1");
}

TEST(ChosenFolder, DriveRootGivesTheDriveAlone) {
    EXPECT_EQ(folderOf("C:\\Junk", 3), "C:");
}

TEST(ChosenFolder, RootFolderGivesTheSlash) {
    EXPECT_EQ(folderOf("//Junk", 2), "/");
}

TEST(ChosenFolder, RecordWithoutAFolderGivesNothing) {
    EXPECT_EQ(folderOf("Junk", 0), "");
    EXPECT_EQ(folderOf("/Junk", 1), "");
    EXPECT_EQ(folderOf("/a/Junk", 9), "");  // past the end of the path
}

TEST(ChosenFolder, FollowsWhatTheFrameworkReturns) {
    // Without its windows the chooser's name field falls back to the initial file name,
    // so give it one as the template's field would hold.
    CDirDlg named(FALSE, nullptr, kChooserDummyName);
    ASSERT_TRUE(named.SetChosenFolder("/projects/bios1"));
    EXPECT_EQ(std::string(named.m_ofn.lpstrFile), "/projects/bios1/Junk");
    EXPECT_EQ(FolderOfChosenFile(named.m_ofn).str(), "/projects/bios1");
    ASSERT_TRUE(named.SetChosenFolder("/"));
    EXPECT_EQ(FolderOfChosenFile(named.m_ofn).str(), "/");
}

TEST(DirDlg, IsTheOldStyleSaveAsDialogOnTemplate129) {
    CDirDlg dlg(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(dlg.m_ofn.Flags, 0x800066u);
    EXPECT_EQ(dlg.m_ofn.lpTemplateName, 129);
    EXPECT_TRUE(dlg.IsSaveDialog());
}

// What the chooser saw when Browse opened it.
struct Seen {
    std::string initialDir;
    std::string nameField;
    std::string fileOnEntry;
    DWORD flags = 0;
    int templateId = 0;
};

class BrowseTest : public DialogHarness {
  protected:
    // Starts the dialog over `settings` with Browse enabled, as after a Start that did not
    // find the BIOS files in the start directory.
    void start(const std::string& settings, const std::string& cmdLine = "") {
        writeFile(settingsFile(), settings);
        createDialog(cmdLine);
        dialog().EnableControls(TRUE);
    }
    // Queues one chooser run that records what it saw, browses to `folder` and answers
    // with `answer`.
    void choose(const std::string& folder, INT_PTR answer = IDOK) {
        policy().fileChoices.push_back([this, folder, answer](CFileDialog& d) -> INT_PTR {
            Seen s;
            s.initialDir = d.m_ofn.lpstrInitialDir ? d.m_ofn.lpstrInitialDir : "<none>";
            s.nameField = d.FileNameField();
            s.fileOnEntry = d.m_ofn.lpstrFile;
            s.flags = d.m_ofn.Flags;
            s.templateId = d.TemplateId();
            m_seen.push_back(s);
            if (!d.SetChosenFolder(folder)) return IDCANCEL;
            return answer;
        });
    }
    Strings slots() {
        Strings v;
        for (const CString& s : dialog().m_strHistory) v.push_back(s.str());
        return v;
    }

    std::vector<Seen> m_seen;
};

TEST_F(BrowseTest, ChooserStartsAtTheRootWithTheDummyName) {
    start("");
    choose("/projects/bios1");
    click(IDC_BUTTON_BROWSE);
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(m_seen[0].initialDir, "c:\\");
    EXPECT_EQ(m_seen[0].nameField, "Junk");
    EXPECT_EQ(m_seen[0].fileOnEntry, "");
    EXPECT_EQ(m_seen[0].flags, 0x800066u);
    EXPECT_EQ(m_seen[0].templateId, 129);
    EXPECT_TRUE(policy().fileChoices.empty());
    EXPECT_TRUE(backend().messages().empty());
}

TEST_F(BrowseTest, ChosenFolderBecomesTheNewestEntry) {
    start("P1\r\nP2\r\nP3\r\nP4\r\n");
    choose(projectDir().string());
    click(IDC_BUTTON_BROWSE);
    const std::string folder = projectDir().string();
    EXPECT_EQ(dialog().m_strProjectPath.str(), folder);
    EXPECT_EQ(comboText(), folder);
    EXPECT_EQ(comboItems(), (Strings{folder, "P4", "P3", "P2"}));
    EXPECT_EQ(control(IDC_COMBO_PATH)->curSel, 0);
    click(IDC_BUTTON_CLOSE);
    EXPECT_EQ(readFile(settingsFile()), "P2\r\nP3\r\nP4\r\n" + folder + "\r\n");
}

TEST_F(BrowseTest, FolderWithFinalSlashIsTakenWithoutIt) {
    start("");
    choose("/projects/bios1/");
    click(IDC_BUTTON_BROWSE);
    EXPECT_EQ(dialog().m_strProjectPath.str(), "/projects/bios1");
}

TEST_F(BrowseTest, RootFolderIsTheSlash) {
    start("");
    choose("/");
    click(IDC_BUTTON_BROWSE);
    EXPECT_EQ(dialog().m_strProjectPath.str(), "/");
    EXPECT_EQ(comboText(), "/");
    EXPECT_EQ(slots(), (Strings{"", "", "", "/"}));
}

TEST_F(BrowseTest, NewestFolderAgainLeavesTheHistoryAsItIs) {
    const std::string folder = projectDir().string();
    start("P1\r\nP2\r\nP3\r\n" + folder + "\r\n");
    typeText(IDC_COMBO_PATH, "/typed/elsewhere");
    choose(folder);
    click(IDC_BUTTON_BROWSE);
    EXPECT_EQ(slots(), (Strings{"P1", "P2", "P3", folder}));
    EXPECT_EQ(comboItems(), (Strings{folder, "P3", "P2", "P1"}));
    EXPECT_EQ(comboText(), folder);
    EXPECT_EQ(dialog().m_strProjectPath.str(), folder);
}

TEST_F(BrowseTest, CancelChangesNothing) {
    start("P1\r\nP2\r\nP3\r\nP4\r\n");
    typeText(IDC_COMBO_PATH, "/typed");
    choose("/somewhere/else", IDCANCEL);
    click(IDC_BUTTON_BROWSE);
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(dialog().m_strProjectPath.str(), "P4");
    EXPECT_EQ(comboText(), "/typed");
    EXPECT_EQ(comboItems(), (Strings{"P4", "P3", "P2", "P1"}));
    EXPECT_EQ(slots(), (Strings{"P1", "P2", "P3", "P4"}));
}

TEST_F(BrowseTest, SecondBrowseStartsAtTheRootAgain) {
    start("");
    choose(projectDir().string());
    choose("/projects/bios2");
    click(IDC_BUTTON_BROWSE);
    click(IDC_BUTTON_BROWSE);
    ASSERT_EQ(m_seen.size(), 2u);
    EXPECT_EQ(m_seen[1].initialDir, "c:\\");
    EXPECT_EQ(m_seen[1].fileOnEntry, "");
    EXPECT_EQ(m_seen[1].nameField, "Junk");
    EXPECT_EQ(slots(), (Strings{"", "", projectDir().string(), "/projects/bios2"}));
}

TEST_F(BrowseTest, DisabledBrowseButtonOpensNoChooser) {
    writeFile(settingsFile(), "");
    createDialog();
    choose("/projects/bios1");
    click(IDC_BUTTON_BROWSE);
    EXPECT_TRUE(m_seen.empty());
    EXPECT_EQ(slots(), (Strings{"", "", "", ""}));
}

}  // namespace
