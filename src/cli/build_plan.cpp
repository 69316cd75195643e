#include "cli/build_plan.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/CrisisDlg.h"
#include "build/image_candidates.h"
#include "build/json_writer.h"
#include "cli/system.h"
#include "fat/fat12.h"
#include "framework/afxwin.h"
#include "platform/drive_format.h"
#include "platform/floppy_drives.h"
#include "platform/host_system.h"
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
    std::string path = mapped ? mapped->hostPath : windowsName;
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

std::optional<std::uint64_t> regularFileBytes(const std::string& path) {
    std::uint64_t bytes = 0;
    if (sys::kindAt(path, bytes) != sys::PathKind::RegularFile) return std::nullopt;
    return bytes;
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

void addFile(BuildPlan& plan, std::string name, std::string source, std::string why) {
    const auto bytes = regularFileBytes(source);
    plan.files.push_back({std::move(name), std::move(source), bytes, std::move(why)});
}

// The start directory's boot sector, checked as the build checks it before erasing.
void checkBootImage(BuildPlan& plan, const fat::Geometry& geometry) {
    std::ifstream file(plan.startDir + "/crisboot.bin", std::ios::binary);
    if (!file) {
        plan.stops.push_back("crisboot.bin is not in the start directory");
        return;
    }
    std::vector<std::uint8_t> image(fat::kSectorSize, 0);
    file.read(reinterpret_cast<char*>(image.data()),
              static_cast<std::streamsize>(fat::kSectorSize));
    if (static_cast<std::uint64_t>(file.gcount()) < fat::kSectorSize) {
        plan.stops.push_back("crisboot.bin holds " + std::to_string(file.gcount()) +
                             " bytes; a boot sector is " + std::to_string(fat::kSectorSize));
        return;
    }
    if (base::Status fits = fat::checkBootImage(image, geometry); !fits)
        plan.stops.push_back("crisboot.bin does not fit the diskette: " + fits.message());
}

// What staging would copy into the start directory from the project folder, and the list of
// files that then goes onto the diskette.
void planFiles(BuildPlan& plan, CCrisisDlg& dialog, bool zyplet16, bool filesInStartDir) {
    std::vector<std::pair<std::string, PlannedFile>> staged;  // by name on the diskette
    auto stage = [&](const std::string& name, const std::string& source, std::string why) {
        staged.push_back({name, {name, source, regularFileBytes(source), std::move(why)}});
    };
    if (!filesInStartDir) {
        // The choice the project check made, as staging takes it.
        const build::BiosChoice& bios = dialog.m_biosChoice;
        for (const build::StagedFile& file : build::StagingPlan(dialog.m_strProjectPath, bios)) {
            stage(file.destination, hostPath(file.source.str()),
                  stagedWhy(file.destination, bios, dialog.m_strPartNum.str()));
        }
        for (const auto& passed : bios.passedOver) plan.notes.push_back("passed over: " + passed);
    }
    const std::vector<std::string> names =
        zyplet16
            ? std::vector<std::string>{"minidos.sys", "zyplet16.exe", "vgabios.exe", "bios.qvx"}
            : std::vector<std::string>{"minidos.sys", "zyplet.exe", "platform.bin", "vgabios.exe",
                                       "bios.rom"};
    for (const std::string& name : names) {
        auto from = std::find_if(staged.begin(), staged.end(),
                                 [&](const auto& s) { return s.first == name; });
        if (from != staged.end()) {
            plan.files.push_back(from->second);
            continue;
        }
        addFile(plan, name, hostPath(name),
                filesInStartDir ? "the start directory's own copy"
                                : "from the start directory (the kit)");
    }
    for (const PlannedFile& file : plan.files) {
        if (file.bytes) {
            if (*file.bytes == 0)
                plan.notes.push_back(file.name + " would be empty: " + file.source);
            continue;
        }
        // Only the video BIOS program may be missing: the build passes it over.
        if (file.name == "vgabios.exe")
            plan.notes.push_back("vgabios.exe is nowhere to be found and would be passed over");
        else
            plan.stops.push_back(file.name + " cannot be copied: " + file.source + " is not there");
    }
}

}  // namespace

BuildPlan planBuild(const Options& options) {
    BuildPlan plan;
    plan.kind = kindName(options.kind);
    std::error_code ec;
    plan.startDir = std::filesystem::current_path(ec).string();

    platform::setDriveASelection({.named = options.drive.value_or(""), .chosenThisRun = {}});
    const std::string drive = options.drive ? *options.drive : platform::currentDriveA().path;
    plan.driveA = platform::absoluteHostPath(drive);
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
    std::snprintf(dialog.m_szStartDir, sizeof dialog.m_szStartDir, "%s", plan.startDir.c_str());

    const bool kit = PathFileExistsA("minidos.sys") != FALSE;
    const build::FileList list = build::KitFileList();
    const bool zyplet16 = list == build::FileList::Zyplet16;
    if (!kit)
        plan.stops.push_back("the start directory " + plan.startDir + " holds no minidos.sys");
    if (!zyplet16 && !PathFileExistsA("zyplet.exe"))
        plan.stops.push_back(
            "the start directory holds no flash utility (zyplet.exe or "
            "zyplet16.exe)");
    if (options.kind == DiskKind::Minidos) checkBootImage(plan, geometry);

    // The project check's own shortcut: the kit's list of BIOS files in the start directory.
    dialog.m_biosChoice = build::ChooseBiosFiles(build::KitFileList(), build::BiosOrigin::StartDir);
    const bool filesInStartDir = dialog.m_biosChoice.complete();
    if (!filesInStartDir) {
        std::string path;
        for (const auto& word : options.projectWords) path += (path.empty() ? "" : " ") + word;
        if (path.empty()) {
            dialog.LoadHistory();
            path = dialog.m_strHistory[0].str();
        }
        plan.projectPath = path;
        dialog.m_strProjectPath = path;
        if (path.empty()) {
            plan.stops.push_back("no project path was given and none was used before");
        } else if (!dialog.CheckProjectFiles()) {
            plan.stops.push_back(dialog.m_outcome.detail);
        } else {
            plan.partNumber = dialog.m_strPartNum.str();
        }
    }
    if (filesInStartDir || !plan.partNumber.empty())
        planFiles(plan, dialog, zyplet16, filesInStartDir);

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
    json.key("fits").value(plan.fits).key("notes").beginArray();
    for (const auto& note : plan.notes) json.value(note);
    json.endArray().key("stops").beginArray();
    for (const auto& stop : plan.stops) json.value(stop);
    json.endArray().endObject();
    return json.text();
}

}  // namespace cli
