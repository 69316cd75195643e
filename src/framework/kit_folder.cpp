#include "framework/kit_folder.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

namespace kitfolder {
namespace {

namespace fs = std::filesystem;

Access& stored() {
    static Access access;
    return access;
}

// A build stages the BIOS files in the start directory: only writing a file there tells
// whether it may, whatever the folder's modes or access lists say.
bool canWriteInto(const std::string& folder) {
    std::random_device random;
    const fs::path probe =
        fs::path(folder) / (".quenvol-write-check-" + std::to_string(random()) + ".tmp");
    bool written = false;
    {
        std::ofstream file(probe, std::ios::binary | std::ios::trunc);
        written = file && file.put('\0') && file.flush();
    }
    std::error_code error;
    fs::remove(probe, error);
    return written;
}

}  // namespace

void setAccess(Access access) {
    stored() = std::move(access);
}

bool available() {
    const Access& start = stored();
    return start.current && start.missing && start.use;
}

const Access& access() {
    return stored();
}

std::string whatIsMissing(const std::string& folder) {
    if (!available()) return {};
    const auto [minidos, flashUtility] = stored().missing(folder);
    std::vector<std::string> names;
    if (minidos) names.emplace_back("minidos.sys");
    if (flashUtility) names.emplace_back("a flash utility (zyplet.exe or zyplet16.exe)");
    if (names.empty()) return {};
    if (names.size() == 1) return names[0] + " is missing";
    return names[0] + " and " + names[1] + " are missing";
}

std::string noKitNotice(const std::string& folder) {
    const std::string missing = whatIsMissing(folder);
    if (missing.empty()) return {};
    return "The start directory " + folder + " holds no kit: " + missing + ".";
}

std::string noKitAdvice(const std::string& menuName) {
    return "A diskette is built from the kit folder the program starts in. Choose the kit "
           "folder for this run now, or later with \"Kit folder...\" in the " +
           menuName + ".";
}

std::string chooserFolder() {
    if (stored().sample) {
        const std::string sample = stored().sample();
        std::error_code error;
        if (!sample.empty() && fs::is_directory(sample, error)) return sample;
    }
    return available() ? stored().current() : std::string();
}

std::string copyChooserFolder() {
    return stored().own ? stored().own() : std::string();
}

Choice choose(const std::string& folder) {
    if (const std::string missing = whatIsMissing(folder); !missing.empty())
        return {Verdict::NoKit, "The folder " + folder + " holds no kit: " + missing + "."};
    const bool writable = stored().writable ? stored().writable(folder) : canWriteInto(folder);
    if (!writable)
        return {Verdict::ReadOnly,
                "The folder " + folder +
                    " holds a kit, but it cannot be written, and a build copies the BIOS "
                    "files into the kit folder while it runs.\n\nCopy the kit to a folder of "
                    "yours (a folder \"" +
                    std::string(kCopyFolderName) +
                    "\" in the folder you choose next) and use "
                    "the copy?"};
    if (!stored().use(folder))
        return {Verdict::Unusable, "The folder " + folder +
                                       " cannot be the start directory: its path must be "
                                       "shorter than 128 characters, and it must be open to "
                                       "you."};
    return {Verdict::Taken, {}};
}

base::Status copyAndUse(const std::string& kit, const std::string& into, std::string& copied) {
    std::error_code error;
    const fs::path target = fs::path(into) / kCopyFolderName;
    copied = target.string();
    fs::create_directories(target, error);
    if (error)
        return base::Status::failure(
            base::Failure::IoError, "The folder " + copied + " cannot be made: " + error.message());
    for (const fs::directory_entry& entry : fs::directory_iterator(kit, error)) {
        if (!entry.is_regular_file(error)) continue;
        fs::copy_file(entry.path(), target / entry.path().filename(),
                      fs::copy_options::skip_existing, error);
        if (error)
            return base::Status::failure(base::Failure::IoError,
                                         "The file " + entry.path().filename().string() +
                                             " cannot be copied into " + copied + ": " +
                                             error.message());
    }
    if (error)
        return base::Status::failure(base::Failure::IoError,
                                     "The folder " + kit + " cannot be read: " + error.message());
    if (!stored().use(copied))
        return base::Status::failure(base::Failure::IoError,
                                     "The folder " + copied + " cannot be the start directory.");
    return base::Status::success();
}

}  // namespace kitfolder
