#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/config.h"
#include "base/serial_queue.h"
#include "dictation/dictation_controller.h"
#include "dictation/dictation_seams.h"
#include "ui/dictation_pill.h"
#include "ui/missing_permissions.h"
#include "ui/presenter_texts.h"
#include "ui/recent_dictations.h"

namespace talvoro {

// Between the dictation controller and what the user sees: owns the pill, starts the
// controller once the microphone, the keyboard grab and XTEST are there, draws every state on
// the pill and in the menu's status line, and answers the menu. While recording or
// recognising it redraws 15 times a second; otherwise no timer runs. Main thread only.
class DictationPresenter : public QObject {
public:
    struct Options {
        PermissionProbe permissions;                    // the system's when empty
        std::function<DictationSeams()> seams;          // the real desktop when empty
        DictationPill::Options pill;                    // the display's when empty
        std::string settingsPath;                       // named when the hotkey is taken
        std::function<void(DictationController&)> tune; // before start, for tests
        std::shared_ptr<RecentDictations> recent;       // where delivered texts are kept
        // What the texts call the hotkey when the desktop holds the binding and the configured
        // combination means nothing; the configured one's name when empty.
        std::string hotkeyName;
        // When the desktop's shortcuts portal will not bind the dictation key: binds it on the
        // desktop's own keybindings instead (asking the user), and gives the keys it bound.
        using DesktopBinder = std::function<std::optional<HotkeyBinding>(const HotkeyBinding&)>;
        DesktopBinder bindOnDesktop;
        // The same where the desktop has no shortcuts portal at all: used before anything else.
        DesktopBinder bindOnDesktopFirst;
    };

    static constexpr int ticksPerSecond = 15;

    DictationPresenter(Config config, std::shared_ptr<DictationTranscriber> transcriber, bool debug,
                       Options options = {});
    ~DictationPresenter() override;

    void start();
    void stop();
    // Asks again on a thread of its own, since a frozen sound server answers only after its
    // timeouts; the answer starts dictation once nothing is missing any more.
    void retryIfPermissionsAppeared();
    void showPill(const std::string& text);
    void hidePillIfIdle();

    std::function<void()> onChange;
    std::function<bool(const std::string&)> sink;

    DictationState state() const;
    bool isRecording() const { return state().is(DictationState::Kind::recording); }
    bool isBusy() const;
    bool hasController() const { return controller_ != nullptr; }
    int pendingCount() const { return controller_ ? controller_->pendingCount() : 0; }
    std::shared_ptr<const DictationSamples> samples() const;
    std::string engineName() const { return transcriber_->identity(); }
    std::optional<std::string> lastText() const;
    std::optional<std::string> recognizerError() const;
    std::optional<std::string> lastRawText() const;
    std::optional<std::string> polishNote() const;
    std::optional<std::string> insertNote() const;
    bool canPasteRaw() const;
    double elapsed() const { return controller_ ? controller_->elapsed() : 0; }
    float level() const { return controller_ ? controller_->level() : 0; }
    std::string hotkeyDescription() const {
        return options_.hotkeyName.empty() ? config_.dictationHotkey.description()
                                           : options_.hotkeyName;
    }
    std::string rawHotkeyDescription() const { return config_.rawPasteHotkey.description(); }
    const MissingPermissions& missing() const { return missing_; }
    const std::optional<std::string>& startupError() const { return startupError_; }
    // Why the dictation hotkey is not the default one, when a fallback replaced it.
    const std::optional<std::string>& hotkeyNote() const { return hotkeyNote_; }
    std::string statusLine() const;
    bool tickerRunning() const { return ticker_.isActive(); }
    DictationPill& pill() { return *pill_; }
    const Config& config() const { return config_; }

    void pasteLast();
    void pasteRaw();
    void toggle();
    void press();
    void release();
    void cancel();

private:
    void checkPermissions();
    void permissionsAnswered(const MissingPermissions& missing);
    void begin();
    void render(const DictationState& state);
    void tick();
    void log(const std::string& line) const;
    ControllerFacts facts() const;
    std::string describeStartFailure(const std::exception& error) const;
    void startController();
    void startWithFreeHotkey();
    bool startOnDesktopBinding(const Options::DesktopBinder& bind, const std::string& why);

    Config config_; // its dictation hotkey may become a fallback at start
    const std::shared_ptr<DictationTranscriber> transcriber_;
    const bool debug_;
    Options options_;
    bool desktopBinds_ = false; // the desktop runs our commands on the key; no keyboard of ours
    std::unique_ptr<DictationPill> pill_;
    std::shared_ptr<DictationController> controller_;
    QTimer ticker_;
    std::optional<DictationState> lastLogged_;
    std::optional<DictationState> lastRendered_;
    MissingPermissions missing_;
    std::shared_ptr<SerialQueue> asker_; // made with the first ask after the start
    bool asking_ = false;                // an answer is on its way
    std::optional<std::string> startupError_;
    std::optional<std::string> hotkeyNote_;
};

} // namespace talvoro
