// The format dialog of drive A:, made from its template (130) like the program's own dialogs
// and run through the backend's modal loop, so that every window system shows the same one;
// the format itself is platform/'s.
#pragma once

#include "framework/afxwin.h"

namespace shell {

// Shows the dialog for `drive` (0 is A:) over `owner` until the user closes it.
void runFormatDialog(HWND owner, UINT drive);

}  // namespace shell
