#pragma once

// Whole dictations on the real stack: an Xvfb of the test's own with a Qt text field in focus,
// the hotkey pressed through XTest, tones played into a PulseAudio null sink and recorded from
// its monitor, the generated test model (tools/models/make_test_model.py) with the live
// stream, and the real clipboard, keystroke and focus lookup.
#include <QCoreApplication>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <optional>

#include <gtest/gtest.h>

#include "dictation/dictation_controller.h"
#include "hotkey/x11_key_client.h"
#include "insertion/atspi_focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_keystroke.h"
#include "insertion/pasteboard.h"
#include "insertion/paster_x11_support.h"
#include "recognition/gigaam_transcriber.h"
#include "support/event_loop.h"
#include "support/pulse_server.h"
#include "support/sink_player.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

namespace talvoro::testing {

const std::string testModelFolder = TALVORO_BINARY_DIR "/test-models/gigaam";

// One tone per frequency, `length` samples of 16 kHz each, with as much silence before each
// tone and after the last.
inline std::vector<std::int16_t> toneWords(const std::vector<double>& frequencies, int length) {
    std::vector<std::int16_t> samples;
    for (const double frequency : frequencies) {
        samples.resize(samples.size() + length, 0);
        for (int i = 0; i < length; ++i)
            samples.push_back(static_cast<std::int16_t>(
                16000 * std::sin(2 * std::numbers::pi * frequency * i / 16000.0)));
    }
    samples.resize(samples.size() + length, 0);
    return samples;
}

class RealStackRig : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        if (!xvfb.running() || !pulse.running())
            GTEST_SKIP() << "needs Xvfb and pulseaudio";
        if (accessible) {
            startAccessibleSession(bus, dir.path());
        } else { // no focus can be seen, as in an application without accessibility
            ::unsetenv("AT_SPI_BUS_ADDRESS");
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        }
        typist.emplace();
        target.emplace(dir.path(), "field");
        ASSERT_TRUE(target->waitUntilActive()) << "the Qt window never became active";
        config.dictationDir = dir / "Dictation";
        config.polishEnabled = false;
    }

    // A controller on the desktop's own clipboard, keystroke and focus lookup.
    void create(std::shared_ptr<DictationTranscriber> engine,
                std::function<void(const DictationState&)> onState) {
        DictationSeams seams;
        seams.insertion = std::make_shared<InsertionSeams>(InsertionSeams{
            makeSystemPasteboard(), makeSystemPasteKeystroke(), makeSystemFrontmostAppSource(),
            std::make_shared<AtspiFocusSource>(), makeSystemPasteboard("PRIMARY"), nullptr});
        controller = DictationController::create(config, std::move(engine), std::move(onState),
                                                 std::move(seams));
    }

    void altSpace() {
        typist->press(keysym::altL);
        typist->tap(keysym::space);
        typist->release(keysym::altL);
    }

    bool accessible = true; // cleared by a fixture's constructor
    XvfbServer xvfb;
    PulseServer pulse;
    TempDir dir;
    std::optional<SessionBus> bus;
    std::optional<PasteTarget> target;
    std::optional<Typist> typist;
    Config config;
    std::shared_ptr<DictationController> controller;
};

} // namespace talvoro::testing
