#include "commands/paste_command.h"

#include "insertion/paster.h"
#include "insertion/paster_report.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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

namespace {

struct PasteOutcome {
    int status = 0;
    std::optional<std::string> failure; // the command ends with fail(…)
    bool holdSelections = false;        // a selection may hold what we put there
    bool clipboardOurs = false;         // nobody else wrote the clipboard during the paste
};

// The primary selection's change count before the paste, to tell whether the paste wrote it.
std::optional<std::int64_t> primaryBefore;

PasteOutcome pasteAndReport(const CommandContext& context) {
    std::string text =
        context.args.positionalArgument().value_or("проверка вставки: раз, два, три.");
    if (std::optional<Paster::Failure> problem = Paster::missingPermission())
        return {1, problem->what(), false};
    int delay = delaySeconds(context.args, 4);
    std::printf("вставлю через %d с: «%s»\n", delay, text.c_str());
    std::printf("переключись в нужное поле и поставь туда курсор\n");
    for (int left = delay; left > 0; --left) {
        std::printf("%d…\n", left);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::optional<std::string> before = Paster::currentText();
    if (Pasteboard* primary = systemInsertionSeams().primary.get())
        primaryBefore = primary->changeCount();
    try {
        Paster::Result result = Paster::paste(text);
        printLines(Paster::reportLines(result, text, before, Paster::currentText()));
        return {0, std::nullopt, true, !result.overwrittenByOthers};
    } catch (const Paster::Failure& failure) {
        printLines(Paster::failureLines(failure, before, Paster::currentText()));
        return {1, std::nullopt, false};
    }
}

// Stays while the clipboard, or the primary selection the paste wrote, still holds what we put
// there, or until the X server goes away.
void holdSelections(bool clipboardOurs) {
    struct Held {
        Pasteboard* pasteboard;
        std::int64_t ours;
    };
    InsertionSeams& seams = systemInsertionSeams();
    std::vector<Held> held;
    for (Pasteboard* pasteboard : {seams.pasteboard.get(), seams.primary.get()}) {
        if (!pasteboard || (pasteboard == seams.pasteboard.get() && !clipboardOurs) ||
            pasteboard->itemCount() == 0)
            continue;
        const std::int64_t ours = pasteboard->changeCount();
        if (pasteboard == seams.primary.get() && ours == primaryBefore)
            continue;
        held.push_back({pasteboard, ours});
    }
    auto holding = [&] {
        for (const Held& each : held)
            if (each.pasteboard->changeCount() == each.ours)
                return true;
        return false;
    };
    for (int tick = 1; holding(); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (tick % 8 == 0) {
            try {
                makeSystemPasteboard();
            } catch (const PasteboardUnavailable&) {
                return;
            }
        }
    }
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// The child's report: one status byte, then the failure text if any.
PasteOutcome readOutcome(int fd) {
    std::string bytes;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.empty())
        return {1, std::nullopt, false};
    PasteOutcome outcome{bytes[0] == 'f' ? 1 : bytes[0] - '0', std::nullopt, false};
    if (bytes[0] == 'f')
        outcome.failure = bytes.substr(1);
    return outcome;
}

void finish(const PasteOutcome& outcome) {
    if (outcome.failure)
        fail(*outcome.failure);
    if (outcome.status != 0)
        throw ExitRequest{outcome.status};
}

} // namespace

// On X11 the clipboard's contents live in the program that owns the clipboard: when this command
// ended, the restored contents (or the text left for Ctrl+V) would go with it. So the work runs in
// a child process, forked before any X connection or thread exists, which reports back and then
// stays behind, detached, for as long as the clipboard is ours.
bool runPaste(const CommandContext& context) {
    int channel[2];
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = ::pipe(channel) == 0 ? ::fork() : -1;
    if (child < 0) {
        finish(pasteAndReport(context));
        return true;
    }
    if (child > 0) {
        ::close(channel[1]);
        PasteOutcome outcome = readOutcome(channel[0]);
        ::close(channel[0]);
        finish(outcome);
        return true;
    }
    ::close(channel[0]);
    PasteOutcome outcome = pasteAndReport(context);
    std::fflush(stdout);
    std::fflush(stderr);
    writeAll(channel[1], outcome.failure ? "f" + *outcome.failure
                                         : std::string(1, static_cast<char>('0' + outcome.status)));
    ::close(channel[1]);
    if (outcome.holdSelections) {
        int null = ::open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2})
            ::dup2(null, fd);
        ::setsid();
        holdSelections(outcome.clipboardOurs);
    }
    ::_exit(0);
}

} // namespace talvoro
