// The staging's calls on Windows. Entries are reached by the folder's path while the build
// holds the folder open without sharing its deletion, so that the folder cannot be renamed or
// removed under the build; a reparse point (a link or a junction) is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT) and never taken for a file. Renames never replace
// (MoveFileEx without MOVEFILE_REPLACE_EXISTING) and are written through to the disk
// (MOVEFILE_WRITE_THROUGH) where the POSIX side syncs the folder; the journal is flushed
// (FlushFileBuffers) before it is put in place.
#include "platform/staging_area.h"

#include <windows.h>

#include "platform/staging_folder.h"
#include "platform/staging_journal.h"
#include "platform/win32/file_io.h"
#include "platform/win32/folder_entries.h"
#include "platform/win32/handle.h"
#include "platform/win32/system_error.h"

namespace platform {
namespace {

using base::Result;
using base::Status;
using win32::handleOf;

bool isAbsent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

namespace staging {

std::optional<std::size_t> File::read(char* out, std::size_t bytes) {
    DWORD n = 0;
    if (!ReadFile(handleOf(m_handle), out, static_cast<DWORD>(bytes), &n, nullptr)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        return std::nullopt;
    }
    return n;
}

Status File::write(const std::string& path, const char* in, std::size_t bytes) {
    return win32::writeAll(handleOf(m_handle), path, in, bytes);
}

bool File::flush() {
    return FlushFileBuffers(handleOf(m_handle)) != FALSE;
}

bool File::close() {
    if (!m_handle.valid()) return true;
    const HANDLE handle = handleOf(m_handle);
    m_handle = {};
    return CloseHandle(handle) != FALSE;
}

std::string Folder::at(const std::string& name) const {
    return win32::joined(m_path, name);
}

std::optional<Kind> Folder::kindOf(const std::string& name) const {
    const auto attributes = win32::attributesOf(at(name));
    if (!attributes) return std::nullopt;
    if (win32::isPlainFile(*attributes)) return Kind::Plain;
    if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Kind::Link;
    return Kind::Other;
}

std::vector<std::string> Folder::names() const {
    return win32::namesIn(m_path);
}

std::string Folder::spelling(const std::string& name) const {
    const std::string found = win32::spellingIn(m_path, name);
    return found.empty() ? name : found;
}

File Folder::openRegular(const std::string& name) const {
    std::string why;
    return File(win32::nativeOf(
        win32::openRegular(at(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, why)));
}

File Folder::openJournal(const std::string& name, Found& found) const {
    const HANDLE file =
        CreateFileA(at(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        found = isAbsent(GetLastError()) ? Found::Absent : Found::Failed;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !win32::isPlainFile(info.dwFileAttributes)) {
        CloseHandle(file);
        found = Found::NotRegular;
        return {};
    }
    found = Found::Opened;
    return File(win32::nativeOf(file));
}

File Folder::create(const std::string& name, NewFile what) const {
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    if (what == NewFile::Journal) flags |= FILE_FLAG_WRITE_THROUGH;
    return File(win32::nativeOf(
        CreateFileA(at(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr)));
}

bool Folder::remove(const std::string& name) const {
    return DeleteFileA(at(name).c_str()) != FALSE;
}

bool Folder::renameNoReplace(const std::string& from, const std::string& to) const {
    return MoveFileExA(at(from).c_str(), at(to).c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Folder::replace(const std::string& from, const std::string& to) const {
    return MoveFileExA(at(from).c_str(), at(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// What the system holds of the folder goes to the disk where its file system offers it. The
// renames are written through already, so a folder that refuses the flush (one opened for
// reading only) has its entries on the disk all the same.
bool Folder::sync() const {
    FlushFileBuffers(handleOf(m_handle));
    return true;
}

Status openPlannedSource(const std::string& source, File& file) {
    std::string why;
    DWORD error = 0;
    HANDLE from = win32::openRegular(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING, 0, why, &error);
    if (from == INVALID_HANDLE_VALUE) {
        if (error == 0) return Status::failure("\"" + source + "\" is not a regular file");
        return win32::systemError(error, "\"" + source + "\" cannot be opened: " + why);
    }
    file = File(win32::nativeOf(from));
    return Status::success();
}

File openStagedSource(const std::string& source) {
    return File(win32::nativeOf(CreateFileA(source.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
}

void closeFolder(NativeHandle folder) {
    CloseHandle(handleOf(folder));
}

bool namesIgnoreCase() {
    return true;
}

const char* nameSeparators() {
    return "/\\";
}

base::Error failedBecause(const std::string& what) {
    return win32::failedBecause(what);
}

std::string lastReason() {
    return win32::messageOf(GetLastError());
}

bool lastWasAbsent() {
    return isAbsent(GetLastError());
}

std::string ioErrorReason() {
    return win32::messageOf(ERROR_IO_DEVICE);
}

}  // namespace staging

Result<StagingArea> StagingArea::open(const std::string& hostFolder) {
    // Written as well as read, for the folder's flush; shared but for deletion, so that the
    // folder keeps its name while the build works in it.
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE folder = CreateFileA(hostFolder.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        folder = CreateFileA(hostFolder.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (folder == INVALID_HANDLE_VALUE) {
        return win32::failedBecause("the start directory \"" + hostFolder + "\" cannot be opened");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(folder);
        return Status::failure("the start directory \"" + hostFolder +
                               "\" cannot be opened: it is not a folder");
    }
    return StagingArea(win32::nativeOf(folder), hostFolder);
}

Status checkStagingRoom(const std::string& hostFolder, const std::vector<std::string>& names,
                        std::uint64_t bytes) {
    const std::string where = "the start directory \"" + hostFolder + "\"";
    const auto attributes = win32::attributesOf(hostFolder);
    if (!attributes || (*attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return win32::failedBecause(where + " cannot be opened");
    }
    const staging::Folder folder({}, hostFolder);
    // Whether a file can be made there, by making one that goes when its handle closes (and
    // so when the program ends).
    const std::string probe =
        std::string(kStagingJournal) + ".probe-" + std::to_string(GetCurrentProcessId());
    HANDLE made = CreateFileA(folder.at(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (made == INVALID_HANDLE_VALUE) return win32::failedBecause(where + " cannot be written");
    CloseHandle(made);
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExA((hostFolder + "\\").c_str(), &available, nullptr, nullptr) &&
        staging::lacksRoom(available.QuadPart, names.size(), bytes)) {
        return staging::noRoomFailure(where, available.QuadPart, bytes);
    }
    return staging::roomFor(folder, where, names);
}

}  // namespace platform
