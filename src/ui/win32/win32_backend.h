// The backend with the system's own windows: each modal dialog is a real dialog window built
// from its template by the system's dialog manager.
#pragma once

#include <string>

#include "framework/backend.h"

namespace win32ui {

class Win32Backend : public Backend {
  public:
    Win32Backend() = default;
    ~Win32Backend() override;
    Win32Backend(const Win32Backend&) = delete;
    Win32Backend& operator=(const Win32Backend&) = delete;

    void runModal(CDialog& dialog) override;
    void endModal(CDialog& dialog) override;
    void stateChanged(HWND hwnd, StateChange what) override;
    int messageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
    int messageBoxWithDetails(HWND owner, const std::string& text, const std::string& caption,
                              UINT type, const std::string& details) override;
    void setWaitCursor(bool on) override;
    void showHelp(HWND control, const std::string& topic, UINT command) override;
    void formatDrive(HWND owner, UINT drive) override;
    INT_PTR runFileDialog(CFileDialog& dialog) override;
    void updateNow(HWND hwnd) override;
    void drawIcon(HWND hwnd, int x, int y, HICON icon) override;

    // The system window showing a dialog or control, or nullptr (for tests and hooks).
    static void* windowOf(HWND hwnd);

  private:
    int m_waitDepth = 0;
};

}  // namespace win32ui
