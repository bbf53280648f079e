#include "insertion/paster.h"

#include "base/main_thread.h"
#include "insertion/pasteboard_snapshot.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

namespace talvoro::Paster {

namespace {

constexpr double pollInterval = 0.005;
constexpr double focusRetryPause = 0.25;

// On the main thread the pause keeps the event loop turning, so that anything the pasteboard
// delivers through it still runs during the wait.
void pause(double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    if (isMainThread() && QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::AllEvents,
                                        static_cast<int>(std::ceil(seconds * 1000)));
    std::this_thread::sleep_until(until);
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : separator) + part;
    return out;
}

} // namespace

std::string Result::takenNote() const {
    if (takenAfterMs)
        return "забрали за " + std::to_string(*takenAfterMs) + " мс";
    return servedEagerly ? "выложен данными, забор не отследить" : "текст не забрали";
}

bool insertionBlocked(const Focus& focus) {
    return focus.role && blockedRoles.contains(*focus.role);
}

bool waitForPull(PromisedText& promised, Pasteboard& pasteboard, std::int64_t& rememberedCount) {
    const double deadline = promised.startedAt + pullDeadline.load();
    bool eager = false;
    for (;;) {
        double now = clockSeconds();
        if (std::optional<double> last = promised.last()) {
            if (now - *last >= pasteWindow.load())
                return eager;
        } else {
            if (now >= deadline)
                return eager;
            if (!eager && now - promised.startedAt >= eagerAfter.load()) {
                pasteboard.clearContents();
                pasteboard.setString(promised.text);
                rememberedCount = pasteboard.changeCount();
                eager = true;
            }
        }
        if (pasteboard.changeCount() != rememberedCount)
            return eager;
        pause(pollInterval);
    }
}

Result deliver(const std::string& text, Pasteboard& pasteboard, const Focus& focus,
               const std::function<void()>& press, FrontmostAppSource* frontmost) {
    if (text.empty())
        throw Failure::emptyText();
    PasteboardSnapshot snapshot = PasteboardSnapshot::take(pasteboard, maxSnapshotBytes.load());
    auto promised = std::make_shared<PromisedText>(text);
    pasteboard.clearContents();
    // The pasteboard may outlive this call and be asked for the item later; the provider keeps
    // the promised text alive until the item is replaced.
    pasteboard.writePromisedText([promised] { return promised->provide(); });
    std::int64_t rememberedCount = pasteboard.changeCount();

    std::optional<FrontmostApp> app = frontmost ? frontmost->current() : std::nullopt;

    promised->startedAt = clockSeconds();
    std::exception_ptr pressFailure;
    try {
        press();
    } catch (...) {
        pressFailure = std::current_exception();
    }
    bool servedEagerly = false;
    if (!pressFailure)
        servedEagerly = waitForPull(*promised, pasteboard, rememberedCount);

    Result result;
    if (pasteboard.changeCount() == rememberedCount) {
        snapshot.restore(pasteboard);
        result.restored = true;
    } else {
        result.overwrittenByOthers = true;
    }
    if (pressFailure)
        std::rethrow_exception(pressFailure);

    if (std::optional<double> first = promised->first())
        result.takenAfterMs = static_cast<std::int64_t>(
            std::max(0.0, std::trunc((*first - promised->startedAt) * 1000)));
    result.outcome = Outcome::pasted(app ? app->name : std::nullopt);
    result.focus = focus;
    if (app)
        result.appIcon = app->icon;
    result.previousTypes = snapshot.types;
    result.skippedAsTooLarge = snapshot.tooLarge;
    result.servedEagerly = servedEagerly;
    return result;
}

Result paste(const std::string& text, InsertionSeams& seams) {
    if (text.empty())
        throw Failure::emptyText();
    if (!permissionGranted(seams))
        throw Failure::noPermission();
    Pasteboard& pasteboard = *seams.pasteboard;
    Focus focus = currentFocus(seams);
    if (focus.missing) {
        wakeFocusReporting(seams);
        std::this_thread::sleep_for(std::chrono::duration<double>(focusRetryPause));
        focus = currentFocus(seams);
    }
    if (insertionBlocked(focus)) {
        pasteboard.clearContents();
        pasteboard.setString(text);
        Result result;
        result.outcome = Outcome::nowhere();
        result.focus = focus;
        result.servedEagerly = true;
        return result;
    }
    PasteKeystroke& keystroke = *seams.keystroke;
    return deliver(
        text, pasteboard, focus, [&keystroke] { keystroke.press(); }, seams.frontmost.get());
}

Focus currentFocus(InsertionSeams& seams) {
    std::vector<std::string> notes;
    if (std::optional<Focus> focus = seams.focus->systemFocus(notes))
        return *focus;
    std::optional<FrontmostApp> app = seams.frontmost->current();
    if (!app)
        return Focus::missingBecause("нет активного приложения");
    if (std::optional<Focus> focus = seams.focus->applicationFocus(app->pid, notes))
        return *focus;
    return Focus::missingBecause(joined(notes, ", "));
}

void wakeFocusReporting(InsertionSeams& seams) {
    if (!permissionGranted(seams))
        return;
    if (std::optional<FrontmostApp> app = seams.frontmost->current())
        seams.focus->wakeReporting(app->pid);
}

bool permissionGranted(InsertionSeams& seams) {
    return seams.keystroke && seams.pasteboard && seams.keystroke->available();
}

std::optional<std::string> currentText(InsertionSeams& seams) {
    return seams.pasteboard ? seams.pasteboard->string() : std::nullopt;
}

} // namespace talvoro::Paster
