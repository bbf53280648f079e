#include "ui/dictation_host.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>
#include <cmath>

#include "audio/pulse_audio_sources.h"
#include "base/journal.h"
#include "base/paths.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"
#include "ui/desktop_files.h"
#include "ui/russian_forms.h"

namespace talvoro {

std::string settingsFilePath(const std::optional<std::string>& explicitPath) {
    for (const std::string& path : Config::candidates(explicitPath))
        if (QFileInfo info(QString::fromStdString(path)); info.isFile() && info.isReadable())
            return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    return Paths::config(".env");
}

DictationHost::DictationHost(Config config, bool debug, std::function<void()> onChange,
                             Options options)
    : config_(std::move(config)), debug_(debug), onChange_(std::move(onChange)),
      options_(std::move(options)), settingsPath_(settingsFilePath(options_.settingsFile)) {
    if (!options_.sources)
        options_.sources = std::make_shared<PulseAudioSources>();
    if (!options_.presenter.recent)
        options_.presenter.recent = std::make_shared<RecentDictations>(Paths::state("recent.json"));
    permissionRetry_.setInterval(options_.permissionRetryMs);
    connect(&permissionRetry_, &QTimer::timeout, this, [this] {
        if (presenter_)
            presenter_->retryIfPermissionsAppeared();
        changed();
    });
    pillHide_.setSingleShot(true);
    connect(&pillHide_, &QTimer::timeout, this, [this] {
        if (presenter_)
            presenter_->hidePillIfIdle();
    });
    connect(&settingsWatch_, &QFileSystemWatcher::fileChanged, this, [this] { settingsChanged(); });
    connect(&settingsWatch_, &QFileSystemWatcher::directoryChanged, this,
            [this] { settingsChanged(); });
}

DictationHost::~DictationHost() {
    stop();
}

DictationPresenter& DictationHost::start() {
    auto presenterOptions = options_.presenter;
    presenterOptions.settingsPath = settingsPath_;
    auto transcriber =
        options_.transcriber ? options_.transcriber(config_) : dictationTranscriber(config_);
    presenter_ = std::make_unique<DictationPresenter>(config_, std::move(transcriber), debug_,
                                                      std::move(presenterOptions));
    QPointer<DictationHost> self(this);
    presenter_->onChange = [self] {
        if (self)
            self->changed();
    };
    presenter_->start();
    if (options_.fetchModel && !modelUsable() && !download_) {
        // Files that arrived whole but still do not make a model are not fetched again and again.
        if (downloaded_)
            Journal::shared().note(
                "модель скачалась, но не годится: " +
                GigaAMTranscriber::missingPart(DictationEngineStore::modelFolder(config_))
                    .value_or("нет препроцессора gigaam-v3-preprocessor.onnx"));
        else
            startModelDownload();
    }
    watchSettings();
    changed();
    return *presenter_;
}

void DictationHost::stop() {
    permissionRetry_.stop();
    pillHide_.stop();
    if (presenter_)
        presenter_->stop();
    presenter_.reset();
}

bool DictationHost::modelUsable() const {
    return GigaAMTranscriber::isUsable(DictationEngineStore::modelFolder(config_));
}

// Every change of the presenter comes here: the icon, the permission watch, a settings reload.
void DictationHost::changed() {
    const bool waiting = presenter_ && !presenter_->hasController() &&
                         !presenter_->startupError() && !presenter_->missing().isEmpty();
    if (waiting && !permissionRetry_.isActive())
        permissionRetry_.start();
    else if (!waiting)
        permissionRetry_.stop();
    if (settingsStale_ && presenter_ && presenter_->state().is(DictationState::Kind::idle)) {
        settingsStale_ = false;
        QTimer::singleShot(0, this, [this] { restart(); });
    }
    if (onChange_)
        onChange_();
}

void DictationHost::watchSettings() {
    if (!settingsWatch_.files().isEmpty())
        settingsWatch_.removePaths(settingsWatch_.files());
    if (!settingsWatch_.directories().isEmpty())
        settingsWatch_.removePaths(settingsWatch_.directories());
    const QString file = QString::fromStdString(settingsPath_);
    if (QFileInfo::exists(file))
        settingsWatch_.addPath(file);
    // Editors replace the file rather than write into it; its folder sees that.
    const QString folder = QFileInfo(file).absolutePath();
    if (QFileInfo::exists(folder))
        settingsWatch_.addPath(folder);
}

void DictationHost::settingsChanged() {
    const std::string path = settingsFilePath(options_.settingsFile);
    const Config fresh = options_.reload ? options_.reload() : Config::load(options_.settingsFile);
    Config narrowed = fresh;
    narrowed.limitToLocalOnly();
    watchSettings();
    if (path == settingsPath_ && narrowed.values == config_.values)
        return;
    settingsPath_ = path;
    config_ = narrowed;
    Journal::shared().note("настройки изменились: " + settingsPath_);
    settingsStale_ = true;
    changed();
}

void DictationHost::restart() {
    if (!presenter_)
        return;
    stop();
    start();
}

MenuBarIcon::State DictationHost::iconState() const {
    if (!presenter_)
        return MenuBarIcon::State::idle();
    if (presenter_->isRecording())
        return MenuBarIcon::State::recording(presenter_->level());
    return presenter_->pendingCount() >= 1 ? MenuBarIcon::State::queued()
                                           : MenuBarIcon::State::idle();
}

DictationMenu::Facts DictationHost::menuFacts() const {
    DictationMenu::Facts facts;
    if (presenter_) {
        presenter_->retryIfPermissionsAppeared();
        facts.hasPresenter = true;
        facts.statusLine = presenter_->statusLine();
        facts.hotkeyNote = presenter_->hotkeyNote();
        if (!config_.microphone.empty()) {
            const AudioSourceList sources = options_.sources->list();
            if (sources.serverAnswers && !sources.find(config_.microphone))
                facts.microphoneNote =
                    config_.microphone + " не подключён — пишу с микрофона по умолчанию";
        }
        facts.lastText = presenter_->lastText();
        facts.canPasteRaw = presenter_->canPasteRaw();
        facts.rawHotkey = presenter_->rawHotkeyDescription();
        facts.polishNote = presenter_->polishNote();
        facts.insertNote = presenter_->insertNote();
        facts.missing = presenter_->missing();
        if (auto samples = presenter_->samples()) {
            facts.samplePairs = samples->count();
            facts.sampleBytes = facts.samplePairs > 0 ? samples->bytes() : 0;
        }
    } else {
        facts.statusLine = "диктовка: " + config_.dictationHotkey.description();
    }
    facts.engineLine = engineLine();
    facts.recent = options_.presenter.recent->entries();
    facts.hasDictionary = !config_.dictFile.empty();
    facts.versionLine = DictationMenu::versionLine();
    return facts;
}

DictationMenu::Actions DictationHost::menuActions(std::function<void()> quit) {
    QPointer<DictationHost> self(this);
    auto weakly = [self](void (DictationHost::*method)()) {
        return [self, method] {
            if (self)
                (self.data()->*method)();
        };
    };
    DictationMenu::Actions actions;
    actions.pasteLast = [self] {
        if (self && self->presenter_)
            self->presenter_->pasteLast();
    };
    actions.pasteRaw = [self] {
        if (self && self->presenter_)
            self->presenter_->pasteRaw();
    };
    actions.openDictionary = weakly(&DictationHost::openDictionary);
    actions.copyText = [](const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    };
    actions.clearRecent = [recent = options_.presenter.recent] { recent->clear(); };
    actions.collectSamples = weakly(&DictationHost::collectSamples);
    actions.quit = std::move(quit);
    return actions;
}

std::string DictationHost::engineLine() const {
    return DictationMenu::engineLine(
        download_ ? std::optional<double>(downloadShare_) : std::nullopt, modelUsable(),
        GigaAMTranscriber::version, presenter_ ? presenter_->recognizerError() : std::nullopt);
}

SettingsWindow::Options DictationHost::settingsWindowOptions() {
    QPointer<DictationHost> self(this);
    SettingsWindow::Options options;
    options.settingsPath = settingsPath_;
    options.config = [self] { return self ? self->config_ : Config{}; };
    options.hotkey = [self] {
        if (!self)
            return HotkeyBinding::defaultBinding();
        return self->presenter_ ? self->presenter_->config().dictationHotkey
                                : self->config_.dictationHotkey;
    };
    options.hotkeyNote = [self]() -> std::optional<std::string> {
        return self && self->presenter_ ? self->presenter_->hotkeyNote() : std::nullopt;
    };
    options.settingsWritten = [self] {
        if (self)
            self->settingsChanged();
    };
    options.sources = options_.sources;
    options.modelLine = [self] { return self ? self->engineLine() : std::string{}; };
    options.modelMissing = [self] { return self && !self->download_ && !self->modelUsable(); };
    options.download = [self] {
        if (self)
            self->startModelDownload();
    };
    return options;
}

void DictationHost::requestMicrophone() {
    if (!presenter_)
        return;
    QPointer<DictationHost> self(this);
    presenter_->requestMicrophoneIfNeeded([self] {
        if (!self || !self->presenter_)
            return;
        self->presenter_->retryIfPermissionsAppeared();
        self->changed();
    });
}

void DictationHost::flash(const std::string& text, double seconds) {
    if (!presenter_)
        return;
    presenter_->showPill(text);
    pillHide_.start(static_cast<int>(seconds * 1000));
}

void DictationHost::collectSamples() {
    if (!presenter_ || !presenter_->samples())
        return;
    const auto samples = presenter_->samples();
    try {
        const int pairs = samples->count();
        const std::string archive = samples->archive(std::nullopt, presenter_->engineName());
        revealInFileManager(archive);
        flash("архив собран · " + std::to_string(pairs) + " " + pairsForm(pairs) + " → Загрузки",
              4.0);
    } catch (const std::exception& error) {
        Journal::shared().note(std::string("разметка: ") + error.what());
        flash("архив не собрался", 4.0);
    }
}

void DictationHost::openDictionary() {
    if (config_.dictFile.empty() || !ensureDictionaryFile(config_.dictFile))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(config_.dictFile)));
}

void DictationHost::apply(DictationEngine engine) {
    DictationEngineStore::set(engine);
    stop();
    start();
    flash("распознавание " + title(engine), 3.0);
    changed();
}

void DictationHost::startModelDownload() {
    if (download_)
        return;
    if (presenter_)
        presenter_->showPill("качаю модель…");
    QPointer<DictationHost> self(this);
    GigaAMDownload::Report report = [self](const GigaAMDownload::Event& event) {
        if (self)
            self->downloadEvent(event);
    };
    const std::string folder = DictationEngineStore::modelFolder(config_);
    if (options_.downloadParts.empty())
        download_ = std::make_unique<GigaAMDownload>(folder, GigaAMDownload::sources(config_),
                                                     std::move(report));
    else
        download_ = std::make_unique<GigaAMDownload>(folder, GigaAMDownload::sources(config_),
                                                     std::move(report), options_.downloadParts);
    downloadShare_ = 0;
    download_->start();
    changed();
}

void DictationHost::downloadEvent(const GigaAMDownload::Event& event) {
    if (const auto* progress = std::get_if<GigaAMDownload::Progress>(&event)) {
        downloadShare_ = progress->fraction;
        if (presenter_ && presenter_->state().is(DictationState::Kind::idle))
            presenter_->showPill("качаю модель · " +
                                 std::to_string(static_cast<int>(progress->fraction * 100)) + "%");
        changed();
        return;
    }
    // The download may not be destroyed inside its own report.
    download_.release()->deleteLater();
    if (std::holds_alternative<GigaAMDownload::Done>(event)) {
        downloaded_ = true;
        apply(DictationEngine::local);
        if (presenter_)
            flash("модель готова · " + presenter_->hotkeyDescription(), 4.0);
    } else if (const auto* failed = std::get_if<GigaAMDownload::Failed>(&event)) {
        Journal::shared().note("модель GigaAM не скачалась: " + failed->message);
        flash("модель не скачалась", 6.0);
        changed();
    }
}

} // namespace talvoro
