// --plan: what a build would do, worked out from the start directory and the project folder
// by the dialog's own checks, without touching drive A: (no diskette needed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build/payload_check.h"
#include "cli/cli_options.h"

namespace cli {

struct PlannedFile {
    std::string name;                    // on the diskette: "bios.rom"
    std::string source;                  // host path it would be copied from
    std::optional<std::uint64_t> bytes;  // none when the source is not there
    std::string why;
};

struct BuildPlan {
    std::string driveA;      // the path
    std::string driveState;  // "an image file of 1,474,560 bytes", "nothing there"...
    std::string kind;        // minidos, fulldos, format
    std::string startDir;
    std::string projectPath;  // empty when the start directory holds the BIOS files
    std::string partNumber;
    std::vector<PlannedFile> files;
    std::uint64_t needed = 0;    // bytes the files take on the diskette, in whole clusters
    std::uint64_t capacity = 0;  // bytes a freshly formatted diskette holds for files
    bool fits = true;
    // What the build's payload checks find in the BIOS image and the video BIOS program.
    std::vector<build::PayloadReport> payload;
    std::vector<std::string> stops;  // what would stop the build, in the order it would
    std::vector<std::string> notes;  // what is worth knowing and stops nothing
};

// The plan for `options`, in the current directory as the start directory.
BuildPlan planBuild(const Options& options);

// For people: one fact a line. For scripts: one JSON object.
std::string planText(const BuildPlan& plan);
std::string planJson(const BuildPlan& plan);

}  // namespace cli
