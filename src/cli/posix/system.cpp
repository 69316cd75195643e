#include "cli/system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/posix/file_io.h"
#include "platform/posix/system_error.h"

namespace cli::sys {
namespace {

std::string errnoText() {
    return std::strerror(errno);
}

}  // namespace

bool inputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool errorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::optional<FileLook> lookAtFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    FileLook look;
    look.volume = st.st_dev;
    look.file = st.st_ino;
    look.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    look.changedNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    look.size = static_cast<std::uint64_t>(st.st_size);
    return look;
}

bool openFileCanBeReplaced() {
    return true;
}

PathKind kindAt(const std::string& path, std::uint64_t& regularFileBytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathKind::Nothing;
    if (S_ISBLK(st.st_mode)) return PathKind::BlockDevice;
    if (!S_ISREG(st.st_mode)) return PathKind::Other;
    regularFileBytes = static_cast<std::uint64_t>(st.st_size);
    return PathKind::RegularFile;
}

bool nothingAt(const std::string& path, std::string& reason) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return false;
    if (errno == ENOENT) return true;
    reason = errnoText();
    return false;
}

// The bytes go to a file without a name in the folder (or, where the file system has no such
// files, to a hidden one beside the path), which is given the path only when whole and synced,
// by a link that never replaces anything: a copy broken off, even by SIGKILL, never leaves a
// partial file under the path.
struct NewFile::State {
    int fd = -1;
    std::string path;
    std::string temporary;  // the name the bytes have meanwhile; empty for an unnamed file
};

NewFile::NewFile(std::unique_ptr<State> state) : m_state(std::move(state)) {}
NewFile::NewFile(NewFile&& other) noexcept = default;

NewFile::~NewFile() {
    if (!m_state || m_state->fd < 0) return;
    ::close(m_state->fd);
    if (!m_state->temporary.empty()) ::unlink(m_state->temporary.c_str());
}

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A hidden file beside `path` that nothing else names, made new; -1 with errno when none.
int createBeside(const std::string& path, std::string& name) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "." + base + ".part-" + std::to_string(::getpid()) + "-" +
               std::to_string(attempt);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

base::Result<NewFile> NewFile::create(const std::string& path) {
    // An existing file, link or device at the path is never touched, and said so at once.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        return platform::posix::systemError(EEXIST,
                                            "cannot create " + path + ": " + std::strerror(EEXIST));
    }
    auto state = std::make_unique<State>(State{-1, path, {}});
    state->fd = ::open(folderOf(path).c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0644);
    if (state->fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        state->fd = createBeside(path, state->temporary);
    }
    if (state->fd < 0) {
        const int error = errno;
        return platform::posix::systemError(error,
                                            "cannot create " + path + ": " + std::strerror(error));
    }
    return NewFile(std::move(state));
}

base::Status NewFile::write(const void* bytes, std::size_t count) {
    return platform::writeAll(m_state->fd, m_state->path, bytes, count);
}

base::Status NewFile::finish() {
    State& state = *m_state;
    const std::string& path = state.path;
    if (::fsync(state.fd) != 0) return platform::posix::failedBecause("cannot write " + path);
    // A link fails where anything is at the path by now: nothing is ever replaced.
    int linked;
    if (state.temporary.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(state.fd);
        linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        linked = ::link(state.temporary.c_str(), path.c_str());
        // A file system without links (FAT) can still rename without replacing.
        if (linked != 0 && (errno == EPERM || errno == EOPNOTSUPP))
            linked = ::renameat2(AT_FDCWD, state.temporary.c_str(), AT_FDCWD, path.c_str(),
                                 RENAME_NOREPLACE);
    }
    if (linked != 0) {
        const int error = errno;
        return platform::posix::systemError(error,
                                            "cannot create " + path + ": " + std::strerror(error));
    }
    if (!state.temporary.empty()) ::unlink(state.temporary.c_str());
    state.temporary.clear();
    const int fd = state.fd;
    state.fd = -1;
    if (::close(fd) != 0) {
        auto failure = platform::posix::failedBecause("cannot write " + path);
        ::unlink(path.c_str());
        return failure;
    }
    // The name itself reaches the medium too.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return base::Status::success();
}

std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

WorkFolder::WorkFolder(std::vector<std::string> names) : m_names(std::move(names)) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    if (base.find_first_of("\"\\\n") != std::string::npos) base = "/tmp";
    std::string templ = base + "/quenvol-boot.XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        m_reason = errnoText();
        return;
    }
    m_path = templ;
}

WorkFolder::~WorkFolder() {
    if (m_path.empty()) return;
    for (const auto& name : m_names) ::unlink((m_path + "/" + name).c_str());
    ::rmdir(m_path.c_str());
}

struct ChildProcess::State {
    pid_t pid = -1;
    int input = -1;
    std::optional<int> status;  // as waitpid gives it
};

ChildProcess::ChildProcess() : m_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    stop();
}

std::string ChildProcess::start(const std::vector<std::string>& args,
                                const std::string& outputFile) {
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return "no pipe for " + args.front() + ": " + errnoText();
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (auto& arg : words) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    State& s = *m_state;
    s.pid = ::fork();
    if (s.pid < 0) {
        ::close(input[0]);
        ::close(input[1]);
        return args.front() + " could not be started: " + errnoText();
    }
    if (s.pid == 0) {
        // The child ends with this program, whatever way it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::setpgid(0, 0);  // Ctrl+C on the terminal is ours to handle, not the child's
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || ::dup2(input[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
            ::_exit(127);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    s.input = input[1];
    return {};
}

bool ChildProcess::running() {
    State& s = *m_state;
    if (s.pid <= 0) return false;
    int status = 0;
    if (::waitpid(s.pid, &status, WNOHANG) == s.pid) {
        s.status = status;
        s.pid = -1;
        return false;
    }
    return true;
}

bool ChildProcess::sendLine(const std::string& line) {
    if (m_state->input < 0) return false;
    // A child that has gone away must not end this program with SIGPIPE.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    const std::string text = line + "\n";
    const bool sent =
        ::write(m_state->input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::sigaction(SIGPIPE, &old, nullptr);
    return sent;
}

void ChildProcess::awaitEnd(std::chrono::steady_clock::duration grace) {
    const auto until = std::chrono::steady_clock::now() + grace;
    while (running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop();
}

std::optional<int> ChildProcess::exitStatus() const {
    const auto& status = m_state->status;
    if (status && WIFEXITED(*status)) return WEXITSTATUS(*status);
    return std::nullopt;
}

void ChildProcess::stop() {
    State& s = *m_state;
    if (s.input >= 0) ::close(s.input);
    s.input = -1;
    if (s.pid > 0) {
        ::kill(s.pid, SIGKILL);
        int status = 0;
        ::waitpid(s.pid, &status, 0);
        s.status = status;
        s.pid = -1;
    }
}

}  // namespace cli::sys
