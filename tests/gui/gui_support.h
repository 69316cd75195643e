// Driving the Qt windows from tests: modal dialogs and menus run nested loops, so a test
// queues what to do when each one appears, and a time limit turns a missing or stuck window
// into a failure instead of a hang.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <string>

#include "app/CrisisDlg.h"
#include "ui/qt/dialog_window.h"
#include "ui/qt/qt_backend.h"

class QWidget;

namespace guitest {

using Match = std::function<bool(QWidget*)>;
using Action = std::function<void(QWidget*)>;

// Once the active modal window (or, for menus, the active pop-up) matches, runs the action
// on it. After five seconds without a match the test fails and open windows are closed.
void whenModal(const QString& what, Match match, Action action);
void whenPopup(const QString& what, Match match, Action action);

// Matches for the windows the program opens.
Match dialogOf(int templateId);
Match messageBox();
Match folderChooser();
Match menuNamed(const QString& objectName);

// Closes a modal window the way its user would say "cancel".
void dismiss(QWidget* window);

// Keyboard input as the window system delivers it: to the focused widget.
void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Waits until `widget` has the keyboard; false after five seconds.
bool waitForFocus(QWidget* widget);
// Mouse clicks through the window, so that the toolkit picks the widget under the pointer.
void clickAt(QWidget* window, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton);
// Clicks the menu entry with that text; false when there is none.
bool chooseMenuEntry(QWidget* menu, const QString& text);

// The widget of control `id` in a dialog window.
template <class W>
W* controlWidget(QWidget* window, int id) {
    return window->findChild<W*>(QStringLiteral("ctl%1").arg(id));
}

// The visible help pop-ups; closes them.
int visibleHelpPopups();
void closeHelpPopups();

// Every test gets its own settings folder, start directory and empty drive A:, and the Qt
// backend with the help file from the source tree.
class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the main dialog as the program's main window; returns DoModal's result.
    INT_PTR runMain(CCrisisDlg& dialog);
    std::string settingsFile() const;

    qtui::QtBackend m_backend;
    QTemporaryDir m_settings;
    QTemporaryDir m_startDir;

  private:
    std::string m_previousDir;
};

}  // namespace guitest
