#include "app/CrisisDlg.h"

#include <cstring>
#include <string>

#include "app/AboutDlg.h"
#include "app/messages.h"
#include "platform/host_system.h"
#include "res/resources.h"

namespace {
constexpr DWORD kStatusLineHelpId = 0x806603F0;
}

CCrisisDlg::CCrisisDlg(CWnd* pParent) : CDialog(res::kIddCrisisDialog, pParent) {
    m_nDiskKind = -1;
    m_strProjectPath = "";
    std::memset(m_szStartDir, 0, sizeof m_szStartDir);
    m_nProgressPos = 0;
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(res::kIdrMainFrame) : &res::applicationIcon();
    m_bFilesInStartDir = FALSE;
    m_bRefusedInUse = FALSE;
}

CCrisisDlg::~CCrisisDlg() = default;

void CCrisisDlg::SetCmdLine(CString strCmdLine) {
    m_strCmdLine = strCmdLine;
}

const DWORD* CCrisisDlg::HelpIds() {
    static const std::vector<DWORD> ids = [] {
        std::vector<DWORD> v;
        for (const auto& pair : res::crisisHelpTable()) {
            v.push_back(pair.controlId);
            v.push_back(pair.contextId);
        }
        return v;
    }();
    return ids.data();
}

const MessageMap& CCrisisDlg::GetMessageMap() const {
    static const MessageMap map = {
        ON_WM_SYSCOMMAND(&CCrisisDlg::OnSysCommand),
        ON_WM_PAINT(&CCrisisDlg::OnPaint),
        ON_WM_QUERYDRAGICON(&CCrisisDlg::OnQueryDragIcon),
        ON_BN_CLICKED(IDC_BUTTON_CLOSE, &CCrisisDlg::OnButtonClose),
        ON_BN_CLICKED(IDC_BUTTON_BROWSE, &CCrisisDlg::OnButtonBrowse),
        ON_BN_CLICKED(IDC_START, &CCrisisDlg::OnStart),
        ON_BN_CLICKED(IDC_RADIO_MINIDOS, &CCrisisDlg::OnRadioMinidos),
        ON_BN_CLICKED(IDC_RADIO_FULLDOS, &CCrisisDlg::OnRadioFulldos),
        ON_BN_CLICKED(IDC_RADIO_FORMAT, &CCrisisDlg::OnRadioFormat),
        ON_WM_HELPINFO(&CCrisisDlg::OnHelpInfo),
        ON_WM_CONTEXTMENU(&CCrisisDlg::OnContextMenu),
    };
    return map;
}

void CCrisisDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_BUTTON_CLOSE, m_btnClose);
    DDX_Control(pDX, IDC_BUTTON_BROWSE, m_btnBrowse);
    DDX_Control(pDX, IDC_EDIT_STATUS, m_editStatus);
    DDX_Control(pDX, IDC_COMBO_PATH, m_comboPath);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Radio(pDX, IDC_RADIO_MINIDOS, m_nDiskKind);
    DDX_CBString(pDX, IDC_COMBO_PATH, m_strProjectPath);
}

BOOL CCrisisDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString strAboutMenu;
        strAboutMenu.LoadString(res::kIdsAboutBox);
        if (!strAboutMenu.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SendMessage(WM_SETICON, 1, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, 0, reinterpret_cast<LPARAM>(m_hIcon));

    m_nDiskKind = 0;
    m_bFilesInStartDir = FALSE;
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, kProgressRange));
    m_nProgressPos = 1;

    // The start directory must fit its 128-character field; a longer one would make every
    // build look for its files somewhere else, so the program refuses to go on.
    const DWORD needed = GetCurrentDirectoryA(sizeof m_szStartDir, m_szStartDir);
    if (needed == 0 || needed >= sizeof m_szStartDir) {
        std::memset(m_szStartDir, 0, sizeof m_szStartDir);
        const auto cwd = platform::currentDirectory();
        const std::string where = cwd ? *cwd : std::string();
        SetOutcome(build::Outcome::Kind::StartDirRefused, where);
        AfxMessageBox(texts::startDirTooLong(where).c_str(), MB_OK | MB_ICONHAND);
        EndDialog(IDCANCEL);
        return FALSE;
    }

    LoadHistory();
    InitPathCombo();
    AddPathToHistory();
    UpdateData(FALSE);
    return TRUE;
}

void CCrisisDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        DefWindowProc(WM_SYSCOMMAND, nID, lParam);
    }
}

void CCrisisDlg::OnPaint() {
    if (!IsIconic()) {
        DefWindowProc(WM_PAINT, 0, 0);
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (static_cast<int>(rect.right - rect.left) - cxIcon + 1) / 2;
    const int y = (static_cast<int>(rect.bottom - rect.top) - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CCrisisDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CCrisisDlg::OnRadioMinidos() {
    m_nDiskKind = 0;
}
void CCrisisDlg::OnRadioFulldos() {
    m_nDiskKind = 1;
}
void CCrisisDlg::OnRadioFormat() {
    m_nDiskKind = 2;
}

void CCrisisDlg::OnStart() {
    int result = IDYES;
    m_comboPath.GetWindowText(m_strProjectPath);
    switch (m_nDiskKind) {
        case 0:
            result = Build(TRUE);
            break;
        case 1:
            result = Build(FALSE);
            break;
        case 2:
            if (const auto hold = HoldForBuild(FALSE)) FormatFloppy();
            break;
        default:
            break;
    }
    if (result == IDYES) {
        if (CWnd* start = GetDlgItem(IDC_START)) start->SetFocus();
    } else {
        OnButtonClose();
    }
}

void CCrisisDlg::OnOK() {
    OnStart();
}

void CCrisisDlg::EnableControls(BOOL bEnable) {
    m_btnClose.EnableWindow(bEnable);
    m_btnStart.EnableWindow(bEnable);
    GetDlgItem(IDC_RADIO_MINIDOS)->EnableWindow(bEnable);
    GetDlgItem(IDC_RADIO_FULLDOS)->EnableWindow(bEnable);
    GetDlgItem(IDC_RADIO_FORMAT)->EnableWindow(bEnable);
    m_editStatus.EnableWindow(!bEnable);
    if (!m_bFilesInStartDir) {
        m_btnBrowse.EnableWindow(bEnable);
        m_comboPath.EnableWindow(bEnable);
    }
}

CCrisisDlg::KitGaps CCrisisDlg::MissingKit(const std::string& folder) {
    const auto has = [&folder](const char* name) {
        return PathFileExistsA((folder + "\\" + name).c_str()) != FALSE;
    };
    KitGaps gaps;
    gaps.minidos = !has("minidos.sys");
    gaps.flashUtility = !has("zyplet.exe") && !has("zyplet16.exe");
    return gaps;
}

BOOL CCrisisDlg::UseStartDir(const std::string& folder) {
    if (folder.empty() || folder.size() >= sizeof m_szStartDir) return FALSE;
    if (!SetCurrentDirectoryA(folder.c_str())) return FALSE;
    std::memset(m_szStartDir, 0, sizeof m_szStartDir);
    std::memcpy(m_szStartDir, folder.data(), folder.size());
    return TRUE;
}

void CCrisisDlg::SetOutcome(build::Outcome::Kind kind, std::string file, std::string detail,
                            std::optional<base::Failure> failure) {
    m_outcome.kind = kind;
    m_outcome.failure = failure;
    m_outcome.file = std::move(file);
    m_outcome.detail = std::move(detail);
    ++m_outcome.serial;
}

void CCrisisDlg::SetStatusText(const char* text) {
    m_editStatus.SendMessage(EM_SETSEL, 0, -1);
    m_editStatus.SendMessage(EM_SCROLLCARET, 0, 0);
    m_editStatus.SendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

void CCrisisDlg::ResetStatus() {
    SetStatusText("");
    m_progress.SetPos(0);
    m_nProgressPos = 1;
}

BOOL CCrisisDlg::OnHelpInfo(HELPINFO* pHelpInfo) {
    if (pHelpInfo->dwContextId == kStatusLineHelpId) return TRUE;
    if (pHelpInfo->iContextType == HELPINFO_WINDOW)
        WinHelpA(pHelpInfo->hItemHandle, AfxGetApp() ? AfxGetApp()->m_pszHelpFilePath : "",
                 HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(HelpIds()));
    return TRUE;
}

void CCrisisDlg::OnContextMenu(CWnd* pWnd, POINT) {
    if (pWnd == this || !pWnd) return;
    WinHelpA(pWnd->m_hWnd, AfxGetApp() ? AfxGetApp()->m_pszHelpFilePath : "", HELP_CONTEXTMENU,
             reinterpret_cast<ULONG_PTR>(HelpIds()));
}
