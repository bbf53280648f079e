#include "recognition/local_dictation_stream.h"

#include <algorithm>
#include <chrono>

#include "audio/wav_reader.h"
#include "base/serial_queue.h"
#include "recognition/dictation_transcriber.h"
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

// Waits for a thread taken out of the stream, or lets it go when it is the caller's own.
void end(std::thread thread) {
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

} // namespace

LocalDictationStream::LocalDictationStream(std::shared_ptr<Engine> transcriber, std::string url,
                                           std::function<std::int64_t()> available)
    : transcriber(std::move(transcriber)), url(std::move(url)), available(std::move(available)) {}

LocalDictationStream::~LocalDictationStream() {
    std::thread running;
    {
        std::lock_guard guard(lock);
        shouldStop = true;
        running = std::move(loop);
    }
    wake.notify_all();
    // The loop drops its last hold on the stream at the end of a turn, and so may be the one
    // running this destructor; otherwise it holds none and ends at once.
    end(std::move(running));
}

DictationSnapshot LocalDictationStream::snapshot() const {
    std::lock_guard guard(lock);
    return DictationSnapshot{shown, std::nullopt};
}

double LocalDictationStream::slowestPassSeconds() const {
    std::lock_guard guard(lock);
    return slowestPass;
}

bool LocalDictationStream::isCancelled() const {
    std::lock_guard guard(lock);
    return cancelled;
}

std::optional<std::int64_t> LocalDictationStream::availableNow() {
    std::lock_guard calling(callbackLock);
    {
        std::lock_guard guard(lock);
        if (shouldStop)
            return std::nullopt;
    }
    return available();
}

void LocalDictationStream::note(const std::string& line) {
    std::lock_guard calling(callbackLock);
    if (log && !isCancelled())
        log(line);
}

void LocalDictationStream::start() {
    std::lock_guard guard(lock);
    if (started || shouldStop)
        return;
    started = true;
    const auto stepSamples = static_cast<std::int64_t>(stepSeconds * sampleRate);
    loop = std::thread(runLoop, weak_from_this(), stepSamples, liveStop.get_token());
}

void LocalDictationStream::runLoop(std::weak_ptr<LocalDictationStream> weak,
                                   std::int64_t stepSamples, std::stop_token stop) {
    nameCurrentThread("ostrel.live");
    while (const auto stream = weak.lock()) {
        std::int64_t decoded = 0;
        {
            std::lock_guard guard(stream->lock);
            decoded = stream->decodedUpTo;
        }
        const std::optional<std::int64_t> written = stream->availableNow();
        if (!written)
            return;
        const auto least = static_cast<std::int64_t>(stream->minSeconds * sampleRate);
        if (*written >= least && *written - decoded >= stepSamples && stream->pass(*written, stop))
            continue;
        stream->waitTick();
    }
}

void LocalDictationStream::waitTick() {
    std::unique_lock guard(lock);
    wake.wait_for(guard, std::chrono::duration<double>(tickSeconds), [&] { return shouldStop; });
}

bool LocalDictationStream::pass(std::int64_t upTo, std::stop_token stop) {
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
        look = transcriber->look(samples, mayCut, stop);
    } catch (const TranscriptionCancelled&) {
        return true; // the stream is ending
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
    std::thread running;
    {
        std::lock_guard guard(lock);
        shouldStop = true;
        running = std::move(loop);
    }
    // The live pass in flight is stale now; ending it frees the recogniser for the final pass.
    liveStop.request_stop();
    wake.notify_all();
    end(std::move(running));
    if (isCancelled())
        return std::nullopt;
    try {
        const WAVReader reader(url);
        const std::string text = trimmedText(
            transcriber->transcribe(reader.samples(0, reader.sampleCount), finalStop.get_token()));
        if (text.empty() || isCancelled())
            return std::nullopt;
        return text;
    } catch (const TranscriptionCancelled&) {
        return std::nullopt;
    } catch (const std::exception& error) {
        note(std::string("локальный разбор не удался: ") + error.what());
        return std::nullopt;
    }
}

void LocalDictationStream::cancel() {
    std::thread running;
    {
        std::lock_guard guard(lock);
        shouldStop = true;
        cancelled = true;
        running = std::move(loop);
    }
    liveStop.request_stop();
    finalStop.request_stop();
    wake.notify_all();
    if (running.joinable())
        running.detach(); // it holds the stream only while it finishes its turn
    // A call into the owner that is under way ends before cancel() returns.
    std::lock_guard calling(callbackLock);
}

} // namespace talvoro
