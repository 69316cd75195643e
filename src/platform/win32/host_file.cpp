#include "platform/host_file.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "platform/host_faults.h"
#include "platform/text_case.h"
#include "platform/win32/file_io.h"
#include "platform/win32/folder_entries.h"
#include "platform/win32/handle.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform {
namespace {

using base::Failure;
using base::Result;
using base::Status;
using win32::handleOf;
using win32::messageOf;
using win32::nativeOf;

// The largest transfer one ReadFile or WriteFile is asked for.
constexpr std::size_t kLargestTransfer = 1u << 30;

Result<std::string> hostPathOf(std::string_view windowsName) {
    auto mapped = mapWindowsName(windowsName);
    if (!mapped) return mapped.error();
    if (mapped->where != WindowsName::Where::Host) {
        return Status::failure("\"" + std::string(windowsName) +
                               "\" is on drive A: and cannot be opened as a file");
    }
    return mapped->hostPath;
}

base::Error cannotOpen(const std::string& path, const std::string& why, DWORD error = 0) {
    return Status::failure(win32::failureOf(error), "\"" + path + "\" cannot be opened: " + why);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A save's temporary beside "name" is "name.saving-XXXXXX", six letters and digits at the end:
// a name a user is unlikely to give a file of their own.
constexpr char kTemporaryMark[] = ".saving-";
constexpr std::size_t kTemporaryLetters = 6;

bool isTemporaryOf(const std::string& entry, const std::string& base) {
    const std::string prefix = base + kTemporaryMark;
    if (entry.size() != prefix.size() + kTemporaryLetters ||
        !sameIgnoringCase(std::string_view(entry).substr(0, prefix.size()), prefix)) {
        return false;
    }
    return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// The file `path` names once links are followed, as the system resolves them; `path` itself
// when nothing is there yet or the system cannot say.
std::string finalTarget(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    char buffer[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(file);
    if (length == 0 || length >= sizeof buffer) return path;
    std::string final(buffer, length);
    // "\\?\C:\..." for a drive, "\\?\UNC\server\..." for a share.
    if (final.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + final.substr(8);
    if (final.rfind("\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

// A save holds its temporary open without sharing from its creation to its rename, and the
// system closes it when the process ends; a temporary that opens unshared was left by a save
// that was killed, and closing it with DELETE_ON_CLOSE removes it.
void removeAbandonedTemporaries(const std::string& path) {
    const std::string folder = folderOf(path);
    const std::string base = baseNameOf(path);
    for (const std::string& name : win32::namesIn(folder)) {
        if (!isTemporaryOf(name, base)) continue;
        const std::string temporary = win32::joined(folder, name);
        const auto attributes = win32::attributesOf(temporary);
        if (!attributes || !win32::isPlainFile(*attributes)) continue;
        HANDLE held =
            CreateFileA(temporary.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }
}

struct Temporary {
    HANDLE file;
    std::string path;
};

// A new temporary beside `path`, open to this save alone until it is renamed.
Result<Temporary> createTemporary(const std::string& path) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 draw(seed());
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    constexpr int kAttempts = 16;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string temporary = path + kTemporaryMark;
        for (std::size_t i = 0; i < kTemporaryLetters; ++i) temporary += kLetters[letter(draw)];
        HANDLE file = CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return Temporary{file, temporary};
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return win32::systemError(
        error, "a temporary file beside \"" + path + "\" cannot be created: " + messageOf(error));
}

// Renames the open file over `path` through its own handle, so that nobody can take it
// between its last write and its new name. The path must be absolute: the system takes a
// name without a folder as one in the current directory, not in the file's folder.
bool renameOpenFile(HANDLE file, const std::string& path) {
    const int wide = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                      static_cast<std::size_t>(wide) * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>((wide - 1) * sizeof(WCHAR));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, info->FileName, wide);
    return SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace

namespace win32 {

HANDLE openRegular(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags, std::string& why, DWORD* error) {
    if (error) *error = 0;
    if (const auto attributes = attributesOf(path);
        attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = "it is not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD failed = GetLastError();
        if (error) *error = failed;
        why = messageOf(failed);
        return INVALID_HANDLE_VALUE;
    }
    // A device name (NUL, CON, COM1) opens anywhere; a reparse point opened as itself is no
    // file to read or write.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !isPlainFile(info.dwFileAttributes)) {
        CloseHandle(file);
        why = "it is not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

Status writeAll(HANDLE file, const std::string& path, const void* in, std::size_t bytes) {
    const auto* source = static_cast<const std::uint8_t*>(in);
    std::size_t done = 0;
    while (done < bytes) {
        std::size_t asked = std::min(bytes - done, kLargestTransfer);
        DWORD error = 0;
        if (HostFaults* faults = currentHostFaults()) {
            LARGE_INTEGER at{};
            SetFilePointerEx(file, LARGE_INTEGER{}, &at, FILE_CURRENT);
            const std::size_t allowed = std::min(
                asked, faults->allowWrite(path, static_cast<std::uint64_t>(at.QuadPart), asked)
                           .value_or(asked));
            if (allowed == 0) error = win32::errorFor(faults->error());
            asked = allowed;
        }
        DWORD n = 0;
        if (error == 0 && !WriteFile(file, source + done, static_cast<DWORD>(asked), &n, nullptr)) {
            error = GetLastError();
        }
        if (error != 0) {
            return Status::failure(win32::failureOf(error), "write error in \"" + path +
                                                                "\" after " + std::to_string(done) +
                                                                " of " + std::to_string(bytes) +
                                                                " bytes: " + messageOf(error));
        }
        if (n == 0) {
            return Status::failure("write error in \"" + path +
                                   "\": nothing more was taken after " + std::to_string(done) +
                                   " of " + std::to_string(bytes) + " bytes");
        }
        done += n;
    }
    return Status::success();
}

Result<std::size_t> readSome(HANDLE file, const std::string& path, void* out, std::size_t bytes) {
    auto* target = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < bytes) {
        DWORD n = 0;
        const DWORD asked = static_cast<DWORD>(std::min(bytes - done, kLargestTransfer));
        if (!ReadFile(file, target + done, asked, &n, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) break;
            return Status::failure(win32::failureOf(error),
                                   "read error in \"" + path + "\": " + messageOf(error));
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace win32

Result<HostFile> HostFile::openRead(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.error();
    std::string why;
    DWORD error = 0;
    HANDLE file = win32::openRegular(*path, GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     OPEN_EXISTING, 0, why, &error);
    if (file == INVALID_HANDLE_VALUE) return cannotOpen(*path, why, error);
    return HostFile(nativeOf(file), *path);
}

Result<HostFile> HostFile::create(std::string_view windowsName) {
    auto path = hostPathOf(windowsName);
    if (!path) return path.error();
    if (const auto attributes = win32::attributesOf(*path);
        attributes && !win32::isPlainFile(*attributes) &&
        (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return cannotOpen(*path, "it is not a regular file");
    }
    // CREATE_ALWAYS empties an existing file and keeps its spelling, as the system's own
    // programs do.
    std::string why;
    DWORD error = 0;
    HANDLE file =
        win32::openRegular(*path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, 0, why, &error);
    if (file == INVALID_HANDLE_VALUE) return cannotOpen(*path, why, error);
    return HostFile(nativeOf(file), *path);
}

HostFile::HostFile(HostFile&& other) noexcept
    : m_handle(other.m_handle), m_path(std::move(other.m_path)) {
    other.m_handle = {};
}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
    if (this != &other) {
        if (m_handle.valid()) CloseHandle(handleOf(m_handle));
        m_handle = std::exchange(other.m_handle, {});
        m_path = std::move(other.m_path);
    }
    return *this;
}

HostFile::~HostFile() {
    if (m_handle.valid()) CloseHandle(handleOf(m_handle));
}

Result<std::uint64_t> HostFile::length() const {
    LARGE_INTEGER size{};
    if (!m_handle.valid() || !GetFileSizeEx(handleOf(m_handle), &size)) {
        return Status::failure("the length of \"" + m_path + "\" cannot be read");
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

Result<std::size_t> HostFile::read(void* out, std::size_t bytes) {
    if (!m_handle.valid()) return Status::failure("read from a closed file");
    return win32::readSome(handleOf(m_handle), m_path, out, bytes);
}

Status HostFile::write(const void* in, std::size_t bytes) {
    if (!m_handle.valid()) return Status::failure("write to a closed file");
    return win32::writeAll(handleOf(m_handle), m_path, in, bytes);
}

Status HostFile::close() {
    if (!m_handle.valid()) return Status::success();
    HANDLE file = handleOf(std::exchange(m_handle, {}));
    if (!CloseHandle(file)) {
        return win32::failedBecause("\"" + m_path + "\" could not be closed");
    }
    return Status::success();
}

Result<std::vector<std::uint8_t>> readWholeFile(std::string_view windowsName) {
    auto file = HostFile::openRead(windowsName);
    if (!file) return file.error();
    auto size = file->length();
    if (!size) return size.error();
    std::vector<std::uint8_t> content(static_cast<std::size_t>(*size));
    auto got = file->read(content.data(), content.size());
    if (!got) return got.error();
    // A file that changes while it is read is taken as far as it went.
    content.resize(*got);
    return content;
}

Status replaceFileAtomically(std::string_view windowsName, std::span<const std::uint8_t> content) {
    auto named = hostPathOf(windowsName);
    if (!named) return named.error();
    // A link stays a link: its target is what is replaced.
    const std::string path = finalTarget(*named);
    const auto existing = win32::attributesOf(path);
    if (existing && !win32::isPlainFile(*existing)) {
        return Status::failure("\"" + path + "\" cannot be replaced: it is not a regular file");
    }
    removeAbandonedTemporaries(path);

    auto created = createTemporary(path);
    if (!created) return created.error();
    const std::string temporary = created->path;
    HostFile file(nativeOf(created->file), temporary);
    // The new file takes the old one's attributes (read-only aside, which would refuse the
    // next save); its permissions are the folder's, as for any file made there.
    if (existing) {
        const DWORD kept = *existing & ~FILE_ATTRIBUTE_READONLY;
        SetFileAttributesA(temporary.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
    }
    Status written = file.write(content.data(), content.size());
    if (written && !FlushFileBuffers(created->file)) {
        written = win32::failedBecause("\"" + temporary + "\" could not be synced");
    }
    // Renamed while still held, so that no other save takes it for abandoned meanwhile.
    if (written && !renameOpenFile(created->file, path)) {
        written = win32::failedBecause("\"" + path + "\" could not be replaced");
    }
    // The new name is durable with the file's own metadata.
    if (written) FlushFileBuffers(created->file);
    if (!written) {
        FILE_DISPOSITION_INFO gone{TRUE};
        SetFileInformationByHandle(created->file, FileDispositionInfo, &gone, sizeof gone);
    }
    const Status closed = file.close();
    if (!written) return written;
    return closed;
}

}  // namespace platform
