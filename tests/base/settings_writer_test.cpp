#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "base/settings_file.h"
#include "base/settings_writer.h"
#include "support/temp_dir.h"

using namespace talvoro;
using talvoro::testing::readFile;
using talvoro::testing::TempDir;

TEST(SettingsWriter, ChangesOnlyItsKeysKeepsCommentsUnknownKeysAndCRLFAndWritesPrivately) {
    TempDir dir;
    const std::string path = dir / "dictation.env";
    {
        std::ofstream out(path, std::ios::binary);
        out << "\xEF\xBB\xBF# мои настройки\r\n"
               "DICTATION_HOTKEY = opt+space   \r\n"
               "  # STREAM_ENABLED=1\r\n"
               "SIBLING_TOOL_KEY='keep me'\r\n"
               "\r\n"
               "DICT_FILE=~/a.txt\r\n"
               "DICTATION_HOTKEY=cmd+f\r\n"
               "no equals sign";
    }
    ::chmod(path.c_str(), 0644);
    SettingsWriter::update(path, {{"DICTATION_HOTKEY", "ctrl+alt+space"},
                                  {"DICT_FILE", std::nullopt},
                                  {"DICTATION_MICROPHONE", " alsa_input.usb \"x\""},
                                  {"DICTATION_PROMPT", "\"quoted\""}});
    EXPECT_EQ(readFile(path), "\xEF\xBB\xBF# мои настройки\r\n"
                              "DICTATION_HOTKEY=ctrl+alt+space\r\n"
                              "  # STREAM_ENABLED=1\r\n"
                              "SIBLING_TOOL_KEY='keep me'\r\n"
                              "\r\n"
                              "no equals sign\r\n"
                              "DICTATION_MICROPHONE=\" alsa_input.usb \"x\"\"\r\n"
                              "DICTATION_PROMPT=\"\"quoted\"\"\r\n");
    const auto entries = SettingsFile::read(path);
    ASSERT_TRUE(entries);
    // What the writer quoted, the reader reads back as it was given.
    EXPECT_EQ(entries->at("DICTATION_MICROPHONE"), " alsa_input.usb \"x\"");
    EXPECT_EQ(entries->at("DICTATION_PROMPT"), "\"quoted\"");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "nothing left beside it";

    const std::string fresh = dir / "new/dictation.env";
    SettingsWriter::update(fresh, {{"DICTATION_HOTKEY", "f8"}});
    EXPECT_EQ(readFile(fresh), "DICTATION_HOTKEY=f8\n");
    EXPECT_THROW(SettingsWriter::update(fresh, {{"DICTATION_PROMPT", "two\nlines"}}),
                 PrivateFileError);
    EXPECT_EQ(readFile(fresh), "DICTATION_HOTKEY=f8\n");
}
