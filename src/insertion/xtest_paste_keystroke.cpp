#include "insertion/xtest_paste_keystroke.h"

#include "insertion/paster_failure.h"

#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <thread>
#include <vector>

namespace talvoro {

namespace {

constexpr xcb_keysym_t keysymV = 0x0076;
constexpr xcb_keysym_t keysymControlL = 0xffe3;
constexpr xcb_keysym_t keysymShiftL = 0xffe1;
constexpr xcb_keysym_t keysymInsert = 0xff63;

using KeySymbols = std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)>;

// Prefers a keycode whose first symbol is the keysym, so that the key is the one the
// layout's first group puts it on.
xcb_keycode_t keycodeFor(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
    x11::Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
    if (!codes)
        return 0;
    xcb_keycode_t fallback = 0;
    for (const xcb_keycode_t* code = codes.get(); *code != XCB_NO_SYMBOL; ++code) {
        if (xcb_key_symbols_get_keysym(symbols, *code, 0) == keysym)
            return *code;
        if (fallback == 0)
            fallback = *code;
    }
    return fallback;
}

// Whether any key is down: the keymap holds the pressed state of each key, so Caps Lock or
// Num Lock switched on but not held does not count.
bool anyKeyDown(x11::Connection& c) {
    x11::Reply<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(c.get(), xcb_query_keymap(c.get()), nullptr));
    if (!keymap)
        return false;
    for (const std::uint8_t bits : keymap->keys)
        if (bits != 0)
            return true;
    return false;
}

} // namespace

std::unique_ptr<PasteKeystroke> makeSystemPasteKeystroke() {
    return std::make_unique<XTestPasteKeystroke>();
}

XTestPasteKeystroke::XTestPasteKeystroke() : connection(x11::Connection::open()) {
    if (!connection)
        throw Paster::Failure::noDisplay();
}

x11::Connection& XTestPasteKeystroke::connected() {
    if (connection->broken()) {
        auto fresh = x11::Connection::open();
        if (!fresh)
            throw Paster::Failure::noDisplay();
        connection = std::move(fresh);
    }
    return *connection;
}

bool XTestPasteKeystroke::available() {
    std::lock_guard guard(lock);
    try {
        return connected().hasExtension(&xcb_test_id);
    } catch (const Paster::Failure&) {
        return false;
    }
}

void XTestPasteKeystroke::waitForKeysReleased() {
    std::lock_guard guard(lock);
    x11::Connection& c = connected();
    const auto until = std::chrono::steady_clock::now() + releaseGrace;
    while (anyKeyDown(c) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void XTestPasteKeystroke::press(PasteShortcut shortcut) {
    std::lock_guard guard(lock);
    x11::Connection& c = connected();
    if (!c.hasExtension(&xcb_test_id))
        throw Paster::Failure::noPermission();
    KeySymbols symbols(xcb_key_symbols_alloc(c.get()), &xcb_key_symbols_free);
    if (!symbols)
        throw Paster::Failure::eventCreationFailed();
    const bool terminal = shortcut == PasteShortcut::shiftInsert;
    const xcb_keycode_t modifier =
        keycodeFor(symbols.get(), terminal ? keysymShiftL : keysymControlL);
    const xcb_keycode_t key = keycodeFor(symbols.get(), terminal ? keysymInsert : keysymV);
    if (modifier == 0 || key == 0)
        throw Paster::Failure::eventCreationFailed();

    const std::pair<std::uint8_t, xcb_keycode_t> sequence[] = {{XCB_KEY_PRESS, modifier},
                                                               {XCB_KEY_PRESS, key},
                                                               {XCB_KEY_RELEASE, key},
                                                               {XCB_KEY_RELEASE, modifier}};
    std::vector<xcb_void_cookie_t> cookies;
    for (auto [type, code] : sequence)
        cookies.push_back(xcb_test_fake_input_checked(c.get(), type, code, XCB_CURRENT_TIME,
                                                      XCB_WINDOW_NONE, 0, 0, 0));
    bool failed = false;
    for (xcb_void_cookie_t cookie : cookies)
        if (x11::Reply<xcb_generic_error_t> error{xcb_request_check(c.get(), cookie)})
            failed = true;
    if (failed || c.broken())
        throw Paster::Failure::eventCreationFailed();
}

} // namespace talvoro
