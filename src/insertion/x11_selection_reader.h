#pragma once

#include "insertion/x11_connection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace talvoro::x11 {

using Clock = std::chrono::steady_clock;
using EventMatch = std::function<bool(const xcb_generic_event_t&)>;
// Waits for the first event that matches while every other event is handled as usual; nothing
// when the deadline passes or the connection is going away.
using EventWait = std::function<Event(const EventMatch&, Clock::time_point deadline)>;

struct Conversion {
    std::string type; // the property type the owner chose, as an atom name
    std::uint8_t format = 8;
    std::string bytes;
};

struct ReadResult {
    std::optional<Conversion> value;
    bool silent = false; // the owner did not answer in time (as opposed to refusing)
};

// Asks a selection's owner for one target, the way any reader does: ConvertSelection into a
// property of a fresh window of ours, then the value, incrementally (INCR) when the owner sends
// it in pieces. A fresh window per request keeps late answers of a slow owner out of the next one.
class SelectionReader {
public:
    SelectionReader(Connection& connection, EventWait wait);

    // `answerWithin` bounds the wait for the owner's first answer and for each later piece;
    // `finishBy` bounds the whole transfer. Stops reading once more than `limit` bytes arrived.
    ReadResult read(xcb_atom_t selection, xcb_atom_t target, std::size_t limit,
                    std::chrono::milliseconds answerWithin, Clock::time_point finishBy);

private:
    ReadResult readIncrementally(xcb_window_t window, xcb_atom_t property, std::size_t limit,
                                 std::chrono::milliseconds answerWithin,
                                 Clock::time_point finishBy);

    Connection& connection;
    EventWait wait;
};

} // namespace talvoro::x11
