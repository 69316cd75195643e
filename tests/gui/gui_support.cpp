#include "gui_support.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWhatsThis>
#include <QWindow>
#include <QtTest/QTest>
#include <cstdlib>
#include <list>
#include <memory>

#include "app/CrisisApp.h"
#include "platform/floppy_drives.h"

namespace guitest {
namespace {

constexpr int kLimitMs = 5000;
constexpr int kPollMs = 10;

// One queued expectation. Waiters that never fired fail the test at its end.
struct Waiter {
    QString what;
    bool popup;
    Match match;
    Action action;
    QElapsedTimer clock;
    std::unique_ptr<QTimer> timer;
    bool done = false;
    bool timedOut = false;
};

std::list<std::unique_ptr<Waiter>>& waiters() {
    static std::list<std::unique_ptr<Waiter>> list;
    return list;
}

QWidget* currentWindow(bool popup) {
    return popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
}

void rescue() {
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    else if (QWidget* modal = QApplication::activeModalWidget())
        dismiss(modal);
}

void poll(Waiter* waiter) {
    if (waiter->done) return;
    if (waiter->timedOut) {
        rescue();
        return;
    }
    QWidget* window = currentWindow(waiter->popup);
    if (window && window->isVisible() && waiter->match(window) &&
        (waiter->popup || window->isActiveWindow())) {
        waiter->done = true;
        waiter->timer->stop();
        waiter->action(window);
        return;
    }
    if (waiter->clock.elapsed() > kLimitMs) {
        waiter->timedOut = true;
        ADD_FAILURE() << "no " << waiter->what.toStdString() << " appeared within "
                      << kLimitMs / 1000 << " s";
        rescue();
    }
}

void queue(const QString& what, bool popup, Match match, Action action) {
    auto waiter = std::make_unique<Waiter>();
    Waiter* w = waiter.get();
    w->what = what;
    w->popup = popup;
    w->match = std::move(match);
    w->action = std::move(action);
    w->timer = std::make_unique<QTimer>();
    QObject::connect(w->timer.get(), &QTimer::timeout, [w] { poll(w); });
    w->clock.start();
    w->timer->start(kPollMs);
    waiters().push_back(std::move(waiter));
}

bool isHelpPopup(QWidget* w) {
    return w->inherits("QWhatsThat") && w->isVisible();
}

}  // namespace

void whenModal(const QString& what, Match match, Action action) {
    queue(what, false, std::move(match), std::move(action));
}

void whenPopup(const QString& what, Match match, Action action) {
    queue(what, true, std::move(match), std::move(action));
}

Match dialogOf(int templateId) {
    return [templateId](QWidget* w) {
        auto* window = qobject_cast<qtui::DialogWindow*>(w);
        return window && window->dialog().TemplateId() == templateId;
    };
}

Match messageBox() {
    return [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; };
}

Match folderChooser() {
    return [](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; };
}

Match menuNamed(const QString& objectName) {
    return [objectName](QWidget* w) {
        return qobject_cast<QMenu*>(w) && w->objectName() == objectName;
    };
}

void dismiss(QWidget* window) {
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->reject();
    else
        window->close();
}

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    // A window shown or re-activated a moment ago gets the keyboard once its activation
    // has been processed.
    static_cast<void>(QTest::qWaitFor(
        [] { return QApplication::focusWidget() || QApplication::activeWindow(); }, kLimitMs));
    QWidget* target = QApplication::focusWidget();
    if (!target) target = QApplication::activeWindow();
    ASSERT_NE(target, nullptr) << "no window has the keyboard";
    QTest::keyClick(target, key, modifiers);
}

bool waitForFocus(QWidget* widget) {
    return QTest::qWaitFor([widget] { return QApplication::focusWidget() == widget; }, kLimitMs);
}

void clickAt(QWidget* window, const QPoint& pos, Qt::MouseButton button) {
    ASSERT_NE(window->windowHandle(), nullptr);
    QTest::mouseClick(window->windowHandle(), button, Qt::NoModifier, pos);
}

bool chooseMenuEntry(QWidget* menu, const QString& text) {
    QPointer<QMenu> open = qobject_cast<QMenu*>(menu);
    if (!open) return false;
    for (QAction* action : open->actions()) {
        if (action->text() != text) continue;
        // A menu that has just popped up takes a click once it is on the screen; on a loaded
        // machine a click can come first and be lost, and a menu left open would hold its own
        // loop for ever. So the click is given again until the menu has closed.
        for (int tries = 0; tries < 3 && open && open->isVisible(); ++tries) {
            static_cast<void>(QTest::qWaitForWindowExposed(open, kLimitMs));
            QTest::mouseClick(open, Qt::LeftButton, Qt::NoModifier,
                              open->actionGeometry(action).center());
            static_cast<void>(
                QTest::qWaitFor([&open] { return !open || !open->isVisible(); }, kLimitMs / 2));
        }
        if (!open || !open->isVisible()) return true;
        open->close();
        return false;
    }
    return false;
}

int visibleHelpPopups() {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (isHelpPopup(w)) ++count;
    return count;
}

void closeHelpPopups() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (isHelpPopup(w)) w->close();
}

void GuiTest::SetUp() {
    ASSERT_TRUE(m_settings.isValid());
    ASSERT_TRUE(m_startDir.isValid());
    setenv("XDG_CONFIG_HOME", qPrintable(m_settings.path()), 1);
    // Drive A: is a path that does not exist: no diskette, and no real drive is touched.
    setenv("QUENVOL_DRIVE_A", qPrintable(m_startDir.filePath(QStringLiteral("no-diskette.img"))),
           1);
    char* previous = getcwd(nullptr, 0);
    m_previousDir = previous ? previous : "/";
    std::free(previous);
    ASSERT_EQ(chdir(qPrintable(m_startDir.path())), 0);
    AfxSetBackend(&m_backend);
    theApp.SetStartupInfo("quenvol", "", QUENVOL_SOURCE_DIR "/src/res/quenvol.HLP");
}

void GuiTest::TearDown() {
    for (const auto& waiter : waiters())
        if (!waiter->done && !waiter->timedOut)
            ADD_FAILURE() << "the test ended before any " << waiter->what.toStdString()
                          << " appeared";
    waiters().clear();
    closeHelpPopups();
    QWhatsThis::leaveWhatsThisMode();
    QApplication::processEvents();
    AfxSetBackend(nullptr);
    theApp.m_pMainWnd = nullptr;
    platform::setDriveASelection({});  // a drive chosen in the window menu holds for one test
    EXPECT_EQ(chdir(m_previousDir.c_str()), 0);
}

INT_PTR GuiTest::runMain(CCrisisDlg& dialog) {
    theApp.m_pMainWnd = &dialog;
    const INT_PTR result = dialog.DoModal();
    theApp.m_pMainWnd = nullptr;
    return result;
}

std::string GuiTest::settingsFile() const {
    return m_settings.filePath(QStringLiteral("quenvol.ini")).toStdString();
}

}  // namespace guitest
