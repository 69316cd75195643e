#include "platform/win32/system_error.h"

#include <windows.h>

namespace platform::win32 {

base::Failure failureOf(unsigned long error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return base::Failure::PermissionDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
        case ERROR_DRIVE_LOCKED:
            return base::Failure::Busy;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return base::Failure::NoRoom;
        case ERROR_NOT_READY:
        case ERROR_NO_MEDIA_IN_DRIVE:
            return base::Failure::NoMedium;
        case ERROR_WRITE_PROTECT:
            return base::Failure::WriteProtected;
        case ERROR_CRC:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_SEEK:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
            return base::Failure::IoError;
        default:
            return base::Failure::Other;
    }
}

unsigned long errorFor(base::Failure kind) {
    switch (kind) {
        case base::Failure::PermissionDenied:
            return ERROR_ACCESS_DENIED;
        case base::Failure::NoRoom:
            return ERROR_DISK_FULL;
        default:
            return ERROR_WRITE_FAULT;
    }
}

std::string messageOf(unsigned long error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text),
        0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

base::Error systemError(unsigned long error, std::string detail) {
    return base::Status::failure(failureOf(error), std::move(detail));
}

base::Error failedBecause(const std::string& what) {
    const DWORD error = GetLastError();
    return systemError(error, what + ": " + messageOf(error));
}

}  // namespace platform::win32
