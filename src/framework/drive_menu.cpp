#include "framework/drive_menu.h"

#include <filesystem>
#include <system_error>

#include "platform/diskette_image.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"

namespace drivemenu {
namespace {

// A menu takes '&' for the mark of a mnemonic and a tab for the start of a shortcut: a name's
// own are shown as they are.
std::string menuText(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        if (c == '&') shown += '&';
        shown += c == '\t' ? ' ' : c;
    }
    return shown;
}

// "/dev/sdc, Y-E DATA USB FDU (no diskette, no access)".
std::string driveEntry(const platform::FloppyDrive& drive) {
    std::string notes;
    const auto note = [&notes](const char* text) {
        notes += (notes.empty() ? "" : ", ") + std::string(text);
    };
    if (drive.mediumBytes && *drive.mediumBytes == 0)
        note("no diskette");
    else if (drive.readOnly)
        note("write-protected");
    if (!drive.mayWrite) note("no access");
    std::string text = menuText(platform::driveName(drive.path) + ", " + drive.description());
    if (!notes.empty()) text += " (" + notes + ")";
    return text;
}

}  // namespace

std::string menuTitle() {
    namespace fs = std::filesystem;
    const std::string path = platform::currentDriveA().path;
    std::string name = platform::driveName(path);
    // Drive A: is the drive of that letter: the title says so already.
    if (name == "A:") return kMenuText;
    std::error_code error;
    if (!platform::driveLetterOf(path) && fs::is_regular_file(path, error))
        name = fs::path(path).filename().string();
    return std::string(kMenuText) + " (" + menuText(name) + ")";
}

Submenu submenuNow(bool usable) {
    Submenu submenu;
    // A drive named on the command line outranks anything chosen here, and a build or a
    // format that holds drive A: keeps it.
    if (!usable || !platform::driveASelection().named.empty() || platform::anyDriveHeldHere())
        return submenu;
    submenu.enabled = true;
    const auto drives = platform::findFloppyDrives();
    const auto driveA = platform::currentDriveA();
    const auto marked = platform::floppyDriveAt(drives, driveA.path);
    submenu.noneFound = drives.empty();
    for (const auto& drive : drives)
        submenu.entries.push_back(
            {driveEntry(drive), drive.path, marked && marked->name == drive.name});
    if (!marked) {
        std::string text = menuText(platform::driveName(driveA.path));
        if (driveA.source == platform::DriveASource::Environment) text += " (QUENVOL_DRIVE_A)";
        submenu.entries.push_back({text, driveA.path, true});
    }
    return submenu;
}

void chooseDrive(const std::string& path) {
    platform::DriveASelection selection = platform::driveASelection();
    selection.chosenThisRun = path;
    platform::setDriveASelection(selection);
}

base::Status chooseImage(const std::string& path) {
    auto image = platform::takeDisketteImage(path);
    if (!image) return image.error();
    chooseDrive(image->path);
    return base::Status::success();
}

std::string imageChooserFolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string path = platform::currentDriveA().path;
    const fs::path driveA = path;
    // A drive letter's volume is never asked: that could wake the drive.
    if (!platform::driveLetterOf(path) && fs::is_regular_file(driveA, error))
        return fs::absolute(driveA, error).parent_path().string();
    return fs::current_path(error).string();
}

}  // namespace drivemenu
