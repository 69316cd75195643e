// Message boxes and the folder chooser as the framework asks for them.
#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QTest>

#include "framework/afxdlgs.h"
#include "gui_support.h"

namespace guitest {
namespace {

class MessageBoxTest : public GuiTest {};

struct BoxCase {
    UINT type;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    int answer;
};

TEST_F(MessageBoxTest, CaptionTextIconAndAnswer) {
    const BoxCase cases[] = {
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes, IDYES},
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::No, IDNO},
        {MB_YESNO, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
         IDNO},
        {MB_OK, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, IDOK},
        {MB_OK | MB_ICONHAND, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::NoButton, IDOK},
        {MB_OKCANCEL | MB_ICONASTERISK, QMessageBox::Information,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton, IDCANCEL},
        {MB_OKCANCEL | MB_ICONEXCLAMATION, QMessageBox::Warning,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, IDOK},
    };
    const char* text = " The diskette in drive A: is not formatted.\n\n Insert another one.\t";
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "type 0x" << std::hex << c.type << " pressing " << c.press);
        whenModal("message box", messageBox(), [&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("quenvol"));
            EXPECT_EQ(box->text(), QString::fromUtf8(text));
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->standardButtons(), c.buttons);
            if (c.press == QMessageBox::NoButton)
                pressKey(Qt::Key_Escape);
            else
                QTest::mouseClick(box->button(c.press), Qt::LeftButton);
        });
        EXPECT_EQ(AfxMessageBox(text, c.type), c.answer);
    }
}

TEST_F(MessageBoxTest, WaitCursorNestsAndEnds) {
    CCmdTarget target;
    target.BeginWaitCursor();
    target.BeginWaitCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    target.EndWaitCursor();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    target.EndWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // One end too many changes nothing.
    target.EndWaitCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

class FolderChooserTest : public GuiTest {
  protected:
    // The chooser as the Browse button runs it: a Save As dialog for the name "Junk",
    // starting at the root of drive C:.
    struct Chooser {
        CFileDialog dialog{FALSE, nullptr, "Junk", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT};
        Chooser() { dialog.m_ofn.lpstrInitialDir = "c:\\"; }
    };

    // Types a folder into the chooser's name field and presses Enter.
    static void chooseFolder(QWidget* w, const QString& folder) {
        auto* name = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, folder);
        QTest::keyClick(name, Qt::Key_Return);
    }

    QString folder() const { return m_startDir.filePath(QStringLiteral("project")); }
};

TEST_F(FolderChooserTest, ChosenFolderComesBackWithTheName) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    Chooser chooser;
    whenModal("folder chooser", folderChooser(), [&](QWidget* w) {
        auto* fileDialog = qobject_cast<QFileDialog*>(w);
        EXPECT_EQ(fileDialog->windowTitle(), QStringLiteral("Save As"));
        EXPECT_EQ(fileDialog->directory().absolutePath(), QStringLiteral("/"));
        EXPECT_EQ(fileDialog->fileMode(), QFileDialog::Directory);
        chooseFolder(w, folder());
    });
    ASSERT_EQ(chooser.dialog.DoModal(), IDOK);
    const std::string expected = folder().toStdString() + "/Junk";
    EXPECT_EQ(std::string(chooser.dialog.m_ofn.lpstrFile), expected);
    EXPECT_EQ(chooser.dialog.m_ofn.nFileOffset, folder().size() + 1);
}

TEST_F(FolderChooserTest, CancelGivesIdCancel) {
    Chooser chooser;
    whenModal("folder chooser", folderChooser(), [](QWidget*) { pressKey(Qt::Key_Escape); });
    EXPECT_EQ(chooser.dialog.DoModal(), IDCANCEL);
}

TEST_F(FolderChooserTest, ExistingFileMustBeConfirmedAndStaysUntouched) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    QFile existing(folder() + QStringLiteral("/JUNK"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();

    Chooser chooser;
    int questions = 0;
    // Declining keeps the chooser open; the second time the answer is Yes.
    whenModal("folder chooser", folderChooser(), [&](QWidget* w) {
        whenModal("replace question", messageBox(), [&](QWidget* box) {
            ++questions;
            EXPECT_TRUE(
                qobject_cast<QMessageBox*>(box)->text().contains(QStringLiteral("already exists")));
            whenModal("folder chooser again", folderChooser(), [&](QWidget* again) {
                whenModal("replace question", messageBox(), [&](QWidget* second) {
                    ++questions;
                    QTest::mouseClick(qobject_cast<QMessageBox*>(second)->button(QMessageBox::Yes),
                                      Qt::LeftButton);
                });
                chooseFolder(again, folder());
            });
            QTest::mouseClick(qobject_cast<QMessageBox*>(box)->button(QMessageBox::No),
                              Qt::LeftButton);
        });
        chooseFolder(w, folder());
    });
    ASSERT_EQ(chooser.dialog.DoModal(), IDOK);
    EXPECT_EQ(questions, 2);
    EXPECT_EQ(std::string(chooser.dialog.m_ofn.lpstrFile), folder().toStdString() + "/Junk");
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("kept"));
}

}  // namespace
}  // namespace guitest
