#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <cmath>

#include "support/event_loop.h"
#include "support/gui_app.h"
#include "ui/dictation_pill.h"
#include "ui/fake_pill_window_system.h"

using namespace talvoro;

namespace {

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

QColor pixel(const QImage& image, QPointF logical) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(logical.x() * ratio),
                            static_cast<int>(logical.y() * ratio));
}

// The darkest pixel inside the rectangle: the core of a text's strokes on a light surface.
QColor darkest(const QImage& image, const QRect& rect) {
    QColor best = Qt::white;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (QColor c = image.pixelColor(x, y); c.lightness() < best.lightness())
                best = c;
    return best;
}

class DictationPillTest : public ::testing::Test {
protected:
    void SetUp() override { talvoro::testing::guiApp(); }

    DictationPill::Options options() {
        return {windowSystem, [this] { return now; }, [this] { return pointer; }};
    }

    std::shared_ptr<FakePillWindowSystem> windowSystem = std::make_shared<FakePillWindowSystem>();
    double now = 100;
    QPoint pointer{400, 200};
};

// The PNG snapshot's size and surface colour are checked in the pilltest command's files.
TEST_F(DictationPillTest, ThemeColoursAreWhereTheyBelong) {
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(scheme == ColorScheme::dark ? "dark" : "light");
        const ThemeColors& colors = ThemeColors::of(scheme);
        DictationPill pill(options());
        pill.setColorScheme(scheme);
        pill.show("0:07", PillGlyph::record, 0.6f);
        for (const qreal ratio : {1.0, 2.0}) {
            const QImage image = pill.snapshotImage(ratio);
            EXPECT_EQ(image.size(), QSize(208, 38) * ratio);
            const PillGeometry& g = pill.scene().geometry;
            EXPECT_LT(distance(pixel(image, {104, 0.5}), colors.border), 6);
            EXPECT_LT(distance(pixel(image, {104, 4}), colors.surface), 6);
            EXPECT_EQ(pixel(image, {1, 1}).alpha(), 0); // outside the rounded corner
            EXPECT_LT(distance(pixel(image, g.glyph.center()), colors.accent), 12);

            const qreal segment = (52 - 18) / 10.0 + 2;
            const QPointF firstSegment(g.meter.x() + 1.7, g.meter.center().y());
            EXPECT_LT(distance(pixel(image, firstSegment), colors.accent), 12);
            const QColor unlit = pixel(image, firstSegment + QPointF(9 * segment, 0));
            const int blend = distance(colors.surface, colors.text) * 18 / 100;
            EXPECT_NEAR(distance(unlit, colors.surface), blend, 12);
        }
    }
}

TEST_F(DictationPillTest, InterimTextIsSecondaryAndCommittedTextIsText) {
    const ThemeColors& colors = ThemeColors::of(ColorScheme::light);
    DictationPill pill(options());
    pill.setColorScheme(ColorScheme::light);

    pill.show("0:01", PillGlyph::record, 0.1f, DictationSnapshot{"", std::string("раз")});
    const QRect live = pill.scene().geometry.liveText;
    ASSERT_FALSE(live.isEmpty());
    EXPECT_EQ(pill.size().height(), 38 + live.height() + 6);
    QColor ink = darkest(pill.snapshotImage(1), live);
    EXPECT_LT(distance(ink, colors.secondary), distance(ink, colors.text));

    pill.show("0:01", PillGlyph::record, 0.1f, DictationSnapshot{"раз", std::nullopt});
    ink = darkest(pill.snapshotImage(1), pill.scene().geometry.liveText);
    EXPECT_LT(distance(ink, colors.text), distance(ink, colors.secondary));
}

TEST_F(DictationPillTest, StaysWhereItWasFirstShownUntilHidden) {
    DictationPill pill(options());
    pill.show("распознаю…", PillGlyph::busy);
    EXPECT_EQ(pill.frame(), QRect(400 - 104, 218, 208, 38));
    pointer = {100, 100};
    pill.show("0:01", PillGlyph::record, 0.2f, DictationSnapshot{"раз два три", std::nullopt});
    EXPECT_EQ(pill.frame().top(), 218);
    EXPECT_EQ(pill.frame().x(), 400 - pill.size().width() / 2); // centred on the same point

    pill.hide();
    EXPECT_FALSE(pill.isShown());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    windowSystem->pointerSeen = false; // XWayland while the pointer is over a native window
    pill.show("0:00", PillGlyph::record, 0.f);
    EXPECT_EQ(pill.frame().x(), screen.center().x() - 104);
    EXPECT_EQ(pill.frame().bottom() + 1, screen.y() + screen.height() - 8);
}

TEST_F(DictationPillTest, AnimationsRunOnlyForTheirGlyphsAndStopByThemselves) {
    DictationPill pill(options());
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::blue);
    pill.show("Редактор · 1 слово", {PillGlyph::ok, icon});
    EXPECT_FALSE(pill.scene().geometry.icon.isEmpty());
    EXPECT_TRUE(pill.animating());
    EXPECT_TRUE(talvoro::testing::processUntil([&] { return !pill.animating(); }, 5));
    EXPECT_EQ(pill.scene().glyphScale, 1.0);

    pill.show("курсор не в поле", PillGlyph::blocked);
    EXPECT_TRUE(pill.scene().geometry.icon.isEmpty());
    EXPECT_TRUE(pill.animating());
    pill.show("0:00", PillGlyph::record, 0.0f);
    EXPECT_FALSE(pill.animating());
    pill.show("не вышло", PillGlyph::fail);
    pill.hide();
    EXPECT_FALSE(pill.animating());
}

} // namespace
