#include "ui/win32/win32_backend.h"

#include <algorithm>

#include "framework/afxdlgs.h"
#include "framework/drive_menu.h"
#include "framework/format_dialog.h"
#include "framework/input.h"
#include "framework/kit_folder.h"
#include "ui/win32/system_windows.h"

namespace win32ui {
namespace {

// The main window's system menu also says which drive is drive A:. A system command's id
// keeps its low four bits clear: the drives' entries are numbered in sixteens from here.
constexpr unsigned kFirstDriveEntry = 0x1000;
constexpr unsigned kImageEntry = 0x1FF0;
constexpr unsigned kKitEntry = 0x0FE0;
constexpr const char* kMenuName = "system menu";

// Asks for the kit folder and makes it the start directory; a folder without a kit, or one
// that cannot be the start directory, is refused in words and nothing changes. A kit that
// cannot be written is offered to be copied to a folder of the user's first.
void chooseKitFolder(Window owner) {
    std::string folder;
    if (!runFolderDialog(owner, kitfolder::kChooserTitle, kitfolder::chooserFolder(), folder))
        return;
    const kitfolder::Choice choice = kitfolder::choose(folder);
    switch (choice.verdict) {
        case kitfolder::Verdict::Taken:
            return;
        case kitfolder::Verdict::NoKit:
        case kitfolder::Verdict::Unusable:
            messageBox(owner, choice.refusal + "\n\n" + kitfolder::kStaysAsItWas, kitfolder::kTitle,
                       MB_OK | MB_ICONEXCLAMATION);
            return;
        case kitfolder::Verdict::ReadOnly:
            break;
    }
    if (messageBox(owner, choice.refusal, kitfolder::kTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    std::string into;
    if (!runFolderDialog(owner, kitfolder::kCopyChooserTitle, kitfolder::copyChooserFolder(), into))
        return;
    std::string copied;
    const base::Status made = kitfolder::copyAndUse(folder, into, copied);
    if (!made) {
        messageBox(owner, made.message() + "\n\n" + kitfolder::kStaysAsItWas, kitfolder::kTitle,
                   MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    messageBox(owner, "The kit was copied to " + copied + ", the start directory for this run.",
               kitfolder::kTitle, MB_OK | MB_ICONASTERISK);
}

// Started where no kit is, the program says so at once and offers to choose the kit folder.
void tellWhenNoKit(Window owner) {
    const std::string notice = kitfolder::noKitNotice(kitfolder::access().current());
    if (notice.empty()) return;
    const std::string text = notice + "\n\n" + kitfolder::noKitAdvice(kMenuName) +
                             "\n\nChoose the kit folder for this run now?";
    if (messageBox(owner, text, kitfolder::kTitle, MB_YESNO | MB_ICONASTERISK) == IDYES)
        chooseKitFolder(owner);
}

void chooseImage(Window owner) {
    OpenDialogRequest request{
        owner, drivemenu::kImageChooserTitle, drivemenu::imageChooserFolder(), {}};
    std::string patterns;
    for (const char* suffix : drivemenu::kImageSuffixes)
        patterns += (patterns.empty() ? "*." : ";*.") + std::string(suffix);
    request.filters = {{drivemenu::kImageFilterName, patterns}, {"All files", "*.*"}};
    std::string chosen;
    if (!runOpenDialog(request, chosen)) return;
    const base::Status taken = drivemenu::chooseImage(chosen);
    if (!taken)
        messageBox(owner, taken.message() + "\n\n" + drivemenu::kStaysAsItWas,
                   drivemenu::kRefusalTitle, MB_OK | MB_ICONEXCLAMATION);
}

// One running dialog: the framework's dialog and its system windows, and the user's input
// passed on to the framework's dialog manager.
class DialogBridge : public DialogEvents {
  public:
    explicit DialogBridge(CDialog& dialog) : m_dialog(dialog), m_root(dialog.m_hWnd) {}

    CDialog& dialog() const { return m_dialog; }
    Window window = nullptr;
    std::vector<std::string> drivePaths;  // what the system menu's Drive A: entries choose

    void clicked(std::size_t control) override { afx::userClick(child(control)); }
    void key(DialogKey key) override {
        afx::userKey(m_dialog, key == DialogKey::Enter    ? afx::Key::Enter
                               : key == DialogKey::Escape ? afx::Key::Escape
                                                          : afx::Key::F1);
    }
    void focused(std::size_t control) override {
        HWND hwnd = child(control);
        if (hwnd && hwnd != m_root->focus) afx::userSetFocus(hwnd);
    }
    void typed(std::size_t control, const std::string& text) override {
        if (HWND hwnd = child(control)) afx::userSetText(hwnd, text);
    }
    void picked(std::size_t control, int item) override {
        if (HWND hwnd = child(control)) afx::userSelectItem(hwnd, item);
    }
    void helpClicked(std::size_t control) override {
        HWND hwnd = child(control);
        afx::userHelpClick(hwnd ? hwnd : m_root);
    }
    void contextMenu(std::size_t control, int x, int y) override {
        // The keyboard's context menu concerns the focused control.
        HWND hwnd = x == -1 && y == -1 ? m_root->focus : child(control);
        afx::userContextMenu(m_dialog, hwnd, POINT{x, y});
    }
    void sysCommand(unsigned command) override {
        if (command == kKitEntry) {
            chooseKitFolder(window);
        } else if (command == kImageEntry) {
            chooseImage(window);
        } else if (command >= kFirstDriveEntry && command < kImageEntry) {
            const std::size_t entry = (command - kFirstDriveEntry) / 16;
            if (entry < drivePaths.size()) drivemenu::chooseDrive(drivePaths[entry]);
        } else {
            afx::userSysCommand(m_dialog, command);
        }
    }
    void systemMenuOpening() override;
    bool arrow(bool forward) override {
        // As the arrow keys do in a dialog.
        return afx::arrowInRadioGroup(m_root->focus, forward);
    }
    void paint() override { SendMessageA(m_root, WM_PAINT, 0, 0); }
    void shown() override {
        const CWnd* main = AfxGetMainWnd();
        if (main && main->m_hWnd == m_root && kitfolder::available()) tellWhenNoKit(window);
    }
    bool ended() const override { return m_dialog.HasEnded(); }

  private:
    HWND child(std::size_t index) const {
        return index < m_root->children.size() ? m_root->children[index].get() : nullptr;
    }

    CDialog& m_dialog;
    HWND m_root;
};

std::vector<DialogBridge*>& running() {
    static std::vector<DialogBridge*> bridges;
    return bridges;
}

DialogBridge* bridgeOf(HWND hwnd) {
    HWND root = afx::rootOf(hwnd);
    return root && root->isDialog ? static_cast<DialogBridge*>(root->backendData) : nullptr;
}

Window ownerOf(HWND owner) {
    if (DialogBridge* bridge = owner ? bridgeOf(owner) : nullptr) return bridge->window;
    return activeDialog();
}

void applyControl(HWND control, Window window, StateChange what) {
    switch (what) {
        case StateChange::Text:
            if (control->kind == res::ControlKind::ComboBox)
                setSelection(window, control->curSel, control->text);
            else
                setText(window, control->text);
            break;
        case StateChange::Enabled:
            setEnabled(window, control->enabled);
            break;
        case StateChange::Checked:
            setChecked(window, control->checked);
            break;
        case StateChange::Items:
            setItems(window, control->items);
            if (control->kind == res::ControlKind::ComboBox)
                setSelection(window, control->curSel, control->text);
            break;
        case StateChange::Selection:
            if (control->kind == res::ControlKind::Edit)
                setEditSelection(window, control->selStart, control->selEnd);
            else if (control->kind == res::ControlKind::ComboBox)
                setSelection(window, control->curSel, control->text);
            return;
        case StateChange::Progress:
            setProgress(window, control->rangeMin, control->rangeMax, control->pos);
            break;
        case StateChange::Focus:
            setFocus(window);
            return;
        case StateChange::Icon:
        case StateChange::Menu:
            return;
    }
    // The handler that changed the control may run on without returning to the loop.
    repaint(window);
}

// The program's entries and, in its main window, the Drive A: submenu: as it stands now when
// `look` (the menu opens), else left to fill then. It is closed while the program is at work,
// since a build holds drive A: from its format to its end.
std::vector<MenuEntry> systemMenuOf(HWND root, bool look) {
    std::vector<MenuEntry> entries;
    for (const MenuItem& item : root->systemMenu)
        entries.push_back((item.flags & MF_SEPARATOR) ? MenuEntry::line()
                                                      : MenuEntry::command(item.id, item.text));
    DialogBridge* bridge = bridgeOf(root);
    const CWnd* main = AfxGetMainWnd();
    if (!bridge || !main || main->m_hWnd != root) return entries;
    entries.push_back(MenuEntry::line());
    if (kitfolder::available())
        entries.push_back(
            MenuEntry::command(kKitEntry, kitfolder::kMenuEntry, !look || !afx::isAtWork(root)));
    if (!look) {
        entries.push_back(MenuEntry::submenuOf(drivemenu::kMenuText, true, {}));
        return entries;
    }
    const drivemenu::Submenu now = drivemenu::submenuNow(!afx::isAtWork(root));
    std::vector<MenuEntry> drives;
    if (now.noneFound) drives.push_back(MenuEntry::command(0, drivemenu::kNoDriveFound, false));
    bridge->drivePaths.clear();
    for (const drivemenu::Entry& entry : now.entries) {
        if (bridge->drivePaths.size() * 16 >= kImageEntry - kFirstDriveEntry) break;
        const auto id = static_cast<unsigned>(kFirstDriveEntry + 16 * bridge->drivePaths.size());
        drives.push_back(MenuEntry::command(id, entry.text, true, entry.current));
        bridge->drivePaths.push_back(entry.path);
    }
    if (now.enabled) {
        drives.push_back(MenuEntry::line());
        drives.push_back(MenuEntry::command(kImageEntry, drivemenu::kImageEntry));
    }
    entries.push_back(MenuEntry::submenuOf(drivemenu::menuTitle(), now.enabled, std::move(drives)));
    return entries;
}

void applyDialog(HWND root, Window window, StateChange what) {
    switch (what) {
        case StateChange::Text:
            setText(window, root->text);
            break;
        case StateChange::Enabled:
            setEnabled(window, root->enabled);
            break;
        case StateChange::Icon:
            setIcons(window, root->bigIcon, root->smallIcon);
            break;
        case StateChange::Menu:
            setSystemMenu(window, systemMenuOf(root, false));
            break;
        default:
            break;
    }
}

// Everything the framework holds about the windows so far, shown before initialisation.
void applyAll(HWND root, Window window, const std::vector<Window>& controls) {
    for (std::size_t i = 0; i < root->children.size() && i < controls.size(); ++i) {
        HWND control = root->children[i].get();
        control->backendData = controls[i];
        if (control->kind == res::ControlKind::StaticIcon)
            setControlIcon(controls[i], res::applicationIcon());
        if (control->kind == res::ControlKind::ComboBox ||
            control->kind == res::ControlKind::ListBox)
            applyControl(control, controls[i], StateChange::Items);
        if (control->kind == res::ControlKind::AutoRadioButton)
            applyControl(control, controls[i], StateChange::Checked);
        if (control->kind == res::ControlKind::ProgressBar)
            applyControl(control, controls[i], StateChange::Progress);
        if (control->kind != res::ControlKind::StaticIcon)
            applyControl(control, controls[i], StateChange::Text);
        applyControl(control, controls[i], StateChange::Enabled);
        setVisible(controls[i], control->visible);
    }
    applyDialog(root, window, StateChange::Icon);
    applyDialog(root, window, StateChange::Menu);
    const Rect client = clientRect(window);
    root->client = {client.left, client.top, client.right, client.bottom};
}

}  // namespace

Win32Backend::~Win32Backend() {
    while (m_waitDepth > 0) setWaitCursor(false);
}

void* Win32Backend::windowOf(HWND hwnd) {
    if (!hwnd) return nullptr;
    if (hwnd->isDialog) {
        DialogBridge* bridge = bridgeOf(hwnd);
        return bridge ? bridge->window : nullptr;
    }
    return bridgeOf(hwnd) ? hwnd->backendData : nullptr;
}

void DialogBridge::systemMenuOpening() {
    if (window) setSystemMenu(window, systemMenuOf(m_root, true));
}

void Win32Backend::runModal(CDialog& dialog) {
    HWND root = dialog.m_hWnd;
    DialogBridge bridge(dialog);
    const Window owner = dialog.Parent() ? ownerOf(dialog.Parent()->m_hWnd) : activeDialog();
    bridge.window = createDialog(*root->dialogTemplate, owner, bridge);
    if (!bridge.window) {
        // No dialog without a display: the framework's -1, as the system's dialog box gives.
        dialog.EndDialog(-1);
        return;
    }
    root->backendData = &bridge;
    running().push_back(&bridge);
    applyAll(root, bridge.window, controlsOf(bridge.window));
    dialog.RunInitDialog();
    runDialog(bridge.window, owner, bridge);
    running().pop_back();
    for (const auto& child : root->children) child->backendData = nullptr;
    root->backendData = nullptr;
    destroyWindow(bridge.window);
}

void Win32Backend::endModal(CDialog& dialog) {
    for (DialogBridge* bridge : running())
        if (&bridge->dialog() == &dialog) wake(bridge->window);
}

void Win32Backend::stateChanged(HWND hwnd, StateChange what) {
    Window window = windowOf(hwnd);
    if (!window) return;
    if (hwnd->isDialog)
        applyDialog(hwnd, window, what);
    else
        applyControl(hwnd, window, what);
}

int Win32Backend::messageBox(HWND owner, const std::string& text, const std::string& caption,
                             UINT type) {
    constexpr UINT kIconMask = 0xF0;
    return win32ui::messageBox(ownerOf(owner), text, caption,
                               (type & ~kIconMask) | afx::messageBoxIcon(type));
}

int Win32Backend::messageBoxWithDetails(HWND owner, const std::string& text,
                                        const std::string& caption, UINT type,
                                        const std::string& details) {
    // The system's message box has no details area: they are its second paragraph.
    return messageBox(owner, text + "\n\n" + details, caption, type);
}

void Win32Backend::setWaitCursor(bool on) {
    if (on)
        ++m_waitDepth;
    else if (m_waitDepth > 0)
        --m_waitDepth;
    else
        return;
    win32ui::setWaitCursor(on);
}

void Win32Backend::showHelp(HWND control, const std::string& topic, UINT command) {
    Window anchor = windowOf(control);
    if (!anchor) anchor = ownerOf(control);
    if (command == HELP_CONTEXTMENU && !helpMenuChosen(anchor)) return;
    showHelpText(anchor, topic);
}

void Win32Backend::formatDrive(HWND owner, UINT drive) {
    shell::runFormatDialog(owner, drive);
}

INT_PTR Win32Backend::runFileDialog(CFileDialog& dialog) {
    OPENFILENAME& ofn = dialog.m_ofn;
    if (!ofn.lpstrFile || ofn.nMaxFile == 0) return IDCANCEL;
    ofn.lpstrFile[0] = '\0';
    SaveDialogRequest request{
        ownerOf(dialog.Parent() ? dialog.Parent()->m_hWnd : nullptr),
        (ofn.Flags & OFN_ENABLETEMPLATE) ? res::findDialogTemplate(ofn.lpTemplateName) : nullptr,
        ofn.lpstrInitialDir,
        dialog.FileNameField(),
        dialog.m_hWnd ? dialog.m_hWnd->text : std::string(),
        ofn.Flags,
        ofn.lpstrFile,
        ofn.nMaxFile,
        0};
    if (!runSaveDialog(request)) return IDCANCEL;
    ofn.nFileOffset = request.fileOffset;
    return IDOK;
}

void Win32Backend::updateNow(HWND hwnd) {
    if (Window window = windowOf(hwnd)) repaint(window);
}

void Win32Backend::drawIcon(HWND, int x, int y, HICON icon) {
    if (icon) win32ui::drawIcon(x, y, *icon);
}

}  // namespace win32ui
