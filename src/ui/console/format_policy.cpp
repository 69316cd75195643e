#include "ui/console/format_policy.h"

#include <utility>

#include "framework/shell.h"
#include "platform/drive_format.h"

namespace console {

std::function<void(HWND, UINT)> makeFormatAction(FormatChoice choice, FormatOutcome* outcome,
                                                 FormatProgress progress) {
    return [choice = std::move(choice), outcome, progress = std::move(progress)](HWND, UINT drive) {
        FormatOutcome ignored;
        FormatOutcome& out = outcome ? *outcome : ignored;
        ++out.shown;
        out.failed = false;
        out.error.clear();
        out.errorKind.reset();
        out.skipped = choice.action == FormatChoice::Action::Skip;
        if (out.skipped) return;
        if (drive != 0) {
            // The shell's call names drives by number; only A: is ever a diskette here.
            out.failed = true;
            out.errorKind = base::Failure::Other;
            out.error = "Only drive A: can be formatted; drive number " + std::to_string(drive) +
                        " was asked for.";
            return;
        }
        fat::FormatOptions options;
        options.label = choice.label;
        options.quick = choice.action == FormatChoice::Action::Quick;
        options.progress = progress;
        auto report = platform::formatDriveA(options);
        if (!report) {
            out.failed = true;
            out.error = shell::formatFailureLine(report.failure());
            out.errorKind = report.kind();
            return;
        }
        ++out.formatted;
        out.report = std::move(*report);
    };
}

std::string describeOutcome(const FormatOutcome& outcome) {
    if (outcome.shown == 0) return "The diskette was not formatted.";
    if (outcome.skipped) return "The diskette in drive A: was left as it was.";
    if (outcome.failed) return outcome.error;
    if (!outcome.report) return "The diskette was not formatted.";
    std::string text =
        "Format complete: " + platform::groupThousands(outcome.report->capacityBytes) +
        " bytes available on the diskette";
    if (!outcome.report->badSectors.empty()) {
        text += ", " + std::to_string(outcome.report->badSectors.size()) + " bad sectors set aside";
    }
    return text + ".";
}

}  // namespace console
