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
#include "framework/afxfile.h"

namespace {

constexpr char kPartNumberKey[] = "PARTNUM = ";
constexpr std::size_t kPartNumberKeyLength = sizeof kPartNumberKey - 1;
constexpr std::size_t kPartNumberLength = 3;
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
    if (AfxMessageBox(question.c_str(), MB_YESNO | MB_ICONQUESTION) == IDNO) {
        SetOutcome(build::Outcome::Kind::Declined, m_strProjectPath.str());
        return 0;
    }
    return 1;
}

int CCrisisDlg::CheckProjectFiles() {
    std::string why;
    if (ReadPartNumber()) {
        m_biosChoice = build::ChooseBiosFiles(m_biosChoice.list, build::BiosOrigin::Project,
                                              m_strProjectPath, m_strPartNum);
        if (m_biosChoice.complete()) return 1;
        why = m_biosChoice.missing;
    } else {
        m_biosChoice = {};
        CFile file;
        why = file.Open(m_strProjectPath + "\\partnum.mak", CFile::modeRead)
                  ? std::string("partnum.mak holds no \"PARTNUM = \" key")
                  : "partnum.mak cannot be opened: " + file.LastError();
    }

    SetOutcome(build::Outcome::Kind::ProjectRefused, m_strProjectPath.str(),
               "the project folder " + m_strProjectPath.str() + ": " + why);
    ShowOutcome(texts::kProjectRefused, MB_OK);
    if (CWnd* combo = GetDlgItem(IDC_COMBO_PATH)) combo->SetFocus();
    return 0;
}

// The text is the file's bytes up to the first NUL; the part number is what follows the first
// "PARTNUM = " in it, at most three characters. The file is read in chunks and only until the
// number is complete, so a huge or hostile file costs no more than one chunk of memory.
//
// A file without the key is treated as unreadable: it names no part number, and an empty or
// made-up one would let the "??" candidate match an unrelated image, so the folder is refused
// and the part number keeps its previous value.
int CCrisisDlg::ReadPartNumber() {
    CFile file;
    if (!file.Open(m_strProjectPath + "\\partnum.mak", CFile::modeRead)) return 0;

    std::string carry;  // the text's last bytes, in case the key straddles two chunks
    std::string number;
    bool found = false;
    bool textEnded = false;
    std::string chunk(kReadChunk, '\0');
    while (!textEnded && !(found && number.size() == kPartNumberLength)) {
        const UINT got = file.Read(chunk.data(), kReadChunk);
        if (got == 0) break;
        std::string_view piece(chunk.data(), got);
        if (const std::size_t nul = piece.find('\0'); nul != std::string_view::npos) {
            piece = piece.substr(0, nul);
            textEnded = true;
        }
        if (found) {
            number.append(piece.substr(0, kPartNumberLength - number.size()));
            continue;
        }
        std::string text = carry;
        text.append(piece);
        const std::size_t key = text.find(kPartNumberKey);
        if (key != std::string::npos) {
            found = true;
            number =
                text.substr(std::min(text.size(), key + kPartNumberKeyLength), kPartNumberLength);
        } else {
            const std::size_t keep = std::min(text.size(), kPartNumberKeyLength - 1);
            carry = text.substr(text.size() - keep);
        }
    }
    file.Close();

    if (!found) return 0;
    m_strPartNum = number;
    return 1;
}

DWORD CCrisisDlg::GetFileLength(CString strFileName) {
    CFile file;
    if (!file.Open(strFileName, CFile::modeRead | CFile::typeBinary)) return 0;
    const DWORD length = static_cast<DWORD>(file.GetLength() & 0xFFFFFFFFu);
    file.Close();
    return length;
}
