#include "ui/qt/qt_backend.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSettings>
#include <QWhatsThis>

#include "framework/afxdlgs.h"
#include "framework/format_dialog.h"
#include "framework/input.h"
#include "ui/qt/dialog_window.h"
#include "ui/qt/modal_boxes.h"

namespace qtui {

QtBackend::QtBackend() {
    // Qt's own dialogs (the file chooser) keep their state in a settings file of their own
    // beside quenvol.ini; the settings file is the program's only saved state, so Qt's
    // settings go to a folder that can never be made (a path below a device file) and
    // nothing is written.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null/qt"));
}

QtBackend::~QtBackend() {
    while (m_waitDepth > 0) setWaitCursor(false);
}

QWidget* QtBackend::ownerWidget(HWND owner) const {
    if (DialogWindow* window = owner ? DialogWindow::of(owner) : nullptr) return window;
    return m_windows.empty() ? nullptr : m_windows.back();
}

void QtBackend::runModal(CDialog& dialog) {
    QWidget* owner = dialog.Parent() ? ownerWidget(dialog.Parent()->m_hWnd) : ownerWidget(nullptr);
    DialogWindow window(dialog, owner);
    m_windows.push_back(&window);
    dialog.RunInitDialog();
    window.runUntilEnded();
    m_windows.pop_back();
}

void QtBackend::endModal(CDialog& dialog) {
    if (DialogWindow* window = DialogWindow::of(dialog.m_hWnd)) window->endLoop();
}

void QtBackend::stateChanged(HWND hwnd, StateChange what) {
    if (DialogWindow* window = DialogWindow::of(hwnd)) window->applyState(hwnd, what);
}

int QtBackend::messageBox(HWND owner, const std::string& text, const std::string& caption,
                          UINT type) {
    QWidget* window = ownerWidget(owner);
    const int answer = runMessageBox(window, text, caption, type);
    reactivateOwner(window);
    return answer;
}

int QtBackend::messageBoxWithDetails(HWND owner, const std::string& text,
                                     const std::string& caption, UINT type,
                                     const std::string& details) {
    QWidget* window = ownerWidget(owner);
    const int answer = runMessageBox(window, text, caption, type, details);
    reactivateOwner(window);
    return answer;
}

void QtBackend::setWaitCursor(bool on) {
    if (on) {
        ++m_waitDepth;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (m_waitDepth > 0) {
        --m_waitDepth;
        QApplication::restoreOverrideCursor();
    }
}

void QtBackend::showHelp(HWND control, const std::string& topic, UINT command) {
    QWidget* anchor = DialogWindow::widgetOf(control);
    if (!anchor) anchor = ownerWidget(control);
    const int controlId = control && !control->isDialog ? control->id : 0;
    if (command == HELP_CONTEXTMENU) {
        m_help.push_back({controlId, std::string(), command});
        QMenu menu(anchor ? anchor->window() : nullptr);
        menu.setObjectName(QStringLiteral("helpMenu"));
        QAction* whatsThis = menu.addAction(QStringLiteral("&What's This?"));
        // At the pointer for a right click; at the control when the keyboard asked.
        QPoint at = QCursor::pos();
        if (anchor && !anchor->window()->frameGeometry().contains(at))
            at = anchor->mapToGlobal(anchor->rect().center());
        if (menu.exec(at) != whatsThis) return;
    }
    showTopic(anchor, controlId, topic, command);
}

void QtBackend::showTopic(QWidget* anchor, int controlId, const std::string& topic, UINT command) {
    const QPoint at = anchor ? anchor->mapToGlobal(anchor->rect().center()) : QCursor::pos();
    QWhatsThis::showText(at, QString::fromStdString(topic), anchor);
    m_help.push_back({controlId, topic, command});
}

void QtBackend::formatDrive(HWND owner, UINT drive) {
    // The framework's dialog from its template, shown like the program's own dialogs.
    shell::runFormatDialog(owner, drive);
}

INT_PTR QtBackend::runFileDialog(CFileDialog& dialog) {
    HWND owner = dialog.Parent() ? dialog.Parent()->m_hWnd : nullptr;
    QWidget* window = ownerWidget(owner);
    const INT_PTR result = runFolderChooser(window, dialog);
    reactivateOwner(window);
    return result;
}

void QtBackend::updateNow(HWND hwnd) {
    QWidget* widget =
        hwnd && hwnd->isDialog ? DialogWindow::of(hwnd) : DialogWindow::widgetOf(hwnd);
    if (widget && widget->isVisible()) widget->repaint();
}

void QtBackend::drawIcon(HWND hwnd, int x, int y, HICON icon) {
    if (DialogWindow* window = DialogWindow::of(hwnd)) window->drawIcon(x, y, icon);
}

}  // namespace qtui
