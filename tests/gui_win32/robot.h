// A user at the system's windows for the Win32 backend's tests: it acts from a timer that
// every loop of the thread runs (the dialogs', the message boxes'), through the windows' own
// messages. Neither windows.h nor the framework appears here.
#pragma once

#include <functional>
#include <optional>
#include <string>

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
// A choice from the window's system menu, as the menu sends it.
void sysCommand(win32ui::Window window, unsigned command);
// The whole window, frame and caption included, in screen coordinates.
win32ui::Rect windowRect(win32ui::Window window);

}  // namespace robot
