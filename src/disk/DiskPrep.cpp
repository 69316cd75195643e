// The diskette as a whole: the presence check, formatting through the shell's format
// dialog, and the boot-sector update.
#include "app/CrisisDlg.h"
#include "disk/FloppyAccess.h"
#include "framework/afxfile.h"
#include "framework/shell.h"
#include "platform/drive_a_copies.h"

namespace {

constexpr int kReadAttempts = 3;
constexpr SIZE_T kSectorBytes = 512;

// A fresh, zero-filled sector buffer for one operation.
class SectorBuffer {
public:
    SectorBuffer() : m_block(VirtualAlloc(nullptr, kSectorBytes, MEM_COMMIT, PAGE_READWRITE)) {}
    ~SectorBuffer() {
        if (m_block) VirtualFree(m_block, 0, MEM_RELEASE);
    }
    SectorBuffer(const SectorBuffer&) = delete;
    SectorBuffer& operator=(const SectorBuffer&) = delete;
    LPVOID get() const { return m_block; }
    // Released before a message is shown, as the operation is done with it.
    void release() {
        if (m_block) VirtualFree(m_block, 0, MEM_RELEASE);
        m_block = nullptr;
    }

private:
    LPVOID m_block;
};

}  // namespace

BOOL CCrisisDlg::CheckFloppy() {
    CFloppyAccess floppy;
    SectorBuffer buffer;
    if (buffer.get()) {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt)
            if (floppy.ReadSector(0, buffer.get())) return TRUE;
    }
    buffer.release();
    AfxMessageBox(" There is no floppy in drive A:, insert a floppy and press Start Button again.\t",
                  MB_OK | MB_ICONHAND);
    return FALSE;
}

void CCrisisDlg::FormatFloppy() {
    CWnd* main = AfxGetMainWnd();
    HWND owner = main ? main->m_hWnd : m_hWnd;
    HMODULE shell = LoadLibraryA("shell32.dll");
    if (shell) {
        auto format = reinterpret_cast<SHFormatDriveProc>(GetProcAddress(shell, "SHFormatDrive"));
        if (format) format(owner, 0, SHFMT_ID_DEFAULT, 0);
        FreeLibrary(shell);
    }
    RedrawWindow(nullptr, nullptr, RDW_UPDATENOW);
}

BOOL CCrisisDlg::UpdateBootSector() {
    CFloppyAccess floppy;
    BOOL result = TRUE;
    BeginWaitCursor();
    SetStatusText("Updating Boot Sector...");

    // Sector 0 is written only from a complete read of the image: a missing or unreadable
    // crisboot.bin leaves the diskette's own boot sector in place and reports failure.
    CFile file;
    if (file.Open("crisboot.bin", CFile::modeRead | CFile::typeBinary)) {
        SectorBuffer buffer;
        bool readOk = buffer.get() != nullptr;
        UINT total = 0;
        while (readOk && total < kSectorBytes) {
            const UINT n = file.Read(static_cast<BYTE*>(buffer.get()) + total,
                                     static_cast<UINT>(kSectorBytes) - total);
            if (n == 0) {
                readOk = file.LastError().empty();
                break;
            }
            total += n;
        }
        file.Close();
        if (!readOk || !floppy.WriteSector(0, buffer.get())) result = FALSE;
        // The boot sector is the build's last write, and the raw volume does not report
        // whether it reached the medium: the diskette is built only once it has.
        if (result && !platform::flushDriveA()) result = FALSE;
    } else {
        result = FALSE;
    }

    EndWaitCursor();
    ResetStatus();
    return result;
}
