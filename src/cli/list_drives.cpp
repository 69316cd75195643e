#include "cli/list_drives.h"

#include "build/json_writer.h"
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

// How drive A: was chosen, as a word for scripts.
const char* sourceName(platform::DriveASource source) {
    using Source = platform::DriveASource;
    switch (source) {
        case Source::Named:
            return "drive-option";
        case Source::ChosenThisRun:
            return "window-menu";
        case Source::Environment:
            return "environment";
        case Source::OnlyDrive:
            return "only-drive";
        case Source::StillHoldsDiskette:
            return "still-holds-diskette";
        case Source::FirstWithDiskette:
            return "first-with-diskette";
        case Source::FirstDrive:
            return "first-drive";
        case Source::Default:
            break;
    }
    return "default";
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

void listDrivesJson(const std::optional<std::string>& drive, std::FILE* out) {
    platform::setDriveASelection({.named = drive.value_or(""), .chosenThisRun = {}});
    const auto drives = platform::findFloppyDrives();
    const auto driveA = platform::currentDriveA();
    const auto marked = platform::floppyDriveAt(drives, driveA.path);
    build::JsonWriter json;
    json.beginObject().key("drives").beginArray();
    for (const auto& d : drives) {
        json.beginObject().key("path").value(d.path).key("name").value(d.name).key("bytes");
        if (d.mediumBytes)
            json.value(*d.mediumBytes);
        else
            json.null();
        json.key("vendor").value(d.vendor).key("model").value(d.model);
        json.key("description").value(d.description()).key("access").value(accessText(d));
        json.key("readOnly").value(d.readOnly).key("mayWrite").value(d.mayWrite);
        json.key("driveA").value(marked && marked->name == d.name).endObject();
    }
    json.endArray().key("driveA").beginObject().key("path").value(driveA.path);
    json.key("source").value(sourceName(driveA.source)).key("listed").value(marked.has_value());
    json.endObject().endObject();
    std::fprintf(out, "%s\n", json.text().c_str());
    std::fflush(out);
}

}  // namespace cli
