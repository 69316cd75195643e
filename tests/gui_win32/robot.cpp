#include "gui_win32/robot.h"

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <utility>

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

std::vector<MenuItem> itemsOf(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = sizeof text - 1;
        if (!GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info) ||
            (info.fType & MFT_SEPARATOR))
            continue;
        items.push_back({text, info.wID, !(info.fState & MFS_DISABLED),
                         (info.fState & MFS_CHECKED) != 0,
                         info.hSubMenu ? itemsOf(info.hSubMenu) : std::vector<MenuItem>()});
    }
    return items;
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

namespace {

// Where on a window's frame the system answers `part` to the pointer, in screen coordinates.
std::optional<POINT> framePoint(HWND window, LRESULT part) {
    RECT r = {};
    GetWindowRect(window, &r);
    for (int y = r.top; y < r.top + 48 && y < r.bottom; y += 2)
        for (int x = r.left; x < r.right; x += 2)
            if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == part) return POINT{x, y};
    return std::nullopt;
}

void clickAt(POINT at) {
    SetCursorPos(at.x, at.y);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) input.type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
}

void sendKeys(std::initializer_list<std::pair<WORD, bool>> keys) {
    std::vector<INPUT> inputs;
    for (const auto& [vk, up] : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::vector<MenuCommand> g_commands;
unsigned g_highlighted = 0;  // the entry the user's menu highlighted last, 0 when none
HHOOK g_sentHook = nullptr, g_postedHook = nullptr;

LRESULT CALLBACK onSent(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    // A highlighted entry that opens no submenu; a menu closing says 0xFFFF with no menu.
    if (code == HC_ACTION && sent->message == WM_MENUSELECT && sent->lParam != 0 &&
        !(HIWORD(sent->wParam) & MF_POPUP))
        g_highlighted = LOWORD(sent->wParam);
    return CallNextHookEx(g_sentHook, code, wParam, lParam);
}

LRESULT CALLBACK onPosted(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    const bool menuCommand =
        msg->message == WM_SYSCOMMAND ||
        (msg->message == WM_COMMAND && msg->lParam == 0 && HIWORD(msg->wParam) == 0);
    if (code == HC_ACTION && wParam == PM_REMOVE && menuCommand) {
        // The system's own commands keep their low four bits for themselves.
        const unsigned id =
            static_cast<unsigned>(msg->wParam & (msg->message == WM_SYSCOMMAND ? 0xFFF0 : 0xFFFF));
        g_commands.push_back({id, id == (g_highlighted & 0xFFF0u) || id == g_highlighted});
        g_highlighted = 0;
    }
    return CallNextHookEx(g_postedHook, code, wParam, lParam);
}

}  // namespace

void openSystemMenu(win32ui::Window window, bool mouse) {
    const HWND hwnd = static_cast<HWND>(window);
    if (mouse) {
        if (const auto at = framePoint(hwnd, HTSYSMENU)) clickAt(*at);
        return;
    }
    sendKeys({{VK_MENU, false}, {VK_SPACE, false}, {VK_SPACE, true}, {VK_MENU, true}});
}

void clickHelpButton(win32ui::Window window) {
    const HWND hwnd = static_cast<HWND>(window);
    if (const auto at = framePoint(hwnd, HTHELP))
        clickAt(*at);
    else  // wine draws no help button: what the button sends
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
}

bool chooseMenuEntry(const std::string& text, bool mouse) {
    for (HWND shown = FindWindowExA(nullptr, nullptr, "#32768", nullptr); shown;
         shown = FindWindowExA(nullptr, shown, "#32768", nullptr)) {
        if (!IsWindowVisible(shown)) continue;
        const auto menu = reinterpret_cast<HMENU>(SendMessageA(shown, MN_GETHMENU, 0, 0));
        const int count = menu ? GetMenuItemCount(menu) : 0;
        int wanted = -1, highlighted = -1;
        for (int i = 0; i < count; ++i) {
            char entry[256] = {};
            GetMenuStringA(menu, static_cast<UINT>(i), entry, sizeof entry - 1, MF_BYPOSITION);
            // A submenu's entry may name what it stands for after its own name.
            const std::string shown = entry;
            if (shown == text || shown.starts_with(text + " (")) wanted = i;
            if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE)
                highlighted = i;
        }
        if (wanted < 0) continue;
        // A menu just opened may still be moving to its place: it is used once it stood
        // where it stands now for a tick.
        static std::map<HWND, RECT> seen;
        RECT now = {};
        GetWindowRect(shown, &now);
        const auto before = seen.find(shown);
        const bool settled = before != seen.end() && EqualRect(&before->second, &now);
        seen[shown] = now;
        if (!settled) return false;
        if (mouse) {
            RECT r = {};
            if (!GetMenuItemRect(nullptr, menu, static_cast<UINT>(wanted), &r)) return false;
            clickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
            return true;
        }
        // The arrow keys to the entry, then Enter: a menu's underlined letters need not be
        // its own alone (the system may add entries of its own).
        if (highlighted == wanted) {
            sendKeys({{VK_RETURN, false}, {VK_RETURN, true}});
            return true;
        }
        const WORD arrow = highlighted >= 0 && highlighted > wanted ? VK_UP : VK_DOWN;
        sendKeys({{arrow, false}, {arrow, true}});
        return false;
    }
    return false;
}

void watchMenuCommands() {
    g_commands.clear();
    g_highlighted = 0;
    if (!g_sentHook)
        g_sentHook = SetWindowsHookExA(WH_CALLWNDPROC, onSent, nullptr, GetCurrentThreadId());
    if (!g_postedHook)
        g_postedHook = SetWindowsHookExA(WH_GETMESSAGE, onPosted, nullptr, GetCurrentThreadId());
}

std::vector<MenuCommand> menuCommandsSeen() {
    return g_commands;
}

std::vector<MenuItem> systemMenu(win32ui::Window window) {
    HWND hwnd = static_cast<HWND>(window);
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (!menu) return {};
    SendMessageA(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, TRUE));
    return itemsOf(menu);
}

void type(win32ui::Window field, const std::string& text) {
    SetWindowTextA(static_cast<HWND>(field), text.c_str());
}

void chooseFile(const ShownBox& box, std::string path) {
    // As a user types it: the dialog takes a '/' for the start of a switch.
    std::replace(path.begin(), path.end(), '/', '\\');
    // The name field is a combo box in the Explorer style, an edit field in the old one.
    for (int field : {cmb13, edt1})
        if (HWND control = GetDlgItem(static_cast<HWND>(box.window), field))
            SetWindowTextA(control, path.c_str());
    answer(box, IDOK);
}

void pressKey(Key key, bool shift, bool alt) {
    const WORD codes[] = {VK_F1, VK_UP, VK_DOWN, VK_RIGHT, VK_RETURN, VK_ESCAPE, VK_SPACE, VK_TAB};
    const WORD code = codes[static_cast<int>(key)];
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift) add(VK_SHIFT, false);
    if (alt) add(VK_MENU, false);
    add(code, false);
    add(code, true);
    if (alt) add(VK_MENU, true);
    if (shift) add(VK_SHIFT, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void mouseClick(win32ui::Window window, bool right) {
    RECT r = {};
    GetWindowRect(static_cast<HWND>(window), &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) input.type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

bool menuShown() {
    HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu);
}

void endMenus() {
    EndMenu();
}

std::vector<win32ui::Rect> menuRects() {
    std::vector<win32ui::Rect> rects;
    for (HWND menu = FindWindowExA(nullptr, nullptr, "#32768", nullptr); menu;
         menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) {
        RECT r;
        if (IsWindowVisible(menu) && GetWindowRect(menu, &r))
            rects.push_back({r.left, r.top, r.right, r.bottom});
    }
    return rects;
}

std::optional<std::string> takeHelpTopic() {
    HWND popup = FindWindowA("QuenvolHelpTopic", nullptr);
    if (!popup || !IsWindowVisible(popup)) return std::nullopt;
    const std::string text = win32ui::textOf(popup);
    DestroyWindow(popup);
    return text;
}

std::optional<HelpTopic> helpTopicShown() {
    HWND popup = FindWindowA("QuenvolHelpTopic", nullptr);
    if (!popup || !IsWindowVisible(popup)) return std::nullopt;
    const std::string text = win32ui::textOf(popup);
    // The pop-up draws its text inside margins of 6 and 4 pixels, broken into lines at its
    // width: the lines must all be there.
    RECT client = {};
    GetClientRect(popup, &client);
    RECT need = {0, 0, client.right - 12, 0};
    HDC dc = GetDC(popup);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ReleaseDC(popup, dc);
    return HelpTopic{text, need.bottom <= client.bottom - 8 && need.right <= client.right - 12};
}

void clickHelpTopic() {
    if (HWND popup = FindWindowA("QuenvolHelpTopic", nullptr)) mouseClick(popup);
}

std::string chosenFolderName(const ShownBox& box) {
    HWND tree = FindWindowExA(static_cast<HWND>(box.window), nullptr, WC_TREEVIEWA, nullptr);
    if (!tree) return {};
    const auto item =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    char text[MAX_PATH] = {};
    TVITEMA info{};
    info.mask = TVIF_TEXT;
    info.hItem = item;
    info.pszText = text;
    info.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info));
    return text;
}

win32ui::Window focusedWindow() {
    return GetFocus();
}

win32ui::Rect windowRect(win32ui::Window window) {
    RECT r = {};
    GetWindowRect(static_cast<HWND>(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

}  // namespace robot
