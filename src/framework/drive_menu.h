// The window menu's "Drive A:" submenu as the window backends show it: the floppy drives of
// the machine with drive A: marked, and a diskette image file to choose instead. A choice
// holds for the rest of the run.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"

namespace drivemenu {

inline constexpr const char* kMenuText = "&Drive A:";
inline constexpr const char* kNoDriveFound = "No floppy drive found";
inline constexpr const char* kImageEntry = "Diskette &image file...";
inline constexpr const char* kImageChooserTitle = "Diskette image file for drive A:";
// The chooser's first filter: "Diskette images" with these names' endings; then all files.
inline constexpr const char* kImageFilterName = "Diskette images";
inline constexpr const char* kImageSuffixes[] = {"img", "ima", "flp", "vfd", "dsk"};
// The caption of a refusal, and what its text ends with.
inline constexpr const char* kRefusalTitle = "Drive A:";
inline constexpr const char* kStaysAsItWas = "Drive A: stays as it was.";

struct Entry {
    std::string text;  // as a menu shows it: a name's own '&' doubled, its tabs as blanks
    std::string path;  // what choosing the entry makes drive A:
    bool current = false;
};

struct Submenu {
    // False while the program is at work, a build or format here holds drive A:, or the
    // command line named drive A:; the submenu is then shown disabled and empty.
    bool enabled = false;
    bool noneFound = false;      // kNoDriveFound is shown, disabled, before the entries
    std::vector<Entry> entries;  // one of them current; then a separator and kImageEntry
};

// The submenu's own entry, naming the drive that is drive A: now: "&Drive A: (rescue.img)".
std::string menuTitle();

// The submenu as it stands now; `usable` false: the program is at work.
Submenu submenuNow(bool usable);

// Makes `path` drive A: for the rest of the run.
void chooseDrive(const std::string& path);

// Takes the image file the user named (made blank when nothing is there) as drive A:; refused,
// drive A: stays as it was and the failure's message says why.
base::Status chooseImage(const std::string& path);

// Where the image chooser opens: beside the image that is drive A: now, else the current
// folder.
std::string imageChooserFolder();

}  // namespace drivemenu
