#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cleanup/name_dict.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::readFile;
using testing::TempDir;

std::string applied(const std::string& dictionary, const std::string& text) {
    return NameDict(dictionary).apply(text);
}

TEST(NameDict, EnsureWritesTheTemplateOnceAndPrivately) {
    TempDir dir;
    const std::string path = dir / "deep/folder/замены.txt";
    EXPECT_EQ(NameDict::ensure(path), path);
    const std::string text = readFile(path);
    EXPECT_EQ(text, NameDict::templateText);
    EXPECT_TRUE(NameDict::load(path).isEmpty());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::filesystem::directory_iterator(dir / "deep/folder")->path(), path)
        << "no temporary file left behind";

    std::ofstream(path) << "кот = Кот\n";
    NameDict::ensure(path);
    EXPECT_EQ(readFile(path), "кот = Кот\n");
}

TEST(NameDict, EnsureReportsAFolderItCannotMake) {
    TempDir dir;
    dir.write("file", "x");
    EXPECT_THROW(NameDict::ensure(dir / "file/замены.txt"), NameDictError);
}

TEST(NameDict, ParsingSkipsMalformedLinesAndSortsLongestFirst) {
    const NameDict dict("a = b = c\n= x\nx =\n# x = y\nx\n  \t\n"
                        "пронт, промп = промпт\r\n"
                        "abcde = пять\u2028abcdefghi = девять\n, ,ок ,= да");
    ASSERT_EQ(dict.rules().size(), 5u);
    EXPECT_EQ(dict.rules()[0].from, QStringLiteral("abcdefghi"));
    EXPECT_EQ(dict.rules()[1].from, QStringLiteral("пронт"));
    EXPECT_EQ(dict.rules()[1].to, QStringLiteral("промпт"));
    EXPECT_EQ(dict.rules()[2].from, QStringLiteral("промп"));
    EXPECT_EQ(dict.rules()[3].from, QStringLiteral("abcde"));
    EXPECT_EQ(dict.rules()[4].from, QStringLiteral("ок"));
}

TEST(NameDict, ReplacesWholeWordsIgnoringCase) {
    EXPECT_EQ(applied("гадима = Годима", "Гадима Марию"), "Годима Марию");
    EXPECT_EQ(applied("ёлка = Ель", "ЁЛКА и ёлка"), "Ель и Ель");
    EXPECT_EQ(applied("кот = Кот", "котлета и кот"), "котлета и Кот");
    EXPECT_EQ(applied("lsof = x", "lsofs lsof"), "lsofs x");
    // Longer heard forms win whatever the file order.
    EXPECT_EQ(applied("тест = test\nмоих тест = make test", "моих тест и тест"),
              "make test и test");
}

TEST(NameDict, BothSidesAreLiteral) {
    EXPECT_EQ(applied("ай.ти = IT", "айкти ай.ти"), "айкти IT");
    EXPECT_EQ(applied("цена = $1 \\1 \\\\ $&", "цена"), "$1 \\1 \\\\ $&");
    EXPECT_EQ(applied("(а = б", "(а"), "(а");
    EXPECT_EQ(applied("а+ = плюс", "ааа а+б"), "ааа плюсб");
}

TEST(NameDict, BoundariesAroundPunctuation) {
    EXPECT_EQ(applied("ок! = окей", "ок! Дальше"), "ок! Дальше");
    EXPECT_EQ(applied("ок! = окей", "ок!да"), "окейда");
    EXPECT_EQ(applied("!!! = x", "!!! и !!!"), "!!! и !!!");
}

TEST(NameDict, BadFilesGiveNoRules) {
    TempDir dir;
    EXPECT_TRUE(NameDict::load(std::nullopt).isEmpty());
    EXPECT_TRUE(NameDict::load(dir / "missing.txt").isEmpty());
    EXPECT_TRUE(NameDict::load(dir.write("bad.txt", "кот = \xff\xfeКот\n")).isEmpty());
    EXPECT_TRUE(NameDict::load(dir.path()).isEmpty());
    EXPECT_FALSE(NameDict::load(dir.write("good.txt", "кот = Кот")).isEmpty());
}

TEST(NameDict, LargeTextsAndEmptyOnes) {
    const NameDict dict("кот = Кот\nпёс = Пёс");
    EXPECT_EQ(dict.apply(std::string()), "");
    std::string big;
    while (big.size() < 1'000'000)
        big += "кот пёс котлета ";
    const std::string out = dict.apply(big);
    EXPECT_TRUE(out.starts_with("Кот Пёс котлета Кот"));
    EXPECT_EQ(out.size(), big.size());
}

} // namespace
} // namespace talvoro
