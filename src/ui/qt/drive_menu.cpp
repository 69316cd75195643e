#include "ui/qt/drive_menu.h"

#include <QActionGroup>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>

#include "platform/diskette_image.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "ui/qt/dialog_window.h"

namespace qtui {
namespace {

const QString kTitle = QStringLiteral("Drive A:");

QString fromStd(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

// A menu takes '&' for the mark of a mnemonic and a tab for the start of a shortcut: a name's
// own are shown as they are.
QString menuText(const std::string& text) {
    QString shown = fromStd(text);
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return shown;
}

// "/dev/sdc, Y-E DATA USB FDU (no diskette, no access)".
QString driveEntry(const platform::FloppyDrive& drive) {
    QStringList notes;
    if (drive.mediumBytes && *drive.mediumBytes == 0)
        notes << QStringLiteral("no diskette");
    else if (drive.readOnly)
        notes << QStringLiteral("write-protected");
    if (!drive.mayWrite) notes << QStringLiteral("no access");
    QString text = menuText(drive.path + ", " + drive.description());
    if (!notes.isEmpty()) text += QStringLiteral(" (%1)").arg(notes.join(QStringLiteral(", ")));
    return text;
}

void makeDriveA(const std::string& path) {
    platform::DriveASelection selection = platform::driveASelection();
    selection.chosenThisRun = path;
    platform::setDriveASelection(selection);
}

// Where the chooser opens: beside the image that is drive A: now, else the current folder.
QString startFolder() {
    const QFileInfo driveA(fromStd(platform::currentDriveA().path));
    if (driveA.isFile()) return driveA.absolutePath();
    return QDir::currentPath();
}

}  // namespace

DriveMenu::DriveMenu(QMenu& menu, bool usable) {
    QMenu* submenu = menu.addMenu(QStringLiteral("&Drive A:"));
    submenu->setObjectName(QStringLiteral("driveMenu"));
    // A drive named on the command line outranks anything chosen here, and a build or a
    // format that holds drive A: keeps it.
    if (!usable || !platform::driveASelection().named.empty() || platform::anyDriveHeldHere()) {
        submenu->menuAction()->setEnabled(false);
        return;
    }
    const auto drives = platform::findFloppyDrives();
    const auto driveA = platform::currentDriveA();
    const auto marked = platform::floppyDriveAt(drives, driveA.path);
    auto* group = new QActionGroup(submenu);
    if (drives.empty())
        submenu->addAction(QStringLiteral("No floppy drive found"))->setEnabled(false);
    for (const auto& drive : drives) {
        addEntry(*submenu, driveEntry(drive), marked && marked->name == drive.name, drive.path);
    }
    if (!marked) {
        QString text = menuText(driveA.path);
        if (driveA.source == platform::DriveASource::Environment)
            text += QStringLiteral(" (QUENVOL_DRIVE_A)");
        addEntry(*submenu, text, true, driveA.path);
    }
    for (QAction* action : submenu->actions()) {
        if (action->isCheckable()) group->addAction(action);
    }
    submenu->addSeparator();
    QAction* image = submenu->addAction(QStringLiteral("Diskette &image file..."));
    m_actions[image] = [](QWidget* owner) { chooseDisketteImage(owner); };
}

void DriveMenu::addEntry(QMenu& submenu, const QString& text, bool current,
                         const std::string& path) {
    QAction* action = submenu.addAction(text);
    action->setCheckable(true);
    action->setChecked(current);
    m_actions[action] = [path](QWidget*) { makeDriveA(path); };
}

bool DriveMenu::handle(QAction* chosen, QWidget* owner) {
    const auto found = m_actions.find(chosen);
    if (found == m_actions.end()) return false;
    found->second(owner);
    return true;
}

bool chooseDisketteImage(QWidget* owner) {
    QFileDialog chooser(owner, QStringLiteral("Diskette image file for drive A:"), startFolder());
    chooser.setObjectName(QStringLiteral("imageChooser"));
    chooser.setOptions(QFileDialog::DontUseNativeDialog);
    // An existing image, or the name of a new one.
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setNameFilters({QStringLiteral("Diskette images (*.img *.ima *.flp *.vfd *.dsk)"),
                            QStringLiteral("All files (*)")});
    const bool accepted = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    const QString chosen = accepted ? chooser.selectedFiles().front() : QString();
    chooser.hide();
    if (!accepted) {
        reactivateOwner(owner);
        return false;
    }
    auto image = platform::takeDisketteImage(QFile::encodeName(chosen).toStdString());
    if (!image) {
        QMessageBox box(QMessageBox::Warning, kTitle, fromStd(image.message()), QMessageBox::Ok,
                        owner);
        box.setObjectName(QStringLiteral("imageRefused"));
        box.setTextFormat(Qt::PlainText);  // a path is never markup
        box.setInformativeText(QStringLiteral("Drive A: stays as it was."));
        box.exec();
        reactivateOwner(owner);
        return false;
    }
    makeDriveA(image->path);
    reactivateOwner(owner);
    return true;
}

}  // namespace qtui
