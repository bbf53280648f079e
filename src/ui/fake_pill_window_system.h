#pragma once

#include <vector>

#include "ui/pill_window_system.h"

namespace talvoro {

// A window system whose answers the test sets; it notes which windows were asked about.
class FakePillWindowSystem : public PillWindowSystem {
public:
    std::optional<bool> isViewable(WId window) override {
        asked.push_back(window);
        return viewable;
    }
    bool compositing() override { return composites; }
    bool pointerKnown() override { return pointerSeen; }
    std::optional<QPoint> focusedWindowCentre() override { return focusCentre; }

    std::optional<bool> viewable = true;
    bool composites = true;
    bool pointerSeen = true;
    std::optional<QPoint> focusCentre;
    std::vector<WId> asked;
};

} // namespace talvoro
