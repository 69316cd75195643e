// The format dialog for drive A: in real windows: what it shows, the warning before erasing,
// a format from Start to the completion report, and refusals in words.
#include "ui/qt/format_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QValidator>
#include <QtTest/QTest>
#include <algorithm>
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

Match boxNamed(const QString& name) {
    return [name](QWidget* w) { return qobject_cast<QMessageBox*>(w) && w->objectName() == name; };
}

// What a format dialog showed and did while a test drove it.
struct Seen {
    QString capacity, fileSystem, allocation;
    QString boxText, boxDetail;
    bool warned = false;
    bool reported = false;
    std::vector<int> progressWhileBusy;  // bar values while Start and Close were disabled
    int progressAtReport = -1;
    bool focusOnStart = false;
};

class FormatDialogTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_image = m_startDir.filePath(QStringLiteral("drive_a.img"));
        setenv("QUENVOL_DRIVE_A", qPrintable(m_image), 1);
    }

    // Queues a run of the format dialog: read the fields, type the label, set quick format,
    // press Start, answer the warning, take note of the report, then Close.
    void driveFormatDialog(Seen& seen, const QString& label, bool quick, bool confirm) {
        whenModal("format dialog", formatDialog(), [=, &seen](QWidget* f) {
            auto* start = f->findChild<QPushButton*>(QStringLiteral("start"));
            auto* close = f->findChild<QPushButton*>(QStringLiteral("close"));
            auto* progress = f->findChild<QProgressBar*>(QStringLiteral("progress"));
            ASSERT_TRUE(start && close && progress);
            EXPECT_EQ(f->windowTitle(), QStringLiteral("Format - A:"));
            seen.capacity = f->findChild<QComboBox*>(QStringLiteral("capacity"))->currentText();
            seen.fileSystem = f->findChild<QComboBox*>(QStringLiteral("fileSystem"))->currentText();
            seen.allocation =
                f->findChild<QComboBox*>(QStringLiteral("allocationUnit"))->currentText();
            auto* labelEdit = f->findChild<QLineEdit*>(QStringLiteral("volumeLabel"));
            QTest::keyClicks(labelEdit, label);
            f->findChild<QCheckBox*>(QStringLiteral("quickFormat"))->setChecked(quick);
            QObject::connect(progress, &QProgressBar::valueChanged, f, [=, &seen](int value) {
                if (!start->isEnabled() && !close->isEnabled())
                    seen.progressWhileBusy.push_back(value);
            });

            whenModal("warning", boxNamed(QStringLiteral("formatWarning")), [=, &seen](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                seen.warned = true;
                EXPECT_TRUE(box->text().contains(QStringLiteral("erases everything")));
                if (confirm) {
                    // The box comes up ready to keep the diskette: Cancel is its default.
                    EXPECT_EQ(box->defaultButton(), buttonOf(box, QMessageBox::Cancel));
                    whenModal("format report", messageBox(), [&seen, progress](QWidget* r) {
                        auto* report = qobject_cast<QMessageBox*>(r);
                        seen.reported = true;
                        seen.boxText = report->text();
                        seen.boxDetail = report->informativeText();
                        seen.progressAtReport = progress->value();
                        QTest::mouseClick(buttonOf(report, QMessageBox::Ok), Qt::LeftButton);
                    });
                    QTest::mouseClick(buttonOf(box, QMessageBox::Ok), Qt::LeftButton);
                } else {
                    QTest::mouseClick(buttonOf(box, QMessageBox::Cancel), Qt::LeftButton);
                }
            });
            QTest::mouseClick(start, Qt::LeftButton);
            // The boxes are gone; the window system gives the keyboard back in its own time.
            EXPECT_TRUE(QTest::qWaitForWindowActive(f));
            seen.focusOnStart = QApplication::focusWidget() == start;
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
    qtui::runFormatDialog(nullptr, 0);

    EXPECT_EQ(seen.capacity, QStringLiteral("3.5\", 1.44MB, 512 bytes/sector"));
    EXPECT_EQ(seen.fileSystem, QStringLiteral("FAT"));
    EXPECT_EQ(seen.allocation, QStringLiteral("512 bytes"));
    EXPECT_TRUE(seen.warned);
    ASSERT_TRUE(seen.reported);
    EXPECT_EQ(seen.boxText, QStringLiteral("Format Complete."));
    EXPECT_TRUE(seen.boxDetail.contains(QStringLiteral("1,474,560 bytes total disk space")))
        << seen.boxDetail.toStdString();
    EXPECT_TRUE(seen.boxDetail.contains(QStringLiteral("1,457,664 bytes available")))
        << seen.boxDetail.toStdString();
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

// The label field takes what the file system's label rule takes, counted in bytes.
TEST_F(FormatDialogTest, TheLabelFieldFollowsTheFileSystemsRule) {
    ASSERT_TRUE(writeFile(m_image, patternBytes(kImageBytes)));
    bool checked = false;
    whenModal("format dialog", formatDialog(), [&checked](QWidget* f) {
        const QValidator* rule =
            f->findChild<QLineEdit*>(QStringLiteral("volumeLabel"))->validator();
        ASSERT_NE(rule, nullptr);
        const std::pair<QString, bool> cases[] = {
            {QStringLiteral("rescue 1"), true},      {QStringLiteral("{X}~!#$%&'("), true},
            {QStringLiteral(" LEADING"), false},     {QStringLiteral("A.B"), false},
            {QStringLiteral("TWELVE CHARS"), false}, {QString::fromUtf8("CAF\u00c9"), false},
            {QString::fromUtf8("\u00e5BC"), false},
        };
        for (const auto& [label, accepted] : cases) {
            QString text = label;
            int position = 0;
            EXPECT_EQ(rule->validate(text, position) == QValidator::Acceptable, accepted)
                << label.toStdString();
        }
        checked = true;
        QTest::mouseClick(f->findChild<QPushButton*>(QStringLiteral("close")), Qt::LeftButton);
    });
    qtui::runFormatDialog(nullptr, 0);
    EXPECT_TRUE(checked);
}

TEST_F(FormatDialogTest, CancelledWarningLeavesTheDiskette) {
    const QByteArray original = patternBytes(kImageBytes);
    ASSERT_TRUE(writeFile(m_image, original));
    Seen seen;
    driveFormatDialog(seen, QString(), true, false);
    qtui::runFormatDialog(nullptr, 0);
    EXPECT_TRUE(seen.warned);
    EXPECT_FALSE(seen.reported);
    EXPECT_TRUE(readFile(m_image) == original);
}

TEST_F(FormatDialogTest, TenMegabyteFileIsRefusedInWords) {
    const QByteArray original = patternBytes(10 * 1024 * 1024);
    ASSERT_TRUE(writeFile(m_image, original));
    Seen seen;
    driveFormatDialog(seen, QString(), true, true);
    qtui::runFormatDialog(nullptr, 0);
    EXPECT_EQ(seen.capacity, QStringLiteral("Not a diskette"));
    ASSERT_TRUE(seen.reported);
    EXPECT_EQ(seen.boxText,
              QStringLiteral("Drive A: does not hold a diskette, so nothing was formatted."));
    EXPECT_TRUE(seen.boxDetail.contains(QStringLiteral("10,485,760 bytes")))
        << seen.boxDetail.toStdString();
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
    qtui::runFormatDialog(nullptr, 0);
    EXPECT_EQ(protectedSeen.capacity, QStringLiteral("3.5\", 1.44MB, 512 bytes/sector"));
    EXPECT_TRUE(protectedSeen.boxText.startsWith(
        QStringLiteral("The diskette in drive A: is write-protected.")))
        << protectedSeen.boxText.toStdString();

    ASSERT_TRUE(QFile::remove(m_image));
    Seen emptySeen;
    driveFormatDialog(emptySeen, QString(), true, true);
    qtui::runFormatDialog(nullptr, 0);
    EXPECT_EQ(emptySeen.capacity, QStringLiteral("No diskette"));
    EXPECT_TRUE(emptySeen.boxText.startsWith(QStringLiteral("There is no diskette in drive A:.")))
        << emptySeen.boxText.toStdString();
    EXPECT_FALSE(QFile::exists(m_image));
}

// The format-only kind from the main dialog: Start opens this dialog, the diskette is
// formatted, and the focus is back on Start afterwards.
TEST_F(FormatDialogTest, FormatOnlyKindFromStartToFinish) {
    ASSERT_TRUE(writeFile(m_image, patternBytes(kImageBytes)));
    CCrisisDlg dlg;
    Seen seen;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        QTest::mouseClick(controlWidget<QRadioButton>(w, IDC_RADIO_FORMAT), Qt::LeftButton);
        driveFormatDialog(seen, QStringLiteral("disk1"), true, true);
        QTest::mouseClick(controlWidget<QPushButton>(w, IDC_START), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        EXPECT_EQ(QApplication::focusWidget(), controlWidget<QPushButton>(w, IDC_START));
        EXPECT_TRUE(controlWidget<QPushButton>(w, IDC_BUTTON_CLOSE)->isEnabled());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
    ASSERT_TRUE(seen.reported);
    EXPECT_EQ(seen.boxText, QStringLiteral("Format Complete."));
    expectFormattedImage();
}

}  // namespace
}  // namespace guitest
