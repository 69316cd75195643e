#include "cli/cli_app.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CrisisApp.h"
#include "cli/cli_options.h"
#include "cli/cli_policy.h"
#include "cli/drive_target.h"
#include "cli/list_drives.h"
#include "cli/verify.h"
#include "ui/console/console_backend.h"

namespace cli {
namespace {

void say(const std::string& line) {
    std::fprintf(stderr, "quenvol-cli: %s\n", line.c_str());
}

// The console backend for the length of the dialog's run, whatever way the run ends.
class BackendInstall {
  public:
    explicit BackendInstall(Backend* backend) { AfxSetBackend(backend); }
    ~BackendInstall() { AfxSetBackend(nullptr); }
    BackendInstall(const BackendInstall&) = delete;
    BackendInstall& operator=(const BackendInstall&) = delete;
};

int checkVerification(CliPolicy& policy) {
    if (!policy.written() || policy.written()->files.empty()) {
        say("verify: the copy to the diskette was not observed, so there is nothing to compare");
        return kExitStopped;
    }
    const Expectation expectation = cli::expectationOf(*policy.written());
    const auto differences = verifyDriveA(expectation);
    for (const auto& line : differences) std::fprintf(stderr, "%s\n", line.c_str());
    if (!differences.empty()) return kExitStopped;
    std::fprintf(stderr, "verify: %zu files%s on the diskette match their sources\n",
                 expectation.files.size(), expectation.bootSector ? " and sector 0" : "");
    return kExitSuccess;
}

}  // namespace

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.ok()) {
        say(parsed.error);
        std::fputs("Try 'quenvol-cli --help' for more information.\n", stderr);
        return kExitUsage;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options.version) {
        std::puts("quenvol-cli (Quenvol) 1.0");
        return kExitSuccess;
    }
    if (options.listDrives) {
        listDrives(options.drive, stdout, stderr);
        return kExitSuccess;
    }

    const DriveTarget target = prepareDrive(options.drive, options.create);
    if (target.state == DriveTarget::State::Unusable) {
        say(target.message);
        return kExitUsage;
    }
    if (!target.message.empty()) say(target.message);
    if (target.state == DriveTarget::State::Ready) {
        std::fprintf(stderr, "%s\n", announceDrive(target).c_str());
    }

    // theApp is the dialog program's own application object; start-up runs it.
    if (AfxGetApp() != &theApp) {
        say("the application object is not the crisis-disk application");
        return kExitStopped;
    }

    Terminal terminal;
    terminal.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    terminal.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
    CliPolicy policy(options, terminal);
    console::ConsoleBackend backend(policy);
    {
        BackendInstall install(&backend);
        // The program's name and the project words: start-up turns them into the
        // command-line text by the same rule as for the dialog program.
        std::string name = argc > 0 ? argv[0] : "quenvol-cli";
        std::vector<char*> startArgs{name.data()};
        std::vector<std::string> words = options.projectWords;
        for (auto& word : words) startArgs.push_back(word.data());
        startArgs.push_back(nullptr);
        AfxWinMain(static_cast<int>(startArgs.size() - 1), startArgs.data());
    }

    if (policy.refusedInUse()) return kExitInUse;
    if (options.kind == DiskKind::FormatOnly) {
        const auto& format = policy.formatOutcome();
        return format.formatted > 0 && format.error.empty() ? kExitSuccess : kExitStopped;
    }
    if (!policy.succeeded()) return kExitStopped;
    if (options.verify) return checkVerification(policy);
    return kExitSuccess;
}

}  // namespace cli
