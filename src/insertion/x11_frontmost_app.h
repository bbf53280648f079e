#pragma once

#include "insertion/desktop_app_names.h"
#include "insertion/frontmost_app.h"
#include "insertion/x11_connection.h"

#include <optional>
#include <string>

namespace talvoro {

// The active window's application through EWMH, on a connection of its own for each call,
// named by its window class through the desktop entries.
class X11FrontmostAppSource final : public FrontmostAppSource {
public:
    explicit X11FrontmostAppSource(
        std::shared_ptr<DesktopAppNames> names = std::make_shared<DesktopAppNames>())
        : names(std::move(names)) {}
    std::optional<FrontmostApp> current() override;

private:
    std::shared_ptr<DesktopAppNames> names;
};

namespace x11 {

struct WindowClass {
    std::string instance;
    std::string className;
};

// `_NET_ACTIVE_WINDOW`; without a window manager that sets it, the window with the input
// focus, or its nearest ancestor that names its class, or its top-level ancestor.
// XCB_WINDOW_NONE when nothing has the focus.
xcb_window_t activeWindow(Connection& connection);
std::optional<WindowClass> windowClass(Connection& connection, xcb_window_t window);
// The largest `_NET_WM_ICON` image no bigger than `maxSide` on either side (the smallest one
// when all are bigger); nothing when the property holds no whole image.
std::optional<QImage> iconFromNetWmIcon(const std::string& bytes, int maxSide = 128);

} // namespace x11

} // namespace talvoro
