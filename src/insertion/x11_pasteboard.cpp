#include "insertion/x11_pasteboard.h"

#include "base/serial_queue.h"
#include "insertion/paster_failure.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace talvoro {

namespace {

constexpr const char* noDisplay = "нет связи с X-сервером (DISPLAY) — буфер обмена недоступен";
constexpr const char* connectionLost = "связь с X-сервером оборвалась — буфер обмена недоступен";
constexpr std::size_t textLimit = 64u << 20;
// Besides the protocol's own targets, the ICCCM side-effect targets: converting DELETE asks the
// owner to delete what it offers, which no reader of the contents may do.
constexpr std::array<std::string_view, 7> hiddenTargets{
    "TARGETS", "MULTIPLE",         "TIMESTAMP",      "SAVE_TARGETS",
    "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY"};
constexpr std::size_t maxTargets = 1024;

bool hidden(const std::string& target) {
    return std::find(hiddenTargets.begin(), hiddenTargets.end(), target) != hiddenTargets.end();
}

int responseType(const xcb_generic_event_t& event) {
    return event.response_type & 0x7f;
}

std::string textOf(const x11::Conversion& conversion) {
    return conversion.type == "STRING" ? x11::utf8FromLatin1(conversion.bytes) : conversion.bytes;
}

} // namespace

std::unique_ptr<Pasteboard> makeSystemPasteboard(const std::string& selection) {
    return std::make_unique<X11Pasteboard>(selection);
}

X11Pasteboard::X11Pasteboard(const std::string& selectionName)
    : connection(x11::Connection::open()) {
    if (!connection)
        throw PasteboardUnavailable(noDisplay);
    xcb_connection_t* c = connection->get();
    selection = connection->atom(selectionName);
    isClipboard = selectionName == "CLIPBOARD";
    window = xcb_generate_id(c);
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    if (connection->hasExtension(&xcb_xfixes_id)) {
        x11::Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (version) {
            hasXfixes = true;
            xfixesEvent = xcb_get_extension_data(c, &xcb_xfixes_id)->first_event;
            xcb_xfixes_select_selection_input(
                c, window, selection,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
    }
    connection->sync();
    if (connection->broken())
        throw PasteboardUnavailable(noDisplay);
    server = std::make_unique<x11::SelectionServer>(*connection);
    reader = std::make_unique<x11::SelectionReader>(
        *connection, [this](const x11::EventMatch& match, Clock::time_point deadline) {
            return waitFor(match, deadline);
        });
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread = std::thread([this] { run(); });
}

X11Pasteboard::~X11Pasteboard() {
    stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
    thread.join();
    server.reset();
    reader.reset();
    connection.reset(); // gives up the selection if we still own it
    ::close(wakeFd);
}

template <class F> auto X11Pasteboard::call(F&& work) -> decltype(work()) {
    using Result = decltype(work());
    if (std::this_thread::get_id() == thread.get_id())
        return work();
    auto task = std::make_shared<std::packaged_task<Result()>>(std::forward<F>(work));
    auto future = task->get_future();
    {
        std::lock_guard guard(lock);
        if (finished)
            throw PasteboardUnavailable(connectionLost);
        tasks.emplace_back([task] { (*task)(); });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
    try {
        return future.get();
    } catch (const std::future_error&) {
        throw PasteboardUnavailable(connectionLost);
    }
}

void X11Pasteboard::run() {
    nameCurrentThread("ostrel.pasteboard");
    while (!stopping && !connection->broken()) {
        runTasks();
        server->dropStale();
        xcb_flush(connection->get());
        // Last before sleeping: a flush may have read events into xcb's queue, where poll()
        // would not see them.
        dispatchPending();
        // Nothing due: sleep until the X server or a task wakes the thread (a lost server
        // wakes it too, by closing the socket).
        int timeout = -1;
        if (auto next = server->nextDeadline()) {
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now());
            timeout = static_cast<int>(std::clamp<std::int64_t>(wait.count() + 1, 0, 1000));
        }
        pollfd fds[2] = {{xcb_get_file_descriptor(connection->get()), POLLIN, 0},
                         {wakeFd, POLLIN, 0}};
        ::poll(fds, 2, timeout);
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = ::read(wakeFd, &count, sizeof count);
        }
    }
    if (!connection->broken())
        handOverToClipboardManager();
    std::deque<std::function<void()>> abandoned;
    {
        std::lock_guard guard(lock);
        finished = true;
        abandoned.swap(tasks);
    }
    // Dropping a task breaks its promise: the waiting caller gets PasteboardUnavailable.
}

void X11Pasteboard::runTasks() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard guard(lock);
            if (tasks.empty())
                return;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
    }
}

void X11Pasteboard::dispatchPending() {
    while (x11::Event event{xcb_poll_for_event(connection->get())})
        dispatch(*event);
}

x11::Event X11Pasteboard::waitFor(const x11::EventMatch& match, Clock::time_point deadline) {
    for (;;) {
        xcb_flush(connection->get());
        while (x11::Event event{xcb_poll_for_event(connection->get())}) {
            if (match(*event))
                return event;
            dispatch(*event);
        }
        const auto now = Clock::now();
        if ((stopping && !handingOver) || connection->broken() || now >= deadline)
            return nullptr;
        // Short slices so that shutting down never waits for a silent owner.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd fd{xcb_get_file_descriptor(connection->get()), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::clamp<std::int64_t>(left.count() + 1, 1, 50)));
    }
}

void X11Pasteboard::dispatch(const xcb_generic_event_t& event) {
    const int type = responseType(event);
    if (type == 0) {
        const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
        if (error.error_code == XCB_WINDOW)
            server->forgetWindow(error.resource_id);
    } else if (type == XCB_SELECTION_REQUEST) {
        onRequest(reinterpret_cast<const xcb_selection_request_event_t&>(event));
    } else if (type == XCB_SELECTION_CLEAR) {
        const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
        if (clear.selection == selection && clear.owner == window) {
            owning = false;
            if (!hasXfixes)
                ++changes;
        }
    } else if (type == XCB_PROPERTY_NOTIFY) {
        server->propertyChanged(reinterpret_cast<const xcb_property_notify_event_t&>(event));
    } else if (hasXfixes && type == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto& notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
        if (notify.selection == selection) {
            ++changes;
            owning = notify.owner == window;
        }
    }
}

void X11Pasteboard::onRequest(const xcb_selection_request_event_t& request) {
    const bool current = request.time == XCB_CURRENT_TIME || ownedSince == XCB_CURRENT_TIME ||
                         request.time >= ownedSince;
    if (request.selection != selection || !owning || !current) {
        server->answer(request, std::nullopt);
        return;
    }
    const std::string target = connection->atomName(request.target);
    if (target == "TARGETS") {
        std::vector<xcb_atom_t> targets{connection->atom("TARGETS"), connection->atom("TIMESTAMP")};
        for (const std::string& type : contents.types())
            targets.push_back(connection->atom(type));
        server->answerTargets(request, targets);
    } else if (target == "TIMESTAMP") {
        server->answerTimestamp(request, ownedSince);
    } else if (target.empty() || target == "MULTIPLE") {
        server->answer(request, std::nullopt);
    } else {
        std::optional<x11::Offer> offer;
        try {
            offer = contents.offer(target, receiversRequest(request, target));
        } catch (...) {
            // A provider that fails must not take the event thread down; the reader gets nothing.
        }
        server->answer(request, std::move(offer));
    }
}

xcb_timestamp_t X11Pasteboard::freshTimestamp() {
    // A zero-length append changes nothing but makes the server tell us its current time.
    const xcb_atom_t property = connection->atom("OSTREL_TIMESTAMP");
    xcb_change_property(connection->get(), XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_INTEGER,
                        32, 0, nullptr);
    x11::Event event = waitFor(
        [&](const xcb_generic_event_t& e) {
            if (responseType(e) != XCB_PROPERTY_NOTIFY)
                return false;
            const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(e);
            return notify.window == window && notify.atom == property;
        },
        Clock::now() + answerWithin);
    if (!event)
        return XCB_CURRENT_TIME;
    return reinterpret_cast<const xcb_property_notify_event_t&>(*event).time;
}

bool X11Pasteboard::afterKeystroke(xcb_timestamp_t requestTime) const {
    if (!keystrokeAt)
        return false;
    if (requestTime == XCB_CURRENT_TIME || *keystrokeAt == XCB_CURRENT_TIME)
        return true;
    // Server time wraps around after 49 days.
    return static_cast<std::int32_t>(requestTime - *keystrokeAt) >= 0;
}

std::optional<std::uint32_t> X11Pasteboard::mutterClient() {
    auto check =
        connection->property(connection->root(), connection->atom("_NET_SUPPORTING_WM_CHECK"), 4);
    if (!check || check->format != 32 || check->bytes.size() < 4)
        return std::nullopt;
    xcb_window_t manager = XCB_WINDOW_NONE;
    std::memcpy(&manager, check->bytes.data(), 4);
    if (!connection->property(manager, connection->atom("_MUTTER_VERSION"), 64))
        return std::nullopt;
    return manager & ~xcb_get_setup(connection->get())->resource_id_mask;
}

bool X11Pasteboard::receiversRequest(const xcb_selection_request_event_t& request,
                                     const std::string& target) {
    const std::uint32_t client =
        request.requestor & ~xcb_get_setup(connection->get())->resource_id_mask;
    if (!bridge || client != *bridge)
        return afterKeystroke(request.time);
    // The bridge's stamps say nothing about when a window pasted: its reads count by when they
    // reach us, and its first text read of a clipboard is its own copy, whenever it comes.
    const bool text =
        std::find(plainTextTypes.begin(), plainTextTypes.end(), target) != plainTextTypes.end();
    if (text && !std::exchange(bridgeCopied, true))
        return false;
    return keystrokeAt.has_value();
}

void X11Pasteboard::own(x11::SelectionContents newContents) {
    if (connection->broken())
        throw PasteboardUnavailable(connectionLost);
    const xcb_timestamp_t time = freshTimestamp();
    contents = std::move(newContents);
    keystrokeAt.reset();
    bridge = mutterClient();
    bridgeCopied = !isClipboard;
    ownedSince = time;
    xcb_connection_t* c = connection->get();
    xcb_set_selection_owner(c, window, selection, time);
    x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    // The server sent our own ownership notification before this reply, so it is counted now
    // and never again later.
    while (x11::Event event{xcb_poll_for_queued_event(c)})
        dispatch(*event);
    if (!owner)
        throw PasteboardUnavailable(connectionLost);
    owning = owner->owner == window;
    if (!hasXfixes)
        ++changes;
}

void X11Pasteboard::handOverToClipboardManager() {
    // Contents that we put back (or left for the user to paste) would die with our connection.
    // A clipboard manager takes them over when asked to save them; dictated text that is still
    // only promised stays the caller's business.
    if (!owning || contents.promisesText() || contents.types().empty() ||
        connection->atomName(selection) != "CLIPBOARD")
        return;
    xcb_connection_t* c = connection->get();
    const xcb_atom_t manager = connection->atom("CLIPBOARD_MANAGER");
    x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return;
    std::vector<xcb_atom_t> targets;
    for (const std::string& type : contents.types())
        targets.push_back(connection->atom(type));
    const xcb_atom_t property = connection->atom("OSTREL_SAVE_TARGETS");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(targets.size()), targets.data());
    xcb_convert_selection(c, window, manager, connection->atom("SAVE_TARGETS"), property,
                          ownedSince);
    handingOver = true;
    // Meanwhile the manager's own conversion requests are served by the wait.
    waitFor(
        [&](const xcb_generic_event_t& e) {
            return responseType(e) == XCB_SELECTION_NOTIFY &&
                   reinterpret_cast<const xcb_selection_notify_event_t&>(e).selection == manager;
        },
        Clock::now() + handOverWithin);
    handingOver = false;
}

void X11Pasteboard::catchUp() {
    connection->sync();
    while (x11::Event event{xcb_poll_for_queued_event(connection->get())})
        dispatch(*event);
}

X11Pasteboard::OwnerReads& X11Pasteboard::ownerReads() {
    if (reads.epoch != changes)
        reads = OwnerReads{changes, std::nullopt, false, {}};
    return reads;
}

std::vector<std::string> X11Pasteboard::ownerTypes() {
    catchUp();
    OwnerReads& current = ownerReads();
    if (current.types)
        return *current.types;
    current.types.emplace();
    xcb_connection_t* c = connection->get();
    x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE)
        return {};
    auto targets = readFromOwner("TARGETS", 1u << 20);
    if (!targets || targets->format != 32)
        return {};
    std::vector<xcb_atom_t> atoms(std::min(targets->bytes.size() / 4, maxTargets));
    std::memcpy(atoms.data(), targets->bytes.data(), atoms.size() * 4);
    // Ask for every unknown name at once rather than one round trip each.
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (xcb_atom_t atom : atoms)
        cookies.push_back(xcb_get_atom_name(c, atom));
    for (auto cookie : cookies) {
        x11::Reply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(c, cookie, nullptr));
        if (!name)
            continue;
        std::string type(xcb_get_atom_name_name(name.get()),
                         static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())));
        if (!hidden(type) &&
            std::find(current.types->begin(), current.types->end(), type) == current.types->end())
            current.types->push_back(std::move(type));
    }
    return *current.types;
}

std::optional<x11::Conversion> X11Pasteboard::readFromOwner(const std::string& type,
                                                            std::size_t limit) {
    OwnerReads& current = ownerReads();
    const auto left = ownerBudget - current.spent;
    if (current.silent || left <= Clock::duration::zero())
        return std::nullopt;
    const auto start = Clock::now();
    auto result =
        reader->read(selection, connection->atom(type), limit, answerWithin, start + left);
    // The reads may have seen an ownership change; the budget belongs to the owner we asked.
    current.spent += Clock::now() - start;
    if (result.silent)
        current.silent = true;
    if (result.value)
        formats[type] = {result.value->type, result.value->format};
    return std::move(result.value);
}

std::optional<std::string> X11Pasteboard::ownedText() {
    for (std::string_view type : plainTextTypes)
        if (auto offer = contents.offer(std::string(type), keystrokeAt.has_value()))
            return offer->type == "STRING" ? x11::utf8FromLatin1(*offer->bytes) : *offer->bytes;
    return std::nullopt;
}

std::int64_t X11Pasteboard::changeCount() {
    return call([this] {
        catchUp();
        return changes;
    });
}

std::vector<std::string> X11Pasteboard::types() {
    return call([this] {
        catchUp();
        return owning ? contents.types() : ownerTypes();
    });
}

int X11Pasteboard::itemCount() {
    return types().empty() ? 0 : 1;
}

std::vector<std::string> X11Pasteboard::itemTypes(int index) {
    return index == 0 ? types() : std::vector<std::string>{};
}

std::optional<std::string> X11Pasteboard::data(int index, const std::string& type,
                                               std::size_t limit) {
    if (index != 0 || type.empty())
        return std::nullopt;
    return call([&]() -> std::optional<std::string> {
        catchUp();
        if (owning) {
            auto offer = contents.offer(type);
            return offer ? std::optional(*offer->bytes) : std::nullopt;
        }
        auto conversion = readFromOwner(type, limit);
        return conversion ? std::optional(std::move(conversion->bytes)) : std::nullopt;
    });
}

void X11Pasteboard::clearContents() {
    call([this] { own(x11::SelectionContents::nothing()); });
}

void X11Pasteboard::writeItems(const std::vector<PasteboardItem>& items) {
    call([&] {
        own(items.empty() ? x11::SelectionContents::nothing()
                          : x11::SelectionContents::item(items.front(), formats));
    });
}

void X11Pasteboard::writePromisedText(std::function<std::string(bool)> provide) {
    call([&] { own(x11::SelectionContents::promised(std::move(provide))); });
}

void X11Pasteboard::markKeystroke() {
    call([this] {
        // Requests already here were made before the keystroke, whatever their stamp.
        catchUp();
        keystrokeAt = freshTimestamp();
    });
}

bool X11Pasteboard::relayed() {
    return call([this] {
        catchUp();
        return !bridge || bridgeCopied || !owning;
    });
}

void X11Pasteboard::setString(const std::string& text) {
    call([&] { own(x11::SelectionContents::text(text)); });
}

bool X11Pasteboard::settlePromisedText(const std::string&) {
    return call([&] {
        catchUp();
        if (!owning || !contents.promisesText())
            return false;
        // Our event thread answers for as long as we own the selection, so the promise serves a
        // late reader as data would; kept, it still tells us when the receiver pulls.
        ++changes;
        return true;
    });
}

std::optional<std::string> X11Pasteboard::string() {
    return call([this]() -> std::optional<std::string> {
        catchUp();
        if (owning)
            return ownedText();
        for (std::string_view type : plainTextTypes) {
            if (auto conversion = readFromOwner(std::string(type), textLimit))
                return textOf(*conversion);
            if (ownerReads().silent)
                break;
        }
        return std::nullopt;
    });
}

} // namespace talvoro
