// The format dialog of drive A:, made from its template (130) like the program's own dialogs
// and run through the backend's modal loop; the format itself is platform/'s.
#pragma once

#include "framework/afxwin.h"

namespace win32ui {

// Shows the dialog for `drive` (0 is A:) until the user closes it.
void runFormatDialog(CWnd* owner, UINT drive);

}  // namespace win32ui
