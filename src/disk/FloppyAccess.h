// One 512-byte sector of the diskette in drive A:, read or written below the file system,
// through the back-end the platform family calls for: the BIOS diskette service on the
// Windows 95/98 family, the raw volume on every other.
#pragma once

#include "platform/winapi.h"

class CFloppyAccess {
  public:
    CFloppyAccess();

    // Both return exactly 1 on success and 0 on failure, and report nothing else.
    BOOL ReadSector(int nSector, LPVOID pBuffer);
    BOOL WriteSector(int nSector, LPVOID pBuffer);

  private:
    BOOL ResetDrive9x();
    BOOL ReadSector9x(int nSector, LPVOID pBuffer);
    BOOL WriteSector9x(int nSector, LPVOID pBuffer);
    BOOL TransferSector9x(int nSector, LPVOID pBuffer, DWORD dwFunction);
    BOOL ReadSectorNT(int nSector, LPVOID pBuffer);
    BOOL WriteSectorNT(int nSector, LPVOID pBuffer);
    BOOL LockVolume(HANDLE hVolume);
    BOOL DismountVolume(HANDLE hVolume);
    BOOL UnlockVolume(HANDLE hVolume);

    BOOL m_bWinNT;
};
