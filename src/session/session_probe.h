#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/config.h"
#include "session/session_decision.h"
#include "session/session_facts.h"

namespace talvoro {

using InterfaceVersions = std::map<std::string, std::uint32_t>;

// The desktop as the probe asks it; the system one talks to the compositor, the X server and
// the session bus, a fake answers from a table.
class SessionSources {
public:
    virtual ~SessionSources() = default;
    virtual std::optional<std::string> env(const std::string& name) = 0;
    // One registry round trip; nothing when no compositor answers.
    virtual std::optional<InterfaceVersions> waylandGlobals() = 0;
    // Nothing when DISPLAY does not open; else whether it has XTEST.
    virtual std::optional<bool> x11Display() = 0;
    // Keys as in SessionFacts::portal; nothing when the portal does not answer.
    virtual std::optional<InterfaceVersions> portalInterfaces() = 0;
    virtual bool atspiBus() = 0;
    virtual bool uinputWritable() = 0;
};

// `settings` says what the user allowed (DICTATION_UINPUT).
SessionFacts probeSession(SessionSources& sources, const Config& settings);

// Needs the Qt application object (the session bus goes through QtDBus).
std::unique_ptr<SessionSources> makeSystemSessionSources();

// This process's session, probed once on first use: the decision every factory follows.
struct SystemSession {
    SessionFacts facts;
    SessionDecision decision;
};
const SystemSession& systemSession();
// The settings the program runs with, for the probe; given before the first systemSession().
// Without them the probe reads the environment and the usual settings files itself.
void useSessionSettings(const Config& settings);

// Whether a Wayland session is to be served through XWayland: the pill can only place itself
// there. Reads the environment and tries DISPLAY, so it works before Qt starts.
bool preferXWayland();

} // namespace talvoro
