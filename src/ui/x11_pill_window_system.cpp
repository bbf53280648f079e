// The only place in the pill that speaks to the X server directly.
#include "ui/pill_window_system.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <string>
#include <xcb/xcb.h>

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
    explicit X11PillWindowSystem(xcb_connection_t* connection) : connection_(connection) {}

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

private:
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
        return std::make_shared<X11PillWindowSystem>(app->connection());
    return std::make_shared<UnknownWindowSystem>();
}

} // namespace talvoro
