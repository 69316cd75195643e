// The window menu's Drive A: submenu: closed while the program is at work or holds the drive,
// the drives found with drive A: marked, and a new image file chosen there that the next
// format goes to.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

#include "gui_support.h"
#include "platform/exclusive_hold.h"
#include "platform/floppy_drives.h"
#include "res/resources.h"
#include "support/fake_sysfs.h"
#include "ui/qt/kit_folder.h"

namespace guitest {
namespace {

// The submenu's entries as the window menu shows them, a checked one with "* " before it;
// none when the submenu is disabled. `then` runs on the window menu before it is closed. The
// menu is opened as Alt+Space opens it, without depending on where the keyboard is.
QString g_driveTitle;  // the submenu's own entry, as the last openDriveMenu saw it

QStringList openDriveMenu(QWidget* window, const std::function<void(QMenu*, QAction*)>& then = {}) {
    QStringList entries;
    whenPopup("window menu", menuNamed(QStringLiteral("systemMenu")), [&](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        QAction* drive = menu->actions().last();
        ASSERT_TRUE(drive->menu() && drive->text().startsWith(QStringLiteral("&Drive A:")));
        g_driveTitle = drive->text();
        for (QAction* a : drive->menu()->actions())
            if (drive->isEnabled())
                entries << (a->isChecked() ? QStringLiteral("* ") : QString()) + a->text();
        if (then) return then(menu, drive);
        menu->close();
    });
    qobject_cast<qtui::DialogWindow*>(window)->showSystemMenu();
    return entries;
}

class DriveMenuTest : public GuiTest {};

TEST_F(DriveMenuTest, ImageChosenThereIsWhereTheFormatGoes) {
    QTemporaryDir sysfs;
    fakesysfs::addMachine(sysfs.path().toStdString());
    setenv("QUENVOL_SYSFS", qPrintable(sysfs.path()), 1);
    const QString fromEnv = QString::fromLocal8Bit(qgetenv("QUENVOL_DRIVE_A"));
    const QString image = m_startDir.filePath(QStringLiteral("rescue.img"));
    QString warning;
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        dlg.EnableControls(FALSE);  // as a build does from its format to its end
        EXPECT_TRUE(openDriveMenu(w).isEmpty());
        dlg.EnableControls(TRUE);
        const QStringList entries = openDriveMenu(w);
        ASSERT_EQ(entries.size(), 7) << entries.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(entries[1].startsWith(
            QStringLiteral("/dev/sdb, TEAC FD-05PUB, USB port 2-1.3 (write-prot")));
        EXPECT_TRUE(entries[2].startsWith(
            QStringLiteral("/dev/sdc, Y-E DATA USB FDU, USB port 1-2 (no disk")));
        EXPECT_EQ(entries[4], QStringLiteral("* %1 (QUENVOL_DRIVE_A)").arg(fromEnv));

        // A new name in the chooser: a blank 1.44 MB image is made there and is drive A:.
        openDriveMenu(w, [&](QMenu* menu, QAction* drive) {
            whenPopup("Drive A: submenu", menuNamed(QStringLiteral("driveMenu")), [&](QWidget* s) {
                whenModal("image chooser", folderChooser(), [&](QWidget* chooser) {
                    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                    ASSERT_NE(name, nullptr);
                    name->setText(image);
                    QTest::keyClick(name, Qt::Key_Return);
                });
                EXPECT_TRUE(chooseMenuEntry(s, QStringLiteral("Diskette &image file...")));
            });
            EXPECT_TRUE(chooseMenuEntry(menu, drive->text()));
        });
        EXPECT_EQ(QFile(image).size(), 1474560);
        EXPECT_TRUE(openDriveMenu(w).contains(QStringLiteral("* ") + image));
        // The window menu names drive A: without opening the submenu.
        EXPECT_EQ(g_driveTitle, QStringLiteral("&Drive A: (rescue.img)"));
        {
            const auto held = platform::ExclusiveHold::driveA();  // as a build or format holds it
            ASSERT_TRUE(held.held());
            EXPECT_TRUE(openDriveMenu(w).isEmpty());
        }

        // The format-only kind formats that image and names it before erasing.
        QTest::mouseClick(controlWidget<QRadioButton>(w, IDC_RADIO_FORMAT), Qt::LeftButton);
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [&](QWidget* f) {
            whenModal("warning", messageBox(), [&](QWidget* box) {
                warning = qobject_cast<QMessageBox*>(box)->text();
                whenModal("report", messageBox(), [](QWidget* r) {
                    QTest::mouseClick(qobject_cast<QMessageBox*>(r)->button(QMessageBox::Ok),
                                      Qt::LeftButton);
                });
                QTest::mouseClick(qobject_cast<QMessageBox*>(box)->button(QMessageBox::Ok),
                                  Qt::LeftButton);
            });
            QTest::mouseClick(controlWidget<QPushButton>(f, res::kIdcFormatStart), Qt::LeftButton);
            QTest::mouseClick(controlWidget<QPushButton>(f, IDCANCEL), Qt::LeftButton);
        });
        QTest::mouseClick(controlWidget<QPushButton>(w, IDC_START), Qt::LeftButton);
        qobject_cast<qtui::DialogWindow*>(w)->reject();
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
    unsetenv("QUENVOL_SYSFS");
    EXPECT_TRUE(warning.contains(QStringLiteral("\nDrive A: is %1, 1,474,560 bytes.\n").arg(image)))
        << warning.toStdString();
    QFile formatted(image);
    ASSERT_TRUE(formatted.open(QIODevice::ReadOnly));
    EXPECT_TRUE(formatted.read(512).endsWith("\x55\xAA"));
    EXPECT_FALSE(QFile::exists(fromEnv)) << "the image QUENVOL_DRIVE_A names is left alone";
}

// Started where no kit is, the dialog says so at once and offers the kit folder; a folder
// without a kit is refused, and one chosen in the window menu is the start directory.
TEST_F(DriveMenuTest, KitFolderChosenAtStartOrInTheMenu) {
    const QString kit = QDir(m_startDir.path()).filePath(QStringLiteral("kit"));
    ASSERT_TRUE(QDir().mkpath(kit));
    for (const char* name : {"MINIDOS.SYS", "zyplet16.exe"}) {
        QFile file(QDir(kit).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // As the program lets the window reach its dialog's start directory.
    const auto reach = [](CCrisisDlg& d) {
        qtui::setStartDirectory({
            [&d] { return std::string(d.m_szStartDir); },
            [](const std::string& f) {
                const auto gaps = CCrisisDlg::MissingKit(f);
                return std::pair{gaps.minidos, gaps.flashUtility};
            },
            [&d](const std::string& f) { return d.UseStartDir(f) != FALSE; },
            nullptr,  // writable as any folder of the test's
            nullptr,
            nullptr,
        });
    };
    CCrisisDlg dlg;
    reach(dlg);
    const auto choose = [](const QString& folder) {
        return [folder](QWidget* chooser) {
            auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(folder);
            QTest::keyClick(name, Qt::Key_Return);
        };
    };
    QString notice, refusal;
    whenModal("no-kit notice", messageBox(), [&](QWidget* box) {
        auto* message = qobject_cast<QMessageBox*>(box);
        notice = message->text();
        whenModal("kit chooser", folderChooser(), choose(m_startDir.path()));
        whenModal("refusal", messageBox(), [&](QWidget* r) {
            refusal = qobject_cast<QMessageBox*>(r)->text();
            dismiss(r);
        });
        message->buttons().front()->click();
    });
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        EXPECT_EQ(std::string(dlg.m_szStartDir), m_startDir.path().toStdString());
        whenPopup("window menu", menuNamed(QStringLiteral("systemMenu")), [&](QWidget* m) {
            whenModal("kit chooser", folderChooser(), choose(kit));
            EXPECT_TRUE(chooseMenuEntry(m, QStringLiteral("&Kit folder...")));
        });
        qobject_cast<qtui::DialogWindow*>(w)->showSystemMenu();
        qobject_cast<qtui::DialogWindow*>(w)->reject();
    });
    runMain(dlg);
    EXPECT_EQ(notice, QStringLiteral("The start directory %1 holds no kit: minidos.sys and a flash "
                                     "utility (zyplet.exe or zyplet16.exe) are missing.")
                          .arg(m_startDir.path()));
    EXPECT_EQ(refusal, QStringLiteral("The folder %1 holds no kit: minidos.sys and a flash utility "
                                      "(zyplet.exe or zyplet16.exe) are missing.")
                           .arg(m_startDir.path()));
    EXPECT_EQ(std::string(dlg.m_szStartDir), kit.toStdString());
    EXPECT_EQ(QDir::currentPath(), kit);

    // Started in a kit, nothing is said.
    CCrisisDlg inKit;
    reach(inKit);
    whenModal("main dialog in the kit", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        QTest::qWait(200);
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        qobject_cast<qtui::DialogWindow*>(w)->reject();
    });
    runMain(inKit);
    qtui::setStartDirectory({});
}

}  // namespace
// A kit that cannot be written (the sample the package installs) is named as such when it is
// chosen, and on the user's word copied to a folder of theirs, which is then the start
// directory.
TEST_F(DriveMenuTest, AKitThatCannotBeWrittenIsOfferedToBeCopied) {
    const QString sample = QDir(m_startDir.path()).filePath(QStringLiteral("sample"));
    const QString mine = QDir(m_startDir.path()).filePath(QStringLiteral("mine"));
    ASSERT_TRUE(QDir().mkpath(sample) && QDir().mkpath(mine));
    for (const char* name : {"MINIDOS.SYS", "zyplet16.exe"}) {
        QFile file(QDir(sample).filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(name) > 0);
    }
    CCrisisDlg dlg;
    qtui::setStartDirectory({
        [&dlg] { return std::string(dlg.m_szStartDir); },
        [](const std::string& f) {
            const auto gaps = CCrisisDlg::MissingKit(f);
            return std::pair{gaps.minidos, gaps.flashUtility};
        },
        [&dlg](const std::string& f) { return dlg.UseStartDir(f) != FALSE; },
        [&sample](const std::string& f) { return QString::fromStdString(f) != sample; },
        [&sample] { return sample.toStdString(); },
        [&mine] { return mine.toStdString(); },
    });
    const auto accept = [](QWidget* chooser) {
        auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        QTest::keyClick(name, Qt::Key_Return);  // the folder it opened at
    };
    QString question;
    whenModal("no-kit notice", messageBox(), [](QWidget* box) { dismiss(box); });
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        whenPopup("window menu", menuNamed(QStringLiteral("systemMenu")), [&](QWidget* m) {
            whenModal("kit chooser", folderChooser(), [&](QWidget* chooser) {
                whenModal("read-only question", messageBox(), [&](QWidget* box) {
                    auto* message = qobject_cast<QMessageBox*>(box);
                    question = message->text();
                    whenModal("copy chooser", folderChooser(), accept);
                    QTest::mouseClick(message->button(QMessageBox::Yes), Qt::LeftButton);
                });
                accept(chooser);
            });
            EXPECT_TRUE(chooseMenuEntry(m, QStringLiteral("&Kit folder...")));
        });
        qobject_cast<qtui::DialogWindow*>(w)->showSystemMenu();
        qobject_cast<qtui::DialogWindow*>(w)->reject();
    });
    runMain(dlg);
    qtui::setStartDirectory({});
    EXPECT_TRUE(question.startsWith(
        QStringLiteral("The folder %1 holds a kit, but it cannot be written").arg(sample)))
        << question.toStdString();
    const QString copy = QDir(mine).filePath(QStringLiteral("Quenvol kit"));
    EXPECT_EQ(QString::fromLocal8Bit(dlg.m_szStartDir), copy);
    QFile copied(QDir(copy).filePath(QStringLiteral("zyplet16.exe")));
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), QByteArray("zyplet16.exe"));
}

}  // namespace guitest
