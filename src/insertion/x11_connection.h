#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace talvoro::x11 {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// xcb hands out replies and events allocated with malloc.
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;
using Event = Reply<xcb_generic_event_t>;

// The value of a window property as it was read.
struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::string bytes;            // format 32 values stay in the server's 4-byte units
    std::uint32_t bytesAfter = 0; // what was left unread beyond the requested length
};

// One X connection with an atom cache. Use it from one thread at a time.
class Connection {
public:
    // Nothing when the display cannot be opened.
    static std::unique_ptr<Connection> open(const char* display = nullptr);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return connection; }
    xcb_window_t root() const { return screen->root; }
    const xcb_screen_t& defaultScreen() const { return *screen; }
    bool broken() const { return xcb_connection_has_error(connection) != 0; }

    xcb_atom_t atom(std::string_view name);
    std::string atomName(xcb_atom_t atom);
    bool hasExtension(xcb_extension_t* extension);

    // Reads up to `maxBytes` of the property (whole 4-byte units); nothing when it is absent.
    std::optional<Property> property(xcb_window_t window, xcb_atom_t name,
                                     std::uint32_t maxBytes = 1 << 20, bool remove = false);
    // A round trip: every event the server generated before it has arrived when this returns.
    void sync();

private:
    Connection(xcb_connection_t* connection, const xcb_screen_t* screen);

    xcb_connection_t* connection;
    const xcb_screen_t* screen;
    std::map<std::string, xcb_atom_t, std::less<>> atoms;
    std::map<xcb_atom_t, std::string> names;
};

} // namespace talvoro::x11
