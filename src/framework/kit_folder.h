// The kit folder (the start directory) chosen in a window, the same on both systems: started
// where no kit is (from the desktop or the Start menu), the program says so at once and offers
// to choose the kit folder for this run, and the window's menu offers the same choice. A kit
// that cannot be written (the sample installed with the program, a read-only share) is named as
// such, with the offer to copy it to a folder of the user's. The windows ask; the words, the
// checks and the copy are here.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "base/result.h"

namespace kitfolder {

// How the program lets a window see and change its start directory. Without it (the default)
// the windows offer neither the notice nor the menu entry.
struct Access {
    std::function<std::string()> current;
    // What a folder lacks of a kit: whether minidos.sys and a flash utility are missing.
    std::function<std::pair<bool, bool>(const std::string& folder)> missing;
    // Makes the folder the start directory; false when it cannot be (nothing changed).
    std::function<bool(const std::string& folder)> use;
    // Whether a build may write into the folder; unset: found out by writing a file there.
    std::function<bool(const std::string& folder)> writable;
    // The sample kit installed with the program, where the chooser opens; unset: the current
    // start directory.
    std::function<std::string()> sample;
    // A folder of the user's own (the documents), where the chooser for a copy of the kit
    // opens.
    std::function<std::string()> own;
};
void setAccess(Access access);
bool available();
const Access& access();

inline constexpr const char* kTitle = "Kit Folder";
inline constexpr const char* kMenuEntry = "&Kit folder...";
inline constexpr const char* kChooserTitle = "Kit folder (start directory) for this run";
inline constexpr const char* kCopyChooserTitle = "Folder of yours to copy the kit into";
inline constexpr const char* kChooseButton = "&Choose Kit Folder...";
inline constexpr const char* kNotNowButton = "&Not Now";
inline constexpr const char* kStaysAsItWas = "The start directory stays as it was.";
// The folder a copy of the kit is made in, inside the folder the user chooses.
inline constexpr const char* kCopyFolderName = "Quenvol kit";

// "minidos.sys and a flash utility (zyplet.exe or zyplet16.exe) are missing", or empty for a
// folder that holds a kit.
std::string whatIsMissing(const std::string& folder);
// "The start directory C:\x holds no kit: ...." and what to do, `menuName` naming the menu
// that holds kMenuEntry; empty when the start directory holds a kit.
std::string noKitNotice(const std::string& folder);
std::string noKitAdvice(const std::string& menuName);
// Where the chooser opens: the installed sample kit when there is one, else the start
// directory.
std::string chooserFolder();
std::string copyChooserFolder();

// What choosing a folder comes to, before anything changes.
enum class Verdict { Taken, NoKit, ReadOnly, Unusable };
struct Choice {
    Verdict verdict;
    std::string refusal;  // the words for NoKit and Unusable; the question for ReadOnly
};
// Checks the folder and, when it holds a kit a build may write into, makes it the start
// directory.
Choice choose(const std::string& folder);
// Copies the kit's files (not its subfolders) into kCopyFolderName inside `into`, then makes
// the copy the start directory; the copy's path in `copied`. A file already there is kept.
base::Status copyAndUse(const std::string& kit, const std::string& into, std::string& copied);

}  // namespace kitfolder
