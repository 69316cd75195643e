// Files far larger than any the program makes or expects, as a damaged disk or a mistaken
// folder can hold them: a settings file, a part-number file and a file to copy of several
// gigabytes (sparse, so they cost no disk). The program must read no more of them than it
// needs, and say what went wrong rather than run out of memory.
//
// Each case runs in a child process whose address space is limited, so that a regression
// fails the test instead of exhausting the machine. Sanitizers reserve address space of their
// own, so the sanitizer build skips these.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "hardening/build_fixture.h"
#include "support/fat_tools.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

// A file of `size` bytes beginning with `head`, the rest a hole that reads as zeros.
void makeSparse(const fs::path& path, const std::string& head, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
}

// Runs `body` in a child limited to 512 MB of address space; its exit status, or 128 and
// up when it was killed or aborted.
int inLimitedChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{512ull * 1024 * 1024, 512ull * 1024 * 1024};
        ::setrlimit(RLIMIT_AS, &limit);
        int status = 99;
        try {
            status = body();
        } catch (...) {
            status = 98;  // out of memory, most likely
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HugeFiles : public BuildFixture {
  protected:
    void SetUp() override {
        if (kSanitized) GTEST_SKIP() << "address space limits do not mix with sanitizers";
        BuildFixture::SetUp();
    }
};

TEST_F(HugeFiles, SettingsFileOfGigabytesLoadsItsFirstLines) {
    // Just under 4 GiB: a length whose 32-bit count plus one terminator wraps to zero.
    makeSparse(settingsFile(), "/p/one\r\n/p/two\r\n", 4 * kGiB - 1);
    EXPECT_EQ(inLimitedChild([&] {
                  CCrisisDlg& dlg = createDialog();
                  return dlg.m_strHistory[0] == "/p/one" && dlg.m_strHistory[1] == "/p/two" &&
                                 dlg.m_strHistory[3].IsEmpty()
                             ? 0
                             : 1;
              }),
              0);
}

TEST_F(HugeFiles, PartNumberFileOfGigabytesGivesItsNumber) {
    makeSparse(projectDir() / "partnum.mak", "PARTNUM = Q7A\r\n", 5 * kGiB);
    EXPECT_EQ(inLimitedChild([&] {
                  CCrisisDlg dlg;
                  dlg.m_strProjectPath = projectDir().string();
                  return dlg.ReadPartNumber() == 1 && dlg.m_strPartNum == "Q7A" ? 0 : 1;
              }),
              0);
}

// A bios.rom of gigabytes in the start directory: the copy fails with its message, as for
// any file too large for the diskette.
TEST_F(HugeFiles, FileOfGigabytesToCopyIsRefusedBeforeTheFormat) {
    for (const auto& entry : fs::directory_iterator(QUENVOL_SAMPLE_KIT_DIR)) {
        fs::copy_file(entry.path(), startDir() / entry.path().filename());
    }
    writeStartFiles({{"platform.bin", patternBytes(2'000, 1)}, {"vgabios.exe", Bytes(10, 1)}});
    makeSparse(startDir() / "bios.rom", "ROM", 5 * kGiB);
    ASSERT_TRUE(fattools::mformat(driveImage().string(), 1440));
    EXPECT_EQ(inLimitedChild([&] {
                  const BuildRun run = runBuild(0, console::FormatChoice::Action::Quick);
                  if (run.reportedSuccess) return 2;
                  if (run.format.shown != 0) return 3;  // offered for erasing first
                  return !run.messages.empty() &&
                                 run.messages.back().text ==
                                     texts::startDirUnfit(startDir().string(), run.outcome.detail)
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_TRUE(fattools::runFsck(driveImage().string()).clean);
}

}  // namespace
}  // namespace hardening
