#include "ui/gnome_shortcut.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include "hotkey/x11_key_symbols.h"

namespace talvoro {

namespace {

const QString listKey = "custom-keybindings";

QString gsettings(const QStringList& arguments) {
    QProcess process;
    process.start("gsettings", arguments);
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        const QString why = process.error() == QProcess::FailedToStart
                                ? "нет программы gsettings"
                                : QString::fromUtf8(process.readAllStandardError()).trimmed();
        throw GnomeShortcut::Error("GNOME не принял сочетание: " + why.toStdString());
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList boundPaths() {
    QStringList paths;
    static const QRegularExpression quoted("'([^']*)'");
    for (const auto& match : quoted.globalMatch(gsettings({"get", GnomeShortcut::schema, listKey})))
        paths << match.captured(1);
    return paths;
}

void setPaths(const QStringList& paths) {
    QStringList quoted;
    for (const QString& path : paths)
        quoted << "'" + path + "'";
    gsettings({"set", GnomeShortcut::schema, listKey, "[" + quoted.join(", ") + "]"});
}

QString relocatable() {
    return QString(GnomeShortcut::schema) + ".custom-keybinding:" + GnomeShortcut::path;
}

// A value for gsettings: a GVariant string in single quotes.
QString variantString(const std::string& text) {
    QString value = QString::fromStdString(text);
    value.replace("\\", "\\\\").replace("'", "\\'");
    return "'" + value + "'";
}

} // namespace

bool GnomeShortcut::bound() const {
    try {
        return boundPaths().contains(path);
    } catch (const Error&) {
        return false;
    }
}

void GnomeShortcut::bind(const HotkeyBinding& binding, const std::string& command) const {
    gsettings({"set", relocatable(), "name", variantString("Тальворо: диктовка")});
    gsettings({"set", relocatable(), "command", variantString(command)});
    gsettings({"set", relocatable(), "binding", variantString(accelerator(binding))});
    QStringList paths = boundPaths();
    if (!paths.contains(path))
        setPaths(paths << path);
}

void GnomeShortcut::unbind() const {
    QStringList paths = boundPaths();
    paths.removeAll(path);
    setPaths(paths);
    gsettings({"reset-recursively", relocatable()});
}

std::string GnomeShortcut::accelerator(const HotkeyBinding& binding) {
    std::string text;
    if (binding.modifiers & HotkeyBinding::control)
        text += "<Control>";
    if (binding.modifiers & HotkeyBinding::option)
        text += "<Alt>";
    if (binding.modifiers & HotkeyBinding::shift)
        text += "<Shift>";
    if (binding.modifiers & HotkeyBinding::command)
        text += "<Super>";
    return text + x11keys::keysymName(binding.keyCode);
}

} // namespace talvoro
