// The window menu's "Drive A:" submenu: the floppy drives of the machine with drive A: marked,
// and a diskette image file to choose instead. A choice holds for the rest of the run.
#pragma once

#include <QString>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QWidget;

namespace qtui {

class DriveMenu {
  public:
    // Adds the submenu to `menu`, as it stands now; `usable` false shows it disabled.
    DriveMenu(QMenu& menu, bool usable);

    // Carries out the entry the user chose, if it is one of this submenu's; false otherwise.
    // Questions and refusals are shown over `owner`.
    bool handle(QAction* chosen, QWidget* owner);

  private:
    std::map<QAction*, std::function<void(QWidget*)>> m_actions;
};

// Asks for a diskette image file and makes it drive A: for the rest of the run: an existing
// file of a diskette's size, or a new name, where a blank 1.44 MB image is made. Anything else
// is refused with a message and drive A: stays as it was. True when drive A: changed.
bool chooseDisketteImage(QWidget* owner);

}  // namespace qtui
