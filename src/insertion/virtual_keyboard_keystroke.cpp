#include "insertion/virtual_keyboard_keystroke.h"

#include "insertion/paster_failure.h"
#include "insertion/pipe_transfer.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-protocol.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <ctime>

namespace talvoro {

namespace {

constexpr const char* noCompositor =
    "нет связи с композитором Wayland (WAYLAND_DISPLAY) — вставка не сработает";
constexpr const char* noVirtualKeyboard = "композитор не даёт нажимать клавиши (нет протокола "
                                          "zwp_virtual_keyboard_v1) — вставка не сработает";
const std::string compositorSilent =
    std::string(wayland::compositorSilent) + " — вставка не сработает";

template <class T, void (*Free)(T*)> struct XkbDeleter {
    void operator()(T* object) const { Free(object); }
};
using XkbContext = std::unique_ptr<xkb_context, XkbDeleter<xkb_context, xkb_context_unref>>;
using XkbKeymap = std::unique_ptr<xkb_keymap, XkbDeleter<xkb_keymap, xkb_keymap_unref>>;

struct Keymap {
    UniqueFd fd;
    std::uint32_t size = 0;
    std::uint32_t controlMask = 0;
    std::uint32_t shiftMask = 0;
};

// A plain US keymap in a sealed memory file, as the protocol wants it handed over.
std::optional<Keymap> usKeymap() {
    XkbContext context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context)
        return std::nullopt;
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    XkbKeymap keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return std::nullopt;
    std::unique_ptr<char, void (*)(void*)> text(
        xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    if (!text)
        return std::nullopt;
    Keymap made;
    made.size = static_cast<std::uint32_t>(std::strlen(text.get()) + 1);
    made.fd = UniqueFd(::memfd_create("talvoro-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!made.fd || ::write(made.fd.get(), text.get(), made.size) != made.size)
        return std::nullopt;
    ::fcntl(made.fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    made.controlMask = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
    made.shiftMask = 1u << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
    return made;
}

std::uint32_t milliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

} // namespace

std::unique_ptr<PasteKeystroke> makeVirtualKeyboardKeystroke() {
    return std::make_unique<VirtualKeyboardKeystroke>();
}

VirtualKeyboardKeystroke::VirtualKeyboardKeystroke()
    : display(wayland::connect()), roundTrip(display.get()) {
    if (!display)
        throw KeystrokeUnavailable(noCompositor);
    registry = std::make_unique<wayland::Registry>(display.get(), roundTrip);
    if (registry->listed() == wayland::RoundTrip::Outcome::silent)
        throw KeystrokeUnavailable(compositorSilent);
    seat = registry->bind(wl_seat_interface, 1);
    manager = registry->bind(zwp_virtual_keyboard_manager_v1_interface, 1);
    if (!seat || !manager)
        throw KeystrokeUnavailable(noVirtualKeyboard);
    std::optional<Keymap> keymap = usKeymap();
    if (!keymap)
        throw KeystrokeUnavailable(noVirtualKeyboard);
    keyboard = wayland::adopt(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
                                  reinterpret_cast<zwp_virtual_keyboard_manager_v1*>(manager.get()),
                                  reinterpret_cast<wl_seat*>(seat.get())),
                              ZWP_VIRTUAL_KEYBOARD_V1_DESTROY);
    zwp_virtual_keyboard_v1_keymap(reinterpret_cast<zwp_virtual_keyboard_v1*>(keyboard.get()),
                                   WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, keymap->fd.get(),
                                   keymap->size);
    controlMask = keymap->controlMask;
    shiftMask = keymap->shiftMask;
    // A compositor that does not let us have a keyboard says so by ending the connection.
    const wayland::RoundTrip::Outcome made = roundTrip();
    if (made == wayland::RoundTrip::Outcome::silent)
        throw KeystrokeUnavailable(compositorSilent);
    if (made != wayland::RoundTrip::Outcome::answered)
        throw KeystrokeUnavailable(noVirtualKeyboard);
}

VirtualKeyboardKeystroke::~VirtualKeyboardKeystroke() {
    std::lock_guard guard(lock);
    keyboard.reset();
    manager.reset();
    seat.reset();
    registry.reset();
    wl_display_flush(display.get());
}

bool VirtualKeyboardKeystroke::available() {
    std::lock_guard guard(lock);
    return wl_display_get_error(display.get()) == 0;
}

void VirtualKeyboardKeystroke::press(PasteShortcut shortcut) {
    std::lock_guard guard(lock);
    if (wl_display_get_error(display.get()) != 0)
        throw Paster::Failure::eventCreationFailed();
    auto* device = reinterpret_cast<zwp_virtual_keyboard_v1*>(keyboard.get());
    const bool terminal = shortcut == PasteShortcut::shiftInsert;
    const std::uint32_t modifier = terminal ? KEY_LEFTSHIFT : KEY_LEFTCTRL;
    const std::uint32_t modifierMask = terminal ? shiftMask : controlMask;
    const std::uint32_t key = terminal ? KEY_INSERT : KEY_V;
    const std::uint32_t time = milliseconds();
    zwp_virtual_keyboard_v1_key(device, time, modifier, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_modifiers(device, modifierMask, 0, 0, 0);
    zwp_virtual_keyboard_v1_key(device, time, key, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(device, time, key, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_key(device, time, modifier, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_modifiers(device, 0, 0, 0, 0);
    const wayland::RoundTrip::Outcome sent = roundTrip();
    if (sent == wayland::RoundTrip::Outcome::silent)
        throw Paster::Failure(Paster::Failure::Code::eventCreationFailed,
                              std::string(wayland::compositorSilent) + " — Ctrl+V не нажат");
    if (sent != wayland::RoundTrip::Outcome::answered)
        throw Paster::Failure::eventCreationFailed();
}

} // namespace talvoro
