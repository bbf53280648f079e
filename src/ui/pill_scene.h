#pragma once

#include <QFont>
#include <QImage>
#include <QString>

#include "ui/level_meter.h"
#include "ui/live_text.h"
#include "ui/pill_layout.h"
#include "ui/theme_colors.h"

class QPainter;

namespace talvoro {

// The pill's fonts: the desktop's font family at the pill's fixed sizes.
struct PillFonts {
    QFont glyph; // bold 13
    QFont label; // medium 12
    QFont live;  // regular 12

    static PillFonts make();
};

// Everything the pill draws, laid out; painted the same on screen and into snapshots.
struct PillScene {
    ColorScheme scheme = ColorScheme::light;
    QString glyphText;
    QColor glyphColor;
    double glyphScale = 1;
    QImage icon;
    QString label;
    bool meterShown = false;
    LevelMeter meter;
    LiveText live;
    PillGeometry geometry = layoutPill({});

    void paint(QPainter& painter, const PillFonts& fonts) const;
    // The scene alone in an image of its size at that pixel ratio; null when it cannot be made.
    QImage render(const PillFonts& fonts, qreal devicePixelRatio) const;

private:
    void paintLiveText(QPainter& painter, const PillFonts& fonts) const;
};

} // namespace talvoro
