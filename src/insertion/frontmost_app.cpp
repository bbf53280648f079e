#include "insertion/frontmost_app.h"

#include <QString>

#include <array>
#include <string_view>

namespace talvoro {

bool FrontmostApp::isTerminal() const {
    static const std::array<std::string_view, 12> terminals{
        "kitty", "alacritty", "konsole",    "xterm",   "urxvt", "rxvt",
        "st",    "tilix",     "terminator", "yakuake", "foot",  "footclient"};
    for (const std::string& part : {windowInstance, windowClass}) {
        const std::string name = QString::fromStdString(part).toLower().toStdString();
        if (name.find("terminal") != std::string::npos)
            return true;
        // st names its window after its terminal type: "st-256color".
        const std::string base = name.substr(0, name.find('-'));
        for (std::string_view terminal : terminals)
            if (base == terminal)
                return true;
    }
    return false;
}

} // namespace talvoro
