// Browse in real windows: the folder chooser picks a folder that becomes the project path
// and the newest history entry, and a second Browse starts at the root again.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "app/CrisisDlg.h"
#include "gui_support.h"
#include "res/resources.h"

namespace guitest {
namespace {

class HistoryBrowseTest : public GuiTest {
  protected:
    void writeSettings(const QByteArray& bytes) {
        QFile file(QString::fromStdString(settingsFile()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QByteArray readSettings() {
        QFile file(QString::fromStdString(settingsFile()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
    }
    static QStringList items(QComboBox* combo) {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i) list << combo->itemText(i);
        return list;
    }
    // Checks that the chooser starts at the root and shows folders only.
    static void expectFreshChooser(QWidget* w) {
        auto* chooser = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(chooser, nullptr);
        EXPECT_EQ(chooser->directory().absolutePath(), QStringLiteral("/"));
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
    }
};

TEST_F(HistoryBrowseTest, ChosenFolderBecomesNewestAndCancelChangesNothing) {
    writeSettings("P1\r\nP2\r\nP3\r\nP4\r\n");
    const QString folder = m_startDir.filePath(QStringLiteral("projects/bios1"));
    ASSERT_TRUE(QDir().mkpath(folder));

    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        auto* browse = controlWidget<QPushButton>(w, IDC_BUTTON_BROWSE);
        auto* combo = controlWidget<QComboBox>(w, IDC_COMBO_PATH);
        ASSERT_TRUE(browse && combo);
        // As after a Start that found no BIOS files in the start directory.
        dlg.EnableControls(TRUE);
        ASSERT_TRUE(browse->isEnabled());

        whenModal("folder chooser", folderChooser(), [&](QWidget* c) {
            expectFreshChooser(c);
            auto* name = c->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setFocus();
            name->clear();
            QTest::keyClicks(name, folder);
            QTest::keyClick(name, Qt::Key_Return);
        });
        QTest::mouseClick(browse, Qt::LeftButton);
        EXPECT_EQ(combo->currentText(), folder);
        EXPECT_EQ(items(combo), (QStringList{folder, "P4", "P3", "P2"}));
        EXPECT_EQ(QString::fromStdString(dlg.m_strHistory[3].str()), folder);

        // The second chooser starts at the root, not where the first one ended; Escape in it
        // leaves everything as it was.
        combo->setEditText(QStringLiteral("/typed"));
        whenModal("second folder chooser", folderChooser(), [&](QWidget* c) {
            expectFreshChooser(c);
            pressKey(Qt::Key_Escape);
        });
        QTest::mouseClick(browse, Qt::LeftButton);
        EXPECT_EQ(combo->currentText(), QStringLiteral("/typed"));
        EXPECT_EQ(items(combo), (QStringList{folder, "P4", "P3", "P2"}));
        EXPECT_EQ(QString::fromStdString(dlg.m_strProjectPath.str()), folder);

        QTest::mouseClick(controlWidget<QPushButton>(w, IDC_BUTTON_CLOSE), Qt::LeftButton);
    });
    runMain(dlg);
    EXPECT_EQ(readSettings(), "P2\r\nP3\r\nP4\r\n" + folder.toUtf8() + "\r\n");
    // The chooser keeps nothing of its own: the settings file is all the program leaves.
    EXPECT_EQ(
        QDir(m_settings.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("quenvol.ini")});
}

}  // namespace
}  // namespace guitest
