// The console backend's policy for tests: answers and actions queued by the test.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "ui/console/console_backend.h"

namespace console {

// A policy that tests script: queued answers and actions, each used once, in order.
class ScriptedPolicy : public Policy {
  public:
    std::deque<int> answers;  // message-box answers; when empty: IDNO for a question, else IDOK
    std::function<void(HWND, UINT)> onFormat;  // none: the diskette is left as it is
    std::deque<std::function<INT_PTR(CFileDialog&)>> fileChoices;  // when empty: Cancel
    std::deque<std::function<void(CDialog&)>> dialogScripts;       // when empty: Cancel
    int unansweredQuestions = 0;  // message boxes that found no queued answer

    int answerMessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void formatDrive(HWND owner, UINT drive) override;
    INT_PTR chooseFile(CFileDialog& dialog) override;
    void runDialog(CDialog& dialog) override;
};

}  // namespace console
