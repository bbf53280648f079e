#include "ui/pill_window.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

#include "ui/pill_scene.h"

namespace talvoro {

PillWindow::PillWindow(const PillScene& scene, const PillFonts& fonts, bool translucent)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint),
      scene_(scene), fonts_(fonts), translucent_(translucent) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    if (translucent_) {
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    setWindowTitle(QStringLiteral("talvoro pill"));
}

void PillWindow::place(const QRect& frame) {
    const QRect window = frame.marginsAdded(QMargins(margin(), margin(), margin(), margin()));
    if (geometry() != window)
        setGeometry(window);
    if (!translucent_ && maskSize_ != frame.size()) {
        maskSize_ = frame.size();
        QBitmap shape(maskSize_);
        shape.fill(Qt::color0);
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::color1);
        painter.drawRoundedRect(QRect(QPoint(0, 0), maskSize_), pill::cornerRadius,
                                pill::cornerRadius);
        painter.end();
        setMask(shape);
    }
}

void PillWindow::keepOnTop() {
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        raise();
}

void PillWindow::setClickable(bool on) {
    if (clickable_ == on)
        return;
    clickable_ = on;
    setAttribute(Qt::WA_TransparentForMouseEvents, !on);
    // The widget's record only: setWindowFlags would hide and re-create the window.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowTransparentForInput, !on);
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
}

void PillWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (clickable_ && onClick)
        onClick();
}

void PillWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!translucent_) {
        // The outline's soft edge blends into the border colour rather than into black.
        painter.fillRect(rect(), ThemeColors::of(scene_.scheme).border);
    } else {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        paintShadow(painter);
        painter.translate(margin(), margin());
    }
    scene_.paint(painter, fonts_);
}

int PillWindow::margin() const {
    return translucent_ ? shadowMargin : 0;
}

// Layers of faint outlines, each a little wider and lower: a soft shadow that gives a light
// pill an edge on a light page.
void PillWindow::paintShadow(QPainter& painter) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 5));
    const QRectF pill(QPointF(margin(), margin()), QSizeF(scene_.geometry.size));
    for (int spread = shadowMargin - 2; spread >= 1; --spread) {
        const QRectF layer = pill.adjusted(-spread, -spread + 3, spread, spread + 3);
        painter.drawRoundedRect(layer, pill::cornerRadius + spread, pill::cornerRadius + spread);
    }
    painter.restore();
}

} // namespace talvoro
