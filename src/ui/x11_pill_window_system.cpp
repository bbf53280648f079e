// The only place in the pill that speaks to the X server directly.
#include "ui/pill_window_system.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <string>
#include <xcb/xcb.h>

#include "session/session_probe.h"

namespace talvoro {

namespace {

template <typename Reply> struct Freed {
    Reply* reply;
    ~Freed() { std::free(reply); }
    Reply* operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

// Uses Qt's own connection, so its requests (the map of the window) come before ours.
class X11PillWindowSystem : public PillWindowSystem {
public:
    X11PillWindowSystem(xcb_connection_t* connection, bool xwayland)
        : connection_(connection), xwayland_(xwayland) {}

    std::optional<bool> isViewable(WId window) override {
        const auto cookie =
            xcb_get_window_attributes(connection_, static_cast<xcb_window_t>(window));
        Freed<xcb_get_window_attributes_reply_t> reply{
            xcb_get_window_attributes_reply(connection_, cookie, nullptr)};
        if (!reply)
            return std::nullopt;
        return reply->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    bool compositing() override {
        const int screen = screenNumber();
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        const auto atomCookie = xcb_intern_atom(connection_, 0, name.size(), name.c_str());
        Freed<xcb_intern_atom_reply_t> atom{
            xcb_intern_atom_reply(connection_, atomCookie, nullptr)};
        if (!atom)
            return false;
        const auto ownerCookie = xcb_get_selection_owner(connection_, atom->atom);
        Freed<xcb_get_selection_owner_reply_t> owner{
            xcb_get_selection_owner_reply(connection_, ownerCookie, nullptr)};
        return owner && owner->owner != XCB_NONE;
    }

    // XWayland moves its pointer only over its own windows and keeps the last place otherwise.
    // While a native window has the focus (no active X11 window) the user works there, and the
    // place XWayland remembers is stale.
    bool pointerKnown() override {
        if (!xwayland_)
            return true;
        if (activeWindow() == XCB_NONE)
            return false;
        Freed<xcb_query_pointer_reply_t> pointer{
            xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root()), nullptr)};
        return pointer && pointer->child != XCB_NONE;
    }

    std::optional<QPoint> focusedWindowCentre() override {
        const xcb_window_t window = activeWindow();
        if (window == XCB_NONE)
            return std::nullopt;
        Freed<xcb_get_geometry_reply_t> geometry{
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr)};
        if (!geometry)
            return std::nullopt;
        Freed<xcb_translate_coordinates_reply_t> centre{xcb_translate_coordinates_reply(
            connection_,
            xcb_translate_coordinates(connection_, window, root(), geometry->width / 2,
                                      geometry->height / 2),
            nullptr)};
        if (!centre)
            return std::nullopt;
        return QPoint(centre->dst_x, centre->dst_y);
    }

private:
    xcb_window_t root() const {
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int skip = screenNumber(); skip > 0 && screens.rem > 1; --skip)
            xcb_screen_next(&screens);
        return screens.data->root;
    }

    xcb_window_t activeWindow() const {
        static const char name[] = "_NET_ACTIVE_WINDOW";
        Freed<xcb_intern_atom_reply_t> atom{xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 1, sizeof name - 1, name), nullptr)};
        if (!atom || atom->atom == XCB_NONE)
            return XCB_NONE;
        Freed<xcb_get_property_reply_t> property{xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, root(), atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr)};
        if (!property || xcb_get_property_value_length(property.reply) != 4)
            return XCB_NONE;
        return *static_cast<xcb_window_t*>(xcb_get_property_value(property.reply));
    }

    static int screenNumber() {
        // DISPLAY is ":n" or ":n.s"; the screen is 0 unless named.
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr)
            return 0;
        const std::string text = display;
        const auto colon = text.rfind(':');
        const auto dot = text.find('.', colon == std::string::npos ? 0 : colon);
        return dot == std::string::npos ? 0 : std::atoi(text.c_str() + dot + 1);
    }

    xcb_connection_t* connection_;
    const bool xwayland_;
};

class UnknownWindowSystem : public PillWindowSystem {
public:
    std::optional<bool> isViewable(WId) override { return std::nullopt; }
    bool compositing() override { return true; }
};

} // namespace

std::shared_ptr<PillWindowSystem> makeSystemPillWindowSystem() {
    if (auto* app =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        app != nullptr && app->connection() != nullptr)
        return std::make_shared<X11PillWindowSystem>(
            app->connection(), systemSession().facts.kind == SessionKind::wayland);
    return std::make_shared<UnknownWindowSystem>();
}

} // namespace talvoro
