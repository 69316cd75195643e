// The desktop's disk service with the real daemons: a system bus of the suite's own, udev,
// polkit and udisks2, started once for the suite (as root) and stopped by their process ids,
// with the package's polkit rule for its group. Drive A: is always a loop device over an image
// file of the suite's. Eject and power-off run against a stand-in of the drive
// (python3-dbusmock): no USB bus here offers a drive that ejects.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "app/messages.h"
#include "cli/cli_process.h"
#include "platform/desktop_drives.h"
#include "platform/posix/udisks.h"
#include "support/fat_tools.h"
#include "support/message_shape.h"

namespace {

namespace fs = std::filesystem;
using clitest::Scratch;
using namespace std::chrono_literals;

constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
constexpr const char* kUdevd = "/lib/systemd/systemd-udevd";
constexpr const char* kPolkitd = "/usr/lib/polkit-1/polkitd";
constexpr const char* kUdisksd = "/usr/libexec/udisks2/udisksd";
constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kMember = "quenvol-t-member";  // in the polkit rule's group
constexpr uid_t kNobody = 65534;                     // in no group of ours
constexpr gid_t kNogroup = 65534;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}

bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A daemon of the suite's in the foreground, its output in `log`, with `env` added to the
// suite's environment; its process id.
pid_t start(const std::vector<std::string>& argv, const fs::path& log,
            const std::vector<std::string>& env = {}) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    for (const std::string& entry : env) {
        const auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (std::string& a : copies) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Stops a process this suite started, by its id: SIGTERM, then SIGKILL after five seconds.
void stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 5s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

// Whether `name` has an owner on the bus at `address`.
bool nameOwned(const std::string& address, const char* name) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return false;
    bool owned = false;
    if (sd_bus_set_address(bus, address.c_str()) >= 0 && sd_bus_set_bus_client(bus, 1) >= 0 &&
        sd_bus_start(bus) >= 0) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int has = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                               name) >= 0 &&
            sd_bus_message_read(reply, "b", &has) >= 0) {
            owned = has != 0;
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
    sd_bus_flush_close_unref(bus);
    return owned;
}

// The system bus's configuration with a socket of the suite's: no user to change to, no pid
// file, no service started on demand (the suite starts its daemons), the packages' policies.
std::string busConfig(const fs::path& socket) {
    std::string config = readText("/usr/share/dbus-1/system.conf");
    config = std::regex_replace(config, std::regex("<listen>[^<]*</listen>"),
                                "<listen>unix:path=" + socket.string() + "</listen>");
    for (const char* gone : {"<user>[^<]*</user>", "<pidfile>[^<]*</pidfile>", "<fork/>",
                             "<standard_system_servicedirs/>"}) {
        config = std::regex_replace(config, std::regex(gone), "");
    }
    return std::regex_replace(config, std::regex("<includedir>system.d</includedir>"),
                              "<includedir>/usr/share/dbus-1/system.d</includedir>");
}

struct Bus {
    pid_t pid = -1;
    std::string address;
};

Bus startBus(const fs::path& dir, const std::string& name) {
    const fs::path socket = dir / (name + ".socket");
    std::ofstream(dir / (name + ".conf")) << busConfig(socket);
    Bus bus{start({kDbusDaemon, "--nofork", "--config-file=" + (dir / (name + ".conf")).string()},
                  dir / (name + ".log")),
            "unix:path=" + socket.string()};
    waitUntil([&] { return nameOwned(bus.address, "org.freedesktop.DBus"); }, 5s);
    return bus;
}

int tool(const std::vector<std::string>& argv, std::string* output = nullptr) {
    const auto run = fattools::runTool(argv);
    if (output) *output = run.output;
    return run.exitCode;
}

// A file system mounted from `device`, as the kernel reports it.
std::vector<platform::Mount> mountsOf(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    return platform::mountsOfDevice(readText("/proc/self/mountinfo"), major(info.st_rdev),
                                    minor(info.st_rdev));
}

class DiskService : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        if (::geteuid() != 0) {
            s_skip = "the daemons, loop devices and users need root";
            return;
        }
        for (const char* program : {kDbusDaemon, kUdevd, kPolkitd, kUdisksd, "/usr/bin/udisksctl",
                                    "/sbin/losetup", "/sbin/mke2fs", "/usr/sbin/useradd"}) {
            if (::access(program, X_OK) != 0) {
                s_skip = std::string(program) + " is not installed";
                return;
            }
        }
        const auto began = std::chrono::steady_clock::now();
        std::string pattern = "/tmp/quenvol-desktop-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            s_skip = "no temporary folder";
            return;
        }
        s_dir = pattern;
        ::chmod(s_dir.c_str(), 0755);
        s_bus = startBus(s_dir, "system");
        s_oldAddress = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")
                           ? std::optional(std::string(std::getenv("DBUS_SYSTEM_BUS_ADDRESS")))
                           : std::nullopt;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_bus.address.c_str(), 1);

        // A udev that already runs serves; one the suite starts is the suite's to stop.
        if (tool({"udevadm", "control", "--ping"}) != 0) {
            s_udevd = start({kUdevd}, s_dir / "udevd.log");
            waitUntil([] { return tool({"udevadm", "control", "--ping"}) == 0; }, 5s);
        }
        tool({"udevadm", "trigger", "--action=add", "--subsystem-match=block"});
        tool({"udevadm", "settle", "--timeout=10"});

        // The package's rule as shipped, with loop devices let in: the suite has no removable
        // drive. It is in place before polkit starts, which reads it then.
        std::string rule = readText(fs::path(QUENVOL_SOURCE_DIR) / "data/polkit/60-quenvol.rules");
        const std::string off = "var loopDevicesToo = false;";
        if (rule.find(off) == std::string::npos) {
            s_skip = "the polkit rule has no switch for loop devices";
            return;
        }
        rule.replace(rule.find(off), off.size(), "var loopDevicesToo = true;");
        std::ofstream(s_rule) << rule;

        const char* group = platform::udisks::kPolkitGroup;
        if (::getgrnam(group) == nullptr) {
            s_madeGroup = tool({"groupadd", "--system", group}) == 0;
        }
        tool({"userdel", kMember});  // a stopped run's
        tool({"useradd", "-M", "-N", "-g", "nogroup", "-G", group, "-s", "/usr/sbin/nologin",
              kMember});
        const passwd* member = ::getpwnam(kMember);
        s_memberUid = member ? member->pw_uid : 0;

        s_polkitd = start({kPolkitd}, s_dir / "polkitd.log");
        waitUntil([] { return nameOwned(s_bus.address, "org.freedesktop.PolicyKit1"); }, 10s);
        s_udisksd = start({kUdisksd}, s_dir / "udisksd.log");
        const bool ready =
            waitUntil([] { return nameOwned(s_bus.address, "org.freedesktop.UDisks2"); }, 10s);
        s_setUp = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - began);
        std::cout << "the bus, udev, polkit and udisks2 ready in " << s_setUp.count() << " ms\n";
        RecordProperty("setup_ms", static_cast<int>(s_setUp.count()));
        if (!ready || s_memberUid == 0) {
            s_skip = "the daemons did not start: " + readText(s_dir / "udisksd.log") +
                     readText(s_dir / "polkitd.log");
        }
    }

    static void TearDownTestSuite() {
        stop(s_udisksd);
        stop(s_polkitd);
        stop(s_udevd);
        stop(s_bus.pid);
        if (s_oldAddress)
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_oldAddress->c_str(), 1);
        else
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        std::error_code ec;
        fs::remove(s_rule, ec);
        if (s_memberUid != 0) tool({"userdel", kMember});
        if (s_madeGroup) tool({"groupdel", platform::udisks::kPolkitGroup});
        if (!s_dir.empty()) fs::remove_all(s_dir, ec);
    }

  protected:
    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
    }

    // A 1.44 MB image in a scratch kit, attached to a loop device that udisks2 has seen;
    // with `ext2`, the image holds that file system first.
    struct Medium {
        std::string image;
        std::unique_ptr<fattools::LoopDevice> loop;
        const std::string& device() const { return loop->path(); }
        dev_t number() const {
            struct stat info {};
            return ::stat(device().c_str(), &info) == 0 ? info.st_rdev : 0;
        }
    };
    static Medium attach(const Scratch& s, bool ext2) {
        Medium medium{s.image(), nullptr};
        std::ofstream(medium.image, std::ios::binary) << std::string(1474560, '\0');
        if (ext2) tool({"/sbin/mke2fs", "-q", "-F", "-t", "ext2", medium.image});
        medium.loop = std::make_unique<fattools::LoopDevice>(medium.image);
        if (!medium.device().empty()) {
            tool({"udevadm", "settle", "--timeout=10"});
            waitUntil([&] { return tool({"udisksctl", "info", "-b", medium.device()}) == 0; }, 5s);
        }
        return medium;
    }

    // Runs the built diskette through fsck.fat and mtools.
    static void expectBuilt(const Medium& medium) {
        const auto fsck = fattools::runFsck(medium.device());
        EXPECT_TRUE(fsck.clean) << fsck.output;
        EXPECT_EQ(fattools::mtype(medium.device(), "BIOS.ROM"),
                  bytesOf(Scratch::project() + "/testQ7A.rom"));
    }

    // The scratch kit open to the other users that run the program in it.
    static void openToOthers(const Scratch& s) {
        for (const std::string& dir : {s.root(), s.kit(), s.config()}) {
            ::chmod(dir.c_str(), 0777);
        }
    }

    static inline std::string s_skip;
    static inline fs::path s_dir;
    static inline Bus s_bus;
    static inline std::optional<std::string> s_oldAddress;
    static inline pid_t s_udevd = -1;
    static inline pid_t s_polkitd = -1;
    static inline pid_t s_udisksd = -1;
    static inline const fs::path s_rule = "/etc/polkit-1/rules.d/49-quenvol-test.rules";
    static inline bool s_madeGroup = false;
    static inline uid_t s_memberUid = 0;
    static inline std::chrono::milliseconds s_setUp{0};
};

// A diskette the desktop mounted: unmounted with consent and then built; without consent, or
// while a program works in it, refused with the reason and left mounted. Where no service
// runs, the system unmounts what was mounted without it.
TEST_F(DiskService, AMountedDisketteIsUnmountedWithConsentThenBuilt) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        bool busy;       // a program has its working directory on the mount
        bool noService;  // mounted by mount(8), with no bus for the program
        int exitCode;
    };
    const Case cases[] = {
        {"--unmount consents", {"--unmount"}, false, false, 0},
        {"no terminal and no --unmount: No", {}, false, false, 5},
        {"in use", {"--unmount"}, true, false, 5},
        {"no service: the system unmounts", {"--unmount"}, false, true, 0},
        {"no service, in use", {"--unmount"}, true, true, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        const Medium medium = attach(s, true);
        ASSERT_FALSE(medium.device().empty()) << medium.loop->why();
        std::string said;
        const std::string mountPoint = s.root() + "/mnt";
        fs::create_directory(mountPoint);
        ASSERT_EQ(
            tool(c.noService
                     ? std::vector<std::string>{"mount", "-t", "ext2", medium.device(), mountPoint}
                     : std::vector<std::string>{"udisksctl", "mount", "--no-user-interaction", "-b",
                                                medium.device()},
                 &said),
            0)
            << said;
        const auto mounts = mountsOf(medium.device());
        ASSERT_EQ(mounts.size(), 1u);
        EXPECT_EQ(mounts[0].fileSystem, "ext2");
        pid_t user = -1;
        if (c.busy) {
            user = ::fork();
            if (user == 0) {
                if (::chdir(mounts[0].mountPoint.c_str()) != 0) ::_exit(1);
                ::execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            waitUntil(
                [&] {
                    return fs::read_symlink("/proc/" + std::to_string(user) + "/cwd") ==
                           mounts[0].mountPoint;
                },
                5s);
        }
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--yes", "--drive", medium.device(), Scratch::project()});
        if (c.noService) {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + s.root() + "/no-bus").c_str(), 1);
        }
        const auto r = s.run(args);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_bus.address.c_str(), 1);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        EXPECT_TRUE(contains(
            r.output, texts::unmountQuestion(medium.device(), "ext2 at " + mounts[0].mountPoint)))
            << r.output;
        if (c.exitCode == 0) {
            EXPECT_TRUE(mountsOf(medium.device()).empty());
            EXPECT_TRUE(contains(r.output, texts::kSucceeded)) << r.output;
            expectBuilt(medium);
        } else {
            EXPECT_EQ(mountsOf(medium.device()), mounts) << "left as it was";
            EXPECT_FALSE(contains(r.output, "Formatting")) << r.output;
        }
        if (c.busy) {
            EXPECT_TRUE(contains(r.output, "the ext2 file system at " + mounts[0].mountPoint +
                                               " is in use: sleep (process " +
                                               std::to_string(user) +
                                               ") has its working directory there"))
                << r.output;
            ::kill(user, SIGKILL);
            ::waitpid(user, nullptr, 0);
        } else if (c.exitCode != 0) {
            EXPECT_TRUE(contains(r.output, "(--unmount answers Yes)")) << r.output;
            EXPECT_TRUE(contains(r.output, texts::driveInUse(medium.device()).substr(0, 40)))
                << r.output;
        }
        if (!mountsOf(medium.device()).empty()) {
            tool(c.noService
                     ? std::vector<std::string>{"umount", mountPoint}
                     : std::vector<std::string>{"udisksctl", "unmount", "--no-user-interaction",
                                                "-b", medium.device()});
        }
    }
}

// The package's rule decides on the action's details and the medium: the group, a removable
// drive (a loop device only where the switch lets them in) and a diskette's size. Asked of the
// service directly by a process of the user's.
TEST_F(DiskService, ThePolkitRuleLooksAtTheGroupTheDriveAndTheSize) {
    // 0: opened; 1: refused as permission; 2: another failure; 3: no service.
    auto openAs = [](uid_t uid, const std::string& device) {
        struct stat info {};
        if (::stat(device.c_str(), &info) != 0) return -1;
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(uid) != 0)
                ::_exit(125);
            const auto opened = platform::udisks::openDevice(device, info.st_rdev, O_EXCL);
            if (!opened) ::_exit(3);
            if (*opened) ::_exit(0);
            ::_exit(opened->kind() == base::Failure::PermissionDenied ? 1 : 2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string switched = readText(s_rule);
    const std::string shipped =
        readText(fs::path(QUENVOL_SOURCE_DIR) / "data/polkit/60-quenvol.rules");
    struct Case {
        const char* what;
        bool asShipped;
        std::uint64_t bytes;
        bool member;
        int result;
    };
    const Case cases[] = {
        {"a loop device is no removable drive", true, 1474560, true, 1},
        {"loop devices let in", false, 1474560, true, 0},
        {"2.88 MB", false, 2949120, true, 0},
        {"not a diskette's size", false, 1474560 + 512, true, 1},
        {"10 MB", false, 10485760, true, 1},
        {"outside the group", false, 1474560, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        std::ofstream(s.image(), std::ios::binary) << std::string(c.bytes, '\0');
        const fattools::LoopDevice loop(s.image());
        ASSERT_FALSE(loop.path().empty()) << loop.why();
        tool({"udevadm", "settle", "--timeout=10"});
        waitUntil([&] { return tool({"udisksctl", "info", "-b", loop.path()}) == 0; }, 5s);
        std::ofstream(s_rule) << (c.asShipped ? shipped : switched);
        const uid_t uid = c.member ? s_memberUid : kNobody;
        // polkit reads a changed rule within a second or so.
        waitUntil([&] { return openAs(uid, loop.path()) == c.result; }, 5s);
        EXPECT_EQ(openAs(uid, loop.path()), c.result);
    }
    // The rule the other cases work with, back in force before they run.
    std::ofstream(s_rule) << switched;
    Scratch s;
    std::ofstream(s.image(), std::ios::binary) << std::string(1474560, '\0');
    const fattools::LoopDevice probe(s.image());
    ASSERT_FALSE(probe.path().empty()) << probe.why();
    tool({"udevadm", "settle", "--timeout=10"});
    EXPECT_TRUE(waitUntil([&] { return openAs(s_memberUid, probe.path()) == 0; }, 5s));
}

// An ordinary user who may not open the device node: in the rule's group the build goes
// through udisks2's OpenDevice; outside it, the refusal says which group to join.
TEST_F(DiskService, TheRuleGroupBuildsThroughTheServiceAndOthersAreToldWhatToDo) {
    if (const std::string closed = clitest::folderClosedToOthers(); !closed.empty())
        GTEST_SKIP() << closed << " is closed to other users, so the program cannot run as one";
    struct Case {
        const char* what;
        uid_t uid;
        int exitCode;
    };
    const Case cases[] = {{"member of the group", s_memberUid, 0}, {"nobody", kNobody, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        const Medium medium = attach(s, false);
        ASSERT_FALSE(medium.device().empty()) << medium.loop->why();
        struct stat node {};
        ASSERT_EQ(::stat(medium.device().c_str(), &node), 0);
        ASSERT_EQ(node.st_mode & (S_IROTH | S_IWOTH), 0u) << "the node must be closed to them";
        openToOthers(s);
        s.runAs(c.uid, kNogroup);
        const auto before = bytesOf(medium.device());
        const auto r = s.run({"--yes", "--drive", medium.device(), Scratch::project()});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.output;
        if (c.exitCode == 0) {
            EXPECT_TRUE(contains(r.output, texts::kSucceeded)) << r.output;
            expectBuilt(medium);
            continue;
        }
        const auto wayOut = textsupport::findComposed(
            r.output, [&](const std::string& w) { return texts::noAccess(medium.device(), w); });
        ASSERT_TRUE(wayOut.has_value()) << r.output;
        EXPECT_TRUE(wayOut->starts_with(std::string("Join the group \"") +
                                        platform::udisks::kPolkitGroup + "\""))
            << *wayOut;
        EXPECT_TRUE(contains(*wayOut, "adduser nobody")) << *wayOut;
        EXPECT_EQ(bytesOf(medium.device()), before);
    }
}

// While one build holds drive A: through udisks2 (waiting at its confirmation), a second one,
// through the service or through the device node, is refused at once as in use.
TEST_F(DiskService, ASecondBuildIsRefusedWhileTheFirstHoldsTheDriveThroughTheService) {
    if (const std::string closed = clitest::folderClosedToOthers(); !closed.empty())
        GTEST_SKIP() << closed << " is closed to other users, so the program cannot run as one";
    Scratch s;
    const Medium medium = attach(s, false);
    ASSERT_FALSE(medium.device().empty()) << medium.loop->why();
    openToOthers(s);
    s.runAs(s_memberUid, kNogroup);
    Scratch member;
    openToOthers(member);
    member.runAs(s_memberUid, kNogroup);
    Scratch root;
    const auto first = s.runOnTerminal(
        {"--drive", medium.device(), Scratch::project()}, "Proceed? [y/N] ", "y\n",
        [&] {
            for (const Scratch* second : {&member, &root}) {
                const auto r =
                    second->run({"--yes", "--drive", medium.device(), Scratch::project()});
                EXPECT_EQ(r.exitCode, 5) << r.output;
                EXPECT_TRUE(contains(r.output, texts::driveHeldByBuild(medium.device())))
                    << r.output;
                EXPECT_FALSE(contains(r.output, "Formatting")) << r.output;
            }
        },
        "y\n");
    EXPECT_EQ(first.exitCode, 0) << first.output;
    expectBuilt(medium);
}

// At the end of a build the diskette is ejected, or the drive powered off where it cannot
// eject, through the service's drive (a stand-in here) when --eject asks for it; never without.
TEST_F(DiskService, EjectOrPowerOffAfterTheBuildAsTheDriveCan) {
    if (::access(kPython, X_OK) != 0 || tool({kPython, "-c", "import dbusmock"}) != 0) {
        GTEST_SKIP() << "python3-dbusmock is not installed";
    }
    struct Case {
        bool ejectable;
        bool canPowerOff;
        bool eject;            // --eject
        const char* called;    // the drive's method called, or null for none
        const char* question;  // asked after the success message, or null
    };
    const Case cases[] = {
        {true, true, true, "Eject", texts::kEjectQuestion},
        {false, true, true, "PowerOff", texts::kPowerOffQuestion},
        {false, false, true, nullptr, nullptr},
        {true, false, false, nullptr, nullptr},
    };
    const Bus mockBus = startBus(s_dir, "stand-in");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.called ? c.called : "nothing") + (c.eject ? " --eject" : ""));
        Scratch s;
        const Medium medium = attach(s, false);
        ASSERT_FALSE(medium.device().empty()) << medium.loop->why();
        const fs::path log = fs::path(s.root()) / "stand-in.calls";
        std::ostringstream parameters;
        parameters << R"({"block": ")" << fs::path(medium.device()).filename().string()
                   << R"(", "device_number": )" << medium.number() << R"(, "ejectable": )"
                   << (c.ejectable ? "true" : "false") << R"(, "can_power_off": )"
                   << (c.canPowerOff ? "true" : "false") << "}";
        pid_t standIn = start(
            {kPython, "-m", "dbusmock", "--system", "-l", log.string(), "--template",
             QUENVOL_SOURCE_DIR "/tests/desktop/disk_service_stand_in.py", "-p", parameters.str()},
            fs::path(s.root()) / "stand-in.log", {"DBUS_SYSTEM_BUS_ADDRESS=" + mockBus.address});
        ASSERT_TRUE(
            waitUntil([&] { return nameOwned(mockBus.address, "org.freedesktop.UDisks2"); }, 10s))
            << readText(fs::path(s.root()) / "stand-in.log");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", mockBus.address.c_str(), 1);
        std::vector<std::string> args{"--yes", "--drive", medium.device(), Scratch::project()};
        if (c.eject) args.insert(args.begin(), "--eject");
        const auto r = s.run(args);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_bus.address.c_str(), 1);
        stop(standIn);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        expectBuilt(medium);
        const std::string calls = readText(log);
        for (const char* method : {"Eject", "PowerOff"}) {
            const bool called = std::regex_search(
                calls, std::regex(std::string("\\d ") + method + "( |$)", std::regex::multiline));
            EXPECT_EQ(called, c.called != nullptr && std::string(c.called) == method)
                << method << "\n"
                << calls;
        }
        if (c.question) {
            // The question comes after the success message and before the one about another
            // diskette, which follows the removal.
            const auto asked = r.output.find(c.question);
            ASSERT_NE(asked, std::string::npos) << r.output;
            EXPECT_LT(r.output.find(texts::kSucceeded), asked);
            EXPECT_LT(asked, r.output.find(texts::kAnotherDiskette)) << r.output;
        }
        EXPECT_TRUE(contains(r.output, texts::kAnotherDiskette)) << r.output;
        // --eject on a drive that can do neither says why the diskette stayed in.
        EXPECT_EQ(contains(r.output, "could not be ejected"), c.eject && c.called == nullptr)
            << r.output;
    }
    Bus stopping = mockBus;
    stop(stopping.pid);
}

}  // namespace
