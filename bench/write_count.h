// What one build sends to drive A:, counted where every transfer on the drive passes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct DeviceWrite {
    std::uint64_t offset = 0;  // bytes from the start of the medium
    std::uint64_t bytes = 0;
};

struct CountedBuild {
    int exitStatus = -1;  // quenvol-cli's; -1 when the child did not report
    std::string how;      // why there is no count, when there is none
    std::vector<DeviceWrite> writes;
    std::uint32_t flushes = 0;
};

// Runs quenvol-cli's program with `args` (its options, without the program name) in a child
// of this process, in `workingDir` with `env` set, and returns every write and flush that
// reached drive A:. The child's output goes to `outputFile`.
CountedBuild countBuild(const std::vector<std::string>& args, const std::string& workingDir,
                        const std::vector<std::pair<std::string, std::string>>& env,
                        const std::string& outputFile);

}  // namespace bench
