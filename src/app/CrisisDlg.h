// The main dialog, "Korvane Crisis Disk Build": it owns all of the program's state, and the
// operations of the build, the diskette and the path history are its member functions.
#pragma once

#include <optional>

#include "build/build_outcome.h"
#include "build/build_record.h"
#include "build/image_candidates.h"
#include "build/payload_check.h"
#include "build/readback.h"
#include "framework/afxwin.h"
#include "platform/exclusive_hold.h"
#include "platform/staging_area.h"

class CCrisisDlg : public CDialog {
  public:
    explicit CCrisisDlg(CWnd* pParent = nullptr);
    ~CCrisisDlg() override;

    void SetCmdLine(CString strCmdLine);

    // The progress bar runs from 0 to this; the copies share it out by their lengths.
    static constexpr int kProgressRange = 50;

    // Application shell (app/CrisisDlg.cpp).
    void EnableControls(BOOL bEnable);
    // What a folder lacks of a kit: the minimal DOS and a flash utility, which every build
    // takes from the start directory.
    struct KitGaps {
        bool minidos = false;
        bool flashUtility = false;
        bool any() const { return minidos || flashUtility; }
    };
    static KitGaps MissingKit(const std::string& folder);
    // Makes `folder` the start directory for the rest of the run, as if the program had been
    // started there; false (nothing changed) when its path does not fit m_szStartDir or it
    // cannot be entered.
    BOOL UseStartDir(const std::string& folder);
    void SetStatusText(const char* text);
    void ResetStatus();

    // Build sequence, project check, copying (build/).
    int Build(BOOL withBootSector);
    int BuildHeld(BOOL withBootSector);   // Build's steps, within its hold
    int BuildSteps(BOOL withBootSector);  // the steps themselves, start directory to read-back
    int CheckProject();
    int CheckProjectFiles();
    int ReadPartNumber();
    DWORD GetFileLength(CString strFileName);
    int CopyFilesToDisk();
    // One build at a time (build/BuildHold.cpp): drive A: and, with bStartDir, the start
    // directory stay this run's while the result lives; nothing after a refusal was shown.
    std::optional<platform::BuildHold> HoldForBuild(BOOL bStartDir);
    // Before the success message (build/ReadBackDiskette.cpp): the diskette read back and
    // compared with the sources. CheckFloppy, before the build, only finds a diskette there.
    BOOL ReadBackDiskette();
    // Once the start directory is held: what an interrupted build left there is undone, and
    // a symbolic link where files are staged refuses the build.
    BOOL PrepareStartDir();
    // After the project check, before the format: the start directory can take what the
    // build stages, and the diskette's files can fit on the medium in drive A:.
    BOOL CheckStartDir();
    // After the format dialog, before anything is written: the diskette as it now is has the
    // room for the files (a diskette left unformatted keeps what it holds).
    BOOL CheckDisketteRoom();
    // The diskette's file list as this build takes it: each file's source and its length, or
    // why it cannot be taken.
    std::vector<build::ListedFile> ListedFiles() const;
    // After the start directory's check, before the format (build/CheckPayload.cpp): the BIOS
    // image and the video BIOS program of the list look like what their names promise; a
    // finding that is not a pass asks before anything is erased. False after a No.
    BOOL CheckPayload();
    // The payload checks' findings for the files of the list this build takes.
    std::vector<build::PayloadReport> PayloadReports() const;
    // The dialog's steps of the build's record (build/RecordSteps.cpp): begun with the build,
    // finished while drive A: is still held, then appended to the build log. The record itself,
    // its JSON and the log file are build/build_record.h.
    void StartRecord(const char* kind);
    void FinishRecord();
    void LogBuild();

    // Diskette preparation (disk/).
    BOOL CheckFloppy();
    // Before the format is offered: a diskette that will take writes.
    BOOL CheckWritable();
    void FormatFloppy();
    BOOL UpdateBootSector();
    // Before anything is written: crisboot.bin fits the medium in drive A:.
    BOOL CheckBootImage();
    // crisboot.bin in the current directory: exactly one sector, or why it cannot be used.
    static bool ReadBootImage(std::vector<std::uint8_t>& image, std::string& why);
    // The desktop's drives (disk/DesktopDrive.cpp). Drive A: found in use when the build
    // wanted to hold it: when it is mounted, says which file system is mounted where and offers
    // to unmount it. A failed unmount has been reported, with its cause.
    enum class UnmountOffer { NotMounted, Unmounted, Declined, Failed };
    UnmountOffer OfferUnmount();
    // After the success message: whether the diskette is to be ejected (or its drive powered
    // off) at the end of the build, asked once a run where the drive can do it.
    BOOL WantsDisketteOut();
    void RemoveDiskette();

    // Path history and chooser (history/).
    void LoadHistory();
    void InitPathCombo();
    void FillPathCombo();
    void AddPathToHistory();
    CString ExtractToken(char chSep, CString& strText, int nSkip);
    void OnButtonClose();
    void OnButtonBrowse();

    // Message handlers.
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnStart();
    void OnRadioMinidos();
    void OnRadioFulldos();
    void OnRadioFormat();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnContextMenu(CWnd* pWnd, POINT point);

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    const MessageMap& GetMessageMap() const override;

    // The dialog's help table: (control id, context id) pairs ended by (0, 0).
    static const DWORD* HelpIds();

    // Members, in declaration order.
    CButton m_btnStart;
    CButton m_btnClose;
    CButton m_btnBrowse;
    CEdit m_editStatus;
    CComboBox m_comboPath;
    CProgressCtrl m_progress;
    int m_nDiskKind;
    CString m_strProjectPath;
    char m_szStartDir[128];
    int m_nProgressPos;
    HICON m_hIcon;
    BOOL m_bFilesInStartDir;
    CString m_strPartNum;
    // Why the part-number file was refused though it holds the key (it names two part numbers,
    // or a longer one); empty otherwise.
    std::string m_strPartNumProblem;
    CString m_strHistory[4];
    CString m_strCmdLine;
    // The last Start was refused because another build holds drive A: or the start directory
    // (or drive A: is mounted or held by another program).
    BOOL m_bRefusedInUse;
    // The question on screen about the desktop's drives, for a policy that answers it: the
    // build's own questions are told apart by where the build stands, these by this.
    enum class DriveQuestion { None, Unmount, RemoveDiskette };
    DriveQuestion m_driveQuestion = DriveQuestion::None;
    // The question about the payload checks' findings is on screen, for a policy that
    // answers it; and what it was answered in this build (0: not asked, IDYES or IDNO).
    BOOL m_bPayloadQuestion = FALSE;
    int m_nPayloadAnswer = 0;
    // The answer to the question about taking the diskette out, kept for the run: 0 not asked
    // yet, else IDYES or IDNO.
    int m_nRemoveChoice = 0;
    // The diskette is to come out once the build has let go of drive A:.
    BOOL m_bRemoveDiskette = FALSE;

    // What the last build came to, and what it wrote with the files it took them from.
    build::Outcome m_outcome;
    // The BIOS files this build takes, as the project check chose them; staging copies these.
    build::BiosChoice m_biosChoice;
    build::Written m_written;
    // What the payload checks found in this build's files, once the build came to them.
    std::vector<build::PayloadReport> m_payload;
    // What the build's clean-up found changed in the start directory and left there; a build
    // that leaves anything is no success.
    std::vector<platform::StagingLeftover> m_stagingLeft;
    // Whether the read-back ran and what it found; none while it has not run.
    std::optional<bool> m_readBackPassed;
    // What a program knows before a build (its name, a backup it made), and the last build's
    // record with the files as the read-back found them.
    build::Record m_recordBase;
    build::Record m_record;
    std::vector<build::ReadBackFile> m_readBack;
    void SetOutcome(build::Outcome::Kind kind, std::string file = {}, std::string detail = {},
                    std::optional<base::Failure> failure = std::nullopt);
    // A message box for the outcome just set: its text as given, and what failed underneath
    // (the cause quenvol-cli prints after it) as the box's details.
    int ShowOutcome(const char* text, UINT type) {
        return AfxMessageBoxDetails(text, type, m_outcome.detail);
    }
};

// Control ids of template 102.
inline constexpr int IDC_COMBO_PATH = 1000;
inline constexpr int IDC_RADIO_MINIDOS = 1001;
inline constexpr int IDC_RADIO_FORMAT = 1002;
inline constexpr int IDC_RADIO_FULLDOS = 1003;
inline constexpr int IDC_BUTTON_BROWSE = 1004;
inline constexpr int IDC_PROGRESS = 1005;
inline constexpr int IDC_START = 1006;
inline constexpr int IDC_BUTTON_CLOSE = 1007;
inline constexpr int IDC_EDIT_STATUS = 1008;
