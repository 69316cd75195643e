// Placeholder until the path history lands.
#include "app/CrisisDlg.h"

void CCrisisDlg::LoadHistory() {}
void CCrisisDlg::InitPathCombo() { m_strProjectPath = m_strCmdLine; }
void CCrisisDlg::FillPathCombo() {}
void CCrisisDlg::AddPathToHistory() {}
CString CCrisisDlg::ExtractToken(char, CString& strText, int) { return strText; }
void CCrisisDlg::OnButtonClose() { DestroyWindow(); }
void CCrisisDlg::OnButtonBrowse() {}
