// The entry functions of the fuzz targets, shared by the libFuzzer programs under tests/fuzz
// and by the test that replays their corpora and the inputs that once failed.
//
// Each takes arbitrary bytes, drives the real code with them and compares what it did with
// what the input says it must do. It returns an empty text when all is well, else what went
// wrong; a crash, a hang or a sanitizer report is a failure as well.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fuzzentry {

using Bytes = std::span<const std::uint8_t>;

// The project's part-number file holding `input`, read by CCrisisDlg::ReadPartNumber.
std::string checkPartNumber(Bytes input);

// The settings file holding `input`, loaded by CCrisisDlg::LoadHistory.
std::string checkSettingsLoad(Bytes input);

// The help file holding `input`: its topics, and what a help request for a control and for
// the contents shows.
std::string checkHelpFile(Bytes input);

// `input` as the first bytes of a diskette (zero-padded to whole sectors, and again to the
// size its boot sector gives): mounted, listed, every file read, a small file written and read
// back.
std::string checkMount(Bytes input);

// `input` as the bytes of a FAT: every entry read against a bit-level decoding, then entries
// set as the input's tail says, each change checked against its neighbours.
std::string checkFatEntries(Bytes input);

// `input` after its first three bytes as a file of the diskette, checked as a BIOS image with
// those three bytes as the part number and as an option ROM: every finding is one of the
// published names and levels, at an offset inside the file, with a sentence.
std::string checkPayloadFile(Bytes input);

// The targets by name, for the fuzz programs and the replay test.
using Entry = std::string (*)(Bytes);
struct Target {
    const char* name;  // also the folder of its corpus and regressions
    Entry entry;
};
inline constexpr Target kTargets[] = {
    {"part_number", checkPartNumber}, {"settings_load", checkSettingsLoad},
    {"help_file", checkHelpFile},     {"mount", checkMount},
    {"fat_entry", checkFatEntries},   {"payload_check", checkPayloadFile},
};

}  // namespace fuzzentry
