#include "support/scripted_policy.h"

namespace console {

int ScriptedPolicy::answerMessageBox(const std::string&, const std::string&, UINT type) {
    if (!answers.empty()) {
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    ++unansweredQuestions;
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

void ScriptedPolicy::formatDrive(HWND owner, UINT drive) {
    if (onFormat) onFormat(owner, drive);
}

INT_PTR ScriptedPolicy::chooseFile(CFileDialog& dialog) {
    if (fileChoices.empty()) return IDCANCEL;
    auto choice = std::move(fileChoices.front());
    fileChoices.pop_front();
    return choice(dialog);
}

void ScriptedPolicy::runDialog(CDialog& dialog) {
    if (dialogScripts.empty()) return;
    auto script = std::move(dialogScripts.front());
    dialogScripts.pop_front();
    script(dialog);
}

}  // namespace console
