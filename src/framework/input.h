// User input as the window system delivers it to a dialog, with the dialog manager's rules
// (Enter, Escape, F1, clicks, context help). Backends call these; tests call them too.
#pragma once

#include <string>
#include <vector>

#include "framework/afxwin.h"

namespace afx {

enum class Key { Enter, Escape, F1 };

// A mouse click (or Space) on a control: buttons are pressed, auto radio buttons select.
// Disabled or hidden controls ignore it.
void userClick(HWND control);
// A key in the dialog: Enter presses the focused push button (a check box is none), else the
// default button, else sends IDOK; Escape sends IDCANCEL; F1 asks for help on the focused
// control.
void userKey(CDialog& dialog, Key key);
// The window system moved the focus (a click, Tab).
void userSetFocus(HWND control);
// Text typed into an editable control; an edit field refuses text longer than its limit.
void userSetText(HWND control, const std::string& text);
// An item picked from a combo box's list.
void userSelectItem(HWND combo, int index);
// The caption's help button followed by a click on `control`.
void userHelpClick(HWND control);
// A right click on `control`; a disabled or mouse-transparent control (static text, group
// box) and the background give the dialog itself.
void userContextMenu(CDialog& dialog, HWND control, POINT screen = {0, 0});
// A system-menu command (the About entry, SC_CLOSE from the caption's close box or Alt+F4).
void userSysCommand(CDialog& dialog, UINT command);

// The dialog manager's rules about controls, for every backend and the framework itself.
// A control takes the user's clicks, keys and typing: it exists, is enabled and is shown.
bool acceptsInput(HWND control);
// Tab stops at the control: it has WS_TABSTOP and takes input.
bool isTabStop(HWND control);
// A button that its style makes an automatic check box, as the system's button class reads it.
bool isCheckBox(HWND control);
// The program disables controls while it works: a control that the template means to be
// enabled is disabled.
bool isAtWork(HWND dialog);
// The automatic radio buttons of the control's group, in template order. A group starts at a
// control with WS_GROUP (or at the dialog's first control) and runs up to the next one; a
// click checks one of its radio buttons and clears the others, DDX_Radio numbers them, and
// the arrow keys move among them.
std::vector<HWND> radioGroupOf(HWND control);
// An arrow key in a dialog whose focus is `focus`: on an automatic radio button, the next
// radio button of its group (backwards with `forward` false) that takes input is clicked, and
// true is returned; elsewhere the key is not the group's and false is returned.
bool arrowInRadioGroup(HWND focus, bool forward);

// The dialog that `hwnd` belongs to.
HWND rootOf(HWND hwnd);
// A control of a dialog window by id, or nullptr.
HWND findControl(HWND dialog, int id);
// The shown icon of a message box: type 0 gets the exclamation icon, a question without an
// icon the question mark.
UINT messageBoxIcon(UINT type);

}  // namespace afx
