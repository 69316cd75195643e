// Whole builds whose start directory cannot take the staged BIOS files: a small file system
// that runs out of room part way, and host writes that fail (no room, an I/O error, a write
// cut short) at each one of the build's host writes in turn. Whatever happens, a build that
// reports success leaves the files of its sources on the diskette, and one that does not
// names the file it could not copy, has copied nothing to the diskette, and leaves no partial
// copy in the start directory.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <set>

#include "hardening/build_fixture.h"
#include "platform/device_hooks.h"
#include "support/fat_tools.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

const std::set<std::string> kKit = {"crisboot.bin", "minidos.sys", "zyplet.exe"};

class HostFaults : public BuildFixture {
  protected:
    void SetUp() override {
        BuildFixture::SetUp();
        ASSERT_TRUE(fs::exists(fs::path(QUENVOL_SAMPLE_KIT_DIR) / "crisboot.bin"))
            << "the sample kit is not built";
    }
    // The sample kit and project, and a blank diskette that the build formats.
    void freshFolders() {
        clearFolders();
        for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_KIT_DIR))
            fs::copy_file(entry.path(), startDir() / entry.path().filename());
        for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_PROJECT_DIR))
            fs::copy_file(entry.path(), projectDir() / entry.path().filename());
        ASSERT_TRUE(fattools::writeBytes(driveImage().string(), Bytes(1474560, 0)));
    }
    // One build, judged; true when it reported success.
    bool buildAndJudge(const std::string& why) {
        const BuildRun run = runBuild(0, console::FormatChoice::Action::Quick);
        const std::string image = driveImage().string();
        std::set<std::string> left;
        for (const auto& entry : fs::directory_iterator(startDir()))
            left.insert(entry.path().filename().string());
        EXPECT_EQ(left, kKit) << "a staged or partial copy was left in the start directory";
        if (run.reportedSuccess) {
            const fs::path project = QUENVOL_SAMPLE_PROJECT_DIR;
            EXPECT_EQ(fattools::mtype(image, "BIOS.ROM"),
                      fattools::readBytes((project / "testQ7A.rom").string()));
            EXPECT_EQ(fattools::mtype(image, "PLATFORM.BIN"),
                      fattools::readBytes((project / "platform.bin").string()));
            EXPECT_EQ(fattools::mtype(image, "VGABIOS.EXE"),
                      fattools::readBytes((project / "vgabios.exe").string()));
            return true;
        }
        if (run.outcome.kind == build::Outcome::Kind::StartDirRefused) {
            // Found before the format: the diskette is as it was.
            ++refusedBeforeFormat;
            EXPECT_EQ(run.outcome.failure, base::Failure::NoRoom) << run.outcome.detail;
            EXPECT_EQ(run.format.shown, 0);
            EXPECT_EQ(fattools::readBytes(image), Bytes(1474560, 0));
            return false;
        }
        EXPECT_EQ(run.outcome.kind, build::Outcome::Kind::CopyFailed);
        const std::set<std::string> staged = {"vgabios.exe", "platform.bin", "bios.rom"};
        EXPECT_EQ(staged.count(run.outcome.file), 1u) << run.outcome.file;
        EXPECT_EQ(run.messages.back().text, texts::copyFailed(run.outcome.file));
        EXPECT_NE(run.outcome.detail.find(why), std::string::npos) << run.outcome.detail;
        EXPECT_EQ(fattools::mdirNames(image), std::vector<std::string>())
            << "files reached the diskette after a failed staging copy";
        return false;
    }
    int refusedBeforeFormat = 0;
};

// The start directory on a small tmpfs, from too small for any staged file to large enough
// for all of them. Needs the right to mount, which the tests have when they run as root.
TEST_F(HostFaults, AStartDirectoryThatFillsUpStopsTheBuildOrHoldsEverything) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    int failed = 0;
    int built = 0;
    for (int kilobytes = 28; kilobytes <= 116 && !HasFailure(); kilobytes += 4) {
        SCOPED_TRACE(std::to_string(kilobytes) + " KB start directory");
        fs::current_path(root());
        const std::string size = "size=" + std::to_string(kilobytes) + "k";
        if (::mount("tmpfs", startDir().c_str(), "tmpfs", 0, size.c_str()) != 0) {
            GTEST_SKIP() << "tmpfs cannot be mounted here: " << std::strerror(errno);
        }
        struct Unmount {
            fs::path where;
            fs::path back;
            ~Unmount() {
                fs::current_path(back);
                ::umount(where.c_str());
                fs::current_path(where);
            }
        } unmount{startDir(), root()};
        fs::current_path(startDir());
        freshFolders();
        if (buildAndJudge(std::strerror(ENOSPC))) {
            ++built;
        } else {
            ++failed;
        }
    }
    EXPECT_GT(failed, 3);
    EXPECT_GT(built, 0);
    // A start directory that plainly cannot take the copies is found before the format.
    EXPECT_GT(refusedBeforeFormat, 3);
}

// Host writes into the start directory that fail, one after the other, counted over the whole
// build.
class FailingHostWrites : public platform::HostFaults {
  public:
    std::string folder;    // where the writes counted go
    int failAt = 0;        // the write that fails, from 1
    std::size_t room = 0;  // bytes of it that still get through first
    base::Failure errorKind = base::Failure::NoRoom;
    int writes = 0;
    bool tripped = false;

    std::optional<std::size_t> allowWrite(const std::string& path, std::uint64_t,
                                          std::size_t bytes) override {
        if (path.rfind(folder + "/", 0) != 0) return std::nullopt;
        if (tripped) return 0;  // the file system stays full, or broken
        if (++writes < failAt) return std::nullopt;
        // A write that the room left takes whole is not cut short: the next one is.
        if (room >= bytes) return std::nullopt;
        tripped = true;
        return std::min(room, bytes);
    }
    base::Failure error() const override { return errorKind; }
};

TEST_F(HostFaults, AHostWriteFailingAtEachStepStopsTheBuild) {
    struct Flavour {
        base::Failure kind;
        int error;  // how the system words it
        std::size_t room;
    };
    for (const Flavour f :
         {Flavour{base::Failure::NoRoom, ENOSPC, 0}, Flavour{base::Failure::IoError, EIO, 0},
          Flavour{base::Failure::NoRoom, ENOSPC, 1000}}) {
        int stopped = 0;
        for (int at = 1; !HasFailure(); ++at) {
            SCOPED_TRACE(std::string(std::strerror(f.error)) + " at host write " +
                         std::to_string(at) + ", " + std::to_string(f.room) + " bytes through");
            freshFolders();
            FailingHostWrites faults;
            faults.folder = fs::canonical(startDir()).string();
            faults.failAt = at;
            faults.room = f.room;
            faults.errorKind = f.kind;
            bool succeeded = false;
            {
                platform::ScopedHostFaults scope(faults);
                succeeded = buildAndJudge(std::strerror(f.error));
            }
            EXPECT_EQ(succeeded, !faults.tripped);
            if (succeeded) break;
            ++stopped;
        }
        EXPECT_GE(stopped, 3) << "the sample project stages three files";
    }
}

// What the staging needs from the start directory, and a file too large for any diskette, are
// found before the format: the diskette keeps what it held and the message names the start
// directory and the cause.
TEST_F(HostFaults, AStartDirectoryThatCannotTakeTheStagingIsRefusedBeforeTheFormat) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* cause;  // a part of the detail
    };
    const fs::path start = startDir();
    const std::vector<Case> cases = {
        {"foreign file at a temporary name",
         [&] {
             ASSERT_TRUE(
                 fattools::writeBytes((start / ".quenvol-staging.bios.rom.part").string(), {1}));
         },
         "is in the way of staging \"bios.rom\""},
        {"folder where bios.rom is staged", [&] { fs::create_directories(start / "bios.rom"); },
         "\"bios.rom\" in the start directory"},
        {"foreign file where the user's file is kept",
         [&] {
             ASSERT_TRUE(fattools::writeBytes((start / "vgabios.exe").string(), {1}));
             ASSERT_TRUE(
                 fattools::writeBytes((start / ".quenvol-staging.vgabios.exe.user").string(), {2}));
         },
         "is in the way of keeping your \"vgabios.exe\""},
        {"image too large for any diskette",
         [&] { fs::resize_file(projectDir() / "testQ7A.rom", 3'000'000); },
         "testQ7A.rom holds 3,000,000 bytes"},
        {"read-only start directory",
         [&] {
             if (::mount("tmpfs", start.c_str(), "tmpfs", 0, "size=1m") != 0) return;
             for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_KIT_DIR))
                 fs::copy_file(entry.path(), start / entry.path().filename());
             ASSERT_EQ(::mount("tmpfs", start.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0)
                 << std::strerror(errno);
         },
         "cannot be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::current_path(root());
        freshFolders();
        c.arrange();
        if (HasFatalFailure()) return;
        const bool mounted = fs::path(c.what) == "read-only start directory";
        if (mounted && ::geteuid() != 0) continue;
        fs::current_path(start);  // the dialog's start directory
        const BuildRun run = runBuild(0, console::FormatChoice::Action::Quick);
        fs::current_path(root());
        if (mounted) ::umount(start.c_str());
        EXPECT_FALSE(run.reportedSuccess);
        EXPECT_EQ(run.format.shown, 0) << "the diskette was offered for erasing";
        EXPECT_EQ(fattools::readBytes(driveImage().string()), Bytes(1474560, 0));
        EXPECT_EQ(run.outcome.kind, build::Outcome::Kind::StartDirRefused);
        EXPECT_NE(run.outcome.detail.find(c.cause), std::string::npos) << run.outcome.detail;
        ASSERT_FALSE(run.messages.empty());
        EXPECT_EQ(run.messages.back().text,
                  texts::startDirUnfit(start.string(), run.outcome.detail));
    }
}

}  // namespace
}  // namespace hardening
