// Whole builds through the main dialog on the console backend, for the hardening tests: a
// start directory and a project folder filled from a description, one Start, and what the
// user was told.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "support/dialog_harness.h"
#include "ui/console/format_policy.h"

namespace hardening {

using Bytes = std::vector<std::uint8_t>;

// The sample kit's boot-sector image.
const Bytes& sampleBootSector();

struct BuildRun {
    std::vector<console::MessageRecord> messages;
    console::FormatOutcome format;
    bool reportedSuccess = false;  // the success report was shown
    build::Outcome outcome;        // as the dialog recorded it
};

class BuildFixture : public dialogtest::DialogHarness {
  protected:
    // Empties the start directory and the project folder.
    void clearFolders();
    // Writes files under their names as given (the case is the host's spelling).
    void writeStartFiles(const std::map<std::string, Bytes>& files);
    void writeProjectFiles(const std::map<std::string, Bytes>& files);
    // One build of `kind` (0 MINIDOS, 1 FULLDOS) from the project folder, the folder
    // confirmed and the format dialog answered with `format`.
    BuildRun runBuild(int kind, console::FormatChoice::Action format,
                      const std::string& label = "");
};

// Deterministic pseudo-random bytes.
Bytes patternBytes(std::size_t size, std::uint32_t seed);

}  // namespace hardening
