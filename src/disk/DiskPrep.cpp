// The diskette as a whole: the presence check, formatting through the shell's format
// dialog, and the boot-sector update.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "build/build_record.h"
#include "disk/FloppyAccess.h"
#include "fat/fat12.h"
#include "framework/afxfile.h"
#include "framework/shell.h"
#include "platform/drive_a.h"
#include "platform/drive_a_transaction.h"
#include "platform/drive_format.h"
#include "platform/win_path.h"

namespace {

constexpr int kReadAttempts = 3;

// A fresh, zero-filled sector buffer for one operation.
class SectorBuffer {
  public:
    SectorBuffer() : m_block(VirtualAlloc(nullptr, fat::kSectorSize, MEM_COMMIT, PAGE_READWRITE)) {}
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

// crisboot.bin in the current directory. Anything shorter is no boot sector, so it is refused
// here rather than padded with zeros.
bool CCrisisDlg::ReadBootImage(std::vector<std::uint8_t>& image, std::string& why) {
    CFile file;
    if (!file.Open("crisboot.bin", CFile::modeRead | CFile::typeBinary)) {
        why = "crisboot.bin cannot be opened: " + file.LastError();
        return false;
    }
    image.assign(fat::kSectorSize, 0);
    UINT total = 0;
    while (total < fat::kSectorSize) {
        const UINT n = file.Read(image.data() + total, static_cast<UINT>(fat::kSectorSize) - total);
        if (n == 0) break;
        total += n;
    }
    // A longer file is not a boot sector (a whole diskette's image, say), whose first sector
    // would be taken for one.
    char more = 0;
    const bool longer = total == fat::kSectorSize && file.Read(&more, 1) == 1;
    const std::string error = file.LastError();
    file.Close();
    if (!error.empty()) {
        why = "crisboot.bin cannot be read: " + error;
        return false;
    }
    if (longer) {
        why = "crisboot.bin holds more than " + std::to_string(fat::kSectorSize) +
              " bytes; a boot sector is " + std::to_string(fat::kSectorSize);
        return false;
    }
    if (total < fat::kSectorSize) {
        why = "crisboot.bin holds " + platform::groupThousands(total) +
              " bytes; a boot sector is " + std::to_string(fat::kSectorSize);
        return false;
    }
    return true;
}

BOOL CCrisisDlg::CheckFloppy() {
    CFloppyAccess floppy;
    SectorBuffer buffer;
    if (buffer.get()) {
        for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
            if (!floppy.ReadSector(0, buffer.get())) continue;
            // What drive A: is, known before anything is written, so that the record still
            // says so if the diskette or the drive is gone by the end.
            build::noteDriveA(m_record);
            return CheckWritable();
        }
    }
    buffer.release();
    // A drive that is there but closed to this user is no empty drive: say what is true.
    if (auto denied = platform::driveAAccessDenied()) {
        SetOutcome(build::Outcome::Kind::NoAccess, denied->path, denied->detail,
                   base::Failure::PermissionDenied);
        AfxMessageBox(texts::noAccess(denied->path, denied->wayOut).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }
    SetOutcome(build::Outcome::Kind::NoDiskette, {}, {}, base::Failure::NoMedium);
    AfxMessageBox(texts::kNoFloppy, MB_OK | MB_ICONHAND);
    return FALSE;
}

BOOL CCrisisDlg::CheckWritable() {
    // A write-protected diskette is said to be one before the format is offered: formatting
    // and copying could only fail on it. Some drives tell only when they are opened for
    // writing (the floppy controller's driver reports a protected diskette as writable).
    platform::DriveOpenOptions writing;
    writing.access = platform::DriveAccess::Write;
    auto opened = platform::DriveA::open(writing);
    if (opened || opened.kind() != base::Failure::WriteProtected) return TRUE;
    SetOutcome(build::Outcome::Kind::NoAccess, {}, opened.message(), base::Failure::WriteProtected);
    AfxMessageBox(shell::driveRefusalSentence(base::Failure::WriteProtected).c_str(),
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

BOOL CCrisisDlg::CheckBootImage() {
    SetCurrentDirectoryA(m_szStartDir);
    std::vector<std::uint8_t> image;
    std::string why;
    if (ReadBootImage(image, why)) {
        // The layout the formatter gives a medium of this size is what the volume will have.
        auto medium = platform::probeDriveA();
        if (!medium) {
            why = shell::driveRefusalLine(medium.error());
        } else if (base::Status fits = fat::checkBootImage(image, medium->geometry); !fits) {
            why = "crisboot.bin does not fit the " + medium->description +
                  " diskette in drive A:: " + fits.message();
        } else {
            return TRUE;
        }
    }
    // Nothing has been written: the fault is the kit's file, not the diskette's.
    SetOutcome(build::Outcome::Kind::BootSectorFailed, "crisboot.bin", why);
    auto startDir = platform::mapWindowsName(m_szStartDir);
    AfxMessageBox(
        texts::bootImageUnusable(startDir ? startDir->hostPath : m_szStartDir, why).c_str(),
        MB_OK | MB_ICONHAND);
    return FALSE;
}

BOOL CCrisisDlg::UpdateBootSector() {
    CFloppyAccess floppy;
    BOOL result = FALSE;
    BeginWaitCursor();
    SetStatusText(texts::kUpdatingBootSector);
    AfxBackend().workProgress({"boot-sector", "crisboot.bin", 0, 1, "sectors"});

    // Sector 0 is written only from a whole image that describes the volume now on the
    // diskette (which may not be the one the format would have made: it can have been left
    // unformatted); anything else leaves the diskette's own boot sector in place.
    std::vector<std::uint8_t> image;
    std::string why;
    if (ReadBootImage(image, why)) {
        SectorBuffer buffer;
        auto* bytes = static_cast<std::uint8_t*>(buffer.get());
        if (bytes == nullptr || !floppy.ReadSector(0, bytes)) {
            why = "sector 0 of drive A: cannot be read";
        } else {
            const std::span<const std::uint8_t> current(bytes, fat::kSectorSize);
            // The volume was mounted for the copy, which checked it against the medium's size.
            auto layout =
                fat::readBootSectorLayout(current, std::numeric_limits<std::uint32_t>::max());
            base::Status fits = layout ? fat::checkBootImage(image, *layout) : layout.status();
            if (!fits) {
                why = "crisboot.bin does not fit the volume on the diskette: " + fits.message();
            } else {
                const std::vector<std::uint8_t> sector = fat::withVolumeIdentity(image, current);
                std::copy(sector.begin(), sector.end(), bytes);
                // The boot sector is the build's last write, and the raw volume does not report
                // whether it reached the medium: the diskette is built only once it has.
                if (!floppy.WriteSector(0, bytes)) {
                    why = "sector 0 of drive A: could not be written";
                } else if (base::Status flushed = platform::flushDriveA(); !flushed) {
                    why = "sector 0 of drive A: " + flushed.message();
                } else {
                    m_written.bootSector = sector;
                    AfxBackend().workProgress({"boot-sector", "crisboot.bin", 1, 1, "sectors"});
                    result = TRUE;
                }
            }
        }
    }
    if (!result) SetOutcome(build::Outcome::Kind::BootSectorFailed, "crisboot.bin", why);

    EndWaitCursor();
    ResetStatus();
    return result;
}
