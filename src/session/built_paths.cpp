#include "session/session_decision.h"

namespace talvoro {

// Every Wayland way this build can make; the factories are in the hotkey and insertion folders.
BuiltPaths builtPaths() {
    BuiltPaths built;
    built.globalShortcutsPortal = true;
    built.virtualKeyboard = true;
    built.kdeFakeInput = true;
    built.remoteDesktopPortal = true;
    built.uinput = true;
    built.extDataControl = true;
    built.wlrDataControl = true;
    return built;
}

} // namespace talvoro
