// Whether the BIOS files for a diskette are at hand: in the start directory, or in a project
// folder whose part-number file names the BIOS image.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "build/image_candidates.h"
#include "build/part_number.h"
#include "framework/afxfile.h"

namespace {

constexpr UINT kReadChunk = 4096;

}  // namespace

int CCrisisDlg::CheckProject() {
    SetCurrentDirectoryA(m_szStartDir);

    // The flash utility decides the list, and with it which BIOS files the diskette needs: the
    // start directory's own count only when they are what that list takes.
    const build::FileList list = build::KitFileList();
    m_biosChoice = build::ChooseBiosFiles(list, build::BiosOrigin::StartDir);
    if (m_biosChoice.complete()) {
        m_bFilesInStartDir = TRUE;
        return 1;
    }

    const BOOL enable = m_bFilesInStartDir ? FALSE : TRUE;
    m_btnBrowse.EnableWindow(enable);
    m_comboPath.EnableWindow(enable);

    AddPathToHistory();
    if (!CheckProjectFiles()) return 0;

    const std::string question = texts::confirmProject(m_strProjectPath.str());
    // What the choice of the BIOS image passed over, and why, for the user to see before Yes.
    std::string passed;
    for (const std::string& line : m_biosChoice.passedOver)
        passed += (passed.empty() ? "Passed over: " : "\nPassed over: ") + line;
    if (AfxMessageBoxDetails(question.c_str(), MB_YESNO | MB_ICONQUESTION, passed) == IDNO) {
        SetOutcome(build::Outcome::Kind::Declined, m_strProjectPath.str());
        return 0;
    }
    return 1;
}

int CCrisisDlg::CheckProjectFiles() {
    std::string why;
    // With no path, every project name would begin with a backslash and be looked up at the
    // root of the drive, whose files are no project's.
    if (m_strProjectPath.str().find_first_not_of(" \t") == std::string::npos) {
        m_biosChoice = {};
        why = "no project path was given, and no project folder was used before";
    } else if (ReadPartNumber()) {
        m_biosChoice = build::ChooseBiosFiles(m_biosChoice.list, build::BiosOrigin::Project,
                                              m_strProjectPath, m_strPartNum);
        if (m_biosChoice.complete()) return 1;
        why = m_biosChoice.missing;
    } else {
        m_biosChoice = {};
        CFile file;
        if (!m_strPartNumProblem.empty())
            why = m_strPartNumProblem;
        else
            why = file.Open(m_strProjectPath + "\\partnum.mak", CFile::modeRead)
                      ? std::string("partnum.mak holds no \"PARTNUM = \" key")
                      : "partnum.mak cannot be opened: " + file.LastError();
    }

    SetOutcome(build::Outcome::Kind::ProjectRefused, m_strProjectPath.str(),
               m_strProjectPath.IsEmpty()
                   ? why
                   : "the project folder " + m_strProjectPath.str() + ": " + why);
    ShowOutcome(texts::kProjectRefused, MB_OK);
    if (CWnd* combo = GetDlgItem(IDC_COMBO_PATH)) combo->SetFocus();
    return 0;
}

// The text is the file's bytes up to the first NUL; the part number is what follows the first
// "PARTNUM = " in it, at most three characters, the key standing anywhere, also mid-line. The
// file is read in chunks to the end of its text, so that a huge or hostile file costs no more
// than one chunk of memory, and every further occurrence of the key is compared with the first:
// a commented-out or renamed key ("# was: PARTNUM = Q7B", "OLD_PARTNUM = Q7B") naming another
// board, or a longer part number ("PARTNUM = Q7AB") cut to three characters, would otherwise
// put another board's image on the diskette. Such a file is refused, its lines quoted in
// m_strPartNumProblem.
//
// A file without the key is treated as unreadable: it names no part number, and an empty or
// made-up one would let the "??" candidate match an unrelated image, so the folder is refused
// and the part number keeps its previous value.
int CCrisisDlg::ReadPartNumber() {
    m_strPartNumProblem.clear();
    CFile file;
    if (!file.Open(m_strProjectPath + "\\partnum.mak", CFile::modeRead)) return 0;

    build::PartNumberScan scan;
    std::string chunk(kReadChunk, '\0');
    for (;;) {
        const UINT got = file.Read(chunk.data(), kReadChunk);
        if (got == 0 || !scan.feed(std::string_view(chunk.data(), got))) break;
    }
    file.Close();
    scan.end();

    if (!scan.found()) return 0;
    if (const std::string problem = scan.problem(); !problem.empty()) {
        m_strPartNumProblem = problem;
        return 0;
    }
    m_strPartNum = scan.number();
    return 1;
}

DWORD CCrisisDlg::GetFileLength(CString strFileName) {
    CFile file;
    if (!file.Open(strFileName, CFile::modeRead | CFile::typeBinary)) return 0;
    const DWORD length = static_cast<DWORD>(file.GetLength() & 0xFFFFFFFFu);
    file.Close();
    return length;
}
