// The framework's dialog rules on the console backend: focus, Enter and Escape, automatic
// radio buttons, data exchange and the control messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/input.h"
#include "support/scripted_policy.h"
#include "ui/console/console_backend.h"

namespace {

// Template 102 with handlers that only record what reached them.
class RecordingDialog : public CDialog {
  public:
    RecordingDialog() : CDialog(102) {}
    std::vector<std::string> events;
    int kind = -1;
    CString path;

    void OnClose() { events.push_back("close"); }
    void OnStartClicked() { events.push_back("start"); }
    void OnMinidos() { events.push_back("minidos"); }
    void OnFulldos() { events.push_back("fulldos"); }
    void OnContext(CWnd* wnd, POINT) {
        events.push_back(wnd == this ? "context:dialog"
                                     : "context:" + std::to_string(wnd ? wnd->GetDlgCtrlID() : 0));
    }
    void OnOK() override { events.push_back("ok"); }
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Radio(pDX, 1001, kind);
        DDX_CBString(pDX, 1000, path);
    }
    const MessageMap& GetMessageMap() const override {
        static const MessageMap map = {
            ON_BN_CLICKED(1007, &RecordingDialog::OnClose),
            ON_BN_CLICKED(1006, &RecordingDialog::OnStartClicked),
            ON_BN_CLICKED(1001, &RecordingDialog::OnMinidos),
            ON_BN_CLICKED(1003, &RecordingDialog::OnFulldos),
            // A second entry for the same command is never reached: the first match wins.
            ON_BN_CLICKED(1006, &RecordingDialog::OnClose),
            ON_WM_CONTEXTMENU(&RecordingDialog::OnContext),
        };
        return map;
    }
    HWND item(int id) const { return afx::findControl(m_hWnd, id); }
};

class DialogManager : public ::testing::Test {
  protected:
    void SetUp() override {
        AfxSetBackend(&backend);
        ASSERT_TRUE(dlg.Create());
    }
    void TearDown() override { AfxSetBackend(nullptr); }

    console::ScriptedPolicy policy;
    console::ConsoleBackend backend{policy};
    RecordingDialog dlg;
};

TEST_F(DialogManager, FocusStartsOnTheFirstEnabledTabStop) {
    EXPECT_EQ(dlg.m_hWnd->focus, dlg.item(1007));
    // Disabled in the template: the path, the status line and Browse.
    EXPECT_FALSE(dlg.item(1000)->enabled);
    EXPECT_FALSE(dlg.item(1008)->enabled);
    EXPECT_FALSE(dlg.item(1004)->enabled);
    EXPECT_TRUE(dlg.item(1005)->enabled);
}

TEST_F(DialogManager, EnterPressesTheFocusedButtonElseRunsOk) {
    afx::userKey(dlg, afx::Key::Enter);
    afx::userSetFocus(dlg.item(1001));
    afx::userKey(dlg, afx::Key::Enter);
    afx::userSetFocus(dlg.item(1006));
    afx::userKey(dlg, afx::Key::Enter);
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"close", "ok", "start"}));
    EXPECT_FALSE(dlg.HasEnded());
}

TEST_F(DialogManager, EscapeCancels) {
    afx::userKey(dlg, afx::Key::Escape);
    EXPECT_TRUE(dlg.HasEnded());
    EXPECT_EQ(dlg.Result(), IDCANCEL);
    EXPECT_TRUE(dlg.events.empty());
}

TEST_F(DialogManager, CaptionCloseBoxCancelsToo) {
    afx::userSysCommand(dlg, SC_CLOSE);
    EXPECT_TRUE(dlg.HasEnded());
    EXPECT_EQ(dlg.Result(), IDCANCEL);
}

TEST_F(DialogManager, AutomaticRadioButtonsKeepOneOfTheirGroup) {
    afx::userClick(dlg.item(1003));
    EXPECT_TRUE(dlg.item(1003)->checked);
    afx::userClick(dlg.item(1001));
    EXPECT_TRUE(dlg.item(1001)->checked);
    EXPECT_FALSE(dlg.item(1003)->checked);
    EXPECT_FALSE(dlg.item(1002)->checked);
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"fulldos", "minidos"}));
    EXPECT_EQ(dlg.m_hWnd->focus, dlg.item(1001));
    dlg.UpdateData(TRUE);
    EXPECT_EQ(dlg.kind, 0);
}

TEST_F(DialogManager, DisabledControlsIgnoreClicks) {
    afx::userClick(dlg.item(1004));
    EXPECT_TRUE(dlg.events.empty());
    EXPECT_EQ(dlg.m_hWnd->focus, dlg.item(1007));
}

TEST_F(DialogManager, RadioExchangeLoadsAndSavesTheIndex) {
    dlg.kind = 2;
    dlg.UpdateData(FALSE);
    EXPECT_TRUE(dlg.item(1002)->checked);  // the group runs 1001, 1003, 1002
    EXPECT_FALSE(dlg.item(1001)->checked);
    dlg.kind = -1;
    dlg.UpdateData(FALSE);
    dlg.UpdateData(TRUE);
    EXPECT_EQ(dlg.kind, -1);
}

TEST_F(DialogManager, ComboExchangeSelectsByPrefixIgnoringCase) {
    CComboBox combo;
    combo.m_hWnd = dlg.item(1000);
    combo.AddString("/proj/BIOS1");
    combo.AddString("/proj/bios2");
    dlg.path = "/PROJ/b";
    dlg.UpdateData(FALSE);
    EXPECT_EQ(combo.GetCurSel(), 0);
    EXPECT_EQ(dlg.item(1000)->text, "/proj/BIOS1");
    dlg.path = "/other";
    dlg.UpdateData(FALSE);
    EXPECT_EQ(dlg.item(1000)->text, "/other");
    dlg.UpdateData(TRUE);
    EXPECT_EQ(dlg.path, "/other");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(dlg.item(1000)->text, "");
    combo.m_hWnd = nullptr;
}

TEST_F(DialogManager, ReplacingTheSelectionOfAnEdit) {
    CEdit edit;
    edit.m_hWnd = dlg.item(1008);
    edit.SetWindowText("Copying minidos.sys...");
    edit.SetSel(0, -1);
    edit.ReplaceSel("Copying bios.rom...");
    EXPECT_EQ(dlg.item(1008)->text, "Copying bios.rom...");
    edit.SetSel(8, 12);
    edit.ReplaceSel("BIOS");
    EXPECT_EQ(dlg.item(1008)->text, "Copying BIOS.rom...");
    // Without a selection the text goes in at the caret.
    edit.SetSel(-1, 0);
    edit.ReplaceSel("!");
    EXPECT_EQ(dlg.item(1008)->text, "Copying BIOS!.rom...");
    edit.m_hWnd = nullptr;
}

TEST_F(DialogManager, ProgressPositionStaysInRange) {
    CProgressCtrl bar;
    bar.m_hWnd = dlg.item(1005);
    bar.SetRange(0, 50);
    EXPECT_EQ(bar.SetPos(12), 0);
    EXPECT_EQ(bar.GetPos(), 12);
    bar.SetPos(51);
    EXPECT_EQ(bar.GetPos(), 50);
    bar.SetPos(-3);
    EXPECT_EQ(bar.GetPos(), 0);
    bar.m_hWnd = nullptr;
}

TEST_F(DialogManager, RightClicksReachTheControlOrTheDialog) {
    afx::userContextMenu(dlg, dlg.item(1006));  // enabled button
    afx::userContextMenu(dlg, dlg.item(1004));  // disabled: the dialog gets it
    afx::userContextMenu(dlg, dlg.item(-1));    // static text is transparent to the mouse
    afx::userContextMenu(dlg, nullptr);         // background
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"context:1006", "context:dialog",
                                                    "context:dialog", "context:dialog"}));
}

// A group runs from one WS_GROUP control to the next, whatever lies between its radio buttons;
// a click, DDX_Radio and the arrow keys all take it from radioGroupOf.
TEST(DialogRules, RadioGroupsRunFromOneGroupMarkToTheNext) {
    using res::ControlKind;
    WindowObject dialog;
    dialog.isDialog = true;
    const struct {
        ControlKind kind;
        std::uint32_t style;
    } children[] = {
        {ControlKind::StaticText, 0},                                     // 0: before any mark
        {ControlKind::AutoRadioButton, res::kWsGroup | res::kWsTabStop},  // 1
        {ControlKind::StaticText, 0},                                     // 2: inside the group
        {ControlKind::AutoRadioButton, 0},                                // 3
        {ControlKind::GroupBox, res::kWsGroup},                           // 4
        {ControlKind::AutoRadioButton, res::kWsGroup},                    // 5: alone
    };
    std::vector<HWND> w;
    for (const auto& c : children) {
        auto child = std::make_unique<WindowObject>();
        child->kind = c.kind;
        child->style = c.style;
        child->parent = &dialog;
        w.push_back(child.get());
        dialog.children.push_back(std::move(child));
    }
    EXPECT_EQ(afx::radioGroupOf(w[0]), std::vector<HWND>{});
    EXPECT_EQ(afx::radioGroupOf(w[2]), (std::vector<HWND>{w[1], w[3]}));
    EXPECT_EQ(afx::radioGroupOf(w[3]), (std::vector<HWND>{w[1], w[3]}));
    EXPECT_EQ(afx::radioGroupOf(w[5]), std::vector<HWND>{w[5]});
    w[5]->checked = true;
    afx::userClick(w[1]);
    afx::userClick(w[3]);
    EXPECT_TRUE(w[3]->checked && w[5]->checked);
    EXPECT_FALSE(w[1]->checked);

    EXPECT_TRUE(afx::isTabStop(w[1]) && afx::acceptsInput(w[2]));
    EXPECT_FALSE(afx::isTabStop(w[3]) || afx::acceptsInput(nullptr));
    w[1]->visible = false;
    w[2]->enabled = false;
    w[3]->destroyed = true;
    EXPECT_FALSE(afx::isTabStop(w[1]) || afx::acceptsInput(w[2]) || afx::acceptsInput(w[3]));
}

TEST(MessageBoxIcon, PlainTypesGetTheirIcon) {
    EXPECT_EQ(afx::messageBoxIcon(MB_OK), MB_ICONEXCLAMATION);
    EXPECT_EQ(afx::messageBoxIcon(MB_YESNO), MB_ICONQUESTION);
    EXPECT_EQ(afx::messageBoxIcon(MB_OK | MB_ICONHAND), MB_ICONHAND);
    EXPECT_EQ(afx::messageBoxIcon(MB_YESNO | MB_ICONQUESTION), MB_ICONQUESTION);
}

}  // namespace
