#pragma once

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <thread>

#include <gtest/gtest.h>

#include "audio/host_time.h"
#include "audio/scripted_capture.h"
#include "audio/wav_format.h"
#include "base/journal.h"
#include "dictation/dictation_controller.h"
#include "dictation/manual_clock.h"
#include "dictation/scripted_transcriber.h"
#include "hotkey/fake_keyboard.h"
#include "insertion/in_memory_pasteboard.h"
#include "insertion/scripted_insertion_seams.h"
#include "support/event_loop.h"
#include "support/temp_dir.h"

namespace talvoro::testing {

inline std::string journalText() {
    Journal::shared().flush();
    return readFile(Journal::shared().path());
}

// A controller on fakes: scripted microphone, keyboards for the hotkey and Esc, a clipboard in
// memory whose "application" takes every pasted text, a transcriber from a script and a clock
// that moves when the test says so.
class ControllerRig : public ::testing::Test {
protected:
    static constexpr std::uint16_t space = 49;
    static constexpr std::uint64_t option = HotkeyBinding::option;
    const AudioFormat mono16{16000, 1, SampleType::int16};

    ControllerRig() {
        application();
        config.dictationDir = dir / "Dictation";
        config.dictFile = dir.write("замены.txt", "эльсов = lsof\n");
        config.polishEnabled = false;
        pasteboard->setString("прежнее");
        focus->answers = {Paster::Focus{"AXTextField", "entry", false, {}}};
        frontmost->app = FrontmostApp{"Kate", std::nullopt, 42, "kate", "kate"};
        keystroke->onPress = [this] {
            const std::optional<std::string> text = pasteboard->string();
            std::lock_guard guard(typedLock);
            typed_.push_back(text.value_or("<ничего>"));
        };
    }
    ~ControllerRig() override {
        controller.reset();
        transcriber->release();
    }

    void makeAndStart(std::shared_ptr<DictationTranscriber> engine = nullptr) {
        DictationSeams seams;
        auto scripted = std::make_unique<ScriptedCapture>(InputStatus{true, mono16});
        capture = scripted.get();
        seams.capture = std::move(scripted);
        seams.keyboard = [keys = keys, esc = esc](const HotkeyBinding& binding) {
            return (binding.keyCode == DictationController::escKeyCode ? esc : keys)->factory()();
        };
        seams.insertion = std::make_shared<InsertionSeams>(
            InsertionSeams{pasteboard, keystroke, frontmost, focus, nullptr, nullptr});
        seams.clock = clock;
        if (polisher)
            seams.polisher = [p = polisher](const Config&) { return p; };
        controller = DictationController::create(
            config, engine ? engine : transcriber,
            [this](const DictationState& state) { states.push_back(state); }, std::move(seams));
        controller->log = [this](const std::string& line) { lines.push_back(line); };
        controller->start();
    }

    // A hotkey press, handled once its log line is there.
    void press() {
        const std::size_t before = count("хоткей (задержка");
        ASSERT_EQ(keys->down(space, option), KeyVerdict::swallow);
        ASSERT_TRUE(processUntil([&] { return count("хоткей (задержка") > before; }));
    }
    // Handled before anything that comes after it through the same tap.
    void release() { ASSERT_EQ(keys->up(space, option), KeyVerdict::swallow); }

    // Once the capture, started on its own thread, runs.
    void speak(double seconds) {
        ASSERT_TRUE(processUntil([&] { return capture->started(); }));
        playTone(*capture, mono16, seconds, hostTime);
    }
    // A recording of that many seconds of silence, as a crash or an earlier run leaves it.
    std::string recording(const std::string& relative, double seconds) {
        const auto bytes = static_cast<std::size_t>(seconds * 16000) * 2;
        const auto header = WAVFormat::header(16000, 1, bytes);
        return dir.write(relative,
                         std::string(header.begin(), header.end()) + std::string(bytes, '\0'));
    }

    // Press, speak, press: a toggle dictation up to the end of its recording.
    void dictate(double seconds = 0.5) {
        press();
        ASSERT_TRUE(is(DictationState::Kind::recording));
        speak(seconds);
        press();
    }

    bool waitFor(DictationState::Kind kind) {
        return processUntil([&] { return controller->state().is(kind); });
    }
    bool is(DictationState::Kind kind) const { return controller->state().is(kind); }

    std::size_t count(const std::string& start) const {
        std::size_t n = 0;
        for (const std::string& line : lines)
            n += line.rfind(start, 0) == 0;
        return n;
    }
    std::vector<std::string> typed() {
        std::lock_guard guard(typedLock);
        return typed_;
    }
    std::vector<std::string> wavsIn(const std::string& folder) const {
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.path().extension() == ".wav")
                found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    TempDir dir;
    Config config;
    std::shared_ptr<FakeKeyboard> keys = std::make_shared<FakeKeyboard>();
    std::shared_ptr<FakeKeyboard> esc = std::make_shared<FakeKeyboard>();
    std::shared_ptr<InMemoryPasteboard> pasteboard = std::make_shared<InMemoryPasteboard>();
    std::shared_ptr<RecordedKeystroke> keystroke = std::make_shared<RecordedKeystroke>();
    std::shared_ptr<ScriptedFocusSource> focus = std::make_shared<ScriptedFocusSource>();
    std::shared_ptr<FixedFrontmostApp> frontmost = std::make_shared<FixedFrontmostApp>();
    std::shared_ptr<ManualClock> clock =
        std::make_shared<ManualClock>(QDateTime(QDate(2026, 1, 1), QTime(13, 0, 0)));
    std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
    std::shared_ptr<TextPolishing> polisher;
    ScriptedCapture* capture = nullptr;
    std::uint64_t hostTime = HostTime::now();
    std::vector<DictationState> states;
    std::vector<std::string> lines;
    std::shared_ptr<DictationController> controller;

private:
    std::mutex typedLock;
    std::vector<std::string> typed_; // guarded by typedLock
};

} // namespace talvoro::testing
