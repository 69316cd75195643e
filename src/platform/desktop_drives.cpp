// The parts of drive A:'s desktop view that are text alone: the kernel's mount report read, and
// mounts described for people.
#include "platform/desktop_drives.h"

#include <sstream>

namespace platform {
namespace {

// The kernel writes a blank, a tab, a line end and a backslash in a path as \ and three octal
// digits.
std::string unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::vector<Mount> mountsOfDevice(const std::string& report, unsigned major, unsigned minor) {
    std::vector<Mount> mounts;
    const std::string numbers = std::to_string(major) + ":" + std::to_string(minor);
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (!(fields >> id >> parent >> device >> root >> mountPoint) || device != numbers) {
            continue;
        }
        // Optional fields run up to a lone "-"; the file system's type follows it.
        std::string field;
        while (fields >> field && field != "-") {
        }
        std::string type;
        if (field != "-" || !(fields >> type)) continue;
        mounts.push_back({unescaped(type), unescaped(mountPoint)});
    }
    return mounts;
}

std::string describeMounts(const std::vector<Mount>& mounts) {
    std::string text;
    for (const Mount& mount : mounts) {
        text += (text.empty() ? "" : ", ") + mount.fileSystem + " at " + mount.mountPoint;
    }
    return text;
}

}  // namespace platform
