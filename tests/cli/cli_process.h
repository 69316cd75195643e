// Runs the built quenvol-cli as a separate process in a scratch kit: a copy of the sample
// start directory, its own settings folder and a drive image path, so that every test sees
// the program as a user or a script does (arguments, exit status, standard error).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace clitest {

struct CliRun {
    int exitCode = -1;    // -1 when the program did not end normally
    std::string output;   // standard error (and standard output), in order
    int signal = 0;       // the signal that ended it, 0 when none did
    bool paused = false;  // it reached the point runInterrupted named
};

// A scratch folder under /tmp with kit/ (a copy of the sample kit), config/, and the paths
// of a drive image and the sample project folder. Removed when the object goes.
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& root() const { return m_root; }
    std::string kit() const { return m_kit.empty() ? m_root + "/kit" : m_kit; }
    std::string config() const { return m_root + "/config"; }
    std::string settingsFile() const { return config() + "/quenvol.ini"; }
    std::string image() const { return m_root + "/a.img"; }
    // XDG_STATE_HOME of the program: the build log is buildLog().
    std::string stateHome() const { return m_state.empty() ? m_root + "/state" : m_state; }
    std::string buildLog() const { return stateHome() + "/quenvol/builds.jsonl"; }
    void useStateHome(const std::string& path) { m_state = path; }
    // Later runs start in `path` instead of kit/ (empty: kit/ again).
    void useKit(const std::string& path) { m_kit = path; }
    static std::string project();  // the sample project folder of the build tree

    // The program with `args`, started in kit/ with XDG_CONFIG_HOME at config/,
    // QUENVOL_DRIVE_A unset and, unless the test sets QUENVOL_SYSFS, no floppy drive to find;
    // standard input is `input` through a pipe (not a terminal).
    CliRun run(const std::vector<std::string>& args, const std::string& input = "") const;
    // The same on a pseudo-terminal: `reply` is typed once `prompt` has appeared, after
    // `whilePrompted` has run (the program waits at the prompt meanwhile); `typedAhead` is
    // typed at once, for the questions before that prompt.
    CliRun runOnTerminal(const std::vector<std::string>& args, const std::string& prompt,
                         const std::string& reply,
                         const std::function<void()>& whilePrompted = nullptr,
                         const std::string& typedAhead = "") const;

    // The same, stopped by the program itself where it reaches `pauseAt` (QUENVOL_PAUSE_AT),
    // then, after `whilePaused` has run, sent `signal` (none for 0) and let go on.
    CliRun runInterrupted(const std::vector<std::string>& args, const std::string& pauseAt,
                          int signal, const std::function<void()>& whilePaused = nullptr) const;

    // Later runs as this user (the tests run as root), for what another user may not do.
    void runAs(uid_t uid, gid_t gid) { m_user = {uid, gid}; }

  private:
    std::string m_root;
    std::string m_state;
    std::string m_kit;
    std::optional<std::pair<uid_t, gid_t>> m_user;
};

std::string cliPath();

// The first folder on the program's path that other users cannot enter (a checkout inside
// mktemp -d's 0700 folder), where a run as another user cannot start it; empty when none.
std::string folderClosedToOthers();

}  // namespace clitest
