#include "insertion/x11_selection_reader.h"

#include <algorithm>

namespace talvoro::x11 {

namespace {

constexpr std::uint32_t pieceBytes = 4u << 20;

class RequestorWindow {
public:
    explicit RequestorWindow(Connection& connection) : connection(connection) {
        id = xcb_generate_id(connection.get());
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection.get(), XCB_COPY_FROM_PARENT, id, connection.root(), 0, 0, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
    }
    // Destroying it also ends an owner's unfinished INCR transfer to it.
    ~RequestorWindow() {
        xcb_destroy_window(connection.get(), id);
        xcb_flush(connection.get());
    }
    RequestorWindow(const RequestorWindow&) = delete;
    RequestorWindow& operator=(const RequestorWindow&) = delete;

    Connection& connection;
    xcb_window_t id;
};

Reply<xcb_get_property_reply_t> getProperty(Connection& connection, xcb_window_t window,
                                            xcb_atom_t property, std::uint32_t offsetBytes,
                                            std::uint32_t lengthBytes, bool remove) {
    auto cookie =
        xcb_get_property(connection.get(), remove ? 1 : 0, window, property,
                         XCB_GET_PROPERTY_TYPE_ANY, offsetBytes / 4, (lengthBytes + 3) / 4);
    return Reply<xcb_get_property_reply_t>(
        xcb_get_property_reply(connection.get(), cookie, nullptr));
}

void append(std::string& out, const xcb_get_property_reply_t& reply) {
    // Already in bytes, whatever the format.
    const auto length = static_cast<std::size_t>(
        xcb_get_property_value_length(const_cast<xcb_get_property_reply_t*>(&reply)));
    const auto* data = static_cast<const char*>(
        xcb_get_property_value(const_cast<xcb_get_property_reply_t*>(&reply)));
    out.append(data, length);
}

std::chrono::milliseconds remaining(Clock::time_point until) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
}

} // namespace

SelectionReader::SelectionReader(Connection& connection, EventWait wait)
    : connection(connection), wait(std::move(wait)) {}

ReadResult SelectionReader::read(xcb_atom_t selection, xcb_atom_t target, std::size_t limit,
                                 std::chrono::milliseconds answerWithin,
                                 Clock::time_point finishBy) {
    RequestorWindow window(connection);
    const xcb_atom_t property = connection.atom("OSTREL_SELECTION");
    xcb_convert_selection(connection.get(), window.id, selection, target, property,
                          XCB_CURRENT_TIME);
    xcb_flush(connection.get());

    const auto answerBy = std::min(Clock::now() + answerWithin, finishBy);
    Event event = wait(
        [&](const xcb_generic_event_t& e) {
            return (e.response_type & 0x7f) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<const xcb_selection_notify_event_t&>(e).requestor == window.id;
        },
        answerBy);
    if (!event)
        return {std::nullopt, true};
    const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(*event);
    if (notify.property == XCB_ATOM_NONE)
        return {};

    Conversion result;
    for (std::uint32_t offset = 0;;) {
        auto reply = getProperty(connection, window.id, property, offset, pieceBytes, false);
        if (!reply || reply->type == XCB_ATOM_NONE)
            return {};
        if (offset == 0 && reply->type == connection.atom("INCR"))
            return readIncrementally(window.id, property, limit, answerWithin, finishBy);
        result.type = connection.atomName(reply->type);
        result.format = reply->format;
        append(result.bytes, *reply);
        if (reply->bytes_after == 0 || result.bytes.size() > limit || reply->format == 0)
            break;
        offset = static_cast<std::uint32_t>(result.bytes.size());
    }
    xcb_delete_property(connection.get(), window.id, property);
    return {std::move(result), false};
}

ReadResult SelectionReader::readIncrementally(xcb_window_t window, xcb_atom_t property,
                                              std::size_t limit,
                                              std::chrono::milliseconds answerWithin,
                                              Clock::time_point finishBy) {
    // Deleting the INCR property is what asks the owner for the first piece.
    xcb_delete_property(connection.get(), window, property);
    xcb_flush(connection.get());
    const EventMatch newPiece = [&](const xcb_generic_event_t& e) {
        if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
        return notify.window == window && notify.atom == property &&
               notify.state == XCB_PROPERTY_NEW_VALUE;
    };
    Conversion result;
    bool typed = false;
    for (;;) {
        if (remaining(finishBy).count() <= 0)
            return {std::nullopt, true};
        if (!wait(newPiece, std::min(Clock::now() + answerWithin, finishBy)))
            return {std::nullopt, true};
        // Read the whole piece at once so that the delete (the request for the next one) happens.
        auto reply = getProperty(connection, window, property, 0, UINT32_MAX - 3, true);
        xcb_flush(connection.get());
        if (!reply)
            return {};
        if (reply->type == XCB_ATOM_NONE)
            continue;
        if (!typed) {
            result.type = connection.atomName(reply->type);
            result.format = reply->format;
            typed = true;
        }
        const std::size_t before = result.bytes.size();
        append(result.bytes, *reply);
        if (result.bytes.size() == before || result.bytes.size() > limit)
            return {std::move(result), false};
    }
}

} // namespace talvoro::x11
