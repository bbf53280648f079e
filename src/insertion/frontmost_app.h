#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace talvoro {

// The application whose window is active.
struct FrontmostApp {
    std::optional<std::string> name; // the window's title-bar name of the application, if any
    std::optional<QImage> icon;
    std::int64_t pid = 0;    // 0 when the window does not tell
    std::string windowClass; // WM_CLASS class part, empty when unknown
};

class FrontmostAppSource {
public:
    virtual ~FrontmostAppSource() = default;
    // Nothing when no window is active. Any thread; bounded time.
    virtual std::optional<FrontmostApp> current() = 0;
};

// EWMH (_NET_ACTIVE_WINDOW and friends) on its own X connection; when there is no X display it
// returns a source whose `current` is always empty.
std::unique_ptr<FrontmostAppSource> makeSystemFrontmostAppSource();

} // namespace talvoro
