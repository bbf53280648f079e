#include "ui/level_meter.h"

#include <QColor>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace talvoro {

void LevelMeter::update(std::optional<float> level) {
    float given = level.value_or(0.0f);
    if (!std::isfinite(given))
        given = 0;
    level_ = given;
    smoothed_ = std::max(smoothed_ * 0.75f, level_);
}

int LevelMeter::litSegments() const {
    if (smoothed_ >= 1.0f)
        return segments;
    if (!(smoothed_ > 0.0f))
        return 0;
    return static_cast<int>(smoothed_ * segments);
}

void LevelMeter::paint(QPainter& painter, const QRectF& rect, const QColor& lit,
                       const QColor& unlit) const {
    constexpr qreal spacing = 2;
    const qreal width = (rect.width() - spacing * (segments - 1)) / segments;
    const qreal radius = width / 2;
    const int count = litSegments();
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < segments; ++i) {
        painter.setBrush(i < count ? lit : unlit);
        const QRectF segment(rect.x() + i * (width + spacing), rect.y(), width, rect.height());
        painter.drawRoundedRect(segment, radius, radius);
    }
    painter.restore();
}

} // namespace talvoro
