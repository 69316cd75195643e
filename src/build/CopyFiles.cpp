// Staging the BIOS files into the start directory and copying the diskette's file list into
// the root folder of drive A:, with the status line and progress bar following along.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/CrisisDlg.h"
#include "app/messages.h"
#include "build/image_candidates.h"
#include "fat/fat12.h"
#include "fat/layout.h"
#include "framework/afxfile.h"
#include "platform/drive_a_transaction.h"
#include "platform/drive_format.h"
#include "platform/interrupts.h"
#include "platform/staging_area.h"
#include "platform/win_path.h"

namespace {

constexpr std::array<const char*, 4> kZyplet16List = {"minidos.sys", "zyplet16.exe", "vgabios.exe",
                                                      "bios.qvx"};
constexpr std::array<const char*, 5> kZypletList = {"minidos.sys", "zyplet.exe", "platform.bin",
                                                    "vgabios.exe", "bios.rom"};

std::string HostPath(const std::string& windowsName) {
    auto mapped = platform::mapWindowsName(windowsName);
    return mapped ? mapped->hostPath : windowsName;
}

base::Result<platform::StagingArea> OpenStartDir(const char* startDir) {
    auto mapped = platform::mapWindowsName(startDir);
    if (!mapped) return mapped.error();
    return platform::StagingArea::open(mapped->hostPath);
}

}  // namespace

std::vector<build::ListedFile> CCrisisDlg::ListedFiles() const {
    const bool zyplet16 = m_biosChoice.list == build::FileList::Zyplet16;
    const std::span<const char* const> files = zyplet16
                                                   ? std::span<const char* const>(kZyplet16List)
                                                   : std::span<const char* const>(kZypletList);
    std::vector<build::StagedFile> staging;
    if (!m_biosChoice.fromStartDir()) staging = build::StagingPlan(m_strProjectPath, m_biosChoice);
    std::vector<build::ListedFile> listed;
    for (const char* name : files) {
        build::ListedFile file{name, name, false, std::nullopt, {}};
        for (const build::StagedFile& copy : staging) {
            if (std::string(copy.destination) != name) continue;
            file.source = copy.source;
            file.staged = true;
        }
        // Only a video BIOS program that is nowhere at all is passed over.
        if (file.name == "vgabios.exe" && !PathFileExistsA(file.source)) {
            listed.push_back(std::move(file));
            continue;
        }
        const std::string shown = file.staged ? "the project folder's " + file.name
                                              : file.name + " in the start directory";
        file.bytes = build::PresentLength(file.source, shown, file.why);
        listed.push_back(std::move(file));
    }
    return listed;
}

BOOL CCrisisDlg::CheckStartDir() {
    const std::string startDir = HostPath(m_szStartDir);
    auto refuse = [&](const std::string& file, const std::string& detail, base::Failure kind) {
        SetOutcome(build::Outcome::Kind::StartDirRefused, file, detail, kind);
        AfxMessageBox(texts::startDirUnfit(startDir, detail).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    };

    // Every file of the list is a non-empty regular file now, before the diskette is erased:
    // an empty or unreadable one would go onto the diskette and be read back equal to itself.
    const std::vector<build::ListedFile> listed = ListedFiles();
    std::vector<std::string> stagedNames;
    std::uint64_t stagedBytes = 0;
    for (const build::ListedFile& file : listed) {
        if (!file.bytes && !file.why.empty())
            return refuse(file.name, file.why, base::Failure::BadData);
        if (!file.staged || !file.bytes) continue;
        stagedNames.push_back(file.name);
        stagedBytes += *file.bytes;
    }
    if (!stagedNames.empty()) {
        if (base::Status room = platform::checkStagingRoom(startDir, stagedNames, stagedBytes);
            !room)
            return refuse({}, room.message(), room.error().kind());
    }

    auto medium = platform::probeDriveA();
    if (!medium) return TRUE;
    const auto [space, cluster] = fat::fileSpace(medium->geometry);
    std::uint64_t total = 0;
    for (const build::ListedFile& file : listed) {
        if (!file.bytes) continue;
        const std::uint64_t bytes = *file.bytes;
        total += (bytes + cluster - 1) / cluster * cluster;
        if (bytes > space) {
            return refuse(file.name,
                          file.source.str() + " holds " + platform::groupThousands(bytes) +
                              " bytes; the " + medium->description + " diskette in drive A: has " +
                              platform::groupThousands(space) + " for files",
                          base::Failure::NoRoom);
        }
    }
    if (total > space) {
        return refuse({},
                      "the diskette's files take " + platform::groupThousands(total) +
                          " bytes; the " + medium->description + " diskette in drive A: has " +
                          platform::groupThousands(space) + " for files",
                      base::Failure::NoRoom);
    }
    return TRUE;
}

BOOL CCrisisDlg::CheckDisketteRoom() {
    // A diskette left as it was (the format skipped or cancelled) keeps its files. The copies
    // go on in the list's order, each into what is free and what the file of its name frees:
    // one that would find too little room is found here, before the first is written. Without
    // a volume the copy names the fault.
    auto mounted = platform::mountDriveA(platform::DriveAccess::Read);
    if (!mounted) return TRUE;
    const fat::Volume& volume = *mounted->volume;
    const std::uint64_t cluster = fat::fileSpace(volume.geometry()).clusterBytes;
    auto clusters = [&](std::uint64_t bytes) { return (bytes + cluster - 1) / cluster * cluster; };
    std::uint64_t free = volume.freeBytes();
    std::string detail;
    for (const build::ListedFile& file : ListedFiles()) {
        if (!file.bytes) continue;
        std::uint64_t replaced = 0;
        if (const auto old = volume.find(file.name);
            old && (old->attributes & fat::dirent::kAttrDirectory) == 0)
            replaced = clusters(old->size);
        const std::uint64_t needed = clusters(*file.bytes);
        if (needed > free + replaced) {
            detail = file.name + " takes " + platform::groupThousands(needed) +
                     " bytes; the diskette in drive A: has " +
                     platform::groupThousands(free + replaced) +
                     " for it (free, and the file it replaces)";
            break;
        }
        free = free + replaced - needed;
    }
    mounted->release();
    if (detail.empty()) return TRUE;
    SetOutcome(build::Outcome::Kind::CopyFailed, {}, detail, base::Failure::NoRoom);
    AfxMessageBox(texts::disketteFull(detail).c_str(), MB_OK | MB_ICONHAND);
    return FALSE;
}

BOOL CCrisisDlg::PrepareStartDir() {
    auto area = OpenStartDir(m_szStartDir);
    if (!area) {
        SetOutcome(build::Outcome::Kind::StartDirRefused, {}, area.message());
        AfxMessageBox(texts::startDirFailed(area.message()).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }
    // Looked at first: a link is neither followed nor removed, not even by the clean-up.
    const std::vector<std::string> links = area->linksAmong(build::StagedNames());
    if (!links.empty()) {
        SetOutcome(build::Outcome::Kind::StartDirRefused, links.front(), "a symbolic link");
        AfxMessageBox(texts::linkRefused(links).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }
    // No build holds the directory but this one: a journal there was left by one that ended
    // before its clean-up, and its copies would pass for the user's own files.
    auto leftAlone = area->recover(build::StagedNames());
    if (!leftAlone) {
        SetOutcome(build::Outcome::Kind::StartDirRefused, {}, leftAlone.message());
        AfxMessageBox(texts::startDirFailed(leftAlone.message()).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }
    // Until the user has decided, no build takes them for the user's own files.
    if (!leftAlone->empty()) {
        SetOutcome(
            build::Outcome::Kind::StartDirRefused, leftAlone->front().name,
            "left by an interrupted build and changed since:\n" + texts::leftoverLines(*leftAlone));
        AfxMessageBox(texts::leftBehind(*leftAlone).c_str(), MB_OK | MB_ICONHAND);
        return FALSE;
    }
    return TRUE;
}

int CCrisisDlg::CopyFilesToDisk() {
    const build::FileList list = build::KitFileList();
    const bool zyplet16 = list == build::FileList::Zyplet16;
    const std::span<const char* const> files = zyplet16
                                                   ? std::span<const char* const>(kZyplet16List)
                                                   : std::span<const char* const>(kZypletList);

    // Which file each diskette file is copied from, for the read-back: the staged ones from
    // the project folder, the rest from the start directory.
    std::vector<std::pair<std::string, std::string>> stagedFrom;
    std::optional<platform::StagingArea> area;
    bool waiting = false;  // the wait cursor is on
    auto interrupted = [&] {
        // Nothing more is written; the staging area undoes its work as it goes.
        area.reset();
        SetOutcome(build::Outcome::Kind::Interrupted);
        if (waiting) EndWaitCursor();
        ResetStatus();
        return 0;
    };
    auto failed = [&](const std::string& file, const std::string& detail, std::string message,
                      base::Failure kind = base::Failure::Other) {
        area.reset();
        SetOutcome(build::Outcome::Kind::CopyFailed, file, detail, kind);
        ShowOutcome(message.c_str(), MB_OK);
        if (waiting) EndWaitCursor();
        ResetStatus();
        return 0;
    };
    // Chosen again by the same rule as at the check: the format dialog may have taken long
    // enough for a file to be emptied, removed or replaced, and staging takes what is there now.
    const bool fromStartDir = m_biosChoice.fromStartDir();
    m_biosChoice = build::ChooseBiosFiles(
        list, fromStartDir ? build::BiosOrigin::StartDir : build::BiosOrigin::Project,
        m_strProjectPath, m_strPartNum);
    if (!m_biosChoice.complete()) {
        const char* first = zyplet16 ? "bios.qvx" : "platform.bin";
        return failed(first, m_biosChoice.missing, texts::copyFailed(first));
    }
    if (!fromStartDir) {
        const std::vector<build::StagedFile> staging =
            build::StagingPlan(m_strProjectPath, m_biosChoice);
        auto opened = OpenStartDir(m_szStartDir);
        if (!opened) {
            return failed(staging.front().destination, opened.message(),
                          texts::startDirFailed(opened.message()));
        }
        area.emplace(std::move(*opened));
        // Recorded in the journal, all of them, before the first is staged.
        std::vector<std::pair<std::string, std::string>> planned;
        for (const build::StagedFile& copy : staging)
            planned.emplace_back(HostPath(copy.source.str()), copy.destination);
        if (platform::interrupted()) return interrupted();
        if (const base::Status status = area->plan(planned); !status) {
            return failed(staging.front().destination, status.message(),
                          texts::copyFailed(staging.front().destination), status.error().kind());
        }
        for (const build::StagedFile& copy : staging) {
            if (platform::interrupted()) return interrupted();
            const std::string source = HostPath(copy.source.str());
            const base::Status status = area->stage(source, copy.destination);
            if (platform::interrupted()) return interrupted();
            // A short copy would go onto the diskette as if it were the file: stop here,
            // before the first file is copied to the diskette.
            if (!status) {
                return failed(copy.destination, status.message(),
                              texts::copyFailed(copy.destination), status.error().kind());
            }
            stagedFrom.emplace_back(copy.destination, source);
            platform::pausePoint(std::string("staged ") + copy.destination);
        }
    }
    auto sourceOf = [&](const std::string& name) {
        for (const auto& [staged, source] : stagedFrom)
            if (staged == name) return source;
        return HostPath(name);
    };

    std::vector<std::uint32_t> lengths;
    std::uint32_t total = 0;
    for (const char* name : files) {
        lengths.push_back(GetFileLength(name));
        total += lengths.back();
    }

    BeginWaitCursor();
    waiting = true;
    m_progress.SetPos(m_nProgressPos);

    // The copies go onto the diskette as one batch: all their data first, then their entries,
    // so that no crash leaves a file named with contents that are not its own. A failed copy
    // puts the ones before it on the diskette; an interrupted build puts none of them there.
    platform::DriveATransaction copies;
    std::size_t firstInBatch = 0;
    auto stopped = [&] {
        copies.abandon();
        return interrupted();
    };
    std::uint64_t copied = 0;  // bytes of the files before this one, for the progress line
    for (std::size_t i = 0; i < files.size(); ++i) {
        const CString name = files[i];
        SetStatusText(texts::copying(name.str()).c_str());
        AfxBackend().workProgress({"copying", name.str(), copied, total, "bytes"});
        copied += lengths[i];
        // Nothing to share out when no file has a length; the bar then stays where it is.
        if (total != 0) {
            const std::uint32_t step = (lengths[i] * std::uint32_t{kProgressRange}) / total;
            m_nProgressPos = static_cast<int>(static_cast<std::uint32_t>(m_nProgressPos) + step);
        }
        m_progress.SetPos(m_nProgressPos);

        if (platform::interrupted()) return stopped();
        platform::pausePoint("copying " + name.str());
        if (platform::interrupted()) return stopped();
        // A file emptied after the check would pass the read-back, which compares it with its
        // own empty source. Only a video BIOS program that is not there at all is passed over.
        if (lengths[i] == 0 && (!(name == "vgabios.exe") || PathFileExistsA(name))) {
            std::string why;
            build::PresentLength(name, name.str() + " in the start directory", why);
            return failed(name.str(), why, texts::copyFailed(name.str()), base::Failure::BadData);
        }
        if (CopyFileA(name, "a:\\" + name, FALSE)) {
            m_written.files.push_back({name.str(), sourceOf(files[i])});
            continue;
        }
        // Only a video BIOS program that is not there at all is passed over; a diskette that
        // failed a write is not trusted with the rest, whichever file it was.
        const std::string why = platform::lastErrorMessage();
        if (!(name == "vgabios.exe") || PathFileExistsA(name)) {
            return failed(name.str(), why, texts::copyFailed(name.str()),
                          platform::lastErrorKind());
        }
        firstInBatch = i + 1;
    }
    AfxBackend().workProgress({"copying", "", copied, total, "bytes"});
    // A signal before the commit leaves the diskette without any of the batch.
    if (platform::interrupted()) return stopped();
    // The batch reaches the medium here; when it cannot, none of its files is on the diskette.
    if (base::Status done = copies.finish(); !done) {
        const std::string file = files[std::min(firstInBatch, files.size() - 1)];
        return failed(file, done.message(), texts::copyFailed(file), done.error().kind());
    }

    // Whatever the file list, no staged copy outlives the build: the next project's diskette
    // would carry it. The user's own files are back under their names.
    if (area) {
        // Something changed under the build: the read-back judges the diskette first, and
        // the build reports what was left unless that has said more.
        const base::Status finished = area->finish();
        if (!finished) m_stagingLeft = area->leftovers();
        area.reset();
    }

    EndWaitCursor();
    ResetStatus();
    return 1;
}
