#include "framework/input.h"

#include <algorithm>

namespace afx {

bool acceptsInput(HWND control) {
    return control && !control->destroyed && control->enabled && control->visible;
}

bool isTabStop(HWND control) {
    return acceptsInput(control) && (control->style & res::kWsTabStop) != 0;
}

bool isCheckBox(HWND w) {
    return w && w->kind == res::ControlKind::PushButton && (w->style & 0xF) == res::kBsAutoCheckBox;
}

bool isAtWork(HWND dialog) {
    return dialog &&
           std::any_of(dialog->children.begin(), dialog->children.end(), [](const auto& control) {
               return !(control->style & res::kWsDisabled) && !control->enabled;
           });
}

std::vector<HWND> radioGroupOf(HWND control) {
    std::vector<HWND> group;
    if (!control || !control->parent) return group;
    const auto& siblings = control->parent->children;
    const auto at = std::find_if(siblings.begin(), siblings.end(), [control](const auto& sibling) {
        return sibling.get() == control;
    });
    if (at == siblings.end()) return group;
    auto first = at;
    while (first != siblings.begin() && !((*first)->style & res::kWsGroup)) --first;
    auto end = std::next(at);
    while (end != siblings.end() && !((*end)->style & res::kWsGroup)) ++end;
    for (auto it = first; it != end; ++it)
        if ((*it)->kind == res::ControlKind::AutoRadioButton) group.push_back(it->get());
    return group;
}

bool arrowInRadioGroup(HWND focus, bool forward) {
    if (!focus || focus->kind != res::ControlKind::AutoRadioButton) return false;
    const std::vector<HWND> group = radioGroupOf(focus);
    const auto at = std::find(group.begin(), group.end(), focus);
    const std::size_t index = static_cast<std::size_t>(at - group.begin());
    const std::size_t n = group.size();
    for (std::size_t step = 1; at != group.end() && step < n; ++step) {
        HWND candidate = group[(index + (forward ? step : n - step)) % n];
        if (acceptsInput(candidate)) {
            userClick(candidate);
            break;
        }
    }
    return true;
}

HWND rootOf(HWND hwnd) {
    while (hwnd && !hwnd->isDialog && hwnd->parent) hwnd = hwnd->parent;
    return hwnd;
}

HWND findControl(HWND dialog, int id) {
    if (!dialog) return nullptr;
    for (const auto& child : dialog->children)
        if (child->id == id) return child.get();
    return nullptr;
}

UINT messageBoxIcon(UINT type) {
    if (type & MB_ICONMASK) return type & MB_ICONMASK;
    switch (type & MB_TYPEMASK) {
        case MB_YESNO:
        case 0x03:  // yes, no, cancel
            return MB_ICONQUESTION;
        default:
            return MB_ICONEXCLAMATION;
    }
}

namespace {

bool isPushButton(HWND w) {
    return w &&
           (w->kind == res::ControlKind::PushButton || w->kind == res::ControlKind::DefPushButton);
}

void sendClicked(HWND dialog, HWND control) {
    SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(control->id & 0xFFFF) | (BN_CLICKED << 16),
                 reinterpret_cast<LPARAM>(control));
}

// Mouse clicks on static texts and group boxes fall through to the dialog.
bool mouseTransparent(HWND w) {
    return w->kind == res::ControlKind::StaticText || w->kind == res::ControlKind::GroupBox ||
           w->kind == res::ControlKind::StaticIcon;
}

}  // namespace

void userClick(HWND control) {
    if (!acceptsInput(control)) return;
    HWND dialog = rootOf(control);
    if (control->kind == res::ControlKind::AutoRadioButton) {
        // The automatic radio button checks itself and clears the rest of its group.
        for (HWND member : radioGroupOf(control))
            SendMessageA(member, BM_SETCHECK, member == control ? 1 : 0, 0);
    }
    if (!mouseTransparent(control)) CWnd::FromHandle(control)->SetFocus();
    if (isPushButton(control) || control->kind == res::ControlKind::AutoRadioButton)
        sendClicked(dialog, control);
}

void userKey(CDialog& dialog, Key key) {
    HWND root = dialog.m_hWnd;
    if (!root || root->destroyed || root->ended) return;
    switch (key) {
        case Key::Enter: {
            HWND focus = root->focus;
            // Enter never presses a check box.
            if (isPushButton(focus) && !isCheckBox(focus) && acceptsInput(focus)) {
                sendClicked(root, focus);
                return;
            }
            for (const auto& child : root->children)
                if (child->kind == res::ControlKind::DefPushButton && acceptsInput(child.get())) {
                    sendClicked(root, child.get());
                    return;
                }
            SendMessageA(root, WM_COMMAND, IDOK | (BN_CLICKED << 16), 0);
            return;
        }
        case Key::Escape:
            SendMessageA(root, WM_COMMAND, IDCANCEL | (BN_CLICKED << 16), 0);
            return;
        case Key::F1: {
            HWND focus = root->focus ? root->focus : root;
            HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, focus->isDialog ? 0 : focus->id, focus,
                          focus->helpId,    {0, 0}};
            SendMessageA(root, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            return;
        }
    }
}

void userSetFocus(HWND control) {
    if (!control) return;
    rootOf(control)->focus = control;
}

void userSetText(HWND control, const std::string& text) {
    if (!acceptsInput(control)) return;
    if (control->textLimit > 0 && text.size() > static_cast<std::size_t>(control->textLimit)) {
        // Typing past the limit is refused: the field shows its text as it was, the caret at
        // its end.
        const std::string kept = control->text;
        SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kept.c_str()));
        const auto end = static_cast<WPARAM>(kept.size());
        SendMessageA(control, EM_SETSEL, end, static_cast<LPARAM>(end));
        return;
    }
    control->text = text;
    if (control->kind == res::ControlKind::ComboBox) control->curSel = -1;
}

void userSelectItem(HWND combo, int index) {
    if (!acceptsInput(combo) || index < 0 || index >= static_cast<int>(combo->items.size())) return;
    combo->curSel = index;
    combo->text = combo->items[static_cast<std::size_t>(index)];
}

void userHelpClick(HWND control) {
    if (!control || control->destroyed) return;
    HWND root = rootOf(control);
    HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, control->isDialog ? 0 : control->id,
                  control,          control->helpId, {0, 0}};
    SendMessageA(root, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
}

void userContextMenu(CDialog& dialog, HWND control, POINT screen) {
    HWND root = dialog.m_hWnd;
    if (!root || root->destroyed) return;
    HWND target = control;
    if (!target || !acceptsInput(target) || mouseTransparent(target)) target = root;
    SendMessageA(root, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target),
                 MAKELPARAM(static_cast<UINT>(screen.x), static_cast<UINT>(screen.y)));
}

void userSysCommand(CDialog& dialog, UINT command) {
    if (!dialog.m_hWnd || dialog.m_hWnd->destroyed) return;
    SendMessageA(dialog.m_hWnd, WM_SYSCOMMAND, command, 0);
}

}  // namespace afx
