#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/session_facts.h"

namespace talvoro {

// How the hotkey arrives.
enum class HotkeyPath { x11Grab, globalShortcutsPortal, desktopBinding };
// How the paste chord is sent.
enum class KeystrokePath {
    xtest,
    virtualKeyboard,
    kdeFakeInput,
    remoteDesktopPortal,
    uinput,
    none
};
// How the clipboard is read, offered and given back.
enum class ClipboardPath { x11Selection, extDataControl, wlrDataControl, none };
// Where the pill goes.
enum class PillPath { x11AtPointer, xwaylandAtPointerOrBottomCentre, none };

// The ways that exist in this build; a path the session offers but the build lacks is passed
// over with its own reason.
struct BuiltPaths {
    bool globalShortcutsPortal = false;
    bool virtualKeyboard = false;
    bool kdeFakeInput = false;
    bool remoteDesktopPortal = false;
    bool uinput = false;
    bool extDataControl = false;
    bool wlrDataControl = false;
};
BuiltPaths builtPaths();

template <class Path> struct Duty {
    Path path{};
    std::string note; // what the chosen path means for the user, may be empty
    std::vector<std::pair<Path, std::string>> passedOver; // each other path and why not
};

struct SessionDecision {
    Duty<HotkeyPath> hotkey;
    Duty<KeystrokePath> keystroke;
    Duty<ClipboardPath> clipboard;
    Duty<PillPath> pill;
    bool wayland = false;

    // Why dictation cannot put text anywhere; nothing when it can. In a Wayland session a text
    // that no keystroke can paste still waits on the clipboard for the user's Ctrl+V.
    std::optional<std::string> blocker() const;
};

SessionDecision decideSession(const SessionFacts& facts, const BuiltPaths& built = builtPaths());

// Names as the user reads them in `doctor` and the menu.
std::string pathName(HotkeyPath path);
std::string pathName(KeystrokePath path);
std::string pathName(ClipboardPath path);
std::string pathName(PillPath path);

} // namespace talvoro
