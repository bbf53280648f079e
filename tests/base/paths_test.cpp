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

    // Both present: the new one is used and the old one left alone.
    home.write("older/keep", "x");
    EXPECT_EQ(Paths::migrated(newPath, home / "older"), newPath);
    EXPECT_FALSE(fs::is_symlink(home / "older"));
    // Neither present: a private folder is made.
    const std::string made = home / "a/b/c";
    EXPECT_EQ(Paths::migrated(made, home / "none"), made);
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
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
