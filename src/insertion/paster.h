#pragma once

#include "insertion/focus.h"
#include "insertion/insertion_seams.h"
#include "insertion/paster_failure.h"
#include "insertion/promised_text.h"

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
inline std::atomic<double> pullDeadline{1.0}; // s after the keystroke before an unclaimed text is
                                              // given up
inline std::atomic<double> pasteWindow{0.15}; // quiet s after the latest pull
inline std::atomic<double> eagerAfter{0.5};   // s after which an unpulled text becomes plain data

// Roles that never take text; only the role is compared, never the subrole.
inline const std::set<std::string> blockedRoles{"AXWindow", "AXApplication", "AXButton", "AXGroup"};

class Outcome {
public:
    enum class Kind { pasted, nowhere };

    static Outcome pasted(std::optional<std::string> app) { return Outcome(Kind::pasted, app); }
    static Outcome nowhere() { return Outcome(Kind::nowhere, {}); }

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
    bool skippedAsTooLarge = false;
    std::optional<std::int64_t> takenAfterMs; // keystroke → first pull
    bool servedEagerly = false;               // put out as plain data, pulls not observable

    std::string takenNote() const;
};

bool insertionBlocked(const Focus& focus);

// The whole insertion into the focused field; blocks for about a second. Throws Failure.
Result paste(const std::string& text);
Result paste(const std::string& text, InsertionSeams& seams);

// The pasteboard part of an insertion with the keystroke given as `press` (which may throw).
// `frontmost` may be null (no application name or icon then).
Result deliver(const std::string& text, Pasteboard& pasteboard, const Focus& focus,
               const std::function<void()>& press, FrontmostAppSource* frontmost = nullptr);

// Waits after the keystroke until the promised text was pulled and then left alone for
// `pasteWindow`, or `pullDeadline` passed without a pull, or somebody else wrote the pasteboard.
// Serves the text as plain data after `eagerAfter` without a pull (then `rememberedCount` follows
// that write). True when the text was served that way.
bool waitForPull(PromisedText& promised, Pasteboard& pasteboard, std::int64_t& rememberedCount);

Focus currentFocus();
Focus currentFocus(InsertionSeams& seams);

void wakeFocusReporting();
void wakeFocusReporting(InsertionSeams& seams);

// Trusted = keys can be synthesised (the X server has XTEST); there is no prompt on X11.
bool permissionGranted(bool prompt = false);
bool permissionGranted(InsertionSeams& seams);

// The pasteboard's plain text; nothing when there is none or no pasteboard.
std::optional<std::string> currentText();
std::optional<std::string> currentText(InsertionSeams& seams);

} // namespace talvoro::Paster
