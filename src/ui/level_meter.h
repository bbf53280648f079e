#pragma once

#include <QRectF>
#include <optional>

class QColor;
class QPainter;

namespace talvoro {

// The pill's ten-segment input level: it jumps up with the level at once and falls by a quarter
// on each update (the pill is updated fifteen times a second while recording).
class LevelMeter {
public:
    static constexpr int segments = 10;

    void update(std::optional<float> level);
    int litSegments() const;

    float level() const { return level_; }
    float smoothed() const { return smoothed_; }

    // Ten rounded segments across the rectangle; the lit ones in `lit`, the rest in `unlit`.
    void paint(QPainter& painter, const QRectF& rect, const QColor& lit, const QColor& unlit) const;

private:
    float level_ = 0;
    float smoothed_ = 0;
};

} // namespace talvoro
