#include "ui/console/console_backend.h"

#include "framework/input.h"

namespace console {

void ConsoleBackend::runModal(CDialog& dialog) {
    m_dialogs.push_back(dialog.TemplateId());
    dialog.RunInitDialog();
    if (!dialog.HasEnded()) m_policy.runDialog(dialog);
    if (!dialog.HasEnded()) dialog.EndDialog(IDCANCEL);
}

int ConsoleBackend::messageBox(HWND, const std::string& text, const std::string& caption,
                               UINT type) {
    const int answer = m_policy.answerMessageBox(text, caption, type);
    m_messages.push_back({text, caption, type, afx::messageBoxIcon(type), answer, {}});
    return answer;
}

int ConsoleBackend::messageBoxWithDetails(HWND owner, const std::string& text,
                                          const std::string& caption, UINT type,
                                          const std::string& details) {
    const int answer = messageBox(owner, text, caption, type);
    m_messages.back().details = details;
    return answer;
}

void ConsoleBackend::setWaitCursor(bool on) {
    if (on) {
        ++m_waitDepth;
        ++m_waitShows;
    } else if (m_waitDepth > 0) {
        --m_waitDepth;
    }
}

void ConsoleBackend::showHelp(HWND control, const std::string& topic, UINT command) {
    m_help.push_back({control && !control->isDialog ? control->id : 0, topic, command});
}

void ConsoleBackend::formatDrive(HWND owner, UINT drive) {
    ++m_formatCalls;
    m_policy.formatDrive(owner, drive);
}

INT_PTR ConsoleBackend::runFileDialog(CFileDialog& dialog) {
    return m_policy.chooseFile(dialog);
}

void ConsoleBackend::clearRecords() {
    m_messages.clear();
    m_help.clear();
    m_draws.clear();
    m_dialogs.clear();
    m_waitShows = 0;
    m_formatCalls = 0;
    m_updates = 0;
}

}  // namespace console
