// Staging the BIOS files into the start directory and copying the diskette's file list into
// the root folder of drive A:, with the status line and progress bar following along.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/CrisisDlg.h"
#include "build/image_candidates.h"
#include "platform/drive_a_copies.h"

namespace {

constexpr std::array<const char*, 4> kZyplet16List = {"minidos.sys", "zyplet16.exe", "vgabios.exe",
                                                      "bios.qvx"};
constexpr std::array<const char*, 5> kZypletList = {"minidos.sys", "zyplet.exe", "platform.bin",
                                                    "vgabios.exe", "bios.rom"};

constexpr std::array<const char*, 1> kZyplet16Deletions = {"bios.qvx"};
constexpr std::array<const char*, 3> kZypletDeletions = {"platform.bin", "vgabios.exe", "bios.rom"};

constexpr std::uint32_t kProgressSpan = 50;  // the bar's range

// The staging copies one build made, by destination, so that a failed build can take back
// exactly those and nothing the user placed in the start directory.
class StagedFiles {
  public:
    void Stage(const CString& source, const char* destination) {
        if (source.IsEmpty()) return;
        if (CopyFileA(source, destination, FALSE)) Remember(destination);
    }
    void DeleteAll() {
        for (const std::string& name : m_names) DeleteFileA(name.c_str());
        m_names.clear();
    }
    // Deletes those of `names` that this build staged; a file of that name that the user
    // keeps in the start directory (used because the project had none) stays.
    void DeleteStagedAmong(std::span<const char* const> names) {
        for (const char* name : names)
            for (const std::string& known : m_names)
                if (known == name) DeleteFileA(name);
    }

  private:
    void Remember(const std::string& name) {
        for (const std::string& known : m_names)
            if (known == name) return;
        m_names.push_back(name);
    }
    std::vector<std::string> m_names;
};

CString CopyFailedMessage(const char* name) {
    return CString(" Failed to copy ") + name +
           " file.\n\n  - Make sure Diskette format completed. \n  - Check if file exists. \n\n "
           "When ready, try again.\n";
}

}  // namespace

int CCrisisDlg::CopyFilesToDisk() {
    const bool zyplet16 = PathFileExistsA("ZYPLET16.EXE") != FALSE;
    const std::span<const char* const> files = zyplet16
                                                   ? std::span<const char* const>(kZyplet16List)
                                                   : std::span<const char* const>(kZypletList);

    StagedFiles staged;
    if (!m_bFilesInStartDir) {
        staged.Stage(m_strProjectPath + "\\vgabios.exe", "vgabios.exe");
        if (zyplet16) {
            staged.Stage(m_strProjectPath + "\\flashabl.rom", "bios.qvx");
        } else {
            staged.Stage(m_strProjectPath + "\\platform.bin", "platform.bin");
            // Each image found overwrites the one before: the test image wins, then the
            // development image, then the first candidate.
            staged.Stage(build::FirstImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom");
            staged.Stage(build::DevelImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom");
            staged.Stage(build::TestImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom");
        }
    }

    std::vector<std::uint32_t> lengths;
    std::uint32_t total = 0;
    for (const char* name : files) {
        lengths.push_back(GetFileLength(name));
        total += lengths.back();
    }

    BeginWaitCursor();
    m_progress.SetPos(m_nProgressPos);

    // The copies go onto the diskette as one batch: all their data first, then their entries,
    // so that no crash leaves a file named with contents that are not its own. A failed copy
    // puts the ones before it on the diskette.
    platform::DriveACopies copies;
    std::size_t firstInBatch = 0;
    auto failed = [&](const char* name) {
        // Staged images left behind would be taken as the start directory's own by the
        // next build, which would then copy them without asking which project they are.
        staged.DeleteAll();
        AfxMessageBox(CopyFailedMessage(name), MB_OK);
        EndWaitCursor();
        ResetStatus();
        return 0;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CString name = files[i];
        SetStatusText("Copying " + name + "...");
        // Nothing to share out when no file has a length; the bar then stays where it is.
        if (total != 0) {
            const std::uint32_t step = (lengths[i] * kProgressSpan) / total;
            m_nProgressPos = static_cast<int>(static_cast<std::uint32_t>(m_nProgressPos) + step);
        }
        m_progress.SetPos(m_nProgressPos);

        if (!CopyFileA(name, "a:\\" + name, FALSE)) {
            if (!(name == "vgabios.exe")) return failed(files[i]);
            firstInBatch = i + 1;
        }
    }
    // The batch reaches the medium here; when it cannot, none of its files is on the diskette.
    if (!copies.finish()) return failed(files[std::min(firstInBatch, files.size() - 1)]);

    if (!m_bFilesInStartDir) {
        const std::span<const char* const> deletions =
            zyplet16 ? std::span<const char* const>(kZyplet16Deletions)
                     : std::span<const char* const>(kZypletDeletions);
        staged.DeleteStagedAmong(deletions);
    }

    EndWaitCursor();
    ResetStatus();
    return 1;
}
