// The console's answer to the format dialog: format drive A: at once (quick unless a full
// format was asked for) or leave the diskette as it is, and keep what happened for the caller.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fat/fat12.h"
#include "framework/wintypes.h"

namespace console {

struct FormatChoice {
    enum class Action { Skip, Quick, Full };
    Action action = Action::Quick;
    std::string label;  // volume label, at most 11 characters; stored in capitals
};

// Called as a format goes on with (sectors done, sectors in all), track by track.
using FormatProgress = std::function<void(std::uint32_t, std::uint32_t)>;

// What the format dialog did, over all the times it was shown.
struct FormatOutcome {
    int shown = 0;                            // times the program asked for the format dialog
    int formatted = 0;                        // formats that succeeded
    bool skipped = false;                     // the last time, the diskette was left as it was
    std::optional<fat::FormatReport> report;  // the last successful format
    bool failed = false;                      // the last time, the format was tried and failed
    std::string error;                        // that failure in words, for people
    std::optional<base::Failure> errorKind;   // and its kind, for code; none unless it failed
};

// The action for a policy's formatDrive. `outcome` may be null.
std::function<void(HWND, UINT)> makeFormatAction(FormatChoice choice, FormatOutcome* outcome,
                                                 FormatProgress progress = {});

// One line for the terminal: "Format complete: 1,457,664 bytes available on the diskette.",
// the failure, or that the diskette was left as it was.
std::string describeOutcome(const FormatOutcome& outcome);

}  // namespace console
