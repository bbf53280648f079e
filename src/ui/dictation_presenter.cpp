#include "ui/dictation_presenter.h"

#include <QPointer>
#include <QTime>
#include <cstdio>

#include "base/journal.h"
#include "base/main_thread.h"
#include "hotkey/hotkey_tap.h"
#include "hotkey/session_key_source.h"

namespace talvoro {

using Kind = DictationState::Kind;

DictationPresenter::DictationPresenter(Config config,
                                       std::shared_ptr<DictationTranscriber> transcriber,
                                       bool debug, Options options)
    : config_(std::move(config)), transcriber_(std::move(transcriber)), debug_(debug),
      options_(std::move(options)), pill_(std::make_unique<DictationPill>(options_.pill)) {
    pill_->onClick = [this] { cancel(); }; // Esc of desktops that deliver no keys to us
    ticker_.setInterval(1000 / ticksPerSecond);
    connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
}

DictationPresenter::~DictationPresenter() {
    stop();
}

void DictationPresenter::checkPermissions() {
    missing_ = options_.permissions ? options_.permissions() : MissingPermissions::check();
}

void DictationPresenter::start() {
    checkPermissions();
    begin();
}

void DictationPresenter::begin() {
    if (missing_.isEmpty()) {
        try {
            try {
                if (!startOnDesktopBinding(options_.bindOnDesktopFirst, {}))
                    startWithFreeHotkey();
            } catch (const HotkeyTap::Failure& failure) {
                if (failure.kind() != HotkeyTap::Failure::Kind::refused ||
                    !startOnDesktopBinding(options_.bindOnDesktop,
                                           std::string("портал отказал — ") + failure.what()))
                    throw;
            }
            startupError_.reset();
        } catch (const std::exception& error) {
            startupError_ = describeStartFailure(error);
            Journal::shared().note("диктовка не запустилась: " + *startupError_);
        }
    }
    if (onChange)
        onChange();
}

void DictationPresenter::startController() {
    QPointer<DictationPresenter> self(this);
    DictationSeams seams = options_.seams ? options_.seams() : DictationSeams{};
    if (desktopBinds_)
        seams.keyboard = [](const HotkeyBinding&) { return makeDesktopBindingKeySource(); };
    auto controller = DictationController::create(
        config_, transcriber_,
        [self](const DictationState& state) {
            if (self)
                self->render(state);
        },
        std::move(seams));
    controller->sink = [self](const std::string& text) {
        return self && self->sink && self->sink(text);
    };
    if (debug_)
        controller->log = [self](const std::string& line) {
            if (self)
                self->log(line);
        };
    if (options_.tune)
        options_.tune(*controller);
    controller->start();
    controller_ = std::move(controller);
}

// A new user whose desktop holds the default gets the first free fallback instead of an error.
void DictationPresenter::startWithFreeHotkey() {
    using Failure = HotkeyTap::Failure;
    try {
        startController();
    } catch (const Failure& failure) {
        if (failure.kind() != Failure::Kind::conflict || config_.dictationHotkeyChosen)
            throw;
        const HotkeyBinding taken = config_.dictationHotkey;
        for (const HotkeyBinding& candidate : HotkeyBinding::firstStartFallbacks()) {
            config_.dictationHotkey = candidate;
            try {
                startController();
            } catch (const Failure& again) {
                if (again.kind() == Failure::Kind::conflict)
                    continue;
                config_.dictationHotkey = taken;
                throw;
            }
            hotkeyNote_ = taken.description() + " занято другой программой — диктовка на " +
                          candidate.description();
            Journal::shared().note("хоткей: " + *hotkeyNote_);
            return;
        }
        config_.dictationHotkey = taken;
        throw;
    }
}

// No portal, or it refused: the desktop's own keybinding runs «talvoro toggle» on the key.
bool DictationPresenter::startOnDesktopBinding(const Options::DesktopBinder& bind,
                                               const std::string& why) {
    const std::optional<HotkeyBinding> bound = bind ? bind(config_.dictationHotkey) : std::nullopt;
    if (!bound)
        return false;
    if (!why.empty())
        Journal::shared().note("хоткей: " + why);
    config_.dictationHotkey = *bound;
    options_.hotkeyName.clear(); // the keys are known: the greeting names them
    desktopBinds_ = true;
    startController();
    hotkeyNote_ = "сочетание " + bound->description() +
                  " назначено в настройках рабочего стола на «talvoro toggle» (нажать — "
                  "начать, ещё раз — вставить)";
    Journal::shared().note("хоткей: " + *hotkeyNote_);
    return true;
}

std::string DictationPresenter::describeStartFailure(const std::exception& error) const {
    const auto* tap = dynamic_cast<const HotkeyTap::Failure*>(&error);
    if (tap && tap->kind() == HotkeyTap::Failure::Kind::conflict && !options_.settingsPath.empty())
        return std::string(error.what()) + " (файл настроек: " + options_.settingsPath + ")";
    return error.what();
}

void DictationPresenter::stop() {
    ticker_.stop();
    // Taken out first: a state the controller reports while it stops finds no controller.
    if (auto controller = std::move(controller_))
        controller->stop();
    pill_->hide();
}

void DictationPresenter::retryIfPermissionsAppeared() {
    if (controller_ || startupError_ || asking_)
        return;
    asking_ = true;
    if (!asker_)
        asker_ = std::make_shared<SerialQueue>("ostrel.permissions");
    QPointer<DictationPresenter> self(this);
    PermissionProbe probe =
        options_.permissions ? options_.permissions : PermissionProbe(&MissingPermissions::check);
    // The task holds the queue, so a presenter that goes meanwhile never waits for the answer.
    asker_->async([self, probe = std::move(probe), asker = asker_] {
        const MissingPermissions missing = probe();
        onMainThread([self, missing] {
            if (self)
                self->permissionsAnswered(missing);
        });
    });
}

void DictationPresenter::permissionsAnswered(const MissingPermissions& missing) {
    asking_ = false;
    if (controller_ || startupError_ || missing == missing_)
        return;
    missing_ = missing;
    begin();
}

void DictationPresenter::showPill(const std::string& text) {
    pill_->show(text);
}

void DictationPresenter::hidePillIfIdle() {
    if (state().is(Kind::idle))
        pill_->hide();
}

DictationState DictationPresenter::state() const {
    return controller_ ? controller_->state() : DictationState::idle();
}

bool DictationPresenter::isBusy() const {
    const DictationState now = state();
    return now.is(Kind::recording) || now.is(Kind::transcribing) || now.is(Kind::polishing);
}

std::shared_ptr<const DictationSamples> DictationPresenter::samples() const {
    return controller_ ? controller_->samplesStore() : nullptr;
}

std::optional<std::string> DictationPresenter::lastText() const {
    return controller_ ? controller_->lastInserted() : std::nullopt;
}

std::optional<std::string> DictationPresenter::recognizerError() const {
    return controller_ ? controller_->recognizerError() : std::nullopt;
}

std::optional<std::string> DictationPresenter::lastRawText() const {
    return controller_ ? controller_->lastRaw() : std::nullopt;
}

std::optional<std::string> DictationPresenter::polishNote() const {
    return controller_ ? controller_->lastPolishNote() : std::nullopt;
}

std::optional<std::string> DictationPresenter::insertNote() const {
    return controller_ ? controller_->lastInsertNote() : std::nullopt;
}

bool DictationPresenter::canPasteRaw() const {
    const auto raw = lastRawText();
    const auto text = lastText();
    return raw && text && *raw != *text;
}

std::string DictationPresenter::statusLine() const {
    StatusFacts facts;
    facts.startupError = startupError_;
    facts.missing = missing_;
    if (controller_) {
        facts.state = controller_->state();
        facts.pending = controller_->pendingCount();
        facts.failure = controller_->lastFailure();
    }
    facts.hotkey = hotkeyDescription();
    return talvoro::statusLine(facts);
}

void DictationPresenter::pasteLast() {
    if (controller_)
        controller_->pasteLast();
}

void DictationPresenter::pasteRaw() {
    if (controller_)
        controller_->pasteRaw();
}

void DictationPresenter::toggle() {
    if (controller_)
        controller_->desktopTap();
}

void DictationPresenter::press() {
    if (controller_)
        controller_->press();
}

void DictationPresenter::release() {
    if (controller_)
        controller_->release();
}

void DictationPresenter::cancel() {
    if (controller_)
        controller_->escape();
}

ControllerFacts DictationPresenter::facts() const {
    ControllerFacts facts;
    facts.hotkey = hotkeyDescription();
    if (!controller_)
        return facts;
    facts.elapsed = controller_->elapsed();
    facts.level = controller_->level();
    facts.live = controller_->liveText();
    facts.pending = controller_->pendingCount();
    facts.failure = controller_->lastFailure();
    facts.insertIcon = controller_->lastInsertIcon();
    facts.microphoneLost = controller_->microphoneLost().has_value();
    return facts;
}

void DictationPresenter::render(const DictationState& state) {
    if (debug_ && state != lastLogged_) {
        lastLogged_ = state;
        log(describe(state));
    }
    if (state.is(Kind::inserted) && !(lastRendered_ && lastRendered_->is(Kind::inserted)) &&
        options_.recent)
        if (const auto text = lastText())
            options_.recent->add({*text, state.app.value_or(""), QDateTime::currentDateTime()});
    const PillPicture picture = pillPicture(state, facts());
    // A new dictation starts at the pointer, not where a message (the greeting, the download)
    // happened to be shown.
    if (state.is(Kind::recording) && !(lastRendered_ && lastRendered_->is(Kind::recording)))
        pill_->hide();
    lastRendered_ = state;
    if (picture.hidden)
        pill_->hide();
    else
        pill_->show(picture.text, picture.glyph, picture.level, picture.live);
    pill_->setClickable(state.is(Kind::recording));
    const bool moving = state.is(Kind::recording) || state.is(Kind::transcribing);
    if (moving && !ticker_.isActive())
        ticker_.start();
    else if (!moving)
        ticker_.stop();
    if (onChange)
        onChange();
}

void DictationPresenter::tick() {
    if (!controller_)
        return ticker_.stop();
    const DictationState now = controller_->state();
    if (now.is(Kind::recording))
        render(now);
    else if (now.is(Kind::transcribing) && controller_->liveText())
        render(now);
    else if (!now.is(Kind::transcribing))
        ticker_.stop();
}

void DictationPresenter::log(const std::string& line) const {
    const std::string time = QTime::currentTime().toString("HH:mm:ss").toStdString();
    std::printf("  %s %s\n", time.c_str(), line.c_str());
    std::fflush(stdout);
}

} // namespace talvoro
