#pragma once

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <array>

namespace talvoro {

// The application's icon for menus and launchers: the tray figure at rest, light on a rounded
// terracotta tile, so that it reads at 16 pixels on light and dark panels alike.
class AppIcon {
public:
    // The pixel sizes a desktop's icon theme looks for.
    static constexpr std::array<int, 8> pixelSizes{16, 22, 24, 32, 48, 64, 128, 256};

    // Into the square, on any paint device (an image or a vector file).
    static void paint(QPainter& painter, const QRectF& square);
    static QImage image(int pixels);
};

} // namespace talvoro
