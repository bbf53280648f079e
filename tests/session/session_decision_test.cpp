#include <gtest/gtest.h>

#include "session/fake_session_sources.h"
#include "session/session_decision.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

template <class Path> std::string reason(const Duty<Path>& duty, Path path) {
    for (const auto& [other, text] : duty.passedOver)
        if (other == path)
            return text;
    return "(not passed over)";
}

SessionFacts wayland(std::string desktop, InterfaceVersions globals, bool xwayland) {
    SessionFacts facts;
    facts.kind = SessionKind::wayland;
    facts.desktop = std::move(desktop);
    facts.waylandReachable = true;
    facts.waylandGlobals = std::move(globals);
    facts.x11Reachable = xwayland;
    facts.xtest = xwayland;
    return facts;
}

const InterfaceVersions swayGlobals = {
    {"wl_seat", 7}, {"zwp_virtual_keyboard_manager_v1", 1}, {"zwlr_data_control_manager_v1", 2}};
BuiltPaths everything() {
    return {true, true, true, true, true, true, true};
}

TEST(SessionDecision, EachSessionKindGetsItsPaths) {
    struct Row {
        const char* name;
        SessionFacts facts;
        BuiltPaths built;
        HotkeyPath hotkey;
        KeystrokePath keystroke;
        ClipboardPath clipboard;
        PillPath pill;
        bool works;
    };
    SessionFacts x11;
    x11.kind = SessionKind::x11;
    x11.x11Reachable = x11.xtest = true;
    SessionFacts gnome43 = wayland("ubuntu:GNOME", {{"wl_seat", 8}}, true);
    gnome43.portalReachable = true;
    gnome43.portal = {{"RemoteDesktop", 1}, {"ScreenCast", 4}};
    SessionFacts kde = wayland("KDE",
                               {{"org_kde_kwin_fake_input", 4},
                                {"zwlr_data_control_manager_v1", 2},
                                {"ext_data_control_manager_v1", 1}},
                               true);
    kde.portalReachable = true;
    kde.portal = {{"GlobalShortcuts", 1}, {"RemoteDesktop", 2}};
    SessionFacts uinputOnly = wayland("niri", {}, false);
    uinputOnly.uinputOptIn = uinputOnly.uinputWritable = true;
    using H = HotkeyPath;
    using K = KeystrokePath;
    using C = ClipboardPath;
    using P = PillPath;
    const P xwayland = P::xwaylandAtPointerOrBottomCentre;
    const Row rows[] = {
        {"X11", x11, {}, H::x11Grab, K::xtest, C::x11Selection, P::x11AtPointer, true},
        {"sway, this build", wayland("sway", swayGlobals, true), BuiltPaths{}, H::desktopBinding,
         K::xtest, C::x11Selection, xwayland, true},
        {"sway, all built", wayland("sway", swayGlobals, true), everything(), H::desktopBinding,
         K::virtualKeyboard, C::wlrDataControl, xwayland, true},
        {"weston without XWayland", wayland("weston", {{"wl_seat", 7}}, false), everything(),
         H::desktopBinding, K::none, C::none, P::none, false},
        {"GNOME 43", gnome43, everything(), H::desktopBinding, K::remoteDesktopPortal,
         C::x11Selection, xwayland, true},
        {"KDE", kde, everything(), H::globalShortcutsPortal, K::kdeFakeInput, C::extDataControl,
         xwayland, true},
        {"data control, no way to press keys: the text waits on the clipboard",
         wayland("sway", {{"zwlr_data_control_manager_v1", 2}}, false), everything(),
         H::desktopBinding, K::none, C::wlrDataControl, P::none, true},
        {"uinput allowed, no clipboard", uinputOnly, everything(), H::desktopBinding, K::uinput,
         C::none, P::none, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SessionDecision decision = decideSession(row.facts, row.built);
        EXPECT_EQ(decision.hotkey.path, row.hotkey);
        EXPECT_EQ(decision.keystroke.path, row.keystroke);
        EXPECT_EQ(decision.clipboard.path, row.clipboard);
        EXPECT_EQ(decision.pill.path, row.pill);
        EXPECT_EQ(!decision.blocker().has_value(), row.works);
        // Every way not taken has its reason.
        EXPECT_EQ(decision.keystroke.passedOver.size() +
                      (decision.keystroke.path != KeystrokePath::none),
                  5u);
    }
}

TEST(SessionDecision, ReasonsNameWhatIsMissing) {
    const SessionDecision sway = decideSession(wayland("sway", swayGlobals, true), {});
    EXPECT_EQ(reason(sway.keystroke, KeystrokePath::virtualKeyboard),
              "в этой версии Тальворо такого пути ещё нет");
    EXPECT_EQ(reason(sway.keystroke, KeystrokePath::kdeFakeInput),
              "композитор не предлагает org_kde_kwin_fake_input (он есть в KDE Plasma)");
    EXPECT_EQ(reason(sway.hotkey, HotkeyPath::globalShortcutsPortal),
              "портал рабочего стола (xdg-desktop-portal) не отвечает");
    EXPECT_EQ(sway.keystroke.note, "через XWayland — вставит только в окна X11");
    EXPECT_NE(sway.hotkey.note.find("bindsym --release"), std::string::npos);

    const SessionDecision weston = decideSession(wayland("weston", {}, false), everything());
    EXPECT_EQ(*weston.blocker(), "вставка не сработает: нечем положить текст в буфер обмена — "
                                 "нет XWayland (DISPLAY не открывается)");
}

TEST(SessionProbe, WaylandDisplayMakesAWaylandSessionAndDisplayAloneAnX11One) {
    FakeSessionSources sources;
    sources.environment = {{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}};
    sources.globals = swayGlobals;
    sources.display = true;
    sources.portal = InterfaceVersions{{"GlobalShortcuts", 1}};
    sources.uinput = true; // not opted in: not looked at
    SessionFacts facts = probeSession(sources, Config());
    EXPECT_EQ(facts.kind, SessionKind::wayland);
    EXPECT_TRUE(facts.desktopIs("sway"));
    EXPECT_EQ(facts.waylandGlobals.at("zwp_virtual_keyboard_manager_v1"), 1u);
    EXPECT_TRUE(facts.x11Reachable && facts.portalReachable);
    EXPECT_FALSE(facts.uinputWritable);

    testing::TempDir dir;
    sources.environment = {{"DISPLAY", ":5"}};
    facts = probeSession(sources, Config::fromSources({}, {dir.write("a", "DICTATION_UINPUT=1")}));
    EXPECT_EQ(facts.kind, SessionKind::x11);
    EXPECT_TRUE(facts.waylandGlobals.empty());
    EXPECT_TRUE(facts.uinputWritable) << "opted in in the settings file";
}

} // namespace
} // namespace talvoro
