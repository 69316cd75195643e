#include "platform/win_path.h"

#include <cctype>
#include <vector>

#include "platform/host_system.h"
#include "platform/text_case.h"

namespace platform {
namespace {

using base::Result;
using base::Status;

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

std::vector<std::string> splitParts(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (isSeparator(c)) {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

bool isLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Where the folders of `path` begin: past "C:", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\" or "\\.\".
std::size_t rootLength(std::string_view path) {
    auto partEnd = [&](std::size_t from) {
        while (from < path.size() && !isSeparator(path[from])) ++from;
        return std::min(from + 1, path.size());
    };
    const bool twoSeparators = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    if (twoSeparators && path.size() >= 4 && (path[2] == '?' || path[2] == '.') &&
        isSeparator(path[3])) {
        const std::string_view rest = path.substr(4);
        if (rest.size() >= 2 && isLetter(rest[0]) && rest[1] == ':') return partEnd(4);
        if (startsWithIgnoringCase(rest, "UNC") && rest.size() > 3 && isSeparator(rest[3]))
            return partEnd(partEnd(8));
        return 4;
    }
    if (twoSeparators) return partEnd(partEnd(2));
    if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':') return 2;
    return 0;
}

}  // namespace

std::optional<std::string> reservedDeviceName(std::string_view part) {
    // The system reads the name up to its extension, without the blanks before it.
    std::string_view base = part.substr(0, std::min(part.find('.'), part.size()));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (sameIgnoringCase(base, device)) return std::string(device);
    }
    if (base.size() == 4 &&
        (startsWithIgnoringCase(base, "COM") || startsWithIgnoringCase(base, "LPT"))) {
        const char digit = base[3];
        // The superscripts one, two and three of the ANSI code page count as digits here.
        if ((digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' ||
            digit == '\xB3') {
            std::string device(base);
            for (char& c : device) c = upperAscii(c);
            return device;
        }
    }
    return std::nullopt;
}

std::optional<ReservedPart> firstReservedPart(std::string_view path) {
    for (const std::string& part : splitParts(path.substr(rootLength(path)))) {
        if (auto device = reservedDeviceName(part)) return ReservedPart{part, std::move(*device)};
    }
    return std::nullopt;
}

std::string reservedPartRefusal(std::string_view path, const ReservedPart& reserved) {
    return "\"" + std::string(path) + "\": \"" + reserved.part +
           "\" is a name Windows keeps for a device (" + reserved.device +
           "), so it can be neither a folder nor a file";
}

bool isDeviceNamespace(std::string_view path) {
    if (path.size() < 4 || !isSeparator(path[0]) || !isSeparator(path[1]) || !isSeparator(path[3]))
        return false;
    if (path[2] == '.') return true;
    if (path[2] != '?') return false;
    // "\\?\" only turns the system's reading of the name off; what follows is a file's name
    // when it starts with a drive's folder or a share.
    const std::string_view rest = path.substr(4);
    const bool driveFolder =
        rest.size() >= 3 && isLetter(rest[0]) && rest[1] == ':' && isSeparator(rest[2]);
    const bool share =
        rest.size() >= 4 && startsWithIgnoringCase(rest, "UNC") && isSeparator(rest[3]);
    return !driveFolder && !share;
}

Result<WindowsName> mapWindowsName(std::string_view name) {
    if (name.empty()) return Status::failure("empty file name");
    if (name.find('\0') != std::string_view::npos) {
        return Status::failure("file name holds a NUL character");
    }

    std::string_view rest = name;
    bool fromRoot = false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
        char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        rest = name.substr(2);
        if (drive == 'a') {
            std::vector<std::string> parts = splitParts(rest);
            if (parts.empty()) return Status::failure("no file name after \"a:\"");
            if (parts.size() > 1) {
                return Status::failure("\"" + std::string(name) +
                                       "\": only the root folder of drive A: can be used");
            }
            WindowsName mapped;
            mapped.where = WindowsName::Where::DriveA;
            mapped.diskName = parts.front();
            return mapped;
        }
    }
    std::vector<std::string> parts = splitParts(rest);
    for (const std::string& part : parts) {
        if (part.find_first_of("*?<>|\":") != std::string::npos) {
            return Status::failure("\"" + std::string(name) +
                                   "\": a file name cannot hold * ? < > | \" or :");
        }
    }
    if (auto own = systemHostPath(name)) {
        if (!*own) return own->error();
        WindowsName mapped;
        mapped.hostPath = std::move(**own);
        return mapped;
    }
    if (rest.size() != name.size()) {
        const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        if (drive != 'c') {
            return Status::failure("\"" + std::string(name) + "\": there is no drive " +
                                   static_cast<char>(std::toupper(drive)) + ": here");
        }
        fromRoot = true;
    }
    if (!rest.empty() && isSeparator(rest.front())) fromRoot = true;

    std::string path = "/";
    if (!fromRoot) {
        auto cwd = currentDirectory();
        if (!cwd) return cwd.error();
        path = *cwd;
    }
    // A name that exists as written needs no look-up part by part: every folder on its way
    // then exists as written too. Most names do, and each part would cost a call.
    std::string asWritten = path;
    for (const std::string& part : parts) {
        if (asWritten.back() != '/') asWritten += '/';
        asWritten += part;
    }
    if (existsAsWritten(asWritten)) {
        WindowsName mapped;
        mapped.hostPath = std::move(asWritten);
        return mapped;
    }
    for (const std::string& part : parts) {
        std::string found = (part == "." || part == "..") ? part : findIgnoringCase(path, part);
        if (found.empty()) found = part;
        if (path.back() != '/') path += '/';
        path += found;
    }
    WindowsName mapped;
    mapped.hostPath = std::move(path);
    return mapped;
}

}  // namespace platform
