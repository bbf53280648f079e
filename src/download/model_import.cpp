#include "download/model_import.h"

#include <QCryptographicHash>
#include <QFile>
#include <filesystem>
#include <unistd.h>

#include "download/part_check.h"

namespace talvoro {

namespace fs = std::filesystem;

namespace {

struct Copying {
    const ImportProgress& progress;
    std::stop_token stop;
    std::int64_t copied = 0;
    std::int64_t total = 0;
};

// Copies one part to its partial file, checking it on the way.
void copyChecked(const ModelPart& part, const fs::path& source, const fs::path& partial,
                 Copying& copying) {
    const std::string name = source.string();
    std::error_code error;
    const auto size = fs::file_size(source, error);
    if (error)
        throw ModelImportError("нет файла " + name);
    if (static_cast<std::int64_t>(size) != part.bytes)
        throw ModelImportError(name + ": " + std::to_string(size) + " Б вместо " +
                               std::to_string(part.bytes) + " — файл не докачан или не тот");
    QFile in(QString::fromStdString(name));
    QFile out(QString::fromStdString(partial.string()));
    if (!in.open(QIODevice::ReadOnly))
        throw ModelImportError("не читается " + name + ": " + in.errorString().toStdString());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ModelImportError("не удалось записать " + partial.string() + ": " +
                               out.errorString().toStdString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    while (!in.atEnd()) {
        if (copying.stop.stop_requested())
            throw ModelImportError("установка модели прервана");
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() && in.error() != QFile::NoError)
            throw ModelImportError("не читается " + name + ": " + in.errorString().toStdString());
        hash.addData(block);
        if (out.write(block) != block.size())
            throw ModelImportError("не удалось записать " + partial.string() + ": " +
                                   out.errorString().toStdString());
        copying.copied += block.size();
        if (copying.progress)
            copying.progress(copying.copied, copying.total);
    }
    if (!out.flush())
        throw ModelImportError("не удалось записать " + partial.string());
    if (hash.result().toHex().toStdString() != part.sha256)
        throw ModelImportError(name + ": SHA-256 не тот — файл повреждён или от другой модели");
}

} // namespace

void importModel(const std::string& from, const std::string& modelFolder,
                 const std::vector<ModelPart>& parts, const ImportProgress& progress,
                 std::stop_token stop) {
    std::error_code error;
    fs::create_directories(modelFolder, error);
    if (error)
        throw ModelImportError("не удалось завести папку модели: " + error.message());
    const auto partial = [&](const ModelPart& part) {
        return fs::path(modelFolder) / (part.localName + ".import-" + std::to_string(::getpid()));
    };
    Copying copying{progress, std::move(stop)};
    for (const ModelPart& part : parts)
        copying.total += part.bytes;
    try {
        for (const ModelPart& part : parts)
            copyChecked(part, fs::path(from) / part.remoteName, partial(part), copying);
    } catch (...) {
        for (const ModelPart& part : parts)
            fs::remove(partial(part), error);
        throw;
    }
    const PartCheck check(modelFolder);
    for (const ModelPart& part : parts) {
        fs::rename(partial(part), fs::path(modelFolder) / part.localName, error);
        if (error)
            throw ModelImportError("не удалось положить " + part.localName +
                                   " на место: " + error.message());
        check.remember(part);
    }
}

} // namespace talvoro
