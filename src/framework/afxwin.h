// The application framework the dialog code is written against: application object,
// windows, dialogs with message maps and data exchange, controls, message boxes, help.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/afxstr.h"
#include "framework/backend.h"
#include "framework/wintypes.h"

class CWnd;
class CDialog;
class CDataExchange;

// One entry of a message map: the first entry that matches a message handles it.
struct MessageMapEntry {
    UINT message;
    UINT code;  // notification code for WM_COMMAND
    UINT id;    // control id for WM_COMMAND, 0 otherwise
    std::function<LRESULT(CWnd&, WPARAM, LPARAM)> handler;
};
using MessageMap = std::vector<MessageMapEntry>;

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;
    void BeginWaitCursor();
    void EndWaitCursor();
};

class CMenu {
  public:
    explicit CMenu(HWND owner) : m_owner(owner) {}
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);

  private:
    HWND m_owner;
};

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object bound to a window: the dialog, a bound control member, or a permanent
    // wrapper made on first use.
    static CWnd* FromHandle(HWND hwnd);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    CWnd* SetFocus();
    static CWnd* GetFocus();
    void SetWindowText(const char* text);
    void GetWindowText(CString& text) const;
    CString GetWindowText() const;
    void SetDlgItemText(int id, const char* text);
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;
    CMenu* GetSystemMenu(BOOL revert);
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual BOOL DestroyWindow();
    BOOL RedrawWindow(const RECT* update = nullptr, void* region = nullptr, UINT flags = 0);
    void CenterWindow(CWnd* alternateOwner = nullptr);

    // The window procedure: the message map first, then the default handling.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual const MessageMap& GetMessageMap() const;
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

  protected:
    friend class CDataExchange;
    std::unique_ptr<CMenu> m_systemMenu;
};

// Control classes: thin views over the control windows.
class CButton : public CWnd {
  public:
    int GetCheck() const;
    void SetCheck(int check);
};

class CEdit : public CWnd {
  public:
    void SetSel(int start, int end, BOOL noScroll = FALSE);
    void ReplaceSel(const char* text, BOOL canUndo = FALSE);
    // The most bytes the user may type into the field; 0 lifts the limit. The program's own
    // SetWindowText is not limited.
    void LimitText(int chars = 0);
};

class CComboBox : public CWnd {
  public:
    void ResetContent();
    int AddString(const char* text);
    int GetCount() const;
    int GetCurSel() const;
    int SetCurSel(int index);
    void GetLBText(int index, CString& text) const;
    int SelectString(int startAfter, const char* prefix);
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange(short lower, short upper);
    int SetPos(int pos);
    int GetPos() const;
};

class CDataExchange {
  public:
    CDataExchange(CWnd* dlg, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Binds a control member to the control with that id, once.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Radio group starting at `id`: load selects button `value` (none for -1); save gives the
// index of the selected button, -1 if none.
void DDX_Radio(CDataExchange* pDX, int id, int& value);
// Combo box text: load selects the first item that begins with the text, ignoring case,
// or sets the edit text when none does; save takes the combo box's text.
void DDX_CBString(CDataExchange* pDX, int id, CString& value);

class CDialog : public CWnd {
  public:
    explicit CDialog(int templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally through the backend; returns the EndDialog result.
    virtual INT_PTR DoModal();
    // Creates the dialog without a modal loop (for driving it directly) and initialises it.
    BOOL Create();
    void EndDialog(INT_PTR result);
    BOOL DestroyWindow() override;

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Called by a backend once the windows exist: runs OnInitDialog and places the focus.
    void RunInitDialog();
    int TemplateId() const { return m_templateId; }
    CWnd* Parent() const { return m_pParentWnd; }
    bool HasEnded() const { return m_root && (m_root->ended || m_root->destroyed); }
    INT_PTR Result() const { return m_root ? m_root->result : -1; }

  protected:
    void SetTemplateId(int id) { m_templateId = id; }
    // Makes the windows and initialises them without a loop of the dialog's own; a chooser
    // shown by the backend runs in between. FinishWindows marks them gone.
    void BeginWindows();
    void FinishWindows();

  private:
    void buildWindows();

    int m_templateId;
    CWnd* m_pParentWnd;
    std::unique_ptr<WindowObject> m_root;
};

// Painting of a window outside its default painting.
struct PaintContext {
    HWND hwnd;
};

class CPaintDC {
  public:
    explicit CPaintDC(CWnd* wnd) : m_context{wnd->m_hWnd} {}
    HDC GetSafeHdc() { return &m_context; }
    operator HDC() { return &m_context; }  // NOLINT
    BOOL DrawIcon(int x, int y, HICON icon);

  private:
    PaintContext m_context;
};

class CWinApp : public CCmdTarget {
  public:
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    HICON LoadIcon(int id) const;
    // The framework's default help action (ID_HELP).
    void OnHelp();

    const char* m_pszAppName = "";
    const char* m_lpCmdLine = "";
    const char* m_pszHelpFilePath = "";
    CWnd* m_pMainWnd = nullptr;

    // Start-up state; set by AfxWinMain, or by tests.
    void SetStartupInfo(std::string appName, std::string cmdLine, std::string helpPath);

  private:
    std::string m_appName, m_cmdLine, m_helpPath;
    CWinApp* m_previous = nullptr;  // the application object this one stands in for
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();

// The framework's start-up: stores the command-line text and the help file's path, then
// runs InitInstance. The command-line text is what follows the program's name: its
// arguments, each after one blank, with the blanks before the first skipped.
// Where the system keeps the command line as typed (Windows), `rawCommandLine` is it, and the
// text is its tail as typed: quotes, runs of blanks and trailing blanks stay.
int AfxWinMain(int argc, char** argv, const char* rawCommandLine = nullptr);
// The command-line text: what follows the program's name, with the blanks before it skipped.
std::string AfxCommandLineTail(const std::string& rawCommandLine);
// The command-line text of the arguments after the program's name: each after one blank, the
// blanks before the first skipped, as the dialog program takes it for the project path.
std::string AfxCommandLineOf(const std::vector<std::string>& arguments);
// The program file's own path with its extension replaced by ".HLP".
std::string AfxHelpPathFor(const std::string& programPath);
// The help file start-up hands on: the one beside the program when it is there, else
// quenvol.HLP in the installed data folder when that is there, else the one beside.
std::string AfxFindHelpFile(const std::string& programPath, const std::string& dataFolder);
// Where an installation of the running program keeps its data (the help file, the examples)
// and its documentation, found from the program's own folder; empty for a build without them.
std::string AfxInstalledDataFolder();
std::string AfxInstalledDocFolder();

int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
// A message box whose text stays as given, with `details` shown apart from it; empty details
// show the box alone.
int AfxMessageBoxDetails(const char* text, UINT type, const std::string& details);
void AfxEnableControlContainer();
BOOL Enable3dControlsStatic();

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
int GetSystemMetrics(int index);
BOOL WinHelpA(HWND hwnd, const char* helpFile, UINT command, ULONG_PTR data);

// Message map entries, written as the original macros.
template <class T>
MessageMapEntry ON_BN_CLICKED(UINT id, void (T::*fn)()) {
    return {WM_COMMAND, BN_CLICKED, id, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_SYSCOMMAND(void (T::*fn)(UINT, LPARAM)) {
    return {WM_SYSCOMMAND, 0, 0, [fn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
                (static_cast<T&>(w).*fn)(static_cast<UINT>(wp), lp);
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_PAINT(void (T::*fn)()) {
    return {WM_PAINT, 0, 0, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<T&>(w).*fn)();
                return 0;
            }};
}
template <class T>
MessageMapEntry ON_WM_QUERYDRAGICON(HCURSOR (T::*fn)()) {
    return {WM_QUERYDRAGICON, 0, 0, [fn](CWnd& w, WPARAM, LPARAM) -> LRESULT {
                return reinterpret_cast<LRESULT>((static_cast<T&>(w).*fn)());
            }};
}
template <class T>
MessageMapEntry ON_WM_HELPINFO(BOOL (T::*fn)(HELPINFO*)) {
    return {WM_HELP, 0, 0, [fn](CWnd& w, WPARAM, LPARAM lp) -> LRESULT {
                return (static_cast<T&>(w).*fn)(reinterpret_cast<HELPINFO*>(lp));
            }};
}
template <class T>
MessageMapEntry ON_WM_CONTEXTMENU(void (T::*fn)(CWnd*, POINT)) {
    return {WM_CONTEXTMENU, 0, 0, [fn](CWnd& w, WPARAM wp, LPARAM lp) -> LRESULT {
                POINT pt{static_cast<LONG>(static_cast<short>(LOWORD(static_cast<DWORD_PTR>(lp)))),
                         static_cast<LONG>(static_cast<short>(HIWORD(static_cast<DWORD_PTR>(lp))))};
                (static_cast<T&>(w).*fn)(CWnd::FromHandle(reinterpret_cast<HWND>(wp)), pt);
                return 0;
            }};
}
