// The host's side of the file calls (file_api.cpp): files and folders under host paths.
#include <windows.h>

#include <vector>

#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/win32/folder_entries.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform {
namespace {

using base::Status;

// The file's identity (volume and file index), through any name or link; none when it cannot
// be opened.
std::optional<std::pair<DWORD, std::uint64_t>> identityOf(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!known) return std::nullopt;
    return std::pair{info.dwVolumeSerialNumber,
                     (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

Status copyHostFile(const std::string& source, const std::string& target, bool failIfExists) {
    auto from = HostFile::openRead(source);
    if (!from) return Status::failure(from.message());
    auto to = mapWindowsName(target);
    if (!to) return Status::failure(to.message());
    if (win32::attributesOf(to->hostPath)) {
        if (failIfExists) return Status::failure("\"" + to->hostPath + "\" already exists");
        // Emptying the target would destroy the source before it is read.
        const auto sourceId = identityOf(from->path());
        if (sourceId && sourceId == identityOf(to->hostPath)) {
            return Status::failure("\"" + to->hostPath + "\" cannot be copied onto itself");
        }
    }
    auto into = HostFile::create(to->hostPath);
    if (!into) return Status::failure(into.message());
    // A copy cut short (a full disk, an I/O error) must not stay behind looking like the file:
    // whatever fails, the partial copy goes.
    auto abandon = [&](const std::string& why) {
        (void)into->close();
        DeleteFileA(into->path().c_str());
        return Status::failure("copying \"" + from->path() + "\" to \"" + to->hostPath +
                               "\": " + why);
    };
    std::vector<std::uint8_t> chunk(64 * 1024);
    for (;;) {
        auto got = from->read(chunk.data(), chunk.size());
        if (!got) return abandon(got.message());
        if (*got == 0) break;
        base::Status put = into->write(chunk.data(), *got);
        if (!put) return abandon(put.message());
    }
    const std::string written = into->path();
    base::Status closed = into->close();
    if (!closed) {
        DeleteFileA(written.c_str());
        return Status::failure("copying \"" + from->path() + "\" to \"" + to->hostPath +
                               "\": " + closed.message());
    }
    return Status::success();
}

Status deleteHostFile(const std::string& path) {
    const auto attributes = win32::attributesOf(path);
    if (!attributes) return Status::failure("\"" + path + "\" does not exist");
    // A link to a folder is itself a folder entry: RemoveDirectory takes the link away and
    // leaves its target alone.
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || !RemoveDirectoryA(path.c_str()))
            return Status::failure("\"" + path + "\" is a folder");
        return Status::success();
    }
    if (!DeleteFileA(path.c_str())) {
        return Status::failure("\"" + path +
                               "\" cannot be deleted: " + win32::messageOf(GetLastError()));
    }
    return Status::success();
}

Status hostPathExists(const std::string& path) {
    if (!identityOf(path)) return Status::failure("\"" + path + "\" does not exist");
    return Status::success();
}

Status changeDirectory(const std::string& path) {
    if (!SetCurrentDirectoryA(path.c_str())) {
        return Status::failure("\"" + path +
                               "\" cannot be made current: " + win32::messageOf(GetLastError()));
    }
    return Status::success();
}

std::optional<std::uint64_t> sizeAt(const std::string& path) {
    // After links, as the size of what a read would give.
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    const bool known = GetFileSizeEx(file, &size) != FALSE;
    CloseHandle(file);
    if (!known) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace platform
