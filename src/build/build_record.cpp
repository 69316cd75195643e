#include "build/build_record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "build/json_writer.h"
#include "platform/drive_a.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
#include "platform/sha256.h"

namespace build {

const char* failureKindName(std::optional<base::Failure> failure, const char* unnamed) {
    if (!failure) return unnamed;
    switch (*failure) {
        case base::Failure::NoMedium:
            return "no-diskette";
        case base::Failure::NotDiskette:
            return "not-a-diskette";
        case base::Failure::WriteProtected:
            return "write-protected";
        case base::Failure::PermissionDenied:
            return "no-permission";
        case base::Failure::Busy:
            return "in-use";
        case base::Failure::NoRoom:
        case base::Failure::IoError:
        case base::Failure::BadData:
        case base::Failure::Other:
            break;
    }
    return unnamed;
}

std::string utcNow() {
    return platform::utcTimestamp();
}

namespace {

void writeBiosRead(JsonWriter& w, const std::optional<RecordBiosRead>& read) {
    if (!read) {
        w.null();
        return;
    }
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(read->crc32));
    w.beginObject();
    w.key("name").value(read->name);
    w.key("bytes").value(read->bytes);
    w.key("crc32").value(crc);
    w.endObject();
}

void writeBootCheck(JsonWriter& w, const std::optional<RecordBootCheck>& check) {
    w.key("boot_check");
    if (!check) {
        w.null();
        return;
    }
    w.beginObject();
    w.key("ran").value(check->ran);
    w.key("bootable").optional(check->bootable);
    w.key("started").optional(check->started);
    w.key("seconds").value(check->seconds);
    w.key("limit_seconds").value(check->limitSeconds);
    w.key("ended_by_guest").value(check->endedByGuest);
    w.key("screen").value(check->screen);
    w.key("screen_png").optional(check->screenPng);
    w.key("message").optional(check->message);
    w.key("bios_image").beginObject();
    w.key("printed");
    writeBiosRead(w, check->biosPrinted);
    w.key("expected");
    writeBiosRead(w, check->biosExpected);
    w.key("intact").optional(check->biosIntact);
    w.key("verdict").optional(check->biosVerdict);
    w.endObject();
    w.endObject();
}

}  // namespace

std::string recordJson(const Record& r) {
    JsonWriter w;
    w.beginObject();
    w.key("schema").value(kRecordSchema);
    w.key("program").value(r.program);
    w.key("version").value(kProgramVersion);
    w.key("kind").value(r.kind);
    w.key("drive").beginObject();
    w.key("path").value(r.drivePath);
    w.key("device").value(r.driveIsDevice);
    w.key("vendor").optional(r.driveIsDevice ? std::optional(r.driveVendor) : std::nullopt);
    w.key("model").optional(r.driveIsDevice ? std::optional(r.driveModel) : std::nullopt);
    w.key("bytes");
    if (r.driveBytes)
        w.value(*r.driveBytes);
    else
        w.null();
    w.endObject();
    w.key("project").beginObject();
    w.key("path").optional(r.projectPath);
    w.key("resolved").optional(r.projectResolved);
    w.key("part_number").optional(r.partNumber);
    w.endObject();
    w.key("image").beginObject();
    w.key("source").optional(r.imageSource);
    w.key("rule").optional(r.imageRule);
    w.key("passed_over").beginArray();
    for (const std::string& passed : r.imagePassedOver) w.value(passed);
    w.endArray();
    w.endObject();
    w.key("files").beginArray();
    for (const RecordFile& f : r.files) {
        w.beginObject();
        w.key("name").value(f.name);
        w.key("source").value(f.source);
        w.key("bytes");
        if (f.bytes)
            w.value(*f.bytes);
        else
            w.null();
        w.key("sha256").optional(f.sha256);
        w.endObject();
    }
    w.endArray();
    w.key("payload_checks").beginArray();
    for (const PayloadReport& report : r.payloadChecks) {
        for (const PayloadFinding& f : report.findings) {
            w.beginObject();
            w.key("file").value(report.file);
            w.key("name").value(f.name);
            w.key("level").value(payloadLevelName(f.level));
            w.key("offset").value(f.offset);
            w.key("text").value(f.text);
            w.endObject();
        }
    }
    w.endArray();
    w.key("payload_question").optional(r.payloadQuestion);
    w.key("sector0_sha256").optional(r.sector0Sha256);
    w.key("disk_sha256").optional(r.diskSha256);
    if (r.copyOf) w.key("copy_of").value(*r.copyOf);
    w.key("read_back");
    if (r.readBackPassed)
        w.value(*r.readBackPassed ? "passed" : "failed");
    else
        w.value("not-run");
    w.key("outcome").value(r.outcome);
    w.key("failure");
    if (r.failureKind) {
        w.beginObject();
        w.key("kind").value(*r.failureKind);
        w.key("message").optional(r.message);
        w.endObject();
    } else {
        w.null();
    }
    w.key("backup");
    if (r.backup) {
        w.beginObject();
        w.key("path").value(r.backup->path);
        w.key("sha256").optional(r.backup->sha256);
        w.key("unreadable_sectors").beginArray();
        for (std::uint32_t s : r.backup->unreadableSectors) w.value(std::uint64_t{s});
        w.endArray();
        w.endObject();
    } else {
        w.null();
    }
    writeBootCheck(w, r.bootCheck);
    w.key("started").value(r.started);
    w.key("ended").value(r.ended);
    w.endObject();
    return w.text();
}

// The build log within the state folder.
constexpr char kLogInStateFolder[] = "/quenvol/builds.jsonl";

std::string buildLogPath() {
    const auto folder = platform::stateFolder();
    return folder ? *folder + kLogInStateFolder : std::string();
}

base::Status appendBuildLog(const std::string& line) {
    const auto state = platform::stateFolder();
    if (!state) return state.error();
    const std::string path = *state + kLogInStateFolder;
    std::string folder;
    if (auto made = platform::makeFolders(path.substr(0, path.rfind('/')), folder); !made) {
        return base::Status::failure(made.error().kind(),
                                     "cannot create the folder " + folder + ": " + made.message());
    }
    // One write of the line and its break, so that lines of builds at once never interleave.
    return platform::appendToFile(path, line + "\n");
}

namespace {

void describeDriveModel(Record& r) {
    if (!r.driveIsDevice) return;
    if (auto found = platform::floppyDriveAt(platform::findFloppyDrives(), r.drivePath)) {
        r.driveVendor = found->vendor;
        r.driveModel = found->model;
    }
}

}  // namespace

DriveDigest digestDriveA(bool whole) {
    DriveDigest digest;
    platform::DriveOpenOptions options;
    options.access = platform::DriveAccess::Read;
    auto drive = platform::DriveA::open(options);
    // A device's cache can hold what its medium does not, so it is read past it; an image's
    // page cache is the file as every reader sees it, and the read-back has already compared
    // the files past it, so the record's digest of an image reads through it.
    if (drive && (*drive)->isBlockDevice()) {
        drive.value().reset();
        options.bypassCache = true;
        drive = platform::DriveA::open(options);
    }
    if (!drive) return digest;
    digest.opened = true;
    digest.device = (*drive)->isBlockDevice();
    digest.bytes = (*drive)->sizeBytes();
    if (digest.device == false) whole = true;
    fat::SectorDevice& device = **drive;
    std::vector<std::uint8_t> sector(fat::kSectorSize);
    if (device.sectorCount() > 0 && device.read(0, 1, sector.data())) {
        digest.sector0 = platform::sha256Hex(sector);
    }
    if (!whole) return digest;
    constexpr std::uint32_t kChunk = 36;  // two tracks of a 1.44 MB diskette
    std::vector<std::uint8_t> chunk(kChunk * fat::kSectorSize);
    platform::Sha256 all;
    for (std::uint32_t first = 0; first < device.sectorCount(); first += kChunk) {
        const std::uint32_t count = std::min(kChunk, device.sectorCount() - first);
        if (!device.read(first, count, chunk.data())) return digest;
        all.add(std::span(chunk.data(), std::size_t{count} * fat::kSectorSize));
    }
    digest.whole = all.hex();
    return digest;
}

void noteDriveA(Record& r) {
    r.drivePath = platform::driveAPath();
    platform::DriveOpenOptions options;
    options.access = platform::DriveAccess::Read;
    if (auto drive = platform::DriveA::open(options)) {
        r.driveIsDevice = (*drive)->isBlockDevice();
        r.driveBytes = (*drive)->sizeBytes();
    }
    describeDriveModel(r);
}

void describeDriveA(Record& r) {
    r.drivePath = platform::driveAPath();
    const DriveDigest digest = digestDriveA(r.digestWholeDevice);
    if (digest.opened) {
        r.driveIsDevice = digest.device;
        r.driveBytes = digest.bytes;
        r.sector0Sha256 = digest.sector0;
        r.diskSha256 = digest.whole;
    } else {
        // A drive taken out or pulled before the end: what it was when the build found it
        // stands; what is on it now is unknown.
        r.sector0Sha256.reset();
        r.diskSha256.reset();
    }
    describeDriveModel(r);
}

}  // namespace build
