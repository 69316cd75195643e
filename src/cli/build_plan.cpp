#include "cli/build_plan.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/CrisisDlg.h"
#include "build/image_candidates.h"
#include "build/json_writer.h"
#include "build/part_number.h"
#include "cli/drive_target.h"
#include "cli/system.h"
#include "fat/fat12.h"
#include "framework/afxwin.h"
#include "platform/desktop_drives.h"
#include "platform/drive_format.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
#include "platform/staging_area.h"
#include "platform/win_path.h"
#include "ui/console/console_backend.h"

namespace cli {
namespace {

constexpr std::uint64_t kDefaultMediumBytes = 1474560;  // a 1.44 MB diskette

// The dialog's checks only look: their message boxes are answered and kept quiet, as the plan
// names their cause itself.
class QuietPolicy : public console::Policy {
  public:
    int answerMessageBox(const std::string&, const std::string&, UINT type) override {
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    void formatDrive(HWND, UINT) override {}
    INT_PTR chooseFile(CFileDialog&) override { return IDCANCEL; }
    void runDialog(CDialog&) override {}
};

std::string hostPath(const std::string& windowsName) {
    auto mapped = platform::mapWindowsName(windowsName);
    return platform::absoluteHostPath(mapped ? mapped->hostPath : windowsName);
}

// Drive A: described from its path alone: nothing is opened, so no diskette is needed.
std::string driveState(const std::string& path, std::uint64_t& mediumBytes) {
    std::uint64_t bytes = 0;
    switch (sys::kindAt(path, bytes)) {
        case sys::PathKind::Nothing:
            return "nothing there";
        case sys::PathKind::BlockDevice:
            return "a block device";
        case sys::PathKind::Other:
            return "neither an image file nor a block device";
        case sys::PathKind::RegularFile:
            break;
    }
    if (fat::geometryForSize(bytes)) mediumBytes = bytes;
    return "an image file of " + platform::groupThousands(bytes) + " bytes";
}

// Why staging takes a file, in words: the rule of the choice for the BIOS image.
std::string stagedWhy(const std::string& name, const build::BiosChoice& bios,
                      const std::string& pn) {
    if (name == "vgabios.exe") return "the project folder's video BIOS program";
    if (name == "platform.bin") return "the project folder's platform file";
    if (name == "bios.qvx") return "the project's flashable image, as the kit holds zyplet16.exe";
    if (bios.rule == "test") return "the test image test" + pn + ".rom, which is taken first";
    if (bios.rule == "devel")
        return "the development image devel" + pn + ".rom, as there is no usable test image";
    return "the first image named ??" + pn +
           "???.rom, as there is no usable test or development image";
}

// The start directory's boot sector, checked as the build checks it before erasing.
void checkBootImage(BuildPlan& plan, const fat::Geometry& geometry) {
    std::vector<std::uint8_t> image;
    std::string why;
    if (!CCrisisDlg::ReadBootImage(image, why)) {
        plan.stops.push_back(why);
        return;
    }
    if (base::Status fits = fat::checkBootImage(image, geometry); !fits)
        plan.stops.push_back("crisboot.bin does not fit the diskette: " + fits.message());
}

// The diskette's file list as the build takes it, with where each file comes from and why.
void planFiles(BuildPlan& plan, const CCrisisDlg& dialog, bool filesInStartDir) {
    const build::BiosChoice& bios = dialog.m_biosChoice;
    for (const auto& passed : bios.passedOver) plan.notes.push_back("passed over: " + passed);
    for (const build::ListedFile& file : dialog.ListedFiles()) {
        std::string why;
        if (file.staged)
            why = stagedWhy(file.name, bios, build::Printable(dialog.m_strPartNum.str()));
        else
            why = filesInStartDir ? "the start directory's own copy"
                                  : "from the start directory (the kit)";
        plan.files.push_back({file.name, hostPath(file.source.str()), file.bytes, why});
        // Only the video BIOS program may be missing: the build passes it over.
        if (!file.bytes && file.why.empty())
            plan.notes.push_back("vgabios.exe is nowhere to be found and would be passed over");
    }
}

// Drive A: as the build's first look finds it: opened for reading only, never held or written.
void planDrive(BuildPlan& plan, const Options& options) {
    const DriveTarget target = prepareDrive(options.drive, false);
    plan.driveA = target.path;
    if (target.state == DriveTarget::State::Unusable) {
        plan.stops.push_back("drive A: " + target.message);
        return;
    }
    if (target.state == DriveTarget::State::Empty) {
        plan.notes.push_back("drive A: holds no diskette now, or this user may not open it" +
                             (target.message.empty() ? std::string() : ": " + target.message));
        return;
    }
    if (const auto mounted = platform::mountedDriveA()) {
        const std::string mounts = platform::describeMounts(mounted->mounts);
        if (options.unmount)
            plan.notes.push_back("drive A: is mounted (" + mounts + ") and would be unmounted");
        else
            plan.stops.push_back("drive A: is mounted (" + mounts +
                                 "); --unmount lets the build unmount it");
    }
    if (target.device)
        plan.notes.push_back(
            "drive A: is a block device: whether another program holds it is known only when "
            "the build opens it");
}

// What the build's preparation of the start directory would refuse, found by looking only:
// a link where files are staged, and the record of another build that is still running or
// ended before its clean-up (the build then waits for it, or first undoes what it can).
void planStartDir(BuildPlan& plan) {
    auto area = platform::StagingArea::open(plan.startDir);
    if (!area) {
        plan.stops.push_back(area.message());
        return;
    }
    const std::vector<std::string> links = area->linksAmong(build::StagedNames());
    for (const std::string& link : links)
        plan.stops.push_back(link + " in the start directory is a symbolic link");
    std::string reason;
    if (!sys::nothingAt(plan.startDir + "/" + platform::kStagingJournal, reason)) {
        plan.stops.push_back(
            std::string("the start directory holds ") + platform::kStagingJournal +
            ", the record of another build: while that build runs, this one is refused as in "
            "use; if it ended early, the build first removes its copies, or refuses while they "
            "have changed. Until then the plan cannot tell its copies from the start "
            "directory's own files");
    }
}

}  // namespace

BuildPlan planBuild(const Options& options) {
    BuildPlan plan;
    plan.kind = kindName(options.kind);
    std::error_code ec;
    plan.startDir = std::filesystem::current_path(ec).string();

    // The screen's picture is never written over a file: the run refuses before drive A:.
    std::string reason;
    if (options.bootScreen && !sys::nothingAt(*options.bootScreen, reason))
        plan.stops.push_back("--boot-screen " + *options.bootScreen +
                             (reason.empty() ? ": something is already there" : ": " + reason));
    planDrive(plan, options);
    std::uint64_t mediumBytes = kDefaultMediumBytes;
    plan.driveState = driveState(plan.driveA, mediumBytes);
    const fat::Geometry geometry = *fat::geometryForSize(mediumBytes);
    const auto [capacity, cluster] = fat::fileSpace(geometry);
    plan.capacity = capacity;
    if (options.kind == DiskKind::FormatOnly) {
        plan.notes.push_back("everything on drive A: would be erased");
        return plan;
    }

    QuietPolicy policy;
    console::ConsoleBackend backend(policy);
    ScopedBackend install(&backend);
    CCrisisDlg dialog;
    // The start directory as the dialog takes it, in its field of 127 characters.
    const DWORD length = GetCurrentDirectoryA(sizeof dialog.m_szStartDir, dialog.m_szStartDir);
    if (length == 0 || length >= sizeof dialog.m_szStartDir) {
        plan.stops.push_back("the start directory " + plan.startDir +
                             " cannot be used: it must be at most 127 characters long");
        return plan;
    }
    planStartDir(plan);
    if (options.kind == DiskKind::Minidos) checkBootImage(plan, geometry);

    // The project check's own shortcut: the kit's list of BIOS files in the start directory.
    dialog.m_biosChoice = build::ChooseBiosFiles(build::KitFileList(), build::BiosOrigin::StartDir);
    const bool filesInStartDir = dialog.m_biosChoice.complete();
    bool projectPassed = filesInStartDir;
    if (!filesInStartDir) {
        std::string path = AfxCommandLineOf(options.projectWords);
        if (path.empty()) {
            dialog.LoadHistory();
            path = dialog.m_strHistory[0].str();
        }
        plan.projectPath = path;
        dialog.m_strProjectPath = path;
        if (!dialog.CheckProjectFiles()) {
            plan.stops.push_back(dialog.m_outcome.detail);
        } else {
            projectPassed = true;
            plan.partNumber = build::Printable(dialog.m_strPartNum.str());
        }
    }
    if (projectPassed) {
        planFiles(plan, dialog, filesInStartDir);
        // The build's own check before the format: every file of the list, the staging room
        // and the room on the diskette in drive A:.
        if (!dialog.CheckStartDir()) plan.stops.push_back(dialog.m_outcome.detail);
        plan.payload = dialog.PayloadReports();
        if (build::worstLevel(plan.payload) != build::PayloadLevel::Pass)
            plan.notes.push_back(
                "the payload checks doubt a file: the build would ask before erasing "
                "(--accept-payload-warnings answers Yes)");
    }

    for (const PlannedFile& file : plan.files) {
        if (file.bytes) plan.needed += (*file.bytes + cluster - 1) / cluster * cluster;
    }
    plan.fits = plan.needed <= plan.capacity;
    if (!plan.fits) {
        plan.stops.push_back("the files take " + platform::groupThousands(plan.needed) +
                             " bytes; the diskette holds " +
                             platform::groupThousands(plan.capacity));
    }
    return plan;
}

std::string planText(const BuildPlan& plan) {
    std::string text = "drive A:  " + plan.driveA + " (" + plan.driveState + ")\n";
    text += "kind      " + plan.kind + "\n";
    text += "start     " + plan.startDir + "\n";
    if (!plan.projectPath.empty()) {
        text += "project   " + plan.projectPath +
                (plan.partNumber.empty() ? "" : " (part number " + plan.partNumber + ")") + "\n";
    }
    for (const PlannedFile& f : plan.files) {
        text += "file      " + f.name + " <- " + f.source + ", " +
                (f.bytes ? platform::groupThousands(*f.bytes) + " bytes" : "missing") + ": " +
                f.why + "\n";
    }
    for (const build::PayloadReport& report : plan.payload)
        for (const build::PayloadFinding& finding : report.findings)
            text += "check     " + report.file + ": " + build::findingLine(finding) + "\n";
    if (plan.kind != "format") {
        text += std::string("fits      ") + (plan.fits ? "yes" : "no") + ": " +
                platform::groupThousands(plan.needed) + " of " +
                platform::groupThousands(plan.capacity) + " bytes\n";
    }
    for (const auto& note : plan.notes) text += "note      " + note + "\n";
    for (const auto& stop : plan.stops) text += "stop      " + stop + "\n";
    if (plan.stops.empty()) text += "nothing would stop the build\n";
    return text;
}

std::string planJson(const BuildPlan& plan) {
    build::JsonWriter json;
    json.beginObject().key("driveA").value(plan.driveA).key("driveState").value(plan.driveState);
    json.key("kind").value(plan.kind).key("startDirectory").value(plan.startDir);
    json.key("projectPath").value(plan.projectPath).key("partNumber").value(plan.partNumber);
    json.key("files").beginArray();
    for (const PlannedFile& f : plan.files) {
        json.beginObject().key("name").value(f.name).key("source").value(f.source);
        json.key("bytes");
        if (f.bytes)
            json.value(*f.bytes);
        else
            json.null();
        json.key("why").value(f.why).endObject();
    }
    json.endArray().key("bytesNeeded").value(plan.needed).key("capacity").value(plan.capacity);
    json.key("fits").value(plan.fits).key("payloadChecks").beginArray();
    for (const build::PayloadReport& report : plan.payload) {
        for (const build::PayloadFinding& f : report.findings) {
            json.beginObject().key("file").value(report.file).key("name").value(f.name);
            json.key("level").value(build::payloadLevelName(f.level));
            json.key("offset").value(f.offset).key("text").value(f.text).endObject();
        }
    }
    json.endArray().key("notes").beginArray();
    for (const auto& note : plan.notes) json.value(note);
    json.endArray().key("stops").beginArray();
    for (const auto& stop : plan.stops) json.value(stop);
    json.endArray().endObject();
    return json.text();
}

}  // namespace cli
