// The format dialog for drive A: in real windows, built from template 130: what it shows, the
// warning before erasing, a format from Start to the completion report, and refusals in words.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest/QTest>
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "app/CrisisDlg.h"
#include "gui_support.h"
#include "res/resources.h"

namespace guitest {
namespace {

constexpr qint64 kImageBytes = 1474560;

// Bytes that differ from place to place, so that any stray write shows.
QByteArray patternBytes(qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 512) & 0xFF);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct ToolResult {
    int exitCode = -1;
    QString output;
};

ToolResult runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

// The "bytes free" figure of mdir, -1 when there is none.
qint64 mdirFreeBytes(const QString& image) {
    const ToolResult run =
        runTool(QStringLiteral("mdir"), {QStringLiteral("-i"), image, QStringLiteral("::")});
    if (run.exitCode != 0) return -1;
    for (const QString& line : run.output.split(QLatin1Char('\n'))) {
        const int at = line.indexOf(QStringLiteral("bytes free"));
        if (at < 0) continue;
        QString digits = line.left(at);
        digits.remove(QRegularExpression(QStringLiteral("[^0-9]")));
        return digits.toLongLong();
    }
    return -1;
}

QAbstractButton* buttonOf(QMessageBox* box, QMessageBox::StandardButton which) {
    return box->button(which);
}

// Runs `painted` each time the widget paints itself: the backend paints a control at once
// when the framework changes it, even while a handler keeps the event loop waiting.
class PaintWatch final : public QObject {
  public:
    PaintWatch(QWidget* widget, std::function<void()> painted)
        : QObject(widget), m_painted(std::move(painted)) {
        widget->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) m_painted();
        return false;
    }

  private:
    std::function<void()> m_painted;
};

// Types `text` over whatever the field holds, as the keyboard would.
void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// What a format dialog showed and did while a test drove it.
struct Seen {
    QString capacity, fileSystem, allocation;
    QString boxText;  // the last box after the warning: the report or the refusal
    bool warned = false;
    bool reported = false;
    std::vector<int> progressWhileBusy;  // bar values drawn while Start and Close were disabled
    int progressAtReport = -1;
    bool focusOnStart = false;
    QWidget* owner = nullptr;  // the window the dialog was shown over
};

class FormatDialogTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_image = m_startDir.filePath(QStringLiteral("drive_a.img"));
        setenv("QUENVOL_DRIVE_A", qPrintable(m_image), 1);
    }

    // The format dialog for drive A:, as the shell's format call opens it.
    void runFormatDialog() { m_backend.formatDrive(nullptr, 0); }

    // Queues a run of the format dialog: read the fields, type the label, set quick format,
    // press Start (or Enter on the focused Quick Format, which starts as Enter anywhere but on
    // a button does), answer the warning, take note of the report, then Close.
    void driveFormatDialog(Seen& seen, const QString& label, bool quick, bool confirm,
                           bool enterOnQuick = false) {
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [=, &seen](QWidget* f) {
            auto* start = controlWidget<QPushButton>(f, res::kIdcFormatStart);
            auto* close = controlWidget<QPushButton>(f, IDCANCEL);
            auto* progress = controlWidget<QProgressBar>(f, res::kIdcFormatProgress);
            auto* quickFormat = controlWidget<QAbstractButton>(f, res::kIdcFormatQuick);
            ASSERT_TRUE(start && close && progress && quickFormat);
            EXPECT_EQ(f->windowTitle(), QStringLiteral("Format - A:"));
            seen.owner = f->parentWidget();
            seen.capacity = controlWidget<QComboBox>(f, res::kIdcFormatCapacity)->currentText();
            seen.fileSystem = controlWidget<QComboBox>(f, res::kIdcFormatFileSystem)->currentText();
            seen.allocation = controlWidget<QComboBox>(f, res::kIdcFormatAllocation)->currentText();
            QTest::keyClicks(controlWidget<QLineEdit>(f, res::kIdcFormatLabel), label);
            const HWND quickControl =
                qobject_cast<qtui::DialogWindow*>(f)->control(res::kIdcFormatQuick);
            if (quickControl->checked != quick) QTest::mouseClick(quickFormat, Qt::LeftButton);
            EXPECT_EQ(quickControl->checked, quick);
            new PaintWatch(progress, [=, &seen] {
                if (!start->isEnabled() && !close->isEnabled())
                    seen.progressWhileBusy.push_back(progress->value());
            });

            whenModal("warning", messageBox(), [=, &seen](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                seen.warned = box->text().contains(QStringLiteral("erases everything"));
                // The box comes up ready to keep the diskette: Cancel is its default.
                EXPECT_EQ(box->defaultButton(), buttonOf(box, QMessageBox::Cancel));
                if (!confirm) {
                    QTest::mouseClick(buttonOf(box, QMessageBox::Cancel), Qt::LeftButton);
                    return;
                }
                whenModal("format report", messageBox(), [&seen, progress](QWidget* r) {
                    auto* report = qobject_cast<QMessageBox*>(r);
                    seen.reported = true;
                    seen.boxText = report->text();
                    seen.progressAtReport = progress->value();
                    QTest::mouseClick(buttonOf(report, QMessageBox::Ok), Qt::LeftButton);
                });
                QTest::mouseClick(buttonOf(box, QMessageBox::Ok), Qt::LeftButton);
            });
            if (enterOnQuick) {
                CWnd::FromHandle(quickControl)->SetFocus();
                pressKey(Qt::Key_Return);
                EXPECT_EQ(quickControl->checked, quick) << "Enter toggled Quick Format";
            } else {
                QTest::mouseClick(start, Qt::LeftButton);
            }
            // The boxes are gone; the window system gives the keyboard back in its own time.
            EXPECT_TRUE(QTest::qWaitForWindowActive(f));
            seen.focusOnStart = waitForFocus(start);
            EXPECT_TRUE(start->isEnabled() && close->isEnabled());
            QTest::mouseClick(close, Qt::LeftButton);
        });
    }

    void expectFormattedImage() {
        EXPECT_EQ(QFileInfo(m_image).size(), kImageBytes);
        const ToolResult fsck =
            runTool(QStringLiteral("fsck.fat"), {QStringLiteral("-n"), m_image});
        EXPECT_EQ(fsck.exitCode, 0) << fsck.output.toStdString();
        EXPECT_EQ(mdirFreeBytes(m_image), 1457664);
    }

    QString m_image;
};

TEST_F(FormatDialogTest, FullFormatWithProgressAndReport) {
    ASSERT_TRUE(writeFile(m_image, patternBytes(kImageBytes)));
    Seen seen;
    driveFormatDialog(seen, QStringLiteral("rescue"), false, true);
    runFormatDialog();

    EXPECT_EQ(seen.capacity, QStringLiteral("3.5\", 1.44MB, 512 bytes/sector"));
    EXPECT_EQ(seen.fileSystem, QStringLiteral("FAT"));
    EXPECT_EQ(seen.allocation, QStringLiteral("512 bytes"));
    EXPECT_TRUE(seen.warned);
    ASSERT_TRUE(seen.reported);
    EXPECT_TRUE(seen.boxText.startsWith(QStringLiteral("Format Complete.\n\n")))
        << seen.boxText.toStdString();
    EXPECT_TRUE(seen.boxText.contains(QStringLiteral("1,474,560 bytes total disk space")))
        << seen.boxText.toStdString();
    EXPECT_TRUE(seen.boxText.contains(QStringLiteral("1,457,664 bytes available")))
        << seen.boxText.toStdString();
    EXPECT_EQ(seen.progressAtReport, 100);
    // The bar moved in steps while the buttons were held.
    EXPECT_GT(seen.progressWhileBusy.size(), 10u);
    EXPECT_TRUE(std::is_sorted(seen.progressWhileBusy.begin(), seen.progressWhileBusy.end()));
    EXPECT_TRUE(seen.focusOnStart);
    expectFormattedImage();
    const ToolResult label =
        runTool(QStringLiteral("mlabel"),
                {QStringLiteral("-s"), QStringLiteral("-i"), m_image, QStringLiteral("::")});
    EXPECT_TRUE(label.output.contains(QStringLiteral("RESCUE"))) << label.output.toStdString();
}

// The label field takes no more than the file system's 11 bytes, and Start holds what it
// holds to the file system's label rule before anything is asked or erased.
TEST_F(FormatDialogTest, TheLabelFieldFollowsTheFileSystemsRule) {
    const QByteArray original = patternBytes(kImageBytes);
    ASSERT_TRUE(writeFile(m_image, original));
    bool checked = false;
    whenModal("format dialog", dialogOf(res::kIddFormatDrive), [&checked](QWidget* f) {
        auto* edit = controlWidget<QLineEdit>(f, res::kIdcFormatLabel);
        auto* start = controlWidget<QPushButton>(f, res::kIdcFormatStart);
        ASSERT_TRUE(edit && start);
        struct Case {
            QString typed, held;
            bool accepted;
        };
        const Case cases[] = {
            {QStringLiteral("rescue 1"), QStringLiteral("rescue 1"), true},
            {QStringLiteral("{X}~!#$%&'("), QStringLiteral("{X}~!#$%&'("), true},
            {QStringLiteral("TWELVE CHARS"), QStringLiteral("TWELVE CHAR"), true},
            {QStringLiteral(" LEADING"), QStringLiteral(" LEADING"), false},
            {QStringLiteral("A.B"), QStringLiteral("A.B"), false},
            {QString::fromUtf8("CAF\u00c9"), QString::fromUtf8("CAF\u00c9"), false},
            // Six two-byte letters are twelve bytes: the last one does not fit.
            {QString::fromUtf8("\u00e5\u00e5\u00e5\u00e5\u00e5\u00e5"),
             QString::fromUtf8("\u00e5\u00e5\u00e5\u00e5\u00e5"), false},
        };
        for (const Case& c : cases) {
            retype(edit, c.typed);
            EXPECT_EQ(edit->text(), c.held) << c.typed.toStdString();
            QString said;
            whenModal("label answer", messageBox(), [&said](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                said = box->text();
                // The warning is cancelled, the refusal taken note of.
                QAbstractButton* answer = box->button(QMessageBox::Cancel);
                if (!answer) answer = box->button(QMessageBox::Ok);
                answer->click();
            });
            QTest::mouseClick(start, Qt::LeftButton);
            EXPECT_EQ(said.contains(QStringLiteral("erases everything")), c.accepted)
                << c.typed.toStdString() << ": " << said.toStdString();
            EXPECT_EQ(said.startsWith(QStringLiteral("The volume label is not valid")), !c.accepted)
                << c.typed.toStdString();
            // A refused label keeps the keyboard for its correction.
            EXPECT_TRUE(waitForFocus(c.accepted ? static_cast<QWidget*>(start) : edit))
                << c.typed.toStdString();
        }
        checked = true;
        QTest::mouseClick(controlWidget<QPushButton>(f, IDCANCEL), Qt::LeftButton);
    });
    runFormatDialog();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(readFile(m_image) == original);
}

TEST_F(FormatDialogTest, CancelledWarningLeavesTheDiskette) {
    const QByteArray original = patternBytes(kImageBytes);
    ASSERT_TRUE(writeFile(m_image, original));
    Seen seen;
    driveFormatDialog(seen, QString(), true, false, true);
    runFormatDialog();
    EXPECT_TRUE(seen.warned);
    EXPECT_FALSE(seen.reported);
    EXPECT_TRUE(seen.focusOnStart);
    EXPECT_TRUE(readFile(m_image) == original);
}

TEST_F(FormatDialogTest, TenMegabyteFileIsRefusedInWords) {
    const QByteArray original = patternBytes(10 * 1024 * 1024);
    ASSERT_TRUE(writeFile(m_image, original));
    Seen seen;
    driveFormatDialog(seen, QString(), true, true);
    runFormatDialog();
    EXPECT_EQ(seen.capacity, QStringLiteral("Not a diskette"));
    ASSERT_TRUE(seen.reported);
    EXPECT_TRUE(seen.boxText.startsWith(
        QStringLiteral("Drive A: does not hold a diskette, so nothing was formatted.\n\n")))
        << seen.boxText.toStdString();
    EXPECT_TRUE(seen.boxText.contains(QStringLiteral("10,485,760 bytes")))
        << seen.boxText.toStdString();
    EXPECT_EQ(seen.progressAtReport, 0);
    EXPECT_TRUE(readFile(m_image) == original);
}

TEST_F(FormatDialogTest, WriteProtectedAndEmptyDrivesAreNamed) {
    ASSERT_TRUE(writeFile(m_image, patternBytes(kImageBytes)));
    // An image without write permission is a diskette with its tab set, even for root.
    ASSERT_TRUE(
        QFile::setPermissions(m_image, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    Seen protectedSeen;
    driveFormatDialog(protectedSeen, QString(), true, true);
    runFormatDialog();
    EXPECT_EQ(protectedSeen.capacity, QStringLiteral("3.5\", 1.44MB, 512 bytes/sector"));
    EXPECT_TRUE(protectedSeen.boxText.startsWith(
        QStringLiteral("The diskette in drive A: is write-protected.")))
        << protectedSeen.boxText.toStdString();

    ASSERT_TRUE(QFile::remove(m_image));
    Seen emptySeen;
    driveFormatDialog(emptySeen, QString(), true, true);
    runFormatDialog();
    EXPECT_EQ(emptySeen.capacity, QStringLiteral("No diskette"));
    EXPECT_TRUE(emptySeen.boxText.startsWith(QStringLiteral("There is no diskette in drive A:.")))
        << emptySeen.boxText.toStdString();
    EXPECT_FALSE(QFile::exists(m_image));
}

// The format-only kind from the main dialog: Start opens this dialog over it, the diskette is
// formatted, and the focus is back on Start afterwards.
TEST_F(FormatDialogTest, FormatOnlyKindFromStartToFinish) {
    ASSERT_TRUE(writeFile(m_image, patternBytes(kImageBytes)));
    CCrisisDlg dlg;
    Seen seen;
    QWidget* mainWindow = nullptr;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        QTest::mouseClick(controlWidget<QRadioButton>(w, IDC_RADIO_FORMAT), Qt::LeftButton);
        driveFormatDialog(seen, QStringLiteral("disk1"), true, true);
        mainWindow = w;
        QTest::mouseClick(controlWidget<QPushButton>(w, IDC_START), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        EXPECT_EQ(QApplication::focusWidget(), controlWidget<QPushButton>(w, IDC_START));
        EXPECT_TRUE(controlWidget<QPushButton>(w, IDC_BUTTON_CLOSE)->isEnabled());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
    EXPECT_EQ(seen.owner, mainWindow);
    ASSERT_TRUE(seen.reported);
    EXPECT_TRUE(seen.boxText.startsWith(QStringLiteral("Format Complete.")));
    expectFormattedImage();
}

}  // namespace
}  // namespace guitest
