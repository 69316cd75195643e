// The format dialog for drive A:, shown modally by the Qt backend for the shell's format call.
#pragma once

class QWidget;

namespace qtui {

// Shows the dialog over `owner` and returns when the user has closed it.
void runFormatDialog(QWidget* owner, unsigned drive);

}  // namespace qtui
