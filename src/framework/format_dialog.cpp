#include "framework/format_dialog.h"

#include <string>

#include "fat/fat12.h"
#include "framework/shell.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "res/resources.h"

namespace shell {
namespace {

constexpr UINT kDefaultSecond = 0x100;  // the second button is the default

constexpr char kBadLabel[] =
    "The volume label is not valid: at most 11 characters, no leading blank, and none of "
    "* ? . , ; : / \\ | + = < > [ ] \".";

class FormatDialog : public CDialog {
  public:
    FormatDialog(UINT drive, CWnd* owner) : CDialog(res::kIddFormatDrive, owner), m_drive(drive) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        bindControls();
        m_fileSystem.AddString("FAT");
        m_fileSystem.SetCurSel(0);
        m_label.LimitText(static_cast<int>(fat::kLabelBytes));
        m_progress.SetRange(0, 100);
        refreshMedium();
        return TRUE;
    }
    // Close (and Escape, and the caption's close box) while no format runs.
    void OnCancel() override {
        if (!m_busy) EndDialog(IDCANCEL);
    }
    // Enter starts, as the focused Start would; the warning still stands before any erase,
    // with Cancel as its default.
    void OnOK() override { start(); }

    const MessageMap& GetMessageMap() const override {
        static const MessageMap map = {
            ON_BN_CLICKED(res::kIdcFormatStart, &FormatDialog::start),
            ON_BN_CLICKED(res::kIdcFormatQuick, &FormatDialog::toggleQuick),
        };
        return map;
    }

  private:
    void bindControls() {
        CDataExchange exchange(this, FALSE);
        DDX_Control(&exchange, res::kIdcFormatCapacity, m_capacity);
        DDX_Control(&exchange, res::kIdcFormatFileSystem, m_fileSystem);
        DDX_Control(&exchange, res::kIdcFormatAllocation, m_allocation);
        DDX_Control(&exchange, res::kIdcFormatLabel, m_label);
        DDX_Control(&exchange, res::kIdcFormatQuick, m_quick);
        DDX_Control(&exchange, res::kIdcFormatProgress, m_progress);
        DDX_Control(&exchange, res::kIdcFormatStart, m_start);
    }

    // A message box over this dialog; the keyboard comes back to `focusAfter`.
    int box(const std::string& text, UINT type, CWnd& focusAfter) {
        const int answer = AfxBackend().messageBox(m_hWnd, text, kFormatTitle, type);
        focusAfter.SetFocus();
        return answer;
    }

    // What drive A: holds now: the capacity list names it, the allocation list its cluster.
    void refreshMedium() {
        m_capacity.ResetContent();
        m_allocation.ResetContent();
        if (m_drive != 0) {
            m_capacity.AddString("Not a diskette drive");
            m_allocation.AddString("Default allocation size");
        } else if (auto medium = platform::probeDriveA()) {
            m_capacity.AddString(medium->description.c_str());
            const unsigned clusterBytes =
                medium->geometry.sectorsPerCluster * unsigned{fat::kSectorSize};
            m_allocation.AddString((std::to_string(clusterBytes) + " bytes").c_str());
        } else {
            m_capacity.AddString(shortRefusal(medium.error().kind()).c_str());
            m_allocation.AddString("Default allocation size");
        }
        m_capacity.SetCurSel(0);
        m_allocation.SetCurSel(0);
    }

    void toggleQuick() { m_quick.SetCheck(m_quick.GetCheck() ? 0 : 1); }

    bool confirmErase() {
        // Named as it is now: the diskette or the drive may have changed since the dialog opened.
        const auto medium = platform::probeDriveA();
        const std::string driveA = medium ? medium->name : platform::driveAPath();
        return box(formatWarning(driveA) + "\n\n" + kFormatChoice,
                   MB_OKCANCEL | MB_ICONEXCLAMATION | kDefaultSecond, m_start) == IDOK;
    }

    void setBusy(bool busy) {
        m_busy = busy;
        m_shownPercent = -1;
        for (int id : {res::kIdcFormatCapacity, res::kIdcFormatFileSystem,
                       res::kIdcFormatAllocation, res::kIdcFormatLabel, res::kIdcFormatQuick,
                       res::kIdcFormatStart, static_cast<int>(IDCANCEL)})
            if (CWnd* control = GetDlgItem(id)) control->EnableWindow(!busy);
        AfxBackend().setWaitCursor(busy);
        if (busy) m_progress.SetPos(0);
    }

    void showProgress(std::uint32_t done, std::uint32_t all) {
        if (all == 0) return;
        const int percent = static_cast<int>(std::uint64_t{done} * 100 / all);
        // The bar is drawn only when it moves, so that drawing never slows a fast medium.
        if (percent == m_shownPercent) return;
        m_shownPercent = percent;
        m_progress.SetPos(percent);
    }

    void start() {
        if (m_busy) return;
        if (m_drive != 0) {
            box(kFormatOnlyDriveA, MB_OK | MB_ICONEXCLAMATION, m_start);
            return;
        }
        const CString label = m_label.GetWindowText();
        if (!fat::checkVolumeLabel(label.str()).ok()) {
            box(kBadLabel, MB_OK | MB_ICONEXCLAMATION, m_label);
            m_label.SetSel(0, -1);
            return;
        }
        if (!confirmErase()) return;
        fat::FormatOptions options;
        options.label = label.str();
        options.quick = m_quick.GetCheck() != 0;
        options.progress = [this](std::uint32_t done, std::uint32_t all) {
            showProgress(done, all);
        };
        setBusy(true);
        const platform::FormatResult result = platform::formatDriveA(options);
        setBusy(false);
        m_progress.SetPos(result ? 100 : 0);
        report(result);
        m_progress.SetPos(0);
        refreshMedium();
    }

    void report(const platform::FormatResult& result) {
        if (!result) {
            std::string text = formatFailureSentence(result.failure());
            const std::string detail = formatFailureDetail(result.failure());
            if (!detail.empty()) text += "\n\n" + detail;
            box(text, MB_OK | MB_ICONEXCLAMATION, m_start);
            return;
        }
        box(std::string(kFormatComplete) + "\n\n" + formatReport(*result), MB_OK | MB_ICONASTERISK,
            m_start);
    }

    UINT m_drive;
    bool m_busy = false;
    int m_shownPercent = -1;
    CComboBox m_capacity;
    CComboBox m_fileSystem;
    CComboBox m_allocation;
    CEdit m_label;
    CButton m_quick;
    CProgressCtrl m_progress;
    CButton m_start;
};

}  // namespace

void runFormatDialog(HWND owner, UINT drive) {
    FormatDialog dialog(drive, owner ? CWnd::FromHandle(owner) : nullptr);
    dialog.DoModal();
}

}  // namespace shell
