// A few hundred builds of random projects onto random diskettes: file sizes up to and past
// the capacity, names in either case, files already on the diskette. Each outcome is
// predicted from the inputs alone, and each image is checked by fsck.fat, read back by
// mtools byte for byte, and checked for what fsck.fat does not look at.
//
// QUENVOL_HARDENING_SEED and QUENVOL_HARDENING_BUILDS replay or widen a run; the seed and the
// build number are printed with every failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hardening/build_fixture.h"
#include "hardening/image_checks.h"
#include "support/fat_tools.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultBuilds = 40;  // the sanitizer build runs the same paths, more slowly
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kDefaultBuilds = 40;
#else
constexpr int kDefaultBuilds = 200;
#endif
#else
constexpr int kDefaultBuilds = 200;
#endif

constexpr std::uint32_t kClusters = 2847;  // data clusters of a 1.44 MB diskette, 512 bytes each
constexpr std::uint64_t kClusterBytes = 512;

std::uint32_t envNumber(const char* name, std::uint32_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0'
               ? static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10))
               : fallback;
}

std::uint32_t clustersOf(std::size_t bytes) {
    return static_cast<std::uint32_t>((bytes + kClusterBytes - 1) / kClusterBytes);
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// One random build: its inputs and the outcome they call for.
struct Scenario {
    bool zyplet16 = false;
    int kind = 0;  // 0 MINIDOS, 1 FULLDOS
    bool format = true;
    bool hasVgabios = false;
    std::map<std::string, Bytes> startFiles;
    std::map<std::string, Bytes> projectFiles;
    std::map<std::string, Bytes> onDiskette;  // before the build, by capital name

    // The prediction.
    std::optional<std::string> failsAt;  // the listed file whose copy must fail
    bool tooLarge = false;  // the list cannot fit an empty diskette: refused before the format
    bool badFile = false;   // a file of the list is missing or empty: refused before the format
    std::map<std::string, Bytes> afterBuild;  // the diskette's files, by capital name
    std::uint32_t freeClustersAfter = 0;
};

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : m_rng(seed) {}

    bool chance(double p) { return std::uniform_real_distribution<>(0, 1)(m_rng) < p; }
    std::size_t between(std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(m_rng);
    }
    // Mostly small files, now and then one large enough to threaten the capacity.
    std::size_t fileSize(bool mayBeEmpty) {
        if (chance(0.12)) return between(200'000, 1'500'000);
        if (mayBeEmpty && chance(0.05)) return 0;
        return between(1, 90'000);
    }
    std::string anyCase(const std::string& name) {
        std::string out = name;
        const int style = static_cast<int>(between(0, 2));
        for (char& c : out) {
            const bool up = style == 0 ? false : style == 1 ? true : chance(0.5);
            c = static_cast<char>(up ? std::toupper(static_cast<unsigned char>(c))
                                     : std::tolower(static_cast<unsigned char>(c)));
        }
        return out;
    }
    Bytes bytes(std::size_t size) { return patternBytes(size, m_next++ * 7919 + m_rng()); }
    // A BIOS image the payload checks find plausible: a flash chip's size (now and then one
    // too large for the diskette), the part number inside, a legacy image's end.
    Bytes image(const std::string& pn) {
        static constexpr std::size_t kSizes[] = {65536, 131072, 262144, 1048576, 2097152};
        Bytes b = bytes(kSizes[chance(0.12) ? between(3, 4) : between(0, 2)]);
        fattools::markPlausible(b, pn);
        return b;
    }
    std::string partNumber() {
        static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::string pn;
        for (int i = 0; i < 3; ++i) pn += kChars[between(0, sizeof kChars - 2)];
        return pn;
    }
    std::string shortName() {
        static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
        std::string base;
        for (std::size_t i = 0, n = between(1, 8); i < n; ++i) {
            base += kChars[between(0, sizeof kChars - 2)];
        }
        std::string ext;
        for (std::size_t i = 0, n = between(0, 3); i < n; ++i) {
            ext += kChars[between(0, 25)];
        }
        return ext.empty() ? base : base + "." + ext;
    }

  private:
    std::mt19937 m_rng;
    std::uint32_t m_next = 1;
};

Scenario makeScenario(Generator& g) {
    Scenario s;
    s.zyplet16 = g.chance(0.25);
    s.kind = g.chance(0.6) ? 0 : 1;
    s.format = g.chance(0.7);

    // The start directory: the fixed files of every diskette, in any case.
    const Bytes minidos = g.bytes(g.fileSize(true));
    const Bytes utility = g.bytes(g.fileSize(true));
    s.startFiles[g.anyCase("minidos.sys")] = minidos;
    s.startFiles[g.anyCase(s.zyplet16 ? "zyplet16.exe" : "zyplet.exe")] = utility;
    s.startFiles[g.anyCase("crisboot.bin")] = sampleBootSector();

    // The project folder: the part number names the images; the test image wins over the
    // development image, which wins over the first candidate.
    const std::string pn = g.partNumber();
    std::string partnum = "# random project\r\n";
    if (g.chance(0.5)) partnum += "BUILD = 7\r\n";
    partnum += "PARTNUM = " + pn + "\r\n";
    s.projectFiles[g.anyCase("partnum.mak")] = Bytes(partnum.begin(), partnum.end());
    const Bytes platform = g.bytes(std::max<std::size_t>(1, g.fileSize(false)));
    s.projectFiles[g.anyCase("platform.bin")] = platform;
    std::optional<Bytes> image;
    if (g.chance(0.3)) {
        image = g.image(pn);
        s.projectFiles[g.anyCase("qv" + pn + "x01.rom")] = *image;
    }
    const bool devel = g.chance(0.7);
    const bool test = !devel || g.chance(0.5);
    if (devel) {
        image = g.image(pn);
        s.projectFiles[g.anyCase("devel" + pn + ".rom")] = *image;
    }
    if (test) {
        image = g.image(pn);
        s.projectFiles[g.anyCase("test" + pn + ".rom")] = *image;
    }
    std::optional<Bytes> flashable;
    if (s.zyplet16 || g.chance(0.3)) {
        flashable = g.image(pn);
        s.projectFiles[g.anyCase("flashabl.rom")] = *flashable;
    }
    std::optional<Bytes> vgabios;
    if (g.chance(0.85)) {
        vgabios = g.bytes(g.fileSize(true));
        s.projectFiles[g.anyCase("vgabios.exe")] = *vgabios;
        s.hasVgabios = true;
    }

    // Files already on the diskette, some under the names the build writes.
    static const char* const kListed[] = {"MINIDOS.SYS", "BIOS.ROM", "VGABIOS.EXE", "PLATFORM.BIN",
                                          "BIOS.QVX"};
    for (std::size_t i = 0, n = g.between(0, 4); i < n; ++i) {
        const std::string name = g.chance(0.4) ? kListed[g.between(0, 4)] : g.shortName();
        const std::size_t size = g.chance(0.1) ? g.between(400'000, 900'000) : g.between(0, 60'000);
        std::uint32_t used = 0;
        for (const auto& [other, bytes] : s.onDiskette) used += clustersOf(bytes.size());
        if (used + clustersOf(size) > kClusters - 64) break;  // mcopy needs them to fit
        s.onDiskette[name] = g.bytes(size);
    }

    // The prediction: the list's files in order, each replacing one of its name, until one
    // is missing or finds too little room; only a missing vgabios.exe is passed over.
    std::vector<std::pair<std::string, std::optional<Bytes>>> list;
    if (s.zyplet16) {
        list = {{"minidos.sys", minidos},
                {"zyplet16.exe", utility},
                {"vgabios.exe", vgabios},
                {"bios.qvx", flashable}};
    } else {
        list = {{"minidos.sys", minidos},
                {"zyplet.exe", utility},
                {"platform.bin", platform},
                {"vgabios.exe", vgabios},
                {"bios.rom", image}};
    }
    std::uint32_t needed = 0;
    for (const auto& [name, source] : list) {
        if (source) needed += clustersOf(source->size());
        // Every file of the list is a non-empty file; only vgabios.exe may be nowhere.
        if (source ? source->empty() : name != "vgabios.exe") s.badFile = true;
    }
    s.tooLarge = needed > kClusters;
    s.afterBuild =
        s.format && !s.tooLarge && !s.badFile ? std::map<std::string, Bytes>() : s.onDiskette;
    std::uint32_t free = kClusters;
    for (const auto& [name, bytes] : s.afterBuild) free -= clustersOf(bytes.size());
    for (const auto& [name, source] : list) {
        if (s.tooLarge || s.badFile) break;
        const std::string onDisk = upper(name);
        const auto old = s.afterBuild.find(onDisk);
        const std::uint32_t oldClusters =
            old == s.afterBuild.end() ? 0 : clustersOf(old->second.size());
        if (!source && name == "vgabios.exe") continue;
        if (!source || clustersOf(source->size()) > free + oldClusters) {
            s.failsAt = name;
            break;
        }
        free = free + oldClusters - clustersOf(source->size());
        s.afterBuild[onDisk] = *source;
    }
    // A copy that would find too little room is found before the first write: the diskette
    // keeps what it held.
    if (s.failsAt) {
        s.afterBuild = s.onDiskette;
        free = kClusters;
        for (const auto& [name, bytes] : s.onDiskette) free -= clustersOf(bytes.size());
    }
    s.freeClustersAfter = free;
    return s;
}

class BuildCorpus : public BuildFixture {
  protected:
    // A fresh 1.44 MB diskette made by mtools, holding the scenario's earlier files.
    void prepareDiskette(const Scenario& s) {
        const std::string image = driveImage().string();
        ASSERT_TRUE(fattools::mformat(image, 1440));
        for (const auto& [name, bytes] : s.onDiskette) {
            ASSERT_TRUE(fattools::mcopyIn(image, name, bytes)) << name;
        }
    }

    void checkImage(const Scenario& s, bool builtBootSector) {
        const std::string image = driveImage().string();
        const fattools::FsckResult fsck = fattools::runFsck(image);
        EXPECT_TRUE(fsck.clean) << fsck.output;

        const auto names = fattools::mdirNames(image);
        ASSERT_TRUE(names.has_value()) << "mdir cannot read the image";
        std::set<std::string> listed(names->begin(), names->end());
        std::set<std::string> expected;
        for (const auto& [name, bytes] : s.afterBuild) expected.insert(name);
        EXPECT_EQ(listed, expected);
        for (const auto& [name, bytes] : s.afterBuild) {
            const auto back = fattools::mtype(image, name);
            ASSERT_TRUE(back.has_value()) << name << " cannot be read back";
            EXPECT_TRUE(*back == bytes) << name << " reads back " << back->size() << " bytes, "
                                        << bytes.size() << " were written";
        }
        EXPECT_EQ(fattools::mdirFreeBytes(image), s.freeClustersAfter * kClusterBytes);

        const auto bytes = fattools::readBytes(image);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(checkImageStructure(*bytes), std::vector<std::string>());
        if (builtBootSector) {
            EXPECT_EQ(fattools::withoutVolumeIdentity({bytes->begin(), bytes->begin() + 512}),
                      fattools::withoutVolumeIdentity(sampleBootSector()))
                << "sector 0 is not the kit's boot sector";
        }
    }

    // Staged copies left behind would be taken for the start directory's own next time:
    // whatever the list and the outcome, none stays.
    void checkNothingStagedLeft(const Scenario& s) {
        std::set<std::string> left;
        for (const fs::directory_entry& entry : fs::directory_iterator(startDir())) {
            left.insert(upper(entry.path().filename().string()));
        }
        std::set<std::string> expected;
        for (const auto& [name, bytes] : s.startFiles) expected.insert(upper(name));
        EXPECT_EQ(left, expected);
    }
};

TEST_F(BuildCorpus, RandomBuildsAreReportedTruthfullyAndLeaveSoundDiskettes) {
    ASSERT_EQ(sampleBootSector().size(), 512u) << "the sample kit is not built";
    const std::uint32_t seed = envNumber("QUENVOL_HARDENING_SEED", 20261207);
    const std::uint32_t builds = envNumber("QUENVOL_HARDENING_BUILDS", kDefaultBuilds);
    Generator g(seed);
    int succeeded = 0;
    int refused = 0;
    for (std::uint32_t n = 0; n < builds && !HasFailure(); ++n) {
        SCOPED_TRACE("QUENVOL_HARDENING_SEED=" + std::to_string(seed) + ", build " +
                     std::to_string(n));
        const Scenario s = makeScenario(g);
        clearFolders();
        writeStartFiles(s.startFiles);
        writeProjectFiles(s.projectFiles);
        prepareDiskette(s);
        if (HasFatalFailure()) return;

        const BuildRun run = runBuild(s.kind, s.format ? console::FormatChoice::Action::Quick
                                                       : console::FormatChoice::Action::Skip);
        EXPECT_EQ(run.format.error, "");
        std::vector<std::string> texts;
        for (const auto& m : run.messages) texts.push_back(m.text);
        if (s.tooLarge || s.badFile) {
            ++refused;
            EXPECT_FALSE(run.reportedSuccess);
            EXPECT_EQ(run.outcome.kind, build::Outcome::Kind::StartDirRefused)
                << "a list too large for the diskette, or with a missing or empty file, is "
                   "refused before the format";
            EXPECT_EQ(run.format.shown, 0);
        } else if (s.failsAt) {
            ++refused;
            EXPECT_FALSE(run.reportedSuccess);
            EXPECT_EQ(run.outcome.kind, build::Outcome::Kind::CopyFailed);
            EXPECT_EQ(run.outcome.failure, base::Failure::NoRoom);
            EXPECT_EQ(run.outcome.detail.rfind(*s.failsAt + " takes ", 0), 0u)
                << "no refusal naming " << *s.failsAt << ": " << run.outcome.detail;
        } else {
            ++succeeded;
            EXPECT_TRUE(run.reportedSuccess)
                << "expected a diskette, got messages: " << (texts.size() > 1 ? texts[1] : "");
        }
        checkImage(s, s.kind == 0 && !s.failsAt && !s.tooLarge && !s.badFile);
        checkNothingStagedLeft(s);
    }
    // Both outcomes must have been exercised for the run to mean anything.
    EXPECT_GT(succeeded, 0);
    EXPECT_GT(refused, 0);
    std::printf("[ corpus   ] %u builds from seed %u: %d diskettes built, %d refused\n", builds,
                seed, succeeded, refused);
}

}  // namespace
}  // namespace hardening
