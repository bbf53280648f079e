#include "ui/dictation_host.h"
#include "session/session_probe.h"
#include "session/session_texts.h"
#include "ui/gnome_shortcut.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>
#include <cmath>

#include "audio/pulse_audio_sources.h"
#include "base/build_constants.h"
#include "base/journal.h"
#include "base/main_thread.h"
#include "base/paths.h"
#include "download/model_import.h"
#include "hotkey/gnome_keybindings.h"
#include "recognition/dictation_engine_store.h"
#include "recognition/gigaam_transcriber.h"
#include "ui/desktop_files.h"
#include "ui/question_box.h"
#include "ui/russian_forms.h"

namespace talvoro {

namespace {

// GNOME's own keybinding running «talvoro toggle», asked for once: on a combination GNOME does
// not keep for itself (unless the user chose it), and without a question when it is there.
std::optional<HotkeyBinding> bindOnGnome(HotkeyBinding keys, bool chosen) {
    const GnomeShortcut shortcut;
    if (shortcut.bound())
        return keys;
    if (!chosen) {
        const std::string kept = gnomeKeybindings::desktopListing(); // asked once, not per key
        for (const HotkeyBinding& candidate : HotkeyBinding::firstStartFallbacks())
            if (gnomeKeybindings::holds(kept, keys))
                keys = candidate;
    }
    const QString question = QString::fromStdString(
        "Рабочий стол не назначает сочетания через портал. Назначить в GNOME сочетание " +
        keys.description() +
        ", которое запускает «talvoro toggle»? Его можно поменять в Настройках › Клавиатура › "
        "Комбинации клавиш.");
    if (!askUser(question, "Назначить", "Не сейчас"))
        return std::nullopt;
    try {
        shortcut.bind(keys,
                      "'" + QCoreApplication::applicationFilePath().toStdString() + "' toggle");
    } catch (const GnomeShortcut::Error& error) {
        Journal::shared().note(error.what());
        return std::nullopt;
    }
    return keys;
}

} // namespace

std::string settingsFilePath(const std::optional<std::string>& explicitPath) {
    for (const std::string& path : Config::candidates(explicitPath))
        if (QFileInfo info(QString::fromStdString(path)); info.isFile() && info.isReadable())
            return QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
    return Paths::config(".env");
}

DictationHost::DictationHost(Config config, bool debug, std::function<void()> onChange,
                             Options options)
    : config_(std::move(config)), debug_(debug), onChange_(std::move(onChange)),
      options_(std::move(options)), settingsPath_(settingsFilePath(options_.settingsFile)),
      retry_([this] {
          if (modelMissing())
              fetch(true);
      }) {
    if (!options_.sources)
        options_.sources = std::make_shared<PulseAudioSources>();
    if (!options_.presenter.recent)
        options_.presenter.recent = std::make_shared<RecentDictations>(Paths::state("recent.json"));
    if (options_.fetchModel)
        retry_.watchNetwork();
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
    importStop_.request_stop(); // a copy in progress ends at its next block
    stop();
}

DictationPresenter& DictationHost::start() {
    auto presenterOptions = options_.presenter;
    presenterOptions.settingsPath = settingsPath_;
    // Alt+Space would only reach our X11 windows there: the user presses what they bound.
    if (const SystemSession& session = systemSession();
        session.facts.kind == SessionKind::wayland &&
        session.decision.hotkey.path == HotkeyPath::desktopBinding)
        presenterOptions.hotkeyName = "сочетание рабочего стола";
    if (const SystemSession& session = systemSession();
        session.facts.kind == SessionKind::wayland && session.facts.desktopIs("GNOME")) {
        presenterOptions.bindOnDesktop =
            [chosen = config_.dictationHotkeyChosen](const HotkeyBinding& wanted) {
                return bindOnGnome(wanted, chosen);
            };
        if (session.decision.hotkey.path == HotkeyPath::desktopBinding)
            presenterOptions.bindOnDesktopFirst = presenterOptions.bindOnDesktop;
    }
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
    checkModel();
    if (options_.fetchModel && modelMissing() && !download_) {
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

void DictationHost::checkModel() {
    try {
        modelChecked_ = GigaAMDownload::present(DictationEngineStore::modelFolder(config_),
                                                modelParts(config_));
    } catch (const ModelManifestError& error) {
        modelChecked_ = false;
        Journal::shared().note(error.what());
    }
}

// Every change of the presenter comes here: the icon, the permission watch, a settings reload.
void DictationHost::changed() {
    const bool waiting = presenter_ && !presenter_->hasController() &&
                         !presenter_->startupError() && !presenter_->missing().isEmpty();
    if (waiting && !permissionRetry_.isActive())
        permissionRetry_.start();
    else if (!waiting)
        permissionRetry_.stop();
    // Not from inside the presenter's own report: restart() destroys it.
    if (restartPending_ && presenter_ && presenter_->state().is(DictationState::Kind::idle)) {
        restartPending_ = false;
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
    restartPending_ = true;
    changed();
}

void DictationHost::restart() {
    if (!presenter_)
        return;
    if (!presenter_->state().is(DictationState::Kind::idle)) {
        restartPending_ = true; // a press came meanwhile
        return;
    }
    stop();
    start();
    if (const auto message = std::exchange(restartMessage_, std::nullopt))
        flash(message->first, message->second);
    changed();
}

void DictationHost::restartWhenIdle(std::string message, double seconds) {
    restartMessage_ = {std::move(message), seconds};
    if (presenter_ && !presenter_->state().is(DictationState::Kind::idle)) {
        restartPending_ = true;
        changed();
        return;
    }
    restartPending_ = false;
    if (presenter_)
        restart();
    else {
        start();
        flash(restartMessage_->first, restartMessage_->second);
        restartMessage_.reset();
    }
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
    facts.modelMissing = modelMissing();
    facts.downloading = downloading();
    facts.importing = importing_;
    facts.recent = options_.presenter.recent->entries();
    facts.hasDictionary = !config_.dictFile.empty();
    facts.versionLine = DictationMenu::versionLine();
    const SystemSession& session = systemSession();
    facts.sessionLine = decisionLine(session.decision);
    facts.sessionBlocker = session.decision.blocker();
    if (session.facts.desktopIs("GNOME"))
        facts.gnomeShortcut = GnomeShortcut().bound();
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
    actions.downloadModel = weakly(&DictationHost::startModelDownload);
    actions.importModel = weakly(&DictationHost::chooseModelFolder);
    actions.quit = std::move(quit);
    return actions;
}

std::string DictationHost::engineLine() const {
    if (importing_)
        return "устанавливаю модель из папки · " + std::to_string(importPercent_) + "%";
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
    options.modelMissing = [self] {
        return self && !self->download_ && !self->importing_ && !self->modelUsable();
    };
    options.download = [self] {
        if (self)
            self->startModelDownload();
    };
    return options;
}

// Nothing to ask for on this desktop: only whether the sound server has a source by now.
void DictationHost::requestMicrophone() {
    if (presenter_)
        presenter_->retryIfPermissionsAppeared();
}

void DictationHost::flash(const std::string& text, double seconds) {
    if (!presenter_)
        return;
    presenter_->showPill(text);
    pillHide_.start(static_cast<int>(seconds * 1000));
}

void DictationHost::inBackground(std::function<void()> job) {
    if (options_.background)
        return options_.background(std::move(job));
    if (!worker_)
        worker_ = std::make_unique<SerialQueue>("ostrel.host-work");
    worker_->async(std::move(job));
}

// zip may pack hundreds of megabytes: it runs in the background, one archive at a time.
void DictationHost::collectSamples() {
    if (!presenter_ || !presenter_->samples() || collecting_)
        return;
    collecting_ = true;
    QPointer<DictationHost> self(this);
    inBackground([self, samples = presenter_->samples(), engine = presenter_->engineName()] {
        int pairs = 0;
        std::optional<std::string> archive;
        std::string failure;
        try {
            pairs = samples->count();
            archive = samples->archive(std::nullopt, engine);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        onMainThread([self, pairs, archive, failure] {
            if (self)
                self->collected(pairs, archive, failure);
        });
    });
}

void DictationHost::collected(int pairs, const std::optional<std::string>& archive,
                              const std::string& failure) {
    collecting_ = false;
    if (!archive) {
        Journal::shared().note("разметка: " + failure);
        flash("архив не собрался", 4.0);
        return;
    }
    revealInFileManager(*archive);
    flash("архив собран · " + std::to_string(pairs) + " " + pairsForm(pairs) + " → Загрузки", 4.0);
}

void DictationHost::openDictionary() {
    if (config_.dictFile.empty() || !ensureDictionaryFile(config_.dictFile))
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(config_.dictFile)));
}

void DictationHost::apply(DictationEngine engine) {
    DictationEngineStore::set(engine);
    restartWhenIdle("распознавание " + title(engine), 3.0);
}

void DictationHost::startModelDownload() {
    fetch(false);
}

void DictationHost::fetch(bool quietly) {
    if (download_ || importing_)
        return;
    retry_.cancel();
    quietDownload_ = quietly;
    std::vector<GigaAMDownload::Part> parts;
    try {
        parts = modelParts(config_);
    } catch (const ModelManifestError& error) {
        Journal::shared().note(error.what());
        flash("список файлов модели негоден — подробности в журнале", 6.0);
        return;
    }
    if (presenter_ && !quietly)
        presenter_->showPill("качаю модель…");
    QPointer<DictationHost> self(this);
    GigaAMDownload::Report report = [self](const GigaAMDownload::Event& event) {
        if (self)
            self->downloadEvent(event);
    };
    const std::string folder = DictationEngineStore::modelFolder(config_);
    download_ = std::make_unique<GigaAMDownload>(folder, GigaAMDownload::sources(config_),
                                                 std::move(report), std::move(parts));
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
        retry_.succeeded();
        modelInstalled();
    } else if (const auto* failed = std::get_if<GigaAMDownload::Failed>(&event)) {
        retry_.failed();
        const auto minutes = DownloadRetry::delays[std::min<std::size_t>(
            retry_.failures() - 1, DownloadRetry::delays.size() - 1)];
        Journal::shared().note("модель GigaAM не скачалась: " + failed->message +
                               "; повторю через " + std::to_string(minutes.count()) +
                               " мин или как только появится сеть");
        if (!quietDownload_)
            flash("модель не скачалась — повторю сам", 6.0);
        changed();
    }
}

void DictationHost::modelInstalled() {
    if (download_) { // the model came from elsewhere (model import)
        download_->cancel();
        download_.release()->deleteLater();
    }
    retry_.cancel();
    try {
        GigaAMDownload::discardPartials(DictationEngineStore::modelFolder(config_),
                                        modelParts(config_));
    } catch (const ModelManifestError&) {
        // the partial files stay; checking the model journals what is wrong with the list
    }
    modelChecked_ = true;
    DictationEngineStore::set(DictationEngine::local);
    restartWhenIdle("модель готова · " + (presenter_ ? presenter_->hotkeyDescription()
                                                     : config_.dictationHotkey.description()),
                    4.0);
}

void DictationHost::chooseModelFolder() {
    const QString chosen = QFileDialog::getExistingDirectory(
        nullptr, "Папка с файлами модели (v3_e2e_rnnt_…)", QDir::homePath());
    if (!chosen.isEmpty())
        installModelFrom(chosen.toStdString());
}

void DictationHost::installModelFrom(const std::string& folder) {
    if (importing_)
        return;
    std::vector<ModelPart> parts;
    try {
        parts = modelParts(config_);
    } catch (const ModelManifestError& error) {
        imported(error.what());
        return;
    }
    // The download writes into the same folder: it stops first and keeps what it has.
    resumeDownload_ = download_ != nullptr;
    download_.reset();
    retry_.cancel();
    importing_ = true;
    importPercent_ = 0;
    importStop_ = std::stop_source();
    if (presenter_ && presenter_->state().is(DictationState::Kind::idle))
        presenter_->showPill("устанавливаю модель…");
    QPointer<DictationHost> self(this);
    inBackground([self, folder, parts, model = DictationEngineStore::modelFolder(config_),
                  stop = importStop_.get_token()] {
        int shown = 0; // whole percent last sent to the main thread
        const auto progress = [&](std::int64_t copied, std::int64_t total) {
            const int percent = static_cast<int>(100 * copied / std::max<std::int64_t>(total, 1));
            if (percent == std::exchange(shown, percent))
                return;
            onMainThread([self, percent] {
                if (self && self->importing_) {
                    self->importPercent_ = percent;
                    self->changed();
                }
            });
        };
        std::optional<std::string> failure;
        try {
            importModel(folder, model, parts, progress, stop);
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
        onMainThread([self, failure] {
            if (self)
                self->imported(failure);
        });
    });
    changed();
}

void DictationHost::imported(const std::optional<std::string>& failure) {
    importing_ = false;
    const bool resume = std::exchange(resumeDownload_, false);
    if (!failure) {
        modelInstalled();
        return;
    }
    Journal::shared().note("модель не установлена: " + *failure);
    flash("модель не установлена — подробности в журнале", 6.0);
    if (resume)
        fetch(true); // from the partial files it kept
    changed();
}

} // namespace talvoro
