#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "recognition/dictation_snapshot.h"
#include "ui/pill_glyph.h"
#include "ui/pill_scene.h"
#include "ui/theme_colors.h"

namespace talvoro {

class PillAnimations;
class PillWindow;
class PillWindowSystem;

// The small floating panel beside the pointer while a dictation runs: a status glyph, one line
// of text, a level meter while recording and up to two lines of the text being recognised. It
// keeps its place from the first show until `hide`, and re-creates its window once when the
// window system does not put it on the screen. Main thread only.
class DictationPill {
public:
    struct Options {
        std::shared_ptr<PillWindowSystem> windowSystem; // the display's own when empty
        std::function<double()> clock;                  // monotonic seconds
        std::function<QPoint()> pointer;                // QCursor::pos when empty
    };

    DictationPill();
    explicit DictationPill(Options options);
    ~DictationPill();
    DictationPill(const DictationPill&) = delete;
    DictationPill& operator=(const DictationPill&) = delete;

    // Lays out, places (anchored at the pointer on the first show after creation or `hide`)
    // and shows the pill; no level hides the meter, no or an empty snapshot the live text.
    void show(const std::string& text, const PillGlyph& glyph = {},
              std::optional<float> level = std::nullopt,
              const std::optional<DictationSnapshot>& snapshot = std::nullopt);
    void hide();
    // While on, a click on the pill reaches `onClick` (the pill still never takes the focus).
    void setClickable(bool on);
    std::function<void()> onClick;

    // The pill as drawn now, as PNG at the pixel ratio of its screen; nothing when the image
    // or its encoding fails.
    std::optional<QByteArray> snapshotPNG() const;
    QImage snapshotImage(qreal devicePixelRatio) const;

    // Dark or light regardless of the desktop; nothing follows the desktop again.
    void setColorScheme(std::optional<ColorScheme> scheme) { forcedScheme_ = scheme; }

    // At most every 0.5 s: when the window has been off the screen for 1 s or more, re-create
    // it once for that episode and note it in the journal; while it is on the screen, raise
    // it above other windows. `show` calls it.
    void ensureOnScreen();

    bool isShown() const { return anchor_.has_value(); }
    QRect frame() const { return frame_; }
    QSize size() const { return scene_.geometry.size; }
    WId windowId() const;
    bool animating() const;
    const PillScene& scene() const { return scene_; }

private:
    void makeWindow();
    void placeWindow();
    qreal devicePixelRatio() const;

    Options options_;
    bool clickable_ = false;
    PillFonts fonts_ = PillFonts::make();
    PillScene scene_;
    std::unique_ptr<PillWindow> window_;
    std::unique_ptr<PillAnimations> animations_;
    std::optional<ColorScheme> forcedScheme_;
    std::optional<PillAnchor> anchor_; // absent after creation and after hide
    QRect frame_;
    bool recovered_ = false; // re-created for the current off-screen episode
    std::optional<double> lastScreenCheck_;
    std::optional<double> offScreenSince_;
};

} // namespace talvoro
