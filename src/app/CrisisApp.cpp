#include "app/CrisisApp.h"

#include "app/CrisisDlg.h"

CCrisisApp theApp;

// Constructed with no name: the executable's base name captions the message boxes.
CCrisisApp::CCrisisApp() : CWinApp(nullptr) {}

BOOL CCrisisApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControlsStatic();
    CCrisisDlg dlg;
    m_pMainWnd = &dlg;
    dlg.SetCmdLine(CString(m_lpCmdLine));
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
