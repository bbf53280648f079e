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

// The file from a little before `from` up to `to`. Speech and pause are told apart by the
// loudness around them, and audio after a commit that is all pause has no speech of its own
// to compare with: the committed speech before it comes along.
struct Around {
    static constexpr std::int64_t before = 3 * sampleRate; // about a committed piece

    std::int64_t start = 0;
    std::vector<float> samples;

    Around(const WAVReader& reader, std::int64_t from, std::int64_t to)
        : start(std::max<std::int64_t>(0, std::min(from, to) - before)),
          samples(reader.samples(start, to)) {}
    std::span<const float> after(std::int64_t at) const {
        return std::span(samples).subspan(static_cast<std::size_t>(at - start));
    }
    bool silentFrom(std::int64_t at) const { return SpeechCuts::silentFrom(samples, at - start); }
};

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

bool LocalDictationStream::isLastPassCut() const {
    std::lock_guard guard(lock);
    return lastPassCut;
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
        std::int64_t from = 0, decoded = 0;
        {
            std::lock_guard guard(stream->lock);
            from = stream->committedUpTo;
            decoded = stream->decodedUpTo;
        }
        const std::optional<std::int64_t> written = stream->availableNow();
        if (!written)
            return;
        const auto least = static_cast<std::int64_t>(stream->minSeconds * sampleRate);
        // Speech that has stopped since the last pass is heard now, not a step later: the key
        // is often let go sooner than that.
        const bool due =
            *written >= least && (*written - decoded >= stepSamples ||
                                  (*written > decoded && stream->stale(from, decoded)));
        if (due && stream->pass(*written, stop))
            continue;
        stream->waitTick();
    }
}

bool LocalDictationStream::stale(std::int64_t from, std::int64_t upTo) const {
    try {
        const WAVReader reader(url, true);
        const Around heard(reader, from, reader.sampleCount);
        const auto pause = static_cast<std::int64_t>(staleAfterSeconds * sampleRate);
        return SpeechCuts::stoppedAfter(heard.samples, upTo - heard.start, pause);
    } catch (const std::exception&) {
        return false; // the pass reads the same file and says what failed
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
    std::optional<Around> heard;
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
        heard.emplace(reader, from, end);
    } catch (const std::exception&) {
        std::lock_guard guard(lock);
        passUpTo.reset();
        return false;
    }

    const auto started = std::chrono::steady_clock::now();
    const std::span<const float> samples = heard->after(from);
    std::span<const float> open = samples;
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
        // What is left may be only pause (the rest of the one a seam went into, or the one a
        // commit left open): recognising it would hold up the next pass, and a release waiting
        // for this one.
        const bool pauseOnly = heard->silentFrom(end - std::ssize(open));
        const std::string text =
            open.empty() || pauseOnly ? std::string() : transcribeOpen(open, from, end, stop);
        const double duration =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::lock_guard guard(lock);
        decodedUpTo = end;
        passUpTo.reset();
        lastPassCut = false;
        tail = text;
        tailUpTo = end;
        slowestPass = std::max(slowestPass, duration);
        if (!text.empty())
            shown = joined(committed, text);
    } catch (const TranscriptionCancelled&) {
        std::lock_guard guard(lock);
        passUpTo.reset();
        return true; // stale, or the stream is ending
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

std::string LocalDictationStream::transcribeOpen(std::span<const float> open, std::int64_t from,
                                                 std::int64_t upTo, std::stop_token stop) {
    std::stop_source cut;
    const std::stop_callback ending(stop, [&cut] { cut.request_stop(); });
    std::jthread watcher;
    if (!isLastPassCut())
        watcher = std::jthread([this, cut, from, upTo](std::stop_token done) mutable {
            nameCurrentThread("ostrel.pause");
            std::mutex idle;
            std::condition_variable_any nap;
            std::unique_lock napping(idle);
            const auto every = std::chrono::duration<double>(tickSeconds);
            while (!nap.wait_for(napping, done, every, [] { return false; }) &&
                   !done.stop_requested()) {
                if (!stale(from, upTo))
                    continue;
                {
                    std::lock_guard guard(lock);
                    if (shouldStop) // finish() decides about the pass in flight
                        return;
                    lastPassCut = true;
                }
                cut.request_stop();
                return;
            }
        });
    return trimmedText(transcriber->transcribe(open, cut.get_token()));
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
        const Around heard(reader, from, reader.sampleCount);
        const bool heardBefore = heardUpTo > from && heard.silentFrom(heardUpTo);
        return !heardBefore && heard.silentFrom(*upTo);
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
        std::string text, last;
        {
            std::lock_guard guard(lock);
            from = std::min(committedUpTo, reader.sampleCount);
            heardUpTo = std::max(tailUpTo, from);
            last = tail;
            text = committed;
        }
        const Around heard(reader, from, reader.sampleCount);
        // Nothing said since the last pass (the usual pause before the key is let go): its
        // text is the tail's; none when nothing but pause came after the commit.
        if (!heard.silentFrom(heardUpTo))
            last = trimmedText(transcriber->transcribe(heard.after(from), finalStop.get_token()));
        if (isCancelled())
            return std::nullopt;
        return joined(text, last);
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
