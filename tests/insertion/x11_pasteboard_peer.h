#pragma once

// Another X client on its own connections: a selection owner that serves fixed targets (INCR
// in pieces when asked to, or not at all), a reader, and a clipboard manager that pulls every
// new owner's text at once and may take the selection over. Written independently of
// X11Pasteboard so that both sides of the protocol are checked against something else.

#include "insertion/x11_connection.h"

#include <xcb/xfixes.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace talvoro::testing {

using Targets = std::vector<std::pair<std::string, std::string>>;

struct PeerOptions {
    std::size_t incrPiece = 0;     // > 0: values longer than this go out by INCR in such pieces
    bool silent = false;           // never answers anything
    bool silentButTargets = false; // answers TARGETS only
    bool pullNewOwners = false;    // clipboard manager: reads UTF8_STRING of every new owner
    bool reownAfterPull = false;   // ... and then owns the selection with that text
    bool savesClipboard = false;   // clipboard manager: takes CLIPBOARD over on SAVE_TARGETS
};

class SelectionPeer {
public:
    explicit SelectionPeer(const std::string& selectionName, PeerOptions options = {})
        : options(options), c(x11::Connection::open()) {
        selection = c->atom(selectionName);
        window = inputWindow(*c);
        if (options.pullNewOwners) {
            x11::Reply<xcb_xfixes_query_version_reply_t>(xcb_xfixes_query_version_reply(
                c->get(), xcb_xfixes_query_version(c->get(), 5, 0), nullptr));
            xfixesEvent = xcb_get_extension_data(c->get(), &xcb_xfixes_id)->first_event;
            xcb_xfixes_select_selection_input(c->get(), window, selection,
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
        }
        for (const char* name : {"TARGETS", "INCR", "UTF8_STRING", "PEER_PULL", "SAVE_TARGETS"})
            c->atom(name);
        if (options.savesClipboard)
            xcb_set_selection_owner(c->get(), window, c->atom("CLIPBOARD_MANAGER"),
                                    XCB_CURRENT_TIME);
        c->sync();
        thread = std::thread([this] { serve(); });
    }
    ~SelectionPeer() {
        stop = true;
        thread.join();
    }

    // Owns the selection with these targets (TARGETS is added).
    void own(Targets targets) {
        std::lock_guard guard(lock);
        served = std::move(targets);
        for (auto& [name, bytes] : served)
            c->atom(name);
        xcb_set_selection_owner(c->get(), window, selection, XCB_CURRENT_TIME);
        c->sync();
    }

    int requests(const std::string& target) {
        std::lock_guard guard(lock);
        return requestCount[target];
    }
    std::size_t bytesSentInPieces() {
        std::lock_guard guard(lock);
        return sentInPieces;
    }
    std::vector<std::string> pulled() {
        std::lock_guard guard(lock);
        return pulls;
    }
    // When the latest pull arrived; the pasteboard benchmark times pulls with it.
    std::optional<std::chrono::steady_clock::time_point> lastPullAt() {
        std::lock_guard guard(lock);
        return lastPull;
    }

    // Reads a target like any client, INCR included; nothing when refused or not answered. On
    // a connection of its own, or on `on` from a fresh window, stamped with `time`.
    static std::optional<std::string>
    read(const std::string& selectionName, const std::string& target,
         std::chrono::milliseconds within = std::chrono::seconds(3), x11::Connection* on = nullptr,
         xcb_timestamp_t time = XCB_CURRENT_TIME) {
        auto own = on ? nullptr : x11::Connection::open();
        x11::Connection& r = on ? *on : *own;
        const xcb_window_t w = inputWindow(r);
        const xcb_atom_t property = r.atom("PEER_READ");
        xcb_convert_selection(r.get(), w, r.atom(selectionName), r.atom(target), property, time);
        xcb_flush(r.get());
        const auto deadline = std::chrono::steady_clock::now() + within;
        auto notify = next(r, deadline, [&](const xcb_generic_event_t& e) {
            return (e.response_type & 0x7f) == XCB_SELECTION_NOTIFY;
        });
        if (!notify || reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property ==
                           XCB_ATOM_NONE)
            return std::nullopt;
        auto value = r.property(w, property, 0x7ffffff0, true);
        if (!value)
            return std::nullopt;
        if (value->type != r.atom("INCR"))
            return value->bytes;
        std::string all;
        for (;;) {
            auto piece = next(r, deadline, [&](const xcb_generic_event_t& e) {
                if ((e.response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(e);
                return p.atom == property && p.state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!piece)
                return std::nullopt;
            auto part = r.property(w, property, 0x7ffffff0, true);
            xcb_flush(r.get());
            if (!part || part->bytes.empty())
                return all;
            all += part->bytes;
        }
    }

    // The target names the owner lists.
    static std::vector<std::string> targets(const std::string& selectionName) {
        std::vector<std::string> names;
        auto bytes = read(selectionName, "TARGETS");
        if (!bytes)
            return names;
        auto c = x11::Connection::open();
        for (std::size_t i = 0; i + 4 <= bytes->size(); i += 4) {
            xcb_atom_t atom;
            std::memcpy(&atom, bytes->data() + i, 4);
            names.push_back(c->atomName(atom));
        }
        return names;
    }

    // An unmapped window that hears its own property changes.
    static xcb_window_t inputWindow(x11::Connection& on) {
        const xcb_window_t id = xcb_generate_id(on.get());
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(on.get(), XCB_COPY_FROM_PARENT, id, on.root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        return id;
    }

private:
    template <class Match>
    static x11::Event next(x11::Connection& r, std::chrono::steady_clock::time_point deadline,
                           Match match) {
        for (;;) {
            while (x11::Event e{xcb_poll_for_event(r.get())})
                if (match(*e))
                    return e;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return nullptr;
            pollfd fd{xcb_get_file_descriptor(r.get()), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()) + 1);
        }
    }

    void serve() {
        while (!stop) {
            pollfd fd{xcb_get_file_descriptor(c->get()), POLLIN, 0};
            ::poll(&fd, 1, 20);
            std::lock_guard guard(lock);
            while (x11::Event e{xcb_poll_for_event(c->get())})
                handle(*e);
            xcb_flush(c->get());
        }
    }

    void handle(const xcb_generic_event_t& e) {
        const int type = e.response_type & 0x7f;
        if (type == XCB_SELECTION_REQUEST)
            answer(reinterpret_cast<const xcb_selection_request_event_t&>(e));
        else if (type == XCB_PROPERTY_NOTIFY)
            nextPiece(reinterpret_cast<const xcb_property_notify_event_t&>(e));
        else if (type == XCB_SELECTION_NOTIFY)
            takePull(reinterpret_cast<const xcb_selection_notify_event_t&>(e));
        else if (options.pullNewOwners && type == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
            auto& n = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(e);
            // Stamped with the time the selection changed hands, as Qt-based managers do.
            if (n.owner != window && n.owner != XCB_WINDOW_NONE)
                xcb_convert_selection(c->get(), window, selection, c->atom("UTF8_STRING"),
                                      c->atom("PEER_PULL"), n.selection_timestamp);
        }
    }

    void answer(const xcb_selection_request_event_t& request) {
        const std::string target = c->atomName(request.target);
        ++requestCount[target];
        if (options.silent || (options.silentButTargets && target != "TARGETS"))
            return;
        xcb_atom_t property = request.property;
        if (target == "SAVE_TARGETS") {
            // Read everything the owner offers, then hold it ourselves.
            Targets saved;
            for (const std::string& name : targets("CLIPBOARD"))
                if (name != "TARGETS" && name != "TIMESTAMP")
                    if (auto bytes = read("CLIPBOARD", name))
                        saved.emplace_back(name, *bytes);
            served = std::move(saved);
            for (auto& [name, bytes] : served)
                c->atom(name);
            xcb_set_selection_owner(c->get(), window, c->atom("CLIPBOARD"), XCB_CURRENT_TIME);
        } else if (target == "TARGETS") {
            std::vector<xcb_atom_t> atoms{c->atom("TARGETS")};
            for (auto& [name, bytes] : served)
                atoms.push_back(c->atom(name));
            xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                                XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(atoms.size()),
                                atoms.data());
        } else {
            auto found = std::find_if(served.begin(), served.end(),
                                      [&](auto& entry) { return entry.first == target; });
            if (found == served.end()) {
                property = XCB_ATOM_NONE;
            } else if (options.incrPiece > 0 && found->second.size() > options.incrPiece) {
                const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
                xcb_change_window_attributes(c->get(), request.requestor, XCB_CW_EVENT_MASK, &mask);
                const auto size = static_cast<std::uint32_t>(found->second.size());
                xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                                    c->atom("INCR"), 32, 1, &size);
                outgoing[request.requestor] = {property, request.target, found->second, 0};
            } else {
                xcb_change_property(
                    c->get(), XCB_PROP_MODE_REPLACE, request.requestor, property, request.target, 8,
                    static_cast<std::uint32_t>(found->second.size()), found->second.data());
            }
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        notify.time = request.time;
        xcb_send_event(c->get(), 0, request.requestor, 0, reinterpret_cast<const char*>(&notify));
    }

    void nextPiece(const xcb_property_notify_event_t& e) {
        auto it = outgoing.find(e.window);
        if (it == outgoing.end() || e.state != XCB_PROPERTY_DELETE || e.atom != it->second.property)
            return;
        Outgoing& out = it->second;
        const std::size_t length = std::min(options.incrPiece, out.bytes.size() - out.sent);
        xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, e.window, out.property, out.type, 8,
                            static_cast<std::uint32_t>(length), out.bytes.data() + out.sent);
        out.sent += length;
        sentInPieces += length;
        if (length == 0)
            outgoing.erase(it);
    }

    void takePull(const xcb_selection_notify_event_t& e) {
        if (e.property == XCB_ATOM_NONE)
            return;
        auto value = c->property(window, e.property, 1 << 20, true);
        if (!value)
            return;
        pulls.push_back(value->bytes);
        lastPull = std::chrono::steady_clock::now();
        if (options.reownAfterPull) {
            served = {{"UTF8_STRING", value->bytes}};
            xcb_set_selection_owner(c->get(), window, selection, XCB_CURRENT_TIME);
        }
    }

    struct Outgoing {
        xcb_atom_t property;
        xcb_atom_t type;
        std::string bytes;
        std::size_t sent;
    };

    PeerOptions options;
    std::unique_ptr<x11::Connection> c; // used under lock once the thread runs
    xcb_window_t window;
    xcb_atom_t selection;
    std::uint8_t xfixesEvent = 0;
    std::mutex lock;
    Targets served;                                                // guarded by lock
    std::map<std::string, int> requestCount;                       // guarded by lock
    std::vector<std::string> pulls;                                // guarded by lock
    std::optional<std::chrono::steady_clock::time_point> lastPull; // guarded by lock
    std::map<xcb_window_t, Outgoing> outgoing;                     // guarded by lock
    std::size_t sentInPieces = 0;                                  // guarded by lock
    std::atomic<bool> stop{false};
    std::thread thread;
};

// mutter's clipboard bridge as X clients see it: the window manager's client (its check window
// carries _MUTTER_VERSION) reads the selection for Wayland windows, each read from a fresh window
// and stamped with the time the selection changed hands (here the owner's TIMESTAMP), which may
// be before or in the same millisecond as any later stamp.
class MutterBridge {
public:
    explicit MutterBridge(std::string selectionName)
        : name(std::move(selectionName)), c(x11::Connection::open()) {
        const xcb_window_t check = SelectionPeer::inputWindow(*c);
        xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, c->root(),
                            c->atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 32, 1, &check);
        xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, check, c->atom("_MUTTER_VERSION"),
                            c->atom("UTF8_STRING"), 8, 4, "48.8");
        c->sync();
    }

    // A Wayland window's read as mutter relays it.
    std::optional<std::string> relay(const std::string& target) {
        xcb_timestamp_t changedHands = XCB_CURRENT_TIME;
        if (auto stamp = SelectionPeer::read(name, "TIMESTAMP"); stamp && stamp->size() == 4)
            std::memcpy(&changedHands, stamp->data(), 4);
        return SelectionPeer::read(name, target, std::chrono::seconds(3), c.get(), changedHands);
    }

private:
    std::string name;
    std::unique_ptr<x11::Connection> c;
};

} // namespace talvoro::testing
