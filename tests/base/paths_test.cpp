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

// The parent cannot be made, or the move itself fails (a folder cannot go inside itself).
TEST(PathsMigration, AFailedMoveKeepsTheOldFolderInUse) {
    TempDir home;
    home.write("old/data", "x");
    home.write("blocker", "a file, not a folder");
    for (const std::string& target : {home / "blocker/new", home / "old/inside/new"}) {
        EXPECT_EQ(Paths::migrated(target, home / "old"), home / "old") << target;
        EXPECT_TRUE(fs::exists(home / "old/data"));
    }
}
