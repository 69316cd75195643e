#include "gui_win32/robot.h"

#include <windows.h>

namespace robot {
namespace {

std::function<void()> g_tick;
UINT_PTR g_timer = 0;
bool g_inTick = false;

void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_inTick || !g_tick) return;
    g_inTick = true;
    g_tick();
    g_inTick = false;
}

BOOL CALLBACK findBox(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window) &&
        !win32ui::isRunningDialog(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

void startTicking(std::function<void()> tick) {
    g_tick = std::move(tick);
    if (!g_timer) g_timer = SetTimer(nullptr, 0, 50, onTimer);
}

void stopTicking() {
    if (g_timer) KillTimer(nullptr, g_timer);
    g_timer = 0;
    g_tick = nullptr;
}

std::optional<ShownBox> shownMessageBox() {
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
    if (!box) return std::nullopt;
    // The text is the box's one static control with text (the icon's has none).
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        const std::string text = win32ui::textOf(child);
        if (lstrcmpiA(className, "Static") == 0 && !text.empty()) return ShownBox{box, text};
    }
    return ShownBox{box, std::string()};
}

bool answer(const ShownBox& box, int button) {
    HWND control = GetDlgItem(static_cast<HWND>(box.window), button);
    if (!control) return false;
    PostMessageA(static_cast<HWND>(box.window), WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
    return true;
}

void click(win32ui::Window button) {
    PostMessageA(static_cast<HWND>(button), BM_CLICK, 0, 0);
}

win32ui::Window controlById(win32ui::Window dialog, int id) {
    return GetDlgItem(static_cast<HWND>(dialog), id);
}

bool isVisible(win32ui::Window window) {
    return IsWindowVisible(static_cast<HWND>(window)) != FALSE;
}

void sysCommand(win32ui::Window window, unsigned command) {
    PostMessageA(static_cast<HWND>(window), WM_SYSCOMMAND, command, 0);
}

win32ui::Rect windowRect(win32ui::Window window) {
    RECT r = {};
    GetWindowRect(static_cast<HWND>(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

}  // namespace robot
