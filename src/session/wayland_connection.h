#pragma once

#include <wayland-client-core.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct wl_callback;
struct wl_interface;
struct wl_registry;

namespace talvoro::wayland {

struct DisplayDeleter {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};
using Display = std::unique_ptr<wl_display, DisplayDeleter>;

// Destroys a proxy, first sending its interface's destructor request when it has one.
struct ProxyDeleter {
    int destructorOpcode = -1;
    void operator()(wl_proxy* proxy) const;
};
using Proxy = std::unique_ptr<wl_proxy, ProxyDeleter>;

template <class T> Proxy adopt(T* proxy, int destructorOpcode = -1) {
    return Proxy(reinterpret_cast<wl_proxy*>(proxy), ProxyDeleter{destructorOpcode});
}

// Nothing when there is no compositor to talk to (no WAYLAND_DISPLAY, or it refuses us).
Display connect();

// How long the compositor gets to answer one round trip, in seconds; tests shorten it.
inline std::atomic<double> answerWithin{3.0};
// The start of what a caller says when the compositor did not answer in time.
inline constexpr const char* compositorSilent = "композитор Wayland не ответил вовремя";

// Round trips on one connection that give up when the compositor does not answer within
// `answerWithin`, so a frozen compositor never holds the thread. Once one went unanswered, later
// ones give up at once until that late answer arrives: a frozen compositor costs one wait, not
// one per call. Used by one thread at a time, on the default event queue.
class RoundTrip {
public:
    enum class Outcome { answered, lost, silent };

    explicit RoundTrip(wl_display* display) : display(display) {}
    RoundTrip(const RoundTrip&) = delete;
    RoundTrip& operator=(const RoundTrip&) = delete;

    // Sends what is queued, then dispatches events until the compositor has answered.
    Outcome operator()();

private:
    static void onDone(void* data, wl_callback* callback, std::uint32_t);
    // Reads and dispatches what arrives until the pending answer is in or `waitMs` passed;
    // false when the connection failed.
    bool dispatchFor(int waitMs);

    wl_display* display;
    Proxy pending; // the sync request still unanswered
    bool done = false;
};

// The compositor's globals, listed in one round trip; binds them on request.
class Registry {
public:
    // `listed` says whether the compositor answered; without an answer the list is empty.
    Registry(wl_display* display, RoundTrip& roundTrip);
    RoundTrip::Outcome listed() const { return listed_; }

    struct Global {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };
    const std::vector<Global>& globals() const { return globals_; }
    std::optional<Global> find(const std::string& interface) const;
    // Binds the first global of that interface at min(its version, `version`); null when absent.
    Proxy bind(const wl_interface& interface, std::uint32_t version, int destructorOpcode = -1);

private:
    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

    Proxy registry;
    std::vector<Global> globals_;
    RoundTrip::Outcome listed_ = RoundTrip::Outcome::lost;
};

} // namespace talvoro::wayland
