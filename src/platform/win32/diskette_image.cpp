#include "platform/diskette_image.h"

#include <windows.h>

#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/floppy_drives.h"
#include "platform/win32/system_error.h"

namespace platform {

using base::Result;
using base::Status;

Status createBlankDiskette(const std::string& path) {
    // CREATE_NEW: an existing file, link or device at the path is never touched.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Status::failure(win32::messageOf(GetLastError()));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(kBlankDisketteBytes);
    DWORD error = 0;
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !FlushFileBuffers(file)) {
        error = GetLastError();
    }
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    if (error == 0) return Status::success();
    DeleteFileA(path.c_str());
    return Status::failure(win32::messageOf(error));
}

Result<DisketteImage> takeDisketteImage(const std::string& path) {
    DisketteImage image;
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    image.path = length > 0 && length < sizeof full ? std::string(full, length) : path;
    const std::string& at = image.path;

    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(at.c_str(), GetFileExInfoStandard, &info)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            return Status::failure(at + " cannot be looked at: " + win32::messageOf(error) + ".");
        }
        if (auto made = createBlankDiskette(at); !made) {
            return Status::failure("A blank diskette image could not be created at " + at + ": " +
                                   made.message() + ".");
        }
        image.bytes = kBlankDisketteBytes;
        image.created = true;
        return image;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return Status::failure(at + " is a folder, not a diskette image file.");
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        return Status::failure(at + " is a device, not a diskette image file.");
    }
    image.bytes = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (!isDisketteSize(image.bytes)) {
        return Status::failure(at + " " + disketteSizeRefusal(image.bytes) +
                               ": it is not a diskette image.");
    }
    return image;
}

std::string describeBlockDevice(const std::string& path) {
    const auto found = floppyDriveAt(findFloppyDrives(), path);
    return found ? found->description() : "diskette drive";
}

}  // namespace platform
