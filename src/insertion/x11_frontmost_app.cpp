#include "insertion/x11_frontmost_app.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace talvoro {

namespace {

std::optional<std::uint32_t> cardinal(x11::Connection& c, xcb_window_t window, xcb_atom_t name) {
    auto value = c.property(window, name, 4);
    if (!value || value->format != 32 || value->bytes.size() < 4)
        return std::nullopt;
    std::uint32_t result;
    std::memcpy(&result, value->bytes.data(), 4);
    return result;
}

xcb_window_t parentOf(x11::Connection& c, xcb_window_t window) {
    x11::Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), window), nullptr));
    return tree ? tree->parent : xcb_window_t{XCB_WINDOW_NONE};
}

} // namespace

std::unique_ptr<FrontmostAppSource> makeSystemFrontmostAppSource() {
    return std::make_unique<X11FrontmostAppSource>();
}

std::optional<FrontmostApp> X11FrontmostAppSource::current() {
    auto connection = x11::Connection::open();
    if (!connection)
        return std::nullopt;
    x11::Connection& c = *connection;
    const xcb_window_t window = x11::activeWindow(c);
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    FrontmostApp app;
    app.pid = cardinal(c, window, c.atom("_NET_WM_PID")).value_or(0);
    if (auto wmClass = x11::windowClass(c, window)) {
        app.windowClass = wmClass->className;
        app.windowInstance = wmClass->instance;
    }
    app.name = names->nameFor(app.windowClass);
    if (!app.name && !app.windowClass.empty())
        app.name = app.windowClass;
    if (auto icon = c.property(window, c.atom("_NET_WM_ICON"), 16u << 20))
        if (icon->format == 32)
            app.icon = x11::iconFromNetWmIcon(icon->bytes);
    return app;
}

namespace x11 {

xcb_window_t activeWindow(Connection& c) {
    if (auto active = cardinal(c, c.root(), c.atom("_NET_ACTIVE_WINDOW")); active && *active != 0)
        return *active;
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr));
    if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == c.root())
        return XCB_WINDOW_NONE;
    // Bounded: a window tree is shallow, and a broken one must not keep us here.
    xcb_window_t window = focus->focus;
    for (int depth = 0; depth < 64; ++depth) {
        if (windowClass(c, window))
            return window;
        const xcb_window_t parent = parentOf(c, window);
        if (parent == XCB_WINDOW_NONE || parent == c.root())
            return window;
        window = parent;
    }
    return window;
}

std::optional<WindowClass> windowClass(Connection& c, xcb_window_t window) {
    auto value = c.property(window, XCB_ATOM_WM_CLASS, 1024);
    if (!value || value->format != 8 || value->bytes.empty())
        return std::nullopt;
    const std::string& bytes = value->bytes;
    const std::size_t split = bytes.find('\0');
    WindowClass result;
    result.instance = bytes.substr(0, split);
    if (split != std::string::npos) {
        std::string rest = bytes.substr(split + 1);
        result.className = rest.substr(0, rest.find('\0'));
    }
    return result;
}

std::optional<QImage> iconFromNetWmIcon(const std::string& bytes, int maxSide) {
    if (bytes.size() < 12)
        return std::nullopt;
    std::vector<std::uint32_t> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    struct Candidate {
        std::size_t offset;
        std::uint32_t width, height;
    };
    std::optional<Candidate> best;
    auto better = [&](const Candidate& a, const Candidate& b) {
        const bool aFits = a.width <= std::uint32_t(maxSide) && a.height <= std::uint32_t(maxSide);
        const bool bFits = b.width <= std::uint32_t(maxSide) && b.height <= std::uint32_t(maxSide);
        if (aFits != bFits)
            return aFits;
        const std::uint64_t areaA = std::uint64_t(a.width) * a.height;
        const std::uint64_t areaB = std::uint64_t(b.width) * b.height;
        return aFits ? areaA > areaB : areaA < areaB;
    };
    for (std::size_t i = 0; i + 2 <= values.size();) {
        const std::uint32_t width = values[i], height = values[i + 1];
        const std::uint64_t pixels = std::uint64_t(width) * height;
        if (width == 0 || height == 0 || width > 4096 || height > 4096 ||
            pixels > values.size() - i - 2)
            break;
        Candidate candidate{i + 2, width, height};
        if (!best || better(candidate, *best))
            best = candidate;
        i += 2 + pixels;
    }
    if (!best)
        return std::nullopt;
    QImage image(int(best->width), int(best->height), QImage::Format_ARGB32);
    for (std::uint32_t y = 0; y < best->height; ++y)
        std::memcpy(image.scanLine(int(y)), values.data() + best->offset + y * best->width,
                    best->width * 4);
    return image;
}

} // namespace x11

} // namespace talvoro
