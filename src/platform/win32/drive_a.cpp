// Drive A: on Windows: the raw volume of a drive letter ("\\.\A:", or another letter the user
// names), or an image file named by its Windows path.
#include "platform/drive_a.h"

#include <malloc.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/drive_a_system.h"
#include "platform/drive_format.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "platform/win32/handle.h"
#include "platform/win32/held_drive.h"
#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace platform {

namespace win32 {

std::optional<char> volumeLetter(const std::string& path) {
    std::string name = path;
    // "\\?\B:" names the volume as "\\.\B:" does.
    if (name.size() == 6 && isDeviceNamespace(name)) name = name.substr(4);
    // A drive's root folder ("A:\", as a name made absolute gives it) can be no image file.
    if (name.size() == 3 && (name[2] == '\\' || name[2] == '/')) name.pop_back();
    if (name.size() != 2 || name[1] != ':') return std::nullopt;
    const char letter = name[0];
    if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
    if (letter >= 'A' && letter <= 'Z') return letter;
    return std::nullopt;
}

std::string volumePath(char letter) {
    return std::string("\\\\.\\") + letter + ":";
}

bool alignedForDevice(const void* buffer, std::uint64_t offset, std::size_t bytes) {
    return reinterpret_cast<std::uintptr_t>(buffer) % fat::kSectorSize == 0 &&
           offset % fat::kSectorSize == 0 && bytes % fat::kSectorSize == 0;
}

}  // namespace win32

namespace {

using base::Failure;
using base::Result;
using base::Status;
using win32::kDeviceAlignment;

using drive_a::noDiskette;
using drive_a::notDiskette;
using drive_a::writeProtected;

base::Error busy(const std::string& path) {
    return Status::failure(Failure::Busy, "busy: drive A: (" + path +
                                              ") is in use by another program or has files open");
}

std::string wayOutFor(bool volume) {
    return volume ? "run the program as an administrator, or ask one to let this account use "
                    "the drive"
                  : "give this account access to the file (its Security properties), or use "
                    "another image";
}

base::Error permissionDenied(const std::string& path, bool volume, bool writing) {
    return Status::failure(Failure::PermissionDenied,
                           "permission denied: this user may not open drive A: (" + path +
                               ") for " + (writing ? "writing" : "reading") + "; " +
                               wayOutFor(volume));
}

bool isNoMedium(DWORD error) {
    return error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE ||
           error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_DRIVE || error == ERROR_BAD_UNIT;
}

struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t bytes)
        : size((bytes + kDeviceAlignment - 1) / kDeviceAlignment * kDeviceAlignment),
          data(static_cast<std::uint8_t*>(_aligned_malloc(size, kDeviceAlignment))) {}
    ~AlignedBuffer() { _aligned_free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    std::size_t size;
    std::uint8_t* data;
};

// ReadFile or WriteFile at `offset` until done, an error or the end; false with the error in
// GetLastError(). A handle that bypasses the cache gets only what Windows allows it.
bool transferAll(HANDLE handle, bool aligned, bool writing, std::uint64_t offset, void* data,
                 std::size_t bytes, std::size_t& done) {
    done = 0;
    auto* at = static_cast<std::uint8_t*>(data);
    while (done < bytes) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes - done, 1u << 20));
        if (aligned && !win32::alignedForDevice(at + done, offset + done, chunk)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset + done);
        where.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD moved = 0;
        const BOOL ok = writing ? WriteFile(handle, at + done, chunk, &moved, &where)
                                : ReadFile(handle, at + done, chunk, &moved, &where);
        if (!ok) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return false;
        }
        if (moved == 0) break;
        done += moved;
    }
    return true;
}

// One control code into a zeroed record; the bytes it returned, or none when it was not
// answered (the error left in GetLastError()). Some drivers "succeed" without filling the
// record, so what is not returned is never read.
template <class Record>
std::optional<DWORD> control(HANDLE handle, DWORD code, Record& out) {
    std::memset(&out, 0, sizeof out);
    DWORD returned = 0;
    if (!DeviceIoControl(handle, code, nullptr, 0, &out, sizeof out, &returned, nullptr)) {
        return std::nullopt;
    }
    return returned;
}

// The medium's size as the drive reports it: the geometry (with or without the extended
// record), else the length. 0 means a drive without a medium; none, that no code was
// answered, with the last refusal in `error`.
std::optional<std::uint64_t> reportedSize(HANDLE handle, DWORD& error) {
    DISK_GEOMETRY_EX extended;
    if (auto got = control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, extended);
        got && *got >= offsetof(DISK_GEOMETRY_EX, DiskSize) + sizeof extended.DiskSize) {
        return static_cast<std::uint64_t>(extended.DiskSize.QuadPart);
    }
    error = GetLastError();
    if (isNoMedium(error)) return 0;
    DISK_GEOMETRY plain;
    if (auto got = control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, plain);
        got && *got >= sizeof plain) {
        if (plain.MediaType == Unknown) return 0;
        return static_cast<std::uint64_t>(plain.Cylinders.QuadPart) * plain.TracksPerCylinder *
               plain.SectorsPerTrack * plain.BytesPerSector;
    }
    if (isNoMedium(GetLastError())) return 0;
    GET_LENGTH_INFORMATION length;
    if (auto got = control(handle, IOCTL_DISK_GET_LENGTH_INFO, length);
        got && *got >= sizeof length) {
        return static_cast<std::uint64_t>(length.Length.QuadPart);
    }
    error = GetLastError();
    if (isNoMedium(error)) return 0;
    return std::nullopt;
}

// Whether the drive says its medium is write-protected; none when it does not answer.
std::optional<bool> reportedWriteProtected(HANDLE handle) {
    DWORD returned = 0;
    if (DeviceIoControl(handle, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, &returned,
                        nullptr)) {
        return false;
    }
    if (GetLastError() == ERROR_WRITE_PROTECT) return true;
    return std::nullopt;
}

}  // namespace

// What drive A:'s path names before anything is opened.
struct ExaminedPath {
    std::optional<char> letter;  // a drive letter's raw volume
    std::uint64_t bytes = 0;     // an image file's size
    bool readOnly = false;       // an image file's read-only attribute: the diskette's tab
};

namespace {

Result<ExaminedPath> examine(const std::string& path) {
    ExaminedPath named;
    named.letter = win32::volumeLetter(path);
    if (named.letter) return named;
    // A device ("\\.\PhysicalDrive1", "\\?\Volume{...}", "\\.\COM1") but a drive letter's
    // volume: its size is not known before it is opened, and a hard disk is no diskette.
    if (isDeviceNamespace(path)) {
        return notDiskette(path, "is a device, neither an image file nor a drive letter");
    }
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME) {
            return noDiskette(path, "does not exist");
        }
        return win32::systemError(
            error, "cannot examine drive A: (" + path + "): " + win32::messageOf(error));
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        return notDiskette(path, "is a directory");
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        return notDiskette(path, "is a device");
    }
    named.bytes = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    named.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!isDisketteSize(named.bytes)) return notDiskette(path, disketteSizeRefusal(named.bytes));
    return named;
}

HANDLE openPath(const std::string& path, bool volume, bool writing, bool uncached) {
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (volume || uncached)
        flags = FILE_FLAG_NO_BUFFERING | (writing ? FILE_FLAG_WRITE_THROUGH : 0);
    return CreateFileA(path.c_str(), GENERIC_READ | (writing ? GENERIC_WRITE : 0),
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Why the open of drive A: failed, as the kind of refusal it is.
base::Error openRefusal(const std::string& path, DWORD error, bool volume, bool writing) {
    if (isNoMedium(error)) return noDiskette(path, win32::messageOf(error));
    if (error == ERROR_WRITE_PROTECT) return writeProtected(path);
    if (error == ERROR_ACCESS_DENIED) return permissionDenied(path, volume, writing);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return busy(path);
    return win32::systemError(error,
                              "cannot open drive A: (" + path + "): " + win32::messageOf(error));
}

// A sector of the medium read through `handle` (a volume's: aligned), or none.
std::optional<std::vector<std::uint8_t>> firstSector(HANDLE handle, DWORD& error) {
    AlignedBuffer buffer(fat::kSectorSize);
    if (buffer.data == nullptr) return std::nullopt;
    std::size_t done = 0;
    if (!transferAll(handle, true, false, 0, buffer.data, fat::kSectorSize, done) ||
        done != fat::kSectorSize) {
        error = done == fat::kSectorSize ? GetLastError() : ERROR_HANDLE_EOF;
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(buffer.data, buffer.data + fat::kSectorSize);
}

// A volume's size: from the drive, else from its boot sector, where the drive answers none of
// the size codes (as an image mapped to a drive letter under wine does).
Result<std::uint64_t> measureVolume(HANDLE handle, const std::string& path) {
    DWORD refused = 0;
    if (auto reported = reportedSize(handle, refused)) {
        if (*reported == 0) return noDiskette(path, "holds no medium");
        return *reported;
    }
    DWORD error = 0;
    auto sector = firstSector(handle, error);
    if (!sector) {
        if (isNoMedium(error)) return noDiskette(path, win32::messageOf(error));
        return Status::failure(Failure::IoError, "drive A: (" + path +
                                                     ") reports no size and its first sector "
                                                     "cannot be read: " +
                                                     win32::messageOf(error));
    }
    auto layout = fat::readBootSectorLayout(
        *sector, static_cast<std::uint32_t>(kLargestDisketteBytes / fat::kSectorSize));
    if (!layout) {
        return notDiskette(path,
                           "reports no size (" + win32::messageOf(refused) +
                               ") and its boot sector describes no diskette: " + layout.message());
    }
    return std::uint64_t{layout->totalSectors} * fat::kSectorSize;
}

}  // namespace

// A failing medium's errors as Windows reports them: a sector that does not read back, a
// write that does not reach the medium.
std::string drive_a::heldBackTransferText() {
    return win32::messageOf(ERROR_CRC);
}

std::string drive_a::heldBackFlushText() {
    return win32::messageOf(ERROR_WRITE_FAULT);
}

std::string driveAPath() {
    if (auto held = driveAHeldHere()) return held->path;
    return currentDriveA().path;
}

std::optional<DriveAccessDenied> driveAAccessDenied() {
    auto opened = DriveA::open();
    if (opened || opened.kind() != base::Failure::PermissionDenied) return std::nullopt;
    DriveAccessDenied denied;
    denied.path = driveAPath();
    denied.detail = opened.message();
    denied.wayOut = wayOutFor(win32::volumeLetter(denied.path).has_value());
    return denied;
}

std::optional<MediumSize> measureMediumAt(const std::string& path) {
    if (const auto letter = win32::volumeLetter(path)) {
        const std::string volume = win32::volumePath(*letter);
        const HANDLE handle = openPath(volume, true, false, false);
        if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
        auto bytes = measureVolume(handle, volume);
        CloseHandle(handle);
        if (!bytes) return std::nullopt;
        return MediumSize{true, *bytes, {}};
    }
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        return std::nullopt;
    }
    return MediumSize{false, (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow, {}};
}

Result<std::unique_ptr<DriveA>> DriveA::open(const DriveOpenOptions& options) {
    std::unique_ptr<DriveA> drive(new DriveA());
    const std::optional<HeldDriveA> held = driveAHeldHere();
    drive->m_path = held ? held->path : driveAPath();
    if (const auto letter = win32::volumeLetter(drive->m_path)) {
        drive->m_path = win32::volumePath(*letter);
    }
    Result<ExaminedPath> before = examine(drive->m_path);
    if (!before) return before.error();
    drive->m_writable = options.access == DriveAccess::Write;
    drive->m_openedForReading = !drive->m_writable;
    const HeldDriveA* lender = held && held->held ? &*held : nullptr;
    if (Status s = drive->openDescriptor(*before, options, lender); !s) return s.error();
    if (Status s = drive->measureMedium(options); !s) return s.error();
    drive->m_dropBeforeRead = options.bypassCache && !drive->m_direct;
    if (drive->m_writable && options.exclusive) {
        Status locked = drive->lock();
        if (!locked) return locked.error();
    }
    return drive;
}

void DriveA::readOnlyBecause(base::Error why) {
    m_writable = false;
    m_whyReadOnly = std::move(why);
}

Status DriveA::openDescriptor(const ExaminedPath& before, const DriveOpenOptions& options,
                              const HeldDriveA* lender) {
    m_blockDevice = before.letter.has_value();
    // A volume is always read and written past the cache; an image file reads past it through
    // a second handle of its own (below).
    m_direct = m_blockDevice;
    if (m_writable && !m_blockDevice && before.readOnly) {
        if (!options.readOnlyFallback) return writeProtected(m_path);
        readOnlyBecause(writeProtected(m_path));
    }
    if (lender != nullptr && lender->blockDevice == m_blockDevice && lender->handle.valid() &&
        (lender->handleWritable || !m_writable)) {
        m_handle = lender->handle;
        m_borrowed = true;
        m_device = lender->device;
        m_inode = lender->inode;
    } else {
        HANDLE handle = openPath(m_path, m_blockDevice, m_writable, false);
        if (handle == INVALID_HANDLE_VALUE && m_writable && GetLastError() == ERROR_ACCESS_DENIED) {
            // Write access refused: a volume's read access tells a refused user (no access at
            // all) from a medium that refuses writing; see whyWritingRefused.
            HANDLE reader = openPath(m_path, m_blockDevice, false, false);
            if (reader == INVALID_HANDLE_VALUE) {
                return openRefusal(m_path, GetLastError(), m_blockDevice, false);
            }
            base::Error why = permissionDenied(m_path, m_blockDevice, true);
            if (m_blockDevice) {
                // The drive's own answer decides; a drive that gives none (wine's mapping of an
                // image without write permission) refuses writing for its medium's sake, since
                // a user's access to a drive is given for reading and writing together.
                const std::optional<bool> tab = reportedWriteProtected(reader);
                if (tab.value_or(true)) why = writeProtected(m_path);
            }
            if (!options.readOnlyFallback) {
                CloseHandle(reader);
                return why;
            }
            readOnlyBecause(std::move(why));
            handle = reader;
        }
        if (handle == INVALID_HANDLE_VALUE) {
            return openRefusal(m_path, GetLastError(), m_blockDevice, m_writable);
        }
        m_handle = win32::nativeOf(handle);
        if (m_blockDevice) {
            m_device = static_cast<std::uint64_t>(*before.letter);
        } else {
            BY_HANDLE_FILE_INFORMATION info{};
            if (!GetFileInformationByHandle(handle, &info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return Status::failure("drive A: (" + m_path +
                                       ") changed while it was being opened");
            }
            m_device = info.dwVolumeSerialNumber;
            m_inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        }
    }
    if (!m_blockDevice) {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(win32::handleOf(m_handle), &size)) {
            return win32::failedBecause("drive A: (" + m_path + ") cannot be measured");
        }
        m_size = static_cast<std::uint64_t>(size.QuadPart);
        if (options.bypassCache) {
            // Reads past the cache: a handle without buffering, read in whole pages.
            m_exclusive = win32::nativeOf(openPath(m_path, false, false, true));
        }
    }
    return Status::success();
}

Status DriveA::measureBlockDevice(const DriveOpenOptions& options) {
    auto bytes = measureVolume(win32::handleOf(m_handle), m_path);
    if (!bytes) return bytes.error();
    if (!isDisketteSize(*bytes)) return notDiskette(m_path, disketteSizeRefusal(*bytes));
    if (m_writable && reportedWriteProtected(win32::handleOf(m_handle)).value_or(false)) {
        if (!options.readOnlyFallback) return writeProtected(m_path);
        readOnlyBecause(writeProtected(m_path));
    }
    m_size = *bytes;
    return Status::success();
}

DriveA::~DriveA() {
    unlock();
    if (m_exclusive.valid() && !m_blockDevice) CloseHandle(win32::handleOf(m_exclusive));
    if (m_handle.valid() && !m_borrowed) CloseHandle(win32::handleOf(m_handle));
}

Result<std::size_t> DriveA::readMedium(std::uint64_t offset, void* out, std::size_t bytes) {
    std::size_t done = 0;
    bool ok = true;
    if (m_direct || (m_dropBeforeRead && m_exclusive.valid())) {
        if (offset % fat::kSectorSize != 0 || bytes % fat::kSectorSize != 0) {
            return Status::failure(Failure::BadData, "drive A: transfers whole sectors only");
        }
        // Whole pages around the range, through a page-aligned buffer.
        const std::uint64_t first = offset / kDeviceAlignment * kDeviceAlignment;
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(
                (offset + bytes + kDeviceAlignment - 1) / kDeviceAlignment * kDeviceAlignment,
                m_size)) -
            static_cast<std::size_t>(first);
        AlignedBuffer bounce(span);
        if (bounce.data == nullptr) return Status::failure("out of memory");
        const HANDLE handle = win32::handleOf(m_direct ? m_handle : m_exclusive);
        std::size_t got = 0;
        ok = transferAll(handle, true, false, first, bounce.data, span, got);
        const std::size_t lead = static_cast<std::size_t>(offset - first);
        done = got > lead ? std::min(got - lead, bytes) : 0;
        if (done > 0) std::memcpy(out, bounce.data + lead, done);
    } else {
        ok = transferAll(win32::handleOf(m_handle), false, false, offset, out, bytes, done);
    }
    if (!ok) {
        const DWORD error = GetLastError();
        if (isNoMedium(error)) return noDiskette(m_path, win32::messageOf(error));
        return Status::failure(Failure::IoError, "read error at byte " + std::to_string(offset) +
                                                     " of drive A: (" + m_path +
                                                     "): " + win32::messageOf(error));
    }
    return done;
}

Result<std::size_t> DriveA::writeHeld(std::uint64_t offset, const void* in, std::size_t bytes) {
    void* source = const_cast<void*>(in);
    std::optional<AlignedBuffer> bounce;
    if (m_direct) {
        if (offset % fat::kSectorSize != 0 || bytes % fat::kSectorSize != 0) {
            return Status::failure(Failure::BadData, "drive A: transfers whole sectors only");
        }
        bounce.emplace(bytes);
        if (bounce->data == nullptr) return Status::failure("out of memory");
        std::memcpy(bounce->data, in, bytes);
        source = bounce->data;
    }
    std::size_t done = 0;
    if (transferAll(win32::handleOf(m_handle), m_direct, true, offset, source, bytes, done)) {
        return done;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_WRITE_PROTECT) return writeProtected(m_path);
    if (error == ERROR_ACCESS_DENIED) {
        // A volume refusing a write it was opened for has its medium's tab set, unless the
        // drive says otherwise.
        if (m_blockDevice && reportedWriteProtected(win32::handleOf(m_handle)).value_or(true)) {
            return writeProtected(m_path);
        }
        return Status::failure(Failure::PermissionDenied,
                               "permission denied: drive A: (" + m_path + ") refused the write");
    }
    if (isNoMedium(error)) return noDiskette(m_path, win32::messageOf(error));
    return Status::failure(Failure::IoError, "write error at byte " + std::to_string(offset) +
                                                 " of drive A: (" + m_path +
                                                 "): " + win32::messageOf(error));
}

Status DriveA::flushMedium() {
    if (!FlushFileBuffers(win32::handleOf(m_handle))) {
        const DWORD error = GetLastError();
        return Status::failure(
            Failure::IoError,
            "drive A: (" + m_path + ") could not be flushed: " + win32::messageOf(error));
    }
    return Status::success();
}

Status DriveA::checkStillAtPath() const {
    std::string path = driveAPath();
    if (const auto letter = win32::volumeLetter(path)) path = win32::volumePath(*letter);
    if (path != m_path) return Status::failure("drive A: is now " + path + ", no longer " + m_path);
    if (m_blockDevice) return Status::success();
    const HANDLE handle =
        CreateFileA(m_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return win32::failedBecause("drive A: (" + m_path + ") is gone");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    if (known && info.dwVolumeSerialNumber == m_device && index == m_inode) {
        return Status::success();
    }
    return Status::failure("drive A: (" + m_path +
                           ") now names another file than the image in use");
}

Status DriveA::lock() {
    if (m_locked) return Status::success();
    // A build of this process holds the drive: its hold keeps everyone else out, and a lock
    // of our own would be refused by it.
    if (m_borrowed || driveHeldHere(m_blockDevice, m_device, m_inode)) {
        m_locked = true;
        m_lockedByHold = true;
        return Status::success();
    }
    const HANDLE handle = win32::handleOf(m_handle);
    if (m_blockDevice) {
        const char letter = static_cast<char>(m_device);
        bool heldElsewhere = false;
        auto mutex = win32::takeVolumeMutex(letter, heldElsewhere);
        if (!mutex) {
            if (heldElsewhere) return busy(m_path);
            return win32::failedBecause("cannot lock drive A: (" + m_path + ")");
        }
        DWORD returned = 0;
        if (!DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned,
                             nullptr)) {
            const DWORD error = GetLastError();
            win32::giveBackVolumeMutex(*mutex, letter);
            // Refused while files are open on the volume, or another program holds it.
            if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                error == ERROR_LOCK_VIOLATION) {
                return busy(m_path);
            }
            return win32::systemError(
                error, "cannot lock drive A: (" + m_path + "): " + win32::messageOf(error));
        }
        m_exclusive = *mutex;
    } else {
        OVERLAPPED range{};
        range.Offset = static_cast<DWORD>(win32::kImageLockOffset);
        range.OffsetHigh = static_cast<DWORD>(win32::kImageLockOffset >> 32);
        if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                        win32::kImageLockBytes, 0, &range)) {
            const DWORD error = GetLastError();
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return busy(m_path);
            return win32::systemError(
                error, "cannot lock drive A: (" + m_path + "): " + win32::messageOf(error));
        }
    }
    m_locked = true;
    return Status::success();
}

void DriveA::unlock() {
    if (!m_locked) return;
    if (m_lockedByHold) {
        m_locked = m_lockedByHold = false;
        return;
    }
    const HANDLE handle = win32::handleOf(m_handle);
    if (m_blockDevice) {
        DWORD returned = 0;
        DeviceIoControl(handle, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
        win32::giveBackVolumeMutex(m_exclusive, static_cast<char>(m_device));
        m_exclusive = {};
    } else {
        OVERLAPPED range{};
        range.Offset = static_cast<DWORD>(win32::kImageLockOffset);
        range.OffsetHigh = static_cast<DWORD>(win32::kImageLockOffset >> 32);
        UnlockFileEx(handle, 0, win32::kImageLockBytes, 0, &range);
    }
    m_locked = false;
}

// Windows flushes only through a handle that may write: this session's, else the build's hold,
// else one opened for the flush alone.
bool DriveA::flushAnyHandle() const {
    if (m_writable) return FlushFileBuffers(win32::handleOf(m_handle));
    const std::optional<HeldDriveA> held = driveAHeldHere();
    if (held && held->held && held->handleWritable && held->blockDevice == m_blockDevice &&
        held->device == m_device && held->inode == m_inode) {
        return FlushFileBuffers(win32::handleOf(held->handle));
    }
    const HANDLE writer = openPath(m_path, m_blockDevice, true, false);
    if (writer == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushFileBuffers(writer);
    CloseHandle(writer);
    return flushed;
}

// A volume is read without buffering already; an image's reads past the cache go through its
// handle without buffering once what was written is flushed.
void DriveA::forgetCachedPages() {}

}  // namespace platform
