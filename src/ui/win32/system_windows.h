// The system side of the Win32 backend as the framework's side sees it: real windows behind
// plain handles and types. Neither windows.h nor the framework's stand-ins under the system's
// names appear here, so that each side's files can include this beside their own headers.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "res/resources.h"

namespace win32ui {

using Window = void*;  // a system window handle
inline constexpr std::size_t kNoControl = static_cast<std::size_t>(-1);

enum class DialogKey { Enter, Escape, F1 };

// What the user did in a dialog window, reported to the framework's side, which decides. A
// control is named by its index in template order.
class DialogEvents {
  public:
    virtual ~DialogEvents() = default;
    virtual void clicked(std::size_t control) = 0;
    virtual void key(DialogKey key) = 0;
    virtual void focused(std::size_t control) = 0;
    virtual void typed(std::size_t control, const std::string& text) = 0;
    virtual void picked(std::size_t control, int item) = 0;
    // The caption's help button and then a click on a control, or on no control.
    virtual void helpClicked(std::size_t control) = 0;
    // A right click at (x, y) on the screen, or the keyboard's context menu (-1, -1).
    virtual void contextMenu(std::size_t control, int x, int y) = 0;
    virtual void sysCommand(unsigned command) = 0;
    // The system menu is about to open: the framework's side may set its entries anew.
    virtual void systemMenuOpening() = 0;
    // An arrow key moves among radio buttons; false when the focus is on none.
    virtual bool arrow(bool forward) = 0;
    virtual void paint() = 0;
    virtual bool ended() const = 0;
    // The dialog shows for the first time, before its loop runs.
    virtual void shown() {}
};

struct MenuEntry {
    bool separator = false;
    unsigned id = 0;
    std::string text;
    bool enabled = true;
    bool checked = false;            // shown with the radio mark
    bool popup = false;              // a submenu's entry, named by `text`
    std::vector<MenuEntry> submenu;  // what a submenu holds

    static MenuEntry line() {
        MenuEntry entry;
        entry.separator = true;
        return entry;
    }
    static MenuEntry command(unsigned id, std::string text, bool enabled = true,
                             bool checked = false) {
        MenuEntry entry;
        entry.id = id;
        entry.text = std::move(text);
        entry.enabled = enabled;
        entry.checked = checked;
        return entry;
    }
    static MenuEntry submenuOf(std::string text, bool enabled, std::vector<MenuEntry> entries) {
        MenuEntry entry = command(0, std::move(text), enabled);
        entry.popup = true;
        entry.submenu = std::move(entries);
        return entry;
    }
};

struct Rect {
    int left, top, right, bottom;
};

// Makes the dialog's windows from its template, hidden; nullptr when the system could not
// (no display). The controls are the window's children in template order.
Window createDialog(const res::DialogTemplate& dialogTemplate, Window owner, DialogEvents& events);
std::vector<Window> controlsOf(Window dialog);
// Shows the dialog with its owner disabled and runs its messages until `events.ended()`.
void runDialog(Window dialog, Window owner, DialogEvents& events);
// Wakes the loops so that an ended dialog's loop sees it.
void wake(Window dialog);
void destroyWindow(Window window);
// The innermost dialog the user sees, for owning message boxes.
Window activeDialog();
// One of the framework's dialogs that runs now (not a message box or a chooser of the system's).
bool isRunningDialog(Window window);

void setText(Window window, const std::string& text);
void setEnabled(Window window, bool enabled);
void setVisible(Window window, bool visible);
void setChecked(Window window, bool checked);
void setItems(Window combo, const std::vector<std::string>& items);
void setSelection(Window combo, int index, const std::string& text);
void setEditSelection(Window edit, int start, int end);
void setProgress(Window bar, int low, int high, int pos);
void setFocus(Window window);
void setIcons(Window dialog, const res::Icon* big, const res::Icon* small);
void setControlIcon(Window control, const res::Icon& icon);
void setSystemMenu(Window dialog, const std::vector<MenuEntry>& entries);
void repaint(Window window);
// Draws an icon into the dialog being painted (inside DialogEvents::paint only).
void drawIcon(int x, int y, const res::Icon& icon);

Rect clientRect(Window window);
// A control's rectangle in its dialog's client coordinates.
Rect rectInDialog(Window control);
// A rectangle in dialog units turned into pixels by the dialog's font.
Rect dialogUnitsToPixels(Window dialog, int x, int y, int cx, int cy);
bool isEnabled(Window window);
bool isChecked(Window window);
std::string textOf(Window window);

// The system's Save As dialog in its old style with `dialogTemplate` as its whole layout, and
// `fileName` put into its file-name field once the system has filled its own controls. On
// OK, true with the chosen file's full path in `file` and the name's index in `fileOffset`.
struct SaveDialogRequest {
    Window owner;
    const res::DialogTemplate* dialogTemplate;  // nullptr: the system's own layout
    const char* initialFolder;
    std::string fileName;
    std::string title;  // empty: the system's own
    unsigned flags;     // the file dialog's OFN_ flags as the framework holds them
    char* file;
    unsigned maxFile;
    unsigned short fileOffset;
};
bool runSaveDialog(SaveDialogRequest& request);

// The system's Open dialog for one file that need not exist yet; true with its full path.
struct OpenDialogRequest {
    Window owner;
    std::string title;
    std::string initialFolder;
    // (name, patterns) pairs, patterns as "*.img;*.ima".
    std::vector<std::pair<std::string, std::string>> filters;
};
bool runOpenDialog(const OpenDialogRequest& request, std::string& chosen);

// The system's folder chooser, opened at `initialFolder`; true with the chosen folder.
bool runFolderDialog(Window owner, const std::string& title, const std::string& initialFolder,
                     std::string& chosen);
// The user's documents folder; empty when the system names none.
std::string documentsFolder();
// The process's command line as it was typed, the program's name first.
std::string commandLineAsTyped();

int messageBox(Window owner, const std::string& text, const std::string& caption, unsigned type);
void setWaitCursor(bool on);
// A help topic in a pop-up window at the centre of `anchor`, closed by the next click or key.
void showHelpText(Window anchor, const std::string& text);
// The help context menu at the pointer; true when its "What's This?" was chosen.
bool helpMenuChosen(Window anchor);

}  // namespace win32ui
