#include "ui/qt/dialog_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QWhatsThis>
#include <algorithm>
#include <climits>
#include <optional>

#include "framework/help.h"
#include "framework/input.h"
#include "ui/qt/drive_menu.h"
#include "ui/qt/icon_image.h"
#include "ui/qt/kit_folder.h"

namespace qtui {
namespace {

using res::ControlKind;

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// An automatic radio button whose check mark only the dialog sets: a click reports itself
// and the framework checks it and clears the rest of its group.
class DialogRadioButton : public QRadioButton {
  public:
    using QRadioButton::QRadioButton;

  protected:
    void nextCheckState() override {}
};

// An automatic check box likewise: the dialog sets its mark. A click anywhere on the control
// is a click on it, as on a system dialog's, not only on the box and its text.
class DialogCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;

  protected:
    void nextCheckState() override {}
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// A group box as dialog templates mean it: the title stands on the frame's top edge, which
// runs through the middle of the title's line.
class DialogGroupBox : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        // Styles leave room for the title above the frame of a titled group box, and start
        // the frame of an untitled one at its top: the frame is drawn as an untitled one's,
        // from the middle of the title's line down, and the title over its edge.
        QStyleOptionGroupBox option;
        initStyleOption(&option);
        option.text.clear();
        option.subControls = QStyle::SC_GroupBoxFrame;
        option.rect = rect().adjusted(0, metrics.height() / 2 - frameInset(option), 0, 0);
        style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, &m_untitled);
        if (title().isEmpty()) return;
        // A character's width in from the left, with a little room on either side.
        const int pad = std::max(1, metrics.averageCharWidth() / 3);
        QRect titleRect =
            style()->itemTextRect(metrics, QRect(), Qt::TextShowMnemonic, isEnabled(), title());
        titleRect = QRect(metrics.averageCharWidth() - pad, 0, titleRect.width() + 2 * pad,
                          metrics.height());
        painter.fillRect(titleRect, palette().window());
        style()->drawItemText(&painter, titleRect, Qt::AlignCenter | Qt::TextShowMnemonic,
                              palette(), isEnabled(), title(), QPalette::WindowText);
    }

  private:
    // How far below the top of its rectangle the style draws the edge of an untitled frame
    // (a few pixels in some styles): found by drawing one.
    int frameInset(QStyleOptionGroupBox option) {
        QImage probe(24, 24, QImage::Format_ARGB32_Premultiplied);
        probe.fill(Qt::transparent);
        {
            QPainter painter(&probe);
            option.rect = probe.rect();
            style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, &m_untitled);
        }
        for (int y = 0; y < probe.height() / 2; ++y)
            if (qAlpha(probe.pixel(probe.width() / 2, y)) != 0) return y;
        return 0;
    }

    QGroupBox m_untitled;  // never shown: what the style is told it draws
};

bool isTextControl(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton ||
           kind == ControlKind::AutoRadioButton || kind == ControlKind::StaticText ||
           kind == ControlKind::GroupBox;
}

std::size_t indexOf(const WindowObject& dialog, HWND control) {
    for (std::size_t i = 0; i < dialog.children.size(); ++i)
        if (dialog.children[i].get() == control) return i;
    return dialog.children.size();
}

// An enabled edit field answers a right click with its own editing menu (Cut, Copy,
// Paste) rather than passing it to the dialog; a combo box's field included.
bool hasEditMenu(QObject* watched) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    return edit && edit->isEnabled();
}

// A label's text as a name: without its mnemonic marks and the colon at its end.
QString nameFromLabel(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        plain += text[i];
    }
    QString name = toQString(plain).trimmed();
    if (name.endsWith(QLatin1Char(':'))) name.chop(1);
    return name.trimmed();
}

void setComboText(QComboBox* combo, HWND control) {
    combo->setCurrentIndex(control->curSel);
    if (combo->isEditable()) combo->setEditText(toQString(control->text));
}

// The widget of each kind of control, showing the control's state; the user's input on it goes
// to the framework. `owner` is the dialog's window.

QWidget* makePushButton(HWND control, QWidget* owner) {
    auto* button = new QPushButton(toQString(control->text), owner);
    // Enter is the dialog manager's business: no button presses itself on Enter.
    button->setAutoDefault(false);
    button->setDefault(control->kind == ControlKind::DefPushButton);
    QObject::connect(button, &QPushButton::clicked, owner, [control] { afx::userClick(control); });
    return button;
}

QWidget* makeRadioButton(HWND control, QWidget* owner) {
    auto* radio = new DialogRadioButton(toQString(control->text), owner);
    radio->setAutoExclusive(false);
    radio->setChecked(control->checked);
    QObject::connect(radio, &QRadioButton::clicked, owner, [control] { afx::userClick(control); });
    return radio;
}

QWidget* makeCheckBox(HWND control, QWidget* owner) {
    auto* box = new DialogCheckBox(toQString(control->text), owner);
    box->setChecked(control->checked);
    QObject::connect(box, &QCheckBox::clicked, owner, [control] { afx::userClick(control); });
    return box;
}

QWidget* makeGroupBox(HWND control, QWidget* owner) {
    auto* group = new DialogGroupBox(toQString(control->text), owner);
    group->setAttribute(Qt::WA_TransparentForMouseEvents);
    return group;
}

QWidget* makeLabel(HWND control, QWidget* owner) {
    auto* label = new QLabel(toQString(control->text), owner);
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

QWidget* makeIcon(QWidget* owner) {
    auto* label = new QLabel(owner);
    label->setPixmap(QPixmap::fromImage(iconImage(res::applicationIcon(), 32)));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

// What the user types into `edit` is the control's text.
void reportTyping(QLineEdit* edit, HWND control, QWidget* owner) {
    QObject::connect(edit, &QLineEdit::textEdited, owner, [control](const QString& typed) {
        afx::userSetText(control, typed.toStdString());
    });
}

QWidget* makeEdit(HWND control, QWidget* owner) {
    auto* edit = new QLineEdit(toQString(control->text), owner);
    edit->setReadOnly((control->style & res::kEsReadOnly) != 0);
    edit->setFrame((control->style & res::kWsBorder) != 0);
    reportTyping(edit, control, owner);
    return edit;
}

QWidget* makeComboBox(HWND control, QWidget* owner) {
    auto* combo = new QComboBox(owner);
    combo->setEditable((control->style & 0x3) == res::kCbsDropDown);
    for (const auto& item : control->items) combo->addItem(toQString(item));
    if (combo->isEditable()) {
        // The list only offers texts: nothing typed is added to it or completed.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        combo->lineEdit()->setContextMenuPolicy(Qt::DefaultContextMenu);
        reportTyping(combo->lineEdit(), control, owner);
    }
    setComboText(combo, control);
    QObject::connect(combo, &QComboBox::activated, owner,
                     [control](int index) { afx::userSelectItem(control, index); });
    return combo;
}

QWidget* makeListBox(HWND control, QWidget* owner) {
    auto* list = new QListWidget(owner);
    for (const auto& item : control->items) list->addItem(toQString(item));
    return list;
}

QWidget* makeProgressBar(HWND control, QWidget* owner) {
    auto* bar = new QProgressBar(owner);
    bar->setTextVisible(false);
    bar->setRange(control->rangeMin, control->rangeMax);
    bar->setValue(control->pos);
    return bar;
}

void showText(HWND control, QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(toQString(control->text));
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(toQString(control->text));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(toQString(control->text));
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(toQString(control->text));
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        setComboText(combo, control);
}

void showItems(HWND control, QWidget* widget) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->clear();
        for (const auto& item : control->items) combo->addItem(toQString(item));
        setComboText(combo, control);
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
        list->clear();
        for (const auto& item : control->items) list->addItem(toQString(item));
    }
}

}  // namespace

void reactivateOwner(QWidget* owner) {
    if (owner && owner->isVisible()) owner->activateWindow();
}

DialogWindow::DialogWindow(CDialog& dialog, QWidget* owner)
    : QDialog(owner),
      m_dialog(dialog),
      m_root(dialog.m_hWnd),
      m_metrics(dialogFont(*dialog.m_hWnd->dialogTemplate)) {
    const res::DialogTemplate& t = *m_root->dialogTemplate;
    setFont(dialogFont(t));
    setObjectName(QStringLiteral("dlg%1").arg(t.id));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_root->style & res::kWsSysMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_root->exStyle & res::kWsExContextHelp) flags |= Qt::WindowContextHelpButtonHint;
    setWindowFlags(flags);
    setWindowTitle(toQString(m_root->text));
    m_root->backendData = this;

    for (const auto& child : m_root->children) {
        QWidget* widget = createWidget(child.get());
        child->backendData = widget;
        m_controls.push_back({child.get(), widget});
        if (child->id != -1) widget->setObjectName(QStringLiteral("ctl%1").arg(child->id));
        widget->setEnabled(child->enabled);
        widget->setHidden(!child->visible);
        placeWidget(child.get(), widget);
    }
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const auto& control = m_controls[i];
        // A group box is drawn behind the controls it frames, as its template places it.
        if (control.hwnd->kind == ControlKind::GroupBox) control.widget->lower();
        // A label's mnemonic moves to the control after it.
        auto* label = qobject_cast<QLabel*>(control.widget);
        if (label && label->text().contains(QLatin1Char('&')) && i + 1 < m_controls.size())
            label->setBuddy(m_controls[i + 1].widget);
    }
    describeControls();
    fitToControls();
    watch(this);
    applyState(m_root, StateChange::Icon);
}

DialogWindow::~DialogWindow() {
    if (m_root->backendData == this) m_root->backendData = nullptr;
    for (const auto& control : m_controls)
        if (control.hwnd->backendData == control.widget) control.hwnd->backendData = nullptr;
}

DialogWindow* DialogWindow::of(HWND hwnd) {
    HWND root = afx::rootOf(hwnd);
    return root && root->isDialog ? static_cast<DialogWindow*>(root->backendData) : nullptr;
}

QWidget* DialogWindow::widgetOf(HWND control) {
    return control && !control->isDialog ? static_cast<QWidget*>(control->backendData) : nullptr;
}

HWND DialogWindow::control(int id) const {
    return afx::findControl(m_root, id);
}

HWND DialogWindow::controlAt(const QPoint& pos) const {
    for (const auto& control : m_controls)
        if (!control.widget->isHidden() && control.widget->geometry().contains(pos))
            return control.hwnd;
    return nullptr;
}

QWidget* DialogWindow::createWidget(HWND control) {
    switch (control->kind) {
        case ControlKind::PushButton:
            if (afx::isCheckBox(control)) return makeCheckBox(control, this);
            return makePushButton(control, this);
        case ControlKind::DefPushButton:
            return makePushButton(control, this);
        case ControlKind::AutoRadioButton:
            return makeRadioButton(control, this);
        case ControlKind::GroupBox:
            return makeGroupBox(control, this);
        case ControlKind::StaticText:
            return makeLabel(control, this);
        case ControlKind::StaticIcon:
            return makeIcon(this);
        case ControlKind::Edit:
            return makeEdit(control, this);
        case ControlKind::ComboBox:
            return makeComboBox(control, this);
        case ControlKind::ListBox:
            return makeListBox(control, this);
        case ControlKind::ProgressBar:
            return makeProgressBar(control, this);
    }
    return new QWidget(this);
}

void DialogWindow::describeControls() {
    // Buttons, labels and the group box are named by their own text already; a control that
    // shows none is named by the label before it in template order, else by its help topic's
    // title. Its help topic describes each control.
    const CWinApp* app = AfxGetApp();
    const auto topics = AfxReadHelpTopics(app ? app->m_pszHelpFilePath : nullptr);
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const auto [control, widget] = m_controls[i];
        const HelpTopic* topic =
            topics && control->helpId ? AfxFindHelpTopic(*topics, control->helpId) : nullptr;
        if (topic) widget->setAccessibleDescription(toQString(topic->body()));
        if (isTextControl(control->kind)) continue;
        QString name;
        if (control->kind == ControlKind::StaticIcon)
            name = QStringLiteral("Application icon");
        else if (i > 0 && m_controls[i - 1].hwnd->kind == ControlKind::StaticText)
            name = nameFromLabel(m_controls[i - 1].hwnd->text);
        else if (topic)
            name = toQString(topic->title());
        widget->setAccessibleName(name);
        if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit()) {
            combo->lineEdit()->setAccessibleName(name);
            combo->lineEdit()->setAccessibleDescription(widget->accessibleDescription());
        }
    }
}

void DialogWindow::placeWidget(HWND control, QWidget* widget) {
    QRect r = m_metrics.toPixels(control->x, control->y, control->cx, control->cy);
    if (control->kind == ControlKind::StaticIcon) {
        // An icon control takes the icon's own size.
        r.setSize(QSize(32, 32));
        widget->setGeometry(r);
        return;
    }
    QSize need = isTextControl(control->kind) ? widget->sizeHint() : widget->minimumSizeHint();
    if (control->kind == ControlKind::ComboBox) {
        // The template's height includes the dropped-down list; the field is as high as its font
        // needs.
        r.setHeight(widget->sizeHint().height());
        need.setHeight(r.height());
    }
    if (need.width() > r.width()) r.setWidth(need.width());
    if (need.height() > r.height()) {
        r.translate(0, -(need.height() - r.height()) / 2);
        r.setHeight(need.height());
    }
    widget->setGeometry(r);
}

void DialogWindow::fitToControls() {
    const res::DialogTemplate& t = *m_root->dialogTemplate;
    QSize size(m_metrics.toPixelsX(t.cx), m_metrics.toPixelsY(t.cy));
    int left = INT_MAX, top = INT_MAX, right = 0, bottom = 0;
    for (const auto& control : m_controls) {
        if (control.widget->isHidden()) continue;
        const QRect g = control.widget->geometry();
        left = std::min(left, g.left());
        top = std::min(top, g.top());
        right = std::max(right, g.x() + g.width());
        bottom = std::max(bottom, g.y() + g.height());
    }
    // A control that grew past the edge widens the dialog by the margin on the other side.
    if (right > size.width()) size.setWidth(right + std::max(left, 0));
    if (bottom > size.height()) size.setHeight(bottom + std::max(top, 0));
    setFixedSize(size);
    m_root->client = {0, 0, size.width(), size.height()};
}

void DialogWindow::watch(QWidget* widget) {
    widget->installEventFilter(this);
    for (QWidget* child : widget->findChildren<QWidget*>()) child->installEventFilter(this);
}

HWND DialogWindow::controlOf(QObject* object) const {
    for (QObject* o = object; o && o != this; o = o->parent())
        for (const auto& control : m_controls)
            if (control.widget == o) return control.hwnd;
    return nullptr;
}

void DialogWindow::runUntilEnded() {
    if (m_dialog.HasEnded()) return;
    setWindowModality(Qt::ApplicationModal);
    show();
    markFocus();
    activateWindow();
    applyFocus();
    // The program's main window says at once when it was started where no kit is.
    if (AfxGetMainWnd() == &m_dialog && canChooseStartDirectory())
        QTimer::singleShot(0, this, [this] { tellWhenNoKit(this); });
    QEventLoop loop;
    m_loop = &loop;
    if (!m_dialog.HasEnded()) loop.exec(QEventLoop::DialogExec);
    m_loop = nullptr;
    hide();
    reactivateOwner(parentWidget());
}

void DialogWindow::markFocus() {
    setAttribute(Qt::WA_KeyboardFocusChange);
    if (QWidget* focus = QApplication::focusWidget(); focus && focus->window() == this)
        focus->update();
}

void DialogWindow::endLoop() {
    if (m_loop) m_loop->quit();
}

void DialogWindow::applyFocus() {
    if (QWidget* widget = widgetOf(m_root->focus)) widget->setFocus(Qt::OtherFocusReason);
}

void DialogWindow::applyState(HWND hwnd, StateChange what) {
    if (hwnd == m_root)
        applyDialogState(what);
    else if (QWidget* widget = widgetOf(hwnd))
        applyControlState(hwnd, widget, what);
}

void DialogWindow::applyDialogState(StateChange what) {
    switch (what) {
        case StateChange::Text:
            setWindowTitle(toQString(m_root->text));
            break;
        case StateChange::Enabled:
            setEnabled(m_root->enabled);
            break;
        case StateChange::Icon:
            applyIcon();
            break;
        default:
            break;  // the system menu is built each time it opens
    }
}

void DialogWindow::applyIcon() {
    // The application's own icon comes from the icon theme when it is there.
    const auto ownOrNone = [](HICON i) { return i == nullptr || i == &res::applicationIcon(); };
    QIcon icon;
    if ((m_root->bigIcon || m_root->smallIcon) && ownOrNone(m_root->bigIcon) &&
        ownOrNone(m_root->smallIcon)) {
        icon = applicationQIcon();
    } else {
        if (m_root->bigIcon) icon.addPixmap(QPixmap::fromImage(iconImage(*m_root->bigIcon, 32)));
        if (m_root->smallIcon)
            icon.addPixmap(QPixmap::fromImage(iconImage(*m_root->smallIcon, 16)));
    }
    if (!icon.isNull()) setWindowIcon(icon);
}

void DialogWindow::applyControlState(HWND control, QWidget* widget, StateChange what) {
    const QSignalBlocker blocker(widget);
    switch (what) {
        case StateChange::Text:
            showText(control, widget);
            break;
        case StateChange::Enabled:
            widget->setEnabled(control->enabled);
            break;
        case StateChange::Checked:
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                button->setChecked(control->checked);
            break;
        case StateChange::Items:
            showItems(control, widget);
            break;
        case StateChange::Selection:
            if (auto* edit = qobject_cast<QLineEdit*>(widget))
                edit->setSelection(control->selStart, control->selEnd - control->selStart);
            return;
        case StateChange::Progress:
            if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
                bar->setRange(control->rangeMin, std::max(control->rangeMin, control->rangeMax));
                bar->setValue(control->pos);
            }
            break;
        case StateChange::Focus:
            widget->setFocus(Qt::OtherFocusReason);
            return;
        case StateChange::Icon:
        case StateChange::Menu:
            return;
    }
    // The handler that changed the control may run on without returning to the event loop.
    if (widget->isVisible()) widget->repaint();
}

void DialogWindow::drawIcon(int x, int y, HICON icon) {
    if (m_painter && icon) m_painter->drawImage(QPoint(x, y), iconImage(*icon, 32));
}

void DialogWindow::showSystemMenu() {
    if (!m_root->hasSystemMenu) return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("systemMenu"));
    auto add = [&menu](const QString& text, UINT id) { menu.addAction(text)->setData(id); };
    add(QStringLiteral("&Close\tAlt+F4"), SC_CLOSE);
    for (const MenuItem& item : m_root->systemMenu) {
        if (item.flags & MF_SEPARATOR)
            menu.addSeparator();
        else
            add(toQString(item.text), item.id);
    }
    // The program's main window also says which drive is drive A:, but not while the program
    // is at work: a build holds drive A: from its format to its end.
    std::optional<DriveMenu> driveMenu;
    QAction* kitFolder = nullptr;
    if (AfxGetMainWnd() == &m_dialog) {
        menu.addSeparator();
        // The start directory likewise, which a build holds from its check to its end.
        if (canChooseStartDirectory()) {
            kitFolder = menu.addAction(QStringLiteral("&Kit folder..."));
            kitFolder->setEnabled(!atWork());
        }
        driveMenu.emplace(menu, !atWork());
    }
    QAction* chosen = menu.exec(mapToGlobal(QPoint(0, 0)));
    if (chosen && chosen == kitFolder) {
        chooseKitFolder(this);
        return;
    }
    if (!chosen || (driveMenu && driveMenu->handle(chosen, this))) return;
    afx::userSysCommand(m_dialog, chosen->data().toUInt());
}

bool DialogWindow::atWork() const {
    return afx::isAtWork(m_root);
}

void DialogWindow::reject() {
    afx::userSysCommand(m_dialog, SC_CLOSE);
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
            // A combo box's open list is a window of its own: its keys (Escape closes it,
            // Enter chooses an entry) are the list's, not the dialog manager's.
            if (watched->isWidgetType() && static_cast<QWidget*>(watched)->window() != this) break;
            if (handleKey(static_cast<QKeyEvent*>(event))) return true;
            break;
        case QEvent::ContextMenu:
            if (hasEditMenu(watched)) break;
            handleContextMenu(event);
            return true;
        case QEvent::QueryWhatsThis:
            event->accept();
            return true;
        case QEvent::WhatsThis:
            handleWhatsThis(watched, event);
            return true;
        case QEvent::MouseButtonRelease:
            markFocus();  // a click took the mark away
            break;
        case QEvent::FocusIn: {
            markFocus();
            // Focus the user moved; the framework's own moves come back as OtherFocusReason.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason)
                if (HWND control = controlOf(watched)) afx::userSetFocus(control);
            break;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

bool DialogWindow::handleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            afx::userKey(m_dialog, afx::Key::Enter);
            return true;
        case Qt::Key_Escape:
            afx::userKey(m_dialog, afx::Key::Escape);
            return true;
        case Qt::Key_F1:
            return handleHelpKey(mods);
        case Qt::Key_Menu:
            return handleMenuKey();
        case Qt::Key_F10:
            return mods == Qt::ShiftModifier && handleMenuKey();
        case Qt::Key_F4:
            if (mods != Qt::AltModifier) return false;
            afx::userSysCommand(m_dialog, SC_CLOSE);
            return true;
        case Qt::Key_Space:
        case Qt::Key_Minus:
            if (mods != Qt::AltModifier) return false;
            showSystemMenu();
            return true;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (mods & (Qt::ControlModifier | Qt::AltModifier)) return false;
            moveToTabStop(event->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier));
            return true;
        case Qt::Key_Up:
        case Qt::Key_Left:
        case Qt::Key_Down:
        case Qt::Key_Right:
            return mods == Qt::NoModifier &&
                   moveInRadioGroup(event->key() == Qt::Key_Down || event->key() == Qt::Key_Right);
        default:
            return false;
    }
}

bool DialogWindow::handleHelpKey(Qt::KeyboardModifiers mods) {
    if (mods & Qt::ShiftModifier) {
        // The keyboard's way to the caption's help button.
        if (m_root->exStyle & res::kWsExContextHelp) QWhatsThis::enterWhatsThisMode();
    } else {
        afx::userKey(m_dialog, afx::Key::F1);
    }
    return true;
}

bool DialogWindow::handleMenuKey() {
    if (QWidget* focus = QApplication::focusWidget(); focus && focus->window() == this) {
        if (auto* combo = qobject_cast<QComboBox*>(focus); combo && combo->lineEdit())
            focus = combo->lineEdit();
        const QPoint at = focus->rect().center();
        if (hasEditMenu(focus)) {
            QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, at, focus->mapToGlobal(at));
            QApplication::sendEvent(focus, &menuEvent);
            return true;
        }
    }
    // The keyboard's context menu concerns the focused control; it has no point.
    afx::userContextMenu(m_dialog, m_root->focus, POINT{-1, -1});
    return true;
}

void DialogWindow::moveToTabStop(bool forward) {
    HWND next = nextTabStop(m_root->focus, forward);
    if (!next || next == m_root->focus) return;
    CWnd::FromHandle(next)->SetFocus();
    if (auto* combo = qobject_cast<QComboBox*>(widgetOf(next)); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
}

bool DialogWindow::moveInRadioGroup(bool forward) {
    return afx::arrowInRadioGroup(m_root->focus, forward);
}

HWND DialogWindow::nextTabStop(HWND from, bool forward) const {
    const auto& children = m_root->children;
    const std::size_t n = children.size();
    if (n == 0) return nullptr;
    const std::size_t start = indexOf(*m_root, from);
    for (std::size_t step = 1; step <= n; ++step) {
        std::size_t i;
        if (start >= n)
            i = forward ? step - 1 : n - step;
        else
            i = (start + (forward ? step : n - step)) % n;
        HWND candidate = children[i].get();
        if (!afx::isTabStop(candidate)) continue;
        if (candidate->kind == ControlKind::AutoRadioButton) {
            // Tab enters a radio group at its checked button.
            for (HWND member : afx::radioGroupOf(candidate)) {
                if (member->checked && afx::acceptsInput(member)) {
                    candidate = member;
                    break;
                }
            }
        }
        if (candidate != from) return candidate;
    }
    return from;
}

bool DialogWindow::focusNextPrevChild(bool) {
    // Tab is handled with the dialog's own rules; Qt's other moves (away from a control
    // being disabled) would change the framework's focus behind its back.
    return false;
}

void DialogWindow::handleContextMenu(QEvent* event) {
    auto* menuEvent = static_cast<QContextMenuEvent*>(event);
    HWND target = menuEvent->reason() == QContextMenuEvent::Keyboard
                      ? m_root->focus
                      : controlAt(mapFromGlobal(menuEvent->globalPos()));
    afx::userContextMenu(m_dialog, target,
                         POINT{menuEvent->globalPos().x(), menuEvent->globalPos().y()});
}

void DialogWindow::handleWhatsThis(QObject* watched, QEvent* event) {
    auto* help = static_cast<QHelpEvent*>(event);
    help->accept();
    HWND target = controlOf(watched);
    if (!target) target = controlAt(mapFromGlobal(help->globalPos()));
    if (!target) target = m_root;
    QWhatsThis::leaveWhatsThisMode();
    afx::userHelpClick(target);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    // The caption's close button and the window manager's Alt+F4 ask; the dialog decides.
    event->ignore();
    afx::userSysCommand(m_dialog, SC_CLOSE);
}

void DialogWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    if (m_root->iconic) painter.fillRect(rect(), palette().window());
    m_painter = &painter;
    SendMessageA(m_root, WM_PAINT, 0, 0);
    m_painter = nullptr;
}

void DialogWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    m_root->client = {0, 0, width(), height()};
}

void DialogWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    m_root->iconic = isMinimized();
    // A minimised dialog shows only what it paints itself: its icon.
    for (const auto& control : m_controls)
        control.widget->setHidden(m_root->iconic || !control.hwnd->visible);
    update();
}

}  // namespace qtui
