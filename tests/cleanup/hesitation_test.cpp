#include <gtest/gtest.h>

#include "cleanup/hesitation.h"

namespace talvoro {
namespace {

TEST(Hesitation, RecognisesFillersOnly) {
    for (const char* filler : {"э-э", "М-м-м", "а-а-а", "у-у", "«э-э»,", "э-э.", "Э-Э-Э!", "о-о…"})
        EXPECT_TRUE(Hesitation::isMumble(std::string(filler))) << filler;
    for (const char* word : {"а", "ну", "эээ", "ээ-ээ", "э--э", "б-б", "какой-нибудь", "-", "",
                             "э-м", "ё-ё", "э\u0301-э\u0301"})
        EXPECT_FALSE(Hesitation::isMumble(std::string(word))) << word;
}

struct Case {
    const char* in;
    const char* out;
};

TEST(Hesitation, RemovesFillersAndKeepsTheirSentenceMarks) {
    const Case cases[] = {
        {"С эмоциями, интонациями, э-э, чтоб хорошо звучало.",
         "С эмоциями, интонациями, чтоб хорошо звучало."},
        {"Давай, м-м-м, попозже.", "Давай, попозже."},
        {"Готово э-э. Дальше поехали.", "Готово. Дальше поехали."},
        {"а-а понятно", "понятно"},
        {"Так и сделаем э-э?", "Так и сделаем?"},
        {"Стоп. э-э.", "Стоп."},
        {"Да.  Нет", "Да. Нет"},
        {"Ну и какой-нибудь юмор сюда.", "Ну и какой-нибудь юмор сюда."},
        {"а потом что", "а потом что"},
        {"какой-нибудь из-за кое-как", "какой-нибудь из-за кое-как"},
        {"э-э м-м", ""},
        {"", ""},
        {"   \t ", ""},
        // A mark with nothing before it goes; a carried one does not pile on other marks.
        {"Э-э. Привет всем", "Привет всем"},
        {"м-м? Да", "Да"},
        {"Давай, э-э. Потом", "Давай. Потом"},
        {"Что? э-э. Ладно", "Что? Ладно"},
        {"Ну… э-э. Ладно", "Ну… Ладно"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hesitation::clean(std::string(c.in)), c.out) << c.in;
}

} // namespace
} // namespace talvoro
