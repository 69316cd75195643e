#include "support/fat_tools.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/memory_device.h"

namespace fattools {

#ifdef _WIN32
namespace {

// The tools are Linux programs: a Windows test reaches them only under wine, whose start
// program runs a Linux program, and whose kernel32 gives a Windows path's Linux name.
using UnixNameOf = char*(__cdecl*)(const wchar_t*);

UnixNameOf unixNameFunction() {
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) return nullptr;
    return reinterpret_cast<UnixNameOf>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

// A Windows path ("C:\\...", "Z:/...") as the Linux side names it; other words as they are.
std::string unixWord(UnixNameOf unixName, const std::string& word) {
    const bool path = word.size() > 2 && std::isalpha(static_cast<unsigned char>(word[0])) &&
                      word[1] == ':' && (word[2] == '\\' || word[2] == '/');
    if (!path) return word;
    const std::wstring wide = std::filesystem::path(word).wstring();
    char* name = unixName(wide.c_str());
    if (!name) return word;
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

std::string shellQuoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

// One start of the tool through wine's start program; `started` is false when it never ran
// (the start program failed, or no exit status came within the limit).
static ToolRun runToolOnce(const std::vector<std::string>& argv, int seconds, bool& started) {
    started = false;
    ToolRun run;
    const UnixNameOf unixName = unixNameFunction();
    if (argv.empty() || !unixName) {
        run.output = "the Linux tools are reachable from a Windows program under wine only";
        return run;
    }
    const TempDir dir;
    if (dir.path().empty()) return run;
    // The tool, its time limit and its exit status in a script; its output in a file.
    std::string command = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 LC_ALL=C exec timeout -s KILL " +
                          std::to_string(seconds);
    for (const std::string& word : argv) command += " " + shellQuoted(unixWord(unixName, word));
    const std::string output = unixWord(unixName, dir.file("output.txt"));
    const std::string status = unixWord(unixName, dir.file("status.txt"));
    // The status is renamed into place once whole: its arrival says the tool has ended.
    const std::string script = "(" + command + ") </dev/null >" + shellQuoted(output) +
                               " 2>&1\necho $? >" + shellQuoted(status + ".new") + "\nmv " +
                               shellQuoted(status + ".new") + " " + shellQuoted(status) + "\n";
    if (!writeBytes(dir.file("run.sh"), {script.begin(), script.end()})) return run;
    // The script's Linux path holds no quote: the scratch folder's name is ours.
    std::string line = "start.exe /unix /bin/sh \"" + unixWord(unixName, dir.file("run.sh")) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
        return run;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    // The start program does not wait for a Linux program; the Linux side ends the tool at
    // the limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds + 30);
    while (!std::filesystem::exists(dir.file("status.txt")) &&
           std::chrono::steady_clock::now() < deadline)
        Sleep(10);
    const auto said = readBytes(dir.file("output.txt"));
    if (said) run.output.assign(said->begin(), said->end());
    const auto code = readBytes(dir.file("status.txt"));
    if (!code) return run;
    started = true;
    const int exitCode = std::atoi(std::string(code->begin(), code->end()).c_str());
    // timeout's status for a tool it had to kill.
    if (exitCode == 137) {
        run.timedOut = true;
    } else {
        run.exitCode = exitCode;
    }
    return run;
}

ToolRun runTool(const std::vector<std::string>& argv, int seconds) {
    // Under load, wine's start program now and then starts nothing: the tool is started
    // again then (a tool that ran and failed is not).
    bool started = false;
    ToolRun run;
    for (int attempt = 0; attempt < 3 && !started; ++attempt)
        run = runToolOnce(argv, seconds, started);
    return run;
}
#else
ToolRun runTool(const std::vector<std::string>& argv, int seconds) {
    ToolRun run;
    int pipeFds[2];
    if (argv.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return run;
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return run;
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        setenv("MTOOLS_NO_VFAT", "1", 1);
        setenv("LC_ALL", "C", 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        run.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!run.timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    return run;
}

#endif

LoopDevice::LoopDevice(const std::string& file) {
    const ToolRun attach = runTool({"losetup", "-f", "--show", file});
    // losetup may warn besides naming the device.
    const auto at = attach.output.find("/dev/");
    if (attach.exitCode == 0 && at != std::string::npos) {
        m_path = attach.output.substr(at, attach.output.find('\n', at) - at);
    } else {
        m_why = "no loop device can be attached here: " + attach.output;
    }
}

LoopDevice::~LoopDevice() {
    if (!m_path.empty()) runTool({"losetup", "-d", m_path});
}

FsckResult runFsck(const std::string& image) {
    const ToolRun run = runTool({"/sbin/fsck.fat", "-n", image});
    FsckResult result;
    result.exitCode = run.exitCode;
    result.output = run.output;
    // With -n the tool still exits 0 after listing fixes it would have made, so look for them.
    result.clean =
        run.exitCode == 0 && run.output.find("Leaving filesystem unchanged") == std::string::npos;
    return result;
}

std::optional<std::vector<std::string>> mdirNames(const std::string& image) {
    const ToolRun run = runTool({"mdir", "-b", "-i", image, "::"});
    if (run.exitCode != 0) return std::nullopt;
    std::vector<std::string> names;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("::/", 0) == 0) names.push_back(line.substr(3));
    }
    return names;
}

std::optional<std::uint64_t> mdirFreeBytes(const std::string& image) {
    const ToolRun run = runTool({"mdir", "-i", image, "::"});
    if (run.exitCode != 0) return std::nullopt;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("bytes free");
        if (at == std::string::npos) continue;
        std::string digits;
        for (char c : line.substr(0, at)) {
            if (c >= '0' && c <= '9') digits += c;
        }
        if (!digits.empty()) return std::stoull(digits);
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> mtype(const std::string& image, const std::string& name) {
    const TempDir dir;
    const std::string out = dir.file("out.bin");
    const ToolRun run = runTool({"mcopy", "-n", "-i", image, "::" + name, out});
    if (run.exitCode != 0) return std::nullopt;
    return readBytes(out);
}

bool mcopyIn(const std::string& image, const std::string& name,
             const std::vector<std::uint8_t>& bytes) {
    const TempDir dir;
    const std::string in = dir.file("in.bin");
    if (!writeBytes(in, bytes)) return false;
    return runTool({"mcopy", "-o", "-i", image, in, "::" + name}).exitCode == 0;
}

bool mformat(const std::string& image, int kilobytes) {
    std::error_code ignored;
    std::filesystem::remove(image, ignored);
    return runTool({"mformat", "-C", "-i", image, "-f", std::to_string(kilobytes), "::"})
               .exitCode == 0;
}

bool saveImage(const fat::MemoryDevice& device, const std::string& path) {
    return device.saveFile(path).ok();
}

std::vector<std::uint8_t> withoutVolumeIdentity(std::vector<std::uint8_t> sector) {
    sector.resize(512);
    std::fill(sector.begin() + 0x27, sector.begin() + 0x36, 0);
    return sector;
}

}  // namespace fattools
