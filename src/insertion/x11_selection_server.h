#pragma once

#include "insertion/x11_connection.h"
#include "insertion/x11_selection_contents.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace talvoro::x11 {

// Answers conversion requests for a selection we own: writes the value into the requestor's
// property and notifies it. A value larger than one request may carry goes out incrementally
// (INCR): one piece each time the requestor deletes the property.
class SelectionServer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds staleAfter{5};

    explicit SelectionServer(Connection& connection);
    ~SelectionServer();
    SelectionServer(const SelectionServer&) = delete;
    SelectionServer& operator=(const SelectionServer&) = delete;

    // Nothing refuses the request.
    void answer(const xcb_selection_request_event_t& request, std::optional<Offer> offer);
    void answerTargets(const xcb_selection_request_event_t& request,
                       const std::vector<xcb_atom_t>& targets);
    void answerTimestamp(const xcb_selection_request_event_t& request, xcb_timestamp_t time);
    // True when the event belonged to one of our incremental transfers.
    bool propertyChanged(const xcb_property_notify_event_t& event);
    // A requestor that went away or stopped asking for pieces.
    void forgetWindow(xcb_window_t window);
    void dropStale();
    std::optional<Clock::time_point> nextDeadline() const;
    std::size_t transfersInFlight() const { return transfers.size(); }

private:
    struct Transfer {
        xcb_window_t requestor;
        xcb_atom_t property;
        xcb_atom_t type;
        std::uint8_t format;
        std::shared_ptr<const std::string> bytes;
        std::size_t sent = 0;
        bool finished = false; // the empty closing piece is out
        Clock::time_point lastActivity;
    };
    void notify(const xcb_selection_request_event_t& request, xcb_atom_t property);
    void sendPiece(Transfer& transfer);
    void stopWatching(xcb_window_t window);

    Connection& connection;
    std::size_t maxInline;
    std::size_t pieceBytes;
    std::vector<Transfer> transfers;
};

} // namespace talvoro::x11
