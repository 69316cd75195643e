// The program's 16-colour icon as Qt images.
#pragma once

#include <QIcon>
#include <QImage>

#include "res/resources.h"

namespace qtui {

// The icon's image of that size (32 or 16) with its transparent pixels; a null image when
// the icon has none of that size.
QImage iconImage(const res::Icon& icon, int size);
// Every size of the icon, for a window's caption and task bar.
QIcon toQIcon(const res::Icon& icon);
// The application's icon as the desktop's icon theme holds it (installed with the program
// in every size, so it scales cleanly), else the drawn one.
QIcon applicationQIcon();

}  // namespace qtui
