// The states a crash can leave on a diskette. A build's writes and flushes are recorded where
// they reach drive A:; between two flushes the host and the drive may put the pending writes on
// the medium in any order, and a write of several sectors may stop after any of them. Each image
// a power loss could leave is rebuilt from the image before the build and then checked.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/device_hooks.h"

namespace crash {

using Bytes = std::vector<std::uint8_t>;

// One write call as it reached the drive, in whole sectors.
struct Write {
    std::uint32_t firstSector = 0;
    Bytes data;
    std::uint32_t sectors() const { return static_cast<std::uint32_t>(data.size() / 512); }
};

// The writes between two flushes, in the order they were made. Once the epoch's flush has
// succeeded all of them are durable; before that any of them may be missing.
struct Epoch {
    std::vector<Write> writes;
    bool flushed = false;  // false for writes after the last flush
};

// Records every write and flush of drive A: while installed with platform::ScopedDriveFaults.
class Recorder final : public platform::DriveFaults {
  public:
    void written(std::uint64_t offset, const void* data, std::size_t bytes) override;
    void flushed() override;
    const std::vector<Epoch>& epochs() const { return m_epochs; }

  private:
    std::vector<Epoch> m_epochs{1};
};

struct Options {
    std::uint64_t exhaustiveUpTo = 4096;  // an epoch with at most this many states: all of them
    std::size_t samplesPerEpoch = 400;    // otherwise this many drawn at random, besides the
                                          // prefixes and each write missing or alone
    std::uint32_t seed = 1;
};

// Calls `visit` with each state a crash can leave, and a description of it: every prefix of the
// write stream (a write of several sectors also cut after each sector) and, within each epoch,
// every choice of each pending write landing whole, as a prefix of its sectors, or not at all.
// Returns the number of states visited.
std::size_t forEachState(const Bytes& before, const std::vector<Epoch>& epochs,
                         const Options& options,
                         const std::function<void(const Bytes&, const std::string&)>& visit);

// What each file may hold after a crash: its new content or, for a file the diskette held
// before the build, its old content. Names are the diskette's ("BIOS.ROM").
struct Allowed {
    std::map<std::string, std::vector<Bytes>> contents;
};

// The files of `before` with their contents, and the build's sources as the new contents.
Allowed allowedContents(const Bytes& before, const std::map<std::string, Bytes>& sources);

// Faults of one state, empty when every file a directory entry names reads back as one of its
// allowed contents or is empty, read as it is (no repair first). An image that cannot be
// mounted passes only while its root directory names nothing.
std::vector<std::string> checkFiles(const Bytes& image, const Allowed& allowed);

}  // namespace crash
