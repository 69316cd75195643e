// Files and folders under Windows names, and copies onto the diskette's FAT12 volume.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "fat/fat12.h"
#include "platform/drive_a_transaction.h"
#include "platform/drive_format.h"
#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/win_path.h"
#include "platform/winapi.h"

namespace {

using platform::WindowsName;

BOOL failWith(std::string message) {
    platform::setLastErrorMessage(std::move(message));
    return FALSE;
}

// Keeps the kind (write protection, permission, no medium) for the caller to decide on.
BOOL failWith(base::Failure kind, std::string message) {
    platform::setLastError(kind, std::move(message));
    return FALSE;
}

BOOL succeeded() {
    platform::setLastErrorMessage({});
    return TRUE;
}

// Copies `text` out as the Windows calls do: its length when it fits with the terminator,
// else the size needed.
DWORD copyOut(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

// A folder found out, copied out as above; 0 with the reason as the last error when it could
// not be.
DWORD copyOut(const base::Result<std::string>& folder, char* buffer, std::size_t size) {
    if (!folder) {
        failWith(folder.message());
        return 0;
    }
    succeeded();
    return copyOut(*folder, buffer, size);
}

// The volume on drive A: a call works on: the transaction's while one is in force, else one
// mounted for this call alone, which `own` keeps.
base::Result<fat::Volume*> volumeForCall(platform::DriveAccess access,
                                         std::optional<platform::MountedDriveA>& own) {
    if (platform::DriveATransaction* transaction = platform::DriveATransaction::current()) {
        return transaction->volume();
    }
    auto mounted = platform::mountDriveA(access);
    if (!mounted) return mounted.error();
    own = std::move(*mounted);
    return own->volume.get();
}

BOOL copyToDiskette(const std::string& source, const std::string& diskName, bool failIfExists) {
    // The copy is made from memory: a file larger than any diskette cannot fit, and reading
    // it whole first could exhaust memory, so its size decides before a byte is read.
    struct stat info {};
    if (::stat(source.c_str(), &info) == 0 &&
        static_cast<std::uint64_t>(info.st_size) > platform::kLargestDisketteBytes) {
        return failWith("\"" + source + "\" holds " +
                        platform::groupThousands(static_cast<std::uint64_t>(info.st_size)) +
                        " bytes, more than any diskette");
    }
    auto content = platform::readWholeFile(source);
    if (!content) return failWith(content.message());
    std::optional<platform::MountedDriveA> own;
    auto volume = volumeForCall(platform::DriveAccess::Write, own);
    if (!volume) return failWith(volume.error().kind(), volume.message());
    if (failIfExists && (*volume)->find(diskName)) {
        return failWith("\"" + diskName + "\" already exists on the diskette in drive A:");
    }
    // Within a transaction the data is written now and named when it is finished; a copy of
    // its own is durable (writeFile) before it reports success.
    const base::Status written = own ? (*volume)->writeFile(diskName, *content, std::time(nullptr))
                                     : (*volume)->stageFile(diskName, *content, std::time(nullptr));
    if (!written) {
        return failWith(
            written.error().kind(),
            "\"" + diskName + "\" could not be written to drive A: " + written.message());
    }
    return succeeded();
}

BOOL copyOnHost(const std::string& source, const std::string& target, bool failIfExists) {
    auto from = platform::HostFile::openRead(source);
    if (!from) return failWith(from.message());
    auto to = platform::mapWindowsName(target);
    if (!to) return failWith(to.message());
    struct stat sourceInfo {};
    struct stat targetInfo {};
    ::stat(from->path().c_str(), &sourceInfo);
    if (::stat(to->hostPath.c_str(), &targetInfo) == 0) {
        if (failIfExists) return failWith("\"" + to->hostPath + "\" already exists");
        // Truncating the target would destroy the source before it is read.
        if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
            return failWith("\"" + to->hostPath + "\" cannot be copied onto itself");
        }
    }
    auto into = platform::HostFile::create(to->hostPath);
    if (!into) return failWith(into.message());
    // A copy cut short (a full file system, an I/O error) must not stay behind looking like
    // the file: whatever fails, the partial copy goes.
    auto abandon = [&](const std::string& why) {
        (void)into->close();
        ::unlink(into->path().c_str());
        return failWith("copying \"" + from->path() + "\" to \"" + to->hostPath + "\": " + why);
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
        ::unlink(written.c_str());
        return failWith("copying \"" + from->path() + "\" to \"" + to->hostPath +
                        "\": " + closed.message());
    }
    return succeeded();
}

}  // namespace

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) return failWith("no file name");
    auto target = platform::mapWindowsName(lpNewFileName);
    // A failed copy to drive A: puts the batch's earlier copies on the diskette at once.
    auto fail = [&](std::string message, base::Failure kind = base::Failure::Other) {
        platform::DriveATransaction* transaction = platform::DriveATransaction::current();
        if (target && target->where == WindowsName::Where::DriveA && transaction != nullptr) {
            (void)transaction->finish();
        }
        return failWith(kind, std::move(message));
    };
    auto source = platform::mapWindowsName(lpExistingFileName);
    if (!source) return fail(source.message());
    if (source->where != WindowsName::Where::Host) {
        return fail("files on drive A: cannot be copied from");
    }
    if (!target) return failWith(target.message());
    if (target->where == WindowsName::Where::DriveA) {
        if (copyToDiskette(source->hostPath, target->diskName, bFailIfExists != FALSE)) {
            return TRUE;
        }
        return fail(platform::lastErrorMessage(), platform::lastErrorKind());
    }
    return copyOnHost(source->hostPath, target->hostPath, bFailIfExists != FALSE);
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    if (lpFileName == nullptr) return failWith("no file name");
    auto mapped = platform::mapWindowsName(lpFileName);
    if (!mapped) return failWith(mapped.message());
    if (mapped->where == WindowsName::Where::DriveA) {
        std::optional<platform::MountedDriveA> own;
        auto volume = volumeForCall(platform::DriveAccess::Write, own);
        if (!volume) return failWith(volume.error().kind(), volume.message());
        const base::Status removed = (*volume)->removeFile(mapped->diskName);  // flushes
        return removed ? succeeded() : failWith(removed.message());
    }
    struct stat info {};
    if (::lstat(mapped->hostPath.c_str(), &info) != 0) {
        return failWith("\"" + mapped->hostPath + "\" does not exist");
    }
    if (S_ISDIR(info.st_mode)) return failWith("\"" + mapped->hostPath + "\" is a folder");
    if (::unlink(mapped->hostPath.c_str()) != 0) {
        return failWith("\"" + mapped->hostPath + "\" cannot be deleted: " + std::strerror(errno));
    }
    return succeeded();
}

BOOL PathFileExistsA(LPCSTR pszPath) {
    if (pszPath == nullptr) return failWith("no file name");
    auto mapped = platform::mapWindowsName(pszPath);
    if (!mapped) return failWith(mapped.message());
    if (mapped->where == WindowsName::Where::DriveA) {
        std::optional<platform::MountedDriveA> own;
        auto volume = volumeForCall(platform::DriveAccess::Read, own);
        if (!volume) return failWith(volume.error().kind(), volume.message());
        return (*volume)->find(mapped->diskName) ? succeeded()
                                                 : failWith("no such file on drive A:");
    }
    struct stat info {};
    if (::stat(mapped->hostPath.c_str(), &info) != 0) {
        return failWith("\"" + mapped->hostPath + "\" does not exist");
    }
    return succeeded();
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return copyOut(platform::currentDirectory(), lpBuffer, nBufferLength);
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (lpPathName == nullptr) return failWith("no folder name");
    auto mapped = platform::mapWindowsName(lpPathName);
    if (!mapped) return failWith(mapped.message());
    if (mapped->where != WindowsName::Where::Host) {
        return failWith("drive A: cannot be the current directory");
    }
    if (::chdir(mapped->hostPath.c_str()) != 0) {
        return failWith("\"" + mapped->hostPath +
                        "\" cannot be made current: " + std::strerror(errno));
    }
    return succeeded();
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyOut(platform::settingsFolder(), lpBuffer, uSize);
}
