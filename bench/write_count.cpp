#include "write_count.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "cli/cli_app.h"
#include "platform/device_hooks.h"

namespace bench {
namespace {

// Lets every transfer through and notes each write and flush.
class WriteCounter final : public platform::DriveFaults {
  public:
    std::optional<std::size_t> allowWrite(std::uint64_t offset, std::size_t bytes) override {
        m_writes.push_back({offset, bytes});
        return std::nullopt;
    }
    bool allowFlush() override {
        ++m_flushes;
        return true;
    }

    const std::vector<DeviceWrite>& writes() const { return m_writes; }
    std::uint32_t flushes() const { return m_flushes; }

  private:
    std::vector<DeviceWrite> m_writes;
    std::uint32_t m_flushes = 0;
};

bool writeAll(int fd, const void* data, std::size_t bytes) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t bytes) {
    auto* p = static_cast<char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::read(fd, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

// The child: the program changes the current directory and the environment and keeps the
// application object's state, so it runs in a process of its own, as it would for a user.
[[noreturn]] void runCounted(int report, const std::vector<std::string>& args,
                             const std::string& workingDir,
                             const std::vector<std::pair<std::string, std::string>>& env,
                             const std::string& outputFile) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
        ::chdir(workingDir.c_str()) != 0) {
        ::_exit(127);
    }
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);

    std::vector<std::string> words{"quenvol-cli"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    WriteCounter counter;
    int status;
    {
        platform::ScopedDriveFaults counting(counter);
        status = cli::run(static_cast<int>(words.size()), argv.data());
    }
    const std::uint32_t head[3] = {static_cast<std::uint32_t>(status), counter.flushes(),
                                   static_cast<std::uint32_t>(counter.writes().size())};
    bool sent = writeAll(report, head, sizeof head);
    for (const DeviceWrite& w : counter.writes()) {
        const std::uint64_t pair[2] = {w.offset, w.bytes};
        sent = sent && writeAll(report, pair, sizeof pair);
    }
    ::_exit(sent ? 0 : 126);
}

}  // namespace

CountedBuild countBuild(const std::vector<std::string>& args, const std::string& workingDir,
                        const std::vector<std::pair<std::string, std::string>>& env,
                        const std::string& outputFile) {
    CountedBuild result;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        result.how = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.how = std::string("cannot fork: ") + std::strerror(errno);
        ::close(channel[0]);
        ::close(channel[1]);
        return result;
    }
    if (pid == 0) {
        ::close(channel[0]);
        runCounted(channel[1], args, workingDir, env, outputFile);
    }
    ::close(channel[1]);

    std::uint32_t head[3] = {};
    bool complete = readAll(channel[0], head, sizeof head);
    for (std::uint32_t i = 0; complete && i < head[2]; ++i) {
        std::uint64_t pair[2] = {};
        complete = readAll(channel[0], pair, sizeof pair);
        result.writes.push_back({pair[0], pair[1]});
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.how = "the counted build did not report its writes (see " + outputFile + ")";
        result.writes.clear();
        return result;
    }
    result.exitStatus = static_cast<int>(head[0]);
    result.flushes = head[1];
    return result;
}

}  // namespace bench
