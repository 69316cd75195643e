#include "ui/qt/kit_folder.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "ui/qt/dialog_window.h"

namespace qtui {
namespace {

QString fromStd(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

void refuse(QWidget* owner, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kitfolder::kTitle), fromStd(text),
                    QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("kitRefused"));
    box.setTextFormat(Qt::PlainText);  // a path is never markup
    box.setInformativeText(QString::fromLatin1(kitfolder::kStaysAsItWas));
    box.exec();
}

// A folder chosen in the program's own folder chooser, opened at `start`; empty when none.
QString chooseFolder(QWidget* owner, const char* title, const QString& start, const QString& name) {
    QFileDialog chooser(owner, QString::fromLatin1(title), start);
    chooser.setObjectName(name);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    const bool accepted = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    const QString chosen = accepted ? QDir::cleanPath(chooser.selectedFiles().front()) : QString();
    chooser.hide();
    return chosen;
}

// The kit in `folder` cannot be written: copied, on the user's word, to a folder of theirs.
bool offerCopy(QWidget* owner, const std::string& folder, const std::string& question) {
    QMessageBox ask(QMessageBox::Question, QString::fromLatin1(kitfolder::kTitle),
                    fromStd(question), QMessageBox::Yes | QMessageBox::No, owner);
    ask.setObjectName(QStringLiteral("kitReadOnly"));
    ask.setTextFormat(Qt::PlainText);
    if (ask.exec() != QMessageBox::Yes) return false;
    ask.hide();
    const QString into =
        chooseFolder(owner, kitfolder::kCopyChooserTitle, fromStd(kitfolder::copyChooserFolder()),
                     QStringLiteral("kitCopyChooser"));
    if (into.isEmpty()) return false;
    std::string copied;
    const base::Status made =
        kitfolder::copyAndUse(folder, QFile::encodeName(into).toStdString(), copied);
    if (!made) {
        refuse(owner, made.message());
        return false;
    }
    return true;
}

}  // namespace

void setStartDirectory(StartDirectory start) {
    kitfolder::setAccess(std::move(start));
}

bool canChooseStartDirectory() {
    return kitfolder::available();
}

void tellWhenNoKit(QWidget* owner) {
    if (!canChooseStartDirectory()) return;
    const std::string notice = kitfolder::noKitNotice(kitfolder::access().current());
    if (notice.empty()) return;
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kitfolder::kTitle),
                    fromStd(notice), QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("noKit"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(fromStd(kitfolder::noKitAdvice("window menu")));
    QPushButton* choose =
        box.addButton(QString::fromLatin1(kitfolder::kChooseButton), QMessageBox::AcceptRole);
    box.addButton(QString::fromLatin1(kitfolder::kNotNowButton), QMessageBox::RejectRole);
    box.setDefaultButton(choose);
    box.exec();
    const bool chosen = box.clickedButton() == choose;
    box.hide();
    if (chosen) {
        chooseKitFolder(owner);
    } else {
        reactivateOwner(owner);
    }
}

bool chooseKitFolder(QWidget* owner) {
    if (!canChooseStartDirectory()) return false;
    const QString chosen =
        chooseFolder(owner, kitfolder::kChooserTitle, fromStd(kitfolder::chooserFolder()),
                     QStringLiteral("kitChooser"));
    if (chosen.isEmpty()) {
        reactivateOwner(owner);
        return false;
    }
    const std::string folder = QFile::encodeName(chosen).toStdString();
    const kitfolder::Choice choice = kitfolder::choose(folder);
    bool changed = choice.verdict == kitfolder::Verdict::Taken;
    if (choice.verdict == kitfolder::Verdict::ReadOnly)
        changed = offerCopy(owner, folder, choice.refusal);
    else if (!changed)
        refuse(owner, choice.refusal);
    reactivateOwner(owner);
    return changed;
}

}  // namespace qtui
