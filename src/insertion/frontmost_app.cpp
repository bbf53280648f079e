#include "insertion/frontmost_app.h"

#include <QString>

#include <algorithm>
#include <array>
#include <string_view>

namespace talvoro {

bool namesTerminal(const std::string& name) {
    static const std::array<std::string_view, 12> terminals{
        "kitty", "alacritty", "konsole",    "xterm",   "urxvt", "rxvt",
        "st",    "tilix",     "terminator", "yakuake", "foot",  "footclient"};
    const std::string lowered = QString::fromStdString(name).toLower().toStdString();
    if (lowered.find("terminal") != std::string::npos)
        return true;
    // st names its window after its terminal type: "st-256color".
    const std::string base = lowered.substr(0, lowered.find('-'));
    return std::find(terminals.begin(), terminals.end(), base) != terminals.end();
}

bool FrontmostApp::isTerminal() const {
    return namesTerminal(windowInstance) || namesTerminal(windowClass);
}

} // namespace talvoro
