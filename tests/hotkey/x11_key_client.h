#pragma once

// The other side of a global hotkey: a focused window of another client that records every
// key event it gets, and a typist that presses keys through XTest. Both use plain xcb on
// connections of their own.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include "support/run_program.h"

namespace talvoro::testing {

namespace keysym {
inline constexpr std::uint32_t space = 0x20, a = 0x61, x = 0x78, escape = 0xff1b, altL = 0xffe9,
                               shiftL = 0xffe1, capsLock = 0xffe5, numLock = 0xff7f;
}

struct XFree {
    void operator()(void* p) const { std::free(p); }
};

class KeyRecordingWindow {
public:
    struct Key {
        bool press;
        xcb_keycode_t keycode;
    };

    KeyRecordingWindow() : c(xcb_connect(nullptr, nullptr)) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window = xcb_generate_id(c);
        const std::uint32_t mask =
            XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                          &mask);
        xcb_map_window(c, window);
        xcb_flush(c);
        while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            std::free(event);
            if (mapped)
                break;
        }
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        thread = std::thread([this] { record(); });
    }
    ~KeyRecordingWindow() {
        stop = true;
        thread.join();
        xcb_disconnect(c);
    }

    std::vector<Key> keys() {
        std::lock_guard guard(lock);
        return received;
    }
    // Whether, within two seconds, the keycode has been pressed more than `before` times.
    bool awaitPress(xcb_keycode_t keycode, int before) {
        return waitFor([&] { return count(keycode, true) > before; }, 2);
    }
    int count(xcb_keycode_t keycode, bool press) {
        int n = 0;
        for (const Key& k : keys())
            n += k.keycode == keycode && k.press == press;
        return n;
    }

private:
    void record() {
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        while (!stop) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                const int type = event->response_type & 0x7f;
                if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
                    std::lock_guard guard(lock);
                    received.push_back({type == XCB_KEY_PRESS, key->detail});
                }
                std::free(event);
            }
            ::poll(&fd, 1, 20);
        }
    }

    xcb_connection_t* c;
    xcb_window_t window;
    std::atomic<bool> stop = false;
    std::mutex lock;
    std::vector<Key> received; // guarded by lock
    std::thread thread;
};

class Typist {
public:
    Typist() : c(xcb_connect(nullptr, nullptr)), symbols(xcb_key_symbols_alloc(c)) {
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Typist() {
        xcb_key_symbols_free(symbols);
        xcb_disconnect(c);
    }

    xcb_connection_t* connection() { return c; }

    xcb_keycode_t keycode(std::uint32_t keysym) {
        std::unique_ptr<xcb_keycode_t, XFree> codes(xcb_key_symbols_get_keycode(symbols, keysym));
        return codes ? codes.get()[0] : 0;
    }
    void press(std::uint32_t keysym) { fake(XCB_KEY_PRESS, keycode(keysym)); }
    void release(std::uint32_t keysym) { fake(XCB_KEY_RELEASE, keycode(keysym)); }
    void tap(std::uint32_t keysym) {
        press(keysym);
        release(keysym);
    }
    void fake(std::uint8_t type, xcb_keycode_t keycode) {
        xcb_test_fake_input(c, type, keycode, XCB_CURRENT_TIME, root, 0, 0, 0);
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

private:
    xcb_connection_t* c;
    xcb_key_symbols_t* symbols;
    xcb_window_t root;
};

} // namespace talvoro::testing
