// --verify: what a build put on the diskette, read back and compared with what it was copied
// from. The expected bytes are taken from the start directory at the moment the copy begins,
// when the staged BIOS files are there and before they are deleted again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fat/sector_device.h"

namespace cli {

struct ExpectedFile {
    std::string name;  // as the file list spells it: "bios.rom"
    std::vector<std::uint8_t> bytes;
    std::string origin;  // the file it was copied from, for the report
};

struct Expectation {
    std::vector<ExpectedFile> files;
    std::optional<std::vector<std::uint8_t>> bootSector;  // 512 bytes, MINIDOS only
    std::vector<std::string> problems;                    // found while taking the snapshot
};

// The file list the build copies from the current directory: the four-file list when
// ZYPLET16.EXE is there, else the five-file list.
std::vector<std::string> fileListOfCurrentDirectory();

// Reads the listed files from the current directory (the start directory during a build);
// a missing vgabios.exe is expected to stay off the diskette. With `bootSector`, the first
// 512 bytes of crisboot.bin, zero padded, are expected in sector 0.
Expectation snapshotStartDirectory(bool bootSector);

// Files that were staged and deleted again after the copy: names as origin the file of
// `projectFolder` (a host path) with the same bytes, when there is one.
void nameStagedOrigins(Expectation& expectation, const std::string& projectFolder);

// Every difference between the device and the expectation, one line each ("verify: ...");
// empty when everything matches.
std::vector<std::string> verifyDiskette(fat::SectorDevice& device, const Expectation& expectation);

// The same for drive A:, read past any cache on the way.
std::vector<std::string> verifyDriveA(const Expectation& expectation);

}  // namespace cli
