// quenvol-cli: the crisis-disk dialog driven from the command line.
#pragma once

namespace cli {

// Exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitStopped = 1;  // the run stopped with a message, or verify differed
inline constexpr int kExitUsage = 2;    // a bad option, or a drive that can be no diskette
inline constexpr int kExitInUse = 5;    // another build holds drive A: or the start directory

// Runs the program with the process's arguments; returns the exit status.
int run(int argc, char** argv);

}  // namespace cli
