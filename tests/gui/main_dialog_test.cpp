// The main dialog in real windows: its layout from template 102, and the keyboard and mouse
// rules of its dialog manager.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QtTest/QTest>
#include <cmath>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "gui_support.h"
#include "res/resources.h"
#include "ui/qt/icon_image.h"

namespace guitest {
namespace {

using qtui::DialogWindow;

DialogWindow& windowOf(QWidget* w) {
    return *qobject_cast<DialogWindow*>(w);
}

bool settingsWritten(const std::string& path) {
    return QFileInfo::exists(QString::fromStdString(path));
}

// The image the window system has been given for a window, not a fresh rendering.
QImage shownImage(QWidget* window) {
    return window->screen()->grabWindow(window->winId()).toImage();
}

class MainDialogTest : public GuiTest {};

TEST_F(MainDialogTest, ShowsTemplate102AtItsPlacesWithFocusOnClose) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        DialogWindow& window = windowOf(w);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Korvane Crisis Disk Build"));
        EXPECT_TRUE(window.windowFlags() & Qt::WindowContextHelpButtonHint);
        EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));

        auto* close = controlWidget<QPushButton>(w, 1007);
        auto* browse = controlWidget<QPushButton>(w, 1004);
        auto* start = controlWidget<QPushButton>(w, 1006);
        auto* combo = controlWidget<QComboBox>(w, 1000);
        auto* minidos = controlWidget<QRadioButton>(w, 1001);
        auto* fulldos = controlWidget<QRadioButton>(w, 1003);
        auto* format = controlWidget<QRadioButton>(w, 1002);
        auto* status = controlWidget<QLineEdit>(w, 1008);
        auto* progress = controlWidget<QProgressBar>(w, 1005);
        auto* group = w->findChild<QGroupBox*>();
        QLabel* label = nullptr;
        for (QLabel* l : w->findChildren<QLabel*>())
            if (l->text() == QStringLiteral("Project Path:")) label = l;
        ASSERT_TRUE(close && browse && start && combo && minidos && fulldos && format && status &&
                    progress && group && label);

        EXPECT_EQ(close->text(), QStringLiteral("&Close"));
        EXPECT_EQ(browse->text(), QStringLiteral("&Browse..."));
        EXPECT_EQ(start->text(), QStringLiteral("&Start"));
        EXPECT_EQ(minidos->text(), QStringLiteral("Create &MINIDOS Crisis Disk"));
        EXPECT_EQ(fulldos->text(), QStringLiteral("Create &FULLDOS Crisis Disk"));
        EXPECT_EQ(format->text(), QStringLiteral("Format the &A: Drive Diskette"));
        EXPECT_EQ(group->title(), QStringLiteral("Disk Options"));
        // No button is the default one.
        for (auto* button : {close, browse, start}) {
            EXPECT_FALSE(button->isDefault());
            EXPECT_FALSE(button->autoDefault());
        }
        EXPECT_TRUE(close->isEnabled() && start->isEnabled());
        EXPECT_FALSE(browse->isEnabled());
        EXPECT_FALSE(combo->isEnabled());
        EXPECT_TRUE(combo->isEditable());
        EXPECT_FALSE(status->isEnabled());
        EXPECT_TRUE(status->isReadOnly());
        EXPECT_TRUE(minidos->isChecked());
        EXPECT_FALSE(fulldos->isChecked());
        EXPECT_FALSE(format->isChecked());
        EXPECT_EQ(progress->minimum(), 0);
        EXPECT_EQ(progress->maximum(), 50);
        EXPECT_EQ(progress->value(), 0);
        EXPECT_EQ(QApplication::focusWidget(), close);

        // Dialog units scale evenly: the scale measured between two controls places all.
        const double sx = (close->geometry().left() - label->geometry().left()) / double(160 - 14);
        const auto centreY = [](QWidget* c) {
            return c->geometry().top() + c->geometry().height() / 2.0;
        };
        const double sy = (centreY(progress) - centreY(close)) / double((173 + 7) - (91 + 7));
        EXPECT_GT(sx, 1.0);
        EXPECT_GT(sy, 1.0);
        // The dialog font's height is eight vertical units.
        EXPECT_NEAR(sy * 8, QFontMetrics(window.font()).height(), 1.0);
        struct Place {
            QWidget* widget;
            int x, y, cy;
        };
        const Place places[] = {{close, 160, 91, 14},  {label, 14, 19, 8},
                                {minidos, 22, 83, 10}, {fulldos, 22, 102, 10},
                                {format, 22, 120, 10}, {group, 14, 67, 76},
                                {status, 14, 156, 12}, {progress, 14, 173, 14},
                                {browse, 161, 14, 14}, {start, 160, 71, 14}};
        for (const Place& p : places) {
            SCOPED_TRACE(p.widget->objectName().toStdString() + " " +
                         p.widget->metaObject()->className());
            EXPECT_NEAR(p.widget->geometry().left(), p.x * sx, 2.0);
            EXPECT_NEAR(centreY(p.widget), (p.y + p.cy / 2.0) * sy, 2.0);
            EXPECT_TRUE(window.rect().contains(p.widget->geometry()));
        }
        EXPECT_NEAR(combo->geometry().left(), 14 * sx, 2.0);
        EXPECT_NEAR(combo->geometry().top(), 32 * sy, 2.0);
        EXPECT_GE(combo->width(), std::lround(194 * sx) - 1);
        // Nothing is clipped: each text control is at least as wide as its text needs.
        for (QWidget* c :
             std::initializer_list<QWidget*>{close, browse, start, minidos, fulldos, format, label})
            EXPECT_GE(c->width(), c->sizeHint().width()) << c->objectName().toStdString();
        // The radio buttons sit inside their group box; the buttons beside it.
        for (QWidget* r : std::initializer_list<QWidget*>{minidos, fulldos, format})
            EXPECT_TRUE(group->geometry().contains(r->geometry())) << r->objectName().toStdString();
        EXPECT_GT(close->geometry().left(), group->geometry().right());
        EXPECT_LT(start->geometry().bottom(), close->geometry().top());
        EXPECT_LT(status->geometry().bottom(), progress->geometry().top());
        // The framework knows the client area it paints in.
        RECT client;
        dlg.GetClientRect(&client);
        EXPECT_EQ(client.right - client.left, window.width());
        EXPECT_EQ(client.bottom - client.top, window.height());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

QString accessible(QWidget* widget, QAccessible::Text what) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(what) : QString();
}

TEST_F(MainDialogTest, ControlsTellScreenReadersTheirNamesAndHelpTopics) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        const struct {
            int id;
            const char* name;
            const char* description;  // how the help topic's text begins
        } expected[] = {
            {1007, "Close", "Saves the list of recent project folders"},
            {1000, "Project Path", "The folder that holds the output of one BIOS build"},
            {1001, "Create MINIDOS Crisis Disk", "Formats the diskette, copies the minimal DOS"},
            {1003, "Create FULLDOS Crisis Disk", "Formats the diskette and copies the files"},
            {1002, "Format the A: Drive Diskette", "Only formats the diskette"},
            {1008, "Status", "Names the step the build is working on."},
            {1005, "Progress", "Shows how much of the diskette's files"},
            {1004, "Browse...", "Opens a folder chooser"},
            {1006, "Start", "Runs the chosen action"},
        };
        for (const auto& e : expected) {
            SCOPED_TRACE(e.id);
            QWidget* control = controlWidget<QWidget>(w, e.id);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(accessible(control, QAccessible::Name).toStdString(), e.name);
            EXPECT_TRUE(accessible(control, QAccessible::Description).startsWith(e.description))
                << accessible(control, QAccessible::Description).toStdString();
        }
        QLineEdit* path = controlWidget<QComboBox>(w, 1000)->lineEdit();
        EXPECT_EQ(accessible(path, QAccessible::Name).toStdString(), "Project Path");
        EXPECT_TRUE(accessible(path, QAccessible::Description).startsWith("The folder"));
        // The labels and the group box are named by their text.
        const auto children = w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        EXPECT_EQ(children.size(), 11);
        for (QWidget* child : children)
            EXPECT_FALSE(accessible(child, QAccessible::Name).isEmpty())
                << child->metaObject()->className();
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, StartUpShowsTheCommandLineAsProjectPath) {
    theApp.SetStartupInfo("quenvol", "\"/srv/bios builds/x42\" ",
                          QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP");
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [](QWidget* w) {
        auto& window = *qobject_cast<DialogWindow*>(w);
        EXPECT_EQ(AfxGetMainWnd(), &window.dialog());
        // Quotes and the trailing blank stay part of the path.
        EXPECT_EQ(controlWidget<QComboBox>(w, 1000)->currentText(),
                  QStringLiteral("\"/srv/bios builds/x42\" "));
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(theApp.InitInstance(), FALSE);
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
}

TEST_F(MainDialogTest, QtOptionNamesOnTheCommandLineStayInTheProjectPath) {
    // The program itself, offscreen, told to press Close once its dialog shows: the history it
    // saves ends with the project path it was started with.
    const std::vector<QStringList> commandLines = {
        {"-reverse"},           {"-style", "fusion"},     {"-stylesheet", "x.qss"},
        {"-session", "x"},      {"-platform", "xcb"},     {"-widgetcount"},
        {"-name", "foo", "/p"}, {"-title", "t"},          {"-qwindowgeometry", "9x9", "-p"},
        {"-display", ":9"},     {"--reverse", "-", "--"},
    };
    for (const QStringList& args : commandLines) {
        SCOPED_TRACE(args.join(' ').toStdString());
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QUENVOL_TEST_PRESS_CLOSE"), QStringLiteral("1"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(m_startDir.path());
        program.start(QStringLiteral(QUENVOL_BINARY_DIR "/src/quenvol"), args);
        ASSERT_TRUE(program.waitForFinished(30000)) << program.readAllStandardError().toStdString();
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        QFile settings(QString::fromStdString(settingsFile()));
        ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
        // The words name a folder in the start directory, as the history keeps them.
        EXPECT_EQ(settings.readAll().toStdString(),
                  "\r\n\r\n\r\n" + QDir(m_startDir.path()).canonicalPath().toStdString() + "/" +
                      args.join(' ').toStdString() + "\r\n");
        settings.remove();
    }
}

TEST_F(MainDialogTest, EnterOnCloseWritesHistoryAndEnds) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog),
              [](QWidget*) { pressKey(Qt::Key_Return); });
    runMain(dlg);
    EXPECT_TRUE(dlg.m_hWnd == nullptr || dlg.m_hWnd->destroyed);
    EXPECT_TRUE(settingsWritten(settingsFile()));
}

TEST_F(MainDialogTest, EscapeAndCaptionCloseCancelWithoutWritingHistory) {
    {
        CCrisisDlg dlg;
        whenModal("main dialog", dialogOf(res::kIddCrisisDialog),
                  [](QWidget*) { pressKey(Qt::Key_Escape); });
        EXPECT_EQ(runMain(dlg), IDCANCEL);
    }
    {
        CCrisisDlg dlg;
        whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [](QWidget* w) { w->close(); });
        EXPECT_EQ(runMain(dlg), IDCANCEL);
    }
    {
        CCrisisDlg dlg;
        whenModal("main dialog", dialogOf(res::kIddCrisisDialog),
                  [](QWidget*) { pressKey(Qt::Key_F4, Qt::AltModifier); });
        EXPECT_EQ(runMain(dlg), IDCANCEL);
    }
    EXPECT_FALSE(settingsWritten(settingsFile()));
}

// In the open project-path list, Escape closes the list and Enter chooses the entry under
// the cursor; neither ends the program nor starts a build (which would ask something).
TEST_F(MainDialogTest, KeysInTheOpenPathListAreTheLists) {
    QFile settings(QString::fromStdString(settingsFile()));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("P1\r\nP2\r\nP3\r\nP4\r\n");
    settings.close();
    struct Case {
        Qt::Key key;
        QString chosen;
    };
    for (const Case& c : {Case{Qt::Key_Escape, "P4"}, Case{Qt::Key_Return, "P3"}}) {
        SCOPED_TRACE(c.key);
        CCrisisDlg dlg;
        int questions = 0;
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget(); qobject_cast<QMessageBox*>(box)) {
                ++questions;
                dismiss(box);
            }
        });
        watchdog.start(50);
        whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
            dlg.EnableControls(TRUE);
            auto* combo = controlWidget<QComboBox>(w, 1000);
            combo->setFocus();
            combo->showPopup();
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget(); }));
            // Through the window system, as a key reaches the program while the list is open.
            const auto press = [](Qt::Key key) {
                ASSERT_NE(QGuiApplication::focusWindow(), nullptr);
                QTest::keyClick(QGuiApplication::focusWindow(), key);
            };
            if (c.key == Qt::Key_Return) press(Qt::Key_Down);
            press(c.key);
            EXPECT_TRUE(QTest::qWaitFor([] { return !QApplication::activePopupWidget(); }));
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(combo->currentText(), c.chosen);
            QTest::mouseClick(controlWidget<QPushButton>(w, 1007), Qt::LeftButton);
        });
        runMain(dlg);
        EXPECT_EQ(questions, 0);
        // Close, not Escape, ended it: the history was written.
        EXPECT_TRUE(settings.open(QIODevice::ReadOnly));
        EXPECT_TRUE(settings.readAll().endsWith("P4\r\n"));
        settings.close();
    }
}

// Each control that takes the keyboard shows that it has it.
TEST_F(MainDialogTest, TheFocusedControlIsMarked) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        dlg.EnableControls(TRUE);  // the path field and Browse take the keyboard too
        // Close has the focus at first, so it comes last: each is unfocused when first drawn.
        for (int id : {1000, 1001, 1004, 1006, 1007}) {
            SCOPED_TRACE(id);
            auto* control = w->findChild<QWidget*>(QStringLiteral("ctl%1").arg(id));
            ASSERT_NE(control, nullptr);
            const QImage unfocused = control->grab().toImage();
            dlg.GetDlgItem(id)->SetFocus();
            ASSERT_TRUE(QTest::qWaitFor([control] {
                QWidget* f = QApplication::focusWidget();
                return f == control || control->isAncestorOf(f);
            }));
            EXPECT_NE(control->grab().toImage(), unfocused);
        }
        pressKey(Qt::Key_Escape);
    });
    runMain(dlg);
}

TEST_F(MainDialogTest, EnterOnRadioButtonRunsStart) {
    CCrisisDlg dlg;
    bool formatShown = false;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        auto* format = controlWidget<QRadioButton>(w, 1002);
        QTest::mouseClick(format, Qt::LeftButton);
        EXPECT_TRUE(format->isChecked());
        EXPECT_FALSE(controlWidget<QRadioButton>(w, 1001)->isChecked());
        EXPECT_EQ(dlg.m_nDiskKind, 2);
        EXPECT_EQ(QApplication::focusWidget(), format);
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [&](QWidget* f) {
            formatShown = true;
            dismiss(f);
        });
        pressKey(Qt::Key_Return);
        EXPECT_TRUE(formatShown);
        // Start takes the focus after the format dialog, and the dialog stays open.
        EXPECT_TRUE(waitForFocus(controlWidget<QPushButton>(w, 1006)));
        EXPECT_EQ(dlg.m_hWnd->focus, dlg.GetDlgItem(IDC_START)->m_hWnd);
        EXPECT_TRUE(w->isVisible());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
    EXPECT_TRUE(formatShown);
}

TEST_F(MainDialogTest, ClickingStartFormatsAndFocusesStart) {
    CCrisisDlg dlg;
    int formatsShown = 0;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        QTest::mouseClick(controlWidget<QRadioButton>(w, 1002), Qt::LeftButton);
        // A second click on a checked radio button leaves it checked.
        QTest::mouseClick(controlWidget<QRadioButton>(w, 1002), Qt::LeftButton);
        EXPECT_TRUE(controlWidget<QRadioButton>(w, 1002)->isChecked());
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [&](QWidget* f) {
            ++formatsShown;
            dismiss(f);
        });
        QTest::mouseClick(controlWidget<QPushButton>(w, 1006), Qt::LeftButton);
        EXPECT_EQ(formatsShown, 1);
        EXPECT_TRUE(waitForFocus(controlWidget<QPushButton>(w, 1006)));
        // Enter on the focused Start presses it again.
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [&](QWidget* f) {
            ++formatsShown;
            dismiss(f);
        });
        pressKey(Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(formatsShown, 2);
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, TypedProjectPathReachesStart) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        QTest::mouseClick(controlWidget<QRadioButton>(w, 1002), Qt::LeftButton);
        dlg.m_comboPath.EnableWindow(TRUE);
        auto* combo = controlWidget<QComboBox>(w, 1000);
        ASSERT_TRUE(combo->isEnabled());
        QTest::mouseClick(combo->lineEdit(), Qt::LeftButton);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("/srv/bios/x42"));
        EXPECT_EQ(dlg.m_comboPath.GetWindowText(), CString("/srv/bios/x42"));
        whenModal("format dialog", dialogOf(res::kIddFormatDrive), [](QWidget* f) { dismiss(f); });
        // Enter in the project path's text runs Start, which reads the text.
        pressKey(Qt::Key_Return);
        EXPECT_EQ(dlg.m_strProjectPath, CString("/srv/bios/x42"));
        EXPECT_EQ(combo->count(), dlg.m_comboPath.GetCount());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, TabFollowsTemplateOrderAndArrowsMoveInRadioGroup) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        auto* close = controlWidget<QPushButton>(w, 1007);
        auto* start = controlWidget<QPushButton>(w, 1006);
        auto* minidos = controlWidget<QRadioButton>(w, 1001);
        auto* fulldos = controlWidget<QRadioButton>(w, 1003);
        auto* format = controlWidget<QRadioButton>(w, 1002);
        ASSERT_EQ(QApplication::focusWidget(), close);
        // Disabled controls are skipped: Close, the radio group, Start.
        pressKey(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), minidos);
        pressKey(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), start);
        pressKey(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), close);
        pressKey(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), start);
        pressKey(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), minidos);

        // The arrows check the next button of the group, wrapping round.
        pressKey(Qt::Key_Down);
        EXPECT_EQ(QApplication::focusWidget(), fulldos);
        EXPECT_TRUE(fulldos->isChecked());
        EXPECT_FALSE(minidos->isChecked());
        EXPECT_EQ(dlg.m_nDiskKind, 1);
        pressKey(Qt::Key_Right);
        EXPECT_EQ(dlg.m_nDiskKind, 2);
        pressKey(Qt::Key_Down);
        EXPECT_EQ(dlg.m_nDiskKind, 0);
        pressKey(Qt::Key_Up);
        EXPECT_EQ(dlg.m_nDiskKind, 2);
        EXPECT_TRUE(format->isChecked());

        // Tab enters the group at its checked button.
        pressKey(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), start);
        pressKey(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), format);
        EXPECT_EQ(dlg.m_hWnd->focus, dlg.GetDlgItem(IDC_RADIO_FORMAT)->m_hWnd);
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, StatusLineAndProgressBarShowChangesAtOnce) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        auto* status = controlWidget<QLineEdit>(w, 1008);
        auto* progress = controlWidget<QProgressBar>(w, 1005);
        QApplication::processEvents();
        const QImage before = shownImage(w);
        const QRect statusArea = status->geometry();
        const QRect barArea = progress->geometry();

        // A change Qt only schedules stays unseen until the loop runs: the check can fail.
        status->setText(QStringLiteral("scheduled, not painted"));
        EXPECT_EQ(shownImage(w).copy(statusArea), before.copy(statusArea));
        status->setText(QString());
        QApplication::processEvents();

        // No event is processed between the change and the look at the window.
        const QImage idle = shownImage(w);
        dlg.SetStatusText(texts::copying("MINIDOS.SYS").c_str());
        const QImage copying = shownImage(w);
        EXPECT_NE(copying.copy(statusArea), idle.copy(statusArea));
        EXPECT_EQ(copying.copy(barArea), idle.copy(barArea));

        dlg.m_progress.SetPos(25);
        const QImage half = shownImage(w);
        EXPECT_NE(half.copy(barArea), copying.copy(barArea));
        // The left part of the bar changed, the right end did not.
        const int y = barArea.center().y();
        EXPECT_NE(half.pixel(barArea.left() + barArea.width() / 4, y),
                  copying.pixel(barArea.left() + barArea.width() / 4, y));
        EXPECT_EQ(half.pixel(barArea.right() - barArea.width() / 8, y),
                  copying.pixel(barArea.right() - barArea.width() / 8, y));

        dlg.EnableControls(FALSE);
        const QImage busy = shownImage(w);
        const QRect closeArea = controlWidget<QPushButton>(w, 1007)->geometry();
        EXPECT_NE(busy.copy(closeArea), half.copy(closeArea));

        dlg.ResetStatus();
        dlg.EnableControls(TRUE);
        const QImage reset = shownImage(w);
        EXPECT_EQ(reset.copy(barArea), idle.copy(barArea));
        EXPECT_EQ(reset.copy(statusArea), idle.copy(statusArea));
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, MinimisedDialogPaintsItsIconInTheMiddle) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        w->setWindowState(Qt::WindowMinimized);
        EXPECT_TRUE(dlg.IsIconic());
        const QImage painted = w->grab().toImage();
        const QImage icon = qtui::iconImage(res::applicationIcon(), 32);
        const int x = (w->width() - 32 + 1) / 2;
        const int y = (w->height() - 32 + 1) / 2;
        int opaque = 0;
        for (int iy = 0; iy < 32; ++iy)
            for (int ix = 0; ix < 32; ++ix) {
                if (qAlpha(icon.pixel(ix, iy)) == 0) continue;
                ++opaque;
                ASSERT_EQ(painted.pixel(x + ix, y + iy) & 0xFFFFFF, icon.pixel(ix, iy) & 0xFFFFFF)
                    << "icon pixel " << ix << "," << iy;
            }
        EXPECT_GT(opaque, 100);
        // Nothing else is drawn: the corner shows the background.
        EXPECT_EQ(painted.pixel(2, 2), w->palette().window().color().rgb());

        w->setWindowState(Qt::WindowNoState);
        EXPECT_FALSE(dlg.IsIconic());
        EXPECT_TRUE(controlWidget<QPushButton>(w, 1007)->isVisible());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(MainDialogTest, WindowIconComesFromTheIconThemeElseTheDrawnOne) {
    // The other tests see the icon theme as it was, however this one ends.
    struct RestoreTheme {
        QStringList paths = QIcon::themeSearchPaths();
        QString name = QIcon::themeName();
        ~RestoreTheme() {
            QIcon::setThemeSearchPaths(paths);
            QIcon::setThemeName(name);
        }
    } restore;
    QTemporaryDir icons;
    ASSERT_TRUE(icons.isValid());
    QIcon::setThemeName(QStringLiteral("hicolor"));
    for (const bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "theme holds the icon" : "theme lacks the icon");
        const QString theme = icons.filePath(installed ? "with" : "without");
        const QString apps = theme + "/hicolor/48x48/apps";
        ASSERT_TRUE(QDir().mkpath(apps));
        QFile index(theme + "/hicolor/index.theme");
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        index.write(
            "[Icon Theme]\nName=hicolor\nDirectories=48x48/apps\n\n"
            "[48x48/apps]\nSize=48\nType=Fixed\n");
        index.close();
        QImage green(48, 48, QImage::Format_ARGB32);
        green.fill(QColor(0, 255, 0));
        if (installed) {
            ASSERT_TRUE(green.save(apps + "/" QUENVOL_APP_ID ".png"));
        }
        QIcon::setThemeSearchPaths({theme});

        CCrisisDlg dlg;
        whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
            const QIcon shown = w->windowIcon();
            if (installed) {
                EXPECT_EQ(shown.pixmap(48).toImage().pixel(24, 24), green.pixel(24, 24));
            } else {
                const QImage drawn = qtui::iconImage(res::applicationIcon(), 32);
                EXPECT_EQ(shown.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
                          drawn.convertToFormat(QImage::Format_ARGB32));
            }
            pressKey(Qt::Key_Escape);
        });
        EXPECT_EQ(runMain(dlg), IDCANCEL);
    }
}

}  // namespace
}  // namespace guitest
