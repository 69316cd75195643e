#include "transfer_log.h"

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

// Lets every transfer through and notes each one.
class Recorder final : public platform::DriveFaults {
  public:
    void written(std::uint64_t offset, const void*, std::size_t bytes) override {
        m_transfers.push_back({Transfer::Kind::Write, false, false, offset, bytes});
    }
    // Drive A:'s flush asks first; the flush that dropping the cache makes does not.
    bool allowFlush() override {
        m_flushAsked = true;
        return true;
    }
    void flushed() override {
        m_transfers.push_back({Transfer::Kind::Flush, false, !m_flushAsked, 0, 0});
        m_flushAsked = false;
    }
    void wasRead(std::uint64_t offset, std::size_t bytes, bool pastCache) override {
        m_transfers.push_back({Transfer::Kind::Read, pastCache, false, offset, bytes});
    }
    void cacheDropped() override {
        m_transfers.push_back({Transfer::Kind::DropCache, false, false, 0, 0});
    }
    const std::vector<Transfer>& transfers() const { return m_transfers; }

  private:
    std::vector<Transfer> m_transfers;
    bool m_flushAsked = false;
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
[[noreturn]] void runRecorded(int report, const std::vector<std::string>& args,
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

    Recorder recorder;
    int status;
    {
        platform::ScopedDriveFaults recording(recorder);
        status = cli::run(static_cast<int>(words.size()), argv.data());
    }
    const std::uint64_t head[2] = {static_cast<std::uint64_t>(status), recorder.transfers().size()};
    bool sent = writeAll(report, head, sizeof head);
    for (const Transfer& t : recorder.transfers()) {
        const std::uint64_t record[3] = {
            static_cast<std::uint64_t>(t.kind) * 4 + t.pastCache * 2u + t.forDrop, t.offset,
            t.bytes};
        sent = sent && writeAll(report, record, sizeof record);
    }
    ::_exit(sent ? 0 : 126);
}

}  // namespace

std::vector<Transfer> RecordedRun::writes() const {
    std::vector<Transfer> result;
    for (const Transfer& t : transfers)
        if (t.kind == Transfer::Kind::Write) result.push_back(t);
    return result;
}

std::uint32_t RecordedRun::flushes() const {
    std::uint32_t n = 0;
    for (const Transfer& t : transfers) n += t.kind == Transfer::Kind::Flush;
    return n;
}

std::vector<Transfer> asOnDevice(const std::vector<Transfer>& onImage, std::uint64_t mediumBytes) {
    using Kind = Transfer::Kind;
    std::size_t lastWrite = 0;
    for (std::size_t i = 0; i < onImage.size(); ++i)
        if (onImage[i].kind == Kind::Write) lastWrite = i;
    // The digest: after the last write, reads that go on from byte 0, each where the one
    // before ended, to the end of the medium.
    std::vector<bool> digest(onImage.size(), false);
    for (std::size_t i = lastWrite; i < onImage.size(); ++i) {
        const Transfer& t = onImage[i];
        if (t.kind != Kind::Read || t.offset != 0) continue;
        std::uint64_t end = 0;
        std::size_t j = i;
        std::vector<std::size_t> reads;
        for (; j < onImage.size() && end < mediumBytes; ++j) {
            const Transfer& u = onImage[j];
            if (u.kind == Kind::DropCache) continue;
            if (u.kind != Kind::Read || u.offset != end) break;
            end += u.bytes;
            reads.push_back(j);
        }
        if (end == mediumBytes) {
            for (std::size_t r : reads) digest[r] = true;
            break;
        }
    }
    // After the last write every read is the read-back's or the record's, which a device
    // makes past its cache (the record reads an image's sector 0 through the cache).
    std::vector<Transfer> result;
    for (std::size_t i = 0; i < onImage.size(); ++i) {
        Transfer t = onImage[i];
        if (digest[i] || t.kind == Kind::DropCache || (t.kind == Kind::Flush && t.forDrop)) {
            continue;
        }
        if (i > lastWrite && t.kind == Kind::Read) t.pastCache = true;
        result.push_back(t);
    }
    return result;
}

RecordedRun recordRun(const std::vector<std::string>& args, const std::string& workingDir,
                      const std::vector<std::pair<std::string, std::string>>& env,
                      const std::string& outputFile) {
    RecordedRun result;
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
        runRecorded(channel[1], args, workingDir, env, outputFile);
    }
    ::close(channel[1]);

    std::uint64_t head[2] = {};
    bool complete = readAll(channel[0], head, sizeof head);
    for (std::uint64_t i = 0; complete && i < head[1]; ++i) {
        std::uint64_t record[3] = {};
        complete = readAll(channel[0], record, sizeof record);
        result.transfers.push_back({static_cast<Transfer::Kind>(record[0] / 4),
                                    (record[0] & 2) != 0, (record[0] & 1) != 0, record[1],
                                    record[2]});
    }
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.how = "the recorded run did not report its transfers (see " + outputFile + ")";
        result.transfers.clear();
        return result;
    }
    result.exitStatus = static_cast<int>(head[0]);
    return result;
}

}  // namespace bench
