#pragma once

#include <QWindow>
#include <memory>
#include <optional>

namespace talvoro {

// What the pill asks the window system about its own window.
class PillWindowSystem {
public:
    virtual ~PillWindowSystem() = default;
    // Whether the window is really on the screen (mapped, and its parents too); nothing when
    // the window system cannot tell.
    virtual std::optional<bool> isViewable(WId window) = 0;
    // Whether a compositing manager blends translucent windows with what lies under them.
    virtual bool compositing() = 0;
    // Whether the display knows where the pointer is: XWayland sees it only over its own
    // windows.
    virtual bool pointerKnown() { return true; }
    // The centre of the window with the keyboard focus, when the display can tell.
    virtual std::optional<QPoint> focusedWindowCentre() { return std::nullopt; }
};

// The X server of the application's display (XWayland in a Wayland session); on other platforms
// (offscreen) a window system that cannot tell whether a window is viewable and composites.
std::shared_ptr<PillWindowSystem> makeSystemPillWindowSystem();

} // namespace talvoro
