#include "dictation/dictation_samples.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

#include "audio/wav_reader.h"
#include "base/build_constants.h"
#include "base/journal.h"
#include "base/paths.h"
#include "dictation/local_stamp.h"

namespace fs = std::filesystem;

extern char** environ;

namespace talvoro {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::uintmax_t sizeOrZero(const fs::path& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// A plain write into a new file readable by the owner alone.
void writePrivateFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "не создать " + path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), "не записать " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        throw std::system_error(errno, std::generic_category(), "не записать " + path);
}

// Written beside the target and renamed over it, so a reader never sees half a note.
void writeAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".part";
    writePrivateFile(temporary, bytes);
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        fs::remove(temporary, error);
        throw std::system_error(error, "не заменить " + path);
    }
}

std::string loginName() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name && *entry->pw_name)
        return entry->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return "?";
}

std::string hostName() {
    std::string host = QSysInfo::machineHostName().toStdString();
    for (std::size_t at; (at = host.find(".local")) != std::string::npos;)
        host.erase(at, 6);
    return host;
}

// zip -r -q DESTINATION . -x .DS_Store in the folder, quiet; its exit status, -1 when it did
// not exit by itself. Throws SamplesError when it cannot be started.
int runZip(const std::string& folder, const std::string& destination) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{"zip", "-r", "-q", destination, ".", "-x", ".DS_Store"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int failure = ::posix_spawnp(&child, "zip", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0)
        throw DictationSamples::SamplesError::zipNotStarted(failure);
    int raw = 0;
    while (::waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// zip makes its file with the umask, and the archive holds the user's speech: it is packed
// inside a private folder beside the destination, closed to others and only then moved there.
// The zip status, -1 when there was nowhere to pack.
int packPrivately(const std::string& folder, const std::string& destination) {
    std::string staging = fs::path(destination).parent_path().string() + "/.talvoro-XXXXXX";
    if (!::mkdtemp(staging.data()))
        return -1;
    const std::string packed = staging + "/archive.zip";
    std::error_code error;
    int status = -1;
    try {
        status = runZip(folder, packed);
    } catch (...) {
        fs::remove_all(staging, error);
        throw;
    }
    if (status == 0) {
        fs::permissions(packed, fs::perms::owner_read | fs::perms::owner_write, error);
        if (!error)
            fs::rename(packed, destination, error);
    }
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return error && status == 0 ? -1 : status;
}

std::string baseName() {
    const std::string hex = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    return LocalStamp::fileName(QDateTime::currentDateTime()) + "-" + lowered(hex.substr(0, 4));
}

} // namespace

DictationSamples::SamplesError DictationSamples::SamplesError::zipFailed(int status) {
    return SamplesError(Kind::zipFailed, status,
                        "архив не собрался (zip вернул " + std::to_string(status) + ")");
}

DictationSamples::SamplesError DictationSamples::SamplesError::empty() {
    return SamplesError(Kind::empty, 0, "нечего собирать — разметки пока нет");
}

DictationSamples::SamplesError DictationSamples::SamplesError::zipNotStarted(int error) {
    return SamplesError(Kind::zipNotStarted, 0,
                        error == ENOENT
                            ? std::string("архив не собрался: нет программы zip (пакет zip)")
                            : "архив не собрался: zip не запустился (ошибка " +
                                  std::to_string(error) + ")");
}

DictationSamples::DictationSamples(std::string directory, std::int64_t sizeLimit)
    : directory_(std::move(directory)), sizeLimit_(sizeLimit) {}

const std::string& DictationSamples::who() {
    static const std::string value = loginName() + "@" + hostName();
    return value;
}

const std::string& DictationSamples::appVersion() {
    static const std::string value = std::string(version) + " (" + buildNumber + ")";
    return value;
}

void DictationSamples::keep(const std::string& wav, const std::string& text,
                            const std::string& source, const std::string& engine,
                            const std::optional<std::string>& model) const {
    std::error_code error;
    if (!fs::is_regular_file(wav, error))
        return;
    try {
        keepOrThrow(wav, text, source, engine, model);
    } catch (const std::exception& failure) {
        Journal::shared().note(std::string("разметка не сохранилась: ") + failure.what());
        return;
    }
    trim();
}

void DictationSamples::keepOrThrow(const std::string& wav, const std::string& text,
                                   const std::string& source, const std::string& engine,
                                   const std::optional<std::string>& model) const {
    if (!makePrivateFolder(directory_))
        throw std::runtime_error("не создать папку " + directory_);
    std::string base = baseName();
    std::error_code error;
    while (fs::exists(directory_ + "/" + base + ".wav", error) ||
           fs::exists(directory_ + "/" + base + ".json", error))
        base = baseName();
    const std::string copy = directory_ + "/" + base + ".wav";
    // A link is made at once, where a copy of a long recording held up the text for
    // milliseconds; a finished recording is never written again. Another file system copies.
    fs::create_hard_link(wav, copy, error);
    if (error) {
        error.clear();
        fs::copy_file(wav, copy, error);
    }
    if (error)
        throw std::runtime_error("не скопировать запись в " + copy + " (" + error.message() + ")");
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, error);

    QJsonObject record{
        {"at", QString::fromStdString(LocalStamp::withZone(QDateTime::currentDateTime()))},
        {"text", QString::fromStdString(text)},
        {"source", QString::fromStdString(source)},
        {"engine", QString::fromStdString(engine)},
        {"who", QString::fromStdString(who())},
        {"app", QString::fromStdString(appVersion())},
        {"wav", QString::fromStdString(base + ".wav")},
    };
    if (model)
        record.insert("model", QString::fromStdString(*model));
    try {
        const WAVReader reader(copy, true);
        record.insert("seconds", std::round(reader.durationSeconds() * 100) / 100);
        record.insert("rate", static_cast<qint64>(reader.sampleRate));
    } catch (const std::exception&) {
        // Not a readable WAV: the record goes without its length.
    }
    writePrivateFile(directory_ + "/" + base + ".json",
                     QJsonDocument(record).toJson(QJsonDocument::Indented).toStdString());
}

std::vector<std::string> DictationSamples::wavs() const {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error))
        if (lowered(it->path().extension().string()) == ".wav")
            found.push_back(it->path().string());
    std::sort(found.begin(), found.end());
    return found;
}

int DictationSamples::count() const {
    return static_cast<int>(wavs().size());
}

std::int64_t DictationSamples::bytes() const {
    std::int64_t total = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error))
        total += static_cast<std::int64_t>(sizeOrZero(it->path()));
    return total;
}

void DictationSamples::trim() const {
    std::int64_t total = bytes();
    const std::int64_t limit = sizeLimit();
    for (const std::string& wav : wavs()) {
        if (total <= limit)
            return;
        fs::path json = wav;
        json.replace_extension(".json");
        total -= static_cast<std::int64_t>(sizeOrZero(wav) + sizeOrZero(json));
        std::error_code ignored;
        fs::remove(wav, ignored);
        fs::remove(json, ignored);
    }
}

std::string DictationSamples::noteText(const std::optional<std::string>& engine, int pairs) {
    return "Разметка диктовки «Тальворо».\nКто: " + who() + "\nВерсия: " + appVersion() +
           "\nМодель: " + engine.value_or("не сказали") +
           "\nСобрано: " + LocalStamp::withZone(QDateTime::currentDateTime()) +
           "\nПар: " + std::to_string(pairs) +
           "\n\nНа каждую диктовку два файла: <имя>.wav — что наговорили,\n<имя>.json — как это "
           "распозналось и чем.";
}

std::string DictationSamples::archive(const std::optional<std::string>& into,
                                      const std::optional<std::string>& engine) const {
    const int pairs = count();
    if (pairs == 0)
        throw SamplesError::empty();
    const std::string folder = into.value_or(Paths::home() + "/Downloads");
    const std::string destination = folder + "/Тальворо — разметка " + who() + " " +
                                    LocalStamp::day(QDateTime::currentDateTime()) + ".zip";
    std::error_code error;
    fs::create_directories(folder, error);
    fs::remove(destination, error);
    try {
        writeAtomically(directory_ + "/" + noteName, noteText(engine, pairs));
    } catch (const std::exception&) {
        // Packed without a fresh note.
    }

    const int status = packPrivately(directory_, destination);
    if (status != 0 || !fs::exists(destination, error))
        throw SamplesError::zipFailed(status);
    Journal::shared().note("разметка собрана: пар " + std::to_string(pairs) + " → " +
                           fs::path(destination).filename().string());
    return destination;
}

} // namespace talvoro
