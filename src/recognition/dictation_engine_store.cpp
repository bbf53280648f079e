#include "recognition/dictation_engine_store.h"

#include <QSettings>
#include <QString>

#include "base/build_constants.h"
#include "base/paths.h"
#include "recognition/gigaam_transcriber.h"
#include "recognition/missing_local_model.h"

namespace talvoro {

std::string DictationEngineStore::preferencesPath() {
    return Paths::config("preferences.conf");
}

std::optional<DictationEngine> DictationEngineStore::stored() {
    QSettings settings(QString::fromStdString(preferencesPath()), QSettings::IniFormat);
    return dictationEngineFromRaw(settings.value(preferenceKey).toString().toStdString());
}

DictationEngine DictationEngineStore::current(const Config& config) {
    if (isVoiceOnlyBuild)
        return DictationEngine::local;
    return stored().value_or(config.dictationEngine);
}

void DictationEngineStore::set(DictationEngine engine) {
    makePrivateFolder(Paths::config());
    QSettings settings(QString::fromStdString(preferencesPath()), QSettings::IniFormat);
    settings.setValue(preferenceKey, QString::fromStdString(rawValue(engine)));
    settings.sync();
}

std::string DictationEngineStore::modelFolder(const Config& config) {
    return config.modelDir;
}

bool DictationEngineStore::streamAllowed(const Config& config, DictationEngine engine) {
    return config.streamEnabled && engine == DictationEngine::server;
}

std::shared_ptr<DictationTranscriber> DictationEngineStore::gigaam(const Config& config) {
    const std::string folder = modelFolder(config);
    if (!GigaAMTranscriber::isUsable(folder))
        return nullptr;
    return std::make_shared<GigaAMTranscriber>(folder);
}

std::shared_ptr<DictationTranscriber> dictationTranscriber(const Config& config) {
    if (auto recogniser = DictationEngineStore::gigaam(config))
        return recogniser;
    return std::make_shared<MissingLocalModel>();
}

} // namespace talvoro
