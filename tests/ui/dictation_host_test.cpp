#include <fstream>

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
    std::string settings = dir / "dictation.env";
};

TEST_F(HostTest, ASoundServerThatComesLaterStartsDictation) {
    missing.microphone = true;
    auto options = hostOptions();
    options.permissionRetryMs = 10;
    int changes = 0;
    DictationHost host(
        config, false, [&] { ++changes; }, options);
    DictationPresenter& presenter = host.start();
    EXPECT_FALSE(presenter.hasController());
    EXPECT_FALSE(presenter.tickerRunning());
    EXPECT_GT(changes, 0) << "the menu hears of it";
    EXPECT_EQ(presenter.statusLine(), "диктовка: нет разрешения (микрофон)");
    EXPECT_TRUE(host.waitingForPermissions());
    missing.microphone = false;
    EXPECT_TRUE(processUntil([&] { return presenter.hasController(); }));
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
    DictationHost host(config, false, {}, hostOptions());
    host.start();
    auto state = [&] { return host.presenter()->state(); };
    press(state);
    speak(0.5);
    press(state);
    ASSERT_TRUE(processUntil([&] { return state().is(Kind::inserted); }));
    // A zip that waits for the test to go on: packing on the main thread would hold the test.
    const std::string go = dir / "go";
    const std::string zip =
        dir.write("bin/zip", "#!/bin/sh\nfor i in $(seq 300); do [ -e '" + go +
                                 "' ] && exec /usr/bin/zip \"$@\"; sleep 0.01; done\nexit 3\n");
    std::filesystem::permissions(zip, std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (dir / "bin:" + path).c_str(), 1);
    host.collectSamples();
    dir.write("go", "");
    EXPECT_TRUE(processUntil([&] {
        return host.presenter()->pill().scene().label.toStdString() ==
               "архив собран · 1 пара → Загрузки";
    })) << host.presenter()->pill().scene().label.toStdString();
    ::setenv("PATH", path.c_str(), 1);
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
    std::vector<std::string> bodies;
    auto options = hostOptions();
    options.fetchModel = true;
    std::string manifest;
    for (const auto& part : publishedModelParts()) {
        bodies.push_back(std::string(20000, part.localName[10]));
        server.put(part.remoteName, bodies.back());
        manifest += part.remoteName + " 20000 " +
                    PartCheck::sha256(server.root() + "/" + part.remoteName) + "\n";
    }
    config.values["MODEL_MANIFEST"] = dir.write("manifest.txt", manifest);
    config.modelSources = {server.base("ok")};
    std::vector<std::string> lines; // the menu's engine line at every change
    DictationHost* current = nullptr;
    DictationHost host(
        config, false,
        [&] {
            if (current)
                lines.push_back(current->menuFacts().engineLine);
        },
        options);
    current = &host;
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
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), started) != lines.end());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.starts_with("качаю GigaAM v3 RNN-T int8 · ") && line.ends_with('%') &&
               line != started;
    })) << "progress past the start";
    EXPECT_EQ(host.presenter()->pill().scene().label.toStdString(), "модель готова · Alt+Space");
    EXPECT_EQ(DictationEngineStore::stored(), DictationEngine::local);
    EXPECT_EQ(readFile(config.modelDir + "/gigaam-v3-vocab.txt"), bodies.back());
    // Files this small make no model: the host says so instead of fetching them again.
    EXPECT_FALSE(host.downloading());
    EXPECT_NE(journal().find("модель скачалась, но не годится: "), std::string::npos);
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
