#include "disk/FloppyAccess.h"

#include "fat/sector_device.h"

namespace {

const char kVwin32Device[] = "\\\\.\\vwin32";
const char kVolumeA[] = "\\\\.\\a:";
constexpr DWORD kSectorBytes = fat::kSectorSize;

// The 3.5-inch high-density layout the BIOS addresses.
constexpr int kSectorsPerTrack = 18;
constexpr int kHeads = 2;

constexpr DWORD kBiosReset = 0x0000;     // AH = 0x00
constexpr DWORD kBiosReadOne = 0x0201;   // AH = 0x02, AL = 1 sector
constexpr DWORD kBiosWriteOne = 0x0301;  // AH = 0x03, AL = 1 sector
constexpr DWORD kCarryFlag = 0x0001;

// Runs one BIOS call on a freshly opened service handle; 1 when it was carried out without
// the carry flag.
BOOL CallBios(DIOC_REGISTERS& regs) {
    HANDLE hDevice =
        CreateFileA(kVwin32Device, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    DWORD cbReturned = 0;
    BOOL bResult = DeviceIoControl(hDevice, VWIN32_DIOC_DOS_INT13, &regs, sizeof(regs), &regs,
                                   sizeof(regs), &cbReturned, nullptr);
    BOOL bOk = (bResult != 0 && (regs.reg_Flags & kCarryFlag) == 0) ? 1 : 0;
    if (hDevice != INVALID_HANDLE_VALUE) CloseHandle(hDevice);
    return bOk;
}

}  // namespace

CFloppyAccess::CFloppyAccess() {
    OSVERSIONINFOA osvi{};
    osvi.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    GetVersionExA(&osvi);
    m_bWinNT = osvi.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS ? 1 : 0;
}

BOOL CFloppyAccess::ReadSector(int nSector, LPVOID pBuffer) {
    BOOL bOk = m_bWinNT ? ReadSectorNT(nSector, pBuffer) : ReadSector9x(nSector, pBuffer);
    return bOk ? 1 : 0;
}

BOOL CFloppyAccess::WriteSector(int nSector, LPVOID pBuffer) {
    BOOL bOk = m_bWinNT ? WriteSectorNT(nSector, pBuffer) : WriteSector9x(nSector, pBuffer);
    return bOk ? 1 : 0;
}

BOOL CFloppyAccess::ResetDrive9x() {
    DIOC_REGISTERS regs{};
    regs.reg_EAX = kBiosReset;
    regs.reg_EDX = 0;  // DL = 0: drive A:
    return CallBios(regs);
}

BOOL CFloppyAccess::ReadSector9x(int nSector, LPVOID pBuffer) {
    return TransferSector9x(nSector, pBuffer, kBiosReadOne);
}

BOOL CFloppyAccess::WriteSector9x(int nSector, LPVOID pBuffer) {
    return TransferSector9x(nSector, pBuffer, kBiosWriteOne);
}

BOOL CFloppyAccess::TransferSector9x(int nSector, LPVOID pBuffer, DWORD dwFunction) {
    // The transfer is tried whatever the reset reports.
    ResetDrive9x();

    const DWORD sector = static_cast<DWORD>(nSector % kSectorsPerTrack + 1) & 0xFF;
    const DWORD head = static_cast<DWORD>(nSector / kSectorsPerTrack % kHeads) & 0xFF;
    const DWORD cylinder = static_cast<DWORD>(nSector / (kSectorsPerTrack * kHeads)) & 0xFF;

    // The register is 32 bits wide, so the buffer travels as a handle the service resolves.
    platform::ScopedBufferHandle buffer(pBuffer, kSectorBytes);
    DIOC_REGISTERS regs{};
    regs.reg_EAX = dwFunction;
    regs.reg_EBX = buffer.handle();
    regs.reg_ECX = cylinder * 256 + sector;
    regs.reg_EDX = head * 256;  // DL = 0: drive A:
    return CallBios(regs);
}

BOOL CFloppyAccess::ReadSectorNT(int /*nSector*/, LPVOID pBuffer) {
    HANDLE hVolume =
        CreateFileA(kVolumeA, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    // A refused lock, dismount or unlock does not decide the result; the transfer does.
    LockVolume(hVolume);
    DWORD dwRead = 0;
    BOOL bResult = ReadFile(hVolume, pBuffer, kSectorBytes, &dwRead, nullptr);
    DismountVolume(hVolume);
    UnlockVolume(hVolume);
    if (hVolume != INVALID_HANDLE_VALUE) CloseHandle(hVolume);
    return (bResult != 0 && dwRead != 0) ? 1 : 0;
}

BOOL CFloppyAccess::WriteSectorNT(int /*nSector*/, LPVOID pBuffer) {
    HANDLE hVolume =
        CreateFileA(kVolumeA, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    LockVolume(hVolume);
    DWORD dwWritten = 0;
    BOOL bResult = WriteFile(hVolume, pBuffer, kSectorBytes, &dwWritten, nullptr);
    DismountVolume(hVolume);
    UnlockVolume(hVolume);
    if (hVolume != INVALID_HANDLE_VALUE) CloseHandle(hVolume);
    return (bResult != 0 && dwWritten == kSectorBytes) ? 1 : 0;
}

BOOL CFloppyAccess::LockVolume(HANDLE hVolume) {
    DWORD dwReturned = 0;
    return DeviceIoControl(hVolume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned,
                           nullptr);
}

BOOL CFloppyAccess::DismountVolume(HANDLE hVolume) {
    DWORD dwReturned = 0;
    return DeviceIoControl(hVolume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &dwReturned,
                           nullptr);
}

BOOL CFloppyAccess::UnlockVolume(HANDLE hVolume) {
    DWORD dwReturned = 0;
    return DeviceIoControl(hVolume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &dwReturned,
                           nullptr);
}
