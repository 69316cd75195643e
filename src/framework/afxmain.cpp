// The framework's start-up: the command-line text, the help file's path, InitInstance.
#include <filesystem>
#include <string>

#include "framework/afxwin.h"
#include "platform/host_system.h"

namespace {

// The text from `i` on, without the characters 0x01 to 0x20 that stand before it.
std::string afterBlanks(const std::string& text, std::size_t i) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x01 &&
           static_cast<unsigned char>(text[i]) <= 0x20)
        ++i;
    return text.substr(i);
}

}  // namespace

std::string AfxCommandLineOf(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += " " + argument;
    return afterBlanks(text, 0);
}

std::string AfxCommandLineTail(const std::string& raw) {
    std::size_t i = 0;
    if (!raw.empty() && raw[0] == '"') {
        const auto close = raw.find('"', 1);
        i = close == std::string::npos ? raw.size() : close + 1;
    } else {
        while (i < raw.size() && static_cast<unsigned char>(raw[i]) > 0x20) ++i;
    }
    return afterBlanks(raw, i);
}

// What ends a folder's name in the program's path: on Windows the backslash as well.
#ifdef _WIN32
constexpr const char* kFolderEnds = "/\\";
#else
constexpr const char* kFolderEnds = "/";
#endif

std::string AfxHelpPathFor(const std::string& programPath) {
    const auto slash = programPath.find_last_of(kFolderEnds);
    const auto dot = programPath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? programPath.substr(0, dot) : programPath) + ".HLP";
}

std::string AfxFindHelpFile(const std::string& programPath, const std::string& dataFolder) {
    const std::string beside = AfxHelpPathFor(programPath);
    if (platform::isRegularFile(beside) || dataFolder.empty()) return beside;
    const std::string installed = dataFolder + "/quenvol.HLP";
    return platform::isRegularFile(installed) ? installed : beside;
}

namespace {

std::string programFilePath(const char* argv0) {
    std::string path = platform::programFilePath();
    if (path.empty() && argv0) path = argv0;
    return path;
}

std::string baseNameWithoutExtension(const std::string& path) {
    const auto slash = path.find_last_of(kFolderEnds);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

// An installed folder, given by the build relative to the programs' folder, so that an
// installation moved to another prefix (or staged for a package) still finds it.
std::string installedFolder(const std::string& programPath, const std::string& relative) {
    if (relative.empty() || relative.starts_with('/')) return relative;
    const auto slash = programPath.find_last_of('/');
    if (slash == std::string::npos) return relative;
    return std::filesystem::path(programPath.substr(0, slash + 1) + relative)
        .lexically_normal()
        .string();
}

#ifdef QUENVOL_DATA_FROM_BIN
constexpr char kDataFromBin[] = QUENVOL_DATA_FROM_BIN;
#else
constexpr char kDataFromBin[] = "";
#endif
#ifdef QUENVOL_DOC_FROM_BIN
constexpr char kDocFromBin[] = QUENVOL_DOC_FROM_BIN;
#else
constexpr char kDocFromBin[] = "";
#endif

std::string installedDataFolder(const std::string& programPath) {
    return installedFolder(programPath, kDataFromBin);
}

}  // namespace

std::string AfxInstalledDataFolder() {
    return installedFolder(platform::programFilePath(), kDataFromBin);
}

std::string AfxInstalledDocFolder() {
    return installedFolder(platform::programFilePath(), kDocFromBin);
}

int AfxWinMain(int argc, char** argv, const char* rawCommandLine) {
    CWinApp* app = AfxGetApp();
    if (!app) return 1;
    // The program's name is already apart in argv[0]: what follows it is the arguments, each
    // after one blank. Joining the name in and cutting it off again by the tail rule would go
    // wrong for a name that holds a blank and a quote, which no quoting tells apart.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i] ? argv[i] : "");
    const std::string program = programFilePath(argc > 0 ? argv[0] : nullptr);
    app->SetStartupInfo(
        baseNameWithoutExtension(program),
        rawCommandLine ? AfxCommandLineTail(rawCommandLine) : AfxCommandLineOf(arguments),
        AfxFindHelpFile(program, installedDataFolder(program)));
    app->InitInstance();
    return 0;
}
