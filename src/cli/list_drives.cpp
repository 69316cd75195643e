#include "cli/list_drives.h"

#include "build/json_writer.h"
#include "platform/drive_a.h"
#include "platform/floppy_drives.h"

namespace cli {
namespace {

// A field as it may stand in a line of tab-separated fields: control characters, the Unicode
// line and paragraph separators and the backslash are written as escapes ("\t", "\n",
// "\x1b", "\u2028", "\\"), so that no vendor, model or path can break a line or a field.
std::string oneField(const std::string& text) {
    std::string out;
    char hex[8];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
        };
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else if (c == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
            // C1 controls in UTF-8, NEL (U+0085) among them.
            std::snprintf(hex, sizeof hex, "\\u%04x", next(1));
            out += hex;
            i += 1;
        } else if (c == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
            out += next(2) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

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

// The drives, with the medium of each drive whose listing cannot tell it (the floppy
// controller's) measured by opening it: the driver then looks for a diskette.
std::vector<platform::FloppyDrive> measuredDrives() {
    auto drives = platform::findFloppyDrives();
    for (auto& d : drives) {
        if (d.mediumBytes) continue;
        if (const auto medium = platform::measureMediumAt(d.path); medium && medium->blockDevice) {
            d.mediumBytes = medium->bytes;
        }
    }
    return drives;
}

}  // namespace

void listDrives(const std::optional<std::string>& drive, std::FILE* out, std::FILE* err) {
    platform::setDriveASelection({.named = drive.value_or(""), .chosenThisRun = {}});
    const auto drives = measuredDrives();
    const auto driveA = platform::currentDriveA();
    const auto marked = platform::floppyDriveAt(drives, driveA.path);
    for (const auto& d : drives) {
        const std::string size = d.mediumBytes ? std::to_string(*d.mediumBytes) : "unknown";
        std::fprintf(out, "%s\t%s\t%s\t%s%s\n", oneField(d.path).c_str(), size.c_str(),
                     oneField(d.description()).c_str(), accessText(d).c_str(),
                     marked && marked->name == d.name ? "\tA:" : "");
    }
    std::fflush(out);
    if (drives.empty()) std::fputs("quenvol-cli: no floppy drive found\n", err);
    if (!marked) {
        const auto letter = platform::driveLetterOf(driveA.path);
        const std::string shown = letter ? std::string(1, *letter) + ":" : oneField(driveA.path);
        std::fprintf(err, "quenvol-cli: drive A: is %s (%s)\n", shown.c_str(),
                     whyDriveA(driveA.source).c_str());
    }
}

void listDrivesJson(const std::optional<std::string>& drive, std::FILE* out) {
    platform::setDriveASelection({.named = drive.value_or(""), .chosenThisRun = {}});
    const auto drives = measuredDrives();
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
        json.key("vendor").value(d.vendor).key("model").value(d.model).key("usbPort");
        if (d.usbPort.empty())
            json.null();
        else
            json.value(d.usbPort);
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
