#include "ui/pill_scene.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <cmath>

namespace talvoro {

PillFonts PillFonts::make() {
    PillFonts fonts;
    const QFont base = QGuiApplication::font();
    fonts.glyph = base;
    fonts.glyph.setPixelSize(13);
    fonts.glyph.setWeight(QFont::Bold);
    fonts.label = base;
    fonts.label.setPixelSize(12);
    fonts.label.setWeight(QFont::Medium);
    fonts.live = base;
    fonts.live.setPixelSize(12);
    fonts.live.setWeight(QFont::Normal);
    return fonts;
}

void PillScene::paint(QPainter& painter, const PillFonts& fonts) const {
    const ThemeColors& colors = ThemeColors::of(scheme);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    const QRectF bounds = QRectF(QPointF(0, 0), geometry.size).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(bounds, pill::cornerRadius - 0.5, pill::cornerRadius - 0.5);
    painter.setPen(QPen(colors.border, 1));
    painter.setBrush(colors.surface);
    painter.drawPath(outline);

    if (!glyphText.isEmpty()) {
        painter.save();
        const QPointF centre = geometry.glyph.center();
        painter.translate(centre);
        painter.scale(glyphScale, glyphScale);
        painter.translate(-centre);
        // As a path with a thin outline: the desktop fonts' check and cross are drawn light,
        // and the sign should read at a glance.
        const QFontMetricsF metrics(fonts.glyph);
        QPainterPath sign;
        sign.addText(centre.x() - metrics.horizontalAdvance(glyphText) / 2,
                     centre.y() + (metrics.ascent() - metrics.descent()) / 2, fonts.glyph,
                     glyphText);
        painter.setPen(QPen(glyphColor, 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(glyphColor);
        painter.drawPath(sign);
        painter.restore();
    }
    if (!geometry.icon.isEmpty() && !icon.isNull()) {
        // Proportional, centred in the square.
        QSizeF fitted = QSizeF(icon.size()).scaled(geometry.icon.size(), Qt::KeepAspectRatio);
        QRectF place(QPointF(0, 0), fitted);
        place.moveCenter(QRectF(geometry.icon).center());
        painter.drawImage(place, icon);
    }

    painter.setFont(fonts.label);
    painter.setPen(colors.text);
    const QString shown =
        QFontMetrics(fonts.label).elidedText(label, Qt::ElideRight, geometry.label.width());
    painter.drawText(geometry.label, Qt::AlignLeft | Qt::AlignVCenter, shown);

    if (meterShown) {
        QColor unlit = colors.text;
        unlit.setAlphaF(0.18f);
        meter.paint(painter, geometry.meter, colors.accent, unlit);
    }
    if (!live.isEmpty() && !geometry.liveText.isEmpty())
        paintLiveText(painter, fonts);
}

void PillScene::paintLiveText(QPainter& painter, const PillFonts& fonts) const {
    const ThemeColors& colors = ThemeColors::of(scheme);
    QTextLayout layout(live.text, fonts.live);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QTextCharFormat committed;
    committed.setForeground(colors.text);
    QTextCharFormat interim;
    interim.setForeground(colors.secondary);
    const int split = std::min<int>(live.interimStart, live.text.size());
    QList<QTextLayout::FormatRange> formats;
    if (split > 0)
        formats.append({0, split, committed});
    if (split < live.text.size())
        formats.append({split, static_cast<int>(live.text.size()) - split, interim});
    layout.setFormats(formats);

    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(geometry.liveText.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();

    painter.save();
    painter.setClipRect(geometry.liveText);
    painter.setPen(colors.text);
    layout.draw(&painter, geometry.liveText.topLeft());
    painter.restore();
}

QImage PillScene::render(const PillFonts& fonts, qreal devicePixelRatio) const {
    const QSize pixels(static_cast<int>(std::ceil(geometry.size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(geometry.size.height() * devicePixelRatio)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paint(painter, fonts);
    return image;
}

} // namespace talvoro
