#include "ui/pill_layout.h"

#include <algorithm>
#include <cmath>

namespace talvoro {

namespace {

int roundUp(qreal value) {
    return static_cast<int>(std::ceil(value - 1e-9));
}

} // namespace

int pillLead(const PillContentSizes& sizes) {
    int lead = pill::inset;
    if (!sizes.glyph.isEmpty())
        lead += roundUp(sizes.glyph.width()) + pill::gap;
    if (sizes.icon)
        lead += pill::iconSide + pill::gap;
    return lead;
}

PillGeometry layoutPill(const PillContentSizes& sizes) {
    const int lead = pillLead(sizes);
    int width = pill::minWidth;
    if (!sizes.meter)
        width = std::clamp(roundUp(sizes.labelWidth) + lead + pill::inset, pill::minWidth,
                           pill::maxWidth);
    int height = pill::height;
    if (sizes.liveText) {
        width = std::max(width, sizes.liveText->width() + 2 * pill::inset);
        height = pill::height + sizes.liveText->height() + 6;
    }

    PillGeometry g;
    g.size = QSize(width, height);
    // The glyph's box sits on the row's baseline area, one above the row's bottom.
    const qreal glyphBottom = pill::rowTop + pill::rowHeight - 1;
    g.glyph = QRectF(pill::inset, glyphBottom - sizes.glyph.height(), sizes.glyph.width(),
                     sizes.glyph.height());
    if (sizes.icon) {
        int x = pill::inset;
        if (!sizes.glyph.isEmpty())
            x += roundUp(sizes.glyph.width()) + pill::gap;
        g.icon = QRect(x, pill::rowTop, pill::iconSide, pill::iconSide);
    }
    const int labelWidth = sizes.meter ? pill::labelWidthWithMeter : width - lead - pill::inset;
    g.label = QRect(lead, pill::rowTop, labelWidth, pill::rowHeight);
    if (sizes.meter)
        g.meter = QRect(QPoint(width - pill::inset - pill::meterSize.width(),
                               pill::rowTop + pill::rowHeight - 3 - pill::meterSize.height()),
                        pill::meterSize);
    if (sizes.liveText)
        g.liveText = QRect(pill::inset, pill::liveTextTop, width - 2 * pill::inset,
                           sizes.liveText->height());
    return g;
}

PillAnchor anchorAtPointer(QPoint pointer, const std::optional<QRect>& available) {
    const int bottom = available ? available->y() + available->height() : 0;
    if (!available || bottom >= pointer.y() + pointerDistance + roomBelow)
        return {QPoint(pointer.x(), pointer.y() + pointerDistance), true};
    return {QPoint(pointer.x(), pointer.y() - pointerDistance), false};
}

PillAnchor anchorAtBottomCentre(const std::optional<QRect>& available) {
    if (!available)
        return {};
    return {QPoint(available->center().x(), available->y() + available->height() - screenMargin),
            false};
}

QRect pillFrame(const PillAnchor& anchor, QSize size, const std::optional<QRect>& available) {
    int x = anchor.point.x() - size.width() / 2;
    int y = anchor.below ? anchor.point.y() : anchor.point.y() - size.height();
    if (available) {
        const int right = available->x() + available->width();
        const int bottom = available->y() + available->height();
        x = std::max(x, available->x() + screenMargin);
        x = std::min(x, right - size.width() - screenMargin);
        y = std::min(y, bottom - size.height() - screenMargin);
    }
    return QRect(QPoint(x, y), size);
}

} // namespace talvoro
