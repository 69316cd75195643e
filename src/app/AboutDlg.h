// The About box: the program's name, version and copyright.
#pragma once

#include "framework/afxwin.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();
    void DoDataExchange(CDataExchange* pDX) override;
};
