#include "ui/app_icon.h"

#include <QLinearGradient>
#include <QPainterPath>

#include "ui/menu_bar_icon.h"
#include "ui/theme_colors.h"

namespace talvoro {

void AppIcon::paint(QPainter& painter, const QRectF& square) {
    const ThemeColors& light = ThemeColors::of(ColorScheme::light);
    const ThemeColors& dark = ThemeColors::of(ColorScheme::dark);
    const qreal side = std::min(square.width(), square.height());
    const QRectF tile = QRectF(square.center() - QPointF(side, side) / 2, QSizeF(side, side))
                            .adjusted(side / 32, side / 32, -side / 32, -side / 32);

    QLinearGradient shade(tile.topLeft(), tile.bottomLeft());
    shade.setColorAt(0, dark.accent);
    shade.setColorAt(1, light.accent);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, tile.width() * 0.22, tile.width() * 0.22);

    // The head, not the whole tray image, fills the tile: its width is 0.72 of the tile's.
    const MenuBarIcon::Figure figure = MenuBarIcon::figure();
    const QRectF head = figure.head.boundingRect();
    const qreal scale = tile.width() * 0.72 / head.width();
    QTransform place;
    place.translate(tile.center().x(), tile.center().y());
    place.scale(scale, scale);
    place.translate(-head.center().x(), -head.center().y());

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.fillPath(tilePath, shade);
    painter.fillPath(place.map(figure.head), light.surface);
    painter.fillPath(place.map(figure.pupils), light.surface);
    painter.restore();
}

QImage AppIcon::image(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, QRectF(0, 0, pixels, pixels));
    return image;
}

} // namespace talvoro
