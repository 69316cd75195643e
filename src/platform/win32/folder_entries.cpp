#include "platform/win32/folder_entries.h"

#include <windows.h>

#include <vector>

#include "platform/text_case.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform::win32 {

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    // FindExInfoBasic: the short names are not wanted, and skipping them is faster.
    HANDLE search = FindFirstFileExA(joined(folder, "*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

std::string spellingIn(const std::string& folder, const std::string& name) {
    // The system compares names without regard to case itself; its answer is checked, because
    // a search by name also matches an entry's short name.
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileExA(joined(folder, name).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        if (sameIgnoringCase(entry.cFileName, name)) return entry.cFileName;
    }
    return spellingAmong(namesIn(folder), name);
}

std::optional<unsigned long> attributesOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

bool isPlainFile(unsigned long attributes) {
    return (attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace platform::win32

namespace platform {

std::string findIgnoringCase(const std::string& folder, const std::string& name) {
    return win32::spellingIn(folder, name);
}

bool existsAsWritten(const std::string& path) {
    return win32::attributesOf(path).has_value();
}

namespace {

base::Result<std::string> fullPathName(const std::string& name) {
    std::vector<char> full(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetFullPathNameA(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return win32::failedBecause("\"" + name + "\" is not a name the system accepts");
        }
        if (length < full.size()) return std::string(full.data(), length);
        full.resize(length + 1);
    }
}

std::string_view withoutEndSeparators(std::string_view path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.remove_suffix(1);
    return path;
}

}  // namespace

std::optional<base::Result<std::string>> systemHostPath(std::string_view name) {
    // The system's own rules: each drive's current directory, "." and "..", both separators.
    const std::string asked(name);
    auto full = fullPathName(asked);
    if (!full) return base::Result<std::string>(full.error());
    // The system drops blanks and dots from the end of a last part, and not from a folder's
    // name before a separator: "proj \bios.rom" is in "proj ", which "proj " alone would not
    // name. The folder is the one the names below it are found in, so it keeps its end (and a
    // separator after it, through which the system reads it as written).
    constexpr char kBelow[] = "x";
    auto below = fullPathName(win32::joined(asked, kBelow));
    std::string path = *full;
    if (below && below->size() > 1 && below->ends_with(kBelow)) {
        const std::string folder = below->substr(0, below->size() - 1);
        if (withoutEndSeparators(folder) != withoutEndSeparators(*full)) path = folder;
    }
    // A device's name opens the device in whatever folder it stands.
    if (auto reserved = firstReservedPart(path)) {
        return base::Result<std::string>(
            base::Status::failure(reservedPartRefusal(asked, *reserved)));
    }
    if (isDeviceNamespace(*full) && !isDeviceNamespace(asked)) {
        return base::Result<std::string>(base::Status::failure(
            "\"" + asked + "\" names the device " + *full + ", neither a folder nor a file"));
    }
    return base::Result<std::string>(std::move(path));
}

}  // namespace platform
