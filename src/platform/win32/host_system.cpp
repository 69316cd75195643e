#include "platform/host_system.h"

#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/host_faults.h"
#include "platform/text_case.h"
#include "platform/win32/folder_entries.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

using win32::messageOf;
using win32::systemError;

// The answer of a call that fills a buffer of characters and returns the length, or the size
// it needs when the buffer is too small; empty when it fails.
template <typename Call>
std::string filled(Call call) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// The folder the environment variable names, when it names one by an absolute path; empty
// otherwise.
std::string variableFolder(const char* variable) {
    std::string folder = filled([variable](char* buffer, DWORD size) {
        return GetEnvironmentVariableA(variable, buffer, size);
    });
    const bool drive = folder.size() >= 3 && folder[1] == ':' && isSeparator(folder[2]);
    const bool share = folder.size() >= 2 && isSeparator(folder[0]) && isSeparator(folder[1]);
    return drive || share ? folder : std::string();
}

// A folder the system keeps for the user: the variable's folder when it names one (the
// system sets it to the same folder, and a test or a portable installation can point it
// elsewhere, as XDG_CONFIG_HOME on Linux), else the system's known folder; empty when neither
// is known.
std::string knownFolder(const KNOWNFOLDERID& id, const char* variable) {
    std::string folder = variableFolder(variable);
    if (!folder.empty()) return folder;
    PWSTR wide = nullptr;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &wide) == S_OK) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (bytes > 1) {
            folder.resize(static_cast<std::size_t>(bytes));
            WideCharToMultiByte(CP_ACP, 0, wide, -1, folder.data(), bytes, nullptr, nullptr);
            folder.pop_back();
        }
    }
    CoTaskMemFree(wide);
    return folder;
}

// Whether a file can be made in `folder` by this user: a probe made and gone at once.
bool canWriteIn(const std::string& folder) {
    const std::string probe =
        win32::joined(folder, "quenvol-" + std::to_string(GetCurrentProcessId()) + ".probe");
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace

// quenvol.ini lives in the Windows directory (%windir%, else GetWindowsDirectory), where the
// program has always kept it. Where an ordinary user cannot write there, it lives in the user's
// roaming application-data folder ("%APPDATA%\Quenvol") instead; once one is there it is the
// one read and written, so that a file saved there is never shadowed by an older one in the
// Windows directory.
base::Result<std::string> settingsFolder() {
    const std::string appData = knownFolder(FOLDERID_RoamingAppData, "APPDATA");
    const std::string own = appData.empty() ? std::string() : win32::joined(appData, "Quenvol");
    if (!own.empty() && win32::attributesOf(win32::joined(own, "quenvol.ini"))) return own;
    // The system sets %windir% to the Windows directory in every process; a program started
    // with it pointing elsewhere (a test, a portable installation) keeps its settings there.
    std::string windows = variableFolder("windir");
    if (windows.empty()) {
        windows =
            filled([](char* buffer, DWORD size) { return GetWindowsDirectoryA(buffer, size); });
    }
    if (!windows.empty()) {
        const std::string ini = win32::joined(windows, "quenvol.ini");
        HANDLE file = CreateFileA(ini.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool writable = file != INVALID_HANDLE_VALUE;
        if (writable) CloseHandle(file);
        if (writable || (!win32::attributesOf(ini) && canWriteIn(windows))) return windows;
    }
    if (own.empty()) {
        return base::Status::failure("neither the Windows directory nor APPDATA can be written");
    }
    std::string failed;
    if (auto made = makeFolders(own, failed); !made) {
        return base::Status::failure(
            made.error().kind(), "the folder \"" + failed + "\" cannot be made: " + made.message());
    }
    return own;
}

// The build log's folder: the user's local application data (the log is of this machine).
base::Result<std::string> stateFolder() {
    const std::string local = knownFolder(FOLDERID_LocalAppData, "LOCALAPPDATA");
    if (local.empty()) return base::Status::failure("neither LOCALAPPDATA nor a profile is known");
    return local;
}

base::Result<std::string> currentDirectory() {
    const std::string cwd =
        filled([](char* buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); });
    if (cwd.empty()) return win32::failedBecause("the current directory cannot be read");
    return cwd;
}

base::Status makeFolders(const std::string& path, std::string& failedFolder) {
    // Past the root: "C:\", "\\server\share\".
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        start = 2;
    } else if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        start = path.find_first_of("\\/", path.find_first_of("\\/", 2) + 1);
        if (start == std::string::npos) return base::Status::success();
    }
    for (std::size_t end = path.find_first_of("\\/", start + 1);;
         end = path.find_first_of("\\/", end + 1)) {
        const std::string prefix = path.substr(0, end);
        const bool root = prefix.size() <= start || isSeparator(prefix.back());
        // Already there: another copy of the program made it in between, which is as good.
        if (!root && !win32::attributesOf(prefix) && !CreateDirectoryA(prefix.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            failedFolder = prefix;
            return systemError(error, messageOf(error));
        }
        if (end == std::string::npos) break;
    }
    return base::Status::success();
}

std::string absoluteHostPath(const std::string& path) {
    // "\\?\" asks for the name as written and "\\.\" names a device: neither is made
    // relative to the current drive, as the C++ library's absolute() would.
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == '?' || path[2] == '.') && isSeparator(path[3]))
        return path;
    const std::string full = filled([&path](char* buffer, DWORD size) {
        return GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
    return full.empty() ? path : full;
}

std::string resolvedPath(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    const std::string final = filled([file](char* buffer, DWORD size) {
        return GetFinalPathNameByHandleA(file, buffer, size,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    CloseHandle(file);
    std::string resolved = final;
    if (final.rfind("\\\\?\\UNC\\", 0) == 0) resolved = "\\\\" + final.substr(8);
    if (final.rfind("\\\\?\\", 0) == 0) resolved = final.substr(4);
    if (resolved.empty()) return path;
    // wine names a handle's file without the blanks and dots at the end of its last part; a
    // name with a separator after them ("proj \", as mapWindowsName gives it) opened the one
    // that has them, and they are kept.
    auto lastPart = [](std::string_view name) {
        while (!name.empty() && isSeparator(name.back())) name.remove_suffix(1);
        const std::size_t slash = name.find_last_of("\\/");
        return slash == std::string_view::npos ? name : name.substr(slash + 1);
    };
    const std::string_view asked = lastPart(path);
    const std::size_t kept = asked.find_last_not_of(" .");
    if (isSeparator(path.back()) && kept != std::string_view::npos && kept + 1 < asked.size() &&
        sameIgnoringCase(lastPart(resolved), asked.substr(0, kept + 1)) &&
        !isSeparator(resolved.back())) {
        resolved += asked.substr(kept + 1);
    }
    return resolved;
}

bool isRegularFile(const std::string& path) {
    // After links: what opening it would reach.
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(file, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(file);
    return regular;
}

std::string programFilePath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A name cut short fills the buffer exactly.
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() > 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

base::Status appendToFile(const std::string& path, const std::string& text) {
    // A file made here takes the folder's inherited access, private to the user under the
    // application-data folders. FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the
    // end, whoever else appends. The reparse point itself is opened, never what it points at, and
    // refused below.
    HANDLE file = CreateFileA(
        path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return systemError(error, "cannot open " + path + ": " + messageOf(error));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !win32::isPlainFile(info.dwFileAttributes)) {
        CloseHandle(file);
        return base::Status::failure("cannot write " + path + ": it is not a regular file");
    }
    // Appenders of ours take turns, so that a line cut short can be taken back whole before
    // anyone appends after it. A lock nobody lets go of is given a second, never a hang. The
    // lock is on a byte far past any log's end, which no reader's range covers.
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    constexpr int kLockTries = 100;
    for (int tries = 0;
         !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn);) {
        const DWORD error = GetLastError();
        if ((error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) || ++tries == kLockTries) {
            CloseHandle(file);
            return base::Status::failure(base::Failure::Busy,
                                         "cannot write " + path + ": another program holds it");
        }
        Sleep(10);
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::string line = text;
    // A line cut short by a crash of some earlier writer is never continued: a line of its own.
    if (size.QuadPart > 0) {
        char last = '\n';
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size.QuadPart - 1);
        at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
        DWORD got = 0;
        if (ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n') {
            line.insert(line.begin(), '\n');
        }
    }
    std::size_t allowed = line.size();
    DWORD error = 0;
    if (HostFaults* faults = currentHostFaults()) {
        allowed = std::min(
            allowed,
            faults->allowWrite(path, static_cast<std::uint64_t>(size.QuadPart), line.size())
                .value_or(allowed));
        if (allowed == 0) error = win32::errorFor(faults->error());
    }
    DWORD n = 0;
    if (error == 0 && !WriteFile(file, line.data(), static_cast<DWORD>(allowed), &n, nullptr)) {
        error = GetLastError();
    }
    base::Status status = base::Status::success();
    if (error != 0) {
        status = systemError(error, "cannot write " + path + ": " + messageOf(error));
    } else if (n != line.size()) {
        status = base::Status::failure(
            base::Failure::NoRoom, "cannot write " + path + ": only " + std::to_string(n) + " of " +
                                       std::to_string(line.size()) + " bytes were written");
    }
    // The line whole or not at all: what a short write put there is taken back. The handle
    // may only append, so the end is set through a second one.
    if (!status && n > 0) {
        HANDLE cut = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        FILE_END_OF_FILE_INFO end{size};
        const bool taken = cut != INVALID_HANDLE_VALUE &&
                           SetFileInformationByHandle(cut, FileEndOfFileInfo, &end, sizeof end);
        if (cut != INVALID_HANDLE_VALUE) CloseHandle(cut);
        if (!taken) {
            status = base::Status::failure(status.error().kind(),
                                           status.message() + ", and the part written stays");
        }
    }
    UnlockFileEx(file, 0, 1, 0, &turn);
    if (!CloseHandle(file) && status) {
        const DWORD closeError = GetLastError();
        status = systemError(closeError, "cannot write " + path + ": " + messageOf(closeError));
    }
    return status;
}

std::string utcTimestamp() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

}  // namespace platform
