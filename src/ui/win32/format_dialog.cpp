#include "ui/win32/format_dialog.h"

#include <string>

#include "fat/fat12.h"
#include "framework/shell.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "res/resources.h"

namespace win32ui {
namespace {

constexpr const char* kTitle = shell::kFormatTitle;
constexpr UINT kDefaultSecond = 0x100;  // the second button is the default

class FormatDialog : public CDialog {
  public:
    FormatDialog(UINT drive, CWnd* owner) : CDialog(res::kIddFormatDrive, owner), m_drive(drive) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        bindControls();
        m_fileSystem.AddString("FAT");
        m_fileSystem.SetCurSel(0);
        m_progress.SetRange(0, 100);
        refreshMedium();
        return TRUE;
    }
    // Close (and Escape, and the caption's close box) while no format runs.
    void OnCancel() override {
        if (!m_busy) EndDialog(IDCANCEL);
    }
    // Enter starts, as the focused Start would.
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
        DDX_Control(&exchange, res::kIdcFormatQuick, m_quick);
        DDX_Control(&exchange, res::kIdcFormatProgress, m_progress);
    }

    int box(const std::string& text, UINT type) {
        return AfxBackend().messageBox(m_hWnd, text, kTitle, type);
    }

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
            m_capacity.AddString(shell::shortRefusal(medium.error().kind()).c_str());
            m_allocation.AddString("Default allocation size");
        }
        m_capacity.SetCurSel(0);
        m_allocation.SetCurSel(0);
    }

    void toggleQuick() { m_quick.SetCheck(m_quick.GetCheck() ? 0 : 1); }

    bool confirmErase() {
        const auto medium = platform::probeDriveA();
        const std::string driveA = medium ? medium->name : platform::driveAPath();
        return box(shell::formatWarning(driveA) + "\n\n" + shell::kFormatChoice,
                   MB_OKCANCEL | MB_ICONEXCLAMATION | kDefaultSecond) == IDOK;
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
            box(shell::kFormatOnlyDriveA, MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        CString label;
        if (CWnd* field = GetDlgItem(res::kIdcFormatLabel)) field->GetWindowText(label);
        if (!fat::checkVolumeLabel(label.str()).ok()) {
            box("The volume label is not valid: at most 11 characters, no leading blank, and "
                "none of * ? . , ; : / \\ | + = < > [ ] \".",
                MB_OK | MB_ICONEXCLAMATION);
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
        if (CWnd* startButton = GetDlgItem(res::kIdcFormatStart)) startButton->SetFocus();
    }

    void report(const platform::FormatResult& result) {
        if (!result) {
            std::string text = shell::formatFailureSentence(result.failure());
            const std::string detail = shell::formatFailureDetail(result.failure());
            if (!detail.empty()) text += "\n\n" + detail;
            box(text, MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        box(std::string(shell::kFormatComplete) + "\n\n" + shell::formatReport(*result),
            MB_OK | MB_ICONASTERISK);
    }

    UINT m_drive;
    bool m_busy = false;
    int m_shownPercent = -1;
    CComboBox m_capacity;
    CComboBox m_fileSystem;
    CComboBox m_allocation;
    CButton m_quick;
    CProgressCtrl m_progress;
};

}  // namespace

void runFormatDialog(CWnd* owner, UINT drive) {
    FormatDialog dialog(drive, owner);
    dialog.DoModal();
}

}  // namespace win32ui
