// The record every build leaves: the facts of one run as data, written as one JSON object by
// quenvol-cli --json and as one line of the build log by either program. Field names and the
// values of the enumerated fields are stable; a change of meaning raises kRecordSchema.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "build/payload_check.h"

namespace build {

inline constexpr int kRecordSchema = 1;
inline constexpr char kProgramVersion[] = "1.0";

struct RecordFile {
    std::string name;                    // on the diskette, as the file list spells it
    std::string source;                  // host path it was copied from
    std::optional<std::uint64_t> bytes;  // as read back from the diskette
    std::optional<std::string> sha256;   // of the bytes read back
};

struct RecordBackup {
    std::string path;
    std::optional<std::string> sha256;
    std::vector<std::uint32_t> unreadableSectors;  // filled with zeros in the copy
};

// A BIOS image's name, size and CRC-32: as the booted sample printed it, or of the host file.
struct RecordBiosRead {
    std::string name;
    std::uint64_t bytes = 0;
    std::uint32_t crc32 = 0;
};

// quenvol-cli --boot-check: the diskette started in an emulated PC.
struct RecordBootCheck {
    bool ran = false;
    std::optional<bool> bootable;  // none: the firmware's screen said neither
    std::optional<bool> started;   // the diskette's own system showed itself; none: not run
    std::string screen;            // the text screen at the end
    std::uint64_t seconds = 0;     // how long the machine ran, in whole seconds
    std::uint64_t limitSeconds = 0;
    bool endedByGuest = false;  // the guest ended the run before the time was up
    std::optional<std::string> screenPng;
    std::optional<std::string> message;  // why it did not run, or what went wrong with it
    // The sample kit's check: what the booted machine printed against the chosen image.
    std::optional<RecordBiosRead> biosPrinted;
    std::optional<RecordBiosRead> biosExpected;
    std::optional<bool> biosIntact;  // none: nothing to compare
    std::optional<std::string> biosVerdict;
};

struct Record {
    std::string program = "quenvol";
    std::string kind;  // "minidos", "fulldos", "format"
    // Drive A:
    std::string drivePath;
    bool driveIsDevice = false;
    std::string driveVendor, driveModel;
    std::optional<std::uint64_t> driveBytes;
    // The project.
    std::optional<std::string> projectPath;      // as given
    std::optional<std::string> projectResolved;  // absolute host path, links resolved
    std::optional<std::string> partNumber;
    std::optional<std::string> imageSource;
    std::optional<std::string> imageRule;  // see imageRule names in README
    // The files the choice of the image passed over, each with why.
    std::vector<std::string> imagePassedOver;
    std::vector<RecordFile> files;
    // What the payload checks found in the files, and what became of the question they asked:
    // "answered-yes", "answered-no" or "accepted-by-option"; none when nothing was asked.
    std::vector<PayloadReport> payloadChecks;
    std::optional<std::string> payloadQuestion;
    std::optional<std::string> sector0Sha256;
    std::optional<std::string> diskSha256;
    std::optional<bool> readBackPassed;  // none: no read-back ran
    // A diskette written from a finished image (several drives at once): the image's SHA-256,
    // which the build that made it logged as its disk_sha256. Written only when set.
    std::optional<std::string> copyOf;
    std::string outcome;  // "built", "formatted", "refused", "declined", "failed"
    std::optional<std::string> failureKind;
    std::optional<std::string> message;
    std::optional<RecordBackup> backup;
    std::optional<RecordBootCheck> bootCheck;
    std::string started, ended;  // RFC 3339, UTC
    // Not written: the program reads a device whole anyway (a backup), so its digest is cheap.
    bool digestWholeDevice = false;
    // Not written: --accept-payload-warnings answers the payload checks' question.
    bool acceptPayloadWarnings = false;
};

// The failure kinds of a record, by the kind of failure underneath; `unnamed` for the kinds the
// record has no word of its own for (no room, I/O error, bad data, other).
const char* failureKindName(std::optional<base::Failure> failure, const char* unnamed = "other");

// "2026-12-07T20:41:19Z".
std::string utcNow();

// The record as one JSON object on one line, without a line break.
std::string recordJson(const Record& record);

// $XDG_STATE_HOME/quenvol/builds.jsonl, else ~/.local/state/quenvol/builds.jsonl; empty when
// neither is known.
std::string buildLogPath();

// Appends `line` and a line break to the build log in one write of a file opened for
// appending, so that lines of builds running at once never interleave. Creates the folders.
base::Status appendBuildLog(const std::string& line);

// SHA-256 of sector 0 and, with `whole` (or for an image file, always), of every sector of
// drive A:, read past every cache.
struct DriveDigest {
    bool opened = false;
    bool device = false;  // a block device, not an image file
    std::uint64_t bytes = 0;
    std::optional<std::string> sector0;
    std::optional<std::string> whole;
};
DriveDigest digestDriveA(bool whole);

// Drive A:'s path, kind, size, vendor and model, and its digests, into `record`. Where drive
// A: cannot be opened any more, its kind, size and names stay as noteDriveA found them.
void describeDriveA(Record& record);
// Drive A:'s path, kind, size, vendor and model (no digest), as the build finds it.
void noteDriveA(Record& record);

}  // namespace build
