// What the console program asks of the system beyond platform/: terminals, files it writes
// for the user (a diskette's image, a picture of its screen), a file's identity, and the
// emulator of the boot check. One side per system, cli/posix/ and cli/win32/; this header
// holds no system type.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace cli::sys {

// Standard input, or standard error, is an interactive console or terminal (not a file, a
// pipe or the null device).
bool inputIsTerminal();
bool errorIsTerminal();

// What tells one file from the next at the same path: none when nothing is there.
struct FileLook {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t size = 0;
    bool operator==(const FileLook&) const = default;
};
std::optional<FileLook> lookAtFile(const std::string& path);

// Whether a file another handle of this program holds open can still be replaced by another
// file at its path (a rename over it): so on POSIX systems, never on Windows.
bool openFileCanBeReplaced();

// What is at a path, after links: on Windows a drive is "\\.\A:" and a block device.
enum class PathKind { Nothing, RegularFile, BlockDevice, Other };
PathKind kindAt(const std::string& path, std::uint64_t& regularFileBytes);

// Nothing at all is at `path`, not even a dangling link: false when something is, or when
// that cannot be found out (then `reason` says why).
bool nothingAt(const std::string& path, std::string& reason);

// A file made new at a path where nothing is (an existing file, link or device is never
// touched), removed again unless finish() succeeds.
class NewFile {
  public:
    // Fails "cannot create <path>: <reason>" with the reason's kind.
    static base::Result<NewFile> create(const std::string& path);
    NewFile(NewFile&& other) noexcept;
    NewFile& operator=(NewFile&&) = delete;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile();
    base::Status write(const void* bytes, std::size_t count);
    // Synced to the medium and closed; fails "cannot write <path>: <reason>".
    base::Status finish();

  private:
    struct State;
    explicit NewFile(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// The program `name` in a folder of PATH, or an empty text.
std::string findProgram(const char* name);

// A private temporary folder for the files `names`, removed with them at the end. Its path
// never holds a double quote, a backslash or a line break (it is given to the emulator's
// monitor in double quotes); empty when none could be made, with the reason.
class WorkFolder {
  public:
    WorkFolder(std::vector<std::string> names);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& path() const { return m_path; }
    const std::string& reason() const { return m_reason; }
    std::string operator/(const char* name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
    std::string m_reason;
    std::vector<std::string> m_names;
};

// A program run with its input from a pipe of ours and its output into a file, ended with
// this program whatever way this program ends, and out of reach of the console's interrupt.
class ChildProcess {
  public:
    ChildProcess();
    ~ChildProcess();  // kills it when it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Returns what failed, or nothing.
    std::string start(const std::vector<std::string>& args, const std::string& outputFile);
    // Whether it still runs; when it has ended, its status is kept.
    bool running();
    // Writes a line to its input; false when it no longer reads it.
    bool sendLine(const std::string& line);
    // Waits for its end, then kills it after `grace`.
    void awaitEnd(std::chrono::steady_clock::duration grace);
    // Its exit status, when it ended by itself.
    std::optional<int> exitStatus() const;

  private:
    struct State;
    void stop();
    std::unique_ptr<State> m_state;
};

}  // namespace cli::sys
