#include "ui/menu_bar_icon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <cmath>

#include "base/build_constants.h"

namespace talvoro {

namespace {

QColor eyeColor(const MenuBarIcon::State& state, ColorScheme scheme, const QColor& body) {
    const ThemeColors& colors = ThemeColors::of(scheme);
    switch (state.kind) {
    case MenuBarIcon::State::Kind::recording:
        return state.silent ? colors.warn : colors.danger;
    case MenuBarIcon::State::Kind::queued:
        return colors.warn;
    case MenuBarIcon::State::Kind::idle:
        break;
    }
    return body;
}

} // namespace

MenuBarIcon::Figure MenuBarIcon::figure() {
    // The figure's measures count from the bottom left, y upwards, tilted a little.
    QTransform tilt;
    tilt.translate(0, size.height());
    tilt.scale(1, -1);
    tilt.translate(8.5, 7.6);
    tilt.rotate(4);
    tilt.translate(-8.5, -7.6);

    // The sockets and the mouth lie inside the head and apart: with the odd-even rule they
    // are holes, and the curves stay curves (a path subtraction would flatten them).
    QPainterPath head;
    head.setFillRule(Qt::OddEvenFill);
    head.addRoundedRect(QRectF(3.04, 2.608, 10.92, 9.984), 2.808, 2.808);
    for (const qreal x : {4.5922, 8.5858})
        head.addRoundedRect(QRectF(x, 7.366, 3.822, 3.12), 1.56, 1.56);
    head.addRoundedRect(QRectF(6.472, 5.065, 4.056, 1.17), 0.5772, 0.5772);
    QPainterPath pupils;
    for (const qreal x : {5.6842, 9.6778})
        pupils.addEllipse(QRectF(x, 8.107, 1.638, 1.638));
    return {tilt.map(head), tilt.map(pupils)};
}

QImage MenuBarIcon::image(const State& state, ColorScheme scheme, qreal devicePixelRatio) {
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    image.setText(QStringLiteral("Description"), QString::fromUtf8(appDisplayName));

    const QColor body = windowTextColor(scheme);
    const QColor eyes = eyeColor(state, scheme, body);

    static const Figure shape = figure();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape.head, body);
    painter.fillPath(shape.pupils, eyes);
    return image;
}

QImage MenuBarIcon::image(const State& state) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return image(state, desktopColorScheme(), screen ? screen->devicePixelRatio() : 1.0);
}

QIcon MenuBarIcon::icon(const State& state) {
    QIcon icon;
    const ColorScheme scheme = desktopColorScheme();
    for (const qreal ratio : {1.0, 2.0, 3.0})
        icon.addPixmap(QPixmap::fromImage(image(state, scheme, ratio)));
    return icon;
}

} // namespace talvoro
