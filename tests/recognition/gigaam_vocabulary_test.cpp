#include "recognition/gigaam_vocabulary.h"

#include <gtest/gtest.h>

using namespace talvoro;

TEST(GigaAMVocabulary, SplitsAtTheLastSpaceIgnoresBrokenLinesAndTheHighestIdIsBlank) {
    const auto vocabulary = GigaAMVocabulary::parse("▁при 17\n"
                                                    "a b 5\n"
                                                    "\n"
                                                    "безпробела\n"
                                                    "хвост \n"
                                                    "число 12x\n"
                                                    "огромный 99999999999999999999\n"
                                                    "б 2000000000\n"
                                                    "старое 1\n"
                                                    "новое 1\n"
                                                    "<blk> 20");
    ASSERT_EQ(vocabulary.tokens().size(), 21u);
    EXPECT_EQ(vocabulary.tokens()[17], "▁при");
    EXPECT_EQ(vocabulary.tokens()[5], "a b");
    EXPECT_EQ(vocabulary.tokens()[1], "новое");
    EXPECT_EQ(vocabulary.tokens()[12], "");
    EXPECT_EQ(vocabulary.blank(), 20);
    EXPECT_EQ(GigaAMVocabulary::parse("").tokens(), std::vector<std::string>{""});
    const auto windows = GigaAMVocabulary::parse("\xEF\xBB\xBF▁при 0\r\nвет 1\r\n<blk> 2\r\n");
    EXPECT_EQ(windows.tokens(), (std::vector<std::string>{"▁при", "вет", "<blk>"}));
}

TEST(GigaAMVocabulary, TextTurnsWordMarksIntoSpacesSkipsUnknownIdsAndTrims) {
    const auto vocabulary = GigaAMVocabulary::parse("▁при 1\nвет 2\n▁мир▁ок 3\n<blk> 9\n");
    const std::vector<std::int64_t> ids{1, 2, 4, 40, -1, 3};
    EXPECT_EQ(vocabulary.text(ids), "привет мир ок");
    EXPECT_EQ(trimmedText(" \t\n\u00a0 текст\u2009да \u3000\r\n"), "текст\u2009да");
    EXPECT_EQ(trimmedText("\u00a0"), "");
}
