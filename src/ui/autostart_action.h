#pragma once

#include <QAction>
#include <functional>
#include <string>

#include "ui/autostart.h"

namespace talvoro {

// The tray menu's checkable item "Запускать при входе" over that entry. It is checked when the
// entry is there and on; ticking enables it and unticking disables it. A failure goes to report
// (its sentence for the user), and the tick then follows the file again. The menu, rebuilt on
// every opening, makes a fresh one each time, so the tick shows changes made elsewhere too.
QAction* makeAutostartAction(Autostart autostart, std::function<void(const std::string&)> report,
                             QObject* parent);

} // namespace talvoro
