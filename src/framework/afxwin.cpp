#include "framework/afxwin.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "framework/input.h"
#include "platform/text_case.h"

namespace {

// Keeps the program running without a window system: answers every question with its
// safest button and shows nothing.
class NullBackend : public Backend {
  public:
    void runModal(CDialog& dialog) override {
        dialog.RunInitDialog();
        if (!dialog.HasEnded()) dialog.EndDialog(IDCANCEL);
    }
    void endModal(CDialog&) override {}
    void stateChanged(HWND, StateChange) override {}
    int messageBox(HWND, const std::string&, const std::string&, UINT type) override {
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    void setWaitCursor(bool) override {}
    void showHelp(HWND, const std::string&, UINT) override {}
    void formatDrive(HWND, UINT) override {}
    INT_PTR runFileDialog(CFileDialog&) override { return IDCANCEL; }
    void updateNow(HWND) override {}
    void drawIcon(HWND, int, int, HICON) override {}
};

Backend* g_backend = nullptr;
CWinApp* g_app = nullptr;

void notify(HWND hwnd, StateChange what) {
    if (hwnd && !hwnd->destroyed) AfxBackend().stateChanged(hwnd, what);
}

// The built-in behaviour of the control windows, one function for each message that changes
// a control. Each returns what the message returns.

const char* textOf(LPARAM lParam) {
    return lParam ? reinterpret_cast<const char*>(lParam) : "";
}

LRESULT setText(HWND w, const char* text) {
    w->text = text;
    w->selStart = w->selEnd = 0;
    if (w->kind == res::ControlKind::ComboBox) w->curSel = -1;
    notify(w, StateChange::Text);
    return TRUE;
}

// Selects from `start` to `end` (past the text: to its end); a start of -1 removes the
// selection and leaves the caret.
LRESULT setSelection(HWND w, int start, int end) {
    const int len = static_cast<int>(w->text.size());
    if (start == -1) {
        w->selStart = w->selEnd;
    } else {
        if (end < 0 || end > len) end = len;
        start = std::clamp(start, 0, len);
        w->selStart = std::min(start, end);
        w->selEnd = std::max(start, end);
    }
    notify(w, StateChange::Selection);
    return 0;
}

LRESULT replaceSelection(HWND w, const char* text) {
    const auto start = static_cast<std::size_t>(w->selStart);
    const auto end = static_cast<std::size_t>(w->selEnd);
    w->text.replace(start, end - start, text);
    w->selStart = w->selEnd = static_cast<int>(start + std::strlen(text));
    notify(w, StateChange::Text);
    return 0;
}

LRESULT setCheck(HWND w, bool checked) {
    w->checked = checked;
    notify(w, StateChange::Checked);
    return 0;
}

LRESULT addItem(HWND w, const char* text) {
    w->items.emplace_back(text);
    notify(w, StateChange::Items);
    return static_cast<LRESULT>(w->items.size() - 1);
}

LRESULT resetItems(HWND w) {
    w->items.clear();
    w->curSel = -1;
    w->text.clear();
    notify(w, StateChange::Items);
    return TRUE;
}

// Selects the item at `index` and shows its text; an index outside the list clears both.
LRESULT selectItem(HWND w, LRESULT index) {
    if (index < 0 || index >= static_cast<LRESULT>(w->items.size())) {
        w->curSel = -1;
        w->text.clear();
        notify(w, StateChange::Text);
        return CB_ERR;
    }
    w->curSel = static_cast<int>(index);
    w->text = w->items[static_cast<std::size_t>(index)];
    notify(w, StateChange::Text);
    return index;
}

// Selects the first item after `after` (round the end) that begins with `prefix`, ignoring case.
LRESULT selectItemByPrefix(HWND w, LRESULT after, const std::string& prefix) {
    const auto n = static_cast<LRESULT>(w->items.size());
    for (LRESULT k = 0; k < n; ++k) {
        const LRESULT i = ((after < 0 ? -1 : after) + 1 + k) % n;
        if (platform::startsWithIgnoringCase(w->items[static_cast<std::size_t>(i)], prefix))
            return selectItem(w, i);
    }
    return CB_ERR;
}

LRESULT setRange(HWND w, LPARAM range) {
    const LRESULT previous =
        MAKELPARAM(static_cast<UINT>(w->rangeMin), static_cast<UINT>(w->rangeMax));
    w->rangeMin = static_cast<short>(LOWORD(static_cast<DWORD_PTR>(range)));
    w->rangeMax = static_cast<short>(HIWORD(static_cast<DWORD_PTR>(range)));
    w->pos = std::clamp(w->pos, w->rangeMin, std::max(w->rangeMin, w->rangeMax));
    notify(w, StateChange::Progress);
    return previous;
}

LRESULT setPosition(HWND w, int pos) {
    const int previous = w->pos;
    w->pos = std::clamp(pos, w->rangeMin, std::max(w->rangeMin, w->rangeMax));
    notify(w, StateChange::Progress);
    return previous;
}

LRESULT controlProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto wide = static_cast<LPARAM>(wParam);  // wParam as the signed number it carries
    switch (message) {
        case WM_SETTEXT:
            return setText(w, textOf(lParam));
        case EM_SETSEL:
            return setSelection(w, static_cast<int>(wide), static_cast<int>(lParam));
        case EM_SCROLLCARET:
            return TRUE;
        case EM_REPLACESEL:
            return replaceSelection(w, textOf(lParam));
        case EM_LIMITTEXT:
            w->textLimit = std::max(0, static_cast<int>(wide));
            return 0;
        case BM_GETCHECK:
            return w->checked ? 1 : 0;
        case BM_SETCHECK:
            return setCheck(w, wParam != 0);
        case CB_ADDSTRING:
            return addItem(w, textOf(lParam));
        case CB_RESETCONTENT:
            return resetItems(w);
        case CB_GETCOUNT:
            return static_cast<LRESULT>(w->items.size());
        case CB_GETCURSEL:
            return w->curSel;
        case CB_SETCURSEL:
            return selectItem(w, static_cast<LRESULT>(wide));
        case CB_SELECTSTRING:
            return selectItemByPrefix(w, static_cast<LRESULT>(wide), textOf(lParam));
        case PBM_SETRANGE:
            return setRange(w, lParam);
        case PBM_SETPOS:
            return setPosition(w, static_cast<int>(wide));
        case PBM_GETPOS:
            return w->pos;
        default:
            return 0;
    }
}

// A control window as its template describes it, in the state a new dialog starts with.
std::unique_ptr<WindowObject> makeControl(const res::ControlTemplate& c, WindowObject& dialog) {
    auto w = std::make_unique<WindowObject>();
    w->id = c.id;
    w->kind = c.kind;
    w->text = c.kind == res::ControlKind::StaticIcon || c.kind == res::ControlKind::ComboBox ||
                      c.kind == res::ControlKind::Edit
                  ? std::string()
                  : c.text;
    w->style = c.style;
    w->helpId = c.helpId;
    w->x = c.x;
    w->y = c.y;
    w->cx = c.cx;
    w->cy = c.cy;
    w->enabled = (c.style & res::kWsDisabled) == 0;
    w->visible = (c.style & res::kWsVisible) != 0;
    w->parent = &dialog;
    return w;
}

std::vector<CDialog*>& activeDialogs() {
    static std::vector<CDialog*> dialogs;
    return dialogs;
}

void forgetDialog(CDialog* dialog) {
    auto& v = activeDialogs();
    v.erase(std::remove(v.begin(), v.end(), dialog), v.end());
}

}  // namespace

Backend& AfxBackend() {
    static NullBackend fallback;
    return g_backend ? *g_backend : fallback;
}

void AfxSetBackend(Backend* backend) {
    g_backend = backend;
}

// ---- CCmdTarget, CMenu ----

void CCmdTarget::BeginWaitCursor() {
    AfxBackend().setWaitCursor(true);
}
void CCmdTarget::EndWaitCursor() {
    AfxBackend().setWaitCursor(false);
}

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text) {
    if (!m_owner) return FALSE;
    m_owner->systemMenu.push_back({flags, static_cast<UINT>(id), text ? text : ""});
    notify(m_owner, StateChange::Menu);
    return TRUE;
}

// ---- CWnd ----

CWnd::~CWnd() {
    if (m_hWnd && m_hWnd->wnd == this) m_hWnd->wnd = nullptr;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    if (hwnd->wnd) return hwnd->wnd;
    if (!hwnd->permanent) {
        hwnd->permanent = std::make_unique<CWnd>();
        hwnd->permanent->m_hWnd = hwnd;
    }
    return hwnd->permanent.get();
}

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd || hwnd->destroyed) return 0;
    return CWnd::FromHandle(hwnd)->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(m_hWnd, message, wParam, lParam);
}

const MessageMap& CWnd::GetMessageMap() const {
    static const MessageMap empty;
    return empty;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND)
        return OnCommand(wParam, lParam) ? 0 : DefWindowProc(message, wParam, lParam);
    for (const auto& entry : GetMessageMap())
        if (entry.message == message) return entry.handler(*this, wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    for (const auto& entry : GetMessageMap())
        if (entry.message == WM_COMMAND && entry.id == id && entry.code == code) {
            entry.handler(*this, wParam, lParam);
            return TRUE;
        }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd || m_hWnd->isDialog) return 0;
    return controlProc(m_hWnd, message, wParam, lParam);
}

void CWnd::DoDataExchange(CDataExchange*) {}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(afx::findControl(m_hWnd, id));
}

int CWnd::GetDlgCtrlID() const {
    return m_hWnd ? m_hWnd->id : 0;
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (!m_hWnd) return FALSE;
    const BOOL wasDisabled = m_hWnd->enabled ? FALSE : TRUE;
    m_hWnd->enabled = enable != FALSE;
    notify(m_hWnd, StateChange::Enabled);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    return m_hWnd && m_hWnd->enabled ? TRUE : FALSE;
}

CWnd* CWnd::SetFocus() {
    if (!m_hWnd) return nullptr;
    HWND root = afx::rootOf(m_hWnd);
    HWND previous = root->focus;
    root->focus = m_hWnd;
    notify(m_hWnd, StateChange::Focus);
    return FromHandle(previous);
}

CWnd* CWnd::GetFocus() {
    auto& dialogs = activeDialogs();
    if (dialogs.empty() || !dialogs.back()->m_hWnd) return nullptr;
    return FromHandle(dialogs.back()->m_hWnd->focus);
}

void CWnd::SetWindowText(const char* text) {
    SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

void CWnd::GetWindowText(CString& text) const {
    text = m_hWnd ? CString(m_hWnd->text) : CString();
}

CString CWnd::GetWindowText() const {
    CString text;
    GetWindowText(text);
    return text;
}

void CWnd::SetDlgItemText(int id, const char* text) {
    if (CWnd* item = GetDlgItem(id)) item->SetWindowText(text);
}

BOOL CWnd::IsIconic() const {
    return m_hWnd && m_hWnd->iconic ? TRUE : FALSE;
}

void CWnd::GetClientRect(RECT* rect) const {
    if (rect) *rect = m_hWnd ? m_hWnd->client : RECT{0, 0, 0, 0};
}

CMenu* CWnd::GetSystemMenu(BOOL) {
    if (!m_hWnd || !m_hWnd->hasSystemMenu) return nullptr;
    if (!m_systemMenu) m_systemMenu = std::make_unique<CMenu>(m_hWnd);
    return m_systemMenu.get();
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    m_hWnd->destroyed = true;
    return TRUE;
}

BOOL CWnd::RedrawWindow(const RECT*, void*, UINT flags) {
    if (!m_hWnd) return FALSE;
    if (flags & RDW_UPDATENOW) AfxBackend().updateNow(m_hWnd);
    return TRUE;
}

void CWnd::CenterWindow(CWnd*) {}

// ---- controls ----

int CButton::GetCheck() const {
    return static_cast<int>(SendMessageA(m_hWnd, BM_GETCHECK, 0, 0));
}
void CButton::SetCheck(int check) {
    SendMessageA(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(check), 0);
}

void CEdit::SetSel(int start, int end, BOOL) {
    SendMessageA(m_hWnd, EM_SETSEL, static_cast<WPARAM>(static_cast<LPARAM>(start)), end);
}
void CEdit::ReplaceSel(const char* text, BOOL canUndo) {
    SendMessageA(m_hWnd, EM_REPLACESEL, static_cast<WPARAM>(canUndo),
                 reinterpret_cast<LPARAM>(text));
}
void CEdit::LimitText(int chars) {
    SendMessageA(m_hWnd, EM_LIMITTEXT, static_cast<WPARAM>(static_cast<LPARAM>(chars)), 0);
}

void CComboBox::ResetContent() {
    SendMessageA(m_hWnd, CB_RESETCONTENT, 0, 0);
}
int CComboBox::AddString(const char* text) {
    return static_cast<int>(SendMessageA(m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
int CComboBox::GetCount() const {
    return static_cast<int>(SendMessageA(m_hWnd, CB_GETCOUNT, 0, 0));
}
int CComboBox::GetCurSel() const {
    return static_cast<int>(SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0));
}
int CComboBox::SetCurSel(int index) {
    return static_cast<int>(
        SendMessageA(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(static_cast<LPARAM>(index)), 0));
}
void CComboBox::GetLBText(int index, CString& text) const {
    if (m_hWnd && index >= 0 && index < static_cast<int>(m_hWnd->items.size()))
        text = m_hWnd->items[static_cast<std::size_t>(index)];
    else
        text.Empty();
}
int CComboBox::SelectString(int startAfter, const char* prefix) {
    return static_cast<int>(SendMessageA(m_hWnd, CB_SELECTSTRING,
                                         static_cast<WPARAM>(static_cast<LPARAM>(startAfter)),
                                         reinterpret_cast<LPARAM>(prefix)));
}

void CProgressCtrl::SetRange(short lower, short upper) {
    SendMessageA(m_hWnd, PBM_SETRANGE, 0,
                 MAKELPARAM(static_cast<UINT>(static_cast<unsigned short>(lower)),
                            static_cast<UINT>(static_cast<unsigned short>(upper))));
}
int CProgressCtrl::SetPos(int pos) {
    return static_cast<int>(
        SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(static_cast<LPARAM>(pos)), 0));
}
int CProgressCtrl::GetPos() const {
    return static_cast<int>(SendMessageA(m_hWnd, PBM_GETPOS, 0, 0));
}

// ---- data exchange ----

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (control.m_hWnd) return;
    HWND hwnd = afx::findControl(pDX->m_pDlgWnd->m_hWnd, id);
    if (!hwnd) return;
    control.m_hWnd = hwnd;
    hwnd->wnd = &control;
}

void DDX_Radio(CDataExchange* pDX, int id, int& value) {
    HWND dialog = pDX->m_pDlgWnd->m_hWnd;
    if (!dialog) return;
    // The value numbers the radio buttons of the group that begins with control `id`.
    const std::vector<HWND> group = afx::radioGroupOf(afx::findControl(dialog, id));
    if (pDX->m_bSaveAndValidate) {
        const auto checked =
            std::find_if(group.begin(), group.end(), [](HWND radio) { return radio->checked; });
        value = checked == group.end() ? -1 : static_cast<int>(checked - group.begin());
        return;
    }
    for (std::size_t i = 0; i < group.size(); ++i)
        SendMessageA(group[i], BM_SETCHECK, static_cast<int>(i) == value ? 1 : 0, 0);
}

void DDX_CBString(CDataExchange* pDX, int id, CString& value) {
    HWND combo = afx::findControl(pDX->m_pDlgWnd->m_hWnd, id);
    if (!combo) return;
    if (pDX->m_bSaveAndValidate) {
        value = combo->text;
        return;
    }
    if (SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(static_cast<LPARAM>(-1)),
                     reinterpret_cast<LPARAM>(value.c_str())) == CB_ERR)
        SendMessageA(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
}

// ---- CDialog ----

CDialog::CDialog(int templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    forgetDialog(this);
    if (m_root) {
        for (auto& child : m_root->children)
            if (child->wnd) child->wnd->m_hWnd = nullptr;
        m_root->wnd = nullptr;
    }
    m_hWnd = nullptr;
}

void CDialog::buildWindows() {
    const res::DialogTemplate* t = res::findDialogTemplate(m_templateId);
    if (m_root) {  // a second run: the controls are made anew
        for (auto& child : m_root->children)
            if (child->wnd) child->wnd->m_hWnd = nullptr;
    }
    m_root = std::make_unique<WindowObject>();
    WindowObject& root = *m_root;
    root.isDialog = true;
    root.id = m_templateId;
    root.dialogTemplate = t;
    root.wnd = this;
    m_hWnd = &root;
    if (!t) return;
    root.text = t->caption;
    root.style = t->style;
    root.exStyle = t->exStyle;
    root.cx = t->cx;
    root.cy = t->cy;
    root.hasSystemMenu = (t->style & res::kWsSysMenu) != 0;
    // Until a backend measures its window: dialog units at a 6 x 13 pixel base.
    root.client = {0, 0, t->cx * 6 / 4, t->cy * 13 / 8};
    for (const auto& c : t->controls) root.children.push_back(makeControl(c, root));
}

BOOL CDialog::Create() {
    buildWindows();
    if (!m_root->dialogTemplate) return FALSE;
    forgetDialog(this);
    activeDialogs().push_back(this);
    RunInitDialog();
    return TRUE;
}

void CDialog::BeginWindows() {
    buildWindows();
    forgetDialog(this);
    activeDialogs().push_back(this);
    if (m_root->dialogTemplate) RunInitDialog();
}

void CDialog::FinishWindows() {
    forgetDialog(this);
    if (m_root) m_root->destroyed = true;
}

INT_PTR CDialog::DoModal() {
    buildWindows();
    if (!m_root->dialogTemplate) return -1;
    m_root->result = -1;
    activeDialogs().push_back(this);
    AfxBackend().runModal(*this);
    forgetDialog(this);
    m_root->destroyed = true;
    return m_root->result;
}

void CDialog::RunInitDialog() {
    if (!OnInitDialog() || !m_root || m_root->destroyed || m_root->ended) return;
    for (const auto& child : m_root->children)
        if (afx::isTabStop(child.get())) {
            FromHandle(child.get())->SetFocus();
            break;
        }
}

void CDialog::EndDialog(INT_PTR result) {
    if (!m_root) return;
    m_root->ended = true;
    m_root->result = result;
    AfxBackend().endModal(*this);
}

BOOL CDialog::DestroyWindow() {
    if (!m_root || m_root->destroyed) return FALSE;
    m_root->destroyed = true;
    forgetDialog(this);
    AfxBackend().endModal(*this);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) OnOK();
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) OnCancel();
            return 0;
        case WM_SETICON: {
            HICON icon = reinterpret_cast<HICON>(lParam);
            HICON& slot = wParam ? m_hWnd->bigIcon : m_hWnd->smallIcon;
            HICON previous = slot;
            slot = icon;
            notify(m_hWnd, StateChange::Icon);
            return reinterpret_cast<LRESULT>(previous);
        }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessage(WM_COMMAND, IDCANCEL, 0);
            return 0;
        case WM_HELP:
            // Without a handler of its own a dialog passes help on to the application.
            if (CWinApp* app = AfxGetApp()) app->OnHelp();
            return TRUE;
        default:
            return 0;
    }
}

// ---- painting ----

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon) {
    if (!m_context.hwnd || !icon) return FALSE;
    AfxBackend().drawIcon(m_context.hwnd, x, y, icon);
    return TRUE;
}

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        default:
            return 0;
    }
}

// ---- application ----

CWinApp::CWinApp(const char* appName) {
    if (appName) m_appName = appName;
    m_pszAppName = m_appName.c_str();
    m_previous = g_app;
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = m_previous;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

HICON CWinApp::LoadIcon(int id) const {
    return id == res::kIdrMainFrame ? &res::applicationIcon() : nullptr;
}

void CWinApp::OnHelp() {
    CWnd* main = m_pMainWnd;
    WinHelpA(main ? main->m_hWnd : nullptr, m_pszHelpFilePath, 0x000B /* HELP_FINDER */, 0);
}

void CWinApp::SetStartupInfo(std::string appName, std::string cmdLine, std::string helpPath) {
    m_appName = std::move(appName);
    m_cmdLine = std::move(cmdLine);
    m_helpPath = std::move(helpPath);
    m_pszAppName = m_appName.c_str();
    m_lpCmdLine = m_cmdLine.c_str();
    m_pszHelpFilePath = m_helpPath.c_str();
}

CWinApp* AfxGetApp() {
    return g_app;
}

CWnd* AfxGetMainWnd() {
    return g_app ? g_app->m_pMainWnd : nullptr;
}

void AfxEnableControlContainer() {}
BOOL Enable3dControlsStatic() {
    return TRUE;
}

int AfxMessageBox(const char* text, UINT type, UINT) {
    const char* caption = g_app ? g_app->m_pszAppName : "";
    HWND owner = nullptr;
    if (!activeDialogs().empty()) owner = activeDialogs().back()->m_hWnd;
    return AfxBackend().messageBox(owner, text ? text : "", caption, type);
}

int AfxMessageBoxDetails(const char* text, UINT type, const std::string& details) {
    if (details.empty()) return AfxMessageBox(text, type);
    const char* caption = g_app ? g_app->m_pszAppName : "";
    HWND owner = nullptr;
    if (!activeDialogs().empty()) owner = activeDialogs().back()->m_hWnd;
    return AfxBackend().messageBoxWithDetails(owner, text ? text : "", caption, type, details);
}
