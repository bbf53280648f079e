#include "insertion/x11_connection.h"

namespace talvoro::x11 {

std::unique_ptr<Connection> Connection::open(const char* display) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<Connection>(new Connection(connection, it.data));
}

Connection::Connection(xcb_connection_t* connection, const xcb_screen_t* screen)
    : connection(connection), screen(screen) {}

Connection::~Connection() {
    xcb_disconnect(connection);
}

xcb_atom_t Connection::atom(std::string_view name) {
    if (auto found = atoms.find(name); found != atoms.end())
        return found->second;
    auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    atoms.emplace(std::string(name), reply->atom);
    names.emplace(reply->atom, std::string(name));
    return reply->atom;
}

std::string Connection::atomName(xcb_atom_t atom) {
    if (auto found = names.find(atom); found != names.end())
        return found->second;
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply)
        return {};
    std::string name(xcb_get_atom_name_name(reply.get()),
                     static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
    names.emplace(atom, name);
    atoms.emplace(name, atom);
    return name;
}

bool Connection::hasExtension(xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(connection, extension);
    return data != nullptr && data->present;
}

std::optional<Property> Connection::property(xcb_window_t window, xcb_atom_t name,
                                             std::uint32_t maxBytes, bool remove) {
    auto cookie = xcb_get_property(connection, remove ? 1 : 0, window, name,
                                   XCB_GET_PROPERTY_TYPE_ANY, 0, (maxBytes + 3) / 4);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    Property result;
    result.type = reply->type;
    result.format = reply->format;
    result.bytesAfter = reply->bytes_after;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    result.bytes.assign(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    return result;
}

void Connection::sync() {
    Reply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

} // namespace talvoro::x11
