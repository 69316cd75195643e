// Files and folders under Windows names, and copies onto the diskette's FAT12 volume: the
// Windows calls' rules; the host's files are reached through host_system.h.
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

// What the host did, as the calls report it.
BOOL reported(const base::Status& status) {
    return status ? succeeded() : failWith(status.message());
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
    if (const auto size = platform::sizeAt(source);
        size && *size > platform::kLargestDisketteBytes) {
        return failWith("\"" + source + "\" holds " + platform::groupThousands(*size) +
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
    return reported(
        platform::copyHostFile(source->hostPath, target->hostPath, bFailIfExists != FALSE));
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
    return reported(platform::deleteHostFile(mapped->hostPath));
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
    return reported(platform::hostPathExists(mapped->hostPath));
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
    return reported(platform::changeDirectory(mapped->hostPath));
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyOut(platform::settingsFolder(), lpBuffer, uSize);
}
