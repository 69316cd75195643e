// The common file dialog, run through the backend's chooser.
#pragma once

#include <string>

#include "framework/afxwin.h"

inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_ENABLEHOOK = 0x00000020;
inline constexpr DWORD OFN_ENABLETEMPLATE = 0x00000040;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;
inline constexpr DWORD OFN_ENABLESIZING = 0x00800000;

struct OPENFILENAME {
    DWORD Flags = 0;
    int lpTemplateName = 0;  // a dialog template of the program's own, by number
    const char* lpstrInitialDir = nullptr;
    char* lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    WORD nFileOffset = 0;
    const char* lpstrDefExt = nullptr;
    const char* lpstrFilter = nullptr;
};

class CFileDialog : public CDialog {
  public:
    CFileDialog(BOOL openFileDialog, const char* defExt = nullptr, const char* fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const char* filter = nullptr,
                CWnd* parentWnd = nullptr);

    // Shows the chooser; IDOK with the chosen path in m_ofn.lpstrFile, or IDCANCEL.
    INT_PTR DoModal() override;
    BOOL IsSaveDialog() const { return !m_bOpenFileDialog; }
    // What the file-name field holds: the name the chooser returns inside the chosen folder.
    std::string FileNameField() const;
    // What a chooser does on OK: the full path of the file-name field's name inside `folder`
    // goes to lpstrFile, with the name's index in nFileOffset. The root folder is written
    // "//", so that cutting the name off leaves "/". FALSE when the path does not fit.
    BOOL SetChosenFolder(const std::string& folder);

    OPENFILENAME m_ofn;

  private:
    BOOL m_bOpenFileDialog;
    char m_szFileName[MAX_PATH] = {};
    std::string m_initialName;
};
