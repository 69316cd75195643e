// The operating-system calls the dialog code makes, under their Windows names and signatures,
// with Linux meanings (see win_path.h for names, drive_a.h for the diskette drive).
// Every call leaves a readable cause of its last failure in platform::lastErrorMessage().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/result.h"

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;  // 32 bits as on the original platform, not unsigned long
using UINT = unsigned int;
using LONG = std::int32_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;

struct OVERLAPPED;           // asynchronous I/O is not offered: always pass nullptr
struct SECURITY_ATTRIBUTES;  // likewise
using LPOVERLAPPED = OVERLAPPED*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#ifndef TRUE
inline constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
inline constexpr BOOL FALSE = 0;
#endif

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001u;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;

inline constexpr DWORD VWIN32_DIOC_DOS_INT13 = 4;
inline constexpr DWORD FSCTL_LOCK_VOLUME = 0x00090018u;
inline constexpr DWORD FSCTL_UNLOCK_VOLUME = 0x0009001Cu;
inline constexpr DWORD FSCTL_DISMOUNT_VOLUME = 0x00090020u;

inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

inline constexpr DWORD MEM_COMMIT = 0x00001000u;
inline constexpr DWORD MEM_RESERVE = 0x00002000u;
inline constexpr DWORD MEM_RELEASE = 0x00008000u;
inline constexpr DWORD PAGE_READWRITE = 0x04u;

inline constexpr int MAX_PATH = 260;

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;  // the caller sets it to the record's size, 148
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;  // VER_PLATFORM_WIN32_WINDOWS or VER_PLATFORM_WIN32_NT
    char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

// The register record of the BIOS call interface. reg_EBX carries a 32-bit buffer handle
// (platform::ScopedBufferHandle), since a pointer does not fit on a 64-bit build; on a 32-bit
// build the handle is the buffer's address, as the system's own service expects.
struct DIOC_REGISTERS {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;  // bit 0: carry, set by the BIOS on error
};
static_assert(sizeof(DIOC_REGISTERS) == 28);

// Reports the running system (platform::systemVersion: on Linux the NT family) unless
// QUENVOL_PLATFORM_ID holds another platform id (0, 1 or 2); 1 selects the Windows 95/98
// family and with it the BIOS back-end. Fails unless dwOSVersionInfoSize is 148.
BOOL GetVersionExA(OSVERSIONINFOA* lpVersionInformation);

// Opens one of the two diskette devices: "\\.\a:" (the raw volume of drive A:) or
// "\\.\vwin32" (the BIOS diskette service). Other names give INVALID_HANDLE_VALUE; files go
// through platform::HostFile.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);
// Fails for a handle that is not open.
BOOL CloseHandle(HANDLE hObject);

// Zero-filled, page-aligned blocks. Only fresh blocks (lpAddress null, MEM_COMMIT,
// PAGE_READWRITE); VirtualFree takes MEM_RELEASE with size 0.
LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);

// Files under Windows names (win_path.h). A destination "a:\name" is written into the root
// folder of the diskette's FAT12 volume.
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL PathFileExistsA(LPCSTR pszPath);
// Both return the length without the terminator, or the size needed (terminator included)
// when the buffer is too small, or 0 on failure.
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);

namespace platform {

// What made the last failing call above fail, in words; empty after a success.
const std::string& lastErrorMessage();
// Its kind, for code that decides on it (write protection, permission...); Other after a
// success or a failure of no particular kind.
base::Failure lastErrorKind();
void setLastErrorMessage(std::string message);
void setLastError(base::Failure kind, std::string message);

// Makes a caller's buffer reachable through a 32-bit handle for as long as this object
// lives; the BIOS emulation resolves reg_EBX through it and refuses anything else. Blocks from
// VirtualAlloc are not registered by themselves: whoever fills the register record registers
// the buffer for that one call, so a handle never outlives what it names.
class ScopedBufferHandle {
  public:
    ScopedBufferHandle(void* buffer, std::size_t size);
    ~ScopedBufferHandle();
    ScopedBufferHandle(const ScopedBufferHandle&) = delete;
    ScopedBufferHandle& operator=(const ScopedBufferHandle&) = delete;
    DWORD handle() const { return m_handle; }

  private:
    DWORD m_handle;
};

struct BufferView {
    void* data = nullptr;
    std::size_t size = 0;
};
// The buffer behind a live handle; size 0 for an unknown handle.
BufferView resolveBufferHandle(DWORD handle);

}  // namespace platform
