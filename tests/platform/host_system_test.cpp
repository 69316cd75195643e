// The host services the dialog's operations and the framework use in place of POSIX calls.
#include "platform/host_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

// Permission bits and symbolic links are the Linux side's: Windows keeps access in lists, and
// wine makes no links.
#ifdef _WIN32
constexpr bool kLinuxSide = false;
#else
constexpr bool kLinuxSide = true;
#endif

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HostSystem, FoldersAreMadeOnTheWayAndAFailureNamesItsFolder) {
    const fattools::TempDir dir;
    const fs::path root = dir.path();
    std::string failed;
    const std::string deep = (root / "a" / "b" / "c").string();
    ASSERT_TRUE(platform::makeFolders(deep, failed)) << failed;
    EXPECT_TRUE(fs::is_directory(deep));
    if (kLinuxSide) {
        EXPECT_EQ(fs::status(root / "a").permissions() & fs::perms::all, fs::perms::owner_all);
    }
    EXPECT_TRUE(platform::makeFolders(deep, failed)) << "an existing folder is as good as made";

    std::ofstream(root / "file") << "x";
    const base::Status blocked = platform::makeFolders((root / "file" / "d").string(), failed);
    ASSERT_FALSE(blocked);
    EXPECT_EQ(failed, (root / "file" / "d").string());
    if (kLinuxSide) {
        EXPECT_EQ(blocked.message(), "Not a directory");
    }

    EXPECT_TRUE(platform::isRegularFile((root / "file").string()));
    EXPECT_FALSE(platform::isRegularFile(deep));
    EXPECT_FALSE(platform::isRegularFile((root / "none").string()));
    EXPECT_EQ(platform::resolvedPath((root / "none").string()), (root / "none").string());
    if (!kLinuxSide) return;
    fs::create_symlink(root / "a", root / "link");
    EXPECT_EQ(platform::resolvedPath((root / "link" / "b").string()),
              fs::canonical(root / "a" / "b").string());
}

TEST(HostSystem, AppendingAddsWholeTextsAndNeverFollowsALink) {
    const fattools::TempDir dir;
    const fs::path log = fs::path(dir.path()) / "log";
    ASSERT_TRUE(platform::appendToFile(log.string(), "one\n"));
    ASSERT_TRUE(platform::appendToFile(log.string(), "two\n"));
    EXPECT_EQ(contentOf(log), "one\ntwo\n");
    const base::Status intoFolder = platform::appendToFile(dir.path(), "x\n");
    EXPECT_FALSE(intoFolder);
    if (!kLinuxSide) return;
    EXPECT_EQ(fs::status(log).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    const fs::path link = fs::path(dir.path()) / "link";
    fs::create_symlink(log, link);
    const base::Status through = platform::appendToFile(link.string(), "three\n");
    EXPECT_FALSE(through);
    EXPECT_NE(through.message().find(link.string()), std::string::npos) << through.message();
    EXPECT_EQ(contentOf(log), "one\ntwo\n");
}

}  // namespace
