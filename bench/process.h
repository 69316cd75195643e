// Whole programs run as a user's shell would run them, timed from fork to reaped exit.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct RunSpec {
    std::vector<std::string> argv;  // argv[0] is looked up on PATH when it holds no slash
    std::string workingDir;         // empty: the bench's own
    std::vector<std::pair<std::string, std::string>> env;  // set on top of the bench's own
    std::string outputFile;  // standard output and error go here; empty: /dev/null
};

struct RunOutcome {
    int exitStatus = -1;  // -1 when the program could not be started or died of a signal
    std::string how;      // "exit status 1", "killed by signal 11", "cannot run mformat: ..."
    std::chrono::nanoseconds elapsed{};
    long maxRssKiB = 0;              // the child's own peak resident set, from wait4
    std::chrono::nanoseconds cpu{};  // the child's user and system time, from wait4
};

// Standard input is /dev/null, so no program waits for an answer.
RunOutcome runProcess(const RunSpec& spec);

// The full path of `program` on PATH, or none.
std::optional<std::string> findOnPath(const std::string& program);

}  // namespace bench
