#include <condition_variable>
#include <fstream>
#include <future>

#include "base/main_thread.h"
#include "download/model_server.h"
#include "download/part_check.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"
#include "ui/presenter_rig.h"

using namespace talvoro;
using namespace talvoro::testing;
using Kind = DictationState::Kind;

namespace {

std::string journal() {
    Journal::shared().flush();
    return readFile(Journal::shared().path());
}

class HostTest : public PresenterRig {
protected:
    void writeSettings(const std::string& hotkey) {
        // A new file in place of the old, as editors save.
        const std::string fresh = settings + ".new";
        std::ofstream(fresh) << "DICTATION_HOTKEY=" << hotkey << "\n";
        std::filesystem::rename(fresh, settings);
    }
    static std::string body(const ModelPart& part) {
        return std::string(20000, part.localName[10]);
    }
    // Four small parts, served under their published names from server.root(), and their list.
    void serveSmallModel(const ModelServer& server) {
        std::string manifest;
        for (const auto& part : publishedModelParts())
            manifest += part.remoteName + " 20000 " +
                        PartCheck::sha256(server.put(part.remoteName, body(part))) + "\n";
        config.values["MODEL_MANIFEST"] = dir.write("manifest.txt", manifest);
    }
    bool hasLine(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::string settings = dir / "dictation.env";
    std::vector<std::string> lines; // the host's engine line at every change
};

// The host's background jobs, run on a thread of the test's once it lets them go (or ends).
struct HeldWork {
    SerialQueue queue{"test.held-work"}; // ends last: a job never let go runs once `go` is gone
    std::promise<void> go;
    std::shared_future<void> held = go.get_future().share();
    std::function<void(std::function<void()>)> runner() {
        return [this](std::function<void()> job) {
            queue.async([held = held, job = std::move(job)] {
                held.wait();
                job();
            });
        };
    }
};

TEST_F(HostTest, ASoundServerThatComesLaterStartsDictationAndAFrozenOneFreezesNothing) {
    std::mutex lock; // guards the sound server below: it answers the start, then freezes
    std::condition_variable thawed;
    bool frozen = true, micMissing = true;
    int asks = 0, mainThreadAsks = 0;
    auto locked = [&](const int& value) {
        std::lock_guard guard(lock);
        return value;
    };
    auto options = hostOptions();
    options.permissionRetryMs = 10;
    options.presenter.permissions = [&] {
        std::unique_lock guard(lock);
        ++(isMainThread() ? mainThreadAsks : asks);
        thawed.wait(guard, [&] { return !frozen || isMainThread(); });
        MissingPermissions missing;
        missing.microphone = micMissing;
        return missing;
    };
    int changes = 0;
    DictationHost host(
        config, false, [&] { ++changes; }, options);
    DictationPresenter& presenter = host.start();
    EXPECT_FALSE(presenter.hasController());
    EXPECT_FALSE(presenter.tickerRunning());
    EXPECT_GT(changes, 0) << "the menu hears of it";
    EXPECT_EQ(presenter.statusLine(), "диктовка: нет разрешения (микрофон)");
    EXPECT_TRUE(host.waitingForPermissions());
    ASSERT_TRUE(processUntil([&] { return locked(asks) == 1; })); // and waits off the main thread
    const int polled = changes;
    ASSERT_TRUE(processUntil([&] { return changes >= polled + 3; })) << "the main thread polls on";
    EXPECT_EQ(locked(asks), 1) << "one question at a time";
    {
        std::lock_guard guard(lock);
        frozen = micMissing = false;
    }
    thawed.notify_all();
    EXPECT_TRUE(processUntil([&] { return presenter.hasController(); }));
    EXPECT_EQ(locked(mainThreadAsks), 1) << "only the start asks on the main thread";
    EXPECT_TRUE(keys->running());
    EXPECT_FALSE(presenter.tickerRunning()) << "no timer while idle";
    EXPECT_FALSE(host.waitingForPermissions()) << "no timer once dictation runs";
}

TEST_F(HostTest, AChangedSettingsFileRestartsDictationOnceItIsIdle) {
    writeSettings("ctrl+shift+f");
    auto options = hostOptions();
    options.settingsFile = settings;
    options.reload = [&] {
        Config fresh = Config::load(settings);
        fresh.dictationDir = config.dictationDir;
        return fresh;
    };
    Config loaded = options.reload();
    loaded.limitToLocalOnly();
    DictationHost host(loaded, false, {}, options);
    host.start();
    EXPECT_EQ(host.settingsPath(), settings);
    EXPECT_EQ(host.presenter()->hotkeyDescription(), "Ctrl+Shift+F");
    auto state = [&] { return host.presenter()->state(); };
    keys->down(3, HotkeyBinding::control | HotkeyBinding::shift);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::recording); }));

    writeSettings("ctrl+alt+d");
    ASSERT_TRUE(processUntil([&] { return host.config().dictationHotkey.keyCode == 2; }));
    EXPECT_EQ(host.presenter()->hotkeyDescription(), "Ctrl+Shift+F") << "not while recording";

    speak(0.3);
    transcriber->answer("готово");
    keys->down(3, HotkeyBinding::control | HotkeyBinding::shift);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::inserted); }));
    clock->advance(5);
    EXPECT_TRUE(processUntil(
        [&] { return host.presenter() && host.presenter()->hotkeyDescription() == "Ctrl+Alt+D"; }));
    EXPECT_TRUE(host.presenter()->hasController());
    EXPECT_NE(journal().find("настройки изменились: " + settings), std::string::npos);
}

TEST_F(HostTest, SamplesArePackedOffTheMainThread) {
    HeldWork work;
    auto options = hostOptions();
    options.background = work.runner();
    DictationHost host(config, false, {}, options);
    host.start();
    auto state = [&] { return host.presenter()->state(); };
    press(state);
    speak(0.5);
    press(state);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::inserted); }));
    auto label = [&] { return host.presenter()->pill().scene().label.toStdString(); };
    host.collectSamples();
    QCoreApplication::processEvents();
    EXPECT_EQ(label().find("архив"), std::string::npos) << "packed on the main thread";
    work.go.set_value();
    EXPECT_TRUE(processUntil([&] { return label() == "архив собран · 1 пара → Загрузки"; }))
        << label();
}

TEST_F(HostTest, AFailedDownloadIsJournaledAndShown) {
    config.modelSources = {"http://127.0.0.1:9"};
    auto options = hostOptions();
    options.fetchModel = true;
    DictationHost host(config, false, {}, options);
    DictationPresenter& presenter = host.start();
    EXPECT_TRUE(host.downloading());
    EXPECT_EQ(presenter.pill().scene().label.toStdString(), "качаю модель…");
    ASSERT_TRUE(processUntil([&] { return !host.downloading(); }));
    EXPECT_EQ(presenter.pill().scene().label.toStdString(), "модель не скачалась — повторю сам");
    EXPECT_NE(journal().find("модель GigaAM не скачалась: "), std::string::npos);
    EXPECT_TRUE(host.downloadRetry().pending());
    const DictationMenu::Facts facts = host.menuFacts();
    EXPECT_EQ(facts.engineLine, "модель не скачана — нужна сеть один раз");
    EXPECT_TRUE(facts.modelMissing && !facts.downloading) << "the menu offers the download";
}

TEST_F(HostTest, ADownloadShowsItsProgressAppliesTheModelAndIsNotRepeated) {
    ModelServer server;
    ASSERT_TRUE(server.running());
    serveSmallModel(server);
    config.modelSources = {server.base("ok")};
    auto options = hostOptions();
    options.fetchModel = true;
    DictationHost host(
        config, false, [&] { lines.push_back(host.engineLine()); }, options);
    host.start();
    ASSERT_TRUE(host.downloading());
    auto state = [&] { return host.presenter()->state(); };
    press(state); // a dictation runs while the model arrives: it is not cut off
    ASSERT_TRUE(processUntil([&] { return !host.downloading(); }));
    EXPECT_TRUE(state().is(Kind::recording));
    speak(0.5);
    press(state);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::inserted); }));
    EXPECT_EQ(pastes, 1);
    clock->advance(1.2); // idle: now the recogniser changes
    ASSERT_TRUE(processUntil([&] {
        return host.presenter()->pill().scene().label.toStdString() == "модель готова · Alt+Space";
    }));
    const std::string started = "качаю GigaAM v3 RNN-T int8 · 0%";
    EXPECT_TRUE(hasLine(started));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.starts_with("качаю GigaAM v3 RNN-T int8 · ") && line.ends_with('%') &&
               line != started;
    })) << "progress past the start";
    EXPECT_EQ(host.presenter()->pill().scene().label.toStdString(), "модель готова · Alt+Space");
    EXPECT_EQ(DictationEngineStore::stored(), DictationEngine::local);
    EXPECT_EQ(readFile(config.modelDir + "/gigaam-v3-vocab.txt"), body(publishedModelParts()[3]));
    // Files this small make no model: the host says so instead of fetching them again.
    EXPECT_FALSE(host.downloading());
    EXPECT_NE(journal().find("модель скачалась, но не годится: "), std::string::npos);
}

TEST_F(HostTest, AnImportStopsTheDownloadAndCopiesAWholeModelOffTheMainThread) {
    ModelServer server;
    ASSERT_TRUE(server.running());
    serveSmallModel(server);
    config.modelSources = {server.base("stall:encoder")}; // half the encoder, then silence
    HeldWork work;
    auto options = hostOptions();
    options.fetchModel = true;
    options.background = work.runner();
    DictationHost host(
        config, false, [&] { lines.push_back(host.engineLine()); }, options);
    host.start();
    ASSERT_TRUE(processUntil([&] { return host.downloadShare() > 0; }));
    host.installModelFrom(server.root()); // the files under their published names
    EXPECT_FALSE(host.downloading()) << "the download stops before the copy begins";
    host.startModelDownload();
    EXPECT_FALSE(host.downloading()) << "and none starts while it runs";
    QCoreApplication::processEvents();
    EXPECT_EQ(host.menuFacts().engineLine, "устанавливаю модель из папки · 0%");
    EXPECT_FALSE(std::filesystem::exists(config.modelDir + "/gigaam-v3-vocab.txt"))
        << "copied on the main thread";
    work.go.set_value();
    ASSERT_TRUE(processUntil([&] { return !host.importing(); }));
    for (const auto& part : publishedModelParts())
        EXPECT_EQ(readFile(config.modelDir + "/" + part.localName), body(part));
    EXPECT_TRUE(GigaAMDownload::present(config.modelDir, modelParts(config), [](auto& path) {
        ADD_FAILURE() << path << " is not remembered as checked";
        return std::string();
    }));
    EXPECT_FALSE(std::filesystem::exists(config.modelDir + "/gigaam-v3-encoder.onnx.part"));
    EXPECT_TRUE(hasLine("устанавливаю модель из папки · 50%"));
}

TEST_F(HostTest, ACorruptModelShowsTheRecognisersErrorAndOffersNothingBroken) {
    namespace fs = std::filesystem;
    fs::create_directories(config.modelDir);
    for (const auto& part : GigaAMTranscriber::Files::required)
        fs::resize_file(dir.write("model/" + std::string(part.name), ""), part.minimumBytes + 1);
    fs::copy_file(TALVORO_BINARY_DIR "/test-models/gigaam/gigaam-v3-preprocessor.onnx",
                  config.modelDir + "/gigaam-v3-preprocessor.onnx");
    ASSERT_TRUE(GigaAMTranscriber::isUsable(config.modelDir));
    config.modelSources = {"http://127.0.0.1:9"};
    auto options = hostOptions();
    options.transcriber = {}; // the desktop's choice: the recogniser on that folder
    options.fetchModel = true;
    DictationHost host(config, false, {}, options);
    DictationPresenter& presenter = host.start();
    EXPECT_TRUE(host.modelMissing()) << "files of the right sizes are not the model";
    auto state = [&] { return presenter.state(); };
    press(state);
    speak(0.6);
    press(state);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::failed); }));
    EXPECT_EQ(presenter.pill().scene().label.toStdString(), "модель повреждена");
    ASSERT_TRUE(processUntil([&] { return !host.downloading(); }));
    const DictationMenu::Facts facts = host.menuFacts();
    EXPECT_EQ(facts.engineLine.rfind("модель не загрузилась: ", 0), 0u) << facts.engineLine;
    EXPECT_FALSE(facts.lastText);
    EXPECT_FALSE(facts.canPasteRaw);
    EXPECT_EQ(pastes, 0);
}

} // namespace
