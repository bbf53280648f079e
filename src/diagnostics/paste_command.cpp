#include "diagnostics/paste_command.h"

#include "input/paster.h"
#include "input/paster_report.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace talvoro {

namespace {

void printLines(const std::vector<std::string>& lines) {
    for (const auto& line : lines)
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

// Whole seconds of "--delay N"; anything unreadable or negative keeps the default.
int delaySeconds(const CommandLine& args, int fallback) {
    std::optional<std::string> value = args.option("delay");
    if (!value)
        return fallback;
    try {
        double seconds = std::stod(*value);
        return seconds >= 0 && seconds < 3600 ? static_cast<int>(seconds) : fallback;
    } catch (const std::exception&) {
        return fallback;
    }
}

bool runPaste(const CommandContext& context) {
    std::string text =
        context.args.positionalArgument().value_or("проверка вставки: раз, два, три.");
    if (!Paster::permissionGranted(true))
        fail(Paster::Failure::noPermission().what());
    int delay = delaySeconds(context.args, 4);
    std::printf("вставлю через %d с: «%s»\n", delay, text.c_str());
    std::printf("переключись в нужное поле и поставь туда курсор\n");
    for (int left = delay; left > 0; --left) {
        std::printf("%d…\n", left);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::optional<std::string> before = Paster::currentText();
    try {
        Paster::Result result = Paster::paste(text);
        printLines(Paster::reportLines(result, text, before, Paster::currentText()));
    } catch (const Paster::Failure& failure) {
        printLines(Paster::failureLines(failure, before, Paster::currentText()));
        throw ExitRequest{1};
    }
    return true;
}

} // namespace talvoro
