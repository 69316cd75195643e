#include "app/AboutDlg.h"

#include "res/resources.h"

CAboutDlg::CAboutDlg() : CDialog(res::kIddAboutBox) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}
