#include "cli/several_drives.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "build/json_writer.h"
#include "cli/cli_app.h"
#include "cli/copy_worker.h"
#include "cli/system.h"
#include "platform/diskette_image.h"
#include "platform/drive_a.h"
#include "platform/floppy_drives.h"
#include "platform/host_file.h"
#include "platform/host_system.h"
#include "platform/interrupts.h"

namespace cli {
namespace {

bool g_quiet = false;

void say(const std::string& line) {
    std::fprintf(stderr, "quenvol-cli: %s\n", line.c_str());
}

void note(const std::string& line) {
    if (!g_quiet) say(line);
}

// On a terminal each drive has a line of its own, redrawn in place as its worker goes on;
// elsewhere (a log, a pipe, --progress=plain) each step is a line of its own.
struct Board {
    bool live = false;
    bool drawn = false;
    std::vector<std::string> lines;

    void show(std::size_t drive, const std::string& text) {
        lines[drive] = text;
        if (drawn) std::fprintf(stderr, "\033[%zuA", lines.size());
        // Cut to a line's width: a line that wrapped would throw the redraw out.
        for (const std::string& line : lines)
            std::fprintf(stderr, "\r\033[K%s\n", line.substr(0, 79).c_str());
        std::fflush(stderr);
        drawn = true;
    }
};
Board g_board;

// One drive of the run and what its worker has said so far.
struct Drive {
    std::size_t index = 0;  // its line on the board
    std::string path;       // as given
    std::string name;       // "/dev/sdb, TEAC FD-05PUB, USB port 2-1.3, 1,474,560 bytes"
    bool device = false;
    bool nothingThere = false;  // not even a link: --create may make an image there
    std::string vendor, model;
    std::optional<std::uint64_t> bytes;
    std::unique_ptr<sys::ChildProcess> worker;
    std::string output;  // the file the worker writes its lines to
    std::uint64_t readTo = 0;
    std::string unfinished;  // the part of a line not yet ended
    unsigned underway = 0;   // the diskette between its first step and its result, or 0
    std::string started;     // when it began
    std::vector<build::Record> diskettes;
    std::vector<int> statuses;
    std::string lastMessage;
};

// What is at `path` now, named as the question before erasing and the results name it.
void lookAt(Drive& drive, const std::vector<platform::FloppyDrive>& found, bool create) {
    std::string why;
    // A drive letter names a drive, empty or not, never a place for an image.
    drive.nothingThere = !platform::driveLetterOf(drive.path) && sys::nothingAt(drive.path, why);
    const auto medium = platform::measureMediumAt(drive.path);
    const auto floppy = platform::floppyDriveAt(found, drive.path);
    drive.device = medium ? medium->blockDevice : floppy.has_value();
    if (medium) drive.bytes = medium->bytes;
    if (floppy) {
        drive.vendor = floppy->vendor;
        drive.model = floppy->model;
    }
    const std::string description = floppy ? floppy->description()
                                    : medium && drive.device
                                        ? platform::describeBlockDevice(drive.path)
                                        : std::string();
    drive.name = medium && medium->bytes > 0
                     ? platform::nameDrive(drive.path, description, medium->bytes)
                     : drive.path + (description.empty() ? "" : ", " + description) +
                           (create && drive.nothingThere
                                ? ", nothing there yet: --create makes a blank image"
                                : ", no diskette found there now");
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// The drives the options name, or why there are none to build in.
std::vector<std::string> drivesNamed(const Options& options, std::string& why, int& status) {
    if (options.retryFailed) {
        const std::string file = failedDrivesPath();
        auto paths = file.empty() ? std::vector<std::string>() : readLines(file);
        if (paths.empty()) {
            why = "no drive failed in the last run on several drives (" +
                  (file.empty() ? std::string("no state folder is known") : file) +
                  "); nothing to build again";
            status = kExitSuccess;
        }
        return paths;
    }
    if (options.allDrives) {
        std::vector<std::string> paths;
        for (const platform::FloppyDrive& drive : platform::findFloppyDrives())
            if (drive.holdsDiskette()) paths.push_back(drive.path);
        if (paths.empty()) {
            why = "no floppy drive holding a diskette was found";
            status = kExitNoDiskette;
        }
        return paths;
    }
    return options.drives;
}

// Two paths that reach one drive (a link, the same image) would write it twice at once.
std::string sameDriveTwice(const std::vector<Drive>& drives) {
    std::vector<std::optional<sys::FileLook>> looks;
    for (const Drive& drive : drives) looks.push_back(sys::lookAtFile(drive.path));
    for (std::size_t i = 0; i < drives.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (drives[i].path == drives[j].path ||
                (looks[i] && looks[j] && looks[i]->volume == looks[j]->volume &&
                 looks[i]->file == looks[j]->file))
                return drives[j].path + " and " + drives[i].path + " are the same drive";
    return {};
}

bool askToEraseAll(const Options& options, const std::vector<Drive>& drives) {
    const bool asking = !options.yes && sys::inputIsTerminal();
    if (!options.quiet || asking) {
        std::fprintf(stderr, "Everything on the diskette%s in %s will be erased:\n",
                     drives.size() == 1 ? "" : "s",
                     drives.size() == 1
                         ? "this drive"
                         : ("these " + std::to_string(drives.size()) + " drives").c_str());
        for (const Drive& drive : drives) std::fprintf(stderr, "  %s\n", drive.name.c_str());
        std::fflush(stderr);
    }
    if (options.yes) return true;
    if (!asking) {
        note("answered No, as standard input is not a terminal (--yes answers Yes)");
        return false;
    }
    std::fputs(drives.size() == 1 ? "Erase it? [y/N] " : "Erase them? [y/N] ", stderr);
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

void writeFailedDrives(const std::vector<std::string>& paths) {
    const std::string file = failedDrivesPath();
    if (file.empty()) return;
    if (paths.empty()) {
        (void)platform::deleteHostFile(file);  // nothing there is as good
        return;
    }
    // Absolute, so that a retry from another folder finds the same files; a drive letter
    // stays as it is.
    std::string text, folder;
    for (const auto& path : paths)
        text += (platform::driveLetterOf(path) ? path : platform::absoluteHostPath(path)) + "\n";
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    auto written = platform::makeFolders(file.substr(0, file.find_last_of("/\\")), folder);
    if (written) written = platform::replaceFileAtomically(file, bytes);
    if (!written)
        say("the list of the drives that failed could not be written to " + file + ": " +
            written.message());
}

void showStep(const Options& options, const Drive& drive, unsigned diskette,
              const std::string& step) {
    if (options.progress == ProgressMode::Json) {
        build::JsonWriter w;
        w.beginObject();
        w.key("step").value(step);
        w.key("drive").value(drive.path);
        w.key("diskette").value(std::uint64_t{diskette});
        w.endObject();
        std::fputs((w.text() + "\n").c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    if (g_board.live) {
        std::string head = "diskette " + std::to_string(diskette) + ": " + step;
        head.resize(std::max<std::size_t>(head.size() + 1, 33), ' ');
        g_board.show(drive.index, head + drive.name);
        return;
    }
    note(drive.name + ": diskette " + std::to_string(diskette) + ": " + step);
}

// A diskette's record: the build's, for this drive and what its copy came to.
build::Record recordOf(const build::Record& built, const Drive& drive, const WorkerLine& done,
                       const std::string& started) {
    build::Record r = built;
    r.program = "quenvol-cli";
    r.drivePath = drive.path;
    r.driveIsDevice = drive.device;
    r.driveVendor = drive.vendor;
    r.driveModel = drive.model;
    r.driveBytes = drive.bytes;
    r.copyOf = built.diskSha256;
    r.diskSha256.reset();
    r.backup.reset();
    r.bootCheck.reset();
    r.sector0Sha256 = done.sector0Sha256.empty() ? std::nullopt : std::optional(done.sector0Sha256);
    r.started = started.empty() ? build::utcNow() : started;
    r.ended = build::utcNow();
    if (done.status == kExitSuccess) {
        r.readBackPassed = true;
        r.outcome = built.outcome;
        r.failureKind.reset();
        r.message.reset();
    } else {
        r.readBackPassed =
            done.failureKind == "verify-differs" ? std::optional(false) : std::nullopt;
        r.outcome = "failed";
        r.failureKind = done.failureKind.empty() ? "other" : done.failureKind;
        r.message = done.text;
        r.files.clear();  // nothing of them was found on this diskette
    }
    return r;
}

void finishDiskette(const Options& options, const build::Record& built, Drive& drive,
                    const WorkerLine& done) {
    build::Record record = recordOf(built, drive, done, drive.started);
    drive.underway = 0;
    drive.started.clear();
    drive.statuses.push_back(done.status);
    if (auto logged = build::appendBuildLog(build::recordJson(record)); !logged)
        say("the build log could not be written: " + logged.message());
    drive.diskettes.push_back(std::move(record));
    const std::string which = drive.name + ": diskette " + std::to_string(done.diskette);
    if (done.status == kExitSuccess) {
        showStep(options, drive, done.diskette, "built and read back");
    } else {
        drive.lastMessage = done.text;
        if (g_board.live)  // in full in the list at the end
            g_board.show(drive.index, "diskette " + std::to_string(done.diskette) +
                                          " failed: " + drive.name + ": " + done.text);
        else
            say(which + " failed: " + done.text);
    }
}

// The lines the worker has written since last asked.
void readWorker(const Options& options, const build::Record& built, Drive& drive) {
    std::ifstream in(drive.output, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(drive.readTo));
    std::string more((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    drive.readTo += more.size();
    drive.unfinished += more;
    for (std::size_t end; (end = drive.unfinished.find('\n')) != std::string::npos;) {
        std::string text = drive.unfinished.substr(0, end);
        drive.unfinished.erase(0, end + 1);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        const WorkerLine line = parseWorkerLine(text);
        switch (line.kind) {
            case WorkerLine::Kind::Drive:
                // The run's own name stands (it has the USB port), unless it found nothing.
                if (!line.text.empty() && !drive.bytes) drive.name = line.text;
                break;
            case WorkerLine::Kind::Step:
                if (drive.underway != line.diskette) drive.started = build::utcNow();
                drive.underway = line.diskette;
                showStep(options, drive, line.diskette, line.text);
                break;
            case WorkerLine::Kind::Done:
                finishDiskette(options, built, drive, line);
                break;
            case WorkerLine::Kind::Other:
                if (text.empty()) break;
                if (g_board.live)
                    g_board.show(drive.index, drive.name + ": " + text);
                else
                    say(drive.name + ": " + text);
                break;
        }
    }
}

// A worker that ended without a result for the diskette it had begun (or for any) failed it.
void workerEnded(const Options& options, const build::Record& built, Drive& drive,
                 const std::string& why) {
    if (drive.underway == 0 && !drive.diskettes.empty()) return;
    WorkerLine done;
    done.kind = WorkerLine::Kind::Done;
    done.diskette =
        drive.underway != 0 ? drive.underway : static_cast<unsigned>(drive.diskettes.size() + 1);
    done.status = kExitStopped;
    done.failureKind = platform::interrupted() ? "interrupted" : "other";
    done.text = why;
    finishDiskette(options, built, drive, done);
}

// Every worker followed to its end; an interrupt ends them all (a diskette cut short is
// listed as failed, and --retry-failed builds it again).
void followWorkers(const Options& options, const build::Record& built, std::vector<Drive>& drives) {
    platform::InterruptCatch interrupts;
    const char* term = std::getenv("TERM");
    g_board.live = !options.quiet && options.progress == ProgressMode::Auto &&
                   sys::errorIsTerminal() && !(term && std::string(term) == "dumb");
    g_board.lines.assign(drives.size(), "");
    for (const Drive& drive : drives)
        if (g_board.live)
            g_board.show(drive.index, "starting                         " + drive.name);
    platform::pausePoint("writing the drives");
    for (bool anyRunning = true; anyRunning;) {
        anyRunning = false;
        const bool stop = platform::interrupted();
        for (Drive& drive : drives) {
            if (!drive.worker) continue;
            if (stop) drive.worker->awaitEnd(std::chrono::seconds(0));
            const bool running = drive.worker->running();
            readWorker(options, built, drive);
            if (running) {
                anyRunning = true;
                continue;
            }
            const auto status = drive.worker->exitStatus();
            drive.worker.reset();
            workerEnded(options, built, drive,
                        stop ? std::string("interrupted by ") + platform::interruptSignalName() +
                                   " before the diskette was whole"
                             : "the copy ended without a result (" +
                                   (status ? "exit status " + std::to_string(*status)
                                           : std::string("killed")) +
                                   ")");
        }
        // A copy to an image takes milliseconds, to a drive seconds: a short look costs little.
        if (anyRunning) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    interrupts.raiseCaught();  // kept for the end of the run: the report goes out first
}

// `built` is null when nothing was built (the question answered No).
std::string reportJson(const std::string& outcome, const build::Record* built,
                       const std::vector<Drive>& drives) {
    std::string text = "{\"schema\":" + std::to_string(build::kRecordSchema) +
                       ",\"program\":\"quenvol-cli\",\"outcome\":" + build::jsonString(outcome) +
                       ",\"build\":" + (built ? build::recordJson(*built) : "null") +
                       ",\"drives\":[";
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const Drive& d = drives[i];
        unsigned good = 0;
        for (int s : d.statuses) good += s == kExitSuccess;
        text += (i ? "," : "") + std::string("{\"path\":") + build::jsonString(d.path) +
                ",\"name\":" + build::jsonString(d.name) + ",\"built\":" + std::to_string(good) +
                ",\"failed\":" + std::to_string(d.statuses.size() - good) + ",\"diskettes\":[";
        for (std::size_t j = 0; j < d.diskettes.size(); ++j)
            text += (j ? "," : "") + build::recordJson(d.diskettes[j]);
        text += "]}";
    }
    return text + "]}";
}

int report(const Options& options, const build::Record& built, std::vector<Drive>& drives,
           int status) {
    std::vector<std::string> failed;
    std::vector<int> statuses;
    unsigned good = 0;
    for (const Drive& drive : drives) {
        int worst = drive.statuses.empty() ? kExitStopped : kExitSuccess;
        for (int s : drive.statuses)
            if (s != kExitSuccess) worst = s;
        statuses.push_back(worst);
        if (worst != kExitSuccess) failed.push_back(drive.path);
        good += worst == kExitSuccess;
    }
    if (status == kExitSuccess) status = statusOfDrives(statuses);
    writeFailedDrives(failed);
    if (!g_quiet || !failed.empty()) {
        std::fprintf(stderr, "quenvol-cli: %u of %zu drives built their diskettes%s\n", good,
                     drives.size(), failed.empty() ? "" : "; the others failed:");
        for (std::size_t i = 0; i < drives.size(); ++i) {
            const Drive& d = drives[i];
            if (statuses[i] == kExitSuccess && g_quiet) continue;
            std::fprintf(stderr, "  %s: %s\n", d.name.c_str(),
                         statuses[i] == kExitSuccess
                             ? (std::to_string(d.statuses.size()) +
                                (d.statuses.size() == 1 ? " diskette" : " diskettes") +
                                " built and read back")
                                   .c_str()
                         : d.lastMessage.empty() ? "failed"
                                                 : d.lastMessage.c_str());
        }
        if (!failed.empty() && !failedDrivesPath().empty())
            std::fputs("quenvol-cli: --retry-failed builds again in the drives that failed\n",
                       stderr);
    }
    if (options.json) {
        const char* outcome = status == kExitSuccess            ? "built"
                              : status == kExitSomeDrivesFailed ? "some-failed"
                                                                : "failed";
        const std::string json = reportJson(outcome, &built, drives) + "\n";
        if (std::fputs(json.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            say("the report could not be written to standard output");
            if (status == kExitSuccess) status = kExitStopped;
        }
    }
    return status;
}

}  // namespace

std::string failedDrivesPath() {
    const auto folder = platform::stateFolder();
    return folder ? *folder + "/quenvol/failed-drives" : std::string();
}

int statusOfDrives(const std::vector<int>& statuses) {
    std::size_t good = 0;
    for (int s : statuses) good += s == kExitSuccess;
    if (good == statuses.size()) return kExitSuccess;
    if (good > 0) return kExitSomeDrivesFailed;
    for (int s : statuses)
        if (s != statuses.front()) return kExitStopped;
    return statuses.front();
}

int runOnSeveralDrives(const Options& options, const BuildOnce& buildOnce) {
    g_quiet = options.quiet;
    std::string why;
    int status = kExitUsage;
    const std::vector<std::string> paths = drivesNamed(options, why, status);
    if (paths.empty()) {
        (status == kExitSuccess ? note : say)(why);
        return status;
    }
    const auto found = platform::findFloppyDrives();
    std::vector<Drive> drives(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        drives[i].index = i;
        drives[i].path = paths[i];
        lookAt(drives[i], found, options.create);
    }
    if (const std::string twice = sameDriveTwice(drives); !twice.empty()) {
        say(twice + "; name each drive once");
        return kExitUsage;
    }
    if (!askToEraseAll(options, drives)) {
        if (options.json) std::printf("%s\n", reportJson("declined", nullptr, drives).c_str());
        return kExitDeclined;
    }

    std::vector<std::string> files{"diskette.img"};
    for (std::size_t i = 0; i < drives.size(); ++i)
        files.push_back("drive-" + std::to_string(i + 1) + ".out");
    sys::WorkFolder work(files);
    if (work.path().empty()) {
        say("no private folder for the diskette's image: " + work.reason());
        return kExitStopped;
    }
    // The drives are listed as failed until each has its diskette, so that a run cut short
    // (even by SIGKILL) leaves --retry-failed every drive it did not finish.
    writeFailedDrives(paths);

    Options once = options;
    once.drive = work / "diskette.img";
    once.drives.clear();
    once.allDrives = once.retryFailed = false;
    once.create = true;
    once.verify = true;
    once.count = 1;
    once.json = false;
    note("the diskette is built once, into an image, then written to the " +
         std::to_string(drives.size()) + " drives at once");
    build::Record built;
    if (const int made = buildOnce(once, built); made != kExitSuccess) {
        say("the diskette could not be built, so nothing was written to any drive");
        for (Drive& drive : drives) drive.lastMessage = "nothing written: the build failed";
        return report(options, built, drives, made);
    }
    built.drivePath.clear();
    std::vector<std::string> common{platform::programFilePath(), "--copy-image",
                                    work / "diskette.img", "--count",
                                    std::to_string(options.count)};
    for (std::size_t i = 0; i < drives.size(); ++i) {
        Drive& drive = drives[i];
        drive.output = work / files[i + 1].c_str();
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--drive", drive.path});
        // --create makes an image where nothing is; a drive or a file there is used as it is.
        if (options.create && drive.nothingThere) args.push_back("--create");
        drive.worker = std::make_unique<sys::ChildProcess>();
        if (const std::string failed = drive.worker->start(args, drive.output); !failed.empty()) {
            drive.worker.reset();
            workerEnded(options, built, drive, failed);
        }
    }
    followWorkers(options, built, drives);
    return report(options, built, drives, kExitSuccess);
}

}  // namespace cli
