#include <gtest/gtest.h>

#include "recognition/local_recognition_error.h"
#include "recognition/stt_error.h"
#include "ui/presenter_texts.h"
#include "ui/russian_forms.h"

using namespace talvoro;

TEST(RussianForms, WordsAndPairsFollowTheNumber) {
    for (int n : {1, 21, 101})
        EXPECT_EQ(wordsForm(n) + pairsForm(n), "словопара") << n;
    for (int n : {2, 3, 4, 22, 104})
        EXPECT_EQ(wordsForm(n) + pairsForm(n), "словапары") << n;
    for (int n : {0, 5, 11, 12, 14, 111, 112, 25})
        EXPECT_EQ(wordsForm(n) + pairsForm(n), "словпар") << n;
}

TEST(PillPicture, EachStateShowsItsTextGlyphLevelAndLiveText) {
    ControllerFacts facts;
    facts.hotkey = "Alt+Space";
    auto picture = [&](DictationState state) { return pillPicture(state, facts); };
    facts.elapsed = 75.9;
    facts.level = 0.4f;
    facts.live = DictationSnapshot{"привет мир", std::nullopt};
    const PillPicture recording = picture(DictationState::recording());
    EXPECT_EQ(recording.text, "1:15");
    EXPECT_EQ(recording.glyph.kind, PillGlyph::record);
    EXPECT_EQ(recording.level, 0.4f);
    EXPECT_EQ(recording.live, facts.live);
    EXPECT_TRUE(picture(DictationState::idle()).hidden);

    const PillPicture finishing = picture(DictationState::transcribing());
    EXPECT_EQ(finishing.text, "дописываю…");
    EXPECT_EQ(finishing.glyph.kind, PillGlyph::busy);
    EXPECT_FALSE(finishing.level);
    EXPECT_EQ(finishing.live, facts.live);
    facts.live.reset();
    facts.elapsed = 5;
    EXPECT_EQ(picture(DictationState::recording()).text, "0:05");
    EXPECT_EQ(picture(DictationState::transcribing()).text, "распознаю…");
    EXPECT_FALSE(picture(DictationState::transcribing()).live);

    EXPECT_EQ(picture(DictationState::inserted(1, "Kate")).text, "Kate · 1 слово");
    EXPECT_EQ(picture(DictationState::inserted(11, std::nullopt)).text, "вставлено · 11 слов");
    facts.insertIcon = QImage(8, 8, QImage::Format_ARGB32);
    EXPECT_TRUE(picture(DictationState::inserted(3, "Kate")).glyph.showsIcon());
    facts.pending = 1;
    EXPECT_EQ(picture(DictationState::queued(1)).text, "нет сервера · в очереди");
    facts.pending = 3;
    EXPECT_EQ(picture(DictationState::queued(3)).text, "нет сервера · в очереди 3");
    EXPECT_EQ(picture(DictationState::nowhere()).text, "курсор не в поле · Alt+Space вставит");
    EXPECT_EQ(picture(DictationState::inClipboard()).text, "текст в буфере — вставь Ctrl+V");
    facts.microphoneLost = true; // what was captured before the sound server went away
    EXPECT_EQ(picture(DictationState::transcribing()).text, "микрофон пропал · распознаю…");
}

TEST(PillPicture, TransientFailuresAreCutAndLastingOnesShownWhole) {
    ControllerFacts facts;
    const std::string longText = "сервер распознавания не отвечает уже довольно долго";
    facts.failure = DictationFailure(STTError::unreachable("тишина"));
    const PillPicture cut = pillPicture(DictationState::failed(longText), facts);
    EXPECT_EQ(cut.text, "не вышло · сервер распознавания не отве");
    EXPECT_EQ(cut.glyph.kind, PillGlyph::fail);
    facts.failure = DictationFailure(LocalRecognitionError::brokenModel("encoder", "мусор"));
    EXPECT_EQ(pillPicture(DictationState::failed(longText), facts).text, longText);
    facts.failure.reset();
    EXPECT_EQ(pillPicture(DictationState::failed("коротко"), facts).text, "не вышло · коротко");
}

TEST(StatusLine, FirstRuleThatAppliesWinsThenEveryStateOfARunningController) {
    StatusFacts facts;
    facts.hotkey = "Alt+Space";
    auto line = [&](std::optional<DictationState> state) {
        facts.state = state;
        return statusLine(facts);
    };
    EXPECT_EQ(line(std::nullopt), "диктовка: Alt+Space");
    facts.missing.microphone = facts.missing.accessibility = true;
    EXPECT_EQ(line(std::nullopt), "диктовка: нет разрешения (микрофон, универсальный доступ)");
    facts.startupError = "сочетание Alt+Space уже занято другой программой";
    EXPECT_EQ(line(std::nullopt), "диктовка: сочетание Alt+Space уже занято другой программой");

    facts = StatusFacts{};
    facts.hotkey = "Alt+Space";
    facts.pending = 2;
    EXPECT_EQ(line(DictationState::idle()), "диктовка: Alt+Space, в очереди 2");
    EXPECT_EQ(line(DictationState::queued(2)), "диктовка: в очереди 2");
    facts.pending = 0;
    const std::pair<DictationState, std::string> lines[] = {
        {DictationState::idle(), "Alt+Space"},
        {DictationState::inserted(5, "Kate"), "вставлено в Kate · 5"},
        {DictationState::nowhere(), "курсор был не в поле — поставь курсор и нажми Alt+Space "
                                    "(текст и в буфере: Ctrl+V)"},
        {DictationState::failed("не вышло"), "не вышло"},
    };
    for (const auto& [state, text] : lines)
        EXPECT_EQ(line(state), "диктовка: " + text);
    facts.failure = DictationFailure(LocalRecognitionError::brokenModel("encoder", "мусор"));
    EXPECT_EQ(line(DictationState::failed("модель повреждена")),
              "диктовка: " + facts.failure->hint());
}
