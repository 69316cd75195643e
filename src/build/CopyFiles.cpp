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
#include "build/messages.h"
#include "platform/drive_a_copies.h"
#include "platform/win_path.h"

namespace {

constexpr std::array<const char*, 4> kZyplet16List = {"minidos.sys", "zyplet16.exe", "vgabios.exe",
                                                      "bios.qvx"};
constexpr std::array<const char*, 5> kZypletList = {"minidos.sys", "zyplet.exe", "platform.bin",
                                                    "vgabios.exe", "bios.rom"};

constexpr std::array<const char*, 1> kZyplet16Deletions = {"bios.qvx"};
constexpr std::array<const char*, 3> kZypletDeletions = {"platform.bin", "vgabios.exe", "bios.rom"};

constexpr std::uint32_t kProgressSpan = 50;  // the bar's range

// The staging copies one build made, by destination, so that a failed build can take back
// exactly those and nothing the user placed in the start directory, and the file each was
// copied from, which the diskette is compared with in the end.
class StagedFiles {
  public:
    // False only for a copy that began and failed (a full or failing file system); a source
    // that is not there is passed over, as the start directory may hold the file itself.
    bool Stage(const CString& source, const char* destination) {
        if (source.IsEmpty() || !PathFileExistsA(source)) return true;
        if (!CopyFileA(source, destination, FALSE)) return false;
        Remember(destination, source);
        return true;
    }
    void DeleteAll() {
        for (const Copy& copy : m_copies) DeleteFileA(copy.name.c_str());
        m_copies.clear();
    }
    // Deletes those of `names` that this build staged; a file of that name that the user
    // keeps in the start directory (used because the project had none) stays.
    void DeleteStagedAmong(std::span<const char* const> names) {
        for (const char* name : names)
            for (const Copy& copy : m_copies)
                if (copy.name == name) DeleteFileA(name);
    }
    // The file `name` was staged from, or `name` itself in the start directory.
    std::string SourceOf(const char* name) const {
        for (const Copy& copy : m_copies)
            if (copy.name == name) return HostPath(copy.source);
        return HostPath(name);
    }

  private:
    struct Copy {
        std::string name;
        std::string source;
    };
    static std::string HostPath(const std::string& windowsName) {
        auto mapped = platform::mapWindowsName(windowsName);
        return mapped ? mapped->hostPath : windowsName;
    }
    void Remember(const std::string& name, const CString& source) {
        for (Copy& copy : m_copies) {
            if (copy.name == name) {
                copy.source = source.str();
                return;
            }
        }
        m_copies.push_back({name, source.str()});
    }
    std::vector<Copy> m_copies;
};

}  // namespace

int CCrisisDlg::CopyFilesToDisk() {
    const bool zyplet16 = PathFileExistsA("ZYPLET16.EXE") != FALSE;
    const std::span<const char* const> files = zyplet16
                                                   ? std::span<const char* const>(kZyplet16List)
                                                   : std::span<const char* const>(kZypletList);

    StagedFiles staged;
    if (!m_bFilesInStartDir) {
        struct Staging {
            CString source;
            const char* destination;
        };
        std::vector<Staging> staging{{m_strProjectPath + "\\vgabios.exe", "vgabios.exe"}};
        if (zyplet16) {
            staging.push_back({m_strProjectPath + "\\flashabl.rom", "bios.qvx"});
        } else {
            staging.push_back({m_strProjectPath + "\\platform.bin", "platform.bin"});
            // Each image found overwrites the one before: the test image wins, then the
            // development image, then the first candidate.
            staging.push_back(
                {build::FirstImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom"});
            staging.push_back(
                {build::DevelImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom"});
            staging.push_back(
                {build::TestImageCandidate(m_strProjectPath, m_strPartNum), "bios.rom"});
        }
        for (const Staging& copy : staging) {
            if (staged.Stage(copy.source, copy.destination)) continue;
            // A short copy would go onto the diskette as if it were the file: stop here, before
            // the first file is copied to the diskette.
            SetOutcome(build::Outcome::Kind::CopyFailed, copy.destination,
                       platform::lastErrorMessage(), platform::lastErrorKind());
            staged.DeleteAll();
            AfxMessageBox(build::CopyFailedMessage(copy.destination).c_str(), MB_OK);
            ResetStatus();
            return 0;
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
    auto failed = [&](const char* name, const std::string& why, fat::Failure kind) {
        SetOutcome(build::Outcome::Kind::CopyFailed, name, why, kind);
        // Staged images left behind would be taken as the start directory's own by the
        // next build, which would then copy them without asking which project they are.
        staged.DeleteAll();
        AfxMessageBox(build::CopyFailedMessage(name).c_str(), MB_OK);
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

        if (CopyFileA(name, "a:\\" + name, FALSE)) {
            m_written.files.push_back({name.str(), staged.SourceOf(files[i])});
            continue;
        }
        // Only a video BIOS program that is not there at all is passed over; a diskette that
        // failed a write is not trusted with the rest, whichever file it was.
        const std::string why = platform::lastErrorMessage();
        const fat::Failure kind = platform::lastErrorKind();
        if (!(name == "vgabios.exe") || PathFileExistsA(name)) return failed(files[i], why, kind);
        firstInBatch = i + 1;
    }
    // The batch reaches the medium here; when it cannot, none of its files is on the diskette.
    if (fat::Status done = copies.finish(); !done) {
        return failed(files[std::min(firstInBatch, files.size() - 1)], done.message(),
                      done.kind());
    }

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
