// The floppy drives of this machine from its drive letters: removable drives whose driver
// offers a diskette's media types, the USB floppy drives (served by the system's floppy class
// driver) among them.
#include "platform/floppy_drives.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/drive_a.h"
#include "platform/win32/handle.h"
#include "platform/win32/held_drive.h"

namespace platform {

namespace win32 {

bool isDisketteMediaType(std::uint32_t type) {
    switch (type) {
        case F5_1Pt2_512:
        case F3_1Pt44_512:
        case F3_2Pt88_512:
        case F3_20Pt8_512:
        case F3_720_512:
        case F5_360_512:
        case F5_320_512:
        case F5_320_1024:
        case F5_180_512:
        case F5_160_512:
        case F3_640_512:
        case F5_640_512:
        case F5_720_512:
        case F3_1Pt2_512:
        case F3_1Pt23_1024:
        case F5_1Pt23_1024:
        case F3_128Mb_512:
        case F3_230Mb_512:
        case F8_256_128:
        case F3_200Mb_512:
        case F3_240M_512:
        case F3_32M_512:
            return true;
        default:
            return false;
    }
}

}  // namespace win32

namespace {

std::vector<std::uint32_t> mediaTypes(HANDLE drive);

}  // namespace

bool win32::offersDisketteMedia(NativeHandle drive) {
    for (const std::uint32_t type : mediaTypes(handleOf(drive))) {
        if (isDisketteMediaType(type)) return true;
    }
    return false;
}

namespace {

// The media types the drive's driver offers; empty when it answers none. The buffer is zeroed
// and only what the driver says it returned is read: some "succeed" without writing it.
std::vector<std::uint32_t> mediaTypes(HANDLE drive) {
    std::vector<std::uint32_t> types;
    std::vector<DISK_GEOMETRY> formats(32);
    std::memset(formats.data(), 0, formats.size() * sizeof(DISK_GEOMETRY));
    DWORD returned = 0;
    if (DeviceIoControl(drive, IOCTL_DISK_GET_MEDIA_TYPES, nullptr, 0, formats.data(),
                        static_cast<DWORD>(formats.size() * sizeof(DISK_GEOMETRY)), &returned,
                        nullptr)) {
        for (DWORD i = 0; i < returned / sizeof(DISK_GEOMETRY) && i < formats.size(); ++i) {
            types.push_back(static_cast<std::uint32_t>(formats[i].MediaType));
        }
        if (!types.empty()) return types;
    }
    // Drivers of the storage stack answer the storage form only.
    std::vector<std::uint8_t> record(sizeof(GET_MEDIA_TYPES) + 16 * sizeof(DEVICE_MEDIA_INFO), 0);
    returned = 0;
    if (!DeviceIoControl(drive, IOCTL_STORAGE_GET_MEDIA_TYPES_EX, nullptr, 0, record.data(),
                         static_cast<DWORD>(record.size()), &returned, nullptr) ||
        returned < offsetof(GET_MEDIA_TYPES, MediaInfo)) {
        return types;
    }
    const auto* media = reinterpret_cast<const GET_MEDIA_TYPES*>(record.data());
    const std::size_t fits =
        (returned - offsetof(GET_MEDIA_TYPES, MediaInfo)) / sizeof(DEVICE_MEDIA_INFO);
    for (std::size_t i = 0; i < media->MediaInfoCount && i < fits; ++i) {
        types.push_back(
            static_cast<std::uint32_t>(media->MediaInfo[i].DeviceSpecific.DiskInfo.MediaType));
    }
    return types;
}

// A field of the storage descriptor: blanks taken away, control characters made blanks.
std::string descriptorText(const std::vector<std::uint8_t>& record, DWORD returned, DWORD offset) {
    if (offset == 0 || offset >= returned) return {};
    std::string text;
    for (DWORD i = offset; i < returned && record[i] != 0; ++i) {
        const char c = static_cast<char>(record[i]);
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    }
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void describe(HANDLE drive, FloppyDrive& found) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<std::uint8_t> record(1024, 0);
    DWORD returned = 0;
    if (!DeviceIoControl(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, record.data(),
                         static_cast<DWORD>(record.size()), &returned, nullptr) ||
        returned < sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
        return;
    }
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(record.data());
    found.vendor = descriptorText(record, returned, descriptor->VendorIdOffset);
    found.model = descriptorText(record, returned, descriptor->ProductIdOffset);
}

// The medium's size as the drive reports it: 0 without a diskette, none when it does not say.
std::optional<std::uint64_t> mediumBytes(HANDLE drive) {
    DISK_GEOMETRY geometry;
    std::memset(&geometry, 0, sizeof geometry);
    DWORD returned = 0;
    if (!DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                         sizeof geometry, &returned, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_READY || error == ERROR_NO_MEDIA_IN_DRIVE) return 0;
        return std::nullopt;
    }
    if (returned < sizeof geometry) return std::nullopt;
    if (geometry.MediaType == Unknown) return 0;
    return static_cast<std::uint64_t>(geometry.Cylinders.QuadPart) * geometry.TracksPerCylinder *
           geometry.SectorsPerTrack * geometry.BytesPerSector;
}

std::optional<FloppyDrive> examine(char letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) return std::nullopt;
    FloppyDrive found;
    found.name = std::string(1, letter) + ":";
    found.path = win32::volumePath(letter);
    // No access asked: the questions below need none, and the drive is not spun up for them.
    const HANDLE drive = CreateFileA(found.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (drive == INVALID_HANDLE_VALUE) return std::nullopt;
    const bool diskette = win32::offersDisketteMedia(win32::nativeOf(drive));
    if (diskette) {
        describe(drive, found);
        found.mediumBytes = mediumBytes(drive);
        DWORD returned = 0;
        found.readOnly = !DeviceIoControl(drive, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0,
                                          &returned, nullptr) &&
                         GetLastError() == ERROR_WRITE_PROTECT;
    }
    CloseHandle(drive);
    if (!diskette) return std::nullopt;
    const HANDLE writer =
        CreateFileA(found.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    // A drive without a diskette still opens; refused access is the user's.
    found.mayWrite = writer != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED;
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    return found;
}

}  // namespace

std::string FloppyDrive::description() const {
    std::string text = vendor;
    if (!text.empty() && !model.empty()) text += ' ';
    text += model;
    return text.empty() ? "floppy drive" : text;
}

std::vector<FloppyDrive> findFloppyDrives() {
    std::vector<FloppyDrive> drives;
    const DWORD letters = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((letters & (DWORD{1} << i)) == 0) continue;
        if (auto drive = examine(static_cast<char>('A' + i))) drives.push_back(std::move(*drive));
    }
    return drives;
}

std::optional<FloppyDrive> floppyDriveAt(const std::vector<FloppyDrive>& drives,
                                         const std::string& path) {
    const auto letter = win32::volumeLetter(path);
    for (const auto& drive : drives) {
        if (drive.path == path || (letter && win32::volumeLetter(drive.path) == letter)) {
            return drive;
        }
    }
    return std::nullopt;
}

std::optional<char> driveLetterOf(const std::string& path) {
    return win32::volumeLetter(path);
}

std::string defaultDriveAPath() {
    return win32::volumePath('A');
}

}  // namespace platform
