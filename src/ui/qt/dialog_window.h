// A dialog window built from its template: the widgets show the framework's window state,
// and the user's input goes back to the framework, whose dialog manager decides.
#pragma once

#include <QDialog>
#include <vector>

#include "framework/afxwin.h"
#include "ui/qt/dialog_metrics.h"

class QEventLoop;
class QKeyEvent;
class QPainter;

namespace qtui {

// Gives the keyboard back to the window a nested modal window was shown over; not every
// window manager does so by itself.
void reactivateOwner(QWidget* owner);

class DialogWindow : public QDialog {
    Q_OBJECT
  public:
    DialogWindow(CDialog& dialog, QWidget* owner);
    ~DialogWindow() override;

    // The window showing the dialog that `hwnd` belongs to, or nullptr.
    static DialogWindow* of(HWND hwnd);

    CDialog& dialog() const { return m_dialog; }
    const DialogMetrics& metrics() const { return m_metrics; }
    // The widget of a control window, or nullptr.
    static QWidget* widgetOf(HWND control);
    // The control with that id; its widget is also named "ctl" and the id.
    HWND control(int id) const;
    // The first control in template order whose widget covers `pos` (dialog coordinates).
    HWND controlAt(const QPoint& pos) const;

    // Shows the window with the framework's focus and loops until the dialog has ended.
    void runUntilEnded();
    void endLoop();
    void applyState(HWND hwnd, StateChange what);
    // Draws an icon while the dialog paints itself.
    void drawIcon(int x, int y, HICON icon);
    // The system menu's stand-in: Close and the entries the program appended; for the main
    // window, the Drive A: submenu too.
    void showSystemMenu();
    // A control that the template enables is disabled: the program is at work.
    bool atWork() const;

  public slots:
    // A request to close the window from outside the framework goes through its Close.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    struct Control {
        HWND hwnd;
        QWidget* widget;
    };

    QWidget* createWidget(HWND control);
    // Accessible names and descriptions, for screen readers.
    void describeControls();
    void placeWidget(HWND control, QWidget* widget);
    void fitToControls();
    void watch(QWidget* widget);
    HWND controlOf(QObject* object) const;
    bool handleKey(QKeyEvent* event);
    // F1 asks for help on the focused control; Shift+F1 is the caption's help button.
    bool handleHelpKey(Qt::KeyboardModifiers mods);
    // The context-menu key (and Shift+F10): an edit field's own menu, else the dialog's.
    bool handleMenuKey();
    void moveToTabStop(bool forward);
    void handleContextMenu(QEvent* event);
    void handleWhatsThis(QObject* watched, QEvent* event);
    // An arrow key on a focused radio button clicks the next one of its group that takes input;
    // false when the focus is on no radio button.
    bool moveInRadioGroup(bool forward);
    HWND nextTabStop(HWND from, bool forward) const;
    void applyFocus();
    // The dialog manager moves the focus itself, so Qt never learns that the keyboard moved
    // it, and it forgets that it did when the window is shown or clicked: without this the
    // style draws no focus mark. The focused control is always marked, as in a system dialog.
    void markFocus();
    void applyDialogState(StateChange what);
    void applyIcon();
    void applyControlState(HWND control, QWidget* widget, StateChange what);

    CDialog& m_dialog;
    HWND m_root;
    DialogMetrics m_metrics;
    std::vector<Control> m_controls;  // template order
    QEventLoop* m_loop = nullptr;
    QPainter* m_painter = nullptr;
};

}  // namespace qtui
