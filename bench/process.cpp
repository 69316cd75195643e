#include "process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace bench {

std::optional<std::string> findOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        if (::access(program.c_str(), X_OK) == 0) return program;
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

RunOutcome runProcess(const RunSpec& spec) {
    RunOutcome outcome;
    // Everything the child needs is prepared before the clock starts: between fork and exec
    // it only redirects, changes folder and sets variables.
    std::vector<char*> argv;
    for (const std::string& arg : spec.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const std::string output = spec.outputFile.empty() ? "/dev/null" : spec.outputFile;
    // A pipe that exec closes: a byte on it means the child never reached the program.
    int failPipe[2];
    if (::pipe2(failPipe, O_CLOEXEC) != 0) {
        outcome.how = std::string("cannot make a pipe: ") + std::strerror(errno);
        return outcome;
    }

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        outcome.how = std::string("cannot fork: ") + std::strerror(errno);
        ::close(failPipe[0]);
        ::close(failPipe[1]);
        return outcome;
    }
    if (pid == 0) {
        ::close(failPipe[0]);
        int error = 0;
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) {
            error = errno;
        } else if (!spec.workingDir.empty() && ::chdir(spec.workingDir.c_str()) != 0) {
            error = errno;
        } else {
            for (const auto& [name, value] : spec.env) ::setenv(name.c_str(), value.c_str(), 1);
            ::execvp(argv[0], argv.data());
            error = errno;
        }
        [[maybe_unused]] ssize_t n = ::write(failPipe[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(failPipe[1]);

    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.elapsed = std::chrono::steady_clock::now() - start;
    outcome.maxRssKiB = usage.ru_maxrss;
    auto spent = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    outcome.cpu = spent(usage.ru_utime) + spent(usage.ru_stime);

    int childError = 0;
    const bool startFailed = ::read(failPipe[0], &childError, sizeof childError) > 0;
    ::close(failPipe[0]);
    if (startFailed) {
        outcome.how = "cannot run " + spec.argv.front() + ": " + std::strerror(childError);
    } else if (WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
        outcome.how = "exit status " + std::to_string(outcome.exitStatus);
    } else if (WIFSIGNALED(status)) {
        outcome.how = "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return outcome;
}

}  // namespace bench
