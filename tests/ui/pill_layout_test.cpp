#include <gtest/gtest.h>

#include <cmath>

#include "support/gui_app.h"
#include "ui/level_meter.h"
#include "ui/live_text.h"
#include "ui/pill_animations.h"
#include "ui/pill_layout.h"

using namespace talvoro;

namespace {

TEST(PillLayout, WidthFollowsTheLabelWithinItsBoundsUnlessTheMeterShows) {
    PillContentSizes sizes;
    sizes.glyph = QSizeF(9.2, 15);
    sizes.labelWidth = 30;
    EXPECT_EQ(pillLead(sizes), 16 + 10 + 7);
    EXPECT_EQ(layoutPill(sizes).size, QSize(208, 38));

    sizes.labelWidth = 250.3;
    EXPECT_EQ(layoutPill(sizes).size.width(), 251 + 33 + 16);
    sizes.icon = true;
    EXPECT_EQ(pillLead(sizes), 33 + 18 + 7);
    EXPECT_EQ(layoutPill(sizes).size.width(), 251 + 58 + 16);

    sizes.labelWidth = 900;
    PillGeometry wide = layoutPill(sizes);
    EXPECT_EQ(wide.size.width(), 460);
    EXPECT_EQ(wide.label, QRect(58, 10, 460 - 58 - 16, 18)); // the label truncates in there

    sizes.meter = true;
    PillGeometry metered = layoutPill(sizes);
    EXPECT_EQ(metered.size, QSize(208, 38));
    EXPECT_EQ(metered.label.width(), 120);
    EXPECT_EQ(metered.meter, QRect(208 - 16 - 52, 13, 52, 12));
}

TEST(PillLayout, PartsSitOnTheRowAndLiveTextGrowsThePill) {
    PillContentSizes sizes;
    sizes.glyph = QSizeF(9.2, 15);
    sizes.icon = true;
    sizes.meter = true;
    sizes.liveText = QSize(300, 28);
    PillGeometry g = layoutPill(sizes);
    EXPECT_EQ(g.size, QSize(332, 38 + 28 + 6));
    EXPECT_EQ(g.glyph, QRectF(16, 27 - 15, 9.2, 15));
    EXPECT_EQ(g.icon, QRect(16 + 10 + 7, 10, 18, 18));
    EXPECT_EQ(g.meter.right() + 1, 332 - 16); // the meter keeps to the right edge
    EXPECT_EQ(g.liveText, QRect(16, 34, 300, 28));
    EXPECT_EQ(g.size.height() - g.liveText.bottom() - 1, 10);
}

TEST(PillPlacement, HangsUnderThePointerWhenThereIsRoomElseStandsAboveIt) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(anchorAtPointer({500, 300}, screen), (PillAnchor{{500, 318}, true}));
    EXPECT_EQ(anchorAtPointer({500, 800 - 96}, screen), (PillAnchor{{500, 722}, true}));
    EXPECT_EQ(anchorAtPointer({500, 800 - 95}, screen), (PillAnchor{{500, 687}, false}));
    EXPECT_EQ(anchorAtPointer({500, 790}, std::nullopt), (PillAnchor{{500, 808}, true}));

    const QSize size(208, 58);
    EXPECT_EQ(pillFrame({{500, 318}, true}, size, screen), QRect(396, 318, 208, 58));
    // Standing on the point, the pill grows upwards.
    EXPECT_EQ(pillFrame({{500, 700}, false}, size, screen), QRect(396, 642, 208, 58));
}

TEST(PillPlacement, KeepsEightAwayFromTheLeftRightAndBottomOfTheVisibleArea) {
    const QRect second(1280, 30, 1920, 1020); // a screen to the right, under a top panel
    const QSize size(300, 72);
    EXPECT_EQ(pillFrame({{1290, 100}, true}, size, second).x(), 1288);
    EXPECT_EQ(pillFrame({{3195, 100}, true}, size, second).x(), 3200 - 8 - 300);
    EXPECT_EQ(pillFrame({{2000, 1040}, true}, size, second).bottom() + 1, 1050 - 8);
}

class LiveTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        talvoro::testing::guiApp();
        font.setFamily("DejaVu Sans");
        font.setPixelSize(12);
    }
    QFont font;
};

TEST_F(LiveTextTest, ShortTextStaysWholeAndInterimFollowsAfterOneSpace) {
    LiveText plain = LiveText::make({"раз два", std::nullopt}, font, 428);
    EXPECT_EQ(plain.text, "раз два");
    EXPECT_EQ(plain.interimStart, plain.text.size());
    EXPECT_EQ(LiveText::lineCount(plain.text, font, 428), 1);
    EXPECT_LE(plain.size.width(), 428);
    EXPECT_GT(plain.size.width(), 20);

    LiveText both = LiveText::make({"раз", std::string("два")}, font, 428);
    EXPECT_EQ(both.text, "раз два");
    EXPECT_EQ(both.interimStart, 4);

    LiveText interimOnly = LiveText::make({"", std::string("раз")}, font, 428);
    EXPECT_EQ(interimOnly.text, "раз");
    EXPECT_EQ(interimOnly.interimStart, 0);

    EXPECT_TRUE(LiveText::make({"  ", std::string("")}, font, 428).isEmpty());
}

TEST_F(LiveTextTest, LongTextKeepsTheLongestTailThatFitsInTwoLinesFromAWordStart) {
    // Long words, and words so short that more than thirty fit in two lines.
    for (const auto& [count, word] : {std::pair{60, "слово%1"}, std::pair{700, "и"}}) {
        SCOPED_TRACE(word);
        QString words;
        for (int i = 0; i < count; ++i)
            words += QString(word).arg(i) + ' ';
        const QString full = words + "хвост";
        LiveText live =
            LiveText::make({words.trimmed().toStdString(), std::string("хвост")}, font, 428);

        ASSERT_TRUE(full.endsWith(live.text));
        const auto start = full.size() - live.text.size();
        EXPECT_EQ(full[start - 1], ' '); // cut at a word start, never inside a word
        EXPECT_EQ(LiveText::lineCount(live.text, font, 428), 2);
        const auto previousWord = full.lastIndexOf(' ', start - 2) + 1;
        EXPECT_EQ(LiveText::lineCount(full.mid(previousWord), font, 428), 3);
        EXPECT_EQ(live.interimStart, live.text.size() - 5);
        EXPECT_EQ(live.size.height(), 2 * LiveText::make({"раз", {}}, font, 428).size.height());
    }
    const int twoLines = 2 * LiveText::make({"раз", {}}, font, 428).size.height();

    // One word too long for two lines is kept alone, shown in two lines' height.
    LiveText giant = LiveText::make({"начало " + std::string(400, 'x'), {}}, font, 428);
    EXPECT_EQ(giant.text, QString(400, 'x'));
    EXPECT_EQ(giant.size.height(), twoLines);
}

TEST(LevelMeter, JumpsUpAtOnceAndFallsByAQuarterPerUpdate) {
    LevelMeter meter;
    EXPECT_EQ(meter.litSegments(), 0);
    meter.update(0.37f);
    EXPECT_EQ(meter.litSegments(), 3);
    meter.update(0.8f);
    EXPECT_EQ(meter.litSegments(), 8);
    meter.update(0.0f);
    EXPECT_FLOAT_EQ(meter.smoothed(), 0.6f);
    EXPECT_EQ(meter.litSegments(), 6);
    meter.update(std::nullopt);
    EXPECT_EQ(meter.litSegments(), 4);
    meter.update(1.7f);
    EXPECT_EQ(meter.litSegments(), 10);
    meter.update(std::nanf(""));
    EXPECT_EQ(meter.level(), 0.0f);
    EXPECT_EQ(meter.litSegments(), 10); // 1.275
}

TEST(PillMotion, PopSpringsFromAFifthAndShakeWalksItsOffsets) {
    EXPECT_DOUBLE_EQ(popScale(0), 0.2);
    EXPECT_DOUBLE_EQ(popScale(popSeconds), 1.0);
    double peak = 0;
    for (double t = 0; t < popSeconds; t += 0.01)
        peak = std::max(peak, popScale(t));
    EXPECT_GT(peak, 1.05); // it overshoots like a spring
    EXPECT_LT(peak, 1.4);

    const double step = shakeSeconds / 5;
    const double expected[] = {0, -6, 5, -3, 2, 0};
    for (int i = 0; i <= 5; ++i)
        EXPECT_NEAR(shakeOffset(i * step), expected[i], 1e-9) << i;
    EXPECT_NEAR(shakeOffset(step / 2), -3, 1e-9);
    EXPECT_EQ(shakeOffset(1.0), 0);
}

} // namespace
