// The backend with real windows: each modal dialog is a Qt window built from its template.
#pragma once

#include <string>
#include <vector>

#include "framework/backend.h"

class QWidget;

namespace qtui {

class DialogWindow;

class QtBackend : public Backend {
  public:
    QtBackend();
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

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

    // A help topic shown as a pop-up, or the help menu offered for a control.
    struct HelpShown {
        int controlId;  // 0 for none or the dialog itself
        std::string topic;
        UINT command;  // HELP_CONTEXTMENU when only the menu was offered
    };
    const std::vector<HelpShown>& helpShown() const { return m_help; }
    void clearHelpShown() { m_help.clear(); }

    // The window that owns new modal windows for `owner`: its dialog's window, else the
    // innermost open dialog, else none.
    QWidget* ownerWidget(HWND owner) const;

  private:
    void showTopic(QWidget* anchor, int controlId, const std::string& topic, UINT command);

    std::vector<DialogWindow*> m_windows;  // open dialogs, innermost last
    std::vector<HelpShown> m_help;
    int m_waitDepth = 0;
};

}  // namespace qtui
