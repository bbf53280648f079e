#include <gtest/gtest.h>

#include "cleanup/whisper_noise.h"

namespace talvoro {
namespace {

TEST(WhisperNoise, WholeNoiseTextsBecomeEmpty) {
    for (const char* text :
         {"*Звук оттенков*", "[музыка]", "(смеётся)", "♪♪", "Продолжение следует...",
          "Спасибо за просмотр!", "Субтитры сделал Lemvask", "ПРОДОЛЖЕНИЕ СЛЕДУЕТ!!!",
          "Продолжение следует…", "продолжение слЕдует", "  ", "",
          "Редактор субтитров А.Вельдин Корректор А.Крамова", "続きは次回"})
        EXPECT_EQ(WhisperNoise::clean(text), "") << text;
}

TEST(WhisperNoise, OrdinarySpeechSurvives) {
    for (const char* text :
         {"Продолжение следует за нами, я договорю", "Спасибо за просмотр записи созвона",
          "Поставь звёздочку в конце строки", "Поставь докер на прод. Продолжение следует...", "*",
          "а * б", "*музыка♪"})
        EXPECT_EQ(WhisperNoise::clean(text), text) << text;
}

TEST(WhisperNoise, NoiseInsideASentenceLeavesTheSentence) {
    EXPECT_EQ(WhisperNoise::clean("Поставь докер на прод *Звук оттенков* в пятницу"),
              "Поставь докер на прод в пятницу");
    EXPECT_EQ(WhisperNoise::clean("Привет (смеётся) спасибо за просмотр"), "Привет");
    EXPECT_EQ(WhisperNoise::clean("раз [шум (тише)] два"), "раз два");
}

TEST(WhisperNoise, MegabyteOfText) {
    std::string text;
    while (text.size() < 1'000'000)
        text += "слово (шум) ";
    const std::string cleaned = WhisperNoise::clean(text);
    EXPECT_TRUE(cleaned.starts_with("слово слово слово"));
    EXPECT_EQ(cleaned.find('('), std::string::npos);
}

} // namespace
} // namespace talvoro
