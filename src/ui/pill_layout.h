#pragma once

#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <optional>

namespace talvoro {

// Fixed measures of the pill, in logical pixels.
namespace pill {
inline constexpr int minWidth = 208;
inline constexpr int height = 38;
inline constexpr int maxWidth = 460;
inline constexpr int inset = 16;
inline constexpr int gap = 7;
inline constexpr int iconSide = 18;
inline constexpr int liveTextWidth = maxWidth - 2 * inset; // 428
inline constexpr int rowTop = 10;                          // the glyph row, from the pill's top
inline constexpr int rowHeight = 18;
inline constexpr int labelWidthWithMeter = 120;
inline constexpr QSize meterSize{52, 12};
inline constexpr int liveTextTop = height - 4; // under the row
inline constexpr int cornerRadius = 19;
} // namespace pill

// What the contents measure, as the painter's fonts size them.
struct PillContentSizes {
    QSizeF glyph;                  // empty when the glyph has no text
    bool icon = false;             // an application icon is shown
    bool meter = false;            // the level meter is shown
    qreal labelWidth = 0;          // the label's natural width
    std::optional<QSize> liveText; // the laid-out live text, when there is one
};

// Where everything goes, in the pill's own coordinates (origin at its top left).
struct PillGeometry {
    QSize size;
    QRectF glyph;
    QRect icon; // empty unless an icon is shown
    QRect label;
    QRect meter;    // empty unless the meter is shown
    QRect liveText; // empty unless live text is shown
};

// The space before the label: the inset, then the glyph and the icon with their gaps.
int pillLead(const PillContentSizes& sizes);

// The pill's size and the place of each part.
PillGeometry layoutPill(const PillContentSizes& sizes);

// Where the pill hangs from: a point beside the pointer, and whether it hangs below that point
// (true) or stands above it.
struct PillAnchor {
    QPoint point;
    bool below = true;
    bool operator==(const PillAnchor&) const = default;
};

inline constexpr int pointerDistance = 18;
inline constexpr int roomBelow = 78; // room for the pill plus 40
inline constexpr int screenMargin = 8;

// 18 under the pointer when the visible area has room under it (or when there is no screen),
// else 18 above it.
PillAnchor anchorAtPointer(QPoint pointer, const std::optional<QRect>& available);

// Standing at the bottom centre of the visible area: where the pill goes when the pointer's
// place is unknown.
PillAnchor anchorAtBottomCentre(const std::optional<QRect>& available);

// The pill's frame: centred on the anchor, hanging under it or standing on it, kept 8 away
// from the left, right and bottom edges of the visible area.
QRect pillFrame(const PillAnchor& anchor, QSize size, const std::optional<QRect>& available);

} // namespace talvoro
