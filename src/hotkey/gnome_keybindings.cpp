#include "hotkey/gnome_keybindings.h"

#include <QProcess>
#include <QRegularExpression>

#include "hotkey/x11_key_symbols.h"

namespace talvoro::gnomeKeybindings {

namespace {

// A GTK accelerator's modifiers as binding flags, and its key; nothing when a modifier is unknown.
std::optional<std::pair<std::uint64_t, QString>> parsed(const QString& accelerator) {
    static const QRegularExpression modifier("<([^>]*)>");
    std::uint64_t flags = 0;
    for (const auto& match : modifier.globalMatch(accelerator)) {
        const QString name = match.captured(1).toLower();
        if (name == "control" || name == "ctrl" || name == "primary")
            flags |= HotkeyBinding::control;
        else if (name == "alt" || name == "mod1")
            flags |= HotkeyBinding::option;
        else if (name == "shift")
            flags |= HotkeyBinding::shift;
        else if (name == "super" || name == "mod4")
            flags |= HotkeyBinding::command;
        else
            return std::nullopt;
    }
    return std::pair{flags, accelerator.section('>', -1).toLower()};
}

} // namespace

bool holds(const std::string& listing, const HotkeyBinding& binding) {
    const QString key = QString::fromStdString(x11keys::keysymName(binding.keyCode)).toLower();
    static const QRegularExpression quoted("'([^']+)'");
    for (const auto& match : quoted.globalMatch(QString::fromStdString(listing)))
        if (parsed(match.captured(1)) == std::pair{binding.modifiers, key})
            return true;
    return false;
}

std::string desktopListing() {
    std::string listing;
    for (const char* schema :
         {"org.gnome.desktop.wm.keybindings", "org.gnome.mutter.keybindings",
          "org.gnome.mutter.wayland.keybindings", "org.gnome.shell.keybindings",
          "org.gnome.settings-daemon.plugins.media-keys"}) {
        QProcess gsettings;
        gsettings.start("gsettings", {"list-recursively", schema});
        if (gsettings.waitForFinished(5000) && gsettings.exitCode() == 0)
            listing += gsettings.readAllStandardOutput().toStdString();
    }
    return listing;
}

bool heldByDesktop(const HotkeyBinding& binding) {
    return holds(desktopListing(), binding);
}

} // namespace talvoro::gnomeKeybindings
