#pragma once

#include "insertion/paste_keystroke.h"
#include "session/wayland_connection.h"

#include <memory>
#include <mutex>

namespace talvoro {

// The paste shortcut through the compositor's zwp_virtual_keyboard_v1 (sway and other wlroots
// compositors). The device carries its own US keymap, and the compositor reads our key codes by
// it, so the user's layout (Russian or any other) never turns V into another letter.
class VirtualKeyboardKeystroke final : public PasteKeystroke {
public:
    // Throws KeystrokeUnavailable without a compositor or without the protocol.
    VirtualKeyboardKeystroke();
    ~VirtualKeyboardKeystroke() override;

    bool available() override;
    // The compositor hands the focused window the modifiers of the keyboard that sent the key,
    // ours, so a hotkey still held on the user's keyboard does not mix into the shortcut.
    void waitForKeysReleased() override {}
    void press(PasteShortcut shortcut) override;

private:
    std::mutex lock;
    // All guarded by lock; children before their parents, the connection last.
    wayland::Display display;
    wayland::RoundTrip roundTrip;
    std::unique_ptr<wayland::Registry> registry;
    wayland::Proxy seat;
    wayland::Proxy manager;
    wayland::Proxy keyboard;
    std::uint32_t controlMask = 0;
    std::uint32_t shiftMask = 0;
};

// Throws KeystrokeUnavailable.
std::unique_ptr<PasteKeystroke> makeVirtualKeyboardKeystroke();

} // namespace talvoro
