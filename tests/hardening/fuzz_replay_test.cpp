// Every input kept for the fuzz targets, the seed corpora and the inputs that once made a
// target fail, fed through the same entry functions as the fuzz programs. A fault found by
// fuzzing stays fixed through this test, which runs in every build, sanitizers or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "hardening/fuzz_entries.h"

namespace fuzzentry {
// Test names and messages show a target by its name.
void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}
}  // namespace fuzzentry

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

// Feeds every file under tests/fuzz/<kind>/<target>; returns how many there were.
int replay(const fuzzentry::Target& target, const char* kind) {
    const fs::path folder = fs::path(QUENVOL_SOURCE_DIR) / "tests/fuzz" / kind / target.name;
    int count = 0;
    if (!fs::is_directory(folder)) return count;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        ++count;
        const std::vector<std::uint8_t> input = bytesOf(entry.path());
        EXPECT_EQ(target.entry(input), "") << entry.path();
    }
    return count;
}

class FuzzReplay : public ::testing::TestWithParam<fuzzentry::Target> {};

TEST_P(FuzzReplay, SeedCorpusAndRegressionsPass) {
    const int seeds = replay(GetParam(), "corpus");
    replay(GetParam(), "regressions");
    EXPECT_GT(seeds, 0) << "no seed corpus for " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(fuzzentry::kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
