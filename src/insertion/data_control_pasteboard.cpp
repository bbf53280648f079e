#include "insertion/data_control_pasteboard.h"

#include "base/serial_queue.h"
#include "insertion/paster_failure.h"

#include <wayland-client-protocol.h>

#include <algorithm>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace talvoro {

namespace {

constexpr const char* noCompositor =
    "нет связи с композитором Wayland (WAYLAND_DISPLAY) — буфер обмена недоступен";
constexpr const char* noDataControl = "композитор не даёт управлять буфером обмена (нет протокола "
                                      "ext-data-control или wlr-data-control)";
constexpr const char* noPrimary = "композитор не даёт управлять первичным выделением";
constexpr const char* connectionLost = "связь с композитором оборвалась — буфер обмена недоступен";
const std::string compositorSilent =
    std::string(wayland::compositorSilent) + " — буфер обмена недоступен";
constexpr std::size_t textLimit = 64u << 20;

} // namespace

std::unique_ptr<Pasteboard> makeWaylandDataControlPasteboard(WaylandSelection which) {
    return std::make_unique<DataControlPasteboard>(which);
}

DataControlPasteboard::DataControlPasteboard(WaylandSelection which)
    : primary(which == WaylandSelection::primary), display(wayland::connect()),
      roundTrip(display.get()) {
    if (!display)
        throw PasteboardUnavailable(noCompositor);
    registry = std::make_unique<wayland::Registry>(display.get(), roundTrip);
    if (registry->listed() == wayland::RoundTrip::Outcome::silent)
        throw PasteboardUnavailable(compositorSilent);
    for (const wayland::DataControlProtocol* candidate :
         {&wayland::extDataControl(), &wayland::wlrDataControl()}) {
        std::optional<wayland::Registry::Global> global = registry->find(candidate->manager->name);
        // The primary selection came to wlr's protocol with its version 2.
        if (global &&
            (!primary || candidate == &wayland::extDataControl() || global->version >= 2)) {
            protocol = candidate;
            break;
        }
    }
    if (!protocol)
        throw PasteboardUnavailable(
            primary && registry->find("zwlr_data_control_manager_v1") ? noPrimary : noDataControl);
    seat = registry->bind(wl_seat_interface, 1);
    if (!seat)
        throw PasteboardUnavailable(noDataControl);
    manager = wayland::bindManager(*registry, *protocol);
    device = wayland::getDataDevice(manager.get(), seat.get(), *protocol);
    static const wayland::DeviceListener listener{&onDataOffer, &onSelection, &onFinished,
                                                  &onPrimarySelection};
    wl_proxy_add_listener(
        device.get(),
        reinterpret_cast<void (**)(void)>(const_cast<wayland::DeviceListener*>(&listener)), this);
    // The device announces the current selection right away; that is no change.
    const wayland::RoundTrip::Outcome announced = roundTrip();
    changes = 0;
    if (announced == wayland::RoundTrip::Outcome::silent)
        throw PasteboardUnavailable(compositorSilent);
    if (announced != wayland::RoundTrip::Outcome::answered || broken())
        throw PasteboardUnavailable(noCompositor);
    wakeFd = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    thread = std::thread([this] { run(); });
}

DataControlPasteboard::~DataControlPasteboard() {
    stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd.get(), &one, sizeof one);
    thread.join();
    // Children before their parents, the connection last.
    source.reset();
    current.reset();
    introduced.clear();
    device.reset();
    manager.reset();
    seat.reset();
    registry.reset();
    if (display)
        wl_display_flush(display.get());
}

template <class F> auto DataControlPasteboard::call(F&& work) -> decltype(work()) {
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
    [[maybe_unused]] auto written = ::write(wakeFd.get(), &one, sizeof one);
    try {
        return future.get();
    } catch (const std::future_error&) {
        throw PasteboardUnavailable(connectionLost);
    }
}

bool DataControlPasteboard::broken() const {
    return wl_display_get_error(display.get()) != 0 || deviceFinished;
}

void DataControlPasteboard::run() {
    nameCurrentThread("ostrel.pasteboard");
    blockSigpipeOnThisThread();
    while (!stopping && !broken()) {
        runTasks();
        waitForEvents();
        outgoing.progress();
    }
    std::deque<std::function<void()>> abandoned;
    {
        std::lock_guard guard(lock);
        finished = true;
        abandoned.swap(tasks);
    }
    // Dropping a task breaks its promise: the waiting caller gets PasteboardUnavailable.
}

void DataControlPasteboard::runTasks() {
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

void DataControlPasteboard::waitForEvents() {
    wl_display* d = display.get();
    while (wl_display_prepare_read(d) != 0)
        wl_display_dispatch_pending(d);
    wl_display_flush(d);
    std::vector<pollfd> fds{{wl_display_get_fd(d), POLLIN, 0}, {wakeFd.get(), POLLIN, 0}};
    outgoing.addPollFds(fds);
    // While answers are under way, wake now and then to drop the readers that stopped reading.
    const int timeout = outgoing.empty() ? -1 : 1000;
    if (::poll(fds.data(), fds.size(), timeout) > 0 &&
        (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
        wl_display_read_events(d);
    else
        wl_display_cancel_read(d);
    wl_display_dispatch_pending(d);
    if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wakeFd.get(), &count, sizeof count);
    }
}

void DataControlPasteboard::catchUp() {
    if (broken())
        throw PasteboardUnavailable(connectionLost);
    switch (roundTrip()) {
    case wayland::RoundTrip::Outcome::answered:
        return;
    case wayland::RoundTrip::Outcome::silent:
        throw PasteboardUnavailable(compositorSilent);
    case wayland::RoundTrip::Outcome::lost:
        break;
    }
    throw PasteboardUnavailable(connectionLost);
}

bool DataControlPasteboard::ownerGivenUp() const {
    return !owning && reads.epoch == changes && (reads.silent || reads.spent >= ownerBudget);
}

void DataControlPasteboard::onDataOffer(void* data, wl_proxy*, wl_proxy* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    static const wayland::OfferListener listener{&onOfferType};
    wl_proxy_add_listener(
        offer, reinterpret_cast<void (**)(void)>(const_cast<wayland::OfferListener*>(&listener)),
        self);
    self->introduced[offer] = Offer{wayland::adoptOffer(offer), {}, {}};
}

void DataControlPasteboard::onOfferType(void* data, wl_proxy* offer, const char* mimeType) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    auto found = self->introduced.find(offer);
    Offer* target = found != self->introduced.end()                        ? &found->second
                    : self->current && self->current->proxy.get() == offer ? &*self->current
                                                                           : nullptr;
    if (target && target->types.size() < maxTypes && target->known.insert(mimeType).second)
        target->types.emplace_back(mimeType);
}

void DataControlPasteboard::onSelection(void* data, wl_proxy*, wl_proxy* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (self->primary)
        self->forgetOffer(offer);
    else
        self->selectionChanged(offer);
}

void DataControlPasteboard::onPrimarySelection(void* data, wl_proxy*, wl_proxy* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (self->primary)
        self->selectionChanged(offer);
    else
        self->forgetOffer(offer);
}

void DataControlPasteboard::forgetOffer(wl_proxy* offer) {
    if (offer)
        introduced.erase(offer);
}

void DataControlPasteboard::selectionChanged(wl_proxy* offer) {
    current.reset();
    if (offer) {
        auto found = introduced.find(offer);
        if (found != introduced.end()) {
            current = std::move(found->second);
            introduced.erase(found);
        }
    }
    // Our own write was counted when it was made.
    if (echoes > 0)
        --echoes;
    else
        ++changes;
}

void DataControlPasteboard::onFinished(void* data, wl_proxy*) {
    static_cast<DataControlPasteboard*>(data)->deviceFinished = true;
}

void DataControlPasteboard::onSend(void* data, wl_proxy* source, const char* mimeType,
                                   std::int32_t fd) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    UniqueFd pipe(fd);
    if (source != self->source.get())
        return;
    std::shared_ptr<const std::string> bytes;
    try {
        bytes = self->contents.serve(mimeType, self->keystrokeMarked);
    } catch (...) {
        // A provider that fails must not take the event thread down; the reader gets nothing.
    }
    if (bytes)
        self->outgoing.add(std::move(pipe), std::move(bytes));
}

void DataControlPasteboard::onCancelled(void* data, wl_proxy* source) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (source == self->source.get()) {
        self->source.reset();
        self->owning = false;
    }
}

void DataControlPasteboard::own(wayland::DataControlContents newContents) {
    if (broken())
        throw PasteboardUnavailable(connectionLost);
    wayland::Proxy fresh = wayland::createDataSource(manager.get(), *protocol);
    static const wayland::SourceListener listener{&onSend, &onCancelled};
    wl_proxy_add_listener(
        fresh.get(),
        reinterpret_cast<void (**)(void)>(const_cast<wayland::SourceListener*>(&listener)), this);
    for (const std::string& type : newContents.types())
        wayland::offerType(fresh.get(), type);
    wayland::setSelection(device.get(), fresh.get(), primary);
    source = std::move(fresh);
    contents = std::move(newContents);
    owning = true;
    keystrokeMarked = false;
    ++changes;
    // The compositor announces our selection before it answers the round trip, so the echo is
    // absorbed now and never counted later.
    echoes = 1;
    try {
        catchUp();
    } catch (...) {
        echoes = 0;
        throw;
    }
    echoes = 0;
}

std::vector<std::string> DataControlPasteboard::offeredTypes() const {
    return current ? current->types : std::vector<std::string>{};
}

std::optional<std::string> DataControlPasteboard::readFromOwner(const std::string& type,
                                                                std::size_t limit) {
    if (reads.epoch != changes)
        reads = OwnerReads{changes, false, {}};
    const auto left = ownerBudget - reads.spent;
    if (!current || reads.silent || left <= Clock::duration::zero())
        return std::nullopt;
    const auto& types = current->types;
    if (std::find(types.begin(), types.end(), type) == types.end())
        return std::nullopt;
    auto pipe = makePipe();
    if (!pipe)
        return std::nullopt;
    wayland::receive(current->proxy.get(), type, pipe->second.get());
    wl_display_flush(display.get());
    pipe->second.reset();
    const auto start = Clock::now();
    PipeRead read =
        readPipe(pipe->first.get(), limit, start + std::min<Clock::duration>(answerWithin, left));
    reads.spent += Clock::now() - start;
    if (read.silent)
        reads.silent = true;
    return std::move(read.bytes);
}

std::int64_t DataControlPasteboard::changeCount() {
    return call([this] {
        catchUp();
        return changes;
    });
}

std::vector<std::string> DataControlPasteboard::types() {
    return call([this] {
        catchUp();
        return owning ? contents.types() : offeredTypes();
    });
}

int DataControlPasteboard::itemCount() {
    return types().empty() ? 0 : 1;
}

std::vector<std::string> DataControlPasteboard::itemTypes(int index) {
    return index == 0 ? types() : std::vector<std::string>{};
}

std::optional<std::string> DataControlPasteboard::data(int index, const std::string& type,
                                                       std::size_t limit) {
    if (index != 0 || type.empty())
        return std::nullopt;
    return call([&]() -> std::optional<std::string> {
        // An owner whose time is up costs no round trip per remaining type.
        if (ownerGivenUp())
            return std::nullopt;
        catchUp();
        if (owning) {
            // Our own read is nobody's pull.
            auto bytes = contents.serve(type, false);
            return bytes ? std::optional(*bytes) : std::nullopt;
        }
        return readFromOwner(type, limit);
    });
}

void DataControlPasteboard::clearContents() {
    call([this] { own(wayland::DataControlContents::nothing()); });
}

void DataControlPasteboard::writeItems(const std::vector<PasteboardItem>& items) {
    call([&] {
        own(items.empty() ? wayland::DataControlContents::nothing()
                          : wayland::DataControlContents::item(items.front()));
    });
}

void DataControlPasteboard::writePromisedText(
    std::function<std::string(bool afterKeystroke)> provide) {
    call([&] { own(wayland::DataControlContents::promised(std::move(provide))); });
}

void DataControlPasteboard::markKeystroke() {
    call([this] {
        // Requests already on their way were made before the keystroke.
        catchUp();
        keystrokeMarked = true;
    });
}

void DataControlPasteboard::setString(const std::string& text) {
    call([&] { own(wayland::DataControlContents::text(text)); });
}

bool DataControlPasteboard::settlePromisedText(const std::string&) {
    return call([&] {
        catchUp();
        if (!owning || !contents.promisesText())
            return false;
        // Our event thread answers for as long as our source holds the selection, so the promise
        // serves a late reader as data would; kept, it still tells us when the receiver pulls.
        ++changes;
        return true;
    });
}

std::optional<std::string> DataControlPasteboard::string() {
    return call([this]() -> std::optional<std::string> {
        catchUp();
        if (owning) {
            for (const std::string& type : wayland::textTypes)
                if (auto bytes = contents.serve(type, false))
                    return *bytes;
            return std::nullopt;
        }
        for (const std::string& type : wayland::textTypes) {
            if (auto text = readFromOwner(type, textLimit))
                return text;
            if (ownerGivenUp())
                break;
        }
        return std::nullopt;
    });
}

} // namespace talvoro
