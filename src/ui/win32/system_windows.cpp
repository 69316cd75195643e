// The dialog windows as user32 and comctl32 make them, from an in-memory extended template.
#include "ui/win32/system_windows.h"

#include <windows.h>
// after windows.h, which it builds on
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

namespace win32ui {
namespace {

using res::ControlKind;

HWND hwndOf(Window window) {
    return static_cast<HWND>(window);
}

// Notifications our own changes to a control cause are not the user's input.
int g_applying = 0;
struct Applying {
    Applying() { ++g_applying; }
    ~Applying() { --g_applying; }
    Applying(const Applying&) = delete;
    Applying& operator=(const Applying&) = delete;
};

int g_waitDepth = 0;
HDC g_paintContext = nullptr;
std::vector<HWND> g_dialogs;  // the running dialogs, innermost last

// The extended template's bytes, written in order; each item starts on a DWORD boundary.
class TemplateWriter {
  public:
    void word(std::uint16_t value) { put(&value, sizeof value); }
    void dword(std::uint32_t value) { put(&value, sizeof value); }
    void text(const std::string& value) {
        const int n = MultiByteToWideChar(CP_ACP, 0, value.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(std::max(n, 1)), L'\0');
        if (n > 0) MultiByteToWideChar(CP_ACP, 0, value.c_str(), -1, wide.data(), n);
        for (wchar_t c : wide) word(static_cast<std::uint16_t>(c));
    }
    void align() {
        while (m_bytes.size() % 4 != 0) m_bytes.push_back(0);
    }
    const void* data() const { return m_bytes.data(); }

  private:
    void put(const void* value, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(value);
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    }
    std::vector<std::uint8_t> m_bytes;
};

// The system's class for each kind (by its predefined atom where it has one) and the style
// bits of the kind that the templates leave to the kind.
struct WindowClass {
    std::uint16_t atom;      // 0x0080 button ... 0x0085 combo box, 0 for a named class
    const char* name;        // the named class
    std::uint32_t kindBits;  // OR-ed into the low bits where the template gives none
};

WindowClass classOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return {0x0080, nullptr, BS_PUSHBUTTON};
        case ControlKind::DefPushButton:
            return {0x0080, nullptr, BS_DEFPUSHBUTTON};
        case ControlKind::AutoRadioButton:
            // The check mark is the framework's: the control reports clicks and shows what
            // the framework says, so it is a plain radio button.
            return {0x0080, nullptr, BS_RADIOBUTTON};
        case ControlKind::GroupBox:
            return {0x0080, nullptr, BS_GROUPBOX};
        case ControlKind::StaticText:
            return {0x0082, nullptr, SS_LEFT};
        case ControlKind::StaticIcon:
            return {0x0082, nullptr, SS_ICON};
        case ControlKind::Edit:
            return {0x0081, nullptr, ES_LEFT};
        case ControlKind::ComboBox:
            return {0x0085, nullptr, 0};
        case ControlKind::ListBox:
            return {0x0083, nullptr, 0};
        case ControlKind::ProgressBar:
            return {0, PROGRESS_CLASSA, 0};
    }
    return {0x0082, nullptr, 0};
}

std::uint32_t styleOf(const res::ControlTemplate& control) {
    std::uint32_t style = control.style | WS_CHILD;
    const WindowClass windowClass = classOf(control.kind);
    if (control.kind == ControlKind::AutoRadioButton)
        style = (style & ~0xFu) | windowClass.kindBits;
    else if ((style & 0xFu) == 0)
        style |= windowClass.kindBits;
    return style;
}

void buildTemplate(const res::DialogTemplate& t, TemplateWriter& out) {
    out.word(1);       // dlgVer
    out.word(0xFFFF);  // signature: extended
    out.dword(0);      // helpID
    out.dword(t.exStyle);
    // Shown once initialised; DS_SETFONT because the font is given below.
    out.dword((t.style & ~static_cast<std::uint32_t>(WS_VISIBLE)) | DS_SETFONT);
    out.word(static_cast<std::uint16_t>(t.controls.size()));
    out.word(0);  // x, y: centred on the owner below
    out.word(0);
    out.word(static_cast<std::uint16_t>(t.cx));
    out.word(static_cast<std::uint16_t>(t.cy));
    out.word(0);  // no menu
    out.word(0);  // the dialog class
    out.text(t.caption);
    out.word(static_cast<std::uint16_t>(t.fontPointSize));
    out.word(FW_NORMAL);
    out.word(0);  // italic, charset
    out.text(t.fontName);
    for (const res::ControlTemplate& control : t.controls) {
        out.align();
        out.dword(control.helpId);
        out.dword(0);
        out.dword(styleOf(control));
        out.word(static_cast<std::uint16_t>(control.x));
        out.word(static_cast<std::uint16_t>(control.y));
        out.word(static_cast<std::uint16_t>(control.cx));
        out.word(static_cast<std::uint16_t>(control.cy));
        out.dword(static_cast<std::uint32_t>(control.id));
        const WindowClass windowClass = classOf(control.kind);
        if (windowClass.atom != 0) {
            out.word(0xFFFF);
            out.word(windowClass.atom);
        } else {
            out.text(windowClass.name);
        }
        // An icon control's text names a resource; the icon is set once the control exists.
        out.text(control.kind == ControlKind::StaticIcon ? std::string() : control.text);
        out.word(0);  // no creation data
    }
}

struct DialogData {
    DialogEvents* events;
    std::vector<HWND> controls;
    std::vector<MenuEntry> menu;
    int systemMenuItems = -1;  // the system's own entries, before ours
    HWND lastFocus = nullptr;
    bool askingHelp = false;  // the next click names the control whose help is wanted
};

std::map<HWND, DialogData>& dialogData() {
    static std::map<HWND, DialogData> data;
    return data;
}

DialogData* dataOf(HWND dialog) {
    const auto found = dialogData().find(dialog);
    return found == dialogData().end() ? nullptr : &found->second;
}

// The control `window` is or belongs to (a combo box's field), as an index.
std::size_t indexOf(const DialogData& data, HWND window) {
    for (HWND w = window; w; w = GetParent(w)) {
        const auto at = std::find(data.controls.begin(), data.controls.end(), w);
        if (at != data.controls.end()) return static_cast<std::size_t>(at - data.controls.begin());
    }
    return kNoControl;
}

// The first control in template order under a point on the screen, shown or not disabled.
std::size_t controlAt(const DialogData& data, POINT screen) {
    for (std::size_t i = 0; i < data.controls.size(); ++i) {
        RECT r;
        if (IsWindowVisible(data.controls[i]) && GetWindowRect(data.controls[i], &r) &&
            PtInRect(&r, screen))
            return i;
    }
    return kNoControl;
}

void onCommand(HWND dialog, DialogData& data, WPARAM wParam, LPARAM lParam) {
    if (g_applying > 0 || lParam == 0) return;
    const HWND control = reinterpret_cast<HWND>(lParam);
    const std::size_t index = indexOf(data, control);
    if (index == kNoControl) return;
    const UINT code = HIWORD(wParam);
    char className[32] = {};
    GetClassNameA(control, className, sizeof className);
    if (lstrcmpiA(className, "Button") == 0) {
        if (code == BN_CLICKED) data.events->clicked(index);
    } else if (lstrcmpiA(className, "ComboBox") == 0) {
        if (code == CBN_SELCHANGE) {
            const auto item = SendMessageA(control, CB_GETCURSEL, 0, 0);
            if (item >= 0) data.events->picked(index, static_cast<int>(item));
        } else if (code == CBN_EDITCHANGE) {
            data.events->typed(index, textOf(control));
        }
    } else if (lstrcmpiA(className, "Edit") == 0) {
        if (code == EN_CHANGE) data.events->typed(index, textOf(control));
    }
    (void)dialog;
}

bool hasCommand(const std::vector<MenuEntry>& entries, unsigned command) {
    return std::any_of(entries.begin(), entries.end(), [command](const MenuEntry& entry) {
        if (entry.popup) return hasCommand(entry.submenu, command);
        return !entry.separator && entry.id == command;
    });
}

bool onSysCommand(DialogData& data, WPARAM wParam) {
    const unsigned command = static_cast<unsigned>(wParam & 0xFFF0);
    if (command != SC_CLOSE && !hasCommand(data.menu, command)) return false;
    data.events->sysCommand(command);
    return true;
}

// The caption's help button, and Shift+F1: the pointer becomes the help cursor and the next
// click names the control. The mode is ours rather than the system's: some systems answer
// SC_CONTEXTHELP with help on the dialog itself at once.
void startAskingHelp(HWND dialog, DialogData& data) {
    if (!(GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_CONTEXTHELP)) return;
    data.askingHelp = true;
    SetCapture(dialog);
    SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HELP)));
}

// The input while the dialog asks which control's help is wanted; true when it was the mode's.
bool handleAskingHelp(HWND dialog, DialogData& data, const MSG& msg) {
    if (!data.askingHelp) return false;
    const auto stop = [&data] {
        data.askingHelp = false;
        ReleaseCapture();
    };
    if (GetCapture() != dialog) {  // another window took the mouse
        data.askingHelp = false;
        return false;
    }
    switch (msg.message) {
        case WM_LBUTTONDOWN:
        case WM_NCLBUTTONDOWN: {
            stop();
            RECT box;
            // A click outside the dialog asks for nothing.
            if (GetWindowRect(dialog, &box) && PtInRect(&box, msg.pt))
                data.events->helpClicked(controlAt(data, msg.pt));
            return true;
        }
        case WM_RBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            stop();
            return true;
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HELP)));
            return true;
        default:
            return false;
    }
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        dialogData()[dialog].events = reinterpret_cast<DialogEvents*>(lParam);
        return FALSE;  // the framework places the focus
    }
    DialogData* data = dataOf(dialog);
    if (!data) return FALSE;
    switch (message) {
        case WM_COMMAND:
            // An entry of a submenu of the system menu comes as a menu's command: the system
            // tells only its own top-level entries as system commands.
            if (lParam == 0 && HIWORD(wParam) == 0 && hasCommand(data->menu, LOWORD(wParam)))
                data->events->sysCommand(LOWORD(wParam));
            else
                onCommand(dialog, *data, wParam, lParam);
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CONTEXTHELP)
                startAskingHelp(dialog, *data);
            else if (!onSysCommand(*data, wParam))
                return FALSE;
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_CLOSE:
            data->events->sysCommand(SC_CLOSE);
            return TRUE;
        case WM_INITMENUPOPUP:
            if (reinterpret_cast<HMENU>(wParam) == GetSystemMenu(dialog, FALSE))
                data->events->systemMenuOpening();
            return FALSE;
        case WM_HELP: {
            const auto* info = reinterpret_cast<const HELPINFO*>(lParam);
            std::size_t index = info->iContextType == HELPINFO_WINDOW
                                    ? indexOf(*data, static_cast<HWND>(info->hItemHandle))
                                    : kNoControl;
            if (index == kNoControl) index = controlAt(*data, info->MousePos);
            data->events->helpClicked(index);
            return TRUE;
        }
        case WM_CONTEXTMENU: {
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            // A right click on the caption opens the system menu, as in every window.
            if (reinterpret_cast<HWND>(wParam) == dialog && !(at.x == -1 && at.y == -1) &&
                DefWindowProcA(dialog, WM_NCHITTEST, 0, lParam) != HTCLIENT)
                return FALSE;
            if (at.x == -1 && at.y == -1)
                data->events->contextMenu(indexOf(*data, GetFocus()), -1, -1);
            else
                data->events->contextMenu(controlAt(*data, at), at.x, at.y);
            return TRUE;
        }
        case WM_PAINT: {
            PAINTSTRUCT paint;
            g_paintContext = BeginPaint(dialog, &paint);
            data->events->paint();
            g_paintContext = nullptr;
            EndPaint(dialog, &paint);
            return TRUE;
        }
        case WM_SETCURSOR:
            if (g_waitDepth == 0) return FALSE;
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

bool isDropped(HWND window) {
    for (HWND w = window; w; w = GetParent(w)) {
        char className[32] = {};
        GetClassNameA(w, className, sizeof className);
        if (lstrcmpiA(className, "ComboBox") == 0)
            return SendMessageA(w, CB_GETDROPPEDSTATE, 0, 0) != 0;
    }
    return false;
}

// The dialog manager's keys that the framework decides on; true when the key was one.
bool handleKey(HWND dialog, DialogData& data, const MSG& msg) {
    // The system posts this after F1 for the default handling to send WM_HELP; F1 is ours
    // below, and help shown twice would be one too many.
    constexpr UINT kSystemF1 = 0x004D;
    if (msg.message == kSystemF1) return true;
    if (msg.message != WM_KEYDOWN || isDropped(msg.hwnd)) return false;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    switch (msg.wParam) {
        case VK_RETURN:
            data.events->key(DialogKey::Enter);
            return true;
        case VK_ESCAPE:
            data.events->key(DialogKey::Escape);
            return true;
        case VK_F1:
            if (shift)
                PostMessageA(dialog, WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
            else
                data.events->key(DialogKey::F1);
            return true;
        case VK_UP:
        case VK_LEFT:
        case VK_DOWN:
        case VK_RIGHT:
            return !shift && !control &&
                   data.events->arrow(msg.wParam == VK_DOWN || msg.wParam == VK_RIGHT);
        default:
            return false;
    }
}

// The user moved the focus (a click, Tab): the framework hears of it.
void reportFocus(DialogData& data) {
    const HWND focus = GetFocus();
    if (focus == data.lastFocus) return;
    data.lastFocus = focus;
    const std::size_t index = indexOf(data, focus);
    if (index != kNoControl) data.events->focused(index);
}

HICON iconHandle(const res::Icon& icon, int size) {
    static std::map<std::pair<const res::Icon*, int>, HICON> made;
    if (const auto found = made.find({&icon, size}); found != made.end()) return found->second;
    const auto image = std::find_if(icon.images.begin(), icon.images.end(),
                                    [size](const res::IconImage& i) { return i.size == size; });
    if (image == icon.images.end()) return nullptr;
    std::vector<std::uint32_t> colours(static_cast<std::size_t>(size * size));
    // The mask: one bit a pixel, rows padded to 16 bits, set where the pixel is transparent.
    const int maskStride = ((size + 15) / 16) * 2;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskStride * size), 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const auto i = static_cast<std::size_t>(y * size + x);
            if (image->mask[i]) {
                mask[static_cast<std::size_t>(y * maskStride + x / 8)] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
                continue;
            }
            colours[i] = 0xFF000000u | icon.palette[image->pixels[i] & 0xF];
        }
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = CreateBitmap(size, size, 1, 1, mask.data());
    info.hbmColor = CreateBitmap(size, size, 1, 32, colours.data());
    HICON handle = CreateIconIndirect(&info);
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    made[{&icon, size}] = handle;
    return handle;
}

// The control that had the focus before a help topic showed: it has it again when the topic
// closes, rather than the dialog itself.
HWND g_focusBeforeHelp = nullptr;

void closeHelpText(HWND window, bool restoreFocus) {
    static bool closing = false;  // the window hears of its own deactivation as it goes
    if (closing) return;
    const HWND focus = g_focusBeforeHelp;
    g_focusBeforeHelp = nullptr;
    closing = true;
    DestroyWindow(window);
    closing = false;
    if (restoreFocus && focus && IsWindow(focus) && IsWindowEnabled(focus)) SetFocus(focus);
}

LRESULT CALLBACK helpTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT r;
            GetClientRect(window, &r);
            FillRect(dc, &r, GetSysColorBrush(COLOR_INFOBK));
            InflateRect(&r, -6, -4);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
            SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            const std::string text = textOf(window);
            DrawTextA(dc, text.c_str(), -1, &r, DT_WORDBREAK | DT_NOPREFIX);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            closeHelpText(window, true);
            return 0;
        case WM_ACTIVATE:
            // Another window taken up: the focus stays where the user put it, unless that is
            // the dialog the topic was shown for.
            if (LOWORD(wParam) == WA_INACTIVE)
                closeHelpText(window, reinterpret_cast<HWND>(lParam) ==
                                          GetAncestor(g_focusBeforeHelp, GA_ROOT));
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The chooser's hook: once the system has filled its controls, the file-name field gets the
// name the program put there, and the chooser stands over its owner.
UINT_PTR CALLBACK saveDialogHook(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return 0;
    const auto* ofn = reinterpret_cast<const OPENFILENAMEA*>(lParam);
    const auto* request = reinterpret_cast<const SaveDialogRequest*>(ofn->lCustData);
    constexpr int kFileNameField = 1152;  // edt1
    SetDlgItemTextA(dialog, kFileNameField, request->fileName.c_str());
    RECT box, over;
    GetWindowRect(dialog, &box);
    if (request->owner && GetWindowRect(hwndOf(request->owner), &over)) {
        const int w = box.right - box.left, h = box.bottom - box.top;
        SetWindowPos(dialog, nullptr, std::max(0L, (over.left + over.right - w) / 2),
                     std::max(0L, (over.top + over.bottom - h) / 2), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
}

}  // namespace

bool runSaveDialog(SaveDialogRequest& request) {
    constexpr DWORD kTemplateByNumber = 0x00000040;  // the program's template, by its number
    TemplateWriter writer;
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwndOf(request.owner);
    ofn.lpstrFile = request.file;
    ofn.nMaxFile = request.maxFile;
    ofn.lpstrInitialDir = request.initialFolder;
    // The system names the chooser itself unless told: the template's caption is the name.
    if (!request.title.empty()) ofn.lpstrTitle = request.title.c_str();
    ofn.Flags = request.flags & ~static_cast<DWORD>(OFN_ENABLEHOOK | kTemplateByNumber);
    // The template is data of ours, not a resource of the program: the system takes it from
    // memory. The hook is ours too, standing for the program's own initialisation, which the
    // framework has run already on its side of the windows.
    if (request.dialogTemplate) {
        buildTemplate(*request.dialogTemplate, writer);
        ofn.hInstance = static_cast<HINSTANCE>(const_cast<void*>(writer.data()));
        ofn.Flags |= OFN_ENABLETEMPLATEHANDLE;
    }
    ofn.Flags |= OFN_ENABLEHOOK;
    ofn.lpfnHook = saveDialogHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&request);
    if (!GetSaveFileNameA(&ofn)) return false;
    request.fileOffset = ofn.nFileOffset;
    return true;
}

bool runOpenDialog(const OpenDialogRequest& request, std::string& chosen) {
    std::string filter;
    for (const auto& [name, patterns] : request.filters) {
        filter += name + " (" + patterns + ")";
        filter += '\0';
        filter += patterns;
        filter += '\0';
    }
    std::vector<char> file(32768, '\0');
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwndOf(request.owner);
    ofn.lpstrFilter = filter.c_str();  // ends in two nuls: the string's last and its own
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = request.initialFolder.empty() ? nullptr : request.initialFolder.c_str();
    ofn.lpstrTitle = request.title.c_str();
    // A new name is taken too: the caller makes the file.
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&ofn)) return false;
    chosen = file.data();
    return true;
}

namespace {

int CALLBACK folderDialogCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

}  // namespace

bool runFolderDialog(Window owner, const std::string& title, const std::string& initialFolder,
                     std::string& chosen) {
    char name[MAX_PATH] = {};
    BROWSEINFOA info{};
    info.hwndOwner = hwndOf(owner);
    info.pszDisplayName = name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = folderDialogCallback;
    info.lParam = initialFolder.empty() ? 0 : reinterpret_cast<LPARAM>(initialFolder.c_str());
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (!item) return false;
    char path[MAX_PATH] = {};
    const bool named = SHGetPathFromIDListA(item, path) != FALSE;
    CoTaskMemFree(item);
    if (!named || !path[0]) return false;
    chosen = path;
    return true;
}

std::string documentsFolder() {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

std::string commandLineAsTyped() {
    const char* line = GetCommandLineA();
    return line ? line : "";
}

Window createDialog(const res::DialogTemplate& dialogTemplate, Window owner, DialogEvents& events) {
    static const bool initialised = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)initialised;
    TemplateWriter writer;
    buildTemplate(dialogTemplate, writer);
    HWND dialog = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), static_cast<LPCDLGTEMPLATEA>(writer.data()), hwndOf(owner),
        dialogProc, reinterpret_cast<LPARAM>(&events));
    if (!dialog) return nullptr;
    DialogData& data = dialogData()[dialog];
    data.events = &events;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        data.controls.push_back(child);
    // Centred over the owner, or on the screen.
    RECT box, over;
    GetWindowRect(dialog, &box);
    if (!owner || !GetWindowRect(hwndOf(owner), &over))
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &over, 0);
    const int w = box.right - box.left, h = box.bottom - box.top;
    SetWindowPos(dialog, nullptr, std::max(0L, (over.left + over.right - w) / 2),
                 std::max(0L, (over.top + over.bottom - h) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return dialog;
}

std::vector<Window> controlsOf(Window dialog) {
    std::vector<Window> controls;
    if (const DialogData* data = dataOf(hwndOf(dialog)))
        for (HWND control : data->controls) controls.push_back(control);
    return controls;
}

void runDialog(Window window, Window owner, DialogEvents& events) {
    const HWND dialog = hwndOf(window);
    DialogData* data = dataOf(dialog);
    if (!data) return;
    const bool ownerWasEnabled = owner && IsWindowEnabled(hwndOf(owner));
    if (ownerWasEnabled) EnableWindow(hwndOf(owner), FALSE);
    g_dialogs.push_back(dialog);
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    data->lastFocus = GetFocus();
    events.shown();
    MSG msg;
    while (!events.ended()) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loops outside
            break;
        }
        if (got < 0) break;
        const bool ours = msg.hwnd == dialog || IsChild(dialog, msg.hwnd);
        const bool handled = handleAskingHelp(dialog, *data, msg) ||
                             (ours && handleKey(dialog, *data, msg)) ||
                             IsDialogMessageA(dialog, &msg);
        if (!handled) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!events.ended()) reportFocus(*data);
    }
    g_dialogs.erase(std::remove(g_dialogs.begin(), g_dialogs.end(), dialog), g_dialogs.end());
    // The owner takes the activation back before this window goes, so that no other program's
    // window comes to the front in between.
    if (ownerWasEnabled) EnableWindow(hwndOf(owner), TRUE);
    if (owner) SetActiveWindow(hwndOf(owner));
    ShowWindow(dialog, SW_HIDE);
}

void wake(Window dialog) {
    PostMessageA(hwndOf(dialog), WM_NULL, 0, 0);
}

void destroyWindow(Window window) {
    dialogData().erase(hwndOf(window));
    DestroyWindow(hwndOf(window));
}

Window activeDialog() {
    return g_dialogs.empty() ? nullptr : g_dialogs.back();
}

bool isRunningDialog(Window window) {
    return std::find(g_dialogs.begin(), g_dialogs.end(), hwndOf(window)) != g_dialogs.end();
}

void setText(Window window, const std::string& text) {
    Applying applying;
    SetWindowTextA(hwndOf(window), text.c_str());
}

void setEnabled(Window window, bool enabled) {
    Applying applying;
    EnableWindow(hwndOf(window), enabled ? TRUE : FALSE);
}

void setVisible(Window window, bool visible) {
    Applying applying;
    ShowWindow(hwndOf(window), visible ? SW_SHOWNA : SW_HIDE);
}

void setChecked(Window window, bool checked) {
    Applying applying;
    SendMessageA(hwndOf(window), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void setItems(Window combo, const std::vector<std::string>& items) {
    Applying applying;
    const HWND window = hwndOf(combo);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    const bool list = lstrcmpiA(className, "ListBox") == 0;
    SendMessageA(window, list ? LB_RESETCONTENT : CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        SendMessageA(window, list ? LB_ADDSTRING : CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(item.c_str()));
}

void setSelection(Window combo, int index, const std::string& text) {
    Applying applying;
    const HWND window = hwndOf(combo);
    SendMessageA(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A drop-down combo box's field holds the framework's text, picked or typed.
    if ((GetWindowLongA(window, GWL_STYLE) & 0x3) == CBS_DROPDOWN && textOf(window) != text)
        SetWindowTextA(window, text.c_str());
}

void setEditSelection(Window edit, int start, int end) {
    Applying applying;
    SendMessageA(hwndOf(edit), EM_SETSEL, static_cast<WPARAM>(start), end);
}

void setProgress(Window bar, int low, int high, int pos) {
    Applying applying;
    SendMessageA(hwndOf(bar), PBM_SETRANGE32, static_cast<WPARAM>(low), std::max(low, high));
    SendMessageA(hwndOf(bar), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void setFocus(Window window) {
    Applying applying;
    const HWND control = hwndOf(window);
    SetFocus(control);
    // The focus the framework moved is not the user's move.
    if (DialogData* data = dataOf(GetParent(control))) data->lastFocus = GetFocus();
}

void setIcons(Window dialog, const res::Icon* big, const res::Icon* small) {
    if (big)
        SendMessageA(hwndOf(dialog), WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(iconHandle(*big, 32)));
    if (small)
        SendMessageA(hwndOf(dialog), WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(iconHandle(*small, 16)));
}

void setControlIcon(Window control, const res::Icon& icon) {
    SendMessageA(hwndOf(control), STM_SETICON, reinterpret_cast<WPARAM>(iconHandle(icon, 32)), 0);
}

namespace {

void appendEntries(HMENU menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& entry : entries) {
        MENUITEMINFOA item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
        item.fType = entry.separator ? MFT_SEPARATOR : entry.checked ? MFT_RADIOCHECK : MFT_STRING;
        item.fState = (entry.enabled ? MFS_ENABLED : MFS_DISABLED) |
                      (entry.checked ? MFS_CHECKED : MFS_UNCHECKED);
        item.wID = entry.id;
        item.dwTypeData = const_cast<char*>(entry.text.c_str());
        if (entry.popup) {
            item.fMask |= MIIM_SUBMENU;
            item.hSubMenu = CreatePopupMenu();
            appendEntries(item.hSubMenu, entry.submenu);
        }
        InsertMenuItemA(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &item);
    }
}

}  // namespace

void setSystemMenu(Window dialog, const std::vector<MenuEntry>& entries) {
    DialogData* data = dataOf(hwndOf(dialog));
    if (!data) return;
    data->menu = entries;
    HMENU menu = GetSystemMenu(hwndOf(dialog), FALSE);
    if (!menu) return;
    // Ours are set anew in place, also while the menu is about to open: the system's stay.
    if (data->systemMenuItems < 0) data->systemMenuItems = GetMenuItemCount(menu);
    while (GetMenuItemCount(menu) > data->systemMenuItems)
        DeleteMenu(menu, static_cast<UINT>(data->systemMenuItems), MF_BYPOSITION);
    appendEntries(menu, entries);
}

void repaint(Window window) {
    RedrawWindow(hwndOf(window), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void drawIcon(int x, int y, const res::Icon& icon) {
    if (g_paintContext) DrawIcon(g_paintContext, x, y, iconHandle(icon, 32));
}

Rect clientRect(Window window) {
    RECT r{0, 0, 0, 0};
    GetClientRect(hwndOf(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

Rect rectInDialog(Window control) {
    RECT r{0, 0, 0, 0};
    GetWindowRect(hwndOf(control), &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwndOf(control)), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

Rect dialogUnitsToPixels(Window dialog, int x, int y, int cx, int cy) {
    // As the dialog manager places a control: its position and its size each turned into
    // pixels, so that rounding never moves one edge alone.
    RECT r{x, y, cx, cy};
    MapDialogRect(hwndOf(dialog), &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

bool isEnabled(Window window) {
    return IsWindowEnabled(hwndOf(window)) != FALSE;
}

bool isChecked(Window window) {
    return SendMessageA(hwndOf(window), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string textOf(Window window) {
    const int n = GetWindowTextLengthA(hwndOf(window));
    std::string text(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
    const int got = GetWindowTextA(hwndOf(window), text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

int messageBox(Window owner, const std::string& text, const std::string& caption, unsigned type) {
    return MessageBoxA(hwndOf(owner), text.c_str(), caption.c_str(), type);
}

void setWaitCursor(bool on) {
    if (on)
        ++g_waitDepth;
    else if (g_waitDepth > 0)
        --g_waitDepth;
    SetCursor(
        LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(g_waitDepth > 0 ? IDC_WAIT : IDC_ARROW)));
}

void showHelpText(Window anchor, const std::string& text) {
    static const ATOM helpClass = [] {
        WNDCLASSA c{};
        c.style = CS_DROPSHADOW;
        c.lpfnWndProc = helpTextProc;
        c.hInstance = GetModuleHandleA(nullptr);
        c.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        c.lpszClassName = "QuenvolHelpTopic";
        return RegisterClassA(&c);
    }();
    (void)helpClass;
    // As wide as a short paragraph, as high as the text needs.
    HDC dc = GetDC(nullptr);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT need{0, 0, 320, 0};
    DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ReleaseDC(nullptr, dc);
    // The text's room and its margins inside the border, which the window's size includes.
    RECT frame{0, 0, need.right + 12, need.bottom + 8};
    AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT at{0, 0, 0, 0};
    if (anchor) GetWindowRect(hwndOf(anchor), &at);
    HWND owner = anchor ? GetAncestor(hwndOf(anchor), GA_ROOT) : nullptr;
    HWND popup = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "QuenvolHelpTopic", text.c_str(),
                                 WS_POPUP | WS_BORDER, (at.left + at.right) / 2 - w / 2,
                                 (at.top + at.bottom) / 2, w, h, owner, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (!popup) return;
    g_focusBeforeHelp = GetFocus();
    ShowWindow(popup, SW_SHOW);
    SetFocus(popup);
}

bool helpMenuChosen(Window anchor) {
    HMENU menu = CreatePopupMenu();
    constexpr UINT kWhatsThis = 1;
    AppendMenuA(menu, MF_STRING, kWhatsThis, "&What's This?");
    POINT at;
    GetCursorPos(&at);
    HWND owner = anchor ? GetAncestor(hwndOf(anchor), GA_ROOT) : GetActiveWindow();
    const BOOL chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    DestroyMenu(menu);
    return chosen == kWhatsThis;
}

}  // namespace win32ui
