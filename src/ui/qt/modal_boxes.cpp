#include "ui/qt/modal_boxes.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "framework/input.h"
#include "platform/win_path.h"

namespace qtui {
namespace {

constexpr UINT kAbortRetryIgnore = 0x02;
constexpr UINT kYesNoCancel = 0x03;
constexpr UINT kRetryCancel = 0x05;
constexpr UINT kDefButton2 = 0x100;
constexpr UINT kDefButton3 = 0x200;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;

QMessageBox::Icon boxIcon(UINT icon) {
    switch (icon) {
        case MB_ICONHAND:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONASTERISK:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

struct ButtonSet {
    std::vector<QMessageBox::StandardButton> buttons;  // in the platform's order
    int closeAnswer;                                   // what closing the box answers
};

ButtonSet buttonsFor(UINT type) {
    using B = QMessageBox;
    switch (type & MB_TYPEMASK) {
        case MB_OKCANCEL:
            return {{B::Ok, B::Cancel}, IDCANCEL};
        case kAbortRetryIgnore:
            return {{B::Abort, B::Retry, B::Ignore}, kIdAbort};
        case kYesNoCancel:
            return {{B::Yes, B::No, B::Cancel}, IDCANCEL};
        case MB_YESNO:
            return {{B::Yes, B::No}, IDNO};
        case kRetryCancel:
            return {{B::Retry, B::Cancel}, IDCANCEL};
        default:
            return {{B::Ok}, IDOK};
    }
}

int answerOf(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return IDOK;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Abort:
            return kIdAbort;
        case QMessageBox::Retry:
            return kIdRetry;
        case QMessageBox::Ignore:
            return kIdIgnore;
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        default:
            return 0;
    }
}

// Where the chooser starts: the Linux meaning of the Windows folder, else the current one.
QString initialFolder(const char* windowsFolder) {
    if (windowsFolder && *windowsFolder) {
        const auto mapped = platform::mapWindowsName(windowsFolder);
        if (mapped.ok() && mapped->where == platform::WindowsName::Where::Host)
            return QString::fromStdString(mapped->hostPath);
    }
    return QDir::currentPath();
}

QString chooserTitle(const CFileDialog& dialog) {
    if (dialog.m_hWnd && !dialog.m_hWnd->text.empty())
        return QString::fromStdString(dialog.m_hWnd->text);
    return dialog.IsSaveDialog() ? QStringLiteral("Save As") : QStringLiteral("Open");
}

}  // namespace

int runMessageBox(QWidget* owner, const std::string& text, const std::string& caption, UINT type,
                  const std::string& details) {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
    box.setIcon(boxIcon(afx::messageBoxIcon(type)));
    const ButtonSet set = buttonsFor(type);
    for (const auto button : set.buttons) box.addButton(button);
    std::size_t defaultIndex = 0;
    if (type & kDefButton2) defaultIndex = 1;
    if (type & kDefButton3) defaultIndex = 2;
    if (defaultIndex >= set.buttons.size()) defaultIndex = 0;
    box.setDefaultButton(set.buttons[defaultIndex]);
    box.exec();
    const int answer = answerOf(box.standardButton(box.clickedButton()));
    return answer != 0 ? answer : set.closeAnswer;
}

INT_PTR runFolderChooser(QWidget* owner, CFileDialog& dialog) {
    QFileDialog chooser(owner, chooserTitle(dialog), initialFolder(dialog.m_ofn.lpstrInitialDir));
    chooser.setObjectName(QStringLiteral("folderChooser"));
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    const std::string name = dialog.FileNameField();
    for (;;) {
        if (chooser.exec() != QDialog::Accepted) return IDCANCEL;
        const QStringList chosen = chooser.selectedFiles();
        if (chosen.isEmpty()) return IDCANCEL;
        const std::string folder = chosen.front().toStdString();
        if ((dialog.m_ofn.Flags & OFN_OVERWRITEPROMPT) && !name.empty() &&
            !platform::findIgnoringCase(folder, name).empty()) {
            const std::string path = (folder.back() == '/' ? folder : folder + "/") + name;
            const int answer =
                runMessageBox(&chooser, path + " already exists.\nDo you want to replace it?",
                              chooserTitle(dialog).toStdString(), MB_YESNO | MB_ICONEXCLAMATION);
            if (answer != IDYES) continue;
        }
        return dialog.SetChosenFolder(folder) ? IDOK : IDCANCEL;
    }
}

}  // namespace qtui
