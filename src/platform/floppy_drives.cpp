// The rule that makes one drive (or a path the user named) drive A:, on every system; the
// drives themselves are found by the system's side (posix/, win32/floppy_drives.cpp).
#include "platform/floppy_drives.h"

#include <cctype>
#include <cstdlib>

namespace platform {
namespace {

DriveASelection g_selection;
// The found drive that was last drive A: while it held a diskette.
std::string g_previous;

}  // namespace

void setDriveASelection(DriveASelection selection) {
    g_selection = std::move(selection);
    g_previous.clear();
}

const DriveASelection& driveASelection() {
    return g_selection;
}

DriveAChoice chooseDriveA(const DriveASelection& selection, const std::string& environment,
                          const std::vector<FloppyDrive>& found, const std::string& previous) {
    if (!selection.named.empty()) return {selection.named, DriveASource::Named};
    if (!selection.chosenThisRun.empty()) {
        return {selection.chosenThisRun, DriveASource::ChosenThisRun};
    }
    if (!environment.empty()) return {environment, DriveASource::Environment};
    if (found.empty()) return {defaultDriveAPath(), DriveASource::Default};
    if (found.size() == 1) return {found.front().path, DriveASource::OnlyDrive};
    for (const auto& drive : found) {
        if (!previous.empty() && drive.path == previous && drive.holdsDiskette()) {
            return {drive.path, DriveASource::StillHoldsDiskette};
        }
    }
    for (const auto& drive : found) {
        if (drive.holdsDiskette()) return {drive.path, DriveASource::FirstWithDiskette};
    }
    return {found.front().path, DriveASource::FirstDrive};
}

std::string driveASetting() {
    const char* value = std::getenv("QUENVOL_DRIVE_A");
    return value != nullptr ? value : "";
}

DriveAChoice currentDriveA() {
    const std::string environment = driveASetting();
    std::vector<FloppyDrive> found;
    if (g_selection.named.empty() && g_selection.chosenThisRun.empty() && environment.empty()) {
        found = findFloppyDrives();
    }
    DriveAChoice choice = chooseDriveA(g_selection, environment, found, g_previous);
    for (const auto& drive : found) {
        if (drive.path == choice.path && drive.holdsDiskette()) g_previous = drive.path;
    }
    return choice;
}

std::string driveName(const std::string& path) {
    const auto letter = driveLetterOf(path);
    if (!letter) return path;
    return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(*letter)))) +
           ":";
}

}  // namespace platform
