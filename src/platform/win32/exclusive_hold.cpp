// One build at a time on Windows.
//
// An image file is held by a byte-range lock (LockFileEx) past its end, taken on a handle of
// its own, and by the handle the build's sessions borrow, which shares reading only: another
// program that has the image open for writing, or opens it so, is refused.
//
// A volume (a drive letter) is held by FSCTL_LOCK_VOLUME on the handle the sessions borrow,
// from the presence check to the build's end; Windows refuses the lock while any file on the
// volume is open, which is "in use", and then the build writes nothing. At the end the volume
// is dismounted before it is unlocked, so that Windows reads the new volume from the medium
// rather than what it remembers of the old one. Since a refused volume lock does not say who
// holds the drive, builds also take a named mutex for the letter, which tells another build.
//
// A folder is held by a named mutex for the folder's identity on its volume (serial number
// and file index), which follows the folder under any spelling of its name. A share mode on a
// handle of the folder cannot serve: to refuse a second holder it must refuse an access that
// every process's handle on its current folder (the build's own among them) already has, and a
// lock file needs a folder that can be written.
#include "platform/exclusive_hold.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/drive_a.h"
#include "platform/win32/handle.h"
#include "platform/win32/held_drive.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform {
namespace {

struct HeldDrive {
    HeldDriveA drive;
    std::uint64_t pin = 0;
};

struct HeldDrives {
    std::mutex mutex;
    std::vector<HeldDrive> drives;
    std::uint64_t lastPin = 0;
    // The named mutexes this process owns: a thread may take its own mutex again, so a
    // second hold within the process is refused here.
    std::set<std::string> names;
};

HeldDrives& heldDrives() {
    static HeldDrives held;
    return held;
}

// Another build holds the name: none. Otherwise the mutex, owned (an abandoned one counts:
// its owner ended without giving it back).
std::optional<HANDLE> takeNamedMutex(const std::string& name, DWORD& error) {
    HeldDrives& held = heldDrives();
    {
        std::lock_guard<std::mutex> guard(held.mutex);
        if (held.names.count(name) != 0) {
            error = ERROR_LOCK_VIOLATION;
            return std::nullopt;
        }
    }
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        error = GetLastError();
        return std::nullopt;
    }
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        error = waited == WAIT_TIMEOUT ? ERROR_LOCK_VIOLATION : GetLastError();
        CloseHandle(mutex);
        return std::nullopt;
    }
    std::lock_guard<std::mutex> guard(held.mutex);
    held.names.insert(name);
    return mutex;
}

void giveBackNamedMutex(HANDLE mutex, const std::string& name) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    held.names.erase(name);
}

std::string hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string volumeMutexName(char letter) {
    return std::string("Global\\Quenvol.Drive.") + letter;
}

bool volumeControl(HANDLE volume, DWORD code) {
    DWORD returned = 0;
    return DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

}  // namespace

// Closing the handles gives up the locks; the volume is dismounted and unlocked first.
struct ExclusiveHold::Handles {
    HANDLE session = INVALID_HANDLE_VALUE;  // borrowed by the build's sessions
    HANDLE lock = INVALID_HANDLE_VALUE;     // an image: holds the byte-range lock
    bool volumeLocked = false;
    HANDLE mutex = nullptr;
    std::string mutexName;
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
        if (volumeLocked) {
            // The medium now holds what the build wrote. An image mapped to a drive letter
            // cannot be dismounted (ERROR_INVALID_PARAMETER): nothing was mounted from it.
            FlushFileBuffers(session);
            volumeControl(session, FSCTL_DISMOUNT_VOLUME);
            volumeControl(session, FSCTL_UNLOCK_VOLUME);
        }
        for (const HANDLE open : {session, lock})
            if (open != INVALID_HANDLE_VALUE) CloseHandle(open);
        if (mutex != nullptr) giveBackNamedMutex(mutex, mutexName);
    }
};

ExclusiveHold::ExclusiveHold() = default;

ExclusiveHold ExclusiveHold::driveA() {
    ExclusiveHold hold;
    hold.m_handles = std::make_unique<Handles>();
    hold.m_path = driveAPath();
    auto refused = [&hold](HoldState state, std::string detail) {
        hold.m_state = state;
        hold.m_detail = std::move(detail);
        hold.release();
        return std::move(hold);
    };
    auto absent = [&refused](std::string detail) {
        ExclusiveHold empty = refused(HoldState::Absent, std::move(detail));
        HeldDriveA unheld;
        unheld.path = empty.m_path;
        empty.pin(std::move(unheld));
        return empty;
    };
    Handles& handles = *hold.m_handles;
    HeldDriveA drive;
    drive.path = hold.m_path;
    drive.held = true;
    const std::optional<char> letter = win32::volumeLetter(hold.m_path);

    if (letter) {
        const std::string volume = win32::volumePath(*letter);
        DWORD error = 0;
        auto mutex = takeNamedMutex(volumeMutexName(*letter), error);
        if (!mutex) {
            if (error == ERROR_LOCK_VIOLATION) return refused(HoldState::HeldByAnotherBuild, "");
            return refused(HoldState::Failed, win32::messageOf(error));
        }
        handles.mutex = *mutex;
        handles.mutexName = volumeMutexName(*letter);
        const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH;
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        handles.session = CreateFileA(volume.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                      OPEN_EXISTING, flags, nullptr);
        drive.handleWritable = handles.session != INVALID_HANDLE_VALUE;
        if (!drive.handleWritable && GetLastError() == ERROR_ACCESS_DENIED) {
            handles.session = CreateFileA(volume.c_str(), GENERIC_READ, share, nullptr,
                                          OPEN_EXISTING, flags, nullptr);
        }
        if (handles.session == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            // Refused by another program's share mode (an image file behind a virtual drive,
            // which a build that named the file holds): in use, not missing.
            if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
                return refused(HoldState::InUse, "another program holds its medium");
            }
            return absent(win32::messageOf(error));
        }
        if (!volumeControl(handles.session, FSCTL_LOCK_VOLUME)) {
            error = GetLastError();
            if (error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE) {
                return absent(win32::messageOf(error));
            }
            if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
                return refused(HoldState::InUse, "files on it are open in another program");
            }
            return refused(HoldState::Failed, win32::messageOf(error));
        }
        handles.volumeLocked = true;
        // A medium another program holds by other means (an image file behind a virtual drive,
        // held by a build that named the file) refuses its sectors while the volume lock is
        // granted: in use, not missing.
        alignas(4096) static thread_local unsigned char probe[4096];
        OVERLAPPED first{};
        DWORD read = 0;
        if (!ReadFile(handles.session, probe, 512, &read, &first)) {
            error = GetLastError();
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION) {
                return refused(HoldState::InUse, "another program holds its medium");
            }
        }
        drive.blockDevice = true;
        drive.device = static_cast<std::uint64_t>(*letter);
    } else {
        WIN32_FILE_ATTRIBUTE_DATA info{};
        if (!GetFileAttributesExA(hold.m_path.c_str(), GetFileExInfoStandard, &info)) {
            return absent(win32::messageOf(GetLastError()));
        }
        if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
            return absent("neither an image file nor a drive letter");
        }
        const DWORD everyone = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        handles.lock = CreateFileA(hold.m_path.c_str(), GENERIC_READ, everyone, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handles.lock == INVALID_HANDLE_VALUE) return absent(win32::messageOf(GetLastError()));
        OVERLAPPED range{};
        range.Offset = static_cast<DWORD>(win32::kImageLockOffset);
        range.OffsetHigh = static_cast<DWORD>(win32::kImageLockOffset >> 32);
        if (!LockFileEx(handles.lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                        win32::kImageLockBytes, 0, &range)) {
            const DWORD error = GetLastError();
            if (error == ERROR_LOCK_VIOLATION) return refused(HoldState::HeldByAnotherBuild, "");
            return refused(HoldState::Failed, win32::messageOf(error));
        }
        // Shares reading only: a program writing the image keeps the build out, and none can
        // start writing it while the build runs.
        handles.session =
            CreateFileA(hold.m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        drive.handleWritable = handles.session != INVALID_HANDLE_VALUE;
        if (!drive.handleWritable && GetLastError() == ERROR_ACCESS_DENIED) {
            handles.session = CreateFileA(hold.m_path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (handles.session == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION) {
                return refused(HoldState::InUse, "another program has it open for writing");
            }
            return refused(HoldState::Failed, win32::messageOf(error));
        }
        BY_HANDLE_FILE_INFORMATION lockInfo{};
        BY_HANDLE_FILE_INFORMATION sessionInfo{};
        if (!GetFileInformationByHandle(handles.lock, &lockInfo) ||
            !GetFileInformationByHandle(handles.session, &sessionInfo) ||
            lockInfo.dwVolumeSerialNumber != sessionInfo.dwVolumeSerialNumber ||
            lockInfo.nFileIndexHigh != sessionInfo.nFileIndexHigh ||
            lockInfo.nFileIndexLow != sessionInfo.nFileIndexLow) {
            return refused(HoldState::Failed, "it changed while it was being held");
        }
        drive.device = sessionInfo.dwVolumeSerialNumber;
        drive.inode = (std::uint64_t{sessionInfo.nFileIndexHigh} << 32) | sessionInfo.nFileIndexLow;
    }
    drive.handle = win32::nativeOf(handles.session);
    hold.pin(std::move(drive));
    hold.m_state = HoldState::Held;
    return hold;
}

void ExclusiveHold::pin(HeldDriveA drive) {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    m_pin = ++held.lastPin;
    held.drives.push_back({std::move(drive), m_pin});
}

ExclusiveHold ExclusiveHold::folder(const std::string& windowsName) {
    ExclusiveHold hold;
    hold.m_path = windowsName;
    hold.m_handles = std::make_unique<Handles>();
    auto refused = [&hold](HoldState state, std::string detail) {
        hold.m_state = state;
        hold.m_detail = std::move(detail);
        hold.release();
        return std::move(hold);
    };
    auto mapped = mapWindowsName(windowsName);
    if (!mapped) return refused(HoldState::Failed, mapped.message());
    if (mapped->where != WindowsName::Where::Host) {
        return refused(HoldState::Failed, "drive A: is no folder of this computer");
    }
    hold.m_path = mapped->hostPath;
    Handles& handles = *hold.m_handles;
    // No access of its own and every sharing: the handle only names the folder, and keeps it
    // from being replaced by another under the same name while the build runs.
    handles.lock = CreateFileA(hold.m_path.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handles.lock == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return refused(missing ? HoldState::Absent : HoldState::Failed, win32::messageOf(error));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handles.lock, &info)) {
        return refused(HoldState::Failed, win32::messageOf(GetLastError()));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return refused(HoldState::Absent, win32::messageOf(ERROR_DIRECTORY));
    }
    const std::string name = "Global\\Quenvol.Folder." + hex(info.dwVolumeSerialNumber) + "." +
                             hex((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
    DWORD error = 0;
    auto mutex = takeNamedMutex(name, error);
    if (!mutex) {
        if (error == ERROR_LOCK_VIOLATION) return refused(HoldState::HeldByAnotherBuild, "");
        return refused(HoldState::Failed, win32::messageOf(error));
    }
    handles.mutex = *mutex;
    handles.mutexName = name;
    hold.m_state = HoldState::Held;
    return hold;
}

ExclusiveHold::ExclusiveHold(ExclusiveHold&& other) noexcept {
    *this = std::move(other);
}

ExclusiveHold& ExclusiveHold::operator=(ExclusiveHold&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_state = std::exchange(other.m_state, HoldState::None);
    m_path = std::move(other.m_path);
    m_detail = std::move(other.m_detail);
    m_handles = std::move(other.m_handles);
    m_pin = std::exchange(other.m_pin, 0);
    return *this;
}

ExclusiveHold::~ExclusiveHold() {
    release();
}

void ExclusiveHold::release() {
    if (m_pin != 0) {
        HeldDrives& held = heldDrives();
        std::lock_guard<std::mutex> guard(held.mutex);
        std::erase_if(held.drives, [&](const HeldDrive& d) { return d.pin == m_pin; });
        m_pin = 0;
    }
    m_handles.reset();
    if (m_state == HoldState::Held) m_state = HoldState::None;
}

namespace win32 {

std::optional<NativeHandle> takeVolumeMutex(char letter, bool& heldElsewhere) {
    DWORD error = 0;
    auto mutex = takeNamedMutex(volumeMutexName(letter), error);
    heldElsewhere = !mutex && error == ERROR_LOCK_VIOLATION;
    if (!mutex) return std::nullopt;
    return nativeOf(*mutex);
}

void giveBackVolumeMutex(NativeHandle mutex, char letter) {
    if (mutex.valid()) giveBackNamedMutex(handleOf(mutex), volumeMutexName(letter));
}

}  // namespace win32

bool driveHeldHere(bool blockDevice, std::uint64_t device, std::uint64_t inode) {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    return std::any_of(held.drives.begin(), held.drives.end(), [&](const HeldDrive& d) {
        return d.drive.held && d.drive.blockDevice == blockDevice && d.drive.device == device &&
               d.drive.inode == inode;
    });
}

bool anyDriveHeldHere() {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    return std::any_of(held.drives.begin(), held.drives.end(),
                       [](const HeldDrive& d) { return d.drive.held; });
}

std::optional<HeldDriveA> driveAHeldHere() {
    HeldDrives& held = heldDrives();
    std::lock_guard<std::mutex> guard(held.mutex);
    if (held.drives.empty()) return std::nullopt;
    return held.drives.back().drive;
}

}  // namespace platform
