// The project folder chooser: the Save As dialog on template 129, which shows only the
// folders and drives and keeps the dummy file name "Junk" in its hidden name field, so that
// OK returns a file path from which the folder is cut.
#pragma once

#include "framework/afxdlgs.h"
#include "res/resources.h"

class CDirDlg : public CFileDialog {
  public:
    explicit CDirDlg(BOOL bOpenFileDialog, const char* lpszDefExt = nullptr,
                     const char* lpszFileName = nullptr,
                     DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     const char* lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    ~CDirDlg() override;

    BOOL OnInitDialog() override;
};

// The folder of the file the chooser returned: lpstrFile up to the separator before the file
// name at nFileOffset, so never with a final separator. Empty when the record holds no file
// name after a folder (nFileOffset 0 or 1, or past the path's end).
CString FolderOfChosenFile(const OPENFILENAME& ofn);

// The chooser's hidden file-name field, by the id the platform's file dialog looks for.
inline constexpr int edt1 = 1152;
// The name the chooser always returns; no file of this name is ever made.
inline constexpr const char* kChooserDummyName = "Junk";
