#include "framework/afxdlgs.h"

#include <algorithm>

#include "framework/input.h"

CFileDialog::CFileDialog(BOOL openFileDialog, const char* defExt, const char* fileName, DWORD flags,
                         const char* filter, CWnd* parentWnd)
    : CDialog(0, parentWnd), m_bOpenFileDialog(openFileDialog) {
    m_ofn.Flags = flags | OFN_ENABLEHOOK | OFN_ENABLESIZING | OFN_EXPLORER;
    m_ofn.lpstrDefExt = defExt;
    m_ofn.lpstrFilter = filter;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = MAX_PATH;
    if (fileName) m_initialName = fileName;
}

INT_PTR CFileDialog::DoModal() {
    m_szFileName[0] = '\0';
    m_ofn.nFileOffset = 0;
    // A custom template's controls exist for the hook (OnInitDialog) to fill before the
    // chooser is shown; the chooser then reads its file-name field from them.
    const bool custom = (m_ofn.Flags & OFN_ENABLETEMPLATE) != 0;
    if (custom) {
        SetTemplateId(m_ofn.lpTemplateName);
        BeginWindows();
    }
    const INT_PTR result = AfxBackend().runFileDialog(*this);
    if (custom) FinishWindows();
    return result;
}

std::string CFileDialog::FileNameField() const {
    constexpr int kFileNameField = 1152;  // edt1
    if (HWND field = m_hWnd ? afx::findControl(m_hWnd, kFileNameField) : nullptr)
        return field->text;
    return m_initialName;
}

BOOL CFileDialog::SetChosenFolder(const std::string& folder) {
    const std::string name = FileNameField();
    if (name.empty() || folder.empty()) return FALSE;
    std::string path = folder;
    if (path.back() != '/') path += '/';
    if (path == "/") path = "//";
    const std::size_t offset = path.size();
    path += name;
    if (path.size() + 1 > m_ofn.nMaxFile || offset > 0xFFFF) return FALSE;
    std::copy(path.begin(), path.end(), m_ofn.lpstrFile);
    m_ofn.lpstrFile[path.size()] = '\0';
    m_ofn.nFileOffset = static_cast<WORD>(offset);
    return TRUE;
}
