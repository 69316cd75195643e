// Which BIOS files a build takes, decided in one place, ChooseBiosFiles: the project check asks
// whether they are at hand, staging copies exactly those, and the build record names the image
// and the rule of that same choice. A file counts only when it is a non-empty regular file; a
// directory, a pipe, a device or an empty file is passed over with the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/afxstr.h"

namespace build {

// The two file lists, chosen by the flash utility the start directory holds.
enum class FileList {
    Zyplet16,  // minidos.sys, zyplet16.exe, vgabios.exe, bios.qvx
    Zyplet,    // minidos.sys, zyplet.exe, platform.bin, vgabios.exe, bios.rom
};

// ZYPLET16.EXE in the current directory (the start directory) calls for its list.
FileList KitFileList();

// Where a build's BIOS files come from: the start directory's own, or the project folder's,
// staged into the start directory.
enum class BiosOrigin { StartDir, Project };

// The names the BIOS files have on the diskette: the image (bios.rom or bios.qvx) and the
// platform file. Only these are never put on a diskette empty.
bool IsBiosFileName(const std::string& name);

// A BIOS file the build takes, and the name it has on the diskette.
struct ChosenFile {
    CString source;           // a start-directory name or a project folder's file
    const char* destination;  // bios.rom, platform.bin or bios.qvx
    std::uint64_t bytes;
};

struct BiosChoice {
    FileList list = FileList::Zyplet;
    BiosOrigin origin = BiosOrigin::Project;
    bool fromStartDir() const { return complete() && origin == BiosOrigin::StartDir; }
    // "start-directory", "flashable", "test", "devel" or "part-number"; empty when the files
    // the list needs are not all there.
    std::string rule;
    std::vector<ChosenFile> files;        // in staging order
    std::vector<std::string> passedOver;  // "testQ7A.rom is empty", one per file not taken
    std::string missing;                  // what the list needs and did not find, for people
    bool complete() const { return !rule.empty(); }
    const ChosenFile* image() const;  // the file that becomes bios.rom or bios.qvx
};

// The BIOS files the list takes from `origin`. From the start directory: its own bios.rom with
// platform.bin for the five-file list, bios.qvx for the four-file list, named relative to the
// current directory. From the project folder: flashabl.rom for the four-file list; platform.bin
// and one image for the five-file list, the test image before the development image before the
// part-number pattern. The result names the rule that chose, the files passed over and why,
// or what is missing; an empty file is never chosen.
BiosChoice ChooseBiosFiles(FileList list, BiosOrigin origin, const CString& projectPath = {},
                           const CString& partNum = {});

// The length of a file that counts as present: a non-empty regular file that can be read.
// Otherwise none, and `why` says so, naming it as `shown`.
std::optional<std::uint64_t> PresentLength(const CString& name, const std::string& shown,
                                           std::string& why);

// A file of the diskette's list, where the copy takes it from, and its length when it can be
// taken; a video BIOS program that is nowhere has neither length nor reason.
struct ListedFile {
    std::string name;  // on the diskette
    CString source;    // a start-directory name or a project folder's file
    bool staged = false;
    std::optional<std::uint64_t> bytes;
    std::string why;
};

// Every name a build may stage in the start directory.
const std::vector<std::string>& StagedNames();

// A file the build copies from the project folder into the start directory, and its name there.
struct StagedFile {
    CString source;
    const char* destination;
};

// What the build stages for a project folder's choice: the video BIOS program when the project
// has one, and the BIOS files the choice took, nothing else: a start directory's own bios.rom
// or bios.qvx never goes onto a diskette beside the project's files.
std::vector<StagedFile> StagingPlan(const CString& projectPath, const BiosChoice& choice);

// The first candidate, project path + "\??" + part number + "???.rom": two characters of any
// kind, the part number literally (without regard to case), three of any kind and ".rom". The
// real name of the first non-empty file in byte order that has that shape, or empty text when
// none has (the candidate is then absent).
CString FirstImageCandidate(const CString& projectPath, const CString& partNum);

inline CString DevelImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\devel" + partNum + ".rom";
}

inline CString TestImageCandidate(const CString& projectPath, const CString& partNum) {
    return projectPath + "\\test" + partNum + ".rom";
}

}  // namespace build
