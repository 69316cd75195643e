// The modal questions the framework asks through the backend: message boxes and the
// folder chooser that stands for the common Save As dialog.
#pragma once

#include <string>

#include "framework/afxdlgs.h"

class QWidget;

namespace qtui {

// A message box of the framework's type (buttons and icon); returns the pressed button's
// id. Closing a box without a Cancel button answers its No, or its OK. Non-empty `details`
// go into the box's details area, behind its "Show Details..." button.
int runMessageBox(QWidget* owner, const std::string& text, const std::string& caption, UINT type,
                  const std::string& details = {});

// Picks a folder for the dialog: on OK the dialog holds its file-name field's name inside
// that folder (SetChosenFolder). With OFN_OVERWRITEPROMPT an existing file of that name
// must be confirmed first; declining keeps the chooser open.
INT_PTR runFolderChooser(QWidget* owner, CFileDialog& dialog);

}  // namespace qtui
