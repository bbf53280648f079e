#include "hotkey/x11_key_source.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>
// xkb.h names a struct member `explicit`, a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include "hotkey/hotkey_tap.h"
#include "hotkey/x11_key_symbols.h"

namespace talvoro {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t* k) const { xcb_key_symbols_free(k); }
};

class EventFd {
public:
    EventFd() : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd() {
        if (fd >= 0)
            ::close(fd);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }
    int get() const { return fd; }

private:
    int fd;
};

constexpr std::uint32_t numLockKeysym = 0xff7f;
constexpr std::uint32_t scrollLockKeysym = 0xff14;

class X11KeySource final : public KeyEventSource {
public:
    void open(const HotkeyBinding& binding) override;
    void run(KeyEventSink& sink) override;
    void stop() override { wake.signal(); }
    void reenable() override {} // an X grab is never switched off behind our back

private:
    struct Grab {
        xcb_keycode_t keycode;
        std::uint16_t modifiers;
    };

    void enableDetectableAutoRepeat();
    void selectRawKeys();
    std::uint16_t modifierMaskOf(std::uint32_t keysym, const xcb_get_modifier_mapping_reply_t&);
    std::vector<std::uint16_t> lockVariants();
    void grab();
    void ungrab();
    void dispatch(xcb_generic_event_t& event, KeyEventSink& sink);
    void keyPressed(const xcb_key_press_event_t& event, KeyEventSink& sink);
    void keyReleased(const xcb_key_release_event_t& event, KeyEventSink& sink);
    void rawKey(const xcb_ge_generic_event_t& event, KeyEventSink& sink);
    void mappingChanged(xcb_mapping_notify_event_t& event);
    void regrab();
    KeyEvent keyEvent(KeyEvent::Type type, xcb_keycode_t keycode, std::uint16_t state,
                      xcb_timestamp_t time) const;

    // Only the tap thread touches these; stop() uses nothing but `wake`.
    HotkeyBinding binding;
    Connection connection;
    xcb_window_t root = XCB_NONE;
    std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter> symbols;
    std::vector<Grab> grabs;
    std::array<bool, 256> bindingKey{}; // keycodes that carry the binding's key
    std::uint16_t numLockMask = 0;
    std::uint8_t xinputOpcode = 0;
    std::uint8_t xkbFirstEvent = 0; // 0: XKB not in use
    bool rawKeys = false;           // XInput 2 raw key events arrive (they count key-downs as seen)
    // A raw key-down of this keycode arrived and its core key-down has not yet: the next core
    // key-down is a real press, not an auto-repeat.
    std::array<bool, 256> freshPress{};
    std::array<bool, 256> held{}; // without raw events: a taken key-down awaits its release
    EventFd wake;
};

void X11KeySource::open(const HotkeyBinding& wanted) {
    binding = wanted;
    int screenNumber = 0;
    connection.reset(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(connection.get()))
        throw HotkeyTap::Failure::noPermission();
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        throw HotkeyTap::Failure::noPermission();
    root = screens.data->root;
    symbols.reset(xcb_key_symbols_alloc(connection.get()));
    if (!symbols)
        throw HotkeyTap::Failure::tapCreationFailed();
    enableDetectableAutoRepeat();
    selectRawKeys();
    grab();
    xcb_flush(connection.get());
}

void X11KeySource::enableDetectableAutoRepeat() {
    xcb_connection_t* c = connection.get();
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
    if (xkb == nullptr || !xkb->present)
        return;
    Reply<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
        c, xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    if (!use || !use->supported)
        return;
    // Held keys then repeat as key-downs only, with no made-up release in between.
    Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        c,
        xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr));
    // A client that speaks XKB no longer gets the core MappingNotify: ask for XKB's own.
    const std::uint16_t events =
        XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, 0xffff, 0xffff, nullptr);
    xkbFirstEvent = xkb->first_event;
}

void X11KeySource::selectRawKeys() {
    xcb_connection_t* c = connection.get();
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    if (xi == nullptr || !xi->present)
        return;
    // From 2.1 on, raw events reach the root window whoever holds a grab.
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version || version->major_version < 2 ||
        (version->major_version == 2 && version->minor_version < 1))
        return;
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_input_xi_select_events_checked(c, root, 1, &mask.head)));
    rawKeys = !error;
    xinputOpcode = xi->major_opcode;
}

std::uint16_t X11KeySource::modifierMaskOf(std::uint32_t keysym,
                                           const xcb_get_modifier_mapping_reply_t& mapping) {
    Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols.get(), keysym));
    if (!codes)
        return 0;
    const xcb_keycode_t* table = xcb_get_modifier_mapping_keycodes(&mapping);
    const int perModifier = mapping.keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier)
        for (int i = 0; i < perModifier; ++i) {
            xcb_keycode_t code = table[modifier * perModifier + i];
            for (const xcb_keycode_t* k = codes.get(); code != 0 && *k != XCB_NO_SYMBOL; ++k)
                if (*k == code)
                    return static_cast<std::uint16_t>(1 << modifier);
        }
    return 0;
}

// The binding's own modifiers plus every combination of Caps Lock, Num Lock and Scroll Lock,
// so that a lit lock key does not hide the hotkey.
std::vector<std::uint16_t> X11KeySource::lockVariants() {
    xcb_connection_t* c = connection.get();
    Reply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
    numLockMask = mapping ? modifierMaskOf(numLockKeysym, *mapping) : 0;
    const std::uint16_t scrollLockMask = mapping ? modifierMaskOf(scrollLockKeysym, *mapping) : 0;
    const std::uint16_t base = x11keys::modifierMaskForFlags(binding.modifiers);

    std::vector<std::uint16_t> locks;
    for (std::uint16_t lock : {x11keys::lockMask, numLockMask, scrollLockMask})
        if (lock != 0 && (lock & base) == 0 &&
            std::find(locks.begin(), locks.end(), lock) == locks.end())
            locks.push_back(lock);
    std::vector<std::uint16_t> variants;
    for (unsigned subset = 0; subset < (1u << locks.size()); ++subset) {
        std::uint16_t mask = base;
        for (std::size_t i = 0; i < locks.size(); ++i)
            if (subset & (1u << i))
                mask |= locks[i];
        variants.push_back(mask);
    }
    return variants;
}

// Grabs the binding's key as the keyboard is mapped now. Grabs still wanted are made again
// rather than released first, so a regrab leaves no moment in which the key is free.
void X11KeySource::grab() {
    const auto keysym = x11keys::keysymForKeyCode(binding.keyCode);
    if (!keysym)
        throw HotkeyTap::Failure::keyUnavailable(binding);
    Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols.get(), *keysym));
    if (!codes || codes.get()[0] == XCB_NO_SYMBOL)
        throw HotkeyTap::Failure::keyUnavailable(binding);

    xcb_connection_t* c = connection.get();
    std::vector<Grab> wanted;
    std::vector<xcb_void_cookie_t> cookies;
    for (std::uint16_t modifiers : lockVariants())
        for (const xcb_keycode_t* k = codes.get(); *k != XCB_NO_SYMBOL; ++k) {
            wanted.push_back({*k, modifiers});
            cookies.push_back(xcb_grab_key_checked(c, 0, root, modifiers, *k, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_SYNC));
        }
    bool conflict = false, broken = false;
    std::vector<Grab> made;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        Reply<xcb_generic_error_t> error(xcb_request_check(c, cookies[i]));
        if (!error)
            made.push_back(wanted[i]);
        else if (error->error_code == XCB_ACCESS)
            conflict = true;
        else
            broken = true;
    }
    const auto same = [](const Grab& a, const Grab& b) {
        return a.keycode == b.keycode && a.modifiers == b.modifiers;
    };
    for (const Grab& old : grabs)
        if (std::none_of(made.begin(), made.end(), [&](const Grab& g) { return same(g, old); }))
            made.push_back(old);
    grabs = std::move(made);
    if (conflict || broken) {
        ungrab(); // a half-made grab would take some presses and not others
        if (conflict)
            throw HotkeyTap::Failure::conflict(binding);
        throw HotkeyTap::Failure::tapCreationFailed();
    }
    // Release what the new mapping no longer needs.
    std::erase_if(grabs, [&](const Grab& g) {
        if (std::any_of(wanted.begin(), wanted.end(), [&](const Grab& w) { return same(w, g); }))
            return false;
        xcb_ungrab_key(c, g.keycode, root, g.modifiers);
        return true;
    });
    bindingKey.fill(false);
    for (const Grab& held : grabs)
        bindingKey[held.keycode] = true;
}

void X11KeySource::ungrab() {
    for (const Grab& g : grabs)
        xcb_ungrab_key(connection.get(), g.keycode, root, g.modifiers);
    grabs.clear();
    bindingKey.fill(false);
    xcb_flush(connection.get());
}

void X11KeySource::run(KeyEventSink& sink) {
    xcb_connection_t* c = connection.get();
    std::array<pollfd, 2> fds{{{xcb_get_file_descriptor(c), POLLIN, 0}, {wake.get(), POLLIN, 0}}};
    for (;;) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            Reply<xcb_generic_event_t> event(raw);
            dispatch(*event, sink);
        }
        if (xcb_connection_has_error(c))
            break;
        xcb_flush(c);
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            break;
    }
    if (!xcb_connection_has_error(c))
        ungrab();
    connection.reset();
}

void X11KeySource::dispatch(xcb_generic_event_t& event, KeyEventSink& sink) {
    switch (event.response_type & 0x7f) {
    case XCB_KEY_PRESS:
        keyPressed(reinterpret_cast<const xcb_key_press_event_t&>(event), sink);
        break;
    case XCB_KEY_RELEASE:
        keyReleased(reinterpret_cast<const xcb_key_release_event_t&>(event), sink);
        break;
    case XCB_GE_GENERIC:
        rawKey(reinterpret_cast<const xcb_ge_generic_event_t&>(event), sink);
        break;
    case XCB_MAPPING_NOTIFY:
        mappingChanged(reinterpret_cast<xcb_mapping_notify_event_t&>(event));
        break;
    default:
        // XKB events share one event code and carry their own kind in the second byte.
        if (xkbFirstEvent != 0 && (event.response_type & 0x7f) == xkbFirstEvent &&
            (event.pad0 == XCB_XKB_NEW_KEYBOARD_NOTIFY || event.pad0 == XCB_XKB_MAP_NOTIFY)) {
            symbols.reset(xcb_key_symbols_alloc(connection.get()));
            regrab();
        }
        break;
    }
}

KeyEvent X11KeySource::keyEvent(KeyEvent::Type type, xcb_keycode_t keycode, std::uint16_t state,
                                xcb_timestamp_t time) const {
    KeyEvent event;
    event.type = type;
    event.keyCode = bindingKey[keycode] ? binding.keyCode : KeyEvent::otherKey;
    event.flags = x11keys::flagsForModifierMask(state, numLockMask);
    // Server time is the monotonic clock in milliseconds on a local X server; a time that
    // does not fit (a remote server) is replaced by the time of arrival.
    const double now = monotonicSeconds();
    const auto nowMs = static_cast<std::uint32_t>(static_cast<std::uint64_t>(now * 1000.0));
    const auto age = static_cast<std::int32_t>(nowMs - time);
    event.timestamp = (age < -20 || age > 10000) ? now : now - age / 1000.0;
    return event;
}

void X11KeySource::keyPressed(const xcb_key_press_event_t& press, KeyEventSink& sink) {
    KeyEvent event = keyEvent(KeyEvent::Type::keyDown, press.detail, press.state, press.time);
    event.autoRepeat = rawKeys ? !freshPress[press.detail] : held[press.detail];
    event.alreadyCounted = rawKeys && !event.autoRepeat;
    freshPress[press.detail] = false;
    const KeyVerdict verdict = sink.handle(event);
    // The grab froze the keyboard: answer at once. Async keeps the key (its release comes
    // to us); replay hands the press to the focused window as if we had never seen it.
    xcb_allow_events(connection.get(),
                     verdict == KeyVerdict::swallow ? XCB_ALLOW_ASYNC_KEYBOARD
                                                    : XCB_ALLOW_REPLAY_KEYBOARD,
                     XCB_CURRENT_TIME);
    xcb_flush(connection.get());
    if (!rawKeys && verdict == KeyVerdict::swallow)
        held[press.detail] = true;
}

void X11KeySource::keyReleased(const xcb_key_release_event_t& release, KeyEventSink& sink) {
    held[release.detail] = false;
    // Only releases inside our own grab get here; they cannot be handed on any more.
    sink.handle(keyEvent(KeyEvent::Type::keyUp, release.detail, release.state, release.time));
}

void X11KeySource::rawKey(const xcb_ge_generic_event_t& generic, KeyEventSink& sink) {
    if (!rawKeys || generic.extension != xinputOpcode)
        return;
    const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(generic);
    if (generic.event_type == XCB_INPUT_RAW_KEY_PRESS) {
        if ((raw.flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT) == 0)
            freshPress[raw.detail & 0xff] = true;
        KeyEvent seen;
        seen.type = KeyEvent::Type::observedKeyDown;
        sink.handle(seen);
    } else if (generic.event_type == XCB_INPUT_RAW_KEY_RELEASE) {
        freshPress[raw.detail & 0xff] = false;
    }
}

void X11KeySource::mappingChanged(xcb_mapping_notify_event_t& event) {
    if (event.request == XCB_MAPPING_POINTER)
        return;
    xcb_refresh_keyboard_mapping(symbols.get(), &event);
    regrab();
}

void X11KeySource::regrab() {
    try {
        if (!symbols)
            throw HotkeyTap::Failure::tapCreationFailed();
        grab();
    } catch (const HotkeyTap::Failure&) {
        // The key left the keyboard or someone took it meanwhile: nothing to watch until the
        // next mapping change brings it back.
        ungrab();
    }
}

} // namespace

std::unique_ptr<KeyEventSource> makeX11KeySource() {
    return std::make_unique<X11KeySource>();
}

bool x11DisplayReachable() {
    Connection connection(xcb_connect(nullptr, nullptr));
    return !xcb_connection_has_error(connection.get());
}

} // namespace talvoro
