#include <filesystem>
#include <sys/stat.h>
#include <tuple>

#include <gtest/gtest.h>

#include "cleanup/name_dict.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

using testing::readFile;
using testing::TempDir;

TEST(NameDict, EnsureWritesTheTemplateOnceAndPrivatelyOrSaysWhyNot) {
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

// Whole words, any case, both sides literal; longer heard forms win whatever the file order.
TEST(NameDict, ReplacesWholeWordsIgnoringCaseTakingBothSidesLiterally) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"гадима = Годима", "Гадима Марию", "Годима Марию"},
        {"ёлка = Ель", "ЁЛКА и ёлка", "Ель и Ель"},
        {"кот = Кот", "котлета и кот", "котлета и Кот"},
        {"lsof = x", "lsofs lsof", "lsofs x"},
        {"тест = test\nмоих тест = make test", "моих тест и тест", "make test и test"},
        {"ай.ти = IT", "айкти ай.ти", "айкти IT"},
        {"цена = $1 \\1 \\\\ $&", "цена", "$1 \\1 \\\\ $&"},
        {"(а = б", "(а", "(а"},
        {"а+ = плюс", "ааа а+б", "ааа плюсб"},
        {"ок! = окей", "ок! Дальше", "ок! Дальше"},
        {"ок! = окей", "ок!да", "окейда"},
        {"!!! = x", "!!! и !!!", "!!! и !!!"},
    };
    for (const auto& [dictionary, text, expected] : cases)
        EXPECT_EQ(NameDict(dictionary).apply(std::string(text)), expected)
            << dictionary << " / " << text;
}

TEST(NameDict, BadFilesGiveNoRules) {
    TempDir dir;
    EXPECT_TRUE(NameDict::load(std::nullopt).isEmpty());
    EXPECT_TRUE(NameDict::load(dir / "missing.txt").isEmpty());
    EXPECT_TRUE(NameDict::load(dir.write("bad.txt", "кот = \xff\xfeКот\n")).isEmpty());
    EXPECT_TRUE(NameDict::load(dir.path()).isEmpty());
    EXPECT_FALSE(NameDict::load(dir.write("good.txt", "кот = Кот")).isEmpty());
}

} // namespace
} // namespace talvoro
