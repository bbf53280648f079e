#include "insertion/kde_fake_input_keystroke.h"

#include <cstring>
#include <mutex>
#include <wayland-client.h>

#include "base/held_hotkey.h"
#include "fake-input-client-protocol.h"
#include "insertion/evdev_chord.h"
#include "insertion/paster_failure.h"
#include "session/wayland_connection.h"

namespace talvoro {

namespace {

// keyboard_key came with version 4 (Plasma 5.20); destroy with 5.
constexpr std::uint32_t keyboardVersion = 4;
constexpr std::uint32_t destroyVersion = 5;

struct DisplayClose {
    void operator()(wl_display* d) const { wl_display_disconnect(d); }
};
struct RegistryDestroy {
    void operator()(wl_registry* r) const { wl_registry_destroy(r); }
};
struct FakeInputDestroy {
    void operator()(org_kde_kwin_fake_input* f) const {
        if (org_kde_kwin_fake_input_get_version(f) >= destroyVersion)
            org_kde_kwin_fake_input_destroy(f);
        else
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(f));
    }
};

class KdeFakeInputKeystroke final : public PasteKeystroke {
public:
    KdeFakeInputKeystroke() : display(wl_display_connect(nullptr)), roundTrip(display.get()) {
        if (!display)
            throw Paster::Failure::refused(
                "нет связи с Wayland-композитором (WAYLAND_DISPLAY) — вставка через "
                "KWin не сработает");
        registry.reset(wl_display_get_registry(display.get()));
        static const wl_registry_listener listener{
            [](void* self, wl_registry* r, std::uint32_t name, const char* interface,
               std::uint32_t version) {
                static_cast<KdeFakeInputKeystroke*>(self)->announced(r, name, interface, version);
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry_add_listener(registry.get(), &listener, this);
        if (roundTrip() == wayland::RoundTrip::Outcome::silent)
            throw silent("вставка через KWin не сработает");
        if (!fakeInput)
            throw Paster::Failure::refused(
                "композитор не даёт нажимать клавиши (нет org_kde_kwin_fake_input: в "
                "org.talvoro.Talvoro.desktop нужен ключ X-KDE-Wayland-Interfaces)");
        if (org_kde_kwin_fake_input_get_version(fakeInput.get()) < keyboardVersion)
            throw Paster::Failure::refused("KWin старше Plasma 5.20 не даёт клавиатуру через "
                                           "org_kde_kwin_fake_input");
        org_kde_kwin_fake_input_authenticate(fakeInput.get(), "Тальворо",
                                             "вставка продиктованного текста (Ctrl+V)");
        if (roundTrip() == wayland::RoundTrip::Outcome::silent)
            throw silent("вставка через KWin не сработает");
    }

    bool available() override {
        std::lock_guard guard(lock);
        return wl_display_get_error(display.get()) == 0;
    }
    // KWin tells no client which keys are held, and drops our key-ups for the user's (see
    // HeldHotkey).
    void waitForKeysReleased() override {
        HeldHotkey::shared().waitForRelease(std::chrono::seconds(1));
    }

    void press(PasteShortcut shortcut) override {
        std::lock_guard guard(lock);
        for (evdev::KeyStep step : evdev::chord(shortcut))
            org_kde_kwin_fake_input_keyboard_key(fakeInput.get(), step.code, step.pressed ? 1 : 0);
        const wayland::RoundTrip::Outcome sent = roundTrip();
        if (sent == wayland::RoundTrip::Outcome::silent)
            throw silent("Ctrl+V не нажат");
        if (sent != wayland::RoundTrip::Outcome::answered)
            throw Paster::Failure::eventCreationFailed();
    }

private:
    static Paster::Failure silent(const char* consequence) {
        return Paster::Failure(Paster::Failure::Code::eventCreationFailed,
                               std::string(wayland::compositorSilent) + " — " + consequence);
    }

    void announced(wl_registry* r, std::uint32_t name, const char* interface,
                   std::uint32_t version) {
        if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) != 0)
            return;
        const std::uint32_t wanted = std::min(version, destroyVersion);
        fakeInput.reset(static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(r, name, &org_kde_kwin_fake_input_interface, wanted)));
    }

    std::mutex lock; // the display is used by one thread at a time
    std::unique_ptr<wl_display, DisplayClose> display;
    wayland::RoundTrip roundTrip;
    std::unique_ptr<wl_registry, RegistryDestroy> registry;
    std::unique_ptr<org_kde_kwin_fake_input, FakeInputDestroy> fakeInput;
};

} // namespace

std::unique_ptr<PasteKeystroke> makeKdeFakeInputKeystroke() {
    return std::make_unique<KdeFakeInputKeystroke>();
}

} // namespace talvoro
