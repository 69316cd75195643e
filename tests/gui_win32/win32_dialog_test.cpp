// The Win32 backend with the system's own windows, under a display: each template's controls
// where the template puts them, their enabling as the framework says, and a whole build of
// the sample driven through the real main dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <utility>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "gui_win32/robot.h"
#include "support/fat_tools.h"
#include "support/test_files.h"
#include "ui/win32/win32_backend.h"

namespace {

namespace fs = std::filesystem;
using win32ui::Win32Backend;

constexpr char kHelpFile[] = QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP";

class Win32DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { theApp.SetStartupInfo("quenvol", "", kHelpFile); }
    void TearDown() override { robot::stopTicking(); }

    Win32Backend m_backend;
    ScopedBackend m_installed{&m_backend};
};

class TemplateTest : public Win32DialogTest, public ::testing::WithParamInterface<int> {};

// How much of a control's rectangle the system keeps as its template gives it: a combo box is
// as high as its field, a list box a whole number of lines, an icon control its icon's size.
enum class Kept { All, TopAndWidth, TopLeft };

Kept keptOf(res::ControlKind kind) {
    switch (kind) {
        case res::ControlKind::ComboBox:
        case res::ControlKind::ListBox:
            return Kept::TopAndWidth;
        case res::ControlKind::StaticIcon:
            return Kept::TopLeft;
        default:
            return Kept::All;
    }
}

TEST_P(TemplateTest, ControlsStandWhereTheTemplatePutsThemAndFollowTheFrameworksEnabling) {
    const res::DialogTemplate* t = res::findDialogTemplate(GetParam());
    ASSERT_NE(t, nullptr);
    CDialog dialog(GetParam());
    bool checked = false;
    robot::startTicking([&] {
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        if (checked || !window || !robot::isVisible(window)) return;
        checked = true;
        const auto& children = dialog.m_hWnd->children;
        ASSERT_EQ(children.size(), t->controls.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            const res::ControlTemplate& c = t->controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(c.id) + ")");
            void* control = Win32Backend::windowOf(children[i].get());
            ASSERT_NE(control, nullptr);
            const win32ui::Rect got = win32ui::rectInDialog(control);
            const win32ui::Rect want = win32ui::dialogUnitsToPixels(window, c.x, c.y, c.cx, c.cy);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
            if (keptOf(c.kind) != Kept::TopLeft) {
                EXPECT_EQ(got.right, want.right);
            }
            if (keptOf(c.kind) == Kept::All) {
                EXPECT_EQ(got.bottom, want.bottom);
            }
            // Enabled as the template says, then as the framework says.
            const bool enabled = (c.style & res::kWsDisabled) == 0;
            EXPECT_EQ(win32ui::isEnabled(control), enabled);
            CWnd* wnd = CWnd::FromHandle(children[i].get());
            wnd->EnableWindow(!enabled);
            EXPECT_EQ(win32ui::isEnabled(control), !enabled);
            wnd->EnableWindow(enabled);
            EXPECT_EQ(win32ui::isEnabled(control), enabled);
        }
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(checked) << "the dialog never showed";
}

INSTANTIATE_TEST_SUITE_P(Templates, TemplateTest,
                         ::testing::Values(res::kIddAboutBox, res::kIddCrisisDialog,
                                           res::kIddChooseDirectory));

}  // namespace
