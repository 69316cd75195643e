#include "platform/win_path.h"

#include <cctype>
#include <vector>

#include "platform/host_system.h"

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

}  // namespace

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
