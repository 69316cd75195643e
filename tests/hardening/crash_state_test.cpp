// Power lost at any moment of a build: the writes and flushes of a whole build are recorded,
// every state a crash could leave on the diskette is rebuilt, and in each one every file that
// the root directory names reads back as its new source, as what it held before the build, or
// empty. fsck.fat -a then repairs a sample of the states without finding cross-linked files.
//
// QUENVOL_CRASH_SEED and QUENVOL_CRASH_SAMPLES replay or widen the sampled part of a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fat/fat12.h"
#include "hardening/build_fixture.h"
#include "platform/device_hooks.h"
#include "support/crash_states.h"
#include "support/fat_tools.h"
#include "support/memory_device.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kDefaultSamples = 60;  // per epoch; the sanitizers slow every state down
constexpr std::size_t kFsckEvery = 200;
#else
constexpr std::size_t kDefaultSamples = 400;
constexpr std::size_t kFsckEvery = 40;
#endif

std::size_t envNumber(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

struct Scenario {
    const char* name;
    int kind;
    console::FormatChoice::Action format;
    bool blank;                                             // an all-zero diskette
    std::vector<std::pair<std::string, Bytes>> onDiskette;  // else made by mtools
};

class CrashStates : public BuildFixture {
  protected:
    void SetUp() override {
        BuildFixture::SetUp();
        for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_KIT_DIR)) {
            fs::copy_file(entry.path(), startDir() / entry.path().filename());
        }
        for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_PROJECT_DIR)) {
            fs::copy_file(entry.path(), projectDir() / entry.path().filename());
        }
    }

    // The sample build's files under their diskette names, from where the build takes them.
    std::map<std::string, Bytes> sources() {
        const fs::path kit = QUENVOL_SAMPLE_KIT_DIR;
        const fs::path project = QUENVOL_SAMPLE_PROJECT_DIR;
        const std::pair<const char*, fs::path> files[] = {
            {"MINIDOS.SYS", kit / "minidos.sys"},
            {"ZYPLET.EXE", kit / "zyplet.exe"},
            {"PLATFORM.BIN", project / "platform.bin"},
            {"VGABIOS.EXE", project / "vgabios.exe"},
            {"BIOS.ROM", project / "testQ7A.rom"}};
        std::map<std::string, Bytes> result;
        for (const auto& [name, path] : files) {
            result[name] = fattools::readBytes(path.string()).value_or(Bytes());
        }
        return result;
    }

    void check(const Scenario& setup) {
        SCOPED_TRACE(setup.name);
        const std::string image = driveImage().string();
        if (setup.blank) {
            ASSERT_TRUE(fattools::writeBytes(image, Bytes(1474560, 0)));
        } else {
            ASSERT_TRUE(fattools::mformat(image, 1440));
            for (const auto& [name, bytes] : setup.onDiskette) {
                ASSERT_TRUE(fattools::mcopyIn(image, name, bytes)) << name;
            }
        }
        const Bytes before = *fattools::readBytes(image);
        crash::Recorder recorder;
        {
            platform::ScopedDriveFaults recording(recorder);
            ASSERT_TRUE(runBuild(setup.kind, setup.format).reportedSuccess);
        }
        ASSERT_GT(recorder.epochs().size(), 1u) << "the build flushed nothing";
        const crash::Allowed allowed = crash::allowedContents(before, sources());

        crash::Options options;
        options.seed = static_cast<std::uint32_t>(envNumber("QUENVOL_CRASH_SEED", 20261207));
        options.samplesPerEpoch = envNumber("QUENVOL_CRASH_SAMPLES", kDefaultSamples);
        const fattools::TempDir scratch;
        const std::string stateFile = scratch.file("state.img");
        std::size_t failed = 0;
        std::size_t repaired = 0;
        std::size_t index = 0;
        const std::size_t states = crash::forEachState(
            before, recorder.epochs(), options, [&](const Bytes& state, const std::string& how) {
                const std::vector<std::string> faults = crash::checkFiles(state, allowed);
                if (!faults.empty() && ++failed <= 5) {
                    ADD_FAILURE() << how << ":\n  " << faults.front();
                }
                if (index++ % kFsckEvery != 0) return;
                fat::MemoryDevice device(state);
                if (!fat::Volume::mount(device)) return;  // no volume yet: nothing to repair
                ASSERT_TRUE(fattools::writeBytes(stateFile, state));
                const fattools::ToolRun repair = fattools::runTool({"fsck.fat", "-a", stateFile});
                EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == 1) << how << ":\n"
                                                                          << repair.output;
                EXPECT_EQ(repair.output.find("share clusters"), std::string::npos)
                    << how << ": cross-linked files:\n"
                    << repair.output;
                ++repaired;
            });
        EXPECT_EQ(failed, 0u) << failed << " of " << states << " states hold a wrong file";
        std::printf(
            "[ crash    ] %s: %zu writes in %zu flushes, %zu states, %zu repaired by "
            "fsck.fat -a, seed %u\n",
            setup.name,
            [&] {
                std::size_t n = 0;
                for (const crash::Epoch& e : recorder.epochs()) n += e.writes.size();
                return n;
            }(),
            recorder.epochs().size() - 1, states, repaired, options.seed);
    }
};

TEST_F(CrashStates, NoStateOfABuildLeavesAFileWithWrongContents) {
    const Scenario scenarios[] = {
        {"MINIDOS on a blank diskette", 0, console::FormatChoice::Action::Quick, true, {}},
        {"MINIDOS formatting a diskette that holds files",
         0,
         console::FormatChoice::Action::Quick,
         false,
         {{"OLD.TXT", patternBytes(30'000, 1)}, {"BIOS.ROM", patternBytes(5'000, 2)}}},
        // Too little room to write the new bios.rom beside the old one.
        {"FULLDOS replacing the files of a nearly full diskette",
         1,
         console::FormatChoice::Action::Skip,
         false,
         {{"MINIDOS.SYS", patternBytes(10'000, 3)},
          {"ZYPLET.EXE", patternBytes(15'000, 4)},
          {"PLATFORM.BIN", patternBytes(2'500, 5)},
          {"VGABIOS.EXE", patternBytes(10'000, 6)},
          {"BIOS.ROM", patternBytes(100'000, 7)},
          {"FILLER.BIN", patternBytes(1'280'000, 8)}}},
    };
    for (const Scenario& setup : scenarios) check(setup);
}

}  // namespace
}  // namespace hardening
