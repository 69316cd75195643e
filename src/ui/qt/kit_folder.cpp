#include "ui/qt/kit_folder.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "ui/qt/dialog_window.h"

namespace qtui {
namespace {

StartDirectory& access() {
    static StartDirectory start;
    return start;
}

QString fromStd(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// "minidos.sys and a flash utility (zyplet.exe or zyplet16.exe) are missing", or empty for a
// folder that holds a kit.
QString whatIsMissing(const std::string& folder) {
    const auto [minidos, flashUtility] = access().missing(folder);
    QStringList names;
    if (minidos) names << QStringLiteral("minidos.sys");
    if (flashUtility) names << QStringLiteral("a flash utility (zyplet.exe or zyplet16.exe)");
    if (names.isEmpty()) return {};
    return names.join(QStringLiteral(" and ")) +
           (names.size() > 1 ? QStringLiteral(" are missing") : QStringLiteral(" is missing"));
}

void refuse(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Kit Folder"), text, QMessageBox::Ok,
                    owner);
    box.setObjectName(QStringLiteral("kitRefused"));
    box.setTextFormat(Qt::PlainText);  // a path is never markup
    box.setInformativeText(QStringLiteral("The start directory stays as it was."));
    box.exec();
}

}  // namespace

void setStartDirectory(StartDirectory start) {
    access() = std::move(start);
}

bool canChooseStartDirectory() {
    const StartDirectory& start = access();
    return start.current && start.missing && start.use;
}

void tellWhenNoKit(QWidget* owner) {
    if (!canChooseStartDirectory()) return;
    const std::string folder = access().current();
    const QString missing = whatIsMissing(folder);
    if (missing.isEmpty()) return;
    QMessageBox box(
        QMessageBox::Information, QStringLiteral("Kit Folder"),
        QStringLiteral("The start directory %1 holds no kit: %2.").arg(fromStd(folder), missing),
        QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("noKit"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(QStringLiteral(
        "A diskette is built from the kit folder the program starts in. Choose the kit "
        "folder for this run now, or later with \"Kit folder...\" in the window menu."));
    QPushButton* choose =
        box.addButton(QStringLiteral("&Choose Kit Folder..."), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("&Not Now"), QMessageBox::RejectRole);
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
    QFileDialog chooser(owner, QStringLiteral("Kit folder (start directory) for this run"),
                        fromStd(access().current()));
    chooser.setObjectName(QStringLiteral("kitChooser"));
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    const bool accepted = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    const QString chosen = accepted ? QDir::cleanPath(chooser.selectedFiles().front()) : QString();
    chooser.hide();
    if (!accepted) {
        reactivateOwner(owner);
        return false;
    }
    const std::string folder = QFile::encodeName(chosen).toStdString();
    bool changed = false;
    if (const QString missing = whatIsMissing(folder); !missing.isEmpty()) {
        refuse(owner, QStringLiteral("The folder %1 holds no kit: %2.").arg(chosen, missing));
    } else if (!access().use(folder)) {
        refuse(owner, QStringLiteral("The folder %1 cannot be the start directory: its path must "
                                     "be shorter than 128 characters, and it must be open to you.")
                          .arg(chosen));
    } else {
        changed = true;
    }
    reactivateOwner(owner);
    return changed;
}

}  // namespace qtui
