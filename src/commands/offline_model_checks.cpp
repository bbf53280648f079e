#include "commands/offline_model_checks.h"

#include <QProcess>
#include <QSet>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "audio/sample_converter.h"
#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "cleanup/whisper_noise.h"
#include "recognition/gigaam_transcriber.h"
#include "recognition/local_dictation_stream.h"
#include "recognition/speech_cuts.h"

namespace fs = std::filesystem;

namespace talvoro {

const char* const offlineSentence = "Откройте файл отчёта, проверьте цифры за март и отправьте "
                                    "таблицу руководителю до пятницы.";

namespace {

using Seconds = std::chrono::duration<double>;
constexpr int rate = 16000;

// What the test model hears as words (tools/models/make_test_model.py): one tone a word.
const char* const toneWords = "привет мир как дела да нет";

std::vector<std::int16_t> toInt16(const std::vector<float>& samples) {
    std::vector<std::int16_t> values;
    values.reserve(samples.size());
    for (const float sample : samples)
        values.push_back(static_cast<std::int16_t>(
            std::lround(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f))));
    return values;
}

void writeWav(const std::string& path, const std::vector<std::int16_t>& samples) {
    WAVWriter writer(path);
    writer.write(samples);
    writer.close();
}

// The sentence in espeak-ng's Russian voice, brought to 16 kHz mono by the program's own
// converter. Answers why not, when it could not be made.
std::optional<std::string> speak(const std::string& path) {
    const std::string spoken = path + ".espeak.wav";
    const int status = QProcess::execute(
        "espeak-ng", {"-v", "ru", "-w", QString::fromStdString(spoken), offlineSentence});
    if (status != 0) {
        std::error_code ignored;
        fs::remove(spoken, ignored);
        return status == -2 ? "espeak-ng не установлен" : "espeak-ng не смог произнести фразу";
    }
    try {
        const WAVReader reader(spoken, true);
        const std::vector<float> samples = reader.samples(0, INT64_MAX);
        SampleConverter converter(
            AudioFormat{static_cast<double>(reader.sampleRate), 1, SampleType::float32});
        std::vector<std::int16_t> converted, tail;
        const bool done = converter.convert({converter.inputFormat(), samples.data(),
                                             static_cast<std::int64_t>(samples.size())},
                                            converted) &&
                          converter.finish(tail);
        fs::remove(spoken);
        if (!done)
            return "запись не перевелась в 16 кГц";
        converted.insert(converted.end(), tail.begin(), tail.end());
        writeWav(path, converted);
    } catch (const std::exception& error) {
        return std::string("запись не читается: ") + error.what();
    }
    return std::nullopt;
}

// The test model's words as tones of 0.32 s, each followed by as much silence.
void tones(const std::string& path) {
    std::vector<std::int16_t> samples(5120, 0);
    for (const double frequency : {300.0, 450.0, 600.0, 800.0, 1250.0, 1500.0}) {
        for (int i = 0; i < 5120; ++i)
            samples.push_back(static_cast<std::int16_t>(
                std::lround(16000 * std::sin(2 * std::numbers::pi * frequency * i / rate))));
        samples.insert(samples.end(), 5120, 0);
    }
    writeWav(path, samples);
}

// The recording said again and again, with half a second between, until at least `seconds`.
std::vector<float> repeated(const std::vector<float>& once, double seconds) {
    std::vector<float> samples;
    while (!once.empty() && static_cast<double>(samples.size()) < seconds * rate) {
        samples.insert(samples.end(), once.begin(), once.end());
        samples.resize(samples.size() + rate / 2, 0.0f);
    }
    return samples;
}

QSet<QString> wordsOf(const std::string& text) {
    const QStringList words =
        WhisperNoise::normalize(QString::fromStdString(text)).split(u' ', Qt::SkipEmptyParts);
    return QSet<QString>(words.begin(), words.end());
}

void checkWords(SelfCheck& self, const OfflineModel& model, const std::string& heard) {
    const QSet<QString> said = wordsOf(model.testModel ? toneWords : offlineSentence);
    const QSet<QString> got = wordsOf(heard);
    int found = 0;
    for (const QString& word : said)
        found += got.contains(word);
    // Speech synthesis is not a person: half the sentence's words prove the model listens.
    const bool holds = model.testModel ? found == said.size() : 2 * found >= said.size();
    self.check("GigaAM слышит слова фразы", holds,
               "услышано " + std::to_string(found) + " из " + std::to_string(said.size()) + ": «" +
                   heard + "»");
}

void checkCut(SelfCheck& self, GigaAMTranscriber& transcriber, const std::vector<float>& once) {
    const auto window = static_cast<std::int64_t>(transcriber.windowSeconds * rate);
    const std::vector<float> samples = repeated(once, transcriber.windowSeconds + 5);
    const auto ranges = SpeechCuts::split(samples, window);
    std::string detail;
    bool whole = false;
    try {
        const auto look = transcriber.look(samples, true);
        for (std::size_t i = 0; look.cut && i + 1 < ranges.size(); ++i)
            whole = whole || look.cut->upTo == ranges[i].end;
        whole = whole && !look.cut->text.empty();
        detail = look.cut ? "отрез на " + std::to_string(look.cut->upTo) + " из " +
                                std::to_string(samples.size())
                          : "отреза нет";
    } catch (const std::exception& error) {
        detail = error.what();
    }
    self.check("отрез GigaAM — по целому окну", whole, detail);
}

// The recording (said over and over for eight committed pieces) written into a file in pieces
// of 0.1 s at sixteen times the speed of speech, with a live stream following it. A stream
// that never committed would decode all of it in its last passes, some three recogniser
// windows. The bar leaves half a second for a busy machine's scheduling.
void checkLiveDisplay(SelfCheck& self, const std::shared_ptr<GigaAMTranscriber>& transcriber,
                      const std::vector<float>& once, const std::string& path) {
    std::atomic<std::int64_t> written = 0;
    auto stream = std::make_shared<LocalDictationStream>(transcriber, path,
                                                         [&written] { return written.load(); });
    const std::vector<std::int16_t> samples = toInt16(repeated(once, 8 * stream->commitSeconds));

    // The longest pass a stream that commits ever makes: up to a whole recogniser window and
    // a step more. Measured here, so that the bar follows the machine and the model.
    const auto began = std::chrono::steady_clock::now();
    transcriber->transcribe(repeated(once, transcriber->windowSeconds + stream->stepSeconds));
    const double threshold = 0.5 + 2 * Seconds(std::chrono::steady_clock::now() - began).count();

    std::mutex linesLock;
    std::vector<std::string> failures; // guarded by linesLock
    stream->log = [&](const std::string& line) {
        if (line.find("не удался") != std::string::npos ||
            line.find("пропущен") != std::string::npos) {
            std::lock_guard guard(linesLock);
            failures.push_back(line);
        }
    };
    bool seen = false;
    WAVWriter writer(path);
    stream->start();
    for (std::size_t at = 0; at < samples.size(); at += rate / 10) {
        const std::size_t count = std::min<std::size_t>(rate / 10, samples.size() - at);
        writer.write(std::span(samples).subspan(at, count));
        written += static_cast<std::int64_t>(count);
        std::this_thread::sleep_for(std::chrono::microseconds(6250));
        seen = seen || !stream->snapshot().isEmpty();
    }
    writer.close();
    const std::optional<std::string> final = stream->finish();
    const double slowest = stream->slowestPassSeconds();
    char detail[96];
    std::snprintf(detail, sizeof detail, "самый долгий проход %.1f с при пороге %.1f", slowest,
                  threshold);
    self.check("текст был виден по ходу речи", seen);
    {
        std::lock_guard guard(linesLock);
        self.check("пилюля молчала", failures.empty(), failures.empty() ? "" : failures.front());
    }
    self.check("итог локального показа не пуст", final && !final->empty());
    self.check("показ не дорожает с длиной речи", slowest <= threshold, detail);
    std::error_code ignored;
    fs::remove(path, ignored);
}

} // namespace

void checkOfflineModel(SelfCheck& self, const OfflineModel& model,
                       const std::optional<std::string>& given, const std::string& madePath) {
    std::string path = madePath;
    if (given) {
        path = *given;
    } else if (model.testModel) {
        tones(madePath);
    } else if (const std::optional<std::string> failure = speak(madePath)) {
        self.check("GigaAM распознаёт", false, "запись не сделана: " + *failure);
        return;
    }

    const auto transcriber = std::make_shared<GigaAMTranscriber>(model.folder);
    std::string heard;
    std::vector<float> once;
    try {
        heard = transcriber->transcribe(path);
        const WAVReader reader(path);
        once = reader.samples(0, INT64_MAX);
    } catch (const std::exception& error) {
        self.check("GigaAM распознаёт", false, error.what());
        return;
    }
    self.check("GigaAM распознаёт", !heard.empty(), "текст пуст");
    std::printf("  · распознано: «%s»\n", heard.c_str());
    if (given)
        std::printf("  · своя запись — слова фразы не сверяю\n");
    else
        checkWords(self, model, heard);
    checkCut(self, *transcriber, once);
    checkLiveDisplay(self, transcriber, once, madePath + ".live.wav");
}

} // namespace talvoro
