// A user at the system's windows for the Win32 backend's tests: it acts from a timer that
// every loop of the thread runs (the dialogs', the message boxes'), through the windows' own
// messages. Neither windows.h nor the framework appears here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/win32/system_windows.h"

namespace robot {

// Calls `tick` every 50 ms until stopTicking(); a tick never runs inside another.
void startTicking(std::function<void()> tick);
void stopTicking();

// The system's message box this thread shows, with its text.
struct ShownBox {
    win32ui::Window window;
    std::string text;
};
std::optional<ShownBox> shownMessageBox();
// Presses the box's button with that answer (IDOK, IDYES...); false when it has none.
bool answer(const ShownBox& box, int button);
// A mouse click on a button, as the button window gets it.
void click(win32ui::Window button);
// The control of a dialog window by its id, or nullptr.
win32ui::Window controlById(win32ui::Window dialog, int id);
bool isVisible(win32ui::Window window);
// The window's system menu opened as a user opens it: a click on the caption's icon, or
// Alt+Space.
void openSystemMenu(win32ui::Window window, bool mouse);
// The caption's help button clicked; where the system draws none (wine), its command is sent
// as the button sends it.
void clickHelpButton(win32ui::Window window);
// The entry of that text in a menu shown now, chosen with the mouse (a click on it) or the
// keyboard (the arrow keys to it, then Enter): true once it is chosen; false when no shown
// menu holds it, or when the keys have only moved towards it (call again).
bool chooseMenuEntry(const std::string& text, bool mouse);
// Every command a menu may give that reaches a window of this thread from now on, and whether
// it came from a menu entry the user highlighted (not posted by anyone else).
struct MenuCommand {
    unsigned id;
    bool throughMenu;
};
void watchMenuCommands();
std::vector<MenuCommand> menuCommandsSeen();
// An entry of a window's system menu as the menu would show it.
struct MenuItem {
    std::string text;
    unsigned id;
    bool enabled;
    bool checked;
    std::vector<MenuItem> submenu;
};
// The window's system menu once it is about to open (the window is told so first, as when
// the user opens it), without opening it; separators are left out.
std::vector<MenuItem> systemMenu(win32ui::Window window);
// Text typed into an edit field, as the field tells its dialog.
void type(win32ui::Window field, const std::string& text);
// The system's file dialog `box`: `path` typed as the file's name, then Open pressed.
void chooseFile(const ShownBox& box, std::string path);
// Keys and the mouse as their devices give them, to the window under the pointer or with the
// focus.
enum class Key { F1, Up, Down, Right, Return, Escape, Space, Tab };
void pressKey(Key key, bool shift = false, bool alt = false);
void mouseClick(win32ui::Window window, bool right = false);
// The menu the system tracks now (a context menu), if one is shown.
bool menuShown();
// Ends the menus this thread tracks, as a click elsewhere would.
void endMenus();
// The windows of the menus shown now, submenus among them, in screen coordinates.
std::vector<win32ui::Rect> menuRects();
// The help topic pop-up shown now: its text, and it is closed; none when none is shown.
std::optional<std::string> takeHelpTopic();
// The help topic pop-up shown now, left open: its text, and whether the whole text fits in
// it as it draws the text; none when none is shown.
struct HelpTopic {
    std::string text;
    bool fits;
};
std::optional<HelpTopic> helpTopicShown();
// The help topic pop-up shown now clicked, which closes it.
void clickHelpTopic();
// The folder the system's folder chooser `box` has selected, as its tree names it ("kit");
// empty when none.
std::string chosenFolderName(const ShownBox& box);
// The window with the keyboard focus.
win32ui::Window focusedWindow();
// The whole window, frame and caption included, in screen coordinates.
win32ui::Rect windowRect(win32ui::Window window);

}  // namespace robot
