#include "insertion/x11_selection_server.h"

#include <algorithm>

namespace talvoro::x11 {

namespace {

void changeProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                    std::uint8_t format, const char* data, std::size_t bytes) {
    const auto units = static_cast<std::uint32_t>(bytes / (format / 8));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, format, units, data);
}

} // namespace

SelectionServer::SelectionServer(Connection& connection) : connection(connection) {
    // The request header and a margin; xcb_get_maximum_request_length counts 4-byte units and
    // already includes BIG-REQUESTS when the server has it.
    const std::size_t maxRequest =
        static_cast<std::size_t>(xcb_get_maximum_request_length(connection.get())) * 4;
    maxInline = maxRequest > 4096 ? maxRequest - 1024 : 3072;
    pieceBytes = std::min<std::size_t>(maxInline, 256u << 10);
}

SelectionServer::~SelectionServer() {
    for (const Transfer& transfer : transfers)
        stopWatching(transfer.requestor);
}

void SelectionServer::answer(const xcb_selection_request_event_t& request,
                             std::optional<Offer> offer) {
    const xcb_atom_t property =
        request.property != XCB_ATOM_NONE ? request.property : request.target;
    if (!offer || (offer->format != 8 && offer->format != 16 && offer->format != 32)) {
        notify(request, XCB_ATOM_NONE);
        return;
    }
    const xcb_atom_t type = connection.atom(offer->type);
    const std::string& value = *offer->bytes;
    if (value.size() <= maxInline) {
        changeProperty(connection.get(), request.requestor, property, type, offer->format,
                       value.data(), value.size());
        notify(request, property);
        return;
    }
    forgetWindow(request.requestor);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection.get(), request.requestor, XCB_CW_EVENT_MASK, &mask);
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(value.size(), UINT32_MAX));
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                        connection.atom("INCR"), 32, 1, &size);
    notify(request, property);
    transfers.push_back(Transfer{request.requestor, property, type, offer->format,
                                 std::move(offer->bytes), 0, false, Clock::now()});
}

void SelectionServer::answerTargets(const xcb_selection_request_event_t& request,
                                    const std::vector<xcb_atom_t>& targets) {
    const xcb_atom_t property =
        request.property != XCB_ATOM_NONE ? request.property : request.target;
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                        XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(targets.size()),
                        targets.data());
    notify(request, property);
}

void SelectionServer::answerTimestamp(const xcb_selection_request_event_t& request,
                                      xcb_timestamp_t time) {
    const xcb_atom_t property =
        request.property != XCB_ATOM_NONE ? request.property : request.target;
    xcb_change_property(connection.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                        XCB_ATOM_INTEGER, 32, 1, &time);
    notify(request, property);
}

void SelectionServer::notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(connection.get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection.get());
}

bool SelectionServer::propertyChanged(const xcb_property_notify_event_t& event) {
    if (event.state != XCB_PROPERTY_DELETE)
        return std::any_of(transfers.begin(), transfers.end(),
                           [&](const Transfer& t) { return t.requestor == event.window; });
    auto it = std::find_if(transfers.begin(), transfers.end(), [&](const Transfer& t) {
        return t.requestor == event.window && t.property == event.atom;
    });
    if (it == transfers.end())
        return false;
    if (it->finished) {
        stopWatching(it->requestor);
        transfers.erase(it);
        return true;
    }
    sendPiece(*it);
    return true;
}

void SelectionServer::sendPiece(Transfer& transfer) {
    const std::size_t unit = transfer.format / 8;
    std::size_t length = std::min(pieceBytes, transfer.bytes->size() - transfer.sent);
    length -= length % unit;
    changeProperty(connection.get(), transfer.requestor, transfer.property, transfer.type,
                   transfer.format, transfer.bytes->data() + transfer.sent, length);
    transfer.sent += length;
    transfer.finished = length == 0;
    transfer.lastActivity = Clock::now();
    if (transfer.finished) {
        // The empty piece closes the transfer; the bytes are not needed any more.
        transfer.bytes.reset();
    }
    xcb_flush(connection.get());
}

void SelectionServer::stopWatching(xcb_window_t window) {
    const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(connection.get(), window, XCB_CW_EVENT_MASK, &none);
    xcb_flush(connection.get());
}

void SelectionServer::forgetWindow(xcb_window_t window) {
    std::erase_if(transfers, [&](const Transfer& t) { return t.requestor == window; });
}

void SelectionServer::dropStale() {
    const auto now = Clock::now();
    for (auto it = transfers.begin(); it != transfers.end();) {
        if (now - it->lastActivity >= staleAfter) {
            stopWatching(it->requestor);
            it = transfers.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<SelectionServer::Clock::time_point> SelectionServer::nextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const Transfer& transfer : transfers)
        if (!next || transfer.lastActivity + staleAfter < *next)
            next = transfer.lastActivity + staleAfter;
    return next;
}

} // namespace talvoro::x11
