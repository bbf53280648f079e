#pragma once

#include <functional>
#include <memory>

#include "audio/audio_capture.h"
#include "base/config.h"
#include "base/hotkey_binding.h"
#include "dictation/dictation_clock.h"
#include "dictation/text_polishing.h"
#include "hotkey/key_event_source.h"
#include "insertion/insertion_seams.h"

namespace talvoro {

// The platform pieces a dictation controller works with. Each one left empty is the real
// thing: PulseAudio, the X keyboard, the desktop's clipboard and focus, the system clock and
// Qt timers, and this build's style editor.
struct DictationSeams {
    std::unique_ptr<AudioCapture> capture;
    // A keyboard per binding (the dictation key, Esc, the style and raw-paste keys).
    std::function<std::unique_ptr<KeyEventSource>(const HotkeyBinding&)> keyboard;
    std::shared_ptr<InsertionSeams> insertion;
    std::shared_ptr<DictationClock> clock;
    std::function<std::shared_ptr<TextPolishing>(const Config&)> polisher;
};

} // namespace talvoro
