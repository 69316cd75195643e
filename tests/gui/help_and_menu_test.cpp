// Context help (F1, the caption's help button, a right click) and the system menu's
// About entry, through real key presses and clicks.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QWhatsThis>
#include <QtTest/QTest>

#include "app/AboutDlg.h"
#include "app/CrisisDlg.h"
#include "gui_support.h"
#include "res/resources.h"

namespace guitest {
namespace {

constexpr const char* kCloseTopic =
    "Close\n\nSaves the list of recent project folders and ends the program.";
constexpr const char* kStartTopic =
    "Start\n\nRuns the chosen action: checks the diskette and the project folder, formats the "
    "diskette, copies the files and, for a MINIDOS disk, writes the boot sector.";
constexpr const char* kProgressTopic =
    "Progress\n\nShows how much of the diskette's files have been copied.";

QPoint centreOf(QWidget* control) {
    return control->geometry().center();
}

class HelpTest : public GuiTest {};

TEST_F(HelpTest, F1ShowsTheFocusedControlsTopic) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        ASSERT_EQ(QApplication::focusWidget(), controlWidget<QPushButton>(w, 1007));
        pressKey(Qt::Key_F1);
        ASSERT_EQ(m_backend.helpShown().size(), 1u);
        EXPECT_EQ(m_backend.helpShown()[0].controlId, 1007);
        EXPECT_EQ(m_backend.helpShown()[0].topic, kCloseTopic);
        EXPECT_EQ(m_backend.helpShown()[0].command, HELP_WM_HELP);
        EXPECT_EQ(visibleHelpPopups(), 1);
        closeHelpPopups();
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(HelpTest, HelpButtonThenClickShowsTopicExceptOnStatusLine) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        auto* status = controlWidget<QLineEdit>(w, 1008);
        // Shift+F1 is the keyboard's way to the caption's help button.
        pressKey(Qt::Key_F1, Qt::ShiftModifier);
        ASSERT_TRUE(QWhatsThis::inWhatsThisMode());
        ASSERT_FALSE(status->isEnabled());
        clickAt(w, centreOf(status));
        EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
        EXPECT_TRUE(m_backend.helpShown().empty());
        EXPECT_EQ(visibleHelpPopups(), 0);

        // Enabled or not, the status line has no topic.
        dlg.m_editStatus.EnableWindow(TRUE);
        QWhatsThis::enterWhatsThisMode();
        clickAt(w, centreOf(status));
        EXPECT_TRUE(m_backend.helpShown().empty());
        dlg.m_editStatus.EnableWindow(FALSE);

        QWhatsThis::enterWhatsThisMode();
        clickAt(w, centreOf(controlWidget<QPushButton>(w, 1006)));
        ASSERT_EQ(m_backend.helpShown().size(), 1u);
        EXPECT_EQ(m_backend.helpShown()[0].controlId, 1006);
        EXPECT_EQ(m_backend.helpShown()[0].topic, kStartTopic);
        EXPECT_EQ(m_backend.helpShown()[0].command, HELP_WM_HELP);
        EXPECT_EQ(visibleHelpPopups(), 1);
        closeHelpPopups();
        // The click asked for help; it did not press Start.
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(HelpTest, RightClickOffersHelpMenuOnEnabledControlsOnly) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        bool menuShown = false;
        whenPopup("help menu", menuNamed(QStringLiteral("helpMenu")), [&](QWidget* menu) {
            menuShown = true;
            EXPECT_TRUE(chooseMenuEntry(menu, QStringLiteral("&What's This?")));
        });
        clickAt(w, centreOf(controlWidget<QProgressBar>(w, 1005)), Qt::RightButton);
        EXPECT_TRUE(menuShown);
        ASSERT_EQ(m_backend.helpShown().size(), 2u);
        EXPECT_EQ(m_backend.helpShown()[0].controlId, 1005);
        EXPECT_EQ(m_backend.helpShown()[0].command, HELP_CONTEXTMENU);
        EXPECT_EQ(m_backend.helpShown()[1].topic, kProgressTopic);
        EXPECT_EQ(visibleHelpPopups(), 1);
        closeHelpPopups();
        m_backend.clearHelpShown();

        // A disabled control, a label and the background give the dialog: nothing.
        clickAt(w, centreOf(controlWidget<QPushButton>(w, 1004)), Qt::RightButton);
        for (QLabel* label : w->findChildren<QLabel*>())
            clickAt(w, centreOf(label), Qt::RightButton);
        clickAt(w, QPoint(3, w->height() - 3), Qt::RightButton);
        EXPECT_TRUE(m_backend.helpShown().empty());
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

        // The project path's text, once enabled, offers its own editing menu instead.
        dlg.m_comboPath.EnableWindow(TRUE);
        auto* combo = controlWidget<QComboBox>(w, 1000);
        bool editMenuShown = false;
        whenPopup(
            "edit menu",
            [](QWidget* p) {
                return qobject_cast<QMenu*>(p) && p->objectName() != QStringLiteral("helpMenu");
            },
            [&](QWidget* menu) {
                editMenuShown = true;
                menu->close();
            });
        clickAt(w, combo->lineEdit()->mapTo(w, combo->lineEdit()->rect().center()),
                Qt::RightButton);
        // That menu pops up without a loop of its own.
        EXPECT_TRUE(QTest::qWaitFor([&editMenuShown] { return editMenuShown; }, 5000));
        EXPECT_TRUE(m_backend.helpShown().empty());
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(HelpTest, ShiftF10AndMenuKeyOfferHelpForTheFocusedControl) {
    CCrisisDlg dlg;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget*) {
        int menus = 0;
        auto dismissMenu = [&menus](QWidget* menu) {
            ++menus;
            menu->close();
        };
        whenPopup("help menu", menuNamed(QStringLiteral("helpMenu")), dismissMenu);
        pressKey(Qt::Key_F10, Qt::ShiftModifier);
        whenPopup("help menu", menuNamed(QStringLiteral("helpMenu")), dismissMenu);
        pressKey(Qt::Key_Menu);
        EXPECT_EQ(menus, 2);
        // Only offered: the menu was closed without choosing its entry.
        ASSERT_EQ(m_backend.helpShown().size(), 2u);
        for (const auto& shown : m_backend.helpShown()) {
            EXPECT_EQ(shown.controlId, 1007);
            EXPECT_EQ(shown.command, HELP_CONTEXTMENU);
            EXPECT_TRUE(shown.topic.empty());
        }
        EXPECT_EQ(visibleHelpPopups(), 0);
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
}

TEST_F(HelpTest, F1InTheAboutBoxShowsTheContents) {
    CAboutDlg about;
    whenModal("About box", dialogOf(res::kIddAboutBox), [&](QWidget*) {
        pressKey(Qt::Key_F1);
        ASSERT_EQ(m_backend.helpShown().size(), 1u);
        const std::string& topic = m_backend.helpShown()[0].topic;
        EXPECT_EQ(topic.substr(0, topic.find('\n')), "Korvane Crisis Disk Build");
        for (const char* title : {"\nProject Path\n", "\nStart\n", "\nClose\n"})
            EXPECT_NE(topic.find(title), std::string::npos) << title;
        EXPECT_EQ(visibleHelpPopups(), 1);
        closeHelpPopups();
        pressKey(Qt::Key_Escape);
    });
    EXPECT_EQ(about.DoModal(), IDCANCEL);
}

class SystemMenuTest : public GuiTest {};

TEST_F(SystemMenuTest, AltSpaceMenuOpensAboutBox) {
    CCrisisDlg dlg;
    bool aboutShown = false;
    whenModal("main dialog", dialogOf(res::kIddCrisisDialog), [&](QWidget* w) {
        whenPopup("system menu", menuNamed(QStringLiteral("systemMenu")), [&](QWidget* menu) {
            QStringList entries;
            for (QAction* a : qobject_cast<QMenu*>(menu)->actions())
                entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
            // The last entry names drive A: after its own name.
            ASSERT_FALSE(entries.isEmpty());
            EXPECT_TRUE(entries.last().startsWith(QStringLiteral("&Drive A:")))
                << entries.last().toStdString();
            entries.last() = QStringLiteral("&Drive A:");
            EXPECT_EQ(entries, (QStringList{QStringLiteral("&Close\tAlt+F4"), QStringLiteral("-"),
                                            QStringLiteral("&About Quenvol..."),
                                            QStringLiteral("-"), QStringLiteral("&Drive A:")}));
            whenModal("About box", dialogOf(res::kIddAboutBox), [&](QWidget* about) {
                aboutShown = true;
                EXPECT_EQ(about->windowTitle(), QStringLiteral("About Quenvol"));
                QStringList texts;
                for (QLabel* label : about->findChildren<QLabel*>()) texts << label->text();
                EXPECT_TRUE(texts.contains(QStringLiteral("Quenvol Version 1.0")));
                auto* ok = controlWidget<QPushButton>(about, 1);
                ASSERT_NE(ok, nullptr);
                EXPECT_TRUE(ok->isDefault());
                EXPECT_TRUE(about->geometry().contains(w->geometry().center()) ||
                            w->geometry().contains(about->geometry().center()));
                pressKey(Qt::Key_Return);
            });
            EXPECT_TRUE(chooseMenuEntry(menu, QStringLiteral("&About Quenvol...")));
        });
        pressKey(Qt::Key_Space, Qt::AltModifier);
        EXPECT_TRUE(aboutShown);
        // Back in the main dialog, which stays open.
        EXPECT_EQ(QApplication::activeModalWidget(), w);
        EXPECT_FALSE(dlg.HasEnded());

        // The menu's Close cancels.
        whenPopup("system menu", menuNamed(QStringLiteral("systemMenu")), [](QWidget* menu) {
            EXPECT_TRUE(chooseMenuEntry(menu, QStringLiteral("&Close\tAlt+F4")));
        });
        pressKey(Qt::Key_Space, Qt::AltModifier);
    });
    EXPECT_EQ(runMain(dlg), IDCANCEL);
    EXPECT_TRUE(aboutShown);
}

TEST_F(SystemMenuTest, AboutBoxEndsWithOkOrEscape) {
    {
        CAboutDlg about;
        whenModal("About box", dialogOf(res::kIddAboutBox), [](QWidget* w) {
            auto* ok = controlWidget<QPushButton>(w, 1);
            ASSERT_NE(ok, nullptr);
            EXPECT_EQ(QApplication::focusWidget(), ok);
            // The icon control shows the 32-pixel icon.
            bool iconShown = false;
            for (QLabel* label : w->findChildren<QLabel*>())
                if (!label->pixmap().isNull() && label->pixmap().size() == QSize(32, 32))
                    iconShown = true;
            EXPECT_TRUE(iconShown);
            // Every control has a name for screen readers, the icon included.
            for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                QAccessibleInterface* face = QAccessible::queryAccessibleInterface(child);
                EXPECT_TRUE(face && !face->text(QAccessible::Name).isEmpty())
                    << child->metaObject()->className();
            }
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        EXPECT_EQ(about.DoModal(), IDOK);
    }
    {
        CAboutDlg about;
        whenModal("About box", dialogOf(res::kIddAboutBox),
                  [](QWidget*) { pressKey(Qt::Key_Escape); });
        EXPECT_EQ(about.DoModal(), IDCANCEL);
    }
}

}  // namespace
}  // namespace guitest
