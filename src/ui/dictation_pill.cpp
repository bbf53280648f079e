#include "ui/dictation_pill.h"

#include <QBuffer>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <chrono>
#include <cmath>

#include "base/journal.h"
#include "ui/pill_animations.h"
#include "ui/pill_window.h"
#include "ui/pill_window_system.h"

namespace talvoro {

namespace {

constexpr double checkInterval = 0.5;
constexpr double offScreenGrace = 1.0;

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

QScreen* screenAtOrMain(QPoint point) {
    if (QScreen* screen = QGuiApplication::screenAt(point))
        return screen;
    return QGuiApplication::primaryScreen();
}

std::optional<QRect> availableAt(QPoint point) {
    if (QScreen* screen = screenAtOrMain(point))
        return screen->availableGeometry();
    return std::nullopt;
}

std::optional<QRect> primaryAvailable() {
    if (QScreen* screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry();
    return std::nullopt;
}

} // namespace

DictationPill::DictationPill() : DictationPill(Options{}) {}

DictationPill::DictationPill(Options options) : options_(std::move(options)) {
    if (!options_.windowSystem)
        options_.windowSystem = makeSystemPillWindowSystem();
    if (!options_.clock)
        options_.clock = steadySeconds;
    if (!options_.pointer)
        options_.pointer = [] { return QCursor::pos(); };
    animations_ = std::make_unique<PillAnimations>([this] {
        scene_.glyphScale = animations_->glyphScale();
        if (window_ && anchor_) {
            window_->place(frame_.translated(animations_->horizontalOffset(), 0));
            window_->update();
        }
    });
    makeWindow();
}

DictationPill::~DictationPill() {
    animations_->stop();
}

void DictationPill::makeWindow() {
    window_ = std::make_unique<PillWindow>(scene_, fonts_, options_.windowSystem->compositing());
    window_->setClickable(clickable_);
    window_->onClick = [this] {
        if (onClick)
            onClick();
    };
}

void DictationPill::setClickable(bool on) {
    clickable_ = on;
    window_->setClickable(on);
}

void DictationPill::show(const std::string& text, const PillGlyph& glyph,
                         std::optional<float> level,
                         const std::optional<DictationSnapshot>& snapshot) {
    scene_.scheme = forcedScheme_.value_or(desktopColorScheme());
    const ThemeColors& colors = ThemeColors::of(scene_.scheme);
    scene_.label = QString::fromStdString(text);
    scene_.meterShown = level.has_value();
    scene_.meter.update(level);

    scene_.glyphText = glyph.text();
    if (auto color = glyph.color(colors))
        scene_.glyphColor = *color;
    scene_.icon = glyph.showsIcon() ? glyph.icon : QImage();
    scene_.glyphScale = 1;

    PillContentSizes sizes;
    if (!scene_.glyphText.isEmpty()) {
        const QFontMetricsF metrics(fonts_.glyph);
        sizes.glyph = QSizeF(metrics.horizontalAdvance(scene_.glyphText), metrics.height());
    }
    sizes.icon = glyph.showsIcon();
    sizes.meter = scene_.meterShown;
    if (!sizes.meter)
        sizes.labelWidth = QFontMetricsF(fonts_.label).horizontalAdvance(scene_.label);
    scene_.live = LiveText();
    if (snapshot && !snapshot->isEmpty()) {
        scene_.live = LiveText::make(*snapshot, fonts_.live, pill::liveTextWidth);
        if (!scene_.live.isEmpty())
            sizes.liveText = scene_.live.size;
    }
    scene_.geometry = layoutPill(sizes);

    if (glyph.motion() == PillGlyph::Motion::none)
        animations_->stop(); // a new picture ends the old one's motion
    if (!anchor_) {
        if (options_.windowSystem->pointerKnown()) {
            const QPoint pointer = options_.pointer();
            anchor_ = anchorAtPointer(pointer, availableAt(pointer));
        } else {
            const std::optional<QPoint> focus = options_.windowSystem->focusedWindowCentre();
            anchor_ = anchorAtBottomCentre(focus ? availableAt(*focus) : primaryAvailable());
        }
    }
    placeWindow();
    ensureOnScreen();

    switch (glyph.motion()) {
    case PillGlyph::Motion::pop:
        animations_->pop();
        scene_.glyphScale = animations_->glyphScale();
        break;
    case PillGlyph::Motion::shake:
        animations_->shake();
        break;
    case PillGlyph::Motion::none:
        break;
    }
}

void DictationPill::placeWindow() {
    frame_ = pillFrame(*anchor_, scene_.geometry.size, availableAt(anchor_->point));
    window_->place(frame_.translated(animations_->horizontalOffset(), 0));
    if (!window_->isVisible()) {
        window_->show();
    }
    window_->update();
}

void DictationPill::hide() {
    animations_->stop();
    window_->hide();
    anchor_.reset();
    lastScreenCheck_.reset();
    offScreenSince_.reset();
}

void DictationPill::ensureOnScreen() {
    const double now = options_.clock();
    if (lastScreenCheck_ && now - *lastScreenCheck_ < checkInterval)
        return;
    lastScreenCheck_ = now;

    const WId id = windowId();
    const std::optional<bool> viewable = options_.windowSystem->isViewable(id);
    const bool onScreen = !viewable || (id != 0 && *viewable);
    if (onScreen) {
        offScreenSince_.reset();
        recovered_ = false;
        window_->keepOnTop();
        return;
    }
    if (!offScreenSince_)
        offScreenSince_ = now;
    if (now - *offScreenSince_ < offScreenGrace || recovered_)
        return;

    recovered_ = true;
    const QRect old = frame_;
    Journal::shared().note("пилюля: окно #" + std::to_string(id) + " не выводится на экран " +
                           "(isVisible: " + (window_->isVisible() ? "true" : "false") + ", кадр " +
                           std::to_string(old.x()) + "," + std::to_string(old.y()) +
                           ") — пересоздаю панель");
    std::unique_ptr<PillWindow> previous = std::move(window_);
    makeWindow();
    window_->place(old);
    window_->show();
    previous->hide();
    offScreenSince_.reset();
}

WId DictationPill::windowId() const {
    return window_->internalWinId();
}

bool DictationPill::animating() const {
    return animations_->running();
}

qreal DictationPill::devicePixelRatio() const {
    if (QScreen* screen = screenAtOrMain(frame_.center()))
        return screen->devicePixelRatio();
    return 1;
}

QImage DictationPill::snapshotImage(qreal devicePixelRatio) const {
    PillScene still = scene_;
    still.glyphScale = 1;
    return still.render(fonts_, devicePixelRatio);
}

std::optional<QByteArray> DictationPill::snapshotPNG() const {
    const QImage image = snapshotImage(devicePixelRatio());
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return std::nullopt;
    return bytes;
}

} // namespace talvoro
