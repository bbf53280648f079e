#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "dictation/dictation_failure.h"
#include "dictation/dictation_state.h"
#include "recognition/dictation_snapshot.h"
#include "ui/missing_permissions.h"
#include "ui/pill_glyph.h"

namespace talvoro {

// What the controller says besides its state, read when a state is drawn.
struct ControllerFacts {
    double elapsed = 0;
    std::optional<float> level;
    std::optional<DictationSnapshot> live;
    int pending = 0;
    std::optional<DictationFailure> failure; // the last one
    std::optional<QImage> insertIcon;
    std::string hotkey;          // the dictation hotkey's description
    bool microphoneLost = false; // during the dictation in progress or just ended
};

// One picture of the pill; `hidden` for idle.
struct PillPicture {
    bool hidden = false;
    std::string text;
    PillGlyph glyph;
    std::optional<float> level;
    std::optional<DictationSnapshot> live;
};

PillPicture pillPicture(const DictationState& state, const ControllerFacts& facts);

// The menu's first line. `state` is absent when there is no controller.
struct StatusFacts {
    std::optional<std::string> startupError;
    MissingPermissions missing;
    std::optional<DictationState> state;
    int pending = 0;
    std::optional<DictationFailure> failure;
    std::string hotkey;
};

std::string statusLine(const StatusFacts& facts);

// "1:15" for 75.4 s.
std::string recordingClock(double seconds);

} // namespace talvoro
