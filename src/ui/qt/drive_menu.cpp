#include "ui/qt/drive_menu.h"

#include <QActionGroup>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>

#include "framework/drive_menu.h"
#include "ui/qt/dialog_window.h"

namespace qtui {
namespace {

QString fromStd(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

}  // namespace

DriveMenu::DriveMenu(QMenu& menu, bool usable) {
    QMenu* submenu = menu.addMenu(fromStd(drivemenu::menuTitle()));
    submenu->setObjectName(QStringLiteral("driveMenu"));
    const drivemenu::Submenu now = drivemenu::submenuNow(usable);
    if (!now.enabled) {
        submenu->menuAction()->setEnabled(false);
        return;
    }
    auto* group = new QActionGroup(submenu);
    if (now.noneFound)
        submenu->addAction(QString::fromLatin1(drivemenu::kNoDriveFound))->setEnabled(false);
    for (const drivemenu::Entry& entry : now.entries) {
        QAction* action = submenu->addAction(fromStd(entry.text));
        action->setCheckable(true);
        action->setChecked(entry.current);
        group->addAction(action);
        m_actions[action] = [path = entry.path](QWidget*) { drivemenu::chooseDrive(path); };
    }
    submenu->addSeparator();
    QAction* image = submenu->addAction(QString::fromLatin1(drivemenu::kImageEntry));
    m_actions[image] = [](QWidget* owner) { chooseDisketteImage(owner); };
}

bool DriveMenu::handle(QAction* chosen, QWidget* owner) {
    const auto found = m_actions.find(chosen);
    if (found == m_actions.end()) return false;
    found->second(owner);
    return true;
}

bool chooseDisketteImage(QWidget* owner) {
    QFileDialog chooser(owner, QString::fromLatin1(drivemenu::kImageChooserTitle),
                        fromStd(drivemenu::imageChooserFolder()));
    chooser.setObjectName(QStringLiteral("imageChooser"));
    chooser.setOptions(QFileDialog::DontUseNativeDialog);
    // An existing image, or the name of a new one.
    chooser.setFileMode(QFileDialog::AnyFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList patterns;
    for (const char* suffix : drivemenu::kImageSuffixes)
        patterns << QStringLiteral("*.") + QLatin1String(suffix);
    chooser.setNameFilters(
        {QStringLiteral("%1 (%2)").arg(QLatin1String(drivemenu::kImageFilterName),
                                       patterns.join(QLatin1Char(' '))),
         QStringLiteral("All files (*)")});
    const bool accepted = chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty();
    const QString chosen = accepted ? chooser.selectedFiles().front() : QString();
    chooser.hide();
    if (!accepted) {
        reactivateOwner(owner);
        return false;
    }
    const base::Status taken = drivemenu::chooseImage(QFile::encodeName(chosen).toStdString());
    if (!taken) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(drivemenu::kRefusalTitle),
                        fromStd(taken.message()), QMessageBox::Ok, owner);
        box.setObjectName(QStringLiteral("imageRefused"));
        box.setTextFormat(Qt::PlainText);  // a path is never markup
        box.setInformativeText(QString::fromLatin1(drivemenu::kStaysAsItWas));
        box.exec();
        reactivateOwner(owner);
        return false;
    }
    reactivateOwner(owner);
    return true;
}

}  // namespace qtui
