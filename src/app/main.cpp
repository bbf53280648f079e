#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/commands.h"
#include "base/portal_connection.h"
#include "dictation/dictation_work.h"
#include "session/session_probe.h"

using namespace talvoro;

namespace {

int runCommand(const ParsedCommand& parsed, const CommandContext& context) {
    try {
        if (!runVoiceCommand(parsed.command, context)) {
            std::fputs(commandUsage().c_str(), stdout);
            return 1;
        }
    } catch (const CommandFailure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "ошибка: %s\n", failure.what());
        return 1;
    } catch (const ExitRequest& request) {
        std::fflush(stdout);
        return request.status;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "аварийный выход: %s\n", error.what());
        return 70;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> processArgs(argv + 1, argv + argc);
    ParsedCommand parsed = cliCommand("dictation-menubar", processArgs);
    CommandContext context{Config::load(parsed.args.option("env")), parsed.args};
    context.config.limitToLocalOnly();
    useSessionSettings(context.config);

    const CommandEntry* entry = findCommand(parsed.command);
    if (entry == nullptr) {
        std::fputs(commandUsage().c_str(), stdout);
        return 1;
    }
    // libatspi, on a thread of its own, attaches its connections to applications to GLib's
    // default main context; a Qt event loop iterating that context would dispatch them on this
    // thread too, and the two deadlock inside libdbus.
    qputenv("QT_NO_GLIB", "1");
    // In a Wayland session our windows go through XWayland where it runs: only there can the pill
    // place itself. A platform the user named stays.
    if (entry->needsWindows && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && preferXWayland())
        qputenv("QT_QPA_PLATFORM", "xcb");
    // Without a display Qt would abort with a message of its own; the tray application and the
    // pill need one (the offscreen platform serves snapshots).
    if (entry->needsWindows && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "ошибка: нет связи с X-сервером (DISPLAY не задан) — окна и значок "
                             "в трее показать негде\n");
        return 1;
    }
    // Qt gets only the program name: our arguments are not its options.
    int qtArgc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (entry->needsWindows) {
        app = std::make_unique<QApplication>(qtArgc, argv);
        // The desktop matches our windows to the installed entry by this name.
        QGuiApplication::setDesktopFileName(portal::applicationId);
    } else
        app = std::make_unique<QCoreApplication>(qtArgc, argv);

    const int status = runCommand(parsed, context);
    // Background work still running must end before statics are torn down.
    DictationWork::settle();
    return status;
}
