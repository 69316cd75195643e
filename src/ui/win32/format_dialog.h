// The format dialog as this backend shows it: the framework's own, built from template 130.
#pragma once

#include "framework/format_dialog.h"

namespace win32ui {

using shell::runFormatDialog;

}  // namespace win32ui
