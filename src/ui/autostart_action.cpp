#include "ui/autostart_action.h"

#include <QSignalBlocker>

namespace talvoro {

QAction* makeAutostartAction(Autostart autostart, std::function<void(const std::string&)> report,
                             QObject* parent) {
    auto* action = new QAction(QStringLiteral("Запускать при входе"), parent);
    action->setCheckable(true);
    action->setChecked(autostart.isEnabled());
    QObject::connect(
        action, &QAction::toggled, action,
        [action, autostart = std::move(autostart), report = std::move(report)](bool checked) {
            try {
                if (checked)
                    autostart.enable();
                else
                    autostart.disable();
            } catch (const AutostartError& error) {
                if (report)
                    report(error.what());
            }
            const QSignalBlocker quiet(action);
            action->setChecked(autostart.isEnabled());
        });
    return action;
}

} // namespace talvoro
