// The application icon as the bytes of an .ico file, for the Windows programs' icon resource
// and the installer's icon.
#pragma once

#include <cstdint>
#include <vector>

#include "res/resources.h"

namespace res {

// An icon directory of every image in the icon's order, each image a 4-bit device-independent
// bitmap with the icon's palette: its header (of the doubled height the format wants), the
// palette, the colour rows and then the transparency mask's rows (a set bit lets the screen
// through), both from the bottom row up, each row padded to four bytes.
std::vector<std::uint8_t> icoFile(const Icon& icon);

}  // namespace res
