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
