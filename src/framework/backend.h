// The one seam between the framework and a window system. The framework keeps every
// window's state itself (WindowObject); a backend shows that state and feeds user input
// back through the functions in framework/input.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/wintypes.h"
#include "res/resources.h"

class CWnd;
class CDialog;
class CFileDialog;

struct MenuItem {
    UINT flags;  // MF_STRING or MF_SEPARATOR
    UINT id;
    std::string text;
};

// One window: a dialog or one of its controls.
struct WindowObject {
    bool isDialog = false;
    int id = 0;
    res::ControlKind kind = res::ControlKind::StaticText;
    const res::DialogTemplate* dialogTemplate = nullptr;  // dialogs only
    std::string text;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::uint32_t helpId = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    bool enabled = true;
    bool visible = true;
    bool destroyed = false;

    bool checked = false;              // radio buttons
    std::vector<std::string> items;    // combo box list
    int curSel = -1;                   // combo box
    int selStart = 0, selEnd = 0;      // edit field selection
    int textLimit = 0;                 // edit field: most bytes the user may type, 0 for any
    int rangeMin = 0, rangeMax = 100;  // progress bar
    int pos = 0;                       // progress bar

    WindowObject* parent = nullptr;
    std::vector<std::unique_ptr<WindowObject>> children;  // dialogs: template order
    CWnd* wnd = nullptr;              // the dialog object, or the control member bound to it
    std::unique_ptr<CWnd> permanent;  // wrapper handed out by GetDlgItem when nothing is bound

    // Dialogs only.
    HWND focus = nullptr;
    bool iconic = false;
    RECT client{0, 0, 0, 0};  // client rectangle in pixels, kept by the backend
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    bool hasSystemMenu = false;
    std::vector<MenuItem> systemMenu;  // entries appended by the program
    bool ended = false;
    INT_PTR result = 0;

    void* backendData = nullptr;  // the backend's own widget
};

// What changed in a window, so that a backend updates only that.
enum class StateChange { Text, Enabled, Checked, Items, Selection, Progress, Focus, Icon, Menu };

// How far a long step of a build has got, for a backend that shows more than the status line
// and the progress bar (the console's progress line and its JSON lines).
struct WorkProgress {
    const char* step = "";  // "formatting", "copying", "boot-sector", "reading-back"
    std::string item;       // the file the step works on, where it works on one
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    const char* unit = "bytes";  // "bytes" or "sectors"
};

class Backend {
  public:
    virtual ~Backend() = default;

    // Shows the dialog (its window objects exist already), runs `dialog.RunInitDialog()`,
    // and loops until the dialog has ended. Nested calls run nested loops.
    virtual void runModal(CDialog& dialog) = 0;
    // The dialog ended or its window was destroyed: leave its loop.
    virtual void endModal(CDialog& dialog) = 0;
    // A window's state changed; show it at once, even inside a handler that pumps no messages.
    virtual void stateChanged(HWND hwnd, StateChange what) = 0;
    // A modal message box; returns the button pressed.
    virtual int messageBox(HWND owner, const std::string& text, const std::string& caption,
                           UINT type) = 0;
    // The same box with what failed underneath for people who want to know, kept apart from
    // the text (a details area); a backend without one shows the text alone.
    virtual int messageBoxWithDetails(HWND owner, const std::string& text,
                                      const std::string& caption, UINT type,
                                      const std::string& details) {
        (void)details;
        return messageBox(owner, text, caption, type);
    }
    virtual void setWaitCursor(bool on) = 0;
    // Context help: a pop-up topic for a control, or the help context menu for it.
    virtual void showHelp(HWND control, const std::string& topic, UINT command) = 0;
    // The shell's format dialog for the drive (0 is A:); returns when the user closes it.
    virtual void formatDrive(HWND owner, UINT drive) = 0;
    // The common Save As dialog; fills the dialog's OPENFILENAME and returns IDOK or IDCANCEL.
    virtual INT_PTR runFileDialog(CFileDialog& dialog) = 0;
    // Paints whatever part of the window waits to be painted.
    virtual void updateNow(HWND hwnd) = 0;
    // Draws an icon into a paint context of the window.
    virtual void drawIcon(HWND hwnd, int x, int y, HICON icon) = 0;
    // A long step went on; the windows show it through the status line and progress bar.
    virtual void workProgress(const WorkProgress&) {}
};

// The backend in use; the program's entry point installs one before start-up.
Backend& AfxBackend();
void AfxSetBackend(Backend* backend);

// A backend installed for one scope, removed however the scope ends.
class ScopedBackend {
  public:
    explicit ScopedBackend(Backend* backend) { AfxSetBackend(backend); }
    ~ScopedBackend() { AfxSetBackend(nullptr); }
    ScopedBackend(const ScopedBackend&) = delete;
    ScopedBackend& operator=(const ScopedBackend&) = delete;
};
