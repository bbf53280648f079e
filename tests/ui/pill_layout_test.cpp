#include <gtest/gtest.h>

#include <cmath>

#include "support/gui_app.h"
#include "ui/level_meter.h"
#include "ui/live_text.h"
#include "ui/pill_layout.h"

using namespace talvoro;

namespace {

// Where each part sits is seen in the pixels of the pill's snapshot (dictation_pill_test).
TEST(PillLayout, WidthFollowsTheLabelWithinItsBoundsUnlessTheMeterShowsAndLiveTextGrowsIt) {
    PillContentSizes sizes;
    sizes.glyph = QSizeF(9.2, 15);
    sizes.labelWidth = 30;
    EXPECT_EQ(layoutPill(sizes).size, QSize(208, 38));
    sizes.icon = true;
    sizes.labelWidth = 900;
    const PillGeometry wide = layoutPill(sizes);
    EXPECT_EQ(wide.size.width(), 460);
    EXPECT_EQ(wide.label, QRect(58, 10, 460 - 58 - 16, 18)); // the label truncates in there

    sizes.meter = true;
    const PillGeometry metered = layoutPill(sizes);
    EXPECT_EQ(metered.size, QSize(208, 38));
    EXPECT_EQ(metered.label.width(), 120);
    EXPECT_EQ(metered.meter, QRect(208 - 16 - 52, 13, 52, 12));

    sizes.liveText = QSize(300, 28);
    const PillGeometry live = layoutPill(sizes);
    EXPECT_EQ(live.size, QSize(332, 38 + 28 + 6));
    EXPECT_EQ(live.meter.right() + 1, 332 - 16); // the meter keeps to the right edge
    EXPECT_EQ(live.liveText, QRect(16, 34, 300, 28));
}

TEST(PillPlacement, HangsUnderThePointerOrStandsAboveItEightAwayFromTheEdges) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(anchorAtPointer({500, 300}, screen), (PillAnchor{{500, 318}, true}));
    EXPECT_EQ(anchorAtPointer({500, 800 - 96}, screen), (PillAnchor{{500, 722}, true}));
    EXPECT_EQ(anchorAtPointer({500, 800 - 95}, screen), (PillAnchor{{500, 687}, false}));
    EXPECT_EQ(anchorAtPointer({500, 790}, std::nullopt), (PillAnchor{{500, 808}, true}));
    EXPECT_EQ(pillFrame({{500, 318}, true}, {208, 58}, screen), QRect(396, 318, 208, 58));
    EXPECT_EQ(pillFrame({{500, 700}, false}, {208, 58}, screen), QRect(396, 642, 208, 58));

    const QRect second(1280, 30, 1920, 1020); // a screen to the right, under a top panel
    EXPECT_EQ(pillFrame({{1290, 100}, true}, {300, 72}, second).x(), 1288);
    EXPECT_EQ(pillFrame({{3195, 100}, true}, {300, 72}, second).x(), 3200 - 8 - 300);
    EXPECT_EQ(pillFrame({{2000, 1040}, true}, {300, 72}, second).bottom() + 1, 1050 - 8);
}

class LiveTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        talvoro::testing::guiApp();
        font.setFamily("DejaVu Sans");
        font.setPixelSize(12);
    }
    LiveText make(const std::string& text, std::optional<std::string> interim = {}) {
        return LiveText::make({text, interim}, font, 428);
    }
    QFont font;
};

TEST_F(LiveTextTest, LongTextKeepsTheLongestTailThatFitsInTwoLinesFromAWordStart) {
    const int twoLines = 2 * make("раз").size.height();
    // Long words, and words so short that more than thirty fit in two lines.
    for (const auto& [count, word] : {std::pair{60, "слово%1"}, std::pair{700, "и"}}) {
        SCOPED_TRACE(word);
        QString words;
        for (int i = 0; i < count; ++i)
            words += QString(word).arg(i) + ' ';
        const QString full = words + "хвост";
        const LiveText live = make(words.trimmed().toStdString(), "хвост");

        ASSERT_TRUE(full.endsWith(live.text));
        const auto start = full.size() - live.text.size();
        EXPECT_EQ(full[start - 1], ' '); // cut at a word start, never inside a word
        EXPECT_EQ(LiveText::lineCount(live.text, font, 428), 2);
        const auto previousWord = full.lastIndexOf(' ', start - 2) + 1;
        EXPECT_EQ(LiveText::lineCount(full.mid(previousWord), font, 428), 3);
        EXPECT_EQ(live.interimStart, live.text.size() - 5);
        EXPECT_EQ(live.size.height(), twoLines);
    }
    // One word too long for two lines is kept alone, shown in two lines' height.
    const LiveText giant = make("начало " + std::string(400, 'x'));
    EXPECT_EQ(giant.text, QString(400, 'x'));
    EXPECT_EQ(giant.size.height(), twoLines);
}

TEST(LevelMeter, JumpsUpAtOnceAndFallsByAQuarterPerUpdate) {
    LevelMeter meter;
    std::vector<int> lit{meter.litSegments()};
    for (const auto level :
         std::initializer_list<std::optional<float>>{0.37f, 0.8f, 0.0f, {}, 1.7f, std::nanf("")}) {
        meter.update(level);
        lit.push_back(meter.litSegments());
    }
    EXPECT_EQ(lit, (std::vector<int>{0, 3, 8, 6, 4, 10, 10})); // the last: 1.7 × 0.75
    EXPECT_EQ(meter.level(), 0.0f);
}

} // namespace
