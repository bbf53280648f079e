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

    std::optional<bool> viewable = true;
    bool composites = true;
    std::vector<WId> asked;
};

} // namespace talvoro
