#include "insertion/paster.h"

#include "insertion/pasteboard_snapshot.h"
#include "insertion/promised_text.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace talvoro::Paster {

namespace {

constexpr double pollInterval = 0.005;
// The longest wait for a desktop's clipboard bridge to take in our text before the keystroke.
constexpr double relayLimit = 0.25;
constexpr double focusRetryPause = 0.25;

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : separator) + part;
    return out;
}

// A pasteboard that holds the promised text: what it held before, and its change count right
// after our latest write.
struct Offered {
    Pasteboard& pasteboard;
    PasteboardSnapshot snapshot;
    std::int64_t ours = 0;
};

struct Waited {
    bool eager = false;    // the promise was settled into plain data
    bool cutShort = false; // the receiver was still pulling when the wait's limit came
};

// Waits until the promised text was pulled and then left alone for `pasteWindow`, or
// `pullDeadline` passed without a pull, or somebody else wrote the first pasteboard, or at the
// latest `pullWaitLimit` after the keystroke. Settles the promise into plain data after
// `eagerAfter` without a pull.
Waited waitForPull(PromisedText& promised, std::vector<Offered>& offered, PasteClock& clock) {
    const double deadline = promised.startedAt + pullDeadline.load();
    const double limit = promised.startedAt + std::max(pullWaitLimit.load(), pullDeadline.load());
    bool eager = false;
    bool eagerTried = false;
    for (;;) {
        const double now = clock.now();
        if (std::optional<double> last = promised.last()) {
            if (now - *last >= pasteWindow.load())
                return {eager, false};
            if (now >= limit)
                return {eager, true};
        } else {
            if (now >= deadline)
                return {eager, false};
            if (!eagerTried && now - promised.startedAt >= eagerAfter.load()) {
                eagerTried = true;
                for (Offered& each : offered)
                    if (each.pasteboard.settlePromisedText(promised.text)) {
                        each.ours = each.pasteboard.changeCount();
                        eager = true;
                    }
            }
        }
        if (offered.front().pasteboard.changeCount() != offered.front().ours)
            return {eager, false};
        clock.pause(pollInterval);
    }
}

enum class GivenBack { restored, leftToOthers, failed };

// Puts the previous contents back unless somebody else wrote since our latest write.
GivenBack giveBack(Offered& offered, std::optional<std::string>& error) {
    try {
        if (offered.pasteboard.changeCount() != offered.ours)
            return GivenBack::leftToOthers;
        offered.snapshot.restore(offered.pasteboard);
        return GivenBack::restored;
    } catch (const std::exception& failure) {
        if (!error)
            error = failure.what();
        return GivenBack::failed;
    }
}

// The text as plain data for the user to paste by hand; the previous contents are not kept.
Result leftOnPasteboard(const std::string& text, Pasteboard& pasteboard, Outcome outcome,
                        const Focus& focus) {
    pasteboard.clearContents();
    pasteboard.setString(text);
    Result result;
    result.outcome = std::move(outcome);
    result.focus = focus;
    result.servedEagerly = true;
    return result;
}

} // namespace

std::string Result::takenNote() const {
    if (takenAfterMs && cutShort)
        return "забрали за " + std::to_string(*takenAfterMs) +
               " мс, но приёмник всё читал — ждать конца не стали";
    if (takenAfterMs)
        return "забрали за " + std::to_string(*takenAfterMs) + " мс";
    return servedEagerly ? "выложен данными, забор не отследить" : "текст не забрали";
}

bool insertionBlocked(const Focus& focus) {
    return focus.role && blockedRoles.contains(*focus.role);
}

Result deliver(const std::string& text, Pasteboard& pasteboard, const Focus& focus,
               const std::function<void()>& press, const DeliverOptions& options) {
    if (text.empty())
        throw Failure::emptyText();
    PasteClock& clock = options.clock ? *options.clock : systemPasteClock();
    std::vector<Offered> offered;
    offered.push_back({pasteboard, PasteboardSnapshot::take(pasteboard, maxSnapshotBytes)});
    if (options.selection)
        offered.push_back(
            {*options.selection, PasteboardSnapshot::take(*options.selection, maxSnapshotBytes)});

    // A pasteboard may outlive this call and be asked for the item later; the provider keeps the
    // promised text alive until the item is replaced.
    auto promised = std::make_shared<PromisedText>(text, clock);
    std::optional<std::string> restoreError;
    for (std::size_t written = 0; written < offered.size(); ++written) {
        try {
            offered[written].pasteboard.clearContents();
            offered[written].pasteboard.writePromisedText(
                [promised](bool afterKeystroke) { return promised->provide(afterKeystroke); });
            offered[written].ours = offered[written].pasteboard.changeCount();
            offered[written].pasteboard.markKeystroke();
        } catch (...) {
            for (std::size_t index = 0; index < written; ++index)
                giveBack(offered[index], restoreError);
            throw;
        }
    }

    std::exception_ptr pressFailure;
    try {
        // The desktop's own windows paste what its bridge relays: a keystroke before the bridge
        // has taken the text in would paste the old contents there.
        for (const double until = clock.now() + relayLimit;
             !offered.front().pasteboard.relayed() && clock.now() < until;)
            clock.pause(pollInterval);
        promised->startedAt = clock.now();
        press();
    } catch (...) {
        pressFailure = std::current_exception();
    }
    Waited waited;
    if (!pressFailure) {
        try {
            waited = waitForPull(*promised, offered, clock);
        } catch (const std::exception&) {
            // The pasteboard failed during the wait; giving back below says what happened.
        }
    }

    Result result;
    const GivenBack first = giveBack(offered.front(), restoreError);
    result.restored = first == GivenBack::restored;
    result.overwrittenByOthers = first == GivenBack::leftToOthers;
    for (std::size_t index = 1; index < offered.size(); ++index)
        giveBack(offered[index], restoreError);
    if (pressFailure)
        std::rethrow_exception(pressFailure);

    if (std::optional<double> first = promised->first())
        result.takenAfterMs = static_cast<std::int64_t>(
            std::max(0.0, std::trunc((*first - promised->startedAt) * 1000)));
    result.outcome = Outcome::pasted(options.app ? options.app->name : std::nullopt);
    result.focus = focus;
    if (options.app)
        result.appIcon = options.app->icon;
    result.previousTypes = offered.front().snapshot.types;
    result.skippedAsTooLarge = offered.front().snapshot.tooLarge;
    result.droppedTypes = offered.front().snapshot.dropped;
    result.servedEagerly = waited.eager;
    result.cutShort = waited.cutShort;
    result.restoreError = restoreError;
    return result;
}

Result paste(const std::string& text, InsertionSeams& seams) {
    if (text.empty())
        throw Failure::emptyText();
    if (std::optional<Failure> problem = missingPermission(seams))
        throw *problem;
    // Any dialog of the desktop comes and goes first, so the focus is read after it closed.
    seams.keystroke->prepare();
    PasteClock& clock = seams.clock ? *seams.clock : systemPasteClock();
    Pasteboard& pasteboard = *seams.pasteboard;
    Focus focus = currentFocus(seams);
    if (focus.missing && wakeFocusReporting(seams)) {
        clock.pause(focusRetryPause);
        focus = currentFocus(seams);
    }
    if (insertionBlocked(focus))
        return leftOnPasteboard(text, pasteboard, Outcome::nowhere(), focus);
    std::optional<FrontmostApp> app = seams.frontmost->current();
    // The element's own role (the raw AT-SPI one) also names a terminal whose window is
    // invisible to X11: a native Wayland one outside sway.
    const bool terminal = (app && app->isTerminal()) || focus.subrole == "terminal";
    const PasteShortcut shortcut = terminal ? PasteShortcut::shiftInsert : PasteShortcut::controlV;
    PasteKeystroke& keystroke = *seams.keystroke;
    // Before the clock of the pull wait starts: the user may still be holding the hotkey.
    keystroke.waitForKeysReleased();
    DeliverOptions options{app, terminal ? seams.primary.get() : nullptr, &clock};
    return deliver(
        text, pasteboard, focus, [&] { keystroke.press(shortcut); }, options);
}

Result pasteOrLeave(const std::string& text, InsertionSeams& seams) {
    if (text.empty())
        throw Failure::emptyText();
    if (seams.pasteboard && (!seams.keystroke || !seams.keystroke->available()))
        return leftOnPasteboard(text, *seams.pasteboard, Outcome::inClipboard(),
                                Focus::missingBecause("клавиши нажать нечем"));
    return paste(text, seams);
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

bool wakeFocusReporting(InsertionSeams& seams) {
    if (!permissionGranted(seams))
        return false;
    std::optional<FrontmostApp> app = seams.frontmost->current();
    if (app)
        seams.focus->wakeReporting(app->pid);
    return app && seams.focus->available();
}

std::optional<Failure> missingPermission(InsertionSeams& seams) {
    if (!seams.pasteboard)
        return Failure::noDisplay();
    if (!seams.keystroke) // a Wayland session with no way to press keys
        return Failure::refused("в этом сеансе нечем нажать Ctrl+V");
    if (!seams.keystroke->available())
        return Failure::noPermission();
    return std::nullopt;
}

bool permissionGranted(InsertionSeams& seams) {
    return !missingPermission(seams);
}

std::optional<std::string> currentText(InsertionSeams& seams) {
    return seams.pasteboard ? seams.pasteboard->string() : std::nullopt;
}

} // namespace talvoro::Paster
