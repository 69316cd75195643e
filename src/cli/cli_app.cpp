#include "cli/cli_app.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/CrisisApp.h"
#include "app/CrisisDlg.h"
#include "build/build_record.h"
#include "cli/boot_check.h"
#include "cli/build_plan.h"
#include "cli/cli_options.h"
#include "cli/cli_policy.h"
#include "cli/copy_worker.h"
#include "cli/disk_image.h"
#include "cli/drive_target.h"
#include "cli/list_drives.h"
#include "cli/several_drives.h"
#include "cli/system.h"
#include "cli/system_words.h"
#include "cli/verify.h"
#include "platform/desktop_drives.h"
#include "platform/drive_a.h"
#include "platform/drive_format.h"
#include "platform/interrupts.h"
#include "ui/console/console_backend.h"

namespace cli {
namespace {

bool g_quiet = false;
build::Record g_finished;  // the last record a run finished

void say(const std::string& line) {
    std::fprintf(stderr, "quenvol-cli: %s\n", line.c_str());
}

// What is news but no error: left out with --quiet.
void note(const std::string& line) {
    if (!g_quiet) say(line);
}

// A difference goes into the record as well as onto standard error.
int checkVerification(const CliPolicy& policy, build::Record& record) {
    auto differs = [&](const std::string& message) {
        record.outcome = "failed";
        record.failureKind = "verify-differs";
        record.message = message;
        return kExitStopped;
    };
    if (!policy.written() || policy.written()->files.empty()) {
        say("verify: the copy to the diskette was not observed, so there is nothing to compare");
        return differs("the copy to the diskette was not observed, so there is nothing to compare");
    }
    const Expectation expectation = cli::expectationOf(*policy.written());
    const auto differences = verifyDriveA(expectation);
    for (const auto& line : differences) std::fprintf(stderr, "%s\n", line.c_str());
    if (!differences.empty()) {
        std::string message;
        for (const auto& line : differences) message += (message.empty() ? "" : "; ") + line;
        return differs(message);
    }
    if (!g_quiet) {
        std::fprintf(stderr, "verify: %zu files%s on the diskette match their sources\n",
                     expectation.files.size(), expectation.bootSector ? " and sector 0" : "");
    }
    return kExitSuccess;
}

}  // namespace

int exitStatusOfFailure(std::optional<base::Failure> failure, int otherwise) {
    if (!failure) return otherwise;
    switch (*failure) {
        case base::Failure::NoMedium:
            return kExitNoDiskette;
        case base::Failure::WriteProtected:
        case base::Failure::PermissionDenied:
            return kExitNoAccess;
        case base::Failure::Busy:
            return kExitInUse;
        case base::Failure::NotDiskette:
            return kExitUsage;
        case base::Failure::NoRoom:
        case base::Failure::IoError:
        case base::Failure::BadData:
        case base::Failure::Other:
            break;
    }
    return otherwise;
}

namespace {

int statusOfBuild(const build::Outcome& outcome, bool refusedInUse) {
    using Kind = build::Outcome::Kind;
    switch (outcome.kind) {
        case Kind::Succeeded:
            return kExitSuccess;
        case Kind::Declined:
            return kExitDeclined;
        case Kind::NoDiskette:
            return kExitNoDiskette;
        case Kind::NoAccess:
            return kExitNoAccess;
        case Kind::None:
            return refusedInUse ? kExitInUse : kExitStopped;
        default:
            return exitStatusOfFailure(outcome.failure, kExitStopped);
    }
}

// A record for a run that ends before (or without) the dialog's build.
build::Record runRecord(const Options& options, const std::string& started) {
    build::Record record;
    record.program = "quenvol-cli";
    record.kind = options.saveImage ? "save-image" : kindName(options.kind);
    record.started = started;
    record.acceptPayloadWarnings = options.acceptPayloadWarnings;
    if (!options.projectWords.empty()) {
        record.projectPath = AfxCommandLineOf(options.projectWords);
    }
    return record;
}

void fail(build::Record& record, const char* kind, const std::string& message) {
    record.outcome = "failed";
    record.failureKind = kind;
    record.message = message;
}

// Ends a run: the record finished, logged (for builds) and printed (with --json).
int finish(build::Record& record, const Options& options, int status, bool log) {
    if (record.ended.empty()) record.ended = build::utcNow();
    if (record.outcome.empty()) record.outcome = status == kExitSuccess ? "built" : "failed";
    // A run that did not succeed always says why in its record.
    if (status != kExitSuccess && !record.failureKind) {
        record.failureKind = "other";
        if (!record.message)
            record.message = "the run ended with exit status " + std::to_string(status);
    }
    g_finished = record;
    const std::string json = build::recordJson(record);
    if (log) {
        if (auto logged = build::appendBuildLog(json); !logged) {
            say("the build log could not be written: " + logged.message());
        }
    }
    if (options.json) {
        // A report that does not reach standard output (closed, full) is lost: an error.
        const bool printed = std::fputs((json + "\n").c_str(), stdout) >= 0;
        if (std::fflush(stdout) != 0 || !printed || std::ferror(stdout)) {
            say(std::string("the report could not be written to standard output: ") +
                std::strerror(errno));
            if (status == kExitSuccess) status = kExitStopped;
        }
    }
    return status;
}

bool errorTerminal() {
    const char* term = std::getenv("TERM");
    // A dumb terminal cannot redraw a line in place: plain lines then, as for a log.
    return sys::errorIsTerminal() && !(term && std::strcmp(term, "dumb") == 0);
}

// --help, --version and --list-drives answer and end the run; nothing else is done.
std::optional<int> answerInformation(const Options& options) {
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options.version) {
        std::fputs(versionText().c_str(), stdout);
        return kExitSuccess;
    }
    if (options.listDrives) {
        if (options.json)
            listDrivesJson(options.drive, stdout);
        else
            listDrives(options.drive, stdout, stderr);
        return kExitSuccess;
    }
    return std::nullopt;
}

// --save-image: the diskette in drive A: copied to a file, and nothing else.
int saveDriveA(build::Record& record, const Options& options) {
    const ImageCopy copy = copyDriveAToFile(*options.saveImage, false);
    record.digestWholeDevice = false;
    build::describeDriveA(record);
    if (!copy.ok) {
        say("drive A: could not be saved: " + copy.message);
        fail(record, copy.interrupted ? "interrupted" : build::failureKindName(copy.failure),
             copy.message);
        if (copy.failure == base::Failure::Busy) record.outcome = "refused";
        return finish(record, options, exitStatusOfFailure(copy.failure, kExitStopped), true);
    }
    note("drive A: saved to " + *options.saveImage + " (" + platform::groupThousands(copy.bytes) +
         " bytes, SHA-256 " + copy.sha256 + ")");
    record.diskSha256 = copy.sha256;
    record.outcome = "saved";
    return finish(record, options, kExitSuccess, true);
}

// --backup: the diskette saved before anything is written to it. A backup that fails ends the
// run with its exit status, before anything is written.
std::optional<int> backUpDriveA(build::Record& record, const Options& options) {
    const ImageCopy copy = copyDriveAToFile(*options.backup, options.backupSkipBad);
    build::RecordBackup backup{*options.backup, std::nullopt, copy.unreadableSectors};
    if (!copy.ok) {
        say("the diskette in drive A: could not be backed up, so nothing was written to it: " +
            copy.message);
        build::describeDriveA(record);
        record.backup = backup;
        fail(record,
             copy.interrupted ? "interrupted"
                              : build::failureKindName(copy.failure, "backup-failed"),
             copy.message);
        if (copy.failure == base::Failure::Busy) record.outcome = "refused";
        return finish(record, options, exitStatusOfFailure(copy.failure, kExitStopped), true);
    }
    backup.sha256 = copy.sha256;
    record.backup = backup;
    record.digestWholeDevice = true;
    note("the diskette in drive A: was saved to " + *options.backup + " before anything was " +
         "written (" + platform::groupThousands(copy.bytes) + " bytes, SHA-256 " + copy.sha256 +
         ")");
    if (!copy.unreadableSectors.empty()) {
        say("unreadable sectors, filled with zeros in " + *options.backup + ": " +
            sectorList(copy.unreadableSectors));
    }
    return std::nullopt;
}

// The dialog program's start-up and dialog, run on the console backend under the policy.
void runDialog(CliPolicy& policy, const Options& options, const char* programName) {
    console::ConsoleBackend backend(policy);
    ScopedBackend install(&backend);
    // The program's name and the project words: start-up turns them into the command-line
    // text by the same rule as for the dialog program.
    std::string name = programName != nullptr ? programName : "quenvol-cli";
    std::vector<char*> startArgs{name.data()};
    std::vector<std::string> words = options.projectWords;
    for (auto& word : words) startArgs.push_back(word.data());
    startArgs.push_back(nullptr);
    AfxWinMain(static_cast<int>(startArgs.size() - 1), startArgs.data());
}

// --boot-check: drive A: started in the emulator, what it showed said and kept in `record`.
// Returns the exit status the check calls for.
int bootCheck(build::Record& record, const Options& options) {
    BootCheckRequest request;
    request.seconds = *options.bootCheck;
    request.screenFile = options.bootScreen;
    request.expectedImage = record.imageSource;  // the sample's BIOS image check compares it
    note("boot check: starting drive A: in an emulated PC for at most " +
         std::to_string(request.seconds) + " s");
    const BootCheck check = bootCheckDriveA(request);
    record.bootCheck = check.record;
    if (check.state != BootCheck::State::Ran) {
        say("boot check: could not run: " + check.message);
        return check.state == BootCheck::State::NoEmulator
                   ? kExitNoBootCheck
                   : exitStatusOfFailure(check.failure, kExitNoBootCheck);
    }
    const build::RecordBootCheck& r = check.record;
    const bool started = check.notStarted.empty() && r.biosIntact != false;
    // What the screen showed is news when the diskette started, and the evidence when not.
    if (!g_quiet || !started) {
        std::fprintf(stderr, "boot check: the screen after %llu s:\n",
                     static_cast<unsigned long long>(r.seconds));
        // The screen text ends every line with a line break.
        for (std::size_t at = 0, end; (end = r.screen.find('\n', at)) != std::string::npos;
             at = end + 1)
            std::fprintf(stderr, "  | %s\n", r.screen.substr(at, end - at).c_str());
    }
    if (!check.message.empty()) say("boot check: " + check.message);
    int status = kExitSuccess;
    if (!check.notStarted.empty()) {
        say("boot check: the diskette's system did not start: " + check.notStarted);
        status = kExitNotBooted;
    } else {
        note("boot check: the firmware started the diskette and its system showed itself");
    }
    if (r.biosVerdict && r.biosIntact == false) {
        say("boot check: " + *r.biosVerdict);
        status = kExitNotBooted;
    } else if (r.biosVerdict) {
        note("boot check: " + *r.biosVerdict);
    }
    return status;
}

const char* bootOutcome(int status) {
    return status == kExitSuccess ? "booted" : status == kExitNotBooted ? "not-bootable" : "failed";
}

// A boot check that did not end in "booted" says why in `record`, with its own failure kind.
void failBootCheck(build::Record& record, int status) {
    if (status == kExitSuccess) return;
    const auto& check = record.bootCheck;
    std::string why = check && check->message ? *check->message : "the boot check did not run";
    if (status == kExitNotBooted && check && check->biosIntact == false && check->biosVerdict)
        why = check->message ? *check->message + "; " + *check->biosVerdict : *check->biosVerdict;
    fail(record, status == kExitNotBooted ? "not-booted" : "boot-check-failed", why);
}

// --boot-check after a build: the build has logged its line; the check gets one of its own.
// The build's report keeps its outcome and names the check's failure.
int bootCheckAfter(build::Record& built, const Options& options) {
    build::Record line = built;
    line.kind = "boot-check";
    line.started = build::utcNow();
    line.ended.clear();
    const int status = bootCheck(built, options);
    line.bootCheck = built.bootCheck;
    failBootCheck(line, status);
    line.outcome = bootOutcome(status);
    line.ended = build::utcNow();
    if (auto logged = build::appendBuildLog(build::recordJson(line)); !logged)
        say("the build log could not be written: " + logged.message());
    const std::string outcome = built.outcome;
    failBootCheck(built, status);
    built.outcome = outcome;
    return status;
}

// --boot-check without a project path: drive A: only started, nothing built or written.
int bootCheckAlone(build::Record& record, const Options& options) {
    record.kind = "boot-check";
    record.projectPath.reset();
    build::describeDriveA(record);
    const int status = bootCheck(record, options);
    failBootCheck(record, status);
    record.outcome = bootOutcome(status);
    return finish(record, options, status, true);
}

// --boot-screen never replaces a file: one already there is refused as a bad option is,
// before anything is done.
std::optional<int> refuseBootScreen(const Options& options) {
    if (!options.bootScreen) return std::nullopt;
    std::string reason;
    if (sys::nothingAt(*options.bootScreen, reason)) return std::nullopt;
    say("--boot-screen " + *options.bootScreen +
        (reason.empty() ? ": something is already there, and the screen picture never replaces it"
                        : ": cannot be looked at: " + reason) +
        "; nothing was done");
    return kExitUsage;
}

// What a format-only run came to, recorded and turned into its exit status.
int finishFormatOnly(build::Record& record, const Options& options, const CliPolicy& policy) {
    const auto& format = policy.formatOutcome();
    int status = kExitSuccess;
    if (policy.refusedInUse()) {
        status = kExitInUse;
        record.outcome = "refused";
        record.failureKind = "in-use";
        record.message = "drive A: is in use by another build or program";
    } else if (format.formatted == 0 || format.failed) {
        status = exitStatusOfFailure(format.errorKind, kExitStopped);
        fail(record, build::failureKindName(format.errorKind, "format-failed"),
             format.failed ? format.error : "the diskette was not formatted");
    } else {
        record.outcome = "formatted";
    }
    build::describeDriveA(record);
    if (status == kExitSuccess && options.bootCheck) status = bootCheckAfter(record, options);
    return finish(record, options, status, true);
}

// Why --eject took no diskette out, where the dialog never came to it.
std::string whyNotEjected(const build::Record& built) {
    const std::string drive = built.drivePath.empty() ? platform::driveAPath() : built.drivePath;
    if (!built.driveIsDevice) return drive + " is an image file, not a drive";
    if (!platform::desktopDiskServiceRuns()) return words::kNoEjector;
    return "the drive behind " + drive + " can neither eject the diskette nor be powered off";
}

// What a build came to: the dialog's build has logged its record itself.
int finishBuild(const build::Record& before, const Options& options, const CliPolicy& policy) {
    build::Record built = policy.record();
    const build::Outcome& outcome = policy.outcome();
    int status = statusOfBuild(outcome, policy.refusedInUse());
    // The dialog logs every build it starts; a run it stopped before that is logged here.
    const bool logHere = built.started.empty();
    if (logHere) {
        // The dialog never started a build: what stopped it is in its outcome.
        built = before;
        if (outcome.kind == build::Outcome::Kind::StartDirRefused) {
            built.outcome = "refused";
            built.failureKind = "start-directory";
            built.message = !outcome.detail.empty()
                                ? outcome.detail
                                : "the start directory " + outcome.file +
                                      " cannot be used: it must be at most 127 characters long";
        }
    }
    if (status == kExitSuccess && options.eject && !policy.removalAsked())
        say("drive A: could not be ejected: " + whyNotEjected(built));
    if (status == kExitSuccess && options.verify) status = checkVerification(policy, built);
    if (status == kExitSuccess && options.bootCheck) status = bootCheckAfter(built, options);
    return finish(built, options, status, logHere);
}

}  // namespace

namespace {

// One build on one drive, as the dialog does it; `eraseAnswered`: the question before drive A:
// is erased was asked already (a run on several drives builds into a private image).
int runBuild(const Options& options, const std::string& started, const char* programName,
             bool eraseAnswered) {
    build::Record record = runRecord(options, started);
    if (auto refused = refuseBootScreen(options)) return *refused;
    const DriveTarget target = prepareDrive(options.drive, options.create);
    if (target.state == DriveTarget::State::Unusable) {
        say(target.message);
        record.drivePath = target.path;
        record.driveIsDevice = target.device;
        record.driveBytes = target.measuredBytes;
        fail(record, "not-a-diskette", target.message);
        return finish(record, options, kExitUsage, true);
    }
    if (!target.message.empty()) note(target.message);
    if (target.state == DriveTarget::State::Ready && !options.quiet) {
        std::fprintf(stderr, "%s\n", announceDrive(target).c_str());
    }

    if (options.saveImage) return saveDriveA(record, options);
    if (options.bootCheck && options.projectWords.empty()) return bootCheckAlone(record, options);
    if (options.backup && target.state == DriveTarget::State::Ready) {
        if (auto ended = backUpDriveA(record, options)) return *ended;
    }

    // theApp is the dialog program's own application object; start-up runs it.
    if (AfxGetApp() != &theApp) {
        say("the application object is not the crisis-disk application");
        return kExitStopped;
    }

    Terminal terminal;
    terminal.errIsTerminal = errorTerminal();
    terminal.inIsTerminal = sys::inputIsTerminal();
    CliPolicy* running = nullptr;
    RunHooks hooks;
    // Asked again for every diskette of a row: each is another diskette to erase.
    hooks.mayErase = [&] {
        if (eraseAnswered) return true;
        const auto name = nameDriveANow(target.path);
        return !name || running->askToErase(*name);
    };
    hooks.afterStart = [&](const CliPolicy& policy) {
        build::Record before = record;
        if (options.kind == DiskKind::FormatOnly) return finishFormatOnly(before, options, policy);
        return finishBuild(before, options, policy);
    };
    hooks.awaitNext = [&](unsigned number) {
        const std::string which =
            options.count == 0 ? std::to_string(number)
                               : std::to_string(number) + " of " + std::to_string(options.count);
        auto announce = [&] {
            say("diskette " + which + ": take the diskette out of drive A: and insert the next " +
                "one (or replace the image file " + target.path + "); waiting...");
        };
        build::Record waited = record;
        waited.started = build::utcNow();
        if (awaitNewMedium(target.path, announce)) return true;
        const std::string why = "interrupted while waiting for diskette " + which + "; " +
                                std::to_string(number - 1) + " built";
        say(why);
        // A line of its own: the row ended here, by the signal, whose status the program
        // ends with.
        build::describeDriveA(waited);
        fail(waited, "interrupted", std::string(platform::interruptSignalName()) + ": " + why);
        finish(waited, options, kExitStopped, true);
        return false;
    };
    CliPolicy policy(options, terminal, hooks);
    running = &policy;
    policy.setRecordBase(record);
    runDialog(policy, options, programName);

    int status;
    if (policy.eraseDeclined()) {
        record.outcome = "declined";
        record.failureKind = "declined";
        record.message = "the question before drive A: is erased was answered No";
        build::describeDriveA(record);
        status = finish(record, options, kExitDeclined, true);
    } else if (policy.diskettes() > 0) {
        status = policy.status();
    } else if (options.kind == DiskKind::FormatOnly) {
        // The dialog never pressed Start: what it came to is told as for a single diskette.
        status = finishFormatOnly(record, options, policy);
    } else {
        status = finishBuild(record, options, policy);
    }
    return status;
}

int runProgram(int argc, char** argv) {
    const std::string started = build::utcNow();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.ok()) {
        say(parsed.error);
        std::fputs("Try 'quenvol-cli --help' for more information.\n", stderr);
        return kExitUsage;
    }
    const Options& options = parsed.options;
    g_quiet = options.quiet;
    if (auto answered = answerInformation(options)) return *answered;
    if (options.plan) {
        // Before drive A: is looked at: the plan needs no diskette and opens no device.
        const BuildPlan plan = planBuild(options);
        std::fputs((options.json ? planJson(plan) + "\n" : planText(plan)).c_str(), stdout);
        return plan.stops.empty() ? kExitSuccess : kExitStopped;
    }
    if (options.copyImage) return runCopyWorker(options);
    const char* programName = argc > 0 ? argv[0] : nullptr;
    if (onSeveralDrives(options)) {
        return runOnSeveralDrives(options, [&](const Options& once, build::Record& built) {
            const int status = runBuild(once, started, programName, true);
            built = g_finished;
            return status;
        });
    }
    return runBuild(options, started, programName, false);
}

}  // namespace

int run(int argc, char** argv) {
    // A signal that ends a build, a backup or the wait for a diskette ends the program only
    // once the report is out and the line logged.
    platform::deferInterruptRaise();
    const int status = runProgram(argc, argv);
    platform::raiseDeferredInterrupt();
    return status;
}

}  // namespace cli
