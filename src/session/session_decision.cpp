#include "session/session_decision.h"

namespace talvoro {

namespace {

using Reason = std::optional<std::string>; // why a path cannot serve; nothing when it can

template <class Path> struct Candidate {
    Path path;
    Reason unusable;
};

// The first usable candidate wins; every other one is listed with its reason.
template <class Path>
Duty<Path> choose(const std::vector<Candidate<Path>>& candidates, Path fallback) {
    Duty<Path> duty;
    duty.path = fallback;
    bool chosen = false;
    for (const auto& candidate : candidates) {
        if (!chosen && !candidate.unusable) {
            duty.path = candidate.path;
            chosen = true;
        }
    }
    for (const auto& candidate : candidates) {
        if (chosen && candidate.path == duty.path)
            continue;
        duty.passedOver.emplace_back(candidate.path,
                                     candidate.unusable
                                         ? *candidate.unusable
                                         : "тоже есть, но выбран путь " + pathName(duty.path));
    }
    return duty;
}

const std::string notBuilt = "в этой версии Тальворо такого пути ещё нет";
const std::string waylandOnly = "это путь для сеанса Wayland";

bool has(const std::map<std::string, std::uint32_t>& offered, const std::string& name) {
    return offered.count(name) != 0;
}

Reason portalLacks(const SessionFacts& facts, const std::string& interface,
                   const std::string& whereItIs) {
    if (!facts.portalReachable)
        return "портал рабочего стола (xdg-desktop-portal) не отвечает";
    if (!has(facts.portal, interface))
        return "портал не предлагает " + interface + " (" + whereItIs + ")";
    return std::nullopt;
}

Reason compositorLacks(const SessionFacts& facts, const std::string& global,
                       const std::string& protocol, const std::string& whereItIs) {
    if (facts.kind != SessionKind::wayland)
        return waylandOnly;
    if (!has(facts.waylandGlobals, global))
        return "композитор не предлагает " + protocol + " (" + whereItIs + ")";
    return std::nullopt;
}

// KWin offers it only to programs whose desktop entry asks for it.
Reason kdeFakeInputLacks(const SessionFacts& facts) {
    const Reason lacks = compositorLacks(facts, "org_kde_kwin_fake_input",
                                         "org_kde_kwin_fake_input", "он есть в KDE Plasma");
    if (lacks && facts.kind == SessionKind::wayland && facts.desktopIs("KDE"))
        return "KWin не выдал org_kde_kwin_fake_input этой программе (выдаёт только тем, у кого "
               "в ярлыке есть X-KDE-Wayland-Interfaces)";
    return lacks;
}

Reason unlessBuilt(Reason reason, bool built) {
    if (!reason && !built)
        return notBuilt;
    return reason;
}

Reason noX11(const SessionFacts& facts) {
    if (facts.x11Reachable)
        return std::nullopt;
    return facts.kind == SessionKind::wayland ? "нет XWayland (DISPLAY не открывается)"
                                              : "нет связи с X-сервером (DISPLAY)";
}

Duty<HotkeyPath> decideHotkey(const SessionFacts& facts, const BuiltPaths& built) {
    Reason grab = noX11(facts);
    if (!grab && facts.kind == SessionKind::wayland)
        grab = "в сеансе Wayland перехват через XWayland видит клавиши, только пока в фокусе окно "
               "X11";
    Reason portal =
        facts.kind == SessionKind::wayland
            ? unlessBuilt(portalLacks(facts, "GlobalShortcuts",
                                      "он есть в KDE Plasma 5.27+, GNOME 48+, Hyprland"),
                          built.globalShortcutsPortal)
            : waylandOnly;
    Duty<HotkeyPath> duty = choose<HotkeyPath>({{HotkeyPath::x11Grab, grab},
                                                {HotkeyPath::globalShortcutsPortal, portal},
                                                {HotkeyPath::desktopBinding, std::nullopt}},
                                               HotkeyPath::desktopBinding);
    if (duty.path != HotkeyPath::desktopBinding)
        return duty;
    if (facts.desktopIs("GNOME"))
        duty.note = "назначь сочетание пунктом меню «Назначить сочетание в GNOME»";
    else if (facts.desktopIs("sway"))
        duty.note = "в конфиге sway: bindsym Mod1+space exec talvoro start и bindsym --release "
                    "Mod1+space exec talvoro stop";
    else if (facts.desktopIs("Hyprland"))
        duty.note = "в конфиге Hyprland: bind = ALT, space, exec, talvoro start и bindr = ALT, "
                    "space, exec, talvoro stop";
    else
        duty.note = "назначь в настройках рабочего стола сочетание, запускающее talvoro toggle";
    return duty;
}

Duty<KeystrokePath> decideKeystroke(const SessionFacts& facts, const BuiltPaths& built) {
    const bool wayland = facts.kind == SessionKind::wayland;
    Reason uinput = !wayland ? waylandOnly
                    : !facts.uinputOptIn
                        ? Reason("виртуальная клавиатура uinput не включена (DICTATION_UINPUT=1)")
                    : !facts.uinputWritable
                        ? Reason("нет права писать в /dev/uinput — его даёт группа talvoro-uinput")
                        : std::nullopt;
    Reason xtest = noX11(facts);
    if (!xtest && !facts.xtest)
        xtest = "X-сервер не даёт нажимать клавиши (нет расширения XTEST)";
    Duty<KeystrokePath> duty = choose<KeystrokePath>(
        {{KeystrokePath::virtualKeyboard,
          unlessBuilt(compositorLacks(facts, "zwp_virtual_keyboard_manager_v1",
                                      "zwp_virtual_keyboard_v1", "он есть в sway и Hyprland"),
                      built.virtualKeyboard)},
         {KeystrokePath::kdeFakeInput, unlessBuilt(kdeFakeInputLacks(facts), built.kdeFakeInput)},
         {KeystrokePath::remoteDesktopPortal,
          wayland ? unlessBuilt(portalLacks(facts, "RemoteDesktop", "он есть в GNOME и KDE Plasma"),
                                built.remoteDesktopPortal)
                  : waylandOnly},
         {KeystrokePath::uinput, unlessBuilt(uinput, built.uinput)},
         {KeystrokePath::xtest, xtest}},
        KeystrokePath::none);
    if (wayland && duty.path == KeystrokePath::xtest)
        duty.note = "через XWayland — вставит только в окна X11";
    return duty;
}

Duty<ClipboardPath> decideClipboard(const SessionFacts& facts, const BuiltPaths& built) {
    Duty<ClipboardPath> duty = choose<ClipboardPath>(
        {{ClipboardPath::extDataControl,
          unlessBuilt(compositorLacks(facts, "ext_data_control_manager_v1", "ext-data-control-v1",
                                      "он есть в KDE Plasma 6.5+ и новых wlroots"),
                      built.extDataControl)},
         {ClipboardPath::wlrDataControl,
          unlessBuilt(compositorLacks(facts, "zwlr_data_control_manager_v1", "wlr-data-control",
                                      "он есть в sway, Hyprland, KDE Plasma"),
                      built.wlrDataControl)},
         {ClipboardPath::x11Selection, noX11(facts)}},
        ClipboardPath::none);
    if (facts.kind == SessionKind::wayland && duty.path == ClipboardPath::x11Selection)
        duty.note = "через XWayland — надёжно только для окон X11";
    return duty;
}

Duty<PillPath> decidePill(const SessionFacts& facts) {
    const bool wayland = facts.kind == SessionKind::wayland;
    const Reason x11 = noX11(facts);
    return choose<PillPath>(
        {{PillPath::x11AtPointer, wayland ? Reason("в сеансе Wayland указатель над окнами Wayland "
                                                   "не виден")
                                          : x11},
         {PillPath::xwaylandAtPointerOrBottomCentre, wayland ? x11 : Reason(waylandOnly)}},
        PillPath::none);
}

} // namespace

std::optional<std::string> SessionDecision::blocker() const {
    auto reasonOf = [](const auto& duty, auto path) {
        for (const auto& [other, reason] : duty.passedOver)
            if (other == path)
                return reason;
        return std::string();
    };
    if (clipboard.path == ClipboardPath::none)
        return "вставка не сработает: нечем положить текст в буфер обмена — " +
               reasonOf(clipboard, ClipboardPath::x11Selection);
    if (keystroke.path == KeystrokePath::none && !wayland)
        return "вставка не сработает: нечем нажать Ctrl+V — " +
               reasonOf(keystroke, KeystrokePath::xtest);
    return std::nullopt;
}

SessionDecision decideSession(const SessionFacts& facts, const BuiltPaths& built) {
    SessionDecision decision{decideHotkey(facts, built), decideKeystroke(facts, built),
                             decideClipboard(facts, built), decidePill(facts),
                             facts.kind == SessionKind::wayland};
    if (decision.wayland && decision.keystroke.path == KeystrokePath::none &&
        decision.clipboard.path != ClipboardPath::none)
        decision.keystroke.note = "текст останется в буфере для Ctrl+V";
    return decision;
}

std::string pathName(HotkeyPath path) {
    switch (path) {
    case HotkeyPath::x11Grab:
        return "перехват X11";
    case HotkeyPath::globalShortcutsPortal:
        return "портал GlobalShortcuts";
    case HotkeyPath::desktopBinding:
        return "сочетание рабочего стола → talvoro start/stop/toggle";
    }
    return {};
}

std::string pathName(KeystrokePath path) {
    switch (path) {
    case KeystrokePath::xtest:
        return "XTest";
    case KeystrokePath::virtualKeyboard:
        return "zwp_virtual_keyboard_v1";
    case KeystrokePath::kdeFakeInput:
        return "org_kde_kwin_fake_input";
    case KeystrokePath::remoteDesktopPortal:
        return "портал RemoteDesktop";
    case KeystrokePath::uinput:
        return "uinput";
    case KeystrokePath::none:
        return "нет";
    }
    return {};
}

std::string pathName(ClipboardPath path) {
    switch (path) {
    case ClipboardPath::x11Selection:
        return "выделение X11";
    case ClipboardPath::extDataControl:
        return "ext-data-control";
    case ClipboardPath::wlrDataControl:
        return "wlr-data-control";
    case ClipboardPath::none:
        return "нет";
    }
    return {};
}

std::string pathName(PillPath path) {
    switch (path) {
    case PillPath::x11AtPointer:
        return "X11, у указателя";
    case PillPath::xwaylandAtPointerOrBottomCentre:
        return "XWayland, у указателя или внизу по центру";
    case PillPath::none:
        return "нет";
    }
    return {};
}

} // namespace talvoro
