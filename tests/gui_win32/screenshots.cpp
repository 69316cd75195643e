// Shows the main dialog, the About box, the system menu and its Drive A: submenu, the format
// dialog and the folder chooser one after the other for pictures taken from outside: for each, once
// it has painted, prints
//   <name> <left> <top> <right> <bottom>
// (its window on the screen) and keeps it up until <folder>/<name>.png exists.
//   quenvol_win32_screenshots <folder>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "framework/shell.h"
#include "gui_win32/robot.h"
#include "history/DirDlg.h"
#include "ui/win32/win32_backend.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path g_folder;
bool g_failed = false;

// One dialog's picture: waits a few ticks for it to paint, reports it, then waits for the file.
class Shot {
  public:
    explicit Shot(std::string name) : m_name(std::move(name)), m_since(Clock::now()) {}

    // True once the picture of `window` is taken (or could not be, after half a minute).
    bool taken(win32ui::Window window) {
        return window && robot::isVisible(window) && taken(robot::windowRect(window));
    }
    // The same for a part of the screen.
    bool taken(const win32ui::Rect& r) {
        if (Clock::now() - m_since > std::chrono::seconds(30)) {
            std::fprintf(stderr, "quenvol_win32_screenshots: no picture of %s\n", m_name.c_str());
            g_failed = true;
            return true;
        }
        if (++m_ticks < 40) return false;
        if (!m_reported) {
            m_reported = true;
            std::printf("%s %d %d %d %d\n", m_name.c_str(), r.left, r.top, r.right, r.bottom);
            std::fflush(stdout);
        }
        return fs::exists(g_folder / (m_name + ".png"));
    }

  private:
    std::string m_name;
    Clock::time_point m_since;
    int m_ticks = 0;
    bool m_reported = false;
};

// The menus shown, left to right: the system menu, then its submenu.
std::vector<win32ui::Rect> menusShown() {
    auto rects = robot::menuRects();
    std::sort(rects.begin(), rects.end(),
              [](const win32ui::Rect& a, const win32ui::Rect& b) { return a.left < b.left; });
    return rects;
}

void mainDialogAboutBoxAndSystemMenu() {
    CCrisisDlg dialog;
    theApp.m_pMainWnd = &dialog;
    Shot main("main"), about("about"), menu("menu"), drives("drives");
    int stage = 0;
    robot::startTicking([&] {
        void* window = win32ui::Win32Backend::windowOf(dialog.m_hWnd);
        void* shown = win32ui::activeDialog();
        if (stage == 0 && main.taken(window)) {
            stage = 1;
            robot::openSystemMenu(window, true);
        } else if (stage == 1 && robot::menuShown()) {
            if (robot::chooseMenuEntry("&About Quenvol...", true)) stage = 10;
        } else if (stage == 10 && shown != window && about.taken(shown)) {
            stage = 2;
            robot::click(robot::controlById(shown, IDOK));
        } else if (stage == 2 && shown == window) {
            // Alt+Space opens the system menu; up from its first entry is its last, Drive A:.
            stage = 3;
            robot::pressKey(robot::Key::Space, false, true);
        } else if (stage == 3 && robot::menuShown()) {
            stage = 4;
            robot::pressKey(robot::Key::Up);
            robot::pressKey(robot::Key::Right);
        } else if (stage == 4 && menusShown().size() == 2 && menu.taken(menusShown()[0]) &&
                   drives.taken(menusShown()[1])) {
            stage = 5;
        } else if (stage == 5) {
            stage = 6;
            robot::endMenus();
        } else if (stage == 6 && !robot::menuShown()) {
            stage = 7;
            robot::click(
                win32ui::Win32Backend::windowOf(dialog.GetDlgItem(IDC_BUTTON_CLOSE)->m_hWnd));
        }
    });
    dialog.DoModal();
    robot::stopTicking();
    theApp.m_pMainWnd = nullptr;
}

void formatDialog() {
    Shot shot("format");
    bool closed = false;
    robot::startTicking([&] {
        void* shown = win32ui::activeDialog();
        if (!closed && shot.taken(shown)) {
            closed = true;
            robot::click(robot::controlById(shown, IDCANCEL));
        }
    });
    SHFormatDrive(nullptr, 0, SHFMT_ID_DEFAULT, 0);
    robot::stopTicking();
}

void folderChooser() {
    CDirDlg chooser(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr,
                    nullptr);
    chooser.m_ofn.lpstrInitialDir = "C:\\";
    Shot shot("folder");
    bool closed = false;
    robot::startTicking([&] {
        const auto box = robot::shownMessageBox();
        if (!closed && shot.taken(box ? box->window : nullptr)) {
            closed = true;
            if (box) robot::answer(*box, IDCANCEL);
        }
    });
    chooser.DoModal();
    robot::stopTicking();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quenvol_win32_screenshots <folder>\n");
        return 2;
    }
    g_folder = argv[1];
    win32ui::Win32Backend backend;
    ScopedBackend installed(&backend);
    theApp.SetStartupInfo("quenvol", "", "");
    mainDialogAboutBoxAndSystemMenu();
    formatDialog();
    folderChooser();
    return g_failed ? 1 : 0;
}
