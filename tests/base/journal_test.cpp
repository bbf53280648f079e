#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "base/journal.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::readFile;
using talvoro::testing::TempDir;

TEST(Journal, LinesArriveInOrderWithStampAndPrivateMode) {
    TempDir dir;
    Journal journal(dir / "state/log");
    for (int i = 0; i < 100; ++i)
        journal.note("строка " + std::to_string(i));
    journal.flush();
    std::string text = readFile(dir / "state/log");
    EXPECT_NE(text.find(" строка 0\n"), std::string::npos);
    EXPECT_LT(text.find(" строка 98\n"), text.find(" строка 99\n"));
    // stamp (14) + blank + "строка " (13 bytes) + number + line feed
    EXPECT_EQ(text.size(), 10 * (29 + 1) + 90 * (29 + 2) + 0u);
    struct stat st {};
    ::stat((dir / "state/log").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Journal, RotatesRightAfterTheLineThatCrossesTwoMebibytes) {
    TempDir dir;
    std::string path = dir / "log";
    dir.write("log", std::string(2097150 - 25, 'x') + "\n" + std::string(24, 'y'));
    ASSERT_EQ(std::filesystem::file_size(path), 2097150u);
    dir.write("log.1", "older rotation, to be replaced");
    {
        Journal journal(path);
        journal.note("x"); // 15 + 1 + 1 bytes: crosses the boundary
        journal.flush();
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(std::filesystem::file_size(path + ".1"), 2097150u + 17);
        journal.note("после");
        journal.flush();
    }
    EXPECT_EQ(readFile(path).substr(14), " после\n");
}

TEST(Journal, UnwritableFolderDropsLinesQuietly) {
    TempDir dir;
    dir.write("file", "not a folder");
    Journal journal(dir / "file/log");
    journal.note("потеряется");
    journal.flush();
    EXPECT_FALSE(std::filesystem::exists(dir / "file/log"));
}
