// quenvol-cli: the crisis-disk dialog driven from the command line.
#pragma once

#include <optional>

#include "base/result.h"

namespace cli {

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitStopped = 1;      // the build stopped with a message, or verify differed
inline constexpr int kExitUsage = 2;        // a bad option, or a drive that can be no diskette
inline constexpr int kExitNoDiskette = 3;   // no diskette in drive A:
inline constexpr int kExitNoAccess = 4;     // write-protected, or no permission for drive A:
inline constexpr int kExitInUse = 5;        // another build holds drive A: or the start directory
inline constexpr int kExitDeclined = 6;     // No to the project folder confirmation
inline constexpr int kExitNotBooted = 7;    // --boot-check: not bootable, or BIOS image read wrong
inline constexpr int kExitNoBootCheck = 8;  // --boot-check could not run (no emulator, no copy)
inline constexpr int kExitSomeDrivesFailed = 9;  // on several drives: some built, some failed

// The exit status a failure of this kind calls for, where the kind decides; else `otherwise`.
int exitStatusOfFailure(std::optional<base::Failure> failure, int otherwise);

// Runs the program with the process's arguments; returns the exit status.
int run(int argc, char** argv);

}  // namespace cli
