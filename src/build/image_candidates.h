// Which BIOS files a build takes, decided in one place: the project check asks whether they
// are at hand, staging copies exactly those, and the build record names the rule that chose
// them. A file counts only when it is a non-empty regular file; a directory, a pipe, a device
// or an empty file is passed over with the reason.
#pragma once

#include <cstdint>
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

// A BIOS file the build takes, and the name it has on the diskette.
struct ChosenFile {
    CString source;           // a start-directory name or a project folder's file
    const char* destination;  // bios.rom, platform.bin or bios.qvx
    std::uint64_t bytes;
};

struct BiosChoice {
    FileList list = FileList::Zyplet;
    bool fromStartDir = false;
    // "start-directory", "flashable", "test", "devel" or "part-number"; empty when the files
    // the list needs are not all there.
    std::string rule;
    std::vector<ChosenFile> files;        // in staging order
    std::vector<std::string> passedOver;  // "testQ7A.rom is empty", one per file not taken
    std::string missing;                  // what the list needs and did not find, for people
    bool complete() const { return !rule.empty(); }
    const ChosenFile* image() const;  // the file that becomes bios.rom or bios.qvx
};

// The start directory's own files (bios.rom with platform.bin for the five-file list,
// bios.qvx for the four-file list), named relative to the current directory.
BiosChoice StartDirBiosFiles(FileList list);

// The project folder's files for the list: flashabl.rom for the four-file list; platform.bin
// and one image for the five-file list, the test image before the development image before
// the part-number pattern.
BiosChoice ProjectBiosFiles(const CString& projectPath, const CString& partNum, FileList list);

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
