#include <gtest/gtest.h>

#include "base/config.h"
#include "base/paths.h"
#include "base/settings_file.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::TempDir;

TEST(SettingsFile, LineSyntaxWithAByteOrderMarkAndWindowsLineEnds) {
    auto e = SettingsFile::parse("  # comment\n"
                                 "A = \"quoted value\" \n"
                                 "B='single'\n"
                                 "C=\"open\n"
                                 "D=\"\n"
                                 "E=1=2\n"
                                 "no equals sign\n"
                                 "F=first\nF=second\n"
                                 "G=\n"
                                 "H=\"a\" # not a comment\n");
    EXPECT_EQ(e["A"], "quoted value");
    EXPECT_EQ(e["B"], "single");
    EXPECT_EQ(e["C"], "\"open");
    EXPECT_EQ(e["D"], "\"");
    EXPECT_EQ(e["E"], "1=2");
    EXPECT_EQ(e["F"], "second");
    EXPECT_EQ(e["G"], "");
    EXPECT_EQ(e["H"], "\"a\" # not a comment");
    EXPECT_EQ(e.count("# comment"), 0u);
    EXPECT_EQ(e.size(), 8u);
    EXPECT_EQ(
        SettingsFile::parse("\xEF\xBB\xBFSTREAM_ENABLED=1\r\nDICTATION_DIR=\"/x y\"\r\n"),
        (std::map<std::string, std::string>{{"STREAM_ENABLED", "1"}, {"DICTATION_DIR", "/x y"}}));
}

TEST(SettingsFile, RejectsInvalidUTF8) {
    EXPECT_TRUE(SettingsFile::isValidUTF8("ключ=значение ё"));
    EXPECT_FALSE(SettingsFile::isValidUTF8("A=\xff\n"));
    EXPECT_FALSE(SettingsFile::isValidUTF8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(SettingsFile::isValidUTF8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(SettingsFile::isValidUTF8("\xD0"));         // cut short
}

class ConfigTest : public ::testing::Test {
protected:
    TempDir dir;
    Config load(std::map<std::string, std::string> env, std::vector<std::string> files) {
        return Config::fromSources(env, files);
    }
};

TEST_F(ConfigTest, EnvironmentWinsOverFileAndFirstReadableFileIsTheOnlyOne) {
    std::string bad = dir.write("bad.env", "DICTATION_PROMPT=bad\xff\n");
    std::string first =
        dir.write("first.env", "DICTATION_HOTKEY=ctrl+f\nDICTATION_PROMPT=из файла\n"
                               "MODEL_DIR=\n");
    std::string second = dir.write("second.env", "DICTATION_POLISH_THINKING=1\n");
    Config c = load({{"DICTATION_HOTKEY", "esc"}}, {bad, first, second});
    EXPECT_EQ(c.dictationHotkey.description(), "Esc");
    EXPECT_EQ(c.dictationPrompt, "из файла");
    EXPECT_FALSE(c.polishThinking);
}

TEST_F(ConfigTest, ValueRules) {
    Config c = load({{"DICTATION_HOTKEY", ""},
                     {"DICTATION_POLISH_HOTKEY", "no such key"},
                     {"DICTATION_ENGINE", "Local"},
                     {"DICTATION_POLISH_ENABLED", " "},
                     {"DICTATION_POLISH_THINKING", "Да"},
                     {"STREAM_ENABLED", "ON"},
                     {"DICTATION_POLISH_TIMEOUT_SEC", "1.5e1"},
                     {"WHISPER_MODEL_DIR", "~/models"},
                     {"DICT_FILE", "~"},
                     {"BIRTHDAY_REMIND_AT", "09:30"}},
                    {});
    EXPECT_EQ(c.dictationHotkey, HotkeyBinding::defaultBinding());
    EXPECT_EQ(c.polishHotkey, HotkeyBinding(49, HotkeyBinding::shift | HotkeyBinding::option));
    EXPECT_EQ(c.dictationEngine, DictationEngine::local);
    EXPECT_TRUE(c.polishEnabled); // blank takes the default "1"
    EXPECT_TRUE(c.polishThinking);
    EXPECT_TRUE(c.streamEnabled);
    EXPECT_DOUBLE_EQ(c.polishTimeout, 15);
    EXPECT_EQ(c.modelDir, Paths::home() + "/models");
    EXPECT_EQ(c.dictFile, Paths::home());
    EXPECT_EQ(c.minutesOfDay("BIRTHDAY_REMIND_AT"), 570);

    c.limitToLocalOnly();
    EXPECT_EQ(c.dictationEngine, DictationEngine::local);
    EXPECT_FALSE(c.streamEnabled);
    EXPECT_FALSE(c.polishEnabled);

    // An unknown engine is the server until narrowed; a number with a unit is no number;
    // MODEL_DIR wins over the older WHISPER_MODEL_DIR.
    c = load({{"DICTATION_ENGINE", "gpu"},
              {"DICTATION_POLISH_TIMEOUT_SEC", "6s"},
              {"MODEL_DIR", "/m1"},
              {"WHISPER_MODEL_DIR", "/m2"}},
             {});
    EXPECT_EQ(c.dictationEngine, DictationEngine::server);
    EXPECT_DOUBLE_EQ(c.polishTimeout, 6);
    EXPECT_EQ(c.modelDir, "/m1");
    c.limitToLocalOnly();
    EXPECT_EQ(c.dictationEngine, DictationEngine::local);
}

TEST_F(ConfigTest, FlagsAndNumbersAndTimes) {
    for (const char* yes : {"1", "true", "YES", "да", "Да", "on"})
        EXPECT_TRUE(Config::parseFlag(yes)) << yes;
    for (const char* no : {"0", "no", "false", "", "2"})
        EXPECT_FALSE(Config::parseFlag(no)) << no;
    EXPECT_EQ(Config::parseNumber("-3"), -3);
    EXPECT_EQ(Config::parseNumber(".5"), 0.5);
    for (const char* bad : {"", "abc", "1,5", "0x10", "inf", "nan", "1 2", ".7e9211"})
        EXPECT_FALSE(Config::parseNumber(bad)) << bad;
    EXPECT_EQ(Config::parseMinutesOfDay("23:59"), 23 * 60 + 59);
    for (const char* bad : {"24:00", "12:60", "12", "1:2:3", "a:b", ":30", "-1:00"})
        EXPECT_FALSE(Config::parseMinutesOfDay(bad)) << bad;
}

TEST_F(ConfigTest, ModelSourcesAreWordsInOrderWithThePublicRepositoryByDefault) {
    EXPECT_EQ(load({{"MODEL_SOURCES", "  "}}, {}).modelSources,
              std::vector<std::string>{Config::defaultModelSources});
    std::string file = dir.write("m.env", "MODEL_SOURCES=http://a/x\thttp://b/y  \n");
    EXPECT_EQ(load({}, {file}).modelSources,
              (std::vector<std::string>{"http://a/x", "http://b/y"}));
    EXPECT_EQ(load({{"MODEL_SOURCES", "http://c"}}, {file}).modelSources,
              std::vector<std::string>{"http://c"});
}

TEST_F(ConfigTest, HostileFilesLoadAndFallBackPerKey) {
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 37 + 11);
    std::string binFile = dir.write("binary.env", binary);
    std::string huge = "DICTATION_PROMPT=start\n";
    while (huge.size() < 3 * SettingsFile::maxBytes)
        huge += "FILLER_KEY=" + std::string(100, 'x') + "\n";
    huge += "DICTATION_HOTKEY=esc\n"; // beyond the cap: never read
    std::string hugeFile = dir.write("huge.env", huge);
    std::string keysOnly = dir.write("keys.env", "DICTATION_HOTKEY\nDICTATION_DIR=\n=value\n");

    Config fromBinary = load({}, {dir / "missing.env", dir.path(), binFile});
    EXPECT_EQ(fromBinary.dictationHotkey, HotkeyBinding::defaultBinding());
    Config fromHuge = load({}, {hugeFile});
    EXPECT_EQ(fromHuge.dictationPrompt, "start");
    EXPECT_EQ(fromHuge.dictationHotkey, HotkeyBinding::defaultBinding());
    Config fromKeys = load({}, {keysOnly});
    EXPECT_EQ(fromKeys.dictationDir, Paths::home() + "/Recordings/Dictation");
}

TEST_F(ConfigTest, CandidatesBeginWithTheExplicitPathExpanded) {
    auto list = Config::candidates(std::string("~/my.env"));
    ASSERT_GE(list.size(), 4u);
    EXPECT_EQ(list.front(), Paths::home() + "/my.env");
    EXPECT_EQ(list[list.size() - 3], ".env");
    EXPECT_EQ(list.back(), Paths::legacyConfig() + "/.env");
}
