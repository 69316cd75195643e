// The backend without windows: controls are plain state, and every modal moment (a message
// box, the format dialog, the folder chooser, a nested dialog) is answered by a policy.
// quenvol-cli and the tests use it.
#pragma once

#include <string>
#include <vector>

#include "framework/afxdlgs.h"
#include "framework/afxwin.h"

namespace console {

struct MessageRecord {
    std::string text;
    std::string caption;
    UINT type;            // as the program asked for it
    UINT icon;            // the icon shown (type 0 shows the exclamation icon)
    int answer;           // the button pressed
    std::string details;  // shown apart from the text; empty for none
};

struct HelpRecord {
    int controlId;  // 0 for none
    std::string topic;
    UINT command;  // HELP_WM_HELP (pop-up topic) or HELP_CONTEXTMENU (the help menu)
};

struct DrawRecord {
    int x, y;
    HICON icon;
};

// What the user does whenever the program waits for an answer.
class Policy {
  public:
    virtual ~Policy() = default;
    virtual int answerMessageBox(const std::string& text, const std::string& caption,
                                 UINT type) = 0;
    // The format dialog for the drive; returns when the user is done with it.
    virtual void formatDrive(HWND owner, UINT drive) = 0;
    // The folder chooser; IDOK after CFileDialog::SetChosenFolder, or IDCANCEL.
    virtual INT_PTR chooseFile(CFileDialog& dialog) = 0;
    // Drives a modal dialog; a dialog still open when this returns is cancelled.
    virtual void runDialog(CDialog& dialog) = 0;
    // Every change of a control's state, for a policy that shows progress.
    virtual void stateChanged(HWND, StateChange) {}
    // How far a long step of a build has got.
    virtual void workProgress(const WorkProgress&) {}
};

class ConsoleBackend : public Backend {
  public:
    explicit ConsoleBackend(Policy& policy) : m_policy(policy) {}

    void runModal(CDialog& dialog) override;
    void endModal(CDialog&) override {}
    void stateChanged(HWND hwnd, StateChange what) override { m_policy.stateChanged(hwnd, what); }
    int messageBox(HWND owner, const std::string& text, const std::string& caption,
                   UINT type) override;
    int messageBoxWithDetails(HWND owner, const std::string& text, const std::string& caption,
                              UINT type, const std::string& details) override;
    void setWaitCursor(bool on) override;
    void showHelp(HWND control, const std::string& topic, UINT command) override;
    void formatDrive(HWND owner, UINT drive) override;
    INT_PTR runFileDialog(CFileDialog& dialog) override;
    void updateNow(HWND) override { ++m_updates; }
    void drawIcon(HWND, int x, int y, HICON icon) override { m_draws.push_back({x, y, icon}); }
    void workProgress(const WorkProgress& work) override { m_policy.workProgress(work); }

    const std::vector<MessageRecord>& messages() const { return m_messages; }
    const std::vector<HelpRecord>& help() const { return m_help; }
    const std::vector<DrawRecord>& draws() const { return m_draws; }
    // Template ids of the modal dialogs run, in order.
    const std::vector<int>& dialogsRun() const { return m_dialogs; }
    int waitCursorDepth() const { return m_waitDepth; }
    int waitCursorShows() const { return m_waitShows; }
    int formatCalls() const { return m_formatCalls; }
    int updates() const { return m_updates; }
    void clearRecords();

  private:
    Policy& m_policy;
    std::vector<MessageRecord> m_messages;
    std::vector<HelpRecord> m_help;
    std::vector<DrawRecord> m_draws;
    std::vector<int> m_dialogs;
    int m_waitDepth = 0;
    int m_waitShows = 0;
    int m_formatCalls = 0;
    int m_updates = 0;
};

}  // namespace console
