#include "ui/hotkey_field.h"

#include <QKeyEvent>

#include "base/key_table.h"

namespace talvoro {

namespace {

// Qt's own codes of the keys whose X keysym differs from them (Latin-1 keys share theirs).
std::optional<std::uint32_t> keysymOfQtKey(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return 0xffbe + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape:
        return 0xff1b;
    case Qt::Key_Tab:
        return 0xff09;
    case Qt::Key_Backspace:
        return 0xff08;
    case Qt::Key_Return:
        return 0xff0d;
    case Qt::Key_Enter:
        return 0xff8d;
    case Qt::Key_Insert:
        return 0xff63;
    case Qt::Key_Delete:
        return 0xffff;
    case Qt::Key_Home:
        return 0xff50;
    case Qt::Key_End:
        return 0xff57;
    case Qt::Key_Left:
        return 0xff51;
    case Qt::Key_Up:
        return 0xff52;
    case Qt::Key_Right:
        return 0xff53;
    case Qt::Key_Down:
        return 0xff54;
    case Qt::Key_PageUp:
        return 0xff55;
    case Qt::Key_PageDown:
        return 0xff56;
    case Qt::Key_Pause:
        return 0xff13;
    case Qt::Key_Print:
        return 0xff61;
    default:
        break;
    }
    if (key > 0 && key < 0x100)
        return key >= 'A' && key <= 'Z' ? key + ('a' - 'A') : key;
    return std::nullopt;
}

std::optional<std::uint16_t> codeOfKeysym(std::uint32_t keysym) {
    if (keysym >= 'A' && keysym <= 'Z')
        keysym += 'a' - 'A';
    for (const KeyInfo& info : keyTable())
        if (info.keysym == keysym)
            return info.code;
    return std::nullopt;
}

bool isModifier(int key) {
    return key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Shift ||
           key == Qt::Key_Meta || key == Qt::Key_Super_L || key == Qt::Key_Super_R ||
           key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_NumLock;
}

} // namespace

HotkeyField::HotkeyField(Judge judge, std::function<void(const HotkeyBinding&)> onChosen,
                         QWidget* parent)
    : QLineEdit(parent), judge_(std::move(judge)), onChosen_(std::move(onChosen)) {
    setReadOnly(true);
    setPlaceholderText("нажми сочетание…");
}

void HotkeyField::setBinding(const HotkeyBinding& binding) {
    shown_ = binding;
    setText(hasFocus() ? QString() : QString::fromStdString(binding.description()));
}

std::optional<HotkeyBinding> HotkeyField::bindingOf(const QKeyEvent& event) {
    if (isModifier(event.key()))
        return std::nullopt;
    // The X keysym when the event came from X; a synthetic one has only Qt's key.
    std::optional<std::uint16_t> code;
    if (event.nativeVirtualKey() != 0)
        code = codeOfKeysym(event.nativeVirtualKey());
    if (!code)
        if (const auto keysym = keysymOfQtKey(event.key()))
            code = codeOfKeysym(*keysym);
    if (!code)
        return std::nullopt;
    std::uint64_t flags = 0;
    const Qt::KeyboardModifiers held = event.modifiers();
    if (held & Qt::ControlModifier)
        flags |= HotkeyBinding::control;
    if (held & Qt::AltModifier)
        flags |= HotkeyBinding::option;
    if (held & Qt::ShiftModifier)
        flags |= HotkeyBinding::shift;
    if (held & Qt::MetaModifier)
        flags |= HotkeyBinding::command;
    return HotkeyBinding(*code, flags);
}

void HotkeyField::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        clearFocus();
        return;
    }
    if (isModifier(event->key()))
        return;
    const std::optional<HotkeyBinding> binding = bindingOf(*event);
    if (!binding) {
        if (onRefused)
            onRefused("эту клавишу хоткеем не задать — выбери другую");
        return;
    }
    if (const auto refusal = judge_ ? judge_(*binding) : std::nullopt) {
        if (onRefused)
            onRefused(*refusal);
        return;
    }
    if (onRefused)
        onRefused("");
    shown_ = *binding;
    setText(QString::fromStdString(binding->description()));
    clearFocus();
    if (onChosen_)
        onChosen_(*binding);
}

void HotkeyField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // The window coming back to the front is not the user asking for a new combination.
    if (event->reason() != Qt::ActiveWindowFocusReason)
        setText({});
}

void HotkeyField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    setText(QString::fromStdString(shown_.description()));
}

} // namespace talvoro
