// The start directory chosen in the window: started where no kit is (from the desktop menu, in
// the home folder), the program says so at once and offers to choose the kit folder for this
// run, and the window menu offers the same choice beside Drive A:.
#pragma once

#include "framework/kit_folder.h"

class QWidget;

namespace qtui {

// How the program lets the window see and change its start directory. Without it (the
// default) the window offers neither the notice nor the menu entry.
using StartDirectory = kitfolder::Access;
void setStartDirectory(StartDirectory access);
bool canChooseStartDirectory();

// When the start directory holds no kit, says which folder and what is missing, and offers
// to choose the kit folder.
void tellWhenNoKit(QWidget* owner);
// Asks for the kit folder and makes it the start directory; a folder without a kit, or one
// that cannot be the start directory, is refused with a message and nothing changes; a kit
// that cannot be written is offered to be copied to a folder of the user's first. True when
// the start directory changed.
bool chooseKitFolder(QWidget* owner);

}  // namespace qtui
