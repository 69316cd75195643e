// Placeholder until the build sequence lands.
#include "app/CrisisDlg.h"

int CCrisisDlg::Build(BOOL) { return IDYES; }
int CCrisisDlg::CheckProject() { return 0; }
int CCrisisDlg::CheckProjectFiles() { return 0; }
int CCrisisDlg::ReadPartNumber() { return 0; }
DWORD CCrisisDlg::GetFileLength(CString) { return 0; }
int CCrisisDlg::CopyFilesToDisk() { return 0; }
