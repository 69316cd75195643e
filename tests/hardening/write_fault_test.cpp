// Whole builds against a diskette that fails part way: every write of a build is in turn the
// one where the medium stops taking writes (Fail) or stops answering at all (Stop), and where
// a write spans several sectors, also its middle. Whatever happens, the build must not report
// success, must say what went wrong, and must leave a diskette that fsck.fat finds sound or
// can repair without cross-linked files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "framework/shell.h"
#include "hardening/build_fixture.h"
#include "hardening/image_checks.h"
#include "platform/device_hooks.h"
#include "support/fat_tools.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 512;

// A medium that takes `budget` more bytes and then fails: later writes only (Fail), or every
// transfer (Stop, a diskette pulled out). Without a budget it fails nothing and only records.
class FailingMedium : public platform::DriveFaults {
  public:
    enum class Mode { Fail, Stop };

    std::optional<std::uint64_t> budget;
    Mode mode = Mode::Fail;
    std::vector<std::pair<std::uint64_t, std::size_t>> writes;  // (offset, bytes) asked for
    bool tripped = false;

    std::optional<std::size_t> allowWrite(std::uint64_t offset, std::size_t bytes) override {
        writes.emplace_back(offset, bytes);
        if (m_stopped) return 0;
        if (!budget) return std::nullopt;
        if (bytes <= *budget) {
            *budget -= bytes;
            return std::nullopt;
        }
        const std::size_t allowed = static_cast<std::size_t>(*budget / kSector * kSector);
        *budget = 0;
        tripped = true;
        if (mode == Mode::Stop) m_stopped = true;
        return allowed;
    }
    bool allowRead(std::uint64_t, std::size_t) override { return !m_stopped; }
    bool allowFlush() override { return !m_stopped; }

  private:
    bool m_stopped = false;
};

const char* modeName(FailingMedium::Mode mode) {
    return mode == FailingMedium::Mode::Fail ? "fail" : "stop";
}

// The report of a build that stopped on a diskette error, by the outcome it recorded.
std::optional<std::string> failureReport(const build::Outcome& outcome) {
    if (outcome.kind == build::Outcome::Kind::CopyFailed) return texts::copyFailed(outcome.file);
    if (outcome.kind == build::Outcome::Kind::BootSectorFailed) return texts::kBootSectorFailed;
    return std::nullopt;
}

struct Scenario {
    const char* name;
    int kind;
    console::FormatChoice::Action format;
    std::vector<std::pair<std::string, Bytes>> onDiskette;  // made by mtools before the build
};

class WriteFaults : public BuildFixture {
  protected:
    void SetUp() override {
        BuildFixture::SetUp();
        const fs::path kit = QUENVOL_SAMPLE_KIT_DIR;
        const fs::path project = QUENVOL_SAMPLE_PROJECT_DIR;
        ASSERT_TRUE(fs::exists(kit / "crisboot.bin")) << "the sample kit is not built";
        for (const auto& entry : fs::directory_iterator(kit)) {
            fs::copy_file(entry.path(), startDir() / entry.path().filename());
        }
        for (const auto& entry : fs::directory_iterator(project)) {
            fs::copy_file(entry.path(), projectDir() / entry.path().filename());
        }
    }

    void prepareDiskette(const Scenario& setup) {
        const std::string image = driveImage().string();
        ASSERT_TRUE(fattools::mformat(image, 1440));
        for (const auto& [name, bytes] : setup.onDiskette) {
            ASSERT_TRUE(fattools::mcopyIn(image, name, bytes)) << name;
        }
    }

    // The sector counts before each write of a fault-free build, and the middle of each write
    // of several sectors: every point at which the medium can give up.
    std::vector<std::uint64_t> faultPoints(const Scenario& setup) {
        prepareDiskette(setup);
        FailingMedium counting;
        {
            platform::ScopedDriveFaults faults(counting);
            const BuildRun run = runBuild(setup.kind, setup.format);
            EXPECT_TRUE(run.reportedSuccess) << "the build fails without any fault";
        }
        std::set<std::uint64_t> points;
        std::uint64_t sectors = 0;
        for (const auto& [offset, bytes] : counting.writes) {
            points.insert(sectors);
            const std::uint64_t count = (bytes + kSector - 1) / kSector;
            if (count > 1) points.insert(sectors + count / 2);
            sectors += count;
        }
        points.insert(sectors);
        return std::vector<std::uint64_t>(points.begin(), points.end());
    }

    // Builds against a medium that gives up after each point in turn; returns the faults
    // survived.
    int runEveryFault(const Scenario& setup) {
        const std::vector<std::uint64_t> points = faultPoints(setup);
        if (HasFatalFailure() || points.empty()) return 0;
        const std::uint64_t total = points.back();
        int survived = 0;
        for (FailingMedium::Mode mode : {FailingMedium::Mode::Fail, FailingMedium::Mode::Stop}) {
            for (std::uint64_t limit : points) {
                SCOPED_TRACE(std::string(setup.name) + ": " + modeName(mode) + " after " +
                             std::to_string(limit) + " of " + std::to_string(total) + " sectors");
                prepareDiskette(setup);
                if (HasFatalFailure()) return survived;
                FailingMedium medium;
                medium.mode = mode;
                medium.budget = limit * kSector;
                BuildRun run;
                {
                    platform::ScopedDriveFaults faults(medium);
                    run = runBuild(setup.kind, setup.format);
                }
                if (limit == total) {
                    // The medium held out to the end: a whole diskette, reported as such.
                    EXPECT_FALSE(medium.tripped);
                    EXPECT_TRUE(run.reportedSuccess);
                    EXPECT_TRUE(fattools::runFsck(driveImage().string()).clean);
                    continue;
                }
                EXPECT_TRUE(medium.tripped);
                EXPECT_FALSE(run.reportedSuccess) << "a failed build was reported as a success";
                const auto report = failureReport(run.outcome);
                const bool told = report && std::any_of(run.messages.begin(), run.messages.end(),
                                                        [&](const console::MessageRecord& m) {
                                                            return m.text == *report;
                                                        });
                EXPECT_TRUE(told) << "the failure was not reported";
                checkConsistentOrRepairable();
                if (!HasFailure()) ++survived;
                if (HasFailure()) return survived;
            }
        }
        return survived;
    }

    // The diskette as the build left it passes our own checks, and fsck.fat -n finds it sound
    // or fsck.fat -a repairs it without finding files that share clusters.
    void checkConsistentOrRepairable() {
        const std::string image = driveImage().string();
        const auto bytes = fattools::readBytes(image);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(joinFaults(checkImageStructure(*bytes)), "");
        if (!fattools::runFsck(image).clean) {
            const fattools::ToolRun repair = fattools::runTool({"fsck.fat", "-a", image});
            EXPECT_TRUE(repair.exitCode == 0 || repair.exitCode == 1) << repair.output;
            EXPECT_EQ(repair.output.find("share clusters"), std::string::npos)
                << "cross-linked files: " << repair.output;
            const fattools::FsckResult after = fattools::runFsck(image);
            EXPECT_TRUE(after.clean) << "not repaired: " << after.output;
            ++m_repaired;
        }
    }

    int m_repaired = 0;
};

TEST_F(WriteFaults, EveryWriteOfAFormattedMinidosBuildFailingIsReportedAndRepairable) {
    const Scenario setup{
        "MINIDOS, formatted",
        0,
        console::FormatChoice::Action::Quick,
        {{"OLD.TXT", patternBytes(30'000, 1)}, {"BIOS.ROM", patternBytes(5'000, 2)}}};
    const int survived = runEveryFault(setup);
    EXPECT_GT(survived, 20);
    std::printf("[ faults   ] %s: %d faults survived, %d images repaired by fsck.fat -a\n",
                setup.name, survived, m_repaired);
}

// The diskette already holds the listed files and little room, so replacing bios.rom has to
// free the old one before writing the new.
TEST_F(WriteFaults, EveryWriteOfAReplacingFulldosBuildFailingIsReportedAndRepairable) {
    const Scenario setup{"FULLDOS over old files",
                         1,
                         console::FormatChoice::Action::Skip,
                         {{"MINIDOS.SYS", patternBytes(10'000, 3)},
                          {"ZYPLET.EXE", patternBytes(15'000, 4)},
                          {"PLATFORM.BIN", patternBytes(2'500, 5)},
                          {"VGABIOS.EXE", patternBytes(10'000, 6)},
                          {"BIOS.ROM", patternBytes(100'000, 7)},
                          {"FILLER.BIN", patternBytes(1'280'000, 8)}}};
    const int survived = runEveryFault(setup);
    EXPECT_GT(survived, 20);
    std::printf("[ faults   ] %s: %d faults survived, %d images repaired by fsck.fat -a\n",
                setup.name, survived, m_repaired);
}

// A medium that fails the n-th write into one area of the diskette once the copy has begun
// (a write into the data area has been seen), and nothing else.
class FailingArea : public platform::DriveFaults {
  public:
    FailingArea(std::uint64_t first, std::uint64_t end, int nth)
        : m_first(first * kSector), m_end(end * kSector), m_nth(nth) {}
    std::optional<std::size_t> allowWrite(std::uint64_t offset, std::size_t) override {
        m_copying = m_copying || offset >= kDataStart;
        if (!m_copying || offset < m_first || offset >= m_end) return std::nullopt;
        if (++m_seen != m_nth) return std::nullopt;
        tripped = true;
        return 0;
    }
    bool tripped = false;

  private:
    static constexpr std::uint64_t kDataStart = 33 * kSector;  // of a 1.44 MB diskette
    std::uint64_t m_first, m_end;
    int m_nth;
    int m_seen = 0;
    bool m_copying = false;
};

// The video BIOS program is the fourth file of the list: an I/O error on its data, or on the
// FAT copy or the directory that hold its chain and entry, stops the build like any other
// file's. A medium that fails a write is not trusted with the rest; only a vgabios.exe that is
// not there at all is passed over.
TEST_F(WriteFaults, AFailedWriteForTheVideoBiosStopsTheBuild) {
    struct Area {
        const char* name;
        std::uint64_t first, end;  // sectors
        int nth;
        const char* named;  // the file the message names; none: whichever the copy was at
    };
    const Area areas[] = {{"its data", 33, 2880, 4, "vgabios.exe"},
                          {"the second FAT", 10, 19, 1, nullptr},
                          {"the root directory", 19, 33, 1, nullptr}};
    for (const Area& area : areas) {
        SCOPED_TRACE(area.name);
        ASSERT_TRUE(fattools::writeBytes(driveImage().string(), Bytes(1474560, 0)));
        FailingArea medium(area.first, area.end, area.nth);
        BuildRun run;
        {
            platform::ScopedDriveFaults faults(medium);
            run = runBuild(0, console::FormatChoice::Action::Quick);
        }
        EXPECT_TRUE(medium.tripped);
        EXPECT_FALSE(run.reportedSuccess);
        ASSERT_FALSE(run.messages.empty());
        EXPECT_EQ(run.messages.back().text, failureReport(run.outcome).value_or("(no report)"));
        if (area.named) {
            EXPECT_EQ(run.messages.back().text, texts::copyFailed(area.named));
        }
        checkConsistentOrRepairable();
    }
}

// A write-protected diskette is said to be one before the format is offered: neither the
// format nor a copy is tried on it.
void expectRefusedAsWriteProtected(const BuildRun& run) {
    EXPECT_FALSE(run.reportedSuccess);
    EXPECT_EQ(run.format.shown, 0) << "the format was offered: " << run.format.error;
    EXPECT_EQ(run.outcome.failure, base::Failure::WriteProtected);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_EQ(run.messages.back().text, shell::driveRefusalSentence(base::Failure::WriteProtected));
}

// A diskette with its write-protect tab set (an image without write permission, which stops
// even the superuser here): nothing is written and the build says why.
TEST_F(WriteFaults, WriteProtectedDisketteIsRefusedWithAMessage) {
    const std::string image = driveImage().string();
    ASSERT_TRUE(fattools::mformat(image, 1440));
    const auto before = fattools::readBytes(image);
    ASSERT_EQ(::chmod(image.c_str(), 0444), 0);
    expectRefusedAsWriteProtected(runBuild(0, console::FormatChoice::Action::Quick));
    EXPECT_EQ(fattools::readBytes(image), before) << "a write-protected diskette was changed";
}

// A write-protected diskette in a real drive: a read-only loop device over an image stands
// for it. Needs a system that lets the tests attach loop devices; skipped elsewhere.
TEST_F(WriteFaults, WriteProtectedDeviceIsRefusedWithAMessage) {
    const std::string image = driveImage().string();
    ASSERT_TRUE(fattools::mformat(image, 1440));
    const auto before = fattools::readBytes(image);
    const fattools::ToolRun attach = fattools::runTool({"losetup", "-r", "-f", "--show", image});
    const std::string device = attach.output.substr(0, attach.output.find('\n'));
    if (attach.exitCode != 0 || device.rfind("/dev/", 0) != 0) {
        GTEST_SKIP() << "no read-only loop device: " << attach.output;
    }
    struct Detach {
        std::string device;
        ~Detach() { fattools::runTool({"losetup", "-d", device}); }
    } detach{device};
    const dialogtest::ScopedEnv drive("QUENVOL_DRIVE_A", device);

    expectRefusedAsWriteProtected(runBuild(0, console::FormatChoice::Action::Quick));
    EXPECT_EQ(fattools::readBytes(image), before) << "a write-protected diskette was changed";
}

}  // namespace
}  // namespace hardening
