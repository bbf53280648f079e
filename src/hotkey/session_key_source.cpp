#include "hotkey/session_key_source.h"

#include <condition_variable>
#include <mutex>

#include "hotkey/gnome_keybindings.h"
#include "hotkey/hotkey_tap.h"
#include "hotkey/portal_key_source.h"
#include "hotkey/x11_key_source.h"
#include "session/session_probe.h"

namespace talvoro {

namespace {

// The desktop runs our commands on its own bindings; the running instance hears them through
// its command channel, so there is nothing to watch here.
class DesktopBindingKeySource : public KeyEventSource {
public:
    void open(const HotkeyBinding&) override {}

    void run(KeyEventSink&) override {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [this] { return stopped_; });
    }

    void stop() override {
        std::lock_guard guard(lock_);
        stopped_ = true;
        changed_.notify_all();
    }

    void reenable() override {}

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopped_ = false; // guarded by lock_
};

std::unique_ptr<KeyEventSource> portalKeySource(bool gnome) {
    PortalShortcut shortcut{"dictation", "Диктовка Тальворо: нажать или держать"};
    if (gnome) {
        shortcut.heldByDesktop = gnomeKeybindings::heldByDesktop;
        shortcut.checkedFromNewSession = false;
    }
    return makePortalKeySource(std::move(shortcut));
}

} // namespace

std::unique_ptr<KeyEventSource> makeDesktopBindingKeySource() {
    return std::make_unique<DesktopBindingKeySource>();
}

std::unique_ptr<KeyEventSource> makeSessionKeySource(bool desktopWide) {
    const SystemSession& session = systemSession();
    if (session.facts.kind != SessionKind::wayland)
        return makeX11KeySource(); // it says itself why the display cannot be watched
    switch (session.decision.hotkey.path) {
    case HotkeyPath::x11Grab:
        return makeX11KeySource();
    case HotkeyPath::globalShortcutsPortal:
        if (desktopWide)
            return portalKeySource(session.facts.desktopIs("GNOME"));
        break;
    case HotkeyPath::desktopBinding:
        break;
    }
    return makeDesktopBindingKeySource();
}

bool sessionKeysReachable() {
    const SystemSession& session = systemSession();
    if (session.facts.kind == SessionKind::wayland &&
        session.decision.hotkey.path != HotkeyPath::x11Grab)
        return true;
    return x11DisplayReachable();
}

} // namespace talvoro
