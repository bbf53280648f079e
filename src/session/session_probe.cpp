#include "session/session_probe.h"

#include <optional>

namespace talvoro {

bool SessionFacts::desktopIs(const std::string& name) const {
    std::size_t at = 0;
    while (at <= desktop.size()) {
        const std::size_t end = std::min(desktop.find(':', at), desktop.size());
        if (desktop.compare(at, end - at, name) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

SessionFacts probeSession(SessionSources& sources, const Config& settings) {
    SessionFacts facts;
    facts.desktop = sources.env("XDG_CURRENT_DESKTOP").value_or("");
    const std::string type = sources.env("XDG_SESSION_TYPE").value_or("");
    if (sources.env("WAYLAND_DISPLAY") || type == "wayland") {
        facts.kind = SessionKind::wayland;
        if (auto globals = sources.waylandGlobals()) {
            facts.waylandReachable = true;
            facts.waylandGlobals = std::move(*globals);
        }
    }
    if (auto xtest = sources.x11Display()) {
        facts.x11Reachable = true;
        facts.xtest = *xtest;
        if (facts.kind == SessionKind::none)
            facts.kind = SessionKind::x11;
    } else if (facts.kind == SessionKind::none && type == "x11") {
        facts.kind = SessionKind::x11;
    }
    if (auto portal = sources.portalInterfaces()) {
        facts.portalReachable = true;
        facts.portal = std::move(*portal);
    }
    facts.atspi = sources.atspiBus();
    facts.uinputOptIn = settings.uinputKeyboard;
    facts.uinputWritable = facts.uinputOptIn && sources.uinputWritable();
    return facts;
}

namespace {

std::optional<Config>& givenSettings() {
    static std::optional<Config> settings;
    return settings;
}

} // namespace

void useSessionSettings(const Config& settings) {
    givenSettings() = settings;
}

const SystemSession& systemSession() {
    static const SystemSession session = [] {
        SystemSession made;
        const std::optional<Config>& given = givenSettings();
        made.facts =
            probeSession(*makeSystemSessionSources(), given ? *given : Config::load(std::nullopt));
        made.decision = decideSession(made.facts);
        return made;
    }();
    return session;
}

} // namespace talvoro
