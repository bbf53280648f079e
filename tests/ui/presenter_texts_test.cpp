#include <gtest/gtest.h>

#include "recognition/local_recognition_error.h"
#include "recognition/stt_error.h"
#include "ui/presenter_texts.h"
#include "ui/russian_forms.h"

using namespace talvoro;

namespace {

ControllerFacts withHotkey() {
    ControllerFacts facts;
    facts.hotkey = "Alt+Space";
    return facts;
}

} // namespace

TEST(RussianForms, WordsAndPairsFollowTheNumber) {
    for (int n : {1, 21, 101})
        EXPECT_EQ(wordsForm(n), "слово") << n;
    for (int n : {2, 3, 4, 22, 104})
        EXPECT_EQ(wordsForm(n), "слова") << n;
    for (int n : {0, 5, 11, 12, 14, 111, 112, 25})
        EXPECT_EQ(wordsForm(n), "слов") << n;
    EXPECT_EQ(pairsForm(1), "пара");
    EXPECT_EQ(pairsForm(3), "пары");
    EXPECT_EQ(pairsForm(5), "пар");
    EXPECT_EQ(pairsForm(12), "пар");
    EXPECT_EQ(pairsForm(101), "пара");
}

TEST(PillPicture, RecordingShowsMinutesAndSecondsWithLevelAndLiveText) {
    ControllerFacts facts = withHotkey();
    facts.elapsed = 75.9;
    facts.level = 0.4f;
    facts.live = DictationSnapshot{"привет мир", std::nullopt};
    const PillPicture picture = pillPicture(DictationState::recording(), facts);
    EXPECT_EQ(picture.text, "1:15");
    EXPECT_EQ(picture.glyph.kind, PillGlyph::record);
    EXPECT_EQ(picture.level, 0.4f);
    EXPECT_EQ(picture.live, facts.live);
    facts.elapsed = 5;
    EXPECT_EQ(pillPicture(DictationState::recording(), facts).text, "0:05");
    EXPECT_TRUE(pillPicture(DictationState::idle(), facts).hidden);
}

TEST(PillPicture, RecognisingSaysWhetherTheLiveTextIsBeingFinished) {
    ControllerFacts facts = withHotkey();
    facts.level = 0.5f;
    PillPicture plain = pillPicture(DictationState::transcribing(), facts);
    EXPECT_EQ(plain.text, "распознаю…");
    EXPECT_FALSE(plain.level);
    EXPECT_FALSE(plain.live);
    facts.live = DictationSnapshot{"почти всё", std::nullopt};
    PillPicture finishing = pillPicture(DictationState::transcribing(), facts);
    EXPECT_EQ(finishing.text, "дописываю…");
    EXPECT_EQ(finishing.glyph.kind, PillGlyph::busy);
    EXPECT_EQ(finishing.live, facts.live);
    EXPECT_EQ(pillPicture(DictationState::polishing(), facts).text, "причёсываю…");
}

TEST(PillPicture, FinalStatesNameTheirOutcome) {
    ControllerFacts facts = withHotkey();
    EXPECT_EQ(pillPicture(DictationState::inserted(1, "Kate"), facts).text, "Kate · 1 слово");
    EXPECT_EQ(pillPicture(DictationState::inserted(2, std::nullopt), facts).text,
              "вставлено · 2 слова");
    EXPECT_EQ(pillPicture(DictationState::inserted(11, std::nullopt), facts).text,
              "вставлено · 11 слов");
    facts.pending = 1;
    EXPECT_EQ(pillPicture(DictationState::queued(1), facts).text, "нет сервера · в очереди");
    facts.pending = 3;
    const PillPicture queued = pillPicture(DictationState::queued(3), facts);
    EXPECT_EQ(queued.text, "нет сервера · в очереди 3");
    EXPECT_EQ(queued.glyph.kind, PillGlyph::wait);
    const PillPicture nowhere = pillPicture(DictationState::nowhere(), facts);
    EXPECT_EQ(nowhere.text, "курсор не в поле · Alt+Space вставит");
    EXPECT_EQ(nowhere.glyph.kind, PillGlyph::blocked);
    facts.microphoneLost = true; // what was captured before the sound server went away
    EXPECT_EQ(pillPicture(DictationState::transcribing(), facts).text,
              "микрофон пропал · распознаю…");
    EXPECT_EQ(pillPicture(DictationState::inserted(1, "Kate"), facts).text,
              "микрофон пропал · Kate · 1 слово");
}

TEST(PillPicture, InsertedCarriesTheApplicationsIcon) {
    ControllerFacts facts = withHotkey();
    QImage icon(8, 8, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    facts.insertIcon = icon;
    const PillPicture picture = pillPicture(DictationState::inserted(3, "Kate"), facts);
    EXPECT_EQ(picture.glyph.kind, PillGlyph::ok);
    EXPECT_TRUE(picture.glyph.showsIcon());
}

TEST(PillPicture, TransientFailuresAreCutAndLastingOnesShownWhole) {
    ControllerFacts facts = withHotkey();
    const std::string longText = "сервер распознавания не отвечает уже довольно долго";
    facts.failure = DictationFailure(STTError::unreachable("тишина"));
    ASSERT_TRUE(facts.failure->isTransient());
    const PillPicture cut = pillPicture(DictationState::failed(longText), facts);
    EXPECT_EQ(cut.text, "не вышло · сервер распознавания не отве");
    EXPECT_EQ(cut.glyph.kind, PillGlyph::fail);

    facts.failure = DictationFailure(LocalRecognitionError::brokenModel("encoder", "мусор"));
    ASSERT_FALSE(facts.failure->isTransient());
    EXPECT_EQ(pillPicture(DictationState::failed(longText), facts).text, longText);
    facts.failure.reset();
    EXPECT_EQ(pillPicture(DictationState::failed("коротко"), facts).text, "не вышло · коротко");
}

TEST(StatusLine, FirstRuleThatAppliesWins) {
    StatusFacts facts;
    facts.hotkey = "Alt+Space";
    EXPECT_EQ(statusLine(facts), "диктовка: Alt+Space");
    facts.missing.microphone = true;
    facts.missing.accessibility = true;
    EXPECT_EQ(statusLine(facts), "диктовка: нет разрешения (микрофон, универсальный доступ)");
    facts.startupError = "сочетание Alt+Space уже занято другой программой";
    EXPECT_EQ(statusLine(facts), "диктовка: сочетание Alt+Space уже занято другой программой");
}

TEST(StatusLine, EveryStateOfARunningController) {
    StatusFacts facts;
    facts.hotkey = "Alt+Space";
    auto line = [&](DictationState state) {
        facts.state = state;
        return statusLine(facts);
    };
    facts.pending = 2;
    EXPECT_EQ(line(DictationState::idle()), "диктовка: Alt+Space, в очереди 2");
    EXPECT_EQ(line(DictationState::queued(2)), "диктовка: в очереди 2");
    facts.pending = 0;
    EXPECT_EQ(line(DictationState::idle()), "диктовка: Alt+Space");
    EXPECT_EQ(line(DictationState::recording()), "диктовка: запись");
    EXPECT_EQ(line(DictationState::transcribing()), "диктовка: распознаю");
    EXPECT_EQ(line(DictationState::polishing()), "диктовка: причёсываю");
    EXPECT_EQ(line(DictationState::inserted(5, "Kate")), "диктовка: вставлено в Kate · 5");
    EXPECT_EQ(line(DictationState::inserted(5, std::nullopt)), "диктовка: вставлено 5");
    EXPECT_EQ(line(DictationState::nowhere()),
              "диктовка: курсор был не в поле — поставь курсор и нажми Alt+Space (текст и в "
              "буфере: Ctrl+V)");
    EXPECT_EQ(line(DictationState::failed("не вышло")), "диктовка: не вышло");
    facts.failure = DictationFailure(LocalRecognitionError::brokenModel("encoder", "мусор"));
    EXPECT_EQ(line(DictationState::failed("модель повреждена")),
              "диктовка: " + facts.failure->hint());
}
