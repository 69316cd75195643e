#include "build/image_candidates.h"

#include <algorithm>
#include <optional>

#include "build/part_number.h"
#include "framework/afxfile.h"
#include "platform/file_pattern.h"
#include "platform/winapi.h"

namespace build {

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

namespace {

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

const std::vector<std::string>& StagedNames() {
    static const std::vector<std::string> names = {"vgabios.exe", "bios.qvx", "platform.bin",
                                                   "bios.rom"};
    return names;
}

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
        platform::NamePattern pattern;  // every name in the folder this candidate could mean
    };
    const std::string pn = Printable(partNum.str());
    const Candidate candidates[] = {
        {TestImageCandidate(project, partNum), "test" + pn + ".rom", "test",
         platform::NamePattern().literal("test" + partNum.str() + ".rom")},
        {DevelImageCandidate(project, partNum), "devel" + pn + ".rom", "devel",
         platform::NamePattern().literal("devel" + partNum.str() + ".rom")},
        {FirstImageCandidate(project, partNum), "??" + pn + "???.rom", "part-number",
         platform::NamePattern().any(2).literal(partNum.str()).any(3).literal(".rom")},
    };
    const Candidate* chosen = nullptr;
    std::uint64_t imageBytes = 0;
    std::vector<std::string> imageWhy;
    for (const Candidate& c : candidates) {
        std::string why;
        const std::string shown = c.name.IsEmpty() ? c.shown : Printable(Leaf(c.name));
        const bool before = chosen == nullptr;
        if (before) {
            if (auto bytes = PresentLength(c.name, shown, why)) {
                chosen = &c;
                imageBytes = *bytes;
            } else {
                imageWhy.push_back(why);
            }
        }
        // Every other file this candidate could mean is named with why it was not taken: a
        // link to nothing, a folder, an empty file, a name that differs only in case, a
        // further match of the pattern.
        std::string taken = chosen != nullptr ? Leaf(chosen->name) : std::string();
        const std::vector<std::string> matches =
            platform::allMatches((project + "\\").str(), c.pattern);
        // Written in another case, the name is looked up without regard to case.
        if (chosen == &c && matches.size() == 1 &&
            std::find(matches.begin(), matches.end(), taken) == matches.end())
            taken = matches.front();
        for (const std::string& name : matches) {
            if (chosen == &c && name == taken) continue;
            const std::string other = Printable(name);
            const CString path = project + "\\" + name.c_str();
            std::string reason;
            if (!PathFileExistsA(path))
                reason = other + " cannot be reached (a link to nothing?)";
            else if (!PresentLength(path, other, reason))
                ;  // the reason says why
            else if (chosen == &c)
                reason = other + (c.pattern.describe().find('?') == std::string::npos
                                      ? " differs from " + Printable(taken) + " only in case"
                                      : " matches " + c.shown + " too; " + Printable(taken) +
                                            " comes first in byte order");
            else if (chosen != nullptr)
                reason = other + " comes after " + Printable(taken);
            else
                continue;
            if (std::find(choice.passedOver.begin(), choice.passedOver.end(), reason) ==
                choice.passedOver.end())
                choice.passedOver.push_back(reason);
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
