// `talvoro doctor` in real sessions: an Xvfb, and headless sway, weston, KWin and mutter run as
// an ordinary user, each saying what it offers and which way each duty takes.
#include <gtest/gtest.h>

#include "support/headless_compositor.h"
#include "support/run_program.h"
#include "support/xvfb_server.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;

void expectLines(const std::string& output, const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n--- in:\n" << output;
}

TEST(Doctor, UnderX11EverythingGoesThroughTheXServer) {
    XvfbServer xvfb;
    if (!xvfb.running())
        GTEST_SKIP() << "needs Xvfb";
    const ProgramResult r = runProgram("env -u WAYLAND_DISPLAY XDG_SESSION_TYPE=x11 "
                                       "DBUS_SESSION_BUS_ADDRESS=disabled: " +
                                       talvoroExecutable() + " doctor 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    expectLines(r.output, {"сеанс: X11\n", "портал: не отвечает\n", "хоткей: перехват X11\n",
                           "нажатие вставки: XTest\n", "буфер обмена: выделение X11\n",
                           "пилюля: X11, у указателя\n", "\nдиктовка работает\n"});
}

struct Session {
    const char* name;
    HeadlessCompositor::Kind kind;
    bool xwayland;
    bool sessionBus; // with one, the real xdg-desktop-portal answers with what it has
    int status;      // doctor's own
};

struct WaylandCase {
    Session session;
    std::vector<std::string> lines;
};

TEST(Doctor, InWaylandSessionsSaysWhatTheCompositorOffersAndWhichWayEachDutyTakes) {
    using Kind = HeadlessCompositor::Kind;
    const std::string viaXWayland =
        "нажатие вставки: XTest — через XWayland — вставит только в окна X11\n";
    const std::string desktopKeys = "хоткей: сочетание рабочего стола → talvoro start/stop/toggle";
    const WaylandCase cases[] = {
        {{"sway", Kind::Sway, true, true, 0},
         {"сеанс: Wayland (sway), XWayland: есть\n",
          "нужные нам: zwp_virtual_keyboard_manager_v1 v1, zwlr_data_control_manager_v1 v2\n",
          "  не портал GlobalShortcuts: портал не предлагает GlobalShortcuts (он есть в KDE "
          "Plasma 5.27+, GNOME 48+, Hyprland)\n",
          desktopKeys + " — в конфиге sway: bindsym Mod1+space exec talvoro start и bindsym "
                        "--release Mod1+space exec talvoro stop\n",
          "  не перехват X11: в сеансе Wayland перехват через XWayland видит клавиши, только пока "
          "в фокусе окно X11\n",
          "нажатие вставки: zwp_virtual_keyboard_v1\n",
          "  не XTest: тоже есть, но выбран путь zwp_virtual_keyboard_v1\n",
          "буфер обмена: wlr-data-control\n",
          "  не выделение X11: тоже есть, но выбран путь wlr-data-control\n",
          "пилюля: XWayland, у указателя или внизу по центру\n", "\nдиктовка работает\n"}},
        {{"weston", Kind::Weston, true, false, 0},
         {"сеанс: Wayland (weston), XWayland: есть\n", viaXWayland, desktopKeys,
          "  не zwp_virtual_keyboard_v1: композитор не предлагает zwp_virtual_keyboard_v1 (он "
          "есть в sway и Hyprland)\n",
          "  не wlr-data-control: композитор не предлагает wlr-data-control (он есть в sway, "
          "Hyprland, KDE Plasma)\n"}},
        {{"KWin", Kind::KWin, true, false, 0},
         {"сеанс: Wayland (KDE), XWayland: есть\n", viaXWayland,
          desktopKeys + " — назначь в настройках рабочего стола сочетание, запускающее talvoro "
                        "toggle\n",
          "  не org_kde_kwin_fake_input: KWin не выдал org_kde_kwin_fake_input этой программе "
          "(выдаёт только тем, у кого в ярлыке есть X-KDE-Wayland-Interfaces)\n",
          "буфер обмена: wlr-data-control\n"}},
        {{"mutter", Kind::Mutter, true, false, 0},
         {"сеанс: Wayland (GNOME), XWayland: есть\n", viaXWayland,
          desktopKeys + " — назначь сочетание пунктом меню «Назначить сочетание в GNOME»\n",
          "  не ext-data-control: композитор не предлагает ext-data-control-v1 (он есть в KDE "
          "Plasma 6.5+ и новых wlroots)\n"}},
        {{"weston without XWayland", Kind::Weston, false, false, 1},
         {"сеанс: Wayland (weston), XWayland: нет\n", "нажатие вставки: нет\n", "пилюля: нет\n",
          "ДИКТОВКА НЕ РАБОТАЕТ: вставка не сработает: нечем положить текст в буфер обмена — "
          "нет XWayland (DISPLAY не открывается)\n"}},
    };
    for (const auto& [session, lines] : cases) {
        SCOPED_TRACE(session.name);
        HeadlessCompositor::Options options;
        options.xwayland = session.xwayland;
        options.sessionBus = session.sessionBus;
        HeadlessCompositor compositor(session.kind, options);
        if (!compositor.running()) {
            std::printf("skipped %s: %s\n", session.name, compositor.skipReason().c_str());
            continue;
        }
        std::map<std::string, std::string> bus;
        if (!session.sessionBus)
            bus["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
        const auto r = compositor.run({talvoroExecutable(), "doctor"}, bus);
        EXPECT_EQ(r.status, session.status) << r.output;
        expectLines(r.output, lines);
    }
}

} // namespace
} // namespace talvoro
