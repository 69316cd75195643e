#include "cli/list_drives.h"

#include "platform/floppy_drives.h"

namespace cli {
namespace {

std::string accessText(const platform::FloppyDrive& drive) {
    if (!drive.mayWrite) return "no access";
    return drive.readOnly ? "read-only" : "writable";
}

std::string whyDriveA(platform::DriveASource source) {
    switch (source) {
        case platform::DriveASource::Named:
            return "named by --drive";
        case platform::DriveASource::Environment:
            return "named by QUENVOL_DRIVE_A";
        default:
            return "no floppy drive was found";
    }
}

}  // namespace

void listDrives(const std::optional<std::string>& drive, std::FILE* out, std::FILE* err) {
    platform::setDriveASelection({.named = drive.value_or(""), .chosenThisRun = {}});
    const auto drives = platform::findFloppyDrives();
    const auto driveA = platform::currentDriveA();
    const auto marked = platform::floppyDriveAt(drives, driveA.path);
    for (const auto& d : drives) {
        const std::string size = d.mediumBytes ? std::to_string(*d.mediumBytes) : "unknown";
        std::fprintf(out, "%s\t%s\t%s\t%s%s\n", d.path.c_str(), size.c_str(),
                     d.description().c_str(), accessText(d).c_str(),
                     marked && marked->name == d.name ? "\tA:" : "");
    }
    std::fflush(out);
    if (drives.empty()) std::fputs("quenvol-cli: no floppy drive found\n", err);
    if (!marked) {
        std::fprintf(err, "quenvol-cli: drive A: is %s (%s)\n", driveA.path.c_str(),
                     whyDriveA(driveA.source).c_str());
    }
}

}  // namespace cli
