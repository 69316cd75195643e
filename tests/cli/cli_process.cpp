#include "cli/cli_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace clitest {
namespace fs = std::filesystem;
namespace {

// A run that hangs is stopped rather than holding the suite.
constexpr auto kRunLimit = std::chrono::seconds(120);

std::vector<std::string> childEnvironment(const std::string& config, const std::string& state) {
    std::vector<std::string> env;
    bool sysfs = false;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.starts_with("QUENVOL_DRIVE_A=") || entry.starts_with("XDG_CONFIG_HOME=") ||
            entry.starts_with("XDG_STATE_HOME="))
            continue;
        sysfs = sysfs || entry.starts_with("QUENVOL_SYSFS=");
        env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + config);
    env.push_back("XDG_STATE_HOME=" + state);
    // Unless a test made up a machine, the program finds no floppy drive: the real drives of
    // the machine running the tests are never touched.
    if (!sysfs) env.push_back("QUENVOL_SYSFS=" + config + "/no-sysfs");
    return env;
}

// In the child: take the user's identity if one is given, enter the kit and replace the
// process with the program.
[[noreturn]] void execCli(const std::string& kit, const std::vector<std::string>& args,
                          const std::vector<std::string>& env,
                          const std::optional<std::pair<uid_t, gid_t>>& user) {
    if (user && (::setgroups(0, nullptr) != 0 || ::setgid(user->second) != 0 ||
                 ::setuid(user->first) != 0)) {
        ::_exit(125);
    }
    if (::chdir(kit.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    std::string program = cliPath();
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopies = env;
    std::vector<char*> envp;
    for (auto& e : envCopies) envp.push_back(e.data());
    envp.push_back(nullptr);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads `fd` until end of file (or EIO, a terminal's end); calls `onData` after each piece.
void drain(int fd, std::string& out, pid_t pid, const std::function<void()>& onData) {
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            out += "\n[stopped: the run took too long]\n";
            return;
        }
        const int ready = ::poll(&p, 1, 200);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        out.append(buffer, static_cast<std::size_t>(n));
        if (onData) onData();
    }
}

}  // namespace

std::string cliPath() {
    return QUENVOL_BINARY_DIR "/src/quenvol-cli";
}

std::string folderClosedToOthers() {
    namespace fs = std::filesystem;
    for (fs::path dir = fs::path(cliPath()).parent_path(); dir != dir.parent_path();
         dir = dir.parent_path()) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return dir.string();
    }
    return {};
}

std::string Scratch::project() {
    return QUENVOL_SAMPLE_PROJECT_DIR;
}

Scratch::Scratch() {
    // Under /tmp: the start directory must stay within the dialog's 127 characters.
    std::string pattern = "/tmp/quenvol-cli-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
    fs::copy(QUENVOL_SAMPLE_KIT_DIR, kit(), fs::copy_options::recursive);
    fs::create_directories(config());
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
}

CliRun Scratch::run(const std::vector<std::string>& args, const std::string& input) const {
    CliRun result;
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return result;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return result;
    }
    const auto env = childEnvironment(config(), stateHome());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        execCli(kit(), args, env, m_user);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty()) {
        [[maybe_unused]] const auto written = ::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    drain(out[0], result.output, pid, nullptr);
    ::close(out[0]);
    result.exitCode = waitFor(pid);
    return result;
}

CliRun Scratch::runInterrupted(const std::vector<std::string>& args, const std::string& pauseAt,
                               int signal, const std::function<void()>& whilePaused) const {
    CliRun result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return result;
    auto env = childEnvironment(config(), stateHome());
    env.push_back("QUENVOL_PAUSE_AT=" + pauseAt);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int none = ::open("/dev/null", O_RDONLY);
        ::dup2(none, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        execCli(kit(), args, env, m_user);
    }
    ::close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    int status = 0;
    bool reaped = false;
    for (;;) {
        const pid_t seen = ::waitpid(pid, &status, WUNTRACED | WNOHANG);
        if (seen == pid && WIFSTOPPED(status)) {
            result.paused = true;
            if (whilePaused) whilePaused();
            if (signal != 0) ::kill(pid, signal);
            ::kill(pid, SIGCONT);
            break;
        }
        if (seen == pid) {  // ended without pausing
            reaped = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        ::usleep(2000);
    }
    drain(out[0], result.output, pid, nullptr);
    ::close(out[0]);
    while (!reaped && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

CliRun Scratch::runOnTerminal(const std::vector<std::string>& args, const std::string& prompt,
                              const std::string& reply, const std::function<void()>& whilePrompted,
                              const std::string& typedAhead) const {
    CliRun result;
    const auto env = childEnvironment(config(), stateHome());
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return result;
    if (pid == 0) execCli(kit(), args, env, m_user);
    if (!typedAhead.empty()) {
        [[maybe_unused]] const auto written = ::write(master, typedAhead.data(), typedAhead.size());
    }
    bool replied = false;
    drain(master, result.output, pid, [&] {
        if (!replied && result.output.find(prompt) != std::string::npos) {
            if (whilePrompted) whilePrompted();
            [[maybe_unused]] const auto written = ::write(master, reply.data(), reply.size());
            replied = true;
        }
    });
    ::close(master);
    result.exitCode = waitFor(pid);
    return result;
}

}  // namespace clitest
