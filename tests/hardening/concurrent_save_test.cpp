// Two copies of the program closing at the same moment, a thousand times each, while a third
// reads the settings file: every read finds one whole history, never a mix of the two, never
// a short or empty file, and never no file at all once it has been written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "support/dialog_harness.h"

namespace {

using dialogtest::DialogHarness;

constexpr int kSavesPerProcess = 1000;

using History = std::array<std::string, 4>;

std::string fileBytes(const History& history) {
    std::string bytes;
    for (const std::string& slot : history) bytes += slot + "\r\n";
    return bytes;
}

// Paths of different lengths in the two histories, so that any mix of them shows.
History historyOf(char letter, std::size_t length) {
    History history;
    for (std::size_t i = 0; i < history.size(); ++i) {
        history[i] = "/projects/" + std::string(length + i * 37, letter) + std::to_string(i);
    }
    return history;
}

class ConcurrentSaves : public DialogHarness {
  protected:
    // The program's Close, `kSavesPerProcess` times, each run loading the file and saving
    // `history`; the exit status counts the saves that reported a failure.
    pid_t startSaver(const History& history) {
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        int failures = 0;
        for (int i = 0; i < kSavesPerProcess; ++i) {
            CCrisisDlg& dlg = createDialog();
            for (std::size_t slot = 0; slot < history.size(); ++slot) {
                dlg.m_strHistory[slot] = history[slot];
            }
            backend().clearRecords();
            dlg.OnButtonClose();
            if (!backend().messages().empty() || !dialogDestroyed()) ++failures;
        }
        ::_exit(std::min(failures, 100));
    }
};

TEST_F(ConcurrentSaves, EveryReadFindsOneWholeHistory) {
    const History first = historyOf('a', 120);
    const History second = historyOf('b', 300);
    const std::string firstBytes = fileBytes(first);
    const std::string secondBytes = fileBytes(second);

    // One save before the race, so that from here on the file must always be there.
    CCrisisDlg& dlg = createDialog();
    for (std::size_t slot = 0; slot < first.size(); ++slot) dlg.m_strHistory[slot] = first[slot];
    dlg.OnButtonClose();
    destroyDialog();
    ASSERT_EQ(dialogtest::readFile(settingsFile()), firstBytes);

    const pid_t savers[] = {startSaver(first), startSaver(second)};
    ASSERT_GT(savers[0], 0);
    ASSERT_GT(savers[1], 0);
    int reads = 0;
    int torn = 0;
    int running = 2;
    int statuses[2] = {-1, -1};
    std::string example;
    while (running > 0) {
        const std::optional<std::string> now = dialogtest::readFile(settingsFile());
        ++reads;
        if (!now || (*now != firstBytes && *now != secondBytes)) {
            if (++torn == 1) example = now ? *now : "<no file>";
        }
        for (int i = 0; i < 2; ++i) {
            if (statuses[i] != -1) continue;
            int status = 0;
            if (::waitpid(savers[i], &status, WNOHANG) == savers[i]) {
                statuses[i] = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
                --running;
            }
        }
    }
    EXPECT_EQ(statuses[0], 0) << "saves of the first history reported failures";
    EXPECT_EQ(statuses[1], 0) << "saves of the second history reported failures";
    EXPECT_EQ(torn, 0) << torn << " of " << reads << " reads found neither history, first:\n"
                       << example;
    const std::optional<std::string> last = dialogtest::readFile(settingsFile());
    EXPECT_TRUE(last == firstBytes || last == secondBytes);
    // No temporary file of a save is left beside the settings file.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(settingsDir())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
    std::printf("[ saves    ] %d saves in two processes, %d reads, %d torn\n", 2 * kSavesPerProcess,
                reads, torn);
}

// A save that was killed between writing its temporary and renaming it leaves the temporary
// behind: the next save removes it, but never the temporary of a save still under way in
// another process (here one stopped mid-save), nor a file of the user's that looks like one.
TEST_F(ConcurrentSaves, ASaveRemovesOnlyTheTemporariesOfKilledSaves) {
    enum class Writer { Killed, Stopped, None };
    struct Leftover {
        std::string name;
        Writer writer;
        bool removed;
    };
    const Leftover leftovers[] = {
        {"quenvol.ini.saving-k1LLed", Writer::Killed, true},
        {"quenvol.ini.saving-Q9zzzz", Writer::None, true},
        {"quenvol.ini.saving-STOPed", Writer::Stopped, false},
        {"quenvol.ini.backup", Writer::None, false},
        {"quenvol.ini.saving-longer1", Writer::None, false},
    };
    const std::string partial = "P1\r\nP2";
    struct Stopped {  // ended whatever way the test ends
        std::vector<pid_t> pids;
        ~Stopped() {
            for (const pid_t pid : pids) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } stopped;
    for (const Leftover& leftover : leftovers) {
        const std::string path = (settingsDir() / leftover.name).string();
        if (leftover.writer == Writer::None) {
            dialogtest::writeFile(path, partial);
            continue;
        }
        // A writer that makes its temporary, locks it and writes part of the history.
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (fd < 0 || ::flock(fd, LOCK_EX) != 0 ||
                ::write(fd, partial.data(), partial.size()) < 0) {
                ::_exit(1);
            }
            ::raise(leftover.writer == Writer::Killed ? SIGKILL : SIGSTOP);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(leftover.writer == Writer::Killed ? WIFSIGNALED(status) : WIFSTOPPED(status));
        if (WIFSTOPPED(status)) stopped.pids.push_back(pid);
    }

    createDialog("/X").OnButtonClose();
    EXPECT_EQ(dialogtest::readFile(settingsFile()), "\r\n\r\n\r\n/X\r\n");
    for (const Leftover& leftover : leftovers) {
        const auto content = dialogtest::readFile(settingsDir() / leftover.name);
        EXPECT_EQ(content ? *content : "<removed>", leftover.removed ? "<removed>" : partial)
            << leftover.name;
    }
}

}  // namespace
