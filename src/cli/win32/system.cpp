#include "cli/system.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/win32/system_error.h"
#include "platform/win_path.h"

namespace cli::sys {
namespace {

using platform::win32::messageOf;

std::string lastErrorText() {
    return messageOf(GetLastError());
}

// A handle closed with its owner.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : m_h(o.m_h) { o.m_h = nullptr; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            m_h = o.m_h;
            o.m_h = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void reset() {
        if (m_h) CloseHandle(m_h);
        m_h = nullptr;
    }
    HANDLE release() {
        const HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }

  private:
    HANDLE m_h = nullptr;
};

bool isConsole(DWORD which) {
    // A console answers its mode; a file, a pipe and the null device do not (the C library's
    // isatty takes the null device for a terminal).
    DWORD mode = 0;
    const HANDLE h = GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool isDevicePath(const std::string& path) {
    return path.size() > 4 && platform::isDeviceNamespace(path);
}

std::int64_t nanoseconds(const FILETIME& t) {
    const auto ticks = (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    return static_cast<std::int64_t>(ticks) * 100;  // 100 ns units
}

// A name no other file of this process or another has: process id and a counter.
std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    return std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter) + "." +
           std::to_string(GetTickCount64() & 0xFFFFFF);
}

// One argument as the C runtime's parser reads it back: in quotes where it needs them, the
// backslashes before a quote doubled.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

}  // namespace

bool inputIsTerminal() {
    return isConsole(STD_INPUT_HANDLE);
}

bool errorIsTerminal() {
    return isConsole(STD_ERROR_HANDLE);
}

std::optional<FileLook> lookAtFile(const std::string& path) {
    // Attributes only: a drive or a file another program holds open still answers.
    Handle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return std::nullopt;
    FileLook look;
    BY_HANDLE_FILE_INFORMATION info{};
    // A volume has no file record: like a block device's node, it stays the same.
    if (GetFileInformationByHandle(h.get(), &info)) {
        look.volume = info.dwVolumeSerialNumber;
        look.file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        look.modifiedNs = nanoseconds(info.ftLastWriteTime);
        look.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    }
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic))
        look.changedNs = basic.ChangeTime.QuadPart * 100;
    return look;
}

bool openFileCanBeReplaced() {
    return false;
}

PathKind kindAt(const std::string& path, std::uint64_t& regularFileBytes) {
    Handle h(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return PathKind::Nothing;
    if (isDevicePath(path)) return PathKind::BlockDevice;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return PathKind::Other;
    regularFileBytes = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    return PathKind::RegularFile;
}

bool nothingAt(const std::string& path, std::string& reason) {
    // The attributes of a link itself, not of what it points to.
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    reason = messageOf(error);
    return false;
}

// The bytes go to a file beside the path, which is given the path only when whole and flushed,
// by a move that never replaces anything: a copy broken off never leaves a partial file under
// the path.
struct NewFile::State {
    Handle file;
    std::string path;
    std::string temporary;
};

NewFile::NewFile(std::unique_ptr<State> state) : m_state(std::move(state)) {}
NewFile::NewFile(NewFile&& other) noexcept = default;

NewFile::~NewFile() {
    if (!m_state || !m_state->file) return;
    m_state->file.reset();
    DeleteFileA(m_state->temporary.c_str());
}

base::Result<NewFile> NewFile::create(const std::string& path) {
    // An existing file, link or device at the path is never touched, and said so at once.
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return platform::win32::systemError(
            ERROR_FILE_EXISTS, "cannot create " + path + ": " + messageOf(ERROR_FILE_EXISTS));
    const std::string temporary = path + ".part-" + uniqueSuffix();
    Handle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file) return platform::win32::failedBecause("cannot create " + path);
    return NewFile(std::make_unique<State>(State{std::move(file), path, temporary}));
}

base::Status NewFile::write(const void* bytes, std::size_t count) {
    const auto* from = static_cast<const std::uint8_t*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(m_state->file.get(), from + done, chunk, &wrote, nullptr)) {
            const DWORD error = GetLastError();
            return platform::win32::systemError(
                error, "write error in \"" + m_state->path + "\" after " + std::to_string(done) +
                           " of " + std::to_string(count) + " bytes: " + messageOf(error));
        }
        if (wrote == 0) {
            return base::Status::failure(
                "write error in \"" + m_state->path + "\": nothing more was taken after " +
                std::to_string(done) + " of " + std::to_string(count) + " bytes");
        }
        done += wrote;
    }
    return base::Status::success();
}

base::Status NewFile::finish() {
    State& state = *m_state;
    const std::string& path = state.path;
    if (!FlushFileBuffers(state.file.get()))
        return platform::win32::failedBecause("cannot write " + path);
    if (!CloseHandle(state.file.release())) {
        auto failure = platform::win32::failedBecause("cannot write " + path);
        DeleteFileA(state.temporary.c_str());
        return failure;
    }
    // Without MOVEFILE_REPLACE_EXISTING: a file at the path by now is never replaced.
    if (!MoveFileExA(state.temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        auto failure = platform::win32::failedBecause("cannot create " + path);
        DeleteFileA(state.temporary.c_str());
        return failure;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return base::Status::success();
}

std::string findProgram(const char* name) {
    const auto isProgram = [](const std::string& path) {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    char buffer[MAX_PATH];
    // The search path's folders, with ".exe" when the name has no extension of its own.
    const DWORD n = SearchPathA(nullptr, name, ".exe", sizeof buffer, buffer, nullptr);
    if (n > 0 && n < sizeof buffer && isProgram(buffer)) return buffer;
    // QEMU's installer puts its programs in a folder of its own and leaves PATH as it was.
    for (const char* variable : {"ProgramW6432", "ProgramFiles"}) {
        const char* folder = std::getenv(variable);
        if (!folder || !*folder) continue;
        const std::string path = std::string(folder) + "\\qemu\\" + name + ".exe";
        if (isProgram(path)) return path;
    }
    return {};
}

WorkFolder::WorkFolder(std::vector<std::string> names) : m_names(std::move(names)) {
    char buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n > sizeof buffer) {
        m_reason = lastErrorText();
        return;
    }
    // Forward slashes: the system takes them, and the emulator's monitor leaves them as
    // they are inside double quotes.
    std::string base(buffer, n);
    for (char& c : base)
        if (c == '\\') c = '/';
    if (base.find_first_of("\"\n") != std::string::npos) {
        m_reason = "the temporary folder's path holds a quote or a line break";
        return;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = base + "quenvol-boot." + uniqueSuffix();
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            m_path = path;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    m_reason = lastErrorText();
}

WorkFolder::~WorkFolder() {
    if (m_path.empty()) return;
    for (const auto& name : m_names) DeleteFileA((m_path + "/" + name).c_str());
    RemoveDirectoryA(m_path.c_str());
}

struct ChildProcess::State {
    Handle process;
    Handle job;  // closed with this program: the system then ends the child
    Handle input;
    std::optional<DWORD> status;
};

ChildProcess::ChildProcess() : m_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    stop();
}

std::string ChildProcess::start(const std::vector<std::string>& args,
                                const std::string& outputFile) {
    State& s = *m_state;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return "no pipe for " + args.front() + ": " + lastErrorText();
    Handle childInput(readEnd);
    Handle ourInput(writeEnd);
    SetHandleInformation(ourInput.get(), HANDLE_FLAG_INHERIT, 0);
    Handle output(CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return args.front() + " could not be started: " + lastErrorText();

    // The child ends with this program, whatever way it ends: a job that kills what it holds
    // when its last handle, ours, is closed.
    Handle job(CreateJobObjectA(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job || !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits))
        return args.front() + " could not be started: " + lastErrorText();

    std::string commandLine;
    for (const auto& arg : args) commandLine += (commandLine.empty() ? "" : " ") + quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput.get();
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    // A process group of its own: Ctrl+C on the console is ours to handle, not the child's.
    if (!CreateProcessA(args.front().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &info))
        return args.front() + " could not be started: " + lastErrorText();
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        const std::string why = lastErrorText();
        TerminateProcess(process.get(), 127);
        return args.front() + " could not be started: " + why;
    }
    ResumeThread(thread.get());
    s.process = std::move(process);
    s.job = std::move(job);
    s.input = std::move(ourInput);
    return {};
}

bool ChildProcess::running() {
    State& s = *m_state;
    if (!s.process) return false;
    if (WaitForSingleObject(s.process.get(), 0) != WAIT_OBJECT_0) return true;
    DWORD code = 0;
    if (GetExitCodeProcess(s.process.get(), &code)) s.status = code;
    s.process.reset();
    return false;
}

bool ChildProcess::sendLine(const std::string& line) {
    if (!m_state->input) return false;
    // A child that has gone away fails the write (a broken pipe); nothing is raised.
    const std::string text = line + "\n";
    DWORD wrote = 0;
    return WriteFile(m_state->input.get(), text.data(), static_cast<DWORD>(text.size()), &wrote,
                     nullptr) &&
           wrote == text.size();
}

void ChildProcess::awaitEnd(std::chrono::steady_clock::duration grace) {
    const auto until = std::chrono::steady_clock::now() + grace;
    while (running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop();
}

std::optional<int> ChildProcess::exitStatus() const {
    if (m_state->status) return static_cast<int>(*m_state->status);
    return std::nullopt;
}

void ChildProcess::stop() {
    State& s = *m_state;
    s.input.reset();
    if (s.process) {
        // Killed: no exit status of its own.
        TerminateProcess(s.process.get(), 1);
        WaitForSingleObject(s.process.get(), INFINITE);
        s.process.reset();
        s.status.reset();
    }
    s.job.reset();
}

}  // namespace cli::sys
