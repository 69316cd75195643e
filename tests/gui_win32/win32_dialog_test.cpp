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
#include "history/DirDlg.h"
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

TEST_F(Win32DialogTest, FolderChooserIsTheSystemsSaveDialogLaidOutByTemplate129) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const res::DialogTemplate* t = res::findDialogTemplate(res::kIddChooseDirectory);
    CDirDlg chooser(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr,
                    nullptr);
    chooser.m_ofn.lpstrInitialDir = root.path().c_str();
    std::string field, caption;
    robot::startTicking([&] {
        const auto box = robot::shownMessageBox();
        if (!box || !caption.empty()) return;
        caption = win32ui::textOf(box->window);
        // The system's controls, found by their fixed ids, where the template puts them.
        for (const res::ControlTemplate& c : t->controls) {
            if (c.id == -1) continue;
            SCOPED_TRACE("control " + std::to_string(c.id));
            void* control = robot::controlById(box->window, c.id);
            ASSERT_NE(control, nullptr);
            const win32ui::Rect got = win32ui::rectInDialog(control);
            const win32ui::Rect want =
                win32ui::dialogUnitsToPixels(box->window, c.x, c.y, c.cx, c.cy);
            EXPECT_EQ(got.left, want.left);
            EXPECT_EQ(got.top, want.top);
        }
        field = win32ui::textOf(robot::controlById(box->window, 1152));
        robot::answer(*box, IDOK);
    });
    const fs::path previous = fs::current_path();
    EXPECT_EQ(chooser.DoModal(), IDOK);
    // The chooser may leave the current folder where the user browsed.
    fs::current_path(previous);
    EXPECT_EQ(caption, t->caption);
    EXPECT_EQ(field, kChooserDummyName);
    EXPECT_STREQ(chooser.m_ofn.lpstrFile + chooser.m_ofn.nFileOffset, kChooserDummyName);
    EXPECT_FALSE(FolderOfChosenFile(chooser.m_ofn).IsEmpty());
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void copyFolder(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// What the user answers to each message box of a build, by the box's text.
struct Answer {
    std::string text;
    int button;
};

TEST_F(Win32DialogTest, MinidosBuildThroughTheRealDialogEndsWithSuccessAndAGoodDiskette) {
    fattools::TempDir root;
    ASSERT_FALSE(root.path().empty());
    const fs::path kit = fs::path(root.path()) / "kit";
    const fs::path project = fs::path(root.path()) / "project";
    copyFolder(QUENVOL_SAMPLE_KIT_DIR, kit);
    copyFolder(QUENVOL_SAMPLE_PROJECT_DIR, project);
    const std::string image = root.file("a.img");
    {
        std::ofstream blank(image, std::ios::binary);
        blank.seekp(1474560 - 1);
        blank.put('\0');
    }
    const fs::path previous = fs::current_path();
    fs::current_path(kit);
    fattools::setEnvironment("QUENVOL_DRIVE_A", image);
    fattools::setEnvironment("XDG_CONFIG_HOME", root.path());
    theApp.SetStartupInfo("quenvol", project.string(), kHelpFile);

    CCrisisDlg dialog;
    dialog.SetCmdLine(CString(theApp.m_lpCmdLine));
    theApp.m_pMainWnd = &dialog;
    // The build formats the diskette through the format dialog first.
    const std::vector<Answer> script = {
        {texts::confirmProject(project.string()), IDYES},
        {"Formatting erases everything on the diskette in drive A:.", IDOK},
        {"Format Complete.", IDOK},
        {texts::kSucceeded, IDOK},
        {texts::kAnotherDiskette, IDNO},
    };
    std::vector<std::string> asked;
    bool started = false, formatStarted = false;
    robot::startTicking([&] {
        if (const auto box = robot::shownMessageBox()) {
            asked.push_back(box->text);
            const std::size_t at = asked.size() - 1;
            const bool expected = at < script.size() && box->text.starts_with(script[at].text);
            if (!expected || !robot::answer(*box, script[at].button))
                robot::answer(*box, IDCANCEL) || robot::answer(*box, IDNO) ||
                    robot::answer(*box, IDOK);
            return;
        }
        void* window = Win32Backend::windowOf(dialog.m_hWnd);
        void* shown = win32ui::activeDialog();
        if (!window || !shown || !robot::isVisible(shown)) return;
        if (shown != window) {
            // The format dialog: Start once, Close when its format has been reported.
            void* start = robot::controlById(shown, res::kIdcFormatStart);
            if (!formatStarted) {
                formatStarted = true;
                robot::click(start);
            } else if (win32ui::isEnabled(start)) {
                robot::click(robot::controlById(shown, IDCANCEL));
            }
            return;
        }
        CWnd* start = dialog.GetDlgItem(IDC_START);
        if (!started) {
            started = true;
            robot::click(Win32Backend::windowOf(start->m_hWnd));
        } else if (start->IsWindowEnabled()) {
            // Start is back and nothing asks: the build is over.
            robot::click(Win32Backend::windowOf(dialog.GetDlgItem(IDC_BUTTON_CLOSE)->m_hWnd));
        }
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
    fs::current_path(previous);
    fattools::setEnvironment("QUENVOL_DRIVE_A", std::nullopt);
    fattools::setEnvironment("XDG_CONFIG_HOME", std::nullopt);

    ASSERT_EQ(asked.size(), script.size()) << "asked: " << ::testing::PrintToString(asked);
    for (std::size_t i = 0; i < script.size(); ++i)
        EXPECT_TRUE(asked[i].starts_with(script[i].text)) << asked[i];
    const fattools::FsckResult fsck = fattools::runFsck(image);
    EXPECT_TRUE(fsck.clean) << fsck.output;
    const auto names = fattools::mdirNames(image);
    ASSERT_TRUE(names.has_value());
    for (const char* name : {"MINIDOS.SYS", "ZYPLET.EXE"})
        EXPECT_NE(std::find(names->begin(), names->end(), name), names->end()) << name;
    // Each file on the diskette under its source's name is its copy, byte for byte (the BIOS
    // images are renamed on the way).
    for (const std::string& name : *names) {
        std::optional<std::vector<std::uint8_t>> source;
        for (const fs::path& folder : {kit, project})
            for (const auto& entry : fs::directory_iterator(folder))
                if (upper(entry.path().filename().string()) == name)
                    source = fattools::readBytes(entry.path().string());
        if (source) {
            EXPECT_EQ(fattools::mtype(image, name), source) << name;
        }
    }
}

}  // namespace
