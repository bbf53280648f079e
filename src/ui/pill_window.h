#pragma once

#include <QWidget>
#include <functional>

class QPainter;

namespace talvoro {

struct PillFonts;
struct PillScene;

// The pill's top-level window: outside the window manager's care, above everything, on every
// desktop, never focused, and hit by the pointer only while it asks for clicks. It paints the scene
// it is given.
class PillWindow : public QWidget {
public:
    // Without a compositing manager the window is cut to the pill's outline instead of being
    // translucent.
    PillWindow(const PillScene& scene, const PillFonts& fonts, bool translucent);

    // The pill's frame (the window is larger by the shadow's margin, when there is one); also
    // keeps the outline cut to the new size.
    void place(const QRect& frame);
    // Back above windows that a window manager raised over it: nothing keeps an unmanaged
    // window on top by itself.
    void keepOnTop();
    // Takes clicks (still never the focus) only while on; `onClick` hears them.
    void setClickable(bool on);
    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    static constexpr int shadowMargin = 10;
    int margin() const;
    void paintShadow(QPainter& painter) const;

    const PillScene& scene_;
    const PillFonts& fonts_;
    const bool translucent_;
    QSize maskSize_;
    bool clickable_ = false;
};

} // namespace talvoro
