#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/hotkey_binding.h"
#include "hotkey/key_event_source.h"

namespace talvoro {

// One shortcut as the desktop lists it: a stable id (the desktop remembers the user's choice
// under it) and what it does, in the user's words.
struct PortalShortcut {
    std::string id;
    std::string description;
    // Whether the desktop keeps the binding for itself, so that a shortcut bound to it would
    // never fire; such a binding is not offered (open() throws HotkeyTap::Failure::conflict).
    std::function<bool(const HotkeyBinding&)> heldByDesktop = {};
    // Whether a binding is checked from a new session. KDE Plasma answers a binding with the
    // preferred trigger even when another program holds the keys, and only a new session shows
    // it without keys; GNOME's new session lists nothing, and closing the one that bound the
    // shortcut lets its keys go.
    bool checkedFromNewSession = true;
};

// The binding through the desktop's GlobalShortcuts portal: the shortcut is bound once (with
// the binding as the preferred trigger; the desktop may ask the user and may choose another),
// and later runs find it bound. Activated is the key-down, Deactivated the key-up. open() throws
// HotkeyTap::Failure with the portal's refusal in words.
std::unique_ptr<KeyEventSource> makePortalKeySource(PortalShortcut shortcut);

// The binding as a trigger in the XDG shortcuts syntax: "ALT+space", "CTRL+SHIFT+v"; empty when
// the key has no name.
std::string portalTrigger(const HotkeyBinding& binding);

} // namespace talvoro
