#pragma once

#include "insertion/focus.h"
#include "insertion/insertion_seams.h"
#include "insertion/paster_failure.h"

#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace talvoro::Paster {

// Program-wide tunables, read on every use; the self-checks change them for one run.
inline std::atomic<std::size_t> maxSnapshotBytes{20971520};
inline std::atomic<double> pullDeadline{1.0};  // s after the keystroke before an unclaimed text is
                                               // given up
inline std::atomic<double> pasteWindow{0.15};  // quiet s after the latest pull
inline std::atomic<double> eagerAfter{0.5};    // s after which an unpulled text becomes plain data
inline std::atomic<double> pullWaitLimit{5.0}; // s after the keystroke the wait ends however the
                                               // receiver keeps pulling

// Roles that never take text; only the role is compared, never the subrole.
inline const std::set<std::string> blockedRoles{"AXWindow", "AXApplication", "AXButton", "AXGroup"};

class Outcome {
public:
    // inClipboard: no way to press keys on this desktop; the text was left on the pasteboard.
    enum class Kind { pasted, nowhere, inClipboard };

    static Outcome pasted(std::optional<std::string> app) { return Outcome(Kind::pasted, app); }
    static Outcome nowhere() { return Outcome(Kind::nowhere, {}); }
    static Outcome inClipboard() { return Outcome(Kind::inClipboard, {}); }

    Kind kind() const { return kind_; }
    bool isPasted() const { return kind_ == Kind::pasted; }
    // The frontmost application's name when the keystroke was sent.
    const std::optional<std::string>& app() const { return app_; }
    bool operator==(const Outcome&) const = default;

private:
    Outcome(Kind kind, std::optional<std::string> app) : kind_(kind), app_(std::move(app)) {}
    Kind kind_;
    std::optional<std::string> app_;
};

struct Result {
    Outcome outcome = Outcome::nowhere();
    Focus focus;
    std::optional<QImage> appIcon;
    std::vector<std::string> previousTypes;
    bool restored = false;
    bool overwrittenByOthers = false;
    bool skippedAsTooLarge = false;           // over maxSnapshotBytes, and nothing fitted
    std::vector<std::string> droppedTypes;    // previous types left out to fit maxSnapshotBytes
    std::optional<std::int64_t> takenAfterMs; // keystroke → first pull
    bool servedEagerly = false;               // put out as plain data, pulls not observable
    bool cutShort = false; // the receiver still pulled at `pullWaitLimit`; given back regardless
    // The previous contents could not be written back after the keystroke was sent (why, for the
    // user). Not an error of the insertion: the text is in the field and must not be sent again.
    std::optional<std::string> restoreError;

    std::string takenNote() const;
    // The keystroke went out but nobody asked for the text after it: it is not in the field
    // (the keystroke went elsewhere, or the receiver read data served eagerly, unobserved).
    bool unclaimed() const { return outcome.isPasted() && !takenAfterMs; }
};

bool insertionBlocked(const Focus& focus);

// The whole insertion into the focused field; blocks its thread for about a second, so it never
// runs on the main thread of a program with windows. Throws Failure.
Result paste(const std::string& text);
Result paste(const std::string& text, InsertionSeams& seams);
// `paste` for a dictation: where no keys can be pressed at all (no keystroke, or one that is not
// available) but the pasteboard can be written, the text is left on the pasteboard for the user
// to paste, with the outcome `inClipboard`, instead of failing: retrying could not help.
Result pasteOrLeave(const std::string& text, InsertionSeams& seams);

struct DeliverOptions {
    std::optional<FrontmostApp> app; // noted in the result (name and icon)
    // Offered the text too and given back afterwards by the same rule (X11: PRIMARY, for the
    // terminals that paste it with Shift+Insert). The wait watches the pasteboard only.
    Pasteboard* selection = nullptr;
    PasteClock* clock = nullptr; // the system clock when null
};

// The pasteboard part of an insertion with the keystroke given as `press` (which may throw):
// the clock for the pull wait starts immediately before `press` runs, so `press` must post at
// once. Once `press` succeeded nothing throws: a pasteboard that fails afterwards ends the wait,
// and a failed restore is reported in `restoreError`.
Result deliver(const std::string& text, Pasteboard& pasteboard, const Focus& focus,
               const std::function<void()>& press, const DeliverOptions& options = {});

Focus currentFocus();
Focus currentFocus(InsertionSeams& seams);

void wakeFocusReporting();
// False when there is no accessibility service to wake: then no second look can find a focus
// the first did not.
bool wakeFocusReporting(InsertionSeams& seams);

// Trusted = keys can be synthesised (the X server has XTEST); there is no prompt on X11.
bool permissionGranted(bool prompt = false);
bool permissionGranted(InsertionSeams& seams);
// What stands in the way of trust: noDisplay without an X display, noPermission without XTEST.
std::optional<Failure> missingPermission();
std::optional<Failure> missingPermission(InsertionSeams& seams);

// The pasteboard's plain text; nothing when there is none or no pasteboard.
std::optional<std::string> currentText();
std::optional<std::string> currentText(InsertionSeams& seams);

} // namespace talvoro::Paster
