#pragma once

#include "insertion/desktop_app_names.h"
#include "insertion/frontmost_app.h"

#include <QByteArray>

#include <filesystem>
#include <memory>
#include <optional>

namespace talvoro {

// The focused window of sway, asked over its IPC socket ($SWAYSOCK) with GET_TREE: where
// AT-SPI cannot name a native Wayland window's application, the window's app_id can (foot,
// for one, so that terminals get their paste shortcut). Any thread; each call opens its own
// connection and gives up after `answerWithin`.
class SwayFrontmostAppSource final : public FrontmostAppSource {
public:
    static constexpr int answerWithinMs = 500;

    explicit SwayFrontmostAppSource(
        std::filesystem::path socket,
        std::shared_ptr<DesktopAppNames> names = std::make_shared<DesktopAppNames>())
        : socket(std::move(socket)), names(std::move(names)) {}
    std::optional<FrontmostApp> current() override;

private:
    std::filesystem::path socket;
    std::shared_ptr<DesktopAppNames> names;
};

namespace sway {

// The focused window in a GET_TREE answer: its app_id (native) or window class (XWayland) and
// its process id; nothing when no window has the focus.
std::optional<FrontmostApp> focusedWindow(const QByteArray& tree);

} // namespace sway

// Nothing when $SWAYSOCK is not set.
std::unique_ptr<FrontmostAppSource> makeSwayFrontmostAppSource();

} // namespace talvoro
