// Handles, the version query, memory blocks, buffer handles and the two diskette devices.
//
// The raw volume "\\.\a:" is drive A: opened for reading and, where the medium allows it,
// writing, positioned at byte 0. Its control codes mean on Linux:
//   FSCTL_LOCK_VOLUME     hold the drive exclusively: flock(LOCK_EX) on an image file, a second
//                         open with O_EXCL on a block device (refused while it is mounted or
//                         another program holds it);
//   FSCTL_DISMOUNT_VOLUME make every write durable (fsync, when this program has written
//                         anything since its last flush) and drop the cached pages, so that
//                         the next reader sees the medium;
//   FSCTL_UNLOCK_VOLUME   release that hold.
// A write without the hold takes it for that one write, so nothing is written to a mounted
// device or to an image another program is writing.
//
// "\\.\vwin32" runs the BIOS diskette service over drive A: (biosDiskette below), except in a
// build that can reach the system's own service (32-bit Windows), on a system of the 95/98
// family that says so itself: there the system serves it, and tests reach the emulation by
// hooks or by choosing the family with QUENVOL_PLATFORM_ID.
#include "platform/winapi.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/device_hooks.h"
#include "platform/drive_a.h"
#include "platform/pages.h"
#include "platform/system_version.h"
#include "platform/text_case.h"

namespace platform {
namespace {

thread_local std::string t_lastError;
thread_local base::Failure t_lastErrorKind = base::Failure::Other;

struct Device {
    DeviceKind kind = DeviceKind::RawVolume;
    bool standIn = false;           // served by the hooks alone
    NativeHandle systemService;     // the system's own BIOS service, where it serves
    std::unique_ptr<DriveA> drive;  // the raw volume's open drive
    std::uint64_t position = 0;     // the raw volume's byte position
    // Between FSCTL_LOCK_VOLUME and FSCTL_UNLOCK_VOLUME (or the handle's close): the hold.
    // Declared after the drive, so that it is given back before the drive closes.
    std::optional<DriveLock> hold;
};

// Handles are numbers from a table, never addresses, so that a forged or stale handle is
// simply unknown.
struct HandleTable {
    std::mutex mutex;
    std::map<std::uintptr_t, std::shared_ptr<Device>> devices;
    std::uintptr_t next = 0x1000;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

HANDLE addHandle(std::shared_ptr<Device> device) {
    HandleTable& table = handles();
    std::lock_guard<std::mutex> guard(table.mutex);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.devices.emplace(value, std::move(device));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Device> findHandle(HANDLE handle) {
    HandleTable& table = handles();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.devices.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.devices.end()) return nullptr;
    return found->second;
}

std::shared_ptr<Device> removeHandle(HANDLE handle) {
    HandleTable& table = handles();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.devices.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.devices.end()) return nullptr;
    std::shared_ptr<Device> device = std::move(found->second);
    table.devices.erase(found);
    return device;
}

struct BufferTable {
    std::mutex mutex;
    std::map<DWORD, BufferView> buffers;
    DWORD next = 0x10000;
};

BufferTable& buffers() {
    static BufferTable table;
    return table;
}

struct BlockTable {
    std::mutex mutex;
    std::map<void*, std::size_t> blocks;
};

BlockTable& blocks() {
    static BlockTable table;
    return table;
}

DeviceHooks* g_hooks = nullptr;

BOOL fail(std::string message) {
    t_lastError = std::move(message);
    t_lastErrorKind = base::Failure::Other;
    return FALSE;
}

// Keeps the failure's kind for the caller to decide on.
BOOL fail(const base::Error& error) {
    t_lastError = error.detail();
    t_lastErrorKind = error.kind();
    return FALSE;
}

BOOL succeed() {
    t_lastError.clear();
    t_lastErrorKind = base::Failure::Other;
    return TRUE;
}

// BIOS diskette status codes left in AH.
constexpr BYTE kBadCommand = 0x01;
constexpr BYTE kWriteProtected = 0x03;
constexpr BYTE kSectorNotFound = 0x04;
constexpr BYTE kControllerFailure = 0x20;
constexpr BYTE kNotReady = 0x80;

void finishBios(DIOC_REGISTERS& r, BYTE status, BYTE sectorsDone) {
    r.reg_EAX = (r.reg_EAX & 0xFFFF0000u) | (DWORD{status} << 8) | sectorsDone;
    if (status != 0) {
        r.reg_Flags |= 1u;
    } else {
        r.reg_Flags &= ~1u;
    }
}

// Int 13h for diskettes: AH=0 reset, AH=2 read and AH=3 write AL sectors at CH (cylinder,
// with bits 8-9 in CL's top two bits), CL (sector from 1), DH (head), DL (drive: 0 only) to or
// from the buffer whose handle is in EBX. The drive's geometry comes from the medium's size.
// Any error sets the carry flag and leaves its status in AH.
void biosDiskette(DIOC_REGISTERS& r) {
    const BYTE function = static_cast<BYTE>(r.reg_EAX >> 8);
    const BYTE count = static_cast<BYTE>(r.reg_EAX);
    const BYTE drive = static_cast<BYTE>(r.reg_EDX);
    const BYTE head = static_cast<BYTE>(r.reg_EDX >> 8);
    const BYTE clByte = static_cast<BYTE>(r.reg_ECX);
    const DWORD cylinder = ((r.reg_ECX >> 8) & 0xFFu) | ((DWORD{clByte} & 0xC0u) << 2);
    const DWORD sector = clByte & 0x3Fu;

    if (drive != 0) {
        fail("the BIOS service reaches drive A: (drive 0) only");
        return finishBios(r, kBadCommand, 0);
    }
    if (function == 0x00) return finishBios(r, 0, 0);
    if ((function != 0x02 && function != 0x03) || count == 0) {
        fail("unsupported BIOS diskette function");
        return finishBios(r, kBadCommand, 0);
    }
    const bool writing = function == 0x03;
    const std::size_t bytes = std::size_t{count} * fat::kSectorSize;
    BufferView buffer = resolveBufferHandle(r.reg_EBX);
    if (buffer.data == nullptr || buffer.size < bytes) {
        fail("the buffer handle in EBX names no buffer large enough");
        return finishBios(r, kBadCommand, 0);
    }

    DriveOpenOptions options;
    options.access = writing ? DriveAccess::Write : DriveAccess::Read;
    auto opened = DriveA::open(options);
    if (!opened) {
        fail(opened.error());
        const bool protectedMedium = opened.kind() == base::Failure::WriteProtected;
        return finishBios(r, protectedMedium ? kWriteProtected : kNotReady, 0);
    }
    DriveA& medium = **opened;
    const fat::Geometry& g = medium.geometry();
    const DWORD perCylinder = DWORD{g.sectorsPerTrack} * g.heads;
    const DWORD cylinders = perCylinder == 0 ? 0 : g.totalSectors / perCylinder;
    if (sector < 1 || sector > g.sectorsPerTrack || head >= g.heads || cylinder >= cylinders) {
        fail("cylinder " + std::to_string(cylinder) + ", head " + std::to_string(head) +
             ", sector " + std::to_string(sector) + " lies outside the diskette");
        return finishBios(r, kSectorNotFound, 0);
    }
    const DWORD first = (cylinder * g.heads + head) * g.sectorsPerTrack + (sector - 1);
    if (first + count > medium.sectorCount()) {
        fail("the transfer runs past the end of the diskette");
        return finishBios(r, kSectorNotFound, 0);
    }
    auto* data = static_cast<std::uint8_t*>(buffer.data);
    base::Status done =
        writing ? medium.write(first, count, data) : medium.read(first, count, data);
    if (done && writing) done = medium.flush();
    if (!done) {
        fail(done.error());
        const bool protectedMedium = done.kind() == base::Failure::WriteProtected;
        return finishBios(r, protectedMedium ? kWriteProtected : kControllerFailure, 0);
    }
    succeed();
    finishBios(r, 0, count);
}

BOOL volumeControl(Device& device, DWORD code) {
    DriveA& drive = *device.drive;
    switch (code) {
        case FSCTL_LOCK_VOLUME: {
            if (device.hold) return succeed();
            device.hold.emplace(drive);
            if (device.hold->status()) return succeed();
            const base::Error refused = device.hold->status().error();
            device.hold.reset();
            return fail(refused);
        }
        case FSCTL_DISMOUNT_VOLUME: {
            // A flush with nothing to write still waits for the medium.
            const bool pending = drive.writable() && DriveA::hasUnflushedWrites();
            base::Status flushed = pending ? drive.flush() : base::Status::success();
            drive.dropCache();
            return flushed ? succeed() : fail(flushed.error());
        }
        case FSCTL_UNLOCK_VOLUME:
            if (!device.hold) return fail("drive A: is not locked");
            device.hold.reset();
            return succeed();
        default:
            return fail("unsupported control code for drive A:");
    }
}

}  // namespace

const std::string& lastErrorMessage() {
    return t_lastError;
}
void setLastErrorMessage(std::string message) {
    setLastError(base::Failure::Other, std::move(message));
}
void setLastError(base::Failure kind, std::string message) {
    t_lastError = std::move(message);
    t_lastErrorKind = kind;
}
base::Failure lastErrorKind() {
    return t_lastErrorKind;
}

ScopedBufferHandle::ScopedBufferHandle(void* buffer, std::size_t size) {
    BufferTable& table = buffers();
    std::lock_guard<std::mutex> guard(table.mutex);
    // Where an address fits the register, the handle is the address, as the system's own
    // service takes it; a second scope over the same buffer draws a number instead.
    if constexpr (sizeof(void*) == sizeof(DWORD)) {
        m_handle = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(buffer));
        if (m_handle != 0 && table.buffers.count(m_handle) == 0) {
            table.buffers[m_handle] = BufferView{buffer, size};
            return;
        }
    }
    do {
        m_handle = table.next++;
    } while (m_handle == 0 || table.buffers.count(m_handle) != 0);
    table.buffers[m_handle] = BufferView{buffer, size};
}

ScopedBufferHandle::~ScopedBufferHandle() {
    BufferTable& table = buffers();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.buffers.erase(m_handle);
}

BufferView resolveBufferHandle(DWORD handle) {
    BufferTable& table = buffers();
    std::lock_guard<std::mutex> guard(table.mutex);
    auto found = table.buffers.find(handle);
    return found == table.buffers.end() ? BufferView{} : found->second;
}

ScopedDeviceHooks::ScopedDeviceHooks(DeviceHooks& hooks) : m_previous(g_hooks) {
    g_hooks = &hooks;
}

ScopedDeviceHooks::~ScopedDeviceHooks() {
    g_hooks = m_previous;
}

DeviceHooks* currentDeviceHooks() {
    return g_hooks;
}

}  // namespace platform

using platform::Device;
using platform::DeviceKind;

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return platform::fail("the version record's size must be 148");
    }
    const platform::SystemVersion version = platform::systemVersion();
    info->dwPlatformId = version.platformId;
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = version.build;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    version.servicePack.copy(info->szCSDVersion, sizeof info->szCSDVersion - 1);
    return platform::succeed();
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD /*dwCreationDisposition*/,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
    if (lpFileName == nullptr) {
        platform::fail("no device name");
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<Device>();
    std::string_view name(lpFileName);
    if (platform::sameIgnoringCase(name, "\\\\.\\a:")) {
        device->kind = DeviceKind::RawVolume;
    } else if (platform::sameIgnoringCase(name, "\\\\.\\vwin32")) {
        device->kind = DeviceKind::Vwin32;
    } else {
        platform::fail("\"" + std::string(name) + "\": only the diskette devices open this way");
        return INVALID_HANDLE_VALUE;
    }

    if (platform::DeviceHooks* hooks = platform::currentDeviceHooks()) {
        if (std::optional<bool> answer = hooks->onOpen(device->kind)) {
            if (!*answer) {
                platform::fail("the device could not be opened");
                return INVALID_HANDLE_VALUE;
            }
            device->standIn = true;
            platform::succeed();
            return platform::addHandle(std::move(device));
        }
    }
    if (device->kind == DeviceKind::RawVolume) {
        platform::DriveOpenOptions options;
        options.access = (dwDesiredAccess & GENERIC_WRITE) != 0 ? platform::DriveAccess::Write
                                                                : platform::DriveAccess::Read;
        options.exclusive = false;        // held only between lock and unlock
        options.readOnlyFallback = true;  // a write-protected diskette can still be read
        auto drive = platform::DriveA::open(options);
        if (!drive) {
            platform::fail(drive.error());
            return INVALID_HANDLE_VALUE;
        }
        device->drive = std::move(*drive);
    } else if (platform::systemBiosServiceBuilt()) {
        const platform::SystemVersion version = platform::systemVersion();
        if (version.fromSystem && version.platformId == VER_PLATFORM_WIN32_WINDOWS) {
            auto service = platform::openSystemBiosService();
            if (!service) {
                platform::fail(service.error());
                return INVALID_HANDLE_VALUE;
            }
            device->systemService = *service;
        }
    }
    platform::succeed();
    return platform::addHandle(std::move(device));
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    std::shared_ptr<Device> device = platform::findHandle(hFile);
    if (!device) return platform::fail("invalid handle");
    if (device->kind != DeviceKind::RawVolume || lpOverlapped != nullptr || lpBuffer == nullptr) {
        return platform::fail("invalid read request");
    }
    if (platform::DeviceHooks* hooks = platform::currentDeviceHooks()) {
        DWORD done = 0;
        if (auto answer = hooks->onRead(lpBuffer, nNumberOfBytesToRead, &done)) {
            if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = done;
            return *answer;
        }
    }
    if (device->standIn) return platform::fail("the stand-in device gave no answer");
    if (nNumberOfBytesToRead % fat::kSectorSize != 0) {
        return platform::fail("drive A: transfers whole sectors only");
    }
    auto got = device->drive->readAt(device->position, lpBuffer, nNumberOfBytesToRead);
    if (!got) return platform::fail(got.error());
    device->position += *got;
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(*got);
    return platform::succeed();
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    std::shared_ptr<Device> device = platform::findHandle(hFile);
    if (!device) return platform::fail("invalid handle");
    if (device->kind != DeviceKind::RawVolume || lpOverlapped != nullptr || lpBuffer == nullptr) {
        return platform::fail("invalid write request");
    }
    if (platform::DeviceHooks* hooks = platform::currentDeviceHooks()) {
        DWORD done = 0;
        if (auto answer = hooks->onWrite(lpBuffer, nNumberOfBytesToWrite, &done)) {
            if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
            return *answer;
        }
    }
    if (device->standIn) return platform::fail("the stand-in device gave no answer");
    if (nNumberOfBytesToWrite % fat::kSectorSize != 0) {
        return platform::fail("drive A: transfers whole sectors only");
    }
    auto put = device->drive->writeAt(device->position, lpBuffer, nNumberOfBytesToWrite);
    if (!put) return platform::fail(put.error());
    device->position += *put;
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(*put);
    return platform::succeed();
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped) {
    if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
    std::shared_ptr<Device> device = platform::findHandle(hDevice);
    if (!device) return platform::fail("invalid handle");
    if (lpOverlapped != nullptr) return platform::fail("asynchronous calls are not offered");
    platform::DeviceHooks* hooks = platform::currentDeviceHooks();

    if (device->kind == DeviceKind::RawVolume) {
        if (hooks != nullptr) {
            if (auto answer = hooks->onControl(device->kind, dwIoControlCode, nullptr)) {
                return *answer;
            }
        }
        if (device->standIn) return platform::fail("the stand-in device gave no answer");
        return platform::volumeControl(*device, dwIoControlCode);
    }

    if (dwIoControlCode != VWIN32_DIOC_DOS_INT13 || lpInBuffer == nullptr ||
        lpOutBuffer == nullptr || nInBufferSize < sizeof(DIOC_REGISTERS) ||
        nOutBufferSize < sizeof(DIOC_REGISTERS)) {
        return platform::fail("the BIOS service takes a 28-byte register record in and out");
    }
    DIOC_REGISTERS registers;
    std::memcpy(&registers, lpInBuffer, sizeof registers);
    BOOL result = TRUE;
    std::optional<BOOL> answer;
    if (hooks != nullptr) answer = hooks->onControl(device->kind, dwIoControlCode, &registers);
    if (answer) {
        result = *answer;
    } else if (device->standIn) {
        return platform::fail("the stand-in device gave no answer");
    } else if (device->systemService.valid()) {
        platform::BiosRegisters system{registers.reg_EBX,  registers.reg_EDX, registers.reg_ECX,
                                       registers.reg_EAX,  registers.reg_EDI, registers.reg_ESI,
                                       registers.reg_Flags};
        base::Status called = platform::callSystemBiosService(device->systemService, system);
        if (!called) return platform::fail(called.error());
        registers = {system.ebx, system.edx, system.ecx,  system.eax,
                     system.edi, system.esi, system.flags};
        platform::succeed();
    } else {
        platform::biosDiskette(registers);
    }
    std::memcpy(lpOutBuffer, &registers, sizeof registers);
    if (lpBytesReturned != nullptr) *lpBytesReturned = sizeof registers;
    return result;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<Device> device = platform::removeHandle(hObject);
    if (!device) return platform::fail("invalid handle");
    platform::closeSystemBiosService(device->systemService);
    if (platform::DeviceHooks* hooks = platform::currentDeviceHooks()) hooks->onClose(device->kind);
    return platform::succeed();
}

LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
    if (lpAddress != nullptr || dwSize == 0 || (flAllocationType & MEM_COMMIT) == 0 ||
        flProtect != PAGE_READWRITE) {
        platform::fail("only fresh read-write blocks can be committed");
        return nullptr;
    }
    // Anonymous mappings arrive zero-filled and page-aligned.
    void* block = platform::mapPages(dwSize);
    if (block == nullptr) {
        platform::fail("out of memory");
        return nullptr;
    }
    platform::BlockTable& table = platform::blocks();
    std::lock_guard<std::mutex> guard(table.mutex);
    table.blocks[block] = dwSize;
    platform::succeed();
    return block;
}

BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
    if (dwFreeType != MEM_RELEASE || dwSize != 0) {
        return platform::fail("blocks are released whole, with size 0");
    }
    std::size_t size = 0;
    {
        platform::BlockTable& table = platform::blocks();
        std::lock_guard<std::mutex> guard(table.mutex);
        auto found = table.blocks.find(lpAddress);
        if (found == table.blocks.end()) return platform::fail("no such block");
        size = found->second;
        table.blocks.erase(found);
    }
    platform::unmapPages(lpAddress, size);
    return platform::succeed();
}
