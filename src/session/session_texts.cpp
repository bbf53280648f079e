#include "session/session_texts.h"

namespace talvoro {

namespace {

// The globals a path of ours looks for, in the order doctor lists them.
const char* const knownGlobals[] = {"zwp_virtual_keyboard_manager_v1", "org_kde_kwin_fake_input",
                                    "ext_data_control_manager_v1", "zwlr_data_control_manager_v1"};

std::string yesNo(bool present) {
    return present ? "есть" : "нет";
}

std::string sessionLine(const SessionFacts& facts) {
    switch (facts.kind) {
    case SessionKind::x11:
        return "сеанс: X11" + (facts.desktop.empty() ? "" : " (" + facts.desktop + ")");
    case SessionKind::wayland:
        return "сеанс: Wayland" + (facts.desktop.empty() ? "" : " (" + facts.desktop + ")") +
               (facts.waylandReachable ? "" : ", композитор не отвечает") +
               ", XWayland: " + yesNo(facts.x11Reachable);
    case SessionKind::none:
        break;
    }
    return "сеанс: ни X11, ни Wayland (нет DISPLAY и WAYLAND_DISPLAY)";
}

template <class Path>
void addDuty(std::vector<std::string>& lines, const std::string& title, const Duty<Path>& duty) {
    lines.push_back(title + ": " + pathName(duty.path) +
                    (duty.note.empty() ? "" : " — " + duty.note));
    for (const auto& [path, reason] : duty.passedOver)
        lines.push_back("  не " + pathName(path) + ": " + reason);
}

} // namespace

std::string decisionLine(const SessionDecision& decision) {
    return "Хоткей: " + pathName(decision.hotkey.path) +
           " · вставка: " + pathName(decision.keystroke.path) +
           " · буфер: " + pathName(decision.clipboard.path);
}

std::vector<std::string> doctorLines(const SessionFacts& facts, const SessionDecision& decision) {
    std::vector<std::string> lines = {sessionLine(facts)};
    if (facts.waylandReachable) {
        std::string offered;
        for (const char* global : knownGlobals)
            if (auto found = facts.waylandGlobals.find(global); found != facts.waylandGlobals.end())
                offered += (offered.empty() ? "" : ", ") + found->first + " v" +
                           std::to_string(found->second);
        lines.push_back("композитор: " + std::to_string(facts.waylandGlobals.size()) +
                        " интерфейсов" + (offered.empty() ? "" : "; нужные нам: " + offered));
    }
    std::string portal = facts.portalReachable ? "" : "не отвечает";
    for (const auto& [interface, version] : facts.portal)
        portal += (portal.empty() ? "" : ", ") + interface + " " + std::to_string(version);
    lines.push_back("портал: " + (portal.empty() ? "без интерфейсов" : portal));
    lines.push_back("AT-SPI: " + yesNo(facts.atspi));
    lines.push_back("");
    addDuty(lines, "хоткей", decision.hotkey);
    addDuty(lines, "нажатие вставки", decision.keystroke);
    addDuty(lines, "буфер обмена", decision.clipboard);
    addDuty(lines, "пилюля", decision.pill);
    lines.push_back("");
    lines.push_back(decision.blocker() ? "ДИКТОВКА НЕ РАБОТАЕТ: " + *decision.blocker()
                                       : "диктовка работает");
    return lines;
}

} // namespace talvoro
