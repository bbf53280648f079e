#pragma once

#include <QLineEdit>
#include <functional>
#include <optional>
#include <string>

#include "base/hotkey_binding.h"

class QKeyEvent;

namespace talvoro {

// A field that shows the dictation hotkey and, while it has the focus, takes the next
// combination pressed instead of typing. `judge` says why a combination cannot be had (another
// program holds it) or nothing; an accepted one goes to `onChosen`. Esc alone gives up.
class HotkeyField : public QLineEdit {
public:
    using Judge = std::function<std::optional<std::string>(const HotkeyBinding&)>;

    HotkeyField(Judge judge, std::function<void(const HotkeyBinding&)> onChosen,
                QWidget* parent = nullptr);

    void setBinding(const HotkeyBinding& binding);
    // The line under the field: the last refusal, or nothing.
    std::function<void(const std::string&)> onRefused;

    // The binding a key event names; nothing for a lone modifier or a key the syntax lacks.
    static std::optional<HotkeyBinding> bindingOf(const QKeyEvent& event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    Judge judge_;
    std::function<void(const HotkeyBinding&)> onChosen_;
    HotkeyBinding shown_;
};

} // namespace talvoro
