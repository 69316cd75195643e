// What the staging journal writes into the start directory, the same on every system so that a
// folder left by a build on one is understood on another: the journal's header, the names of
// the build's own files beside the user's, and the digest that tells a copy of the build's
// from any other file of that size. Shared by the staging (staging_area.cpp and the calls each
// system makes for it) only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/staging_area.h"
#include "platform/text_case.h"

namespace platform::staging {

inline constexpr char kJournalHeader[] = "quenvol-staging 2";
inline constexpr char kJournalNext[] = ".quenvol-staging.new";

// A copy of the build's in the making.
inline std::string temporaryFor(const std::string& name) {
    return std::string(kStagingJournal) + "." + lowerAscii(name) + ".part";
}

// A user's file put aside while the build's copy is under its name.
inline std::string asideFor(const std::string& name) {
    return std::string(kStagingJournal) + "." + lowerAscii(name) + ".user";
}

// Where a user's file goes that cannot go back under its name: a name the user sees.
inline std::string keptFor(const std::string& name) {
    return name + ".yours";
}

// How much a digest reads at a time.
inline constexpr std::size_t kChunk = 64 * 1024;

// FNV-1a over the bytes: enough to tell a copy of the build's from any other file of that
// size, which is all the journal asks of it.
struct Digest {
    std::uint64_t value = 14695981039346656037ull;
    std::uint64_t size = 0;
    void add(const char* data, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            value ^= static_cast<unsigned char>(data[i]);
            value *= 1099511628211ull;
        }
        size += bytes;
    }
};

}  // namespace platform::staging
