#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include <gtest/gtest.h>

#include "audio/host_time.h"
#include "audio/scripted_capture.h"
#include "base/journal.h"
#include "dictation/dictation_work.h"
#include "dictation/manual_clock.h"
#include "dictation/scripted_transcriber.h"
#include "hotkey/fake_keyboard.h"
#include "insertion/in_memory_pasteboard.h"
#include "insertion/scripted_insertion_seams.h"
#include "support/event_loop.h"
#include "support/gui_app.h"
#include "support/temp_dir.h"
#include "ui/dictation_host.h"
#include "ui/fake_pill_window_system.h"

namespace talvoro::testing {

// A presenter (or a host) on fakes: scripted microphone, a keyboard the test types on, an
// in-memory clipboard whose "application" Kate takes every text, a scripted recogniser, a
// clock the test moves, a pill on the offscreen platform and permissions the test sets.
class PresenterRig : public ::testing::Test {
protected:
    static constexpr std::uint16_t space = 49;
    const AudioFormat mono16{16000, 1, SampleType::int16};

    PresenterRig() {
        guiApp();
        config.dictationDir = dir / "Dictation";
        config.modelDir = dir / "model";
        config.dictFile = dir / "замены.txt";
        config.polishEnabled = false;
        focus->answers = {Paster::Focus{"AXTextField", "entry", false, {}}};
        frontmost->app = FrontmostApp{"Kate", std::nullopt, 42, "kate", "kate"};
        keystroke->onPress = [this] { // the field pulls the text
            pasteboard->string();
            ++pastes;
        };
    }
    ~PresenterRig() override {
        transcriber->release();
        DictationWork::settle(); // no paste or recognition left running when the test ends
    }

    DictationPresenter::Options presenterOptions() {
        DictationPresenter::Options options;
        options.permissions = [this] { return missing; };
        options.seams = [this] {
            DictationSeams seams;
            auto scripted = std::make_unique<ScriptedCapture>(InputStatus{true, mono16});
            capture = scripted.get();
            seams.capture = std::move(scripted);
            seams.keyboard = [keys = keys, esc = esc](const HotkeyBinding& binding) {
                return (binding.keyCode == DictationController::escKeyCode ? esc : keys)
                    ->factory()();
            };
            seams.insertion = std::make_shared<InsertionSeams>(
                InsertionSeams{pasteboard, keystroke, frontmost, focus, nullptr, nullptr});
            seams.clock = clock;
            return seams;
        };
        options.pill = {windowSystem, [this] { return now; }, [this] { return pointer; }};
        return options;
    }

    DictationHost::Options hostOptions() {
        DictationHost::Options options;
        options.presenter = presenterOptions();
        options.transcriber = [t = transcriber](const Config&) { return t; };
        options.fetchModel = false;
        return options;
    }

    // A press of the dictation key, handled once the controller's state moved on.
    void press(const std::function<DictationState()>& state) {
        const DictationState before = state();
        ASSERT_EQ(keys->down(space, HotkeyBinding::option), KeyVerdict::swallow);
        ASSERT_TRUE(processUntil([&] { return state() != before; }));
        keys->up(space, HotkeyBinding::option);
    }

    // Once the capture, started on its own thread, runs.
    void speak(double seconds) {
        ASSERT_TRUE(processUntil([&] { return capture->started(); }));
        playTone(*capture, mono16, seconds, hostTime);
    }

    TempDir dir;
    Config config;
    MissingPermissions missing;
    double now = 100;
    QPoint pointer{300, 200};
    std::shared_ptr<FakePillWindowSystem> windowSystem = std::make_shared<FakePillWindowSystem>();
    std::shared_ptr<FakeKeyboard> keys = std::make_shared<FakeKeyboard>();
    std::shared_ptr<FakeKeyboard> esc = std::make_shared<FakeKeyboard>();
    std::shared_ptr<InMemoryPasteboard> pasteboard = std::make_shared<InMemoryPasteboard>();
    std::shared_ptr<RecordedKeystroke> keystroke = std::make_shared<RecordedKeystroke>();
    std::shared_ptr<ScriptedFocusSource> focus = std::make_shared<ScriptedFocusSource>();
    std::shared_ptr<FixedFrontmostApp> frontmost = std::make_shared<FixedFrontmostApp>();
    std::shared_ptr<ManualClock> clock =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 1, 1), QTime(13, 0, 0)));
    std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
    ScriptedCapture* capture = nullptr;
    std::uint64_t hostTime = HostTime::now();
    std::atomic<int> pastes = 0; // counted on the paste thread
};

} // namespace talvoro::testing
