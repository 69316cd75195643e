#include "transfer_log.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
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

// One line of an strace -ttt -y trace: "1796870684.913816 pread64(5</dev/loop0>, ""..., 512, 0)
// = 512". None for the lines that are no call ("+++ exited with 0 +++", "--- SIGCHLD ...").
struct Call {
    std::uint64_t micros = 0;  // when it was made
    std::string name;
    std::string args;    // between the parentheses
    std::string result;  // after " = ": "512", "7</dev/loop0>", "-1 EIO (...)", "?"
};

std::optional<Call> callOf(const std::string& line) {
    Call call;
    char* end = nullptr;
    const unsigned long long seconds = std::strtoull(line.c_str(), &end, 10);
    if (end == line.c_str() || *end != '.') return std::nullopt;
    const char* fraction = end + 1;
    const unsigned long long micros = std::strtoull(fraction, &end, 10);
    if (end != fraction + 6 || *end != ' ') return std::nullopt;
    call.micros = seconds * 1'000'000 + micros;
    const std::size_t nameAt = static_cast<std::size_t>(end - line.c_str()) + 1;
    const std::size_t open = line.find('(', nameAt);
    const std::size_t equals = line.rfind(") = ");
    if (open == std::string::npos || equals == std::string::npos || equals < open) {
        return std::nullopt;
    }
    call.name = line.substr(nameAt, open - nameAt);
    for (char c : call.name)
        if (!std::islower(static_cast<unsigned char>(c)) &&
            !std::isdigit(static_cast<unsigned char>(c)) && c != '_')
            return std::nullopt;
    call.args = line.substr(open + 1, equals - open - 1);
    call.result = line.substr(equals + 4);
    return call;
}

// A descriptor as strace -y shows it: "5</dev/loop0>" at the start of `text`.
struct Descriptor {
    long long fd = -1;
    std::string path;
};

Descriptor descriptorAt(const std::string& text) {
    Descriptor d;
    char* end = nullptr;
    d.fd = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str()) return {};
    if (*end == '<') {
        const std::size_t from = static_cast<std::size_t>(end - text.c_str()) + 1;
        const std::size_t to = text.find('>', from);
        if (to != std::string::npos) d.path = text.substr(from, to - from);
    }
    return d;
}

// The last argument, a number: the offset of pread64 and pwrite64.
std::uint64_t lastNumber(const std::string& args) {
    const std::size_t comma = args.rfind(", ");
    return std::strtoull(args.c_str() + (comma == std::string::npos ? 0 : comma + 2), nullptr, 10);
}

struct Stamped {
    std::uint64_t micros = 0;
    std::size_t drive = 0;
    Transfer transfer;
};

// The transfers on `drives` in one process's trace, each with its time; an explanation, and no
// transfers, where a call on a drive cannot be replayed.
std::string readProcessTrace(const std::string& file, const std::vector<std::string>& drives,
                             std::vector<Stamped>& out) {
    std::ifstream in(file);
    if (!in) return "cannot read the trace " + file;
    // Whether each open descriptor bypasses the cache. One the process did not open here (it
    // was inherited) is taken to go through the cache.
    std::map<long long, bool> direct;
    for (std::string line; std::getline(in, line);) {
        const std::optional<Call> call = callOf(line);
        if (!call) continue;
        const Descriptor first = descriptorAt(call->args);
        const Descriptor made = descriptorAt(call->result);
        const bool failed = made.fd < 0;
        const auto hasFlag = [&](const char* flag) {
            return call->args.find(flag) != std::string::npos;
        };
        if (call->name == "open" || call->name == "openat") {
            if (!failed) direct[made.fd] = hasFlag("O_DIRECT");
            continue;
        }
        if (call->name == "close") {
            direct.erase(first.fd);
            continue;
        }
        if (call->name == "dup" || call->name == "dup2" || call->name == "dup3" ||
            (call->name == "fcntl" && hasFlag("F_DUPFD"))) {
            if (!failed) direct[made.fd] = direct[first.fd];
            continue;
        }
        if (call->name == "fcntl") {
            if (hasFlag("F_SETFL") && !failed) direct[first.fd] = hasFlag("O_DIRECT");
            continue;
        }
        const auto drive = std::find(drives.begin(), drives.end(), first.path);
        if (first.path.empty() || drive == drives.end()) continue;
        if (!call->result.empty() && call->result.front() == '?') {
            return "the trace " + file + " holds a call on " + first.path +
                   " that never returned: " + line;
        }
        const long long value = std::strtoll(call->result.c_str(), nullptr, 10);
        Stamped s;
        s.micros = call->micros;
        s.drive = static_cast<std::size_t>(drive - drives.begin());
        if (call->name == "pwrite64" || call->name == "pread64") {
            if (value <= 0) continue;  // failed, or at the end: nothing moved
            const bool reading = call->name == "pread64";
            s.transfer = {reading ? Transfer::Kind::Read : Transfer::Kind::Write,
                          reading && direct[first.fd], false, lastNumber(call->args),
                          static_cast<std::uint64_t>(value)};
        } else if (call->name == "fsync" || call->name == "fdatasync") {
            if (value != 0) continue;
            s.transfer = {Transfer::Kind::Flush, false, false, 0, 0};
        } else if (call->name == "fadvise64") {
            if (value != 0 || !hasFlag("POSIX_FADV_DONTNEED")) continue;
            s.transfer = {Transfer::Kind::DropCache, false, false, 0, 0};
        } else {
            return "the trace " + file + " shows " + call->name + " on " + first.path +
                   ", which the drive model does not replay: " + line;
        }
        out.push_back(s);
    }
    return {};
}

}  // namespace

std::vector<std::string> straceTransferOptions(const std::string& prefix) {
    return {"-ff",
            "-ttt",
            "-y",
            "-s",
            "0",
            "-o",
            prefix,
            "-e",
            "trace=open,openat,close,dup,dup2,dup3,fcntl,read,write,readv,writev,pread64,pwrite64,"
            "preadv,pwritev,preadv2,pwritev2,fsync,fdatasync,sync_file_range,fadvise64"};
}

TracedDrives transfersInTrace(const std::vector<std::string>& traceFiles,
                              const std::vector<std::string>& drives) {
    TracedDrives result;
    std::vector<Stamped> all;
    for (const std::string& file : traceFiles) {
        result.how = readProcessTrace(file, drives, all);
        if (!result.how.empty()) return result;
    }
    // Each process's calls are in order already; between processes the times tell.
    std::stable_sort(all.begin(), all.end(),
                     [](const Stamped& a, const Stamped& b) { return a.micros < b.micros; });
    result.transfers.resize(drives.size());
    // A read made after the cache was dropped, with nothing written since, is past the cache
    // too: what it returns comes from the medium.
    std::vector<bool> dropped(drives.size(), false);
    for (Stamped& s : all) {
        Transfer& t = s.transfer;
        if (t.kind == Transfer::Kind::DropCache) dropped[s.drive] = true;
        if (t.kind == Transfer::Kind::Write) dropped[s.drive] = false;
        if (t.kind == Transfer::Kind::Read && dropped[s.drive]) t.pastCache = true;
        result.transfers[s.drive].push_back(t);
    }
    return result;
}

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
