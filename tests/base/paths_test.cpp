#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "base/paths.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::TempDir;
namespace fs = std::filesystem;

TEST(PathsMigration, MovesTheOlderFolderAndLeavesALinkThenChangesNothing) {
    TempDir home;
    home.write("old/.env", "A=1\n");
    std::string newPath = home / "new/deeper/vendrik";
    EXPECT_EQ(Paths::migrated(newPath, home / "old"), newPath);
    EXPECT_TRUE(fs::is_symlink(home / "old"));
    EXPECT_EQ(fs::read_symlink(home / "old"), newPath);
    EXPECT_EQ(talvoro::testing::readFile(newPath + "/.env"), "A=1\n");
    // Second run: the new folder is there; the link stays as it is.
    EXPECT_EQ(Paths::migrated(newPath, home / "old"), newPath);
    EXPECT_TRUE(fs::is_symlink(home / "old"));
}

TEST(PathsMigration, BothPresentUsesNewAndLeavesOldAlone) {
    TempDir home;
    home.write("old/keep", "x");
    home.write("new/mine", "y");
    EXPECT_EQ(Paths::migrated(home / "new", home / "old"), home / "new");
    EXPECT_FALSE(fs::is_symlink(home / "old"));
    EXPECT_TRUE(fs::exists(home / "old/keep"));
}

TEST(PathsMigration, NeitherPresentCreatesAPrivateFolder) {
    TempDir home;
    std::string p = home / "a/b/c";
    EXPECT_EQ(Paths::migrated(p, home / "old"), p);
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PathsMigration, AFailedMoveKeepsTheOldFolderInUse) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root ignores folder permissions";
    TempDir home;
    home.write("old/data", "x");
    fs::create_directories(home / "locked");
    fs::permissions(home / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(Paths::migrated(home / "locked/new", home / "old"), home / "old");
    EXPECT_TRUE(fs::exists(home / "old/data"));
}

TEST(PathsMigration, AFileInTheWayOfTheParentKeepsTheOldFolderInUse) {
    TempDir home;
    home.write("old/data", "x");
    home.write("blocker", "a file, not a folder");
    EXPECT_EQ(Paths::migrated(home / "blocker/new", home / "old"), home / "old");
    EXPECT_TRUE(fs::exists(home / "old/data"));
}
