#include "ui/settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "audio/pulse_audio_sources.h"
#include "base/build_constants.h"
#include "base/private_file.h"
#include "base/settings_file.h"
#include "base/settings_writer.h"
#include "cleanup/name_dict.h"
#include "hotkey/hotkey_tap.h"

namespace talvoro {

namespace {

constexpr const char* hotkeyKey = "DICTATION_HOTKEY";
constexpr const char* microphoneKey = "DICTATION_MICROPHONE";

QLabel* noteLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->hide();
    return label;
}

void setNote(QLabel* label, const std::string& text) {
    label->setText(QString::fromStdString(text));
    label->setVisible(!text.empty());
}

// Free when this program's own connection may grab it for a moment.
std::optional<std::string> grabRefusal(const HotkeyBinding& binding) {
    try {
        HotkeyTap probe(binding, [](double) {});
        probe.start();
    } catch (const HotkeyTap::Failure& failure) {
        // Without the advice to edit the settings file: this window is where it changes.
        const std::string reason = failure.what();
        return reason.substr(0, reason.find(" — задай"));
    }
    return std::nullopt;
}

std::string fileText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(SettingsFile::maxBytes);
    std::string text(bytes.constData(), static_cast<size_t>(bytes.size()));
    return SettingsFile::isValidUTF8(text) ? text : std::string{};
}

void openFolder(const std::string& path) {
    QDir().mkpath(QString::fromStdString(path));
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

} // namespace

SettingsWindow::SettingsWindow(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), meter_(options_.meterCapture) {
    if (!options_.sources)
        options_.sources = std::make_shared<PulseAudioSources>();
    if (!options_.autostart)
        options_.autostart = Autostart::forThisUser();
    setWindowTitle(QString(appDisplayName) + " — настройки");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow("Хоткей диктовки", makeHotkeyRow());
    form->addRow("Микрофон", makeMicrophoneRow());
    layout->addLayout(form);
    layout->addWidget(makeDictionaryRow(), 1);
    layout->addWidget(makeBottomRows());
    problem_ = noteLabel(this);
    problem_->setForegroundRole(QPalette::WindowText);
    layout->addWidget(problem_);
    resize(560, 500);

    meterTick_.setInterval(1000 / 15);
    connect(&meterTick_, &QTimer::timeout, this,
            [this] { level_->setValue(static_cast<int>(meter_.takePeak() * 100)); });
    refreshTick_.setInterval(1000);
    connect(&refreshTick_, &QTimer::timeout, this, [this] {
        fillSources();
        model_->setText(QString::fromStdString(options_.modelLine ? options_.modelLine() : ""));
        download_->setVisible(options_.modelMissing && options_.modelMissing());
    });
    refresh();
}

SettingsWindow::~SettingsWindow() = default;

Config SettingsWindow::config() const {
    return options_.config ? options_.config() : Config{};
}

QWidget* SettingsWindow::makeHotkeyRow() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    auto judge = [this](const HotkeyBinding& binding) -> std::optional<std::string> {
        const HotkeyBinding active = options_.hotkey ? options_.hotkey() : config().dictationHotkey;
        if (binding == active)
            return std::nullopt; // held by this program itself
        return options_.hotkeyJudge ? options_.hotkeyJudge(binding) : grabRefusal(binding);
    };
    hotkey_ = new HotkeyField(
        judge, [this](const HotkeyBinding& binding) { write(hotkeyKey, binding.description()); });
    hotkeyNote_ = noteLabel(box);
    hotkey_->onRefused = [this](const std::string& reason) { setNote(hotkeyNote_, reason); };
    column->addWidget(hotkey_);
    column->addWidget(hotkeyNote_);
    return box;
}

QWidget* SettingsWindow::makeMicrophoneRow() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    microphone_ = new QComboBox(box);
    microphone_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(microphone_, &QComboBox::activated, this,
            [this](int index) { microphoneChosen(index); });
    level_ = new QProgressBar(box);
    level_->setRange(0, 100);
    level_->setTextVisible(false);
    level_->setMaximumHeight(8);
    level_->setAccessibleName("уровень микрофона");
    microphoneNote_ = noteLabel(box);
    // Captioned, or the empty bar of a quiet room reads as a broken field.
    auto* meterRow = new QHBoxLayout;
    auto* caption = new QLabel("уровень", box);
    caption->setForegroundRole(QPalette::PlaceholderText);
    meterRow->addWidget(caption);
    meterRow->addWidget(level_, 1);
    column->addWidget(microphone_);
    column->addLayout(meterRow);
    column->addWidget(microphoneNote_);
    return box;
}

QWidget* SettingsWindow::makeDictionaryRow() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 8, 0, 0);
    auto* title = new QLabel("Словарь замен — после распознавания, на этом компьютере", box);
    dictionary_ = new QTableWidget(0, 2, box);
    dictionary_->setHorizontalHeaderLabels({"Слышится (через запятую)", "Писать"});
    dictionary_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    dictionary_->verticalHeader()->hide();
    dictionary_->setAlternatingRowColors(true);
    connect(dictionary_, &QTableWidget::itemChanged, this, [this] {
        if (!filling_)
            saveDictionary();
    });
    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton("Добавить", box);
    auto* remove = new QPushButton("Удалить", box);
    connect(add, &QPushButton::clicked, this, [this] {
        const int row = dictionary_->rowCount();
        filling_ = true;
        dictionary_->insertRow(row);
        dictionary_->setItem(row, 0, new QTableWidgetItem);
        dictionary_->setItem(row, 1, new QTableWidgetItem);
        filling_ = false;
        dictionary_->editItem(dictionary_->item(row, 0));
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (dictionary_->currentRow() < 0)
            return;
        dictionary_->removeRow(dictionary_->currentRow());
        saveDictionary();
    });
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    column->addWidget(title);
    column->addWidget(dictionary_, 1);
    column->addLayout(buttons);
    return box;
}

QWidget* SettingsWindow::makeBottomRows() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    autostart_ = new QCheckBox("Запускать при входе в систему", box);
    connect(autostart_, &QCheckBox::toggled, this, [this](bool on) {
        try {
            on ? options_.autostart->enable() : options_.autostart->disable();
        } catch (const std::exception& error) {
            say(error.what());
        }
    });
    auto* modelRow = new QHBoxLayout;
    model_ = new QLabel(box);
    model_->setWordWrap(true);
    download_ = new QPushButton("Скачать", box);
    connect(download_, &QPushButton::clicked, this, [this] {
        if (options_.download)
            options_.download();
    });
    modelRow->addWidget(model_, 1);
    modelRow->addWidget(download_);
    auto* folders = new QHBoxLayout;
    auto* recordings = new QPushButton("Папка записей", box);
    auto* samples = new QPushButton("Папка разметки", box);
    connect(recordings, &QPushButton::clicked, this, [this] { openFolder(config().dictationDir); });
    connect(samples, &QPushButton::clicked, this,
            [this] { openFolder(config().dictationDir + "/samples"); });
    folders->addWidget(recordings);
    folders->addWidget(samples);
    folders->addStretch(1);
    column->addWidget(autostart_);
    column->addLayout(modelRow);
    column->addLayout(folders);
    return box;
}

void SettingsWindow::refresh() {
    const Config now = config();
    const HotkeyBinding active = options_.hotkey ? options_.hotkey() : now.dictationHotkey;
    hotkey_->setBinding(active);
    const bool hotkeyFromEnvironment = now.environmentKeys.count(hotkeyKey) > 0;
    hotkey_->setEnabled(!hotkeyFromEnvironment);
    if (hotkeyFromEnvironment)
        setNote(hotkeyNote_,
                std::string("задан в окружении (") + hotkeyKey + ") — здесь не поменять");
    else if (const auto note = options_.hotkeyNote ? options_.hotkeyNote() : std::nullopt)
        setNote(hotkeyNote_, *note);
    microphone_->setEnabled(now.environmentKeys.count(microphoneKey) == 0);
    shownSources_.reset();
    fillSources();
    fillDictionary();
    {
        const QSignalBlocker quiet(autostart_);
        autostart_->setChecked(options_.autostart->isEnabled());
    }
    model_->setText(QString::fromStdString(options_.modelLine ? options_.modelLine() : ""));
    download_->setVisible(options_.modelMissing && options_.modelMissing());
}

void SettingsWindow::fillSources() {
    const AudioSourceList list = options_.sources->list();
    if (shownSources_ == list)
        return;
    shownSources_ = list;
    const std::string chosen = config().microphone;
    const QSignalBlocker quiet(microphone_);
    microphone_->clear();
    const AudioSource* fallback = list.find(list.defaultName);
    microphone_->addItem(
        fallback ? QString("как в системе — %1").arg(QString::fromStdString(fallback->description))
                 : QString("как в системе"),
        QString());
    for (const AudioSource& source : list.sources)
        microphone_->addItem(QString::fromStdString(source.description),
                             QString::fromStdString(source.name));
    std::string note;
    if (config().environmentKeys.count(microphoneKey))
        note = std::string("задан в окружении (") + microphoneKey + ") — здесь не поменять";
    else if (!list.serverAnswers)
        note = "звуковой сервер (PulseAudio/PipeWire) не отвечает";
    else if (!chosen.empty() && !list.find(chosen)) {
        microphone_->addItem(QString::fromStdString(chosen + " — не подключён"),
                             QString::fromStdString(chosen));
        note = "выбранного микрофона сейчас нет — пишу как в системе";
    }
    microphone_->setCurrentIndex(
        std::max(0, microphone_->findData(QString::fromStdString(chosen))));
    setNote(microphoneNote_, note);
}

void SettingsWindow::microphoneChosen(int index) {
    const std::string name = microphone_->itemData(index).toString().toStdString();
    write(microphoneKey, name.empty() ? std::nullopt : std::optional<std::string>(name));
    if (isVisible() && name != listening_) {
        listening_ = name;
        meter_.listen(name);
    }
}

void SettingsWindow::fillDictionary() {
    dictionaryPath_ = config().dictFile;
    const std::string text = fileText(dictionaryPath_);
    document_ = DictionaryDocument(QFile::exists(QString::fromStdString(dictionaryPath_))
                                       ? text
                                       : std::string(NameDict::templateText));
    filling_ = true;
    dictionary_->setRowCount(0);
    for (const DictionaryDocument::Row& row : document_.rows()) {
        const int at = dictionary_->rowCount();
        dictionary_->insertRow(at);
        dictionary_->setItem(at, 0, new QTableWidgetItem(row.heard));
        dictionary_->setItem(at, 1, new QTableWidgetItem(row.written));
    }
    filling_ = false;
}

void SettingsWindow::saveDictionary() {
    if (dictionaryPath_.empty())
        return;
    std::vector<DictionaryDocument::Row> rows;
    for (int r = 0; r < dictionary_->rowCount(); ++r) {
        auto cell = [&](int c) {
            const QTableWidgetItem* item = dictionary_->item(r, c);
            return item ? item->text() : QString();
        };
        rows.push_back({cell(0), cell(1)});
    }
    try {
        PrivateFile::replace(dictionaryPath_, document_.text(rows));
        document_ = DictionaryDocument(fileText(dictionaryPath_));
        say("");
    } catch (const std::exception& error) {
        say(error.what());
    }
}

void SettingsWindow::write(const std::string& key, const std::optional<std::string>& value) {
    try {
        SettingsWriter::update(options_.settingsPath, {{key, value}});
        say("");
    } catch (const std::exception& error) {
        say(error.what());
        return;
    }
    if (options_.settingsWritten)
        options_.settingsWritten();
}

void SettingsWindow::say(const std::string& problem) {
    setNote(problem_, problem);
}

std::string SettingsWindow::problem() const {
    return problem_->text().toStdString();
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    listening_ = microphone_->currentData().toString().toStdString();
    meter_.listen(listening_);
    meterTick_.start();
    refreshTick_.start();
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    meterTick_.stop();
    refreshTick_.stop();
    meter_.stop();
}

} // namespace talvoro
