// quenvol-cli: the crisis-disk dialog driven from the command line.
#pragma once

namespace cli {

// Runs the program with the process's arguments; returns the exit status.
int run(int argc, char** argv);

}  // namespace cli
