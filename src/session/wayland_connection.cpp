#include "session/wayland_connection.h"

#include <wayland-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

namespace talvoro::wayland {

void ProxyDeleter::operator()(wl_proxy* proxy) const {
    if (destructorOpcode < 0) {
        wl_proxy_destroy(proxy);
        return;
    }
    wl_proxy_marshal_flags(proxy, static_cast<std::uint32_t>(destructorOpcode), nullptr,
                           wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

Display connect() {
    return Display(wl_display_connect(nullptr));
}

void RoundTrip::onDone(void* data, wl_callback*, std::uint32_t) {
    static_cast<RoundTrip*>(data)->done = true;
}

RoundTrip::Outcome RoundTrip::operator()() {
    using Clock = std::chrono::steady_clock;
    if (pending && !done) {
        // The previous answer is still out: only what has already arrived may bring it.
        if (!dispatchFor(0))
            return Outcome::lost;
        if (!done)
            return Outcome::silent;
    }
    pending.reset();
    done = false;
    if (wl_display_get_error(display) != 0)
        return Outcome::lost;
    pending = adopt(wl_display_sync(display));
    if (!pending)
        return Outcome::lost;
    static const wl_callback_listener listener{&RoundTrip::onDone};
    wl_callback_add_listener(reinterpret_cast<wl_callback*>(pending.get()), &listener, this);
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(answerWithin.load()));
    while (!done) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return Outcome::silent;
        if (!dispatchFor(static_cast<int>(std::min<std::int64_t>(left + 1, 1000))))
            return Outcome::lost;
    }
    pending.reset();
    return Outcome::answered;
}

bool RoundTrip::dispatchFor(int waitMs) {
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    if (done) {
        wl_display_cancel_read(display);
        return true;
    }
    // A full socket buffer (a compositor that stopped reading) must not block us either.
    const bool flushed = wl_display_flush(display) >= 0;
    if (!flushed && errno != EAGAIN) {
        wl_display_cancel_read(display);
        return false;
    }
    pollfd fd{wl_display_get_fd(display), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0};
    const int ready = ::poll(&fd, 1, waitMs);
    if (ready > 0 && (fd.revents & (POLLIN | POLLERR | POLLHUP))) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return wl_display_dispatch_pending(display) >= 0;
}

Registry::Registry(wl_display* display, RoundTrip& roundTrip)
    : registry(adopt(wl_display_get_registry(display))) {
    static const wl_registry_listener listener{&Registry::onGlobal, &Registry::onGlobalRemove};
    wl_registry_add_listener(reinterpret_cast<wl_registry*>(registry.get()), &listener, this);
    listed_ = roundTrip();
    if (listed_ != RoundTrip::Outcome::answered)
        globals_.clear();
}

void Registry::onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                        std::uint32_t version) {
    static_cast<Registry*>(data)->globals_.push_back({name, interface, version});
}

std::optional<Registry::Global> Registry::find(const std::string& interface) const {
    auto found = std::find_if(globals_.begin(), globals_.end(),
                              [&](const Global& global) { return global.interface == interface; });
    return found == globals_.end() ? std::nullopt : std::optional(*found);
}

Proxy Registry::bind(const wl_interface& interface, std::uint32_t version, int destructorOpcode) {
    std::optional<Global> global = find(interface.name);
    if (!global)
        return Proxy(nullptr, ProxyDeleter{destructorOpcode});
    void* bound = wl_registry_bind(reinterpret_cast<wl_registry*>(registry.get()), global->name,
                                   &interface, std::min(version, global->version));
    return Proxy(static_cast<wl_proxy*>(bound), ProxyDeleter{destructorOpcode});
}

} // namespace talvoro::wayland
