#include "history/DirDlg.h"

#include <cstring>

#include "app/CrisisDlg.h"

CDirDlg::CDirDlg(BOOL bOpenFileDialog, const char* lpszDefExt, const char* lpszFileName,
                 DWORD dwFlags, const char* lpszFilter, CWnd* pParentWnd)
    : CFileDialog(bOpenFileDialog, lpszDefExt, lpszFileName, dwFlags, lpszFilter, pParentWnd) {
    // The old-style dialog: its template replaces the standard layout instead of adding to it.
    m_ofn.Flags |= OFN_ENABLETEMPLATE;
    m_ofn.Flags &= ~OFN_EXPLORER;
    m_ofn.lpTemplateName = res::kIddChooseDirectory;
}

CDirDlg::~CDirDlg() = default;

BOOL CDirDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CenterWindow();
    // The chooser accepts OK only with a file name; this one is hidden and never changes.
    SetDlgItemText(edt1, kChooserDummyName);
    return TRUE;
}

CString FolderOfChosenFile(const OPENFILENAME& ofn) {
    if (ofn.lpstrFile == nullptr || ofn.nFileOffset < 2) return {};
    const std::size_t length = strnlen(ofn.lpstrFile, ofn.nMaxFile);
    if (ofn.nFileOffset > length) return {};
    return CString(ofn.lpstrFile, ofn.nFileOffset - 1);
}

void CCrisisDlg::OnButtonBrowse() {
    CDirDlg dlg(FALSE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, nullptr);
    // Every run starts at the root of drive C:, whatever was chosen before.
    dlg.m_ofn.lpstrInitialDir = "c:\\";
    if (dlg.DoModal() != IDOK) return;
    const CString folder = FolderOfChosenFile(dlg.m_ofn);
    if (folder.IsEmpty()) return;
    m_strProjectPath = folder;
    m_comboPath.SetWindowText(m_strProjectPath);
    AddPathToHistory();
    UpdateData(FALSE);
}
