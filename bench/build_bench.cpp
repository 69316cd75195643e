// Builds the sample MINIDOS diskette with quenvol-cli and with the mtools pipeline a user would
// otherwise write, alternately, and prints the median times, and the time of the same build on
// four drives at once against one; what one build writes to drive A: against the least a build
// could write; the time a real 1.44 MB drive would take for the transfers of a build, a build
// near capacity and the two formats, against the least time for the same sectors, and of a
// build on four drives against one; and the peak memory of a build.
//
//   quenvol-bench [--runs N] [--scratch DIR]... [--keep] [--model-only] [--json] [--cli PATH]
//                 [--kit DIR] [--project DIR]
//
// The defaults are the programs and sample folders of the build tree it was built in. The
// times are taken twice unless --scratch says where: with the images in memory (/dev/shm)
// and on disk ($TMPDIR, else /tmp); the start directory and the settings and state folders
// are on disk ($TMPDIR, else /tmp) in both. Each run starts from a fresh blank image made
// untimed; the pipeline ends with one fdatasync of the image, so that both leave a durable
// diskette. The runs the drive model replays are recorded on a loop device where one can be
// made (as the superuser), so that drive A: is a block device as a floppy drive is; a run on
// several drives is recorded with strace -f, since its workers are processes of their own.

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "drive_model.h"
#include "fat/fat12.h"
#include "platform/sha256.h"
#include "process.h"
#include "support/memory_device.h"
#include "transfer_log.h"

namespace fs = std::filesystem;

namespace {

constexpr long kTmpfsMagic = 0x01021994;

// What a build should achieve.
constexpr double kSpeedTarget = 3.0;            // times faster than the pipeline, at least
constexpr double kSectorRatioTarget = 1.1;      // sectors written per least needed, at most
constexpr double kPeakMemoryTargetMiB = 10;     // resident set of one build, under
constexpr double kBuildDriveRatioTarget = 1.3;  // modelled drive time per least, at most
constexpr double kFullFormatRatioTarget = 1.1;  // likewise for a full format
constexpr double kHostFlushTarget = 6;          // flushes of host files in one build, at most
// A run on several drives at once, against one drive alone.
constexpr int kSeveralDrives = 4;
constexpr double kSeveralDrivesTimeTarget = 1.3;    // build time per one drive's, at most
constexpr double kSeveralDrivesModelTarget = 1.05;  // modelled drive time per one drive's, at most

// A FULLDOS diskette near capacity: the sample project with a BIOS image of this size.
constexpr std::size_t kNearCapacityImageBytes = 1'400'000;
constexpr std::uint64_t kBlankImageBytes = 1474560;

enum class Folder { Kit, Project };

// The sample build's file list in copy order, and where each file comes from. The sample
// project's part number is Q7A, so its test image is the one staged as bios.rom.
struct SampleFile {
    const char* diskName;
    Folder folder;
    const char* source;
};
constexpr SampleFile kSampleFiles[] = {
    {"minidos.sys", Folder::Kit, "minidos.sys"},
    {"zyplet.exe", Folder::Kit, "zyplet.exe"},
    {"platform.bin", Folder::Project, "platform.bin"},
    {"vgabios.exe", Folder::Project, "vgabios.exe"},
    {"bios.rom", Folder::Project, "testQ7A.rom"},
};
constexpr const char* kBootImage = "crisboot.bin";

struct Options {
    int runs = 25;
    std::vector<std::string> scratch;  // a timing in each, the first also for the counts
    bool keep = false;
    bool modelOnly = false;  // no timings
    bool json = false;       // the figures as JSON on standard output
    std::string cli = QUENVOL_BENCH_CLI;
    std::string kit = QUENVOL_SAMPLE_KIT_DIR;
    std::string project = QUENVOL_SAMPLE_PROJECT_DIR;
};

// Scratch folders made so far: left in place when the bench stops, for a look at the logs.
std::vector<std::string> g_scratchRoots;

// Where the text for people goes: standard error when standard output carries the JSON.
FILE* g_text = stdout;

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(g_text, format, args);
    va_end(args);
}

// One figure: its value, and the bound it should keep, if any.
struct Figure {
    std::string name;
    double value = 0;
    std::string unit;
    enum class Bound { None, AtLeast, AtMost, Below } bound = Bound::None;
    double target = 0;

    bool met() const {
        switch (bound) {
            case Bound::AtLeast:
                return value >= target;
            case Bound::AtMost:
                return value <= target;
            case Bound::Below:
                return value < target;
            case Bound::None:
                break;
        }
        return true;
    }
};
std::vector<Figure> g_figures;

void figure(std::string name, double value, std::string unit,
            Figure::Bound bound = Figure::Bound::None, double target = 0) {
    g_figures.push_back({std::move(name), value, std::move(unit), bound, target});
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// {"figures": [{"name": ..., "value": ..., "unit": ..., "target": {"at_least": 5} or null,
//  "met": true, false or null}, ...]}
void printJson() {
    std::printf("{\"figures\": [");
    for (std::size_t i = 0; i < g_figures.size(); ++i) {
        const Figure& f = g_figures[i];
        std::string target = "null";
        std::string met = "null";
        if (f.bound != Figure::Bound::None) {
            const char* key = f.bound == Figure::Bound::AtLeast  ? "at_least"
                              : f.bound == Figure::Bound::AtMost ? "at_most"
                                                                 : "below";
            target = std::string("{\"") + key + "\": " + jsonNumber(f.target) + "}";
            met = f.met() ? "true" : "false";
        }
        std::printf(
            "%s\n  {\"name\": \"%s\", \"value\": %s, \"unit\": \"%s\", \"target\": %s, "
            "\"met\": %s}",
            i == 0 ? "" : ",", f.name.c_str(), jsonNumber(f.value).c_str(), f.unit.c_str(),
            target.c_str(), met.c_str());
    }
    std::printf("\n]}\n");
}

// Loop devices attached so far without autoclear, detached again when the bench stops.
std::vector<std::string> g_loops;

void detachLoop(const std::string& loop) {
    bench::RunSpec spec;
    spec.argv = {"losetup", "-d", loop};
    (void)bench::runProcess(spec);
    std::erase(g_loops, loop);
}

[[noreturn]] void die(const std::string& message) {
    std::fflush(stdout);
    while (!g_loops.empty()) detachLoop(g_loops.back());
    std::fprintf(stderr, "quenvol-bench: %s\n", message.c_str());
    for (const std::string& root : g_scratchRoots) {
        std::fprintf(stderr, "quenvol-bench: images and logs left in %s\n", root.c_str());
    }
    std::exit(1);
}

bool inMemory(const std::string& dir) {
    struct statfs info {};
    return ::statfs(dir.c_str(), &info) == 0 && static_cast<long>(info.f_type) == kTmpfsMagic;
}

// Where the folders go: $TMPDIR, else /tmp.
std::string diskFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

std::vector<std::string> defaultScratch() {
    std::vector<std::string> dirs;
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0 &&
        inMemory("/dev/shm")) {
        dirs.push_back("/dev/shm");
    }
    const std::string disk = diskFolder();
    if (dirs.empty() || !inMemory(disk)) dirs.push_back(disk);
    return dirs;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) die(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--runs") {
            const std::string text = value();
            char* end = nullptr;
            const long runs = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || runs < 1 || runs > 10000) {
                die("--runs takes a number from 1 to 10000");
            }
            options.runs = static_cast<int>(runs);
        } else if (arg == "--scratch") {
            options.scratch.push_back(value());
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--model-only") {
            options.modelOnly = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--cli") {
            options.cli = value();
        } else if (arg == "--kit") {
            options.kit = value();
        } else if (arg == "--project") {
            options.project = value();
        } else if (arg == "--help") {
            std::printf(
                "Usage: quenvol-bench [--runs N] [--scratch DIR]... [--keep] [--model-only]\n"
                "                     [--json] [--cli PATH] [--kit DIR] [--project DIR]\n"
                "Builds the sample MINIDOS diskette N times (default 25) with quenvol-cli and\n"
                "with mformat, mcopy, dd and sync -d, alternately, each on a fresh blank image,\n"
                "and prints the median times, and those of the build on four drives at once\n"
                "against one (image files, and loop devices as root); the writes of one build\n"
                "against the least needed, the time a 1.44 MB drive would take for a build, a\n"
                "build near capacity and the two formats against the least, and for a build\n"
                "on four drives against one (strace needed); and the peak memory.\n"
                "The images go to a fresh folder under each DIR, timed in each (default:\n"
                "/dev/shm and $TMPDIR or /tmp), the start directory, settings and state\n"
                "folders under $TMPDIR or /tmp; all removed at the end unless --keep is given.\n"
                "The drive model replays runs on a loop device (as root; else the image runs\n"
                "taken as a device's). strace, where installed, counts flushes and system calls.\n"
                "--model-only leaves out the timings; --json prints every figure as one JSON\n"
                "object on standard output (the text goes to standard error).\n");
            std::exit(0);
        } else {
            die("unknown option " + arg + " (try --help)");
        }
    }
    if (options.scratch.empty()) options.scratch = defaultScratch();
    return options;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Sample {
    fs::path kit;
    fs::path project;
    std::vector<std::vector<std::uint8_t>> contents;  // in the order of kSampleFiles
    std::vector<std::uint8_t> bootSector;

    fs::path sourceOf(const SampleFile& file) const {
        return (file.folder == Folder::Kit ? kit : project) / file.source;
    }
};

// Empty when the image holds exactly the sample's files with their bytes and the boot-sector
// image in sector 0 (quenvol-cli keeps the formatted volume's serial number and label in it);
// otherwise what is wrong.
std::string checkImage(const fs::path& image, const Sample& sample) {
    auto device = fat::MemoryDevice::loadFile(image.string());
    if (!device) return device.message();
    if (device->bytes().size() < fat::kSectorSize) return "the image holds no sector 0";
    const std::span<const std::uint8_t> sector0(device->bytes().data(), fat::kSectorSize);
    const std::vector<std::uint8_t> meant = fat::withVolumeIdentity(sample.bootSector, sector0);
    if (!std::equal(meant.begin(), meant.end(), sector0.begin())) {
        return "sector 0 is not " + std::string(kBootImage);
    }
    auto volume = fat::Volume::mount(*device);
    if (!volume) return volume.message();
    if (volume->list().size() != std::size(kSampleFiles)) {
        return "the root directory holds " + std::to_string(volume->list().size()) +
               " entries, not " + std::to_string(std::size(kSampleFiles));
    }
    for (std::size_t i = 0; i < std::size(kSampleFiles); ++i) {
        auto bytes = volume->readFile(kSampleFiles[i].diskName);
        if (!bytes) return bytes.message();
        if (*bytes != sample.contents[i]) {
            return std::string(kSampleFiles[i].diskName) + " differs from its source";
        }
    }
    return {};
}

// The folders a build uses besides drive A: (the start directory, the settings and state
// folders), always on disk as a user's are, and a folder for the images, on disk or in memory.
struct Scratch {
    fs::path root;    // the folders
    fs::path images;  // where the images of this timing go
    fs::path kit;     // quenvol-cli's start directory
    fs::path staged;  // the pipeline's files under their diskette names
    fs::path config;  // quenvol-cli's settings folder
    fs::path state;   // quenvol-cli's state folder, which holds the build log
    fs::path logs;
    fs::path bigProject;  // the sample project with a BIOS image that nearly fills a diskette
};

fs::path makeTemporaryFolder(const std::string& under) {
    std::string pattern = (fs::path(under) / "quenvol-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        die("cannot make a scratch folder under " + under + ": " + std::strerror(errno));
    }
    const fs::path made = fs::canonical(pattern);
    g_scratchRoots.push_back(made.string());
    return made;
}

Scratch makeFolders(const std::string& under, const Sample& sample) {
    Scratch s;
    s.root = makeTemporaryFolder(under);
    s.images = s.root;
    s.kit = s.root / "kit";
    s.staged = s.root / "staged";
    s.config = s.root / "config";
    s.state = s.root / "state";
    s.logs = s.root / "logs";
    s.bigProject = s.root / "big-project";
    fs::copy(sample.kit, s.kit, fs::copy_options::recursive);
    fs::copy(sample.project, s.bigProject, fs::copy_options::recursive);
    fs::create_directories(s.staged);
    fs::create_directories(s.config);
    fs::create_directories(s.state);
    fs::create_directories(s.logs);
    for (const SampleFile& file : kSampleFiles) {
        fs::copy_file(sample.sourceOf(file), s.staged / file.diskName);
    }
    fs::copy_file(sample.kit / kBootImage, s.staged / kBootImage);
    // The sample project's part number is Q7A: its test image is the one that goes on.
    std::ofstream big(s.bigProject / "testQ7A.rom", std::ios::binary | std::ios::trunc);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < kNearCapacityImageBytes; ++i) {
        x = x * 1103515245u + 12345u;
        big.put(static_cast<char>(x >> 16));
    }
    if (!big.flush()) die("cannot write " + (s.bigProject / "testQ7A.rom").string());
    return s;
}

// A blank diskette as quenvol-cli --create makes one: a file of the right size, all zeros,
// durable. Made before a run starts, untimed.
void makeBlankImage(const fs::path& image) {
    std::error_code ec;
    fs::remove(image, ec);
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(kBlankImageBytes)) != 0 || ::fsync(fd) != 0) {
        die("cannot make a blank image at " + image.string() + ": " + std::strerror(errno));
    }
    ::close(fd);
}

std::vector<std::string> cliArgs(const fs::path& image, const Sample& sample) {
    return {"--yes", "--drive", image.string(), sample.project.string()};
}

// The settings file and the build log go to the scratch folders, never to the user's own.
std::vector<std::pair<std::string, std::string>> cliEnv(const Scratch& s) {
    return {{"XDG_CONFIG_HOME", s.config.string()}, {"XDG_STATE_HOME", s.state.string()}};
}

bench::RunSpec cliRun(const Options& options, const Scratch& s, const Sample& sample,
                      const fs::path& image) {
    bench::RunSpec spec;
    spec.argv = {options.cli};
    for (std::string& arg : cliArgs(image, sample)) spec.argv.push_back(std::move(arg));
    spec.workingDir = s.kit.string();
    spec.env = cliEnv(s);
    spec.outputFile = (s.logs / "cli.log").string();
    return spec;
}

// What a user would type: format the blank image, copy each file over, put the boot sector
// in, and make it all durable.
std::vector<bench::RunSpec> pipelineRuns(const Scratch& s, const fs::path& image) {
    std::vector<bench::RunSpec> steps;
    auto step = [&](std::vector<std::string> argv) {
        bench::RunSpec spec;
        spec.argv = std::move(argv);
        spec.workingDir = s.staged.string();
        spec.outputFile = (s.logs / ("pipeline-" + std::to_string(steps.size()) + ".log")).string();
        steps.push_back(std::move(spec));
    };
    step({"mformat", "-f", "1440", "-i", image.string(), "::"});
    for (const SampleFile& file : kSampleFiles) {
        std::string upper = file.diskName;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        step({"mcopy", "-o", "-i", image.string(), file.diskName, "::" + upper});
    }
    step({"dd", "if=" + std::string(kBootImage), "of=" + image.string(), "bs=512", "count=1",
          "conv=notrunc", "status=none"});
    step({"sync", "--data", image.string()});
    return steps;
}

std::string logText(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.empty() ? "(no output)" : text;
}

struct Timed {
    std::chrono::nanoseconds elapsed{};
    std::chrono::nanoseconds cpu{};
    long maxRssKiB = 0;
};

Timed timeCli(const Options& options, const Scratch& s, const Sample& sample,
              const fs::path& image) {
    makeBlankImage(image);
    const bench::RunSpec spec = cliRun(options, s, sample, image);
    const bench::RunOutcome outcome = bench::runProcess(spec);
    if (outcome.exitStatus != 0) {
        die("quenvol-cli stopped (" + outcome.how + "):\n" + logText(spec.outputFile));
    }
    if (std::string wrong = checkImage(image, sample); !wrong.empty()) {
        die("quenvol-cli's image " + image.string() + " is wrong: " + wrong);
    }
    return {outcome.elapsed, outcome.cpu, outcome.maxRssKiB};
}

// The floor under any build: the program started and ended with nothing to do.
Timed timeStart(const Options& options, const Scratch& s) {
    bench::RunSpec spec;
    spec.argv = {options.cli, "--version"};
    spec.workingDir = s.kit.string();
    spec.env = cliEnv(s);
    spec.outputFile = (s.logs / "start.log").string();
    const bench::RunOutcome outcome = bench::runProcess(spec);
    if (outcome.exitStatus != 0) {
        die("quenvol-cli --version stopped (" + outcome.how + "):\n" + logText(spec.outputFile));
    }
    return {outcome.elapsed, outcome.cpu, outcome.maxRssKiB};
}

Timed timePipeline(const Scratch& s, const Sample& sample, const fs::path& image) {
    makeBlankImage(image);
    Timed timed;
    for (const bench::RunSpec& spec : pipelineRuns(s, image)) {
        const bench::RunOutcome outcome = bench::runProcess(spec);
        if (outcome.exitStatus != 0) {
            die(spec.argv.front() + " stopped (" + outcome.how + "):\n" + logText(spec.outputFile));
        }
        timed.elapsed += outcome.elapsed;
        timed.cpu += outcome.cpu;
        timed.maxRssKiB = std::max(timed.maxRssKiB, outcome.maxRssKiB);
    }
    if (std::string wrong = checkImage(image, sample); !wrong.empty()) {
        die("the pipeline's image " + image.string() + " is wrong: " + wrong);
    }
    return timed;
}

void removeImage(const fs::path& image) {
    std::error_code ec;
    fs::remove(image, ec);
}

double milliseconds(std::chrono::nanoseconds t) {
    return std::chrono::duration<double, std::milli>(t).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void printTimes(const char* who, const std::vector<double>& ms) {
    say("  %-17s median %7.2f ms   (fastest %.2f, slowest %.2f)\n", who, median(ms),
        *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? "unknown" : one;
}

// The least a build can write: the system area once, each file's clusters once, sector 0 once;
// and the least number of calls, one for each of them.
struct Minimum {
    std::uint64_t systemArea = 0;
    std::uint64_t fileSectors = 0;
    std::uint64_t sectors = 0;
    std::uint64_t calls = 0;
};

Minimum minimumFor(const fat::Geometry& g, const Sample& sample) {
    Minimum m;
    m.systemArea = g.reservedSectors + std::uint64_t{g.fatCount} * g.sectorsPerFat +
                   std::uint64_t{g.rootEntries} * 32 / fat::kSectorSize;
    const std::uint64_t clusterBytes = std::uint64_t{g.sectorsPerCluster} * fat::kSectorSize;
    m.calls = 1 + 1;
    for (const auto& content : sample.contents) {
        const std::uint64_t clusters = (content.size() + clusterBytes - 1) / clusterBytes;
        m.fileSectors += clusters * g.sectorsPerCluster;
        if (clusters > 0) ++m.calls;
    }
    m.sectors = m.systemArea + m.fileSectors + 1;
    return m;
}

std::uint64_t sectorsOf(std::uint64_t bytes) {
    return (bytes + fat::kSectorSize - 1) / fat::kSectorSize;
}

struct Tally {
    std::uint64_t calls = 0;
    std::uint64_t sectors = 0;
    void add(std::uint64_t bytes) {
        ++calls;
        sectors += sectorsOf(bytes);
    }
};

// One build under strace, on an image in the timing's image folder.
struct Traced {
    std::uint64_t writeCalls = 0;  // on the image
    std::uint64_t writeBytes = 0;
    std::uint64_t hostFlushes = 0;   // fsync, fdatasync, syncfs or sync_file_range of a host file
    std::uint64_t driveFlushes = 0;  // the same on the image
    double hostFlushMs = 0;          // time spent in those calls, from strace -T (a median)
    double driveFlushMs = 0;
    std::uint64_t systemCalls = 0;  // of every kind, from strace -c
};

bool isFlush(const std::string& call) {
    return call == "fsync" || call == "fdatasync" || call == "syncfs" || call == "sync" ||
           call == "sync_file_range" || call == "msync";
}

// The writes and flushes of a build according to strace, or none without strace.
std::optional<Traced> straceBuild(const Options& options, const Scratch& s, const Sample& sample) {
    const auto strace = bench::findOnPath("strace");
    if (!strace) return std::nullopt;
    const fs::path image = s.images / "traced.img";
    auto traceOnce = [&](std::vector<std::string> how, const std::string& log) {
        makeBlankImage(image);
        bench::RunSpec spec = cliRun(options, s, sample, image);
        how.insert(how.begin(), *strace);
        how.insert(how.end(), {"-o", log});
        spec.argv.insert(spec.argv.begin(), how.begin(), how.end());
        const bench::RunOutcome outcome = bench::runProcess(spec);
        if (outcome.exitStatus != 0) {
            die("quenvol-cli under strace stopped (" + outcome.how + "):\n" +
                logText(spec.outputFile));
        }
    };
    // The counts of one traced build; the waits, which vary with the disk from one build to
    // the next, the median of several.
    constexpr int kTracedBuilds = 7;
    Traced traced;
    std::vector<double> hostWaits, driveWaits;
    const std::string log = (s.logs / "strace.log").string();
    const std::string tag = "<" + image.string() + ">";
    for (int build = 0; build < kTracedBuilds; ++build) {
        Traced one;
        traceOnce({"-f", "-qq", "-y", "-T", "-e",
                   "trace=write,pwrite64,writev,pwritev,pwritev2,fsync,fdatasync,syncfs,sync,"
                   "sync_file_range,msync"},
                  log);
        // Lines look like: 123 pwrite64(3</path/traced.img>, "..."..., 512, 0) = 512 <0.000012>
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            const std::size_t open = line.find('(');
            if (open == std::string::npos || line.find("resumed>") != std::string::npos) continue;
            std::size_t start = line.find_last_of(' ', open);
            start = start == std::string::npos ? 0 : start + 1;
            const std::string call = line.substr(start, open - start);
            const std::size_t fd = line.find('<', open);
            const bool onImage = fd != std::string::npos && line.compare(fd, tag.size(), tag) == 0;
            if (isFlush(call)) {
                ++(onImage ? one.driveFlushes : one.hostFlushes);
                // The call's duration ends the line: "= 0 <0.000613>".
                const std::size_t took = line.rfind('<');
                const double ms =
                    took == std::string::npos ? 0 : std::atof(line.c_str() + took + 1) * 1000;
                (onImage ? one.driveFlushMs : one.hostFlushMs) += ms;
                continue;
            }
            if (!onImage) continue;
            const std::size_t eq = line.rfind(" = ");
            if (eq == std::string::npos) continue;
            const long long n = std::atoll(line.c_str() + eq + 3);  // stops at the duration
            if (n < 0) continue;
            ++one.writeCalls;
            one.writeBytes += static_cast<std::uint64_t>(n);
        }
        if (build == 0) traced = one;
        hostWaits.push_back(one.hostFlushMs);
        driveWaits.push_back(one.driveFlushMs);
    }
    traced.hostFlushMs = median(hostWaits);
    traced.driveFlushMs = median(driveWaits);
    // The summary ends with: 100.00  0.001  1  1031  12 total
    const std::string summary = (s.logs / "strace-summary.log").string();
    traceOnce({"-f", "-c"}, summary);
    std::ifstream sums(summary);
    for (std::string line; std::getline(sums, line);) {
        if (line.size() < 5 || line.compare(line.size() - 5, 5, "total") != 0) continue;
        double percent = 0, seconds = 0;
        unsigned long long usecs = 0, calls = 0;
        if (std::sscanf(line.c_str(), "%lf %lf %llu %llu", &percent, &seconds, &usecs, &calls) ==
            4) {
            traced.systemCalls = calls;
        }
    }
    removeImage(image);
    return traced;
}

// A loop device over an image, held open: it detaches itself when the last holder closes
// it, so that no loop device is left behind when the bench is stopped, however.
struct Loop {
    std::string path;
    int fd = -1;
};

void release(Loop& loop) {
    if (loop.fd >= 0) ::close(loop.fd);
    loop.fd = -1;
    if (std::find(g_loops.begin(), g_loops.end(), loop.path) != g_loops.end()) {
        detachLoop(loop.path);
    }
}

// A loop device over `image`, or none where none can be made (not the superuser, no loop
// driver, no losetup).
std::optional<Loop> attachLoop(const Scratch& s, const fs::path& image) {
    if (!bench::findOnPath("losetup")) return std::nullopt;
    bench::RunSpec spec;
    spec.argv = {"losetup", "--find", "--show", image.string()};
    spec.outputFile = (s.logs / "losetup.log").string();
    if (bench::runProcess(spec).exitStatus != 0) return std::nullopt;
    std::ifstream in(spec.outputFile);
    Loop loop;
    std::getline(in, loop.path);
    if (loop.path.rfind("/dev/", 0) != 0) return std::nullopt;
    g_loops.push_back(loop.path);
    loop.fd = ::open(loop.path.c_str(), O_RDONLY | O_CLOEXEC);
    loop_info64 info{};
    if (loop.fd >= 0 && ::ioctl(loop.fd, LOOP_GET_STATUS64, &info) == 0) {
        info.lo_flags |= LO_FLAGS_AUTOCLEAR;
        if (::ioctl(loop.fd, LOOP_SET_STATUS64, &info) == 0) std::erase(g_loops, loop.path);
    }
    return loop;
}

// Why no loop device can be made here (not the superuser, no loop driver, no losetup), or empty
// where one can.
std::string g_noLoopDevice;

std::string whyNoLoopDevice(const Scratch& s) {
    if (!bench::findOnPath("losetup")) return "losetup is not installed";
    const fs::path image = s.root / "loop-probe.img";
    makeBlankImage(image);
    std::optional<Loop> loop = attachLoop(s, image);
    if (loop) release(*loop);
    removeImage(image);
    if (loop) return {};
    if (::geteuid() != 0) return "the bench does not run as the superuser";
    return "losetup could not attach one: " + logText((s.logs / "losetup.log").string());
}

// Loop devices over `images`, one each, or the bench stops.
std::vector<Loop> attachLoops(const Scratch& s, const std::vector<fs::path>& images) {
    std::vector<Loop> loops;
    for (const fs::path& image : images) {
        std::optional<Loop> loop = attachLoop(s, image);
        if (!loop) {
            for (Loop& made : loops) release(made);
            die("no loop device could be attached to " + image.string() + ": " +
                logText((s.logs / "losetup.log").string()));
        }
        loops.push_back(*loop);
    }
    return loops;
}

// Fresh blank images for a run on `count` drives: `tag`-1.img, `tag`-2.img and so on in `folder`.
std::vector<fs::path> blankImages(const fs::path& folder, const std::string& tag, int count) {
    std::vector<fs::path> images;
    for (int i = 1; i <= count; ++i) {
        images.push_back(folder / (tag + "-" + std::to_string(i) + ".img"));
        makeBlankImage(images.back());
    }
    return images;
}

// quenvol-cli --yes with a --drive for each of `drives`: on one drive it builds there directly;
// on two or more it builds once into a private image and copies that to every drive at once.
bench::RunSpec onDrivesRun(const Options& options, const Scratch& s, const Sample& sample,
                           const std::vector<std::string>& drives, const std::string& log) {
    bench::RunSpec command;
    command.argv = {options.cli, "--yes"};
    for (const std::string& drive : drives)
        command.argv.insert(command.argv.end(), {"--drive", drive});
    command.argv.push_back(sample.project.string());
    command.workingDir = s.kit.string();
    command.env = cliEnv(s);
    command.outputFile = (s.logs / log).string();
    return command;
}

// Every diskette a run made must be the sample's, or the bench stops.
void checkDiskettes(const std::vector<fs::path>& images, const Sample& sample,
                    const std::string& who) {
    for (const fs::path& image : images) {
        if (std::string wrong = checkImage(image, sample); !wrong.empty()) {
            die(who + ": the diskette in " + image.string() + " is wrong: " + wrong);
        }
    }
}

// One run of quenvol-cli on `count` fresh blank drives: image files in the timing's image
// folder, or loop devices over them; each diskette checked afterwards.
Timed timeOnDrives(const Options& options, const Scratch& s, const Sample& sample,
                   const std::string& tag, int count, bool loopDevices) {
    const std::vector<fs::path> images = blankImages(s.images, tag, count);
    std::vector<Loop> loops;
    if (loopDevices) loops = attachLoops(s, images);
    std::vector<std::string> drives;
    for (std::size_t i = 0; i < images.size(); ++i)
        drives.push_back(loopDevices ? loops[i].path : images[i].string());
    const bench::RunSpec command = onDrivesRun(options, s, sample, drives, tag + ".log");
    const bench::RunOutcome outcome = bench::runProcess(command);
    for (Loop& loop : loops) release(loop);
    if (outcome.exitStatus != 0) {
        die("quenvol-cli on " + std::to_string(count) + " drives (" + tag + ") stopped (" +
            outcome.how + "):\n" + logText(command.outputFile));
    }
    checkDiskettes(images, sample, "quenvol-cli on " + std::to_string(count) + " drives");
    return {outcome.elapsed, outcome.cpu, outcome.maxRssKiB};
}

// What one worker of a run on several drives does, alone: quenvol-cli --copy-image from the
// image of a built diskette to a fresh blank image, written, read back past the cache and
// compared.
Timed timeCopyWorker(const Options& options, const Scratch& s, const Sample& sample,
                     const fs::path& built) {
    const fs::path image = s.images / "copy.img";
    makeBlankImage(image);
    bench::RunSpec command;
    command.argv = {
        options.cli, "--copy-image", built.string(), "--drive", image.string(), "--count", "1"};
    command.workingDir = s.kit.string();
    command.env = cliEnv(s);
    command.outputFile = (s.logs / "copy.log").string();
    const bench::RunOutcome outcome = bench::runProcess(command);
    if (outcome.exitStatus != 0) {
        die("quenvol-cli --copy-image stopped (" + outcome.how + "):\n" +
            logText(command.outputFile));
    }
    checkDiskettes({image}, sample, "quenvol-cli --copy-image");
    return {outcome.elapsed, outcome.cpu, outcome.maxRssKiB};
}

struct Timings {
    std::vector<double> cliMs;
    std::vector<double> startMs;  // quenvol-cli --version: starting the program, no build
    std::vector<double> pipeMs;
    std::vector<double> cliCpuMs;
    std::vector<double> pipeCpuMs;
    std::vector<double> cliRssKiB;
    long pipelineRssKiB = 0;
    std::vector<double> severalMs;      // quenvol-cli on four image files at once
    std::vector<double> copyMs;         // one worker's copy alone
    std::vector<double> loopOneMs;      // quenvol-cli on one loop device
    std::vector<double> loopSeveralMs;  // on four at once
};

// One alternating run: each round builds once each way in each image folder, each on a fresh
// blank image, so that every figure sees the same load; after one untimed build of each, so
// that all start from a warm cache.
std::vector<Timings> timeAll(const Options& options, const std::vector<Scratch>& scratches,
                             const Sample& sample) {
    std::vector<Timings> all(scratches.size());
    for (int run = -1; run < options.runs; ++run) {
        for (std::size_t i = 0; i < scratches.size(); ++i) {
            const Scratch& s = scratches[i];
            const Timed cli = timeCli(options, s, sample, s.images / "cli.img");
            const Timed pipe = timePipeline(s, sample, s.images / "pipeline.img");
            const Timed start = timeStart(options, s);
            const Timed several =
                timeOnDrives(options, s, sample, "several", kSeveralDrives, false);
            // The diskette just built stands for the private image a run on several drives copies.
            fs::copy_file(s.images / "cli.img", s.images / "built.img",
                          fs::copy_options::overwrite_existing);
            const Timed copy = timeCopyWorker(options, s, sample, s.images / "built.img");
            std::optional<Timed> loopOne, loopSeveral;
            if (g_noLoopDevice.empty()) {
                loopOne = timeOnDrives(options, s, sample, "loop-one", 1, true);
                loopSeveral =
                    timeOnDrives(options, s, sample, "loop-several", kSeveralDrives, true);
            }
            if (run < 0) continue;
            Timings& t = all[i];
            t.startMs.push_back(milliseconds(start.elapsed));
            t.cliMs.push_back(milliseconds(cli.elapsed));
            t.pipeMs.push_back(milliseconds(pipe.elapsed));
            t.cliCpuMs.push_back(milliseconds(cli.cpu));
            t.pipeCpuMs.push_back(milliseconds(pipe.cpu));
            t.cliRssKiB.push_back(static_cast<double>(cli.maxRssKiB));
            t.pipelineRssKiB = std::max(t.pipelineRssKiB, pipe.maxRssKiB);
            t.severalMs.push_back(milliseconds(several.elapsed));
            t.copyMs.push_back(milliseconds(copy.elapsed));
            if (loopOne) t.loopOneMs.push_back(milliseconds(loopOne->elapsed));
            if (loopSeveral) t.loopSeveralMs.push_back(milliseconds(loopSeveral->elapsed));
        }
    }
    for (const Scratch& s : scratches) {
        removeImage(s.images / "cli.img");
        removeImage(s.images / "pipeline.img");
        removeImage(s.images / "built.img");
        removeImage(s.images / "copy.img");
        for (const char* tag : {"several", "loop-one", "loop-several"})
            for (int i = 1; i <= kSeveralDrives; ++i)
                removeImage(s.images / (std::string(tag) + "-" + std::to_string(i) + ".img"));
    }
    return all;
}

// What the build record's digest of a whole 1.44 MB image costs in processor time, which
// an image-file build pays and a device build does not.
void timeWholeDigest(int runs) {
    std::vector<std::uint8_t> image(kBlankImageBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131);
    std::vector<double> ms;
    for (int run = 0; run < std::max(runs, 1); ++run) {
        const auto start = std::chrono::steady_clock::now();
        const std::string hex = platform::sha256Hex(image);
        ms.push_back(milliseconds(std::chrono::steady_clock::now() - start));
        if (hex.size() != 64) die("the SHA-256 of an image is not 64 hex digits");
    }
    say("SHA-256 of a whole 1.44 MB image (the build record's disk_sha256, image files only)\n"
        "  median %.2f ms\n\n",
        median(ms));
    figure("digest_whole_image", median(ms), "ms");
}

void printTimings(const Timings& t, const Scratch& s) {
    const bool memory = inMemory(s.images.string());
    const std::string where = memory ? "memory" : "disk";
    say("Build time with the images %s (%s), the folders on disk (%s), load average %s\n",
        memory ? "in memory" : "on disk", s.images.c_str(), s.root.c_str(), loadAverage().c_str());
    printTimes("quenvol-cli", t.cliMs);
    printTimes("mtools pipeline", t.pipeMs);
    const double speedUp = median(t.pipeMs) / median(t.cliMs);
    say("  quenvol-cli is %.2f times as fast   (target: at least %.0f)  %s\n", speedUp,
        kSpeedTarget, verdict(speedUp >= kSpeedTarget));
    // Processor time does not wait for the medium or for other programs: it shows the work.
    const double cpuRatio = median(t.pipeCpuMs) / median(t.cliCpuMs);
    say("  processor time  quenvol-cli %.2f ms, pipeline %.2f ms: %.2f times less\n",
        median(t.cliCpuMs), median(t.pipeCpuMs), cpuRatio);
    say("  quenvol-cli --version (starting the program, no build): median %.2f ms\n\n",
        median(t.startMs));
    std::fflush(g_text);
    figure("build_time_" + where + "_quenvol_cli", median(t.cliMs), "ms");
    figure("build_time_" + where + "_mtools_pipeline", median(t.pipeMs), "ms");
    figure("build_speedup_" + where, speedUp, "times", Figure::Bound::AtLeast, kSpeedTarget);
    figure("build_cpu_" + where + "_quenvol_cli", median(t.cliCpuMs), "ms");
    figure("build_cpu_" + where + "_mtools_pipeline", median(t.pipeCpuMs), "ms");
    figure("start_time_" + where + "_quenvol_cli", median(t.startMs), "ms");

    say("quenvol-cli on %d drives at once (--drive given %d times) against one drive alone, in\n"
        "the same alternating run, the images %s\n",
        kSeveralDrives, kSeveralDrives, memory ? "in memory" : "on disk");
    printTimes("1 image file", t.cliMs);
    printTimes("4 image files", t.severalMs);
    const double ratio = median(t.severalMs) / median(t.cliMs);
    say("  %d drives take %.2f times as long as one   (target: at most %.1f)  %s\n", kSeveralDrives,
        ratio, kSeveralDrivesTimeTarget, verdict(ratio <= kSeveralDrivesTimeTarget));
    printTimes("one copy alone", t.copyMs);
    say("  %-17s (quenvol-cli --copy-image of the built diskette: what each worker does)\n", "");
    figure("several_drives_time_" + where + "_four_images", median(t.severalMs), "ms");
    figure("several_drives_ratio_" + where, ratio, "ratio", Figure::Bound::AtMost,
           kSeveralDrivesTimeTarget);
    figure("copy_worker_time_" + where, median(t.copyMs), "ms");
    if (t.loopOneMs.empty()) {
        say("  on loop devices: not timed, no loop device can be made (%s)\n\n",
            g_noLoopDevice.c_str());
        figure("several_drives_loop_ratio_" + where, std::nan(""), "ratio");
    } else {
        printTimes("1 loop device", t.loopOneMs);
        printTimes("4 loop devices", t.loopSeveralMs);
        const double loopRatio = median(t.loopSeveralMs) / median(t.loopOneMs);
        say("  %d loop devices take %.2f times as long as one   (target: at most %.1f)  %s\n\n",
            kSeveralDrives, loopRatio, kSeveralDrivesTimeTarget,
            verdict(loopRatio <= kSeveralDrivesTimeTarget));
        figure("several_drives_time_" + where + "_one_loop_device", median(t.loopOneMs), "ms");
        figure("several_drives_time_" + where + "_four_loop_devices", median(t.loopSeveralMs),
               "ms");
        figure("several_drives_loop_ratio_" + where, loopRatio, "ratio", Figure::Bound::AtMost,
               kSeveralDrivesTimeTarget);
    }
    std::fflush(g_text);
}

enum class Target { ImageFile, Device };

// How the device runs were recorded, for the text.
std::string g_deviceRecording;

// One run of quenvol-cli on a fresh blank image, with every transfer on drive A: recorded.
// For a device the image is behind a loop device; where none can be made, the run on the
// image is recorded and turned into what a device would have been sent.
bench::RecordedRun recordOn(const Scratch& s, const std::string& name,
                            std::vector<std::string> args, Target target = Target::ImageFile) {
    const std::string tag = name + (target == Target::Device ? "-device" : "");
    const fs::path image = s.root / (tag + ".img");
    makeBlankImage(image);
    std::optional<Loop> loop;
    if (target == Target::Device) loop = attachLoop(s, image);
    args.insert(args.begin(), {"--drive", loop ? loop->path : image.string()});
    const std::string log = (s.logs / (tag + ".log")).string();
    bench::RecordedRun run = bench::recordRun(args, s.kit.string(), cliEnv(s), log);
    if (loop) release(*loop);
    if (!run.how.empty()) die(run.how);
    if (run.exitStatus != 0) {
        die("the recorded run '" + tag + "' stopped (exit status " +
            std::to_string(run.exitStatus) + "):\n" + logText(log));
    }
    if (target == Target::Device) {
        if (loop) {
            g_deviceRecording = "a loop device over a blank image";
        } else {
            g_deviceRecording = "no loop device could be made: the image file's record as a device";
            run.transfers = bench::asOnDevice(run.transfers, kBlankImageBytes);
        }
    }
    return run;
}

void printWrites(const Options& options, const Scratch& s, const Sample& sample,
                 const bench::RecordedRun& recorded, const Scratch* onDisk) {
    const fs::path image = s.root / "minidos-device.img";
    if (std::string wrong = checkImage(image, sample); !wrong.empty()) {
        die("the recorded build's image is wrong: " + wrong);
    }
    auto device = fat::MemoryDevice::loadFile(image.string());
    if (!device) die(device.message());
    auto volume = fat::Volume::mount(*device);
    if (!volume) die(volume.message());
    const fat::Geometry& g = volume->geometry();
    const Minimum least = minimumFor(g, sample);
    const std::uint64_t fatEnd = g.reservedSectors + std::uint64_t{g.fatCount} * g.sectorsPerFat;

    // The format is whatever the build writes before the first file data.
    Tally all, format, boot, data, fats, root;
    bool dataSeen = false;
    for (const bench::Transfer& w : recorded.writes()) {
        const std::uint64_t first = w.offset / fat::kSectorSize;
        all.add(w.bytes);
        dataSeen = dataSeen || first >= least.systemArea;
        if (!dataSeen) {
            format.add(w.bytes);
        } else if (first == 0) {
            boot.add(w.bytes);
        } else if (first < fatEnd) {
            fats.add(w.bytes);
        } else if (first < least.systemArea) {
            root.add(w.bytes);
        } else {
            data.add(w.bytes);
        }
    }
    auto u = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    const double sectorRatio =
        static_cast<double>(all.sectors) / static_cast<double>(least.sectors);
    const double callRatio = static_cast<double>(all.calls) / static_cast<double>(least.calls);
    say("Writes to drive A: in one build (recorded on the drive, in process, on %s)\n",
        g_deviceRecording.c_str());
    say("  sectors written %5llu   least %llu: system area %llu, file clusters %llu, "
        "sector 0\n",
        u(all.sectors), u(least.sectors), u(least.systemArea), u(least.fileSectors));
    say("  ratio           %7.3f   (target: at most %.1f)  %s\n", sectorRatio, kSectorRatioTarget,
        verdict(sectorRatio <= kSectorRatioTarget));
    say("  write calls     %5llu   least %llu   ratio %.2f\n", u(all.calls), u(least.calls),
        callRatio);
    say("  by place        format %llu/%llu, file data %llu/%llu, FATs %llu/%llu, "
        "root directory %llu/%llu,\n"
        "                  boot sector %llu/%llu   (calls/sectors)\n",
        u(format.calls), u(format.sectors), u(data.calls), u(data.sectors), u(fats.calls),
        u(fats.sectors), u(root.calls), u(root.sectors), u(boot.calls), u(boot.sectors));
    say("  flushes         %5u\n", recorded.flushes());
    figure("sectors_written", static_cast<double>(all.sectors), "sectors");
    figure("sectors_least", static_cast<double>(least.sectors), "sectors");
    figure("sector_ratio", sectorRatio, "ratio", Figure::Bound::AtMost, kSectorRatioTarget);
    figure("write_calls", static_cast<double>(all.calls), "calls");
    figure("drive_flushes", recorded.flushes(), "flushes");
    if (auto traced = straceBuild(options, s, sample)) {
        const bool agrees =
            traced->writeCalls == all.calls && traced->writeBytes == all.sectors * fat::kSectorSize;
        say("  strace of a build: %llu write calls, %llu bytes on the image  (%s)\n\n",
            u(traced->writeCalls), u(traced->writeBytes),
            agrees ? "agrees" : "DIFFERS from the count above");
        say("Waits and system calls of one build (strace -f, image in %s; the waits the median of "
            "7 builds)\n",
            s.images.c_str());
        say("  flushes of host files    %3llu   (target: at most %.0f)  %s   waited %.2f ms\n",
            u(traced->hostFlushes), kHostFlushTarget,
            verdict(static_cast<double>(traced->hostFlushes) <= kHostFlushTarget),
            traced->hostFlushMs);
        say("  flushes of drive A:      %3llu   waited %.2f ms\n", u(traced->driveFlushes),
            traced->driveFlushMs);
        say("  system calls            %4llu\n", u(traced->systemCalls));
        figure("flushes_host", static_cast<double>(traced->hostFlushes), "flushes",
               Figure::Bound::AtMost, kHostFlushTarget);
        figure("flushes_drive_a", static_cast<double>(traced->driveFlushes), "flushes");
        figure("flush_wait_host", traced->hostFlushMs, "ms");
        figure("flush_wait_drive_a", traced->driveFlushMs, "ms");
        figure("system_calls", static_cast<double>(traced->systemCalls), "calls");
        // Drive A:'s flushes cost nothing in memory; on disk they wait for it.
        if (onDisk != nullptr) {
            if (auto disk = straceBuild(options, *onDisk, sample)) {
                say("  with the image on disk (%s): host files waited %.2f ms, drive A: %.2f ms\n",
                    onDisk->images.c_str(), disk->hostFlushMs, disk->driveFlushMs);
                figure("flush_wait_host_image_on_disk", disk->hostFlushMs, "ms");
                figure("flush_wait_drive_a_image_on_disk", disk->driveFlushMs, "ms");
            }
        }
    } else {
        say("  (strace is not installed: no cross-check of the count, no flushes or system "
            "calls counted)\n");
    }
    say("\n");
    std::fflush(g_text);
}

std::uint32_t flushesIn(const std::vector<bench::Transfer>& transfers) {
    return static_cast<std::uint32_t>(std::count_if(
        transfers.begin(), transfers.end(),
        [](const bench::Transfer& t) { return t.kind == bench::Transfer::Kind::Flush; }));
}

// The transfers of a device run through the drive model, against the least time for its
// sectors; and apart, what the same run costs more on an image file. Returns the modelled time.
double modelRun(const char* title, const std::string& name, const bench::RecordedRun& device,
                const bench::RecordedRun& imageFile, Figure::Bound bound, double target) {
    const bench::Modelled modelled = bench::replay(device.transfers);
    // The least time reads back what the run reads back past the cache, and nothing more.
    const std::set<std::uint32_t> readBack = bench::readBackOf(device.transfers);
    const bool readsBack = !readBack.empty();
    const double least = bench::leastMs(modelled.written, readBack);
    const double ratio = modelled.ms / least;
    say("  %-27s %7.2f s   least %6.2f s   ratio %.2f", title, modelled.ms / 1000, least / 1000,
        ratio);
    if (bound != Figure::Bound::None) {
        say("   (target: at most %.1f)  %s", target, verdict(ratio <= target));
    }
    say("\n  %-27s %zu sectors written, %llu read from the medium, %u seeks, %u flushes\n", "",
        modelled.written.size(), static_cast<unsigned long long>(modelled.sectorsRead),
        modelled.seeks, device.flushes());
    if (!readsBack) {
        say("  %-27s (it reads nothing back past the cache: no read-back on either side)\n", "");
    }
    const bench::Modelled onImage = bench::replay(imageFile.transfers);
    say("  %-27s on an image file: %.2f s, %lld sectors more read, %d flushes more\n", "",
        onImage.ms / 1000,
        static_cast<long long>(onImage.sectorsRead) - static_cast<long long>(modelled.sectorsRead),
        static_cast<int>(imageFile.flushes()) - static_cast<int>(device.flushes()));
    // Where the device run was recorded on a device, the image run turned into a device's
    // must give the same transfers.
    if (g_deviceRecording.rfind("a loop device", 0) == 0) {
        const auto turned = bench::asOnDevice(imageFile.transfers, kBlankImageBytes);
        const bench::Modelled asDevice = bench::replay(turned);
        const bool agrees =
            asDevice.sectorsRead == modelled.sectorsRead && asDevice.written == modelled.written &&
            flushesIn(turned) == device.flushes() && std::abs(asDevice.ms - modelled.ms) < 1e-6;
        say("  %-27s the image run taken as a device's %s the device run\n", "",
            agrees ? "agrees with" : "DIFFERS from");
    }
    figure("drive_" + name + "_modelled", modelled.ms / 1000, "s");
    figure("drive_" + name + "_least", least / 1000, "s");
    figure("drive_" + name + "_ratio", ratio, "ratio", bound, target);
    figure("drive_" + name + "_image_file_modelled", onImage.ms / 1000, "s");
    return modelled.ms;
}

// The drives of a traced run, each one's transfers through the drive model.
struct TracedRun {
    std::vector<bench::Modelled> modelled;
    std::vector<std::set<std::uint32_t>> readBack;
    std::vector<std::uint32_t> flushes;
};

// One run of quenvol-cli on `count` fresh blank drives under strace -f, each drive's transfers
// recorded whichever process made them (the run itself or a worker), and each diskette checked.
// With `retry` the drives are not named on the command line but listed as those that failed in
// the last run on several drives, for --retry-failed: so that one drive alone goes the way of a
// run on several.
TracedRun traceOnDrives(const Options& options, const Scratch& s, const Sample& sample,
                        const std::string& strace, const std::string& tag, int count,
                        bool loopDevices, bool retry) {
    const std::vector<fs::path> images = blankImages(s.root, tag, count);
    std::vector<Loop> loops;
    if (loopDevices) loops = attachLoops(s, images);
    // As the trace names them: absolute, links resolved.
    std::vector<std::string> drives;
    for (std::size_t i = 0; i < images.size(); ++i)
        drives.push_back(loopDevices ? loops[i].path : fs::canonical(images[i]).string());
    bench::RunSpec command =
        onDrivesRun(options, s, sample, retry ? std::vector<std::string>() : drives, tag + ".log");
    if (retry) {
        const fs::path folder = s.state / "quenvol";
        fs::create_directories(folder);
        std::ofstream list(folder / "failed-drives", std::ios::trunc);
        for (const std::string& drive : drives) list << drive << '\n';
        if (!list.flush()) die("cannot write " + (folder / "failed-drives").string());
        command.argv.insert(command.argv.begin() + 2, "--retry-failed");
    }
    const fs::path traces = s.logs / (tag + "-trace");
    fs::remove_all(traces);
    fs::create_directories(traces);
    std::vector<std::string> how = bench::straceTransferOptions((traces / "run").string());
    how.insert(how.begin(), strace);
    command.argv.insert(command.argv.begin(), how.begin(), how.end());
    const bench::RunOutcome outcome = bench::runProcess(command);
    for (Loop& loop : loops) release(loop);
    if (outcome.exitStatus != 0) {
        die("quenvol-cli on " + std::to_string(count) + " drives under strace (" + tag +
            ") stopped (" + outcome.how + "):\n" + logText(command.outputFile));
    }
    checkDiskettes(images, sample, "quenvol-cli on " + tag + " under strace");

    std::vector<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(traces))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    const bench::TracedDrives traced = bench::transfersInTrace(files, drives);
    if (!traced.how.empty()) die(traced.how);
    TracedRun run;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        const std::vector<bench::Transfer>& transfers = traced.transfers[i];
        if (transfers.empty()) die("strace saw no transfer on " + drives[i] + " (" + tag + ")");
        const bench::Modelled modelled = bench::replay(transfers);
        // A sector of the finished diskette that is not blank was written in the run: a record
        // that left out a process's writes, or a drive's, shows here.
        const std::vector<std::uint8_t> bytes = readBytes(images[i]);
        for (std::size_t at = 0; at < bytes.size(); at += fat::kSectorSize) {
            const auto sector = static_cast<std::uint32_t>(at / fat::kSectorSize);
            const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
            const bool blank =
                std::all_of(begin, begin + fat::kSectorSize, [](std::uint8_t b) { return b == 0; });
            if (!blank && modelled.written.count(sector) == 0) {
                die("sector " + std::to_string(sector) + " of " + drives[i] + " (" + tag +
                    ") holds data that no recorded write put there: the trace missed transfers");
            }
        }
        run.modelled.push_back(modelled);
        run.readBack.push_back(bench::readBackOf(transfers));
        run.flushes.push_back(flushesIn(transfers));
    }
    return run;
}

// A run on several drives in the drive model: the drives are independent, each serving its own
// transfers, so the run takes as long as its slowest drive; against one drive alone going the
// same way (built once into a private image, then copied), and, apart, against the one-drive
// build (`buildMs`, modelled above).
void modelSeveral(const Options& options, const Scratch& s, const Sample& sample, double buildMs) {
    say("%d drives at once in the same model, each drive serving its own transfers (the drives\n"
        "taken as independent): the slowest drive against one drive alone going the same way\n",
        kSeveralDrives);
    const auto strace = bench::findOnPath("strace");
    if (!strace) {
        say("  (strace is not installed: the workers' transfers cannot be recorded, so this is "
            "not modelled)\n\n");
        figure("drive_several_drives_ratio", std::nan(""), "ratio");
        return;
    }
    const bool loops = g_noLoopDevice.empty();
    say("  recorded with strace -f on the whole run (the run and its workers), on %s\n",
        loops ? "loop devices over\n  fresh blank images"
              : ("image files\n  (no loop device can be made: " + g_noLoopDevice +
                 "; an image is not read to see that a diskette is in, as a device is)")
                    .c_str());
    const TracedRun several =
        traceOnDrives(options, s, sample, *strace, "several", kSeveralDrives, loops, false);
    const TracedRun alone = traceOnDrives(options, s, sample, *strace, "alone", 1, loops, true);
    double slowest = 0;
    for (std::size_t i = 0; i < several.modelled.size(); ++i) {
        const bench::Modelled& m = several.modelled[i];
        say("  drive %zu of %d %12.2f s   %zu sectors written, %llu read from the medium, %u "
            "seeks, %u flushes\n",
            i + 1, kSeveralDrives, m.ms / 1000, m.written.size(),
            static_cast<unsigned long long>(m.sectorsRead), m.seeks, several.flushes[i]);
        slowest = std::max(slowest, m.ms);
    }
    const bench::Modelled& one = alone.modelled.front();
    const double least = bench::leastMs(one.written, alone.readBack.front());
    say("  one drive alone %9.2f s   %zu sectors written, %llu read from the medium, %u seeks, "
        "%u flushes\n"
        "  %-15s             (--retry-failed naming one drive; least %.2f s)\n",
        one.ms / 1000, one.written.size(), static_cast<unsigned long long>(one.sectorsRead),
        one.seeks, alone.flushes.front(), "", least / 1000);
    const double ratio = slowest / one.ms;
    say("  %d drives %.2f s against one %.2f s: ratio %.3f   (target: at most %.2f)  %s\n",
        kSeveralDrives, slowest / 1000, one.ms / 1000, ratio, kSeveralDrivesModelTarget,
        verdict(ratio <= kSeveralDrivesModelTarget));
    say("  against the one-drive build itself (sample MINIDOS build above, %.2f s): %.2f\n\n",
        buildMs / 1000, slowest / buildMs);
    figure("drive_several_drives_modelled", slowest / 1000, "s");
    figure("drive_one_drive_copy_modelled", one.ms / 1000, "s");
    figure("drive_several_drives_ratio", ratio, "ratio", Figure::Bound::AtMost,
           kSeveralDrivesModelTarget);
    figure("drive_several_drives_against_build_ratio", slowest / buildMs, "ratio");
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (options.json) g_text = stderr;
    if (!bench::findOnPath(options.cli)) die("quenvol-cli is not at " + options.cli);
    for (const char* tool : {"mformat", "mcopy", "dd", "sync"}) {
        if (!options.modelOnly && !bench::findOnPath(tool)) {
            die(std::string(tool) + " is not on PATH (packages mtools, coreutils)");
        }
    }

    Sample sample;
    sample.kit = fs::absolute(options.kit);
    sample.project = fs::absolute(options.project);
    std::uint64_t totalBytes = 0;
    for (const SampleFile& file : kSampleFiles) {
        sample.contents.push_back(readBytes(sample.sourceOf(file)));
        totalBytes += sample.contents.back().size();
    }
    sample.bootSector = readBytes(sample.kit / kBootImage);
    if (sample.bootSector.size() != fat::kSectorSize) {
        die(std::string(kBootImage) + " is not one sector");
    }

    say("Quenvol benchmarks: the sample MINIDOS diskette, %zu files, %llu bytes\n",
        std::size(kSampleFiles), static_cast<unsigned long long>(totalBytes));
    if (!options.modelOnly) {
        say("quenvol-cli --yes against mformat, %zu x mcopy -o, dd and sync --data; whole\n"
            "processes, %d runs of each in each image folder, all alternating in one run, a\n"
            "fresh blank image each run (untimed)\n\n",
            std::size(kSampleFiles), options.runs);
    }
    std::fflush(g_text);

    // The folders on disk, as a user's are; the images in each scratch folder.
    const Scratch folders = makeFolders(diskFolder(), sample);
    if (inMemory(folders.root.string())) {
        say("(the folders are in memory: %s is no disk)\n", folders.root.c_str());
    }
    std::vector<Scratch> scratches;
    for (const std::string& under : options.scratch) {
        Scratch s = folders;
        s.images = makeTemporaryFolder(under);
        scratches.push_back(s);
    }
    g_noLoopDevice = whyNoLoopDevice(folders);
    std::vector<double> cliRss;
    long pipelineRss = 0;
    if (!options.modelOnly) {
        const std::vector<Timings> timings = timeAll(options, scratches, sample);
        for (std::size_t i = 0; i < scratches.size(); ++i) {
            const Timings& t = timings[i];
            printTimings(t, scratches[i]);
            cliRss.insert(cliRss.end(), t.cliRssKiB.begin(), t.cliRssKiB.end());
            pipelineRss = std::max(pipelineRss, t.pipelineRssKiB);
        }
        timeWholeDigest(options.runs);
    }

    const Scratch& s = scratches.front();
    const std::vector<std::string> minidosArgs = {"--yes", sample.project.string()};
    // The near-capacity BIOS image is made-up bytes, which the payload checks doubt: accepted.
    const std::vector<std::string> fulldosArgs = {
        "--kind", "fulldos", "--yes", "--accept-payload-warnings", s.bigProject.string()};
    const std::vector<std::string> quickArgs = {"--kind", "format", "--yes"};
    const std::vector<std::string> fullArgs = {"--kind", "format", "--full", "--yes"};
    const bench::RecordedRun minidos = recordOn(s, "minidos", minidosArgs, Target::Device);
    const Scratch* onDisk = nullptr;
    for (const Scratch& each : scratches)
        if (!inMemory(each.images.string())) onDisk = &each;
    printWrites(options, s, sample, minidos, onDisk == &s ? nullptr : onDisk);

    say("A 1.44 MB drive (80 cylinders, 2 heads, 18 sectors a track, 300 rpm, 3 ms a step,\n"
        "15 ms to settle, 500 ms to spin up) doing what each run asked of drive A: as a floppy\n"
        "device (%s), in order\n",
        g_deviceRecording.c_str());
    const double minidosMs =
        modelRun("sample MINIDOS build", "minidos", minidos, recordOn(s, "minidos", minidosArgs),
                 Figure::Bound::AtMost, kBuildDriveRatioTarget);
    modelRun("FULLDOS build near capacity", "fulldos_near_capacity",
             recordOn(s, "fulldos", fulldosArgs, Target::Device),
             recordOn(s, "fulldos", fulldosArgs), Figure::Bound::AtMost, kBuildDriveRatioTarget);
    modelRun("quick format", "quick_format", recordOn(s, "quick", quickArgs, Target::Device),
             recordOn(s, "quick", quickArgs), Figure::Bound::None, 0);
    modelRun("full format", "full_format", recordOn(s, "full", fullArgs, Target::Device),
             recordOn(s, "full", fullArgs), Figure::Bound::AtMost, kFullFormatRatioTarget);
    say("\n");
    modelSeveral(options, s, sample, minidosMs);

    if (!options.modelOnly) {
        const double peakMiB = *std::max_element(cliRss.begin(), cliRss.end()) / 1024.0;
        say("Peak memory of one build (resident set, from wait4)\n");
        say("  quenvol-cli     %6.2f MiB at most, median %.2f MiB   (target: under %.0f MiB)  "
            "%s\n",
            peakMiB, median(cliRss) / 1024.0, kPeakMemoryTargetMiB,
            verdict(peakMiB < kPeakMemoryTargetMiB));
        say("  mtools pipeline %6.2f MiB, its largest process\n",
            static_cast<double>(pipelineRss) / 1024.0);
        figure("peak_memory_quenvol_cli", peakMiB, "MiB", Figure::Bound::Below,
               kPeakMemoryTargetMiB);
    }

    for (const std::string& root : g_scratchRoots) {
        if (options.keep) {
            say("\nImages and logs kept in %s\n", root.c_str());
        } else {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    }
    if (options.json) printJson();
    return 0;
}
