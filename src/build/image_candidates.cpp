#include "build/image_candidates.h"

#include <optional>

#include "framework/afxfile.h"
#include "platform/file_pattern.h"
#include "platform/winapi.h"

namespace build {
namespace {

// The file's length when it counts as present; otherwise why it does not, into `why`.
std::optional<std::uint64_t> PresentLength(const CString& name, const std::string& shown,
                                           std::string& why) {
    if (!name.IsEmpty() && PathFileExistsA(name)) {
        CFile file;
        if (!file.Open(name, CFile::modeRead | CFile::typeBinary)) {
            why = shown + " cannot be read: " + file.LastError();
            return std::nullopt;
        }
        const std::uint64_t bytes = file.GetLength();
        file.Close();
        if (bytes != 0) return bytes;
        why = shown + " is empty";
        return std::nullopt;
    }
    why = shown + " is not there";
    return std::nullopt;
}

// The last component of a name, for messages that already say which folder.
std::string Leaf(const CString& name) {
    const std::string text = name.str();
    const std::size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

std::string Joined(const std::vector<std::string>& reasons) {
    std::string text;
    for (const std::string& r : reasons) text += (text.empty() ? "" : "; ") + r;
    return text;
}

}  // namespace

bool IsBiosFileName(const std::string& name) {
    return name == "bios.rom" || name == "bios.qvx" || name == "platform.bin";
}

FileList KitFileList() {
    return PathFileExistsA("ZYPLET16.EXE") ? FileList::Zyplet16 : FileList::Zyplet;
}

const ChosenFile* BiosChoice::image() const {
    for (const ChosenFile& f : files)
        if (std::string(f.destination) != "platform.bin") return &f;
    return nullptr;
}

namespace {

BiosChoice StartDirBiosFiles(FileList list) {
    BiosChoice choice;
    choice.list = list;
    choice.origin = BiosOrigin::StartDir;
    std::vector<const char*> needed = list == FileList::Zyplet16
                                          ? std::vector<const char*>{"bios.qvx"}
                                          : std::vector<const char*>{"bios.rom", "platform.bin"};
    for (const char* name : needed) {
        std::string why;
        if (auto bytes = PresentLength(name, name, why)) {
            choice.files.push_back({name, name, *bytes});
        } else {
            choice.passedOver.push_back(why);
        }
    }
    if (!choice.passedOver.empty()) {
        choice.files.clear();
        choice.missing = "the start directory's " + Joined(choice.passedOver);
        return choice;
    }
    choice.rule = "start-directory";
    return choice;
}

BiosChoice ProjectBiosFiles(const CString& project, const CString& partNum, FileList list) {
    BiosChoice choice;
    choice.list = list;
    choice.origin = BiosOrigin::Project;
    std::vector<std::string> problems;
    if (list == FileList::Zyplet16) {
        const CString flashable = project + "\\flashabl.rom";
        std::string why;
        if (auto bytes = PresentLength(flashable, "flashabl.rom", why)) {
            choice.files.push_back({flashable, "bios.qvx", *bytes});
            choice.rule = "flashable";
        } else {
            choice.missing =
                "the kit's zyplet16.exe takes bios.qvx, made from the project's flashabl.rom, "
                "and " +
                why;
        }
        return choice;
    }

    const CString platformFile = project + "\\platform.bin";
    std::string platformWhy;
    const auto platformBytes = PresentLength(platformFile, "platform.bin", platformWhy);
    if (!platformBytes) problems.push_back(platformWhy);

    // The test image wins over the development image, which wins over the pattern's match.
    struct Candidate {
        CString name;
        std::string shown;
        const char* rule;
    };
    const std::string pn = partNum.str();
    const Candidate candidates[] = {
        {TestImageCandidate(project, partNum), "test" + pn + ".rom", "test"},
        {DevelImageCandidate(project, partNum), "devel" + pn + ".rom", "devel"},
        {FirstImageCandidate(project, partNum), "??" + pn + "???.rom", "part-number"},
    };
    const Candidate* chosen = nullptr;
    std::uint64_t imageBytes = 0;
    std::vector<std::string> imageWhy;
    for (const Candidate& c : candidates) {
        std::string why;
        const std::string shown = c.name.IsEmpty() ? c.shown : Leaf(c.name);
        if (chosen != nullptr) {
            if (!c.name.IsEmpty() && PathFileExistsA(c.name))
                choice.passedOver.push_back(shown + " comes after " + Leaf(chosen->name));
            continue;
        }
        if (auto bytes = PresentLength(c.name, shown, why)) {
            chosen = &c;
            imageBytes = *bytes;
        } else {
            imageWhy.push_back(why);
            if (!c.name.IsEmpty() && PathFileExistsA(c.name)) choice.passedOver.push_back(why);
        }
    }
    if (chosen == nullptr) {
        problems.push_back("no BIOS image for part number \"" + pn + "\" (" + Joined(imageWhy) +
                           ")");
    }
    if (!problems.empty()) {
        choice.missing =
            "the kit's zyplet.exe takes platform.bin and a BIOS image from the "
            "project folder, and " +
            Joined(problems);
        return choice;
    }
    choice.files.push_back({platformFile, "platform.bin", *platformBytes});
    choice.files.push_back({chosen->name, "bios.rom", imageBytes});
    choice.rule = chosen->rule;
    return choice;
}

}  // namespace

BiosChoice ChooseBiosFiles(FileList list, BiosOrigin origin, const CString& projectPath,
                           const CString& partNum) {
    return origin == BiosOrigin::StartDir ? StartDirBiosFiles(list)
                                          : ProjectBiosFiles(projectPath, partNum, list);
}

std::vector<StagedFile> StagingPlan(const CString& projectPath, const BiosChoice& choice) {
    std::vector<StagedFile> staging;
    if (const CString video = projectPath + "\\vgabios.exe"; PathFileExistsA(video))
        staging.push_back({video, "vgabios.exe"});
    for (const ChosenFile& file : choice.files) staging.push_back({file.source, file.destination});
    return staging;
}

CString FirstImageCandidate(const CString& projectPath, const CString& partNum) {
    // The part number is text, not a pattern: a '?' in it stands for a '?'.
    const auto pattern =
        platform::NamePattern().any(2).literal(partNum.str()).any(3).literal(".rom");
    auto found = platform::findFirstMatch((projectPath + "\\").str(), pattern, true);
    return found ? CString(*found) : CString();
}

}  // namespace build
