#include "recognition/local_dictation_stream.h"

#include <algorithm>
#include <chrono>

#include "audio/wav_reader.h"
#include "base/serial_queue.h"
#include "recognition/gigaam_vocabulary.h"

namespace talvoro {

namespace {

constexpr std::int64_t sampleRate = 16000;

std::string joined(const std::string& first, const std::string& second) {
    if (first.empty())
        return second;
    if (second.empty())
        return first;
    return first + " " + second;
}

} // namespace

LocalDictationStream::LocalDictationStream(std::shared_ptr<Engine> transcriber, std::string url,
                                           std::function<std::int64_t()> available)
    : transcriber(std::move(transcriber)), url(std::move(url)), available(std::move(available)) {}

LocalDictationStream::~LocalDictationStream() {
    {
        std::lock_guard guard(lock);
        shouldStop = true;
    }
    wake.notify_all();
    if (!loop.joinable())
        return;
    // The loop drops its last hold on the stream at the end of a turn, and so may be the one
    // running this destructor.
    if (loop.get_id() == std::this_thread::get_id())
        loop.detach();
    else
        loop.join();
}

DictationSnapshot LocalDictationStream::snapshot() const {
    std::lock_guard guard(lock);
    return DictationSnapshot{shown, std::nullopt};
}

double LocalDictationStream::slowestPassSeconds() const {
    std::lock_guard guard(lock);
    return slowestPass;
}

void LocalDictationStream::note(const std::string& line) const {
    if (log)
        log(line);
}

void LocalDictationStream::start() {
    if (loop.joinable())
        loop.detach();
    const auto stepSamples = static_cast<std::int64_t>(stepSeconds * sampleRate);
    loop = std::thread(runLoop, weak_from_this(), stepSamples);
}

void LocalDictationStream::runLoop(std::weak_ptr<LocalDictationStream> weak,
                                   std::int64_t stepSamples) {
    nameCurrentThread("ostrel.live");
    while (const auto stream = weak.lock()) {
        std::int64_t decoded = 0;
        {
            std::lock_guard guard(stream->lock);
            if (stream->shouldStop)
                return;
            decoded = stream->decodedUpTo;
        }
        const std::int64_t written = stream->available();
        const auto least = static_cast<std::int64_t>(stream->minSeconds * sampleRate);
        if (written >= least && written - decoded >= stepSamples && stream->pass(written))
            continue;
        stream->waitTick();
    }
}

void LocalDictationStream::waitTick() {
    std::unique_lock guard(lock);
    wake.wait_for(guard, std::chrono::duration<double>(tickSeconds), [&] { return shouldStop; });
}

bool LocalDictationStream::pass(std::int64_t upTo) {
    std::vector<float> samples;
    std::int64_t from = 0;
    std::int64_t end = 0;
    try {
        const WAVReader reader(url, true);
        end = std::min(reader.sampleCount, upTo);
        {
            std::lock_guard guard(lock);
            from = committedUpTo;
            if (from >= end || end <= decodedUpTo)
                return false;
        }
        samples = reader.samples(from, end);
    } catch (const std::exception&) {
        return false;
    }

    const auto started = std::chrono::steady_clock::now();
    const bool mayCut = windowSeconds < static_cast<double>(end - from) / sampleRate;
    Engine::Look look;
    try {
        look = transcriber->look(samples, mayCut);
    } catch (const std::exception& error) {
        {
            std::lock_guard guard(lock);
            decodedUpTo = end;
        }
        note(std::string("живой разбор пропущен: ") + error.what());
        return true;
    }
    const std::string text = trimmedText(look.text);
    const double duration =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::string commitLine;
    {
        std::lock_guard guard(lock);
        decodedUpTo = end;
        slowestPass = std::max(slowestPass, duration);
        const bool cutIsWhole = look.cut && !look.cut->text.empty() && look.cut->text == text;
        if (!text.empty() && !cutIsWhole)
            shown = joined(committed, text);
        if (look.cut && mayCut && look.cut->upTo >= 1 && !look.cut->text.empty()) {
            committed = joined(committed, look.cut->text);
            committedUpTo = from + look.cut->upTo;
            commitLine =
                "живой показ: отрезано " + std::to_string(committedUpTo / sampleRate) + " с речи";
        }
    }
    if (!commitLine.empty())
        note(commitLine);
    return true;
}

std::optional<std::string> LocalDictationStream::finish() {
    {
        std::lock_guard guard(lock);
        shouldStop = true;
    }
    wake.notify_all();
    if (loop.joinable()) {
        if (loop.get_id() == std::this_thread::get_id())
            loop.detach();
        else
            loop.join();
    }
    {
        std::lock_guard guard(lock);
        if (cancelled)
            return std::nullopt;
    }
    try {
        const WAVReader reader(url);
        const std::string text =
            trimmedText(transcriber->transcribe(reader.samples(0, reader.sampleCount)));
        if (text.empty())
            return std::nullopt;
        return text;
    } catch (const std::exception& error) {
        note(std::string("локальный разбор не удался: ") + error.what());
        return std::nullopt;
    }
}

void LocalDictationStream::cancel() {
    {
        std::lock_guard guard(lock);
        shouldStop = true;
        cancelled = true;
    }
    wake.notify_all();
    if (loop.joinable())
        loop.detach();
}

} // namespace talvoro
