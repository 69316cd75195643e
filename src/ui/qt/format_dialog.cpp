// The format dialog for drive A:: capacity, file system, allocation unit, volume label and
// quick format; Start asks before erasing, formats on this thread with a progress bar, and
// reports the result in words. Only Qt's own widgets, so that it runs on any platform plugin.
#include "ui/qt/format_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>
#include <string>

#include "fat/fat12.h"
#include "framework/shell.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"

namespace qtui {
namespace {

const QString kTitle = QString::fromLatin1(shell::kFormatTitle);

// The file system's one label rule, applied to the bytes the label will be as it is typed.
class LabelValidator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        const QByteArray bytes = input.toLocal8Bit();
        const std::string_view label(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return fat::checkVolumeLabel(label).ok() ? Acceptable : Invalid;
    }
};

QString fromStd(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

class FormatDialog final : public QDialog {
  public:
    FormatDialog(QWidget* owner, unsigned drive);

  protected:
    void reject() override {
        if (!m_busy) QDialog::reject();
    }
    void closeEvent(QCloseEvent* event) override {
        if (m_busy) {
            event->ignore();
            return;
        }
        QDialog::closeEvent(event);
    }

  private:
    void buildWidgets();
    void refreshMedium();
    void start();
    bool confirmErase();
    void setBusy(bool busy);
    void showProgress(std::uint32_t done, std::uint32_t all);
    void report(const platform::FormatResult& result);

    unsigned m_drive;
    bool m_busy = false;
    int m_shownPercent = -1;
    QComboBox* m_capacity = nullptr;
    QComboBox* m_fileSystem = nullptr;
    QComboBox* m_allocation = nullptr;
    QLineEdit* m_label = nullptr;
    QCheckBox* m_quick = nullptr;
    QGroupBox* m_options = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_close = nullptr;
};

FormatDialog::FormatDialog(QWidget* owner, unsigned drive) : QDialog(owner), m_drive(drive) {
    setObjectName(QStringLiteral("formatDialog"));
    setWindowTitle(kTitle);
    setModal(true);
    buildWidgets();
    refreshMedium();
    connect(m_start, &QPushButton::clicked, this, &FormatDialog::start);
    connect(m_close, &QPushButton::clicked, this, &FormatDialog::accept);
}

void FormatDialog::buildWidgets() {
    auto* fields = new QFormLayout;
    auto addCombo = [&](const QString& name, const QString& caption) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(name);
        fields->addRow(caption, combo);
        return combo;
    };
    m_capacity = addCombo(QStringLiteral("capacity"), QStringLiteral("&Capacity:"));
    m_fileSystem = addCombo(QStringLiteral("fileSystem"), QStringLiteral("&File system:"));
    m_fileSystem->addItem(QStringLiteral("FAT"));
    m_allocation =
        addCombo(QStringLiteral("allocationUnit"), QStringLiteral("&Allocation unit size:"));
    m_label = new QLineEdit(this);
    m_label->setObjectName(QStringLiteral("volumeLabel"));
    m_label->setMaxLength(11);
    m_label->setValidator(new LabelValidator(m_label));
    fields->addRow(QStringLiteral("Volume &label:"), m_label);

    m_options = new QGroupBox(QStringLiteral("Format &options"), this);
    m_quick = new QCheckBox(QStringLiteral("&Quick Format"), m_options);
    m_quick->setObjectName(QStringLiteral("quickFormat"));
    auto* optionsLayout = new QVBoxLayout(m_options);
    optionsLayout->addWidget(m_quick);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    m_start = new QPushButton(QStringLiteral("&Start"), this);
    m_start->setObjectName(QStringLiteral("start"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("close"));
    // Enter must never start an erase by itself.
    m_start->setAutoDefault(false);
    m_close->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(m_options);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    setMinimumWidth(320);
}

void FormatDialog::refreshMedium() {
    m_capacity->clear();
    m_allocation->clear();
    m_capacity->setToolTip(QString());
    if (m_drive != 0) {
        m_capacity->addItem(QStringLiteral("Not a diskette drive"));
        m_allocation->addItem(QStringLiteral("Default allocation size"));
        return;
    }
    auto medium = platform::probeDriveA();
    if (!medium) {
        m_capacity->addItem(fromStd(shell::shortRefusal(medium.error().kind())));
        m_capacity->setToolTip(fromStd(shell::driveRefusalLine(medium.error())));
        m_allocation->addItem(QStringLiteral("Default allocation size"));
        return;
    }
    m_capacity->addItem(fromStd(medium->description));
    m_capacity->setToolTip(fromStd(medium->path));
    const unsigned clusterBytes = medium->geometry.sectorsPerCluster * unsigned{fat::kSectorSize};
    m_allocation->addItem(QStringLiteral("%1 bytes").arg(clusterBytes));
}

bool FormatDialog::confirmErase() {
    // Named as it is now: the diskette or the drive may have changed since the dialog opened.
    const auto medium = platform::probeDriveA();
    const std::string driveA = medium ? medium->name : platform::driveAPath();
    QMessageBox box(QMessageBox::Warning, kTitle, fromStd(shell::formatWarning(driveA)),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("formatWarning"));
    box.setTextFormat(Qt::PlainText);  // a path is never markup
    box.setInformativeText(QString::fromLatin1(shell::kFormatChoice));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void FormatDialog::start() {
    if (m_busy) return;
    if (m_drive != 0) {
        QMessageBox box(QMessageBox::Warning, kTitle, QString::fromLatin1(shell::kFormatOnlyDriveA),
                        QMessageBox::Ok, this);
        box.exec();
        return;
    }
    // The message boxes take the keyboard; give it back to this window's Start button.
    struct FocusBack {
        FormatDialog* dialog;
        ~FocusBack() {
            dialog->activateWindow();
            dialog->m_start->setFocus();
        }
    } focusBack{this};
    if (!confirmErase()) return;

    fat::FormatOptions options;
    options.label = m_label->text().toLocal8Bit().toStdString();
    options.quick = m_quick->isChecked();
    options.progress = [this](std::uint32_t done, std::uint32_t all) { showProgress(done, all); };
    setBusy(true);
    auto result = platform::formatDriveA(options);
    setBusy(false);
    m_progress->setValue(result ? m_progress->maximum() : 0);
    report(result);
    m_progress->setValue(0);
    refreshMedium();
}

void FormatDialog::setBusy(bool busy) {
    m_busy = busy;
    m_shownPercent = -1;
    for (QWidget* w : std::initializer_list<QWidget*>{m_capacity, m_fileSystem, m_allocation,
                                                      m_label, m_options, m_start, m_close}) {
        w->setEnabled(!busy);
    }
    if (busy) {
        m_progress->setValue(0);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FormatDialog::showProgress(std::uint32_t done, std::uint32_t all) {
    if (all == 0) return;
    const int percent = static_cast<int>(std::uint64_t{done} * 100 / all);
    // Repaint only when the bar moves, so a fast medium is not slowed down by drawing.
    if (percent == m_shownPercent) return;
    m_shownPercent = percent;
    m_progress->setValue(percent);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FormatDialog::report(const platform::FormatResult& result) {
    if (!result) {
        QMessageBox box(QMessageBox::Warning, kTitle,
                        fromStd(shell::formatFailureSentence(result.failure())), QMessageBox::Ok,
                        this);
        box.setObjectName(QStringLiteral("formatError"));
        box.setInformativeText(fromStd(shell::formatFailureDetail(result.failure())));
        box.exec();
        return;
    }
    QMessageBox box(QMessageBox::Information, kTitle, QString::fromLatin1(shell::kFormatComplete),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("formatComplete"));
    box.setInformativeText(fromStd(shell::formatReport(*result)));
    box.exec();
}

}  // namespace

void runFormatDialog(QWidget* owner, unsigned drive) {
    {
        FormatDialog dialog(owner, drive);
        dialog.exec();
    }
    // The window system would hand the keyboard back later, or not at all after nested boxes.
    if (owner) owner->activateWindow();
}

}  // namespace qtui
