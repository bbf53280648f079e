#include "audio/core_audio_error.h"

#include <gtest/gtest.h>

namespace talvoro {
namespace {

TEST(CoreAudioError, StatusNamesTheCodeInDecimalAndAsFourCharacters) {
    EXPECT_STREQ(CoreAudioError::status("запуск", 0x666D743F).what(),
                 "запуск: OSStatus 1718449215 (fmt?)");
    // Bytes above 0x7F cannot be ASCII; NUL and line breaks are shown as "-".
    EXPECT_STREQ(CoreAudioError::status("шаг", -50).what(), "шаг: OSStatus -50 ()");
    EXPECT_STREQ(CoreAudioError::status("шаг", 3).what(), "шаг: OSStatus 3 (-)");
    EXPECT_EQ(CoreAudioError::fourCharCode(0x610A6263), "-");
    EXPECT_EQ(CoreAudioError::status("шаг", 3).code(), 3);
}

} // namespace
} // namespace talvoro
