#include "recognition/local_dictation_stream.h"

#include <algorithm>
#include <chrono>

#include "audio/wav_reader.h"
#include "base/serial_queue.h"
#include "recognition/dictation_transcriber.h"
#include "recognition/gigaam_vocabulary.h"
#include "recognition/speech_cuts.h"

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

std::optional<std::int64_t>
LocalDictationStream::commitPoint(std::span<const float> samples) const {
    const auto length = static_cast<std::int64_t>(samples.size());
    const auto shortest = static_cast<std::int64_t>(commitSeconds * sampleRate);
    const auto longest = static_cast<std::int64_t>(longestSeconds * sampleRate);
    if (length < shortest)
        return std::nullopt;
    if (auto pause = SpeechCuts::pauseSeam(samples, shortest, std::min(length, longest)))
        return pause;
    if (length > longest)
        return SpeechCuts::split(samples, longest).front().end;
    return std::nullopt;
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
            passUpTo = end;
        }
        samples = reader.samples(from, end);
    } catch (const std::exception&) {
        std::lock_guard guard(lock);
        passUpTo.reset();
        return false;
    }

    const auto started = std::chrono::steady_clock::now();
    std::span<const float> open(samples);
    try {
        if (const std::optional<std::int64_t> seam = commitPoint(samples)) {
            const auto at = static_cast<std::size_t>(*seam);
            const std::string piece = trimmedText(transcriber->transcribe(open.first(at), stop));
            open = open.subspan(at);
            std::string line;
            {
                std::lock_guard guard(lock);
                committed = joined(committed, piece);
                committedUpTo = from + *seam;
                decodedUpTo = std::max(decodedUpTo, committedUpTo);
                tail.clear();
                tailUpTo = committedUpTo;
                shown = committed;
                line = "живой показ: отрезано " + std::to_string(committedUpTo / sampleRate) +
                       " с речи";
            }
            note(line);
        }
        // After a seam, what is left may be only the rest of the pause: recognising it would
        // hold up the next pass, and a release waiting for this one.
        const bool pauseOnly =
            open.size() < samples.size() &&
            SpeechCuts::silentFrom(samples, std::ssize(samples) - std::ssize(open));
        const std::string text = open.empty() || pauseOnly
                                     ? std::string()
                                     : trimmedText(transcriber->transcribe(open, stop));
        const double duration =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::lock_guard guard(lock);
        decodedUpTo = end;
        passUpTo.reset();
        tail = text;
        tailUpTo = end;
        slowestPass = std::max(slowestPass, duration);
        if (!text.empty())
            shown = joined(committed, text);
    } catch (const TranscriptionCancelled&) {
        return true; // the stream is ending
    } catch (const std::exception& error) {
        {
            std::lock_guard guard(lock);
            decodedUpTo = end;
            passUpTo.reset();
        }
        note(std::string("живой разбор пропущен: ") + error.what());
    }
    return true;
}

bool LocalDictationStream::worthWaitingFor() const {
    std::int64_t from = 0, heardUpTo = 0;
    std::optional<std::int64_t> upTo;
    {
        std::lock_guard guard(lock);
        from = committedUpTo;
        heardUpTo = tailUpTo;
        upTo = passUpTo;
    }
    if (!upTo)
        return false;
    try {
        const WAVReader reader(url);
        const std::vector<float> open =
            reader.samples(std::min(from, reader.sampleCount), reader.sampleCount);
        const bool heardBefore = heardUpTo > from && SpeechCuts::silentFrom(open, heardUpTo - from);
        return !heardBefore && SpeechCuts::silentFrom(open, *upTo - from);
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<std::string> LocalDictationStream::finish() {
    std::thread running;
    {
        std::lock_guard guard(lock);
        shouldStop = true;
        running = std::move(loop);
    }
    wake.notify_all();
    // A pass in flight that has heard all the speech (only the pause before the release came
    // after it) ends sooner than a new one would, unless the pass before it heard it all too:
    // that one's text is the tail's. Any other is stale, and ending it frees the recogniser
    // for the tail.
    if (!worthWaitingFor())
        liveStop.request_stop();
    end(std::move(running));
    if (isCancelled())
        return std::nullopt;
    try {
        const WAVReader reader(url);
        std::int64_t from = 0, heardUpTo = 0;
        std::string text, heard;
        {
            std::lock_guard guard(lock);
            from = std::min(committedUpTo, reader.sampleCount);
            heardUpTo = tailUpTo;
            heard = tail;
            text = committed;
        }
        const std::vector<float> open = reader.samples(from, reader.sampleCount);
        // Nothing said since the last pass (the usual pause before the key is let go): its
        // text is the tail's.
        if (heardUpTo <= from || !SpeechCuts::silentFrom(open, heardUpTo - from))
            heard = open.empty()
                        ? std::string()
                        : trimmedText(transcriber->transcribe(open, finalStop.get_token()));
        if (isCancelled())
            return std::nullopt;
        return joined(text, heard);
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
