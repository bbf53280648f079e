#include <filesystem>

#include "audio/core_audio_error.h"
#include "controller_rig.h"
#include "dictation/dictation_state.h"
#include "insertion/paster_failure.h"
#include "recognition/stt_error.h"

namespace talvoro {
namespace {

using Kind = DictationState::Kind;
using testing::ControllerRig;
using testing::journalText;
using testing::processUntil;
namespace fs = std::filesystem;

class DictationController_ : public ControllerRig {};

TEST_F(DictationController_, HoldingTheKeyHalfASecondIsPushToTalkAndAShorterPressToggles) {
    makeAndStart();
    press();
    speak(0.5);
    clock->advance(0.49);
    release(); // too short a hold: the recording goes on
    press();
    ASSERT_TRUE(waitFor(Kind::inserted));
    release(); // the release of the stopping press changes nothing
    EXPECT_EQ(count("push-to-talk: отпущено"), 0u);
    EXPECT_EQ(transcriber->calls(), 1);

    // A new recording during the linger cancels it; held past the threshold, its release stops it.
    press();
    clock->advance(2);
    EXPECT_TRUE(is(Kind::recording));
    speak(0.5);
    release();
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_EQ(count("push-to-talk: отпущено"), 1u);
    EXPECT_EQ(transcriber->calls(), 2);
}

TEST_F(DictationController_, EscPassesWhenIdleAndCancelsARecordingWhichThenTakesTheNextFreeName) {
    dir.write("Dictation/2026-01-01 130000.wav", "queued or not yet delivered");
    dir.write("Dictation/2026-01-01 130000-2.wav", "the same");
    makeAndStart();
    EXPECT_EQ(esc->down(DictationController::escKeyCode, 0), KeyVerdict::pass);
    press();
    ASSERT_TRUE(is(Kind::recording));
    EXPECT_TRUE(fs::exists(config.dictationDir + "/2026-01-01 130000-3.wav"));
    speak(0.5);
    EXPECT_EQ(esc->down(DictationController::escKeyCode, 0), KeyVerdict::swallow);
    ASSERT_TRUE(waitFor(Kind::idle));
    EXPECT_FALSE(fs::exists(config.dictationDir + "/2026-01-01 130000-3.wav"));
    EXPECT_EQ(count("отменено"), 1u);
    EXPECT_EQ(transcriber->calls(), 0);
    EXPECT_EQ(esc->down(DictationController::escKeyCode, 0), KeyVerdict::pass);
}

TEST_F(DictationController_,
       PressesWhileBusyAreSkippedAndAPressWhileNowherePastesTheLastTextAgain) {
    transcriber->hold();
    makeAndStart();
    dictate();
    ASSERT_TRUE(is(Kind::transcribing));
    press();
    EXPECT_EQ(count("идёт распознавание — нажатие пропущено"), 1u);
    EXPECT_TRUE(is(Kind::transcribing));
    release();

    focus->answers = {Paster::Focus{"AXButton", "push button", false, {}}};
    transcriber->release();
    ASSERT_TRUE(waitFor(Kind::nowhere));
    EXPECT_EQ(pasteboard->string(), "привет мир") << "left for Ctrl+V";
    EXPECT_EQ(controller->lastInsertNote(), "курсор не в поле · фокус: AXButton/push button");
    EXPECT_EQ(clock->pending().front(), DictationController::nowhereLinger);

    // Still nowhere after the second try: the state is told once, its linger starts again.
    clock->advance(7);
    press();
    EXPECT_EQ(count("хоткей во время «некуда» — вставляю последнюю"), 1u);
    ASSERT_TRUE(processUntil([&] { return clock->pending().front() > 7; }));
    EXPECT_EQ(std::count(states.begin(), states.end(), DictationState::nowhere()), 1);
    EXPECT_EQ(transcriber->calls(), 1);
    EXPECT_TRUE(wavsIn(config.dictationDir).empty());
}

TEST_F(DictationController_, APermanentFailureBlocksRetriesUntilTheNextRecording) {
    transcriber->fail(std::make_exception_ptr(STTError::noKey("ключа нет")));
    makeAndStart();
    dictate();
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->state(), DictationState::failed("не настроен ключ"));
    EXPECT_EQ(clock->pending().front(), DictationController::blockedLinger);
    clock->advance(60); // idle, and three retry ticks
    EXPECT_TRUE(is(Kind::idle));
    EXPECT_EQ(transcriber->calls(), 1);
    EXPECT_EQ(wavsIn(config.dictationDir + "/pending").size(), 1u);

    dictate(); // lifts the block
    ASSERT_TRUE(waitFor(Kind::inserted));
    clock->advance(1.2 + 20);
    ASSERT_TRUE(processUntil([&] { return transcriber->calls() == 3 && is(Kind::inserted); }));
    EXPECT_TRUE(wavsIn(config.dictationDir + "/pending").empty());

    // Keys the desktop refused: only the user can mend that, too.
    keystroke->onPress = [] { throw Paster::Failure::refused("разреши клавиши"); };
    clock->advance(1.2);
    dictate();
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->lastFailure()->hint(), "разреши клавиши");
    clock->advance(60);
    EXPECT_TRUE(is(Kind::idle)) << "the desktop is not asked again every 20 s";
    EXPECT_EQ(wavsIn(config.dictationDir + "/pending").size(), 1u);
}

TEST_F(DictationController_, APasteErrorQueuesTheRecordingAndASinkTakesTextWithoutAPaste) {
    keystroke->onPress = [] { throw Paster::Failure::eventCreationFailed(); };
    makeAndStart();
    dictate();
    ASSERT_TRUE(waitFor(Kind::queued));
    EXPECT_EQ(controller->state(), DictationState::queued(1));
    EXPECT_EQ(count("вставка не удалась: не удалось создать событие клавиатуры"), 1u);
    EXPECT_FALSE(controller->lastInserted());

    std::vector<std::string> taken;
    controller->sink = [&](const std::string& text) {
        taken.push_back(text);
        return true;
    };
    clock->advance(1.2 + 20);
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_EQ(controller->state(), DictationState::inserted(2, std::nullopt));
    EXPECT_EQ(taken, std::vector<std::string>{"привет мир"});
    EXPECT_EQ(controller->lastInsertNote(), "в панель занесения");
    EXPECT_EQ(keystroke->presses.size(), 1u);
    EXPECT_TRUE(wavsIn(config.dictationDir + "/pending").empty());

    // With no way to press keys at all a retry cannot help: the text waits on the clipboard.
    controller->sink = nullptr;
    keystroke->canPress = false;
    dictate();
    ASSERT_TRUE(waitFor(Kind::inClipboard));
    EXPECT_EQ(pasteboard->string(), "привет мир");
    EXPECT_TRUE(wavsIn(config.dictationDir + "/pending").empty());
    EXPECT_TRUE(wavsIn(config.dictationDir).empty());
}

TEST_F(DictationController_, AShortRecordingOrAMissingMicrophoneFailsAndTheNextPressWorks) {
    makeAndStart();
    dictate(0.2);
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->state(), DictationState::failed("слишком коротко"));
    EXPECT_TRUE(wavsIn(config.dictationDir).empty());

    capture->setStatus(InputStatus{true, AudioFormat{}});
    press(); // the capture fails on its own thread, after the pill showed the recording
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->state(),
              DictationState::failed(CoreAudioError::inputUnavailable(true).what()));
    EXPECT_TRUE(wavsIn(config.dictationDir).empty());
    EXPECT_EQ(clock->pending().front(), controller->finalStateLinger);
    capture->setStatus(InputStatus{true, mono16});
    dictate();
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_EQ(transcriber->calls(), 1);
}

// The stream's own text, with the dictionary: DictationEndToEnd.AToggleDictation*. Nothing
// heard is the answer, not a reason to recognise the file again; a failed stream is.
TEST_F(DictationController_, OnlyAFailedLiveStreamFallsBackToTheRecordedFile) {
    auto streaming = std::make_shared<testing::ScriptedStreamingTranscriber>();
    streaming->answer("");
    makeAndStart(streaming);
    dictate();
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->state(), DictationState::failed("ничего не распознано"));
    EXPECT_EQ(streaming->calls(), 1);

    streaming->fail(std::make_exception_ptr(std::runtime_error("модель сломана")));
    streaming->answer("из файла");
    dictate();
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_EQ(typed(), std::vector<std::string>{"из файла"});
    EXPECT_EQ(fs::path(streaming->paths().back()).extension(), ".wav");
}

TEST_F(DictationController_, RecordingsLeftByAnEarlierRunAreQueuedAtStartAndDelivered) {
    const std::string old = recording("Dictation/2026-01-01 120000.wav", 1);
    const std::string fresh = dir.write("Dictation/2026-01-01 125959.wav", "being written");
    const std::string probe = dir.write("Dictation/probe.wav", "not a dictation");
    fs::last_write_time(old, fs::file_time_type::clock::now() - std::chrono::hours(1));
    fs::last_write_time(probe, fs::file_time_type::clock::now() - std::chrono::hours(1));

    // Ahead of it in the queue, files that do not read as audio (a full disk, a stray file).
    dir.write("Dictation/pending/2026-01-01 110000.wav", "");
    dir.write("Dictation/pending/2026-01-01 110001.wav", "not a recording at all");

    makeAndStart();
    EXPECT_EQ(controller->state(), DictationState::queued(3));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(probe));
    clock->advance(20); // one tick: the queue goes on past the files set aside
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_TRUE(wavsIn(config.dictationDir + "/pending").empty());
    EXPECT_EQ(transcriber->calls(), 1);
    clock->advance(60);
    EXPECT_EQ(wavsIn(config.dictationDir + "/pending/unreadable"),
              (std::vector<std::string>{"2026-01-01 110000.wav", "2026-01-01 110001.wav"}));
    const std::string journal = journalText();
    for (const char* name : {"110000.wav — ", "110001.wav — "}) {
        const std::size_t first = journal.find(name);
        EXPECT_NE(first, std::string::npos) << name;
        EXPECT_EQ(journal.find(name, first + 1), std::string::npos) << "journaled once";
    }
}

// A press during the retry comes first: DictationEndToEnd.APressDuringARetry*; one while the
// retry found no field: DictationWithNoFieldInSight.*.
TEST_F(DictationController_,
       ATransientFailureIsRetriedOnceIdleButNeverIntoAPasswordFieldNorLostThere) {
    transcriber->fail(std::make_exception_ptr(STTError::unreachable("нет связи")));
    makeAndStart();
    dictate();
    ASSERT_TRUE(waitFor(Kind::queued));
    EXPECT_EQ(controller->state(), DictationState::queued(1));
    EXPECT_TRUE(controller->lastFailure()->isTransient());

    // Retried while a password field has focus: nothing is typed, the recording stays queued
    // and no later tick tries it blindly.
    focus->answers = {Paster::Focus{"AXTextField", "password text", false, {}}};
    clock->advance(1.2); // idle; the retry tick falls due at 20 s
    clock->advance(18.8);
    ASSERT_TRUE(waitFor(Kind::nowhere));
    EXPECT_TRUE(typed().empty());
    EXPECT_EQ(pasteboard->string(), "прежнее");
    clock->advance(40); // idle, and two more ticks
    EXPECT_EQ(count("пробую догнать очередь: 2026-01-01 130000.wav"), 1u);
    EXPECT_EQ(wavsIn(config.dictationDir + "/pending"),
              std::vector<std::string>{"2026-01-01 130000.wav"});

    // The next recording lets the queue go on, into the text field in focus by then.
    focus->answers = {Paster::Focus{"AXTextField", "entry", false, {}}};
    dictate();
    ASSERT_TRUE(waitFor(Kind::inserted));
    clock->advance(1.2 + 20);
    EXPECT_TRUE(processUntil([&] { return wavsIn(config.dictationDir + "/pending").empty(); }));
    EXPECT_EQ(typed(), (std::vector<std::string>{"привет мир", "привет мир"}));
}

// What was captured before a loss is delivered: DictationEndToEnd.ASoundServerLost*.
TEST_F(DictationController_,
       AMicrophoneLostBeforeAnythingWasSaidFailsAndTheNextRecordingForgetsIt) {
    makeAndStart();
    press();
    ASSERT_TRUE(processUntil([&] { return capture->started(); }));
    capture->loseServer("связь со звуковым сервером оборвалась");
    ASSERT_TRUE(waitFor(Kind::failed));
    EXPECT_EQ(controller->state(), DictationState::failed("микрофон пропал"));
    EXPECT_EQ(controller->microphoneLost(), "связь со звуковым сервером оборвалась");
    press();
    EXPECT_FALSE(controller->microphoneLost()) << "a new recording";
}

// Answers with an edit only when the test lets it, however it was stopped.
class HeldPolisher : public TextPolishing {
public:
    bool isAvailable() const override { return true; }
    PolishOutcome polished(const std::string& text, std::stop_token) override {
        std::unique_lock guard(lock);
        asked = true;
        changed.notify_all();
        changed.wait(guard, [&] { return released; });
        return PolishOutcome{"поправлено: " + text, "правил", 5};
    }
    void waitUntilAsked() {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return asked; });
    }
    void release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool asked = false;    // guarded by lock
    bool released = false; // guarded by lock
};

TEST_F(DictationController_, EscDuringAStyleEditInsertsTheUneditedTextOnceEvenWhenTheEditArrives) {
    config.polishEnabled = true;
    auto editor = std::make_shared<HeldPolisher>();
    polisher = editor;
    makeAndStart();
    controller->togglePolished();
    ASSERT_TRUE(is(Kind::recording));
    speak(0.5);
    controller->toggle();
    ASSERT_TRUE(waitFor(Kind::polishing));
    editor->waitUntilAsked();
    EXPECT_TRUE(controller->polishReady());
    EXPECT_EQ(esc->down(DictationController::escKeyCode, 0), KeyVerdict::swallow);
    ASSERT_TRUE(waitFor(Kind::inserted));
    editor->release();
    ASSERT_TRUE(processUntil([&] { return count("правка: ") == 1; }));
    clock->advance(1.2);
    QCoreApplication::processEvents(); // the late edit, had it been taken, would paste now
    EXPECT_EQ(typed(), std::vector<std::string>{"привет мир"});
    EXPECT_EQ(controller->lastPolishNote(), "отменено — вставил как сказано");
}

TEST_F(DictationController_, TheRecogniserLoadsOnAWorkerWhichNoDictationWaitsForOrFailsWith) {
    transcriber->holdPreparing();
    makeAndStart(); // returns while the load is held
    transcriber->waitForPrepares(1);
    dictate();
    ASSERT_TRUE(waitFor(Kind::inserted));
    transcriber->releasePreparing();

    transcriber->failPreparing(std::make_exception_ptr(std::runtime_error("модель битая")));
    controller->prepareRecognizer(); // a downloaded model arrived, and does not load
    ASSERT_TRUE(
        processUntil([&] { return count("распознаватель не загрузился: модель битая") > 0; }));
    dictate();
    ASSERT_TRUE(processUntil([&] { return typed().size() == 2; }));
    EXPECT_EQ(typed(), (std::vector<std::string>{"привет мир", "привет мир"}));
}

TEST_F(DictationController_, GoneWhileRecognisingItLeavesTheRecordingOnDisk) {
    transcriber->hold();
    makeAndStart();
    dictate();
    transcriber->waitForCalls(1);
    controller.reset(); // ends the recognition it was waiting for
    EXPECT_EQ(wavsIn(config.dictationDir), std::vector<std::string>{"2026-01-01 130000.wav"});

    // Stopped while recording: the recording stays where it is, nothing is queued.
    makeAndStart();
    press();
    speak(0.5);
    controller->stop();
    EXPECT_TRUE(is(Kind::idle));
    EXPECT_EQ(wavsIn(config.dictationDir).size(), 2u);
    EXPECT_TRUE(wavsIn(config.dictationDir + "/pending").empty());
    EXPECT_EQ(keys->down(space, option), KeyVerdict::pass) << "the key goes back to the desktop";
}

TEST_F(DictationController_, FoldersThatCannotBeWrittenCostTheirFilesButNotTheDictation) {
    makeAndStart();
    // The queue and sample folders turn into files under the running controller.
    fs::remove_all(config.dictationDir + "/pending");
    dir.write("Dictation/pending", "not a folder");
    dir.write("Dictation/samples", "not a folder");
    transcriber->fail(std::make_exception_ptr(STTError::unreachable("нет связи")));
    dictate();
    ASSERT_TRUE(waitFor(Kind::queued));
    EXPECT_EQ(controller->state(), DictationState::queued(0));
    EXPECT_EQ(wavsIn(config.dictationDir).size(), 1u) << "still where it was recorded";

    clock->advance(1.2);
    dictate();
    ASSERT_TRUE(waitFor(Kind::inserted));
    EXPECT_NE(journalText().find(" разметка не сохранилась: "), std::string::npos);
}

TEST_F(DictationController_, PressesEveryTenMillisecondsLeaveOneConsistentState) {
    makeAndStart();
    for (int i = 0; i < 20; ++i) {
        keys->down(space, option);
        keys->up(space, option);
        clock->advance(0.01);
    }
    ASSERT_TRUE(processUntil([&] { return count("хоткей (задержка") == 20; }));
    // Every second press ended a recording too short to keep.
    EXPECT_TRUE(is(Kind::failed));
    EXPECT_TRUE(wavsIn(config.dictationDir).empty());
    EXPECT_EQ(transcriber->calls(), 0);
}

TEST(DictationWords, CountPiecesBetweenAnyUnicodeWhiteSpace) {
    EXPECT_EQ(wordCount(" \t\n "), 0);
    EXPECT_EQ(
        wordCount("раз\u00A0два\u2028три\u2029четыре\u0085пять\u3000шесть\u2009семь\r\nвосемь"), 8);
    EXPECT_EQ(wordCount("  слово, — знак  "), 3);
}

} // namespace
} // namespace talvoro
