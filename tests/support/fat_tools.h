// Checks of diskette images by tools we did not write: fsck.fat and mtools, run on an image
// file with a time limit. Every helper takes the image's path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace fat {
class MemoryDevice;
}

namespace fattools {

struct ToolRun {
    int exitCode = -1;  // -1 when the tool could not be started or was killed
    bool timedOut = false;
    std::string output;  // standard output followed by standard error
};

// Runs argv[0] from PATH (mtools with MTOOLS_SKIP_CHECK=1 and MTOOLS_NO_VFAT=1 set), killing
// it after `seconds`.
ToolRun runTool(const std::vector<std::string>& argv, int seconds = 30);

// A loop device over `file` while the object lives (losetup -f), for tests that reach one
// medium through a device too. path() is empty where none can be attached (not root, no loop
// support); why() then says why, for the test's skip.
class LoopDevice {
  public:
    explicit LoopDevice(const std::string& file);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& path() const { return m_path; }
    const std::string& why() const { return m_why; }

  private:
    std::string m_path;
    std::string m_why;
};

struct FsckResult {
    bool clean = false;  // exit status 0 and nothing the tool would change
    int exitCode = -1;
    std::string output;
};

// fsck.fat -n: checks without changing anything.
FsckResult runFsck(const std::string& image);

// Names in the root directory as mdir lists them ("HELLO.TXT"); nullopt when mdir fails.
std::optional<std::vector<std::string>> mdirNames(const std::string& image);
// The "bytes free" figure of mdir; nullopt when mdir fails or prints none.
std::optional<std::uint64_t> mdirFreeBytes(const std::string& image);
// A file's bytes read back through mtools; nullopt when it cannot be read.
std::optional<std::vector<std::uint8_t>> mtype(const std::string& image, const std::string& name);
// Copies bytes into the image's root directory as `name` with mcopy (replacing any file).
bool mcopyIn(const std::string& image, const std::string& name,
             const std::vector<std::uint8_t>& bytes);
// A fresh image of `kilobytes` (1440 for 1.44 MB) made by mformat.
bool mformat(const std::string& image, int kilobytes);

// A boot sector without its volume's identity: the serial number and the label (bytes 0x27 to
// 0x35) blanked. The build writes crisboot.bin with the identity of the volume it goes onto,
// so this is what must equal crisboot.bin's.
std::vector<std::uint8_t> withoutVolumeIdentity(std::vector<std::uint8_t> sector);

// Saves a device's image as `path` for the tools; false on failure.
bool saveImage(const fat::MemoryDevice& device, const std::string& path);

}  // namespace fattools
