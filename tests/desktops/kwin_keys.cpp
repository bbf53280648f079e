// A keyboard in a KWin session through KWin's fake input (the test's own desktop entry authorises
// it), lasting while its standard input is open: each line holds steps +CODE (down) or -CODE (up)
// in Linux input key codes, and "ok" answers once KWin has them. KWin lets go of the keys of a
// client that leaves, so a held key needs a keyboard that stays. Exit 1 without fake input.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return std::puts("no Wayland display"), 1;
    org_kde_kwin_fake_input* input = nullptr;
    static const wl_registry_listener listener{
        [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
            if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
                *static_cast<org_kde_kwin_fake_input**>(data) =
                    static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
                        registry, name, &org_kde_kwin_fake_input_interface, std::min(version, 4u)));
        },
        [](void*, wl_registry*, std::uint32_t) {}};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, &input);
    wl_display_roundtrip(display);
    if (!input)
        return std::puts("KWin gives this program no org_kde_kwin_fake_input"), 1;
    org_kde_kwin_fake_input_authenticate(input, "talvoro desktop test", "keys of the test");
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream steps(line);
        for (std::string step; steps >> step;)
            org_kde_kwin_fake_input_keyboard_key(input, std::stoul(step.substr(1)), step[0] == '+');
        if (wl_display_roundtrip(display) < 0)
            return std::puts("KWin closed the connection"), 1;
        std::cout << "ok" << std::endl;
    }
    wl_display_disconnect(display);
    return 0;
}
