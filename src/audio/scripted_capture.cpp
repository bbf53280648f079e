#include "audio/scripted_capture.h"

#include "audio/core_audio_error.h"
#include "audio/host_time.h"
#include "base/serial_queue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace talvoro {

ScriptedCapture::ScriptedCapture(InputStatus status) : status_(status) {}

ScriptedCapture::~ScriptedCapture() {
    stop();
}

InputStatus ScriptedCapture::inputStatus() {
    std::lock_guard guard(lock);
    return status_;
}

void ScriptedCapture::setStatus(InputStatus status) {
    std::lock_guard guard(lock);
    status_ = status;
}

void ScriptedCapture::failNextStart(std::string text) {
    std::lock_guard guard(lock);
    failure = std::move(text);
}

void ScriptedCapture::start(Callback newCallback) {
    std::unique_lock guard(lock);
    if (failure) {
        std::string text = std::move(*failure);
        failure.reset();
        throw CoreAudioError::message(text);
    }
    if (!status_.serverAnswers || !status_.format.usable())
        throw CoreAudioError::inputUnavailable(status_.serverAnswers);
    if (callback)
        return;
    ++starts;
    callback = std::move(newCallback);
    stopping = false;
    gone.reset();
    guard.unlock();
    player = std::thread([this] { play(); });
}

void ScriptedCapture::stop() {
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    changed.notify_all();
    if (player.joinable())
        player.join();
    std::lock_guard guard(lock);
    callback = nullptr;
}

void ScriptedCapture::setLostHandler(Lost handler) {
    std::lock_guard guard(lock);
    lost = std::move(handler);
}

void ScriptedCapture::loseServer(std::string reason) {
    {
        std::lock_guard guard(lock);
        if (!callback || gone)
            return;
        gone = std::move(reason);
    }
    changed.notify_all();
}

void ScriptedCapture::push(Chunk chunk) {
    {
        std::lock_guard guard(lock);
        queued.push_back(std::move(chunk));
    }
    changed.notify_all();
}

void ScriptedCapture::waitUntilPlayed() {
    std::unique_lock guard(lock);
    changed.wait(guard,
                 [&] { return !callback || stopping || gone || (queued.empty() && !delivering); });
}

bool ScriptedCapture::started() const {
    std::lock_guard guard(lock);
    return callback != nullptr;
}

int ScriptedCapture::startCount() const {
    std::lock_guard guard(lock);
    return starts;
}

void ScriptedCapture::play() {
    nameCurrentThread("scripted.audio");
    std::unique_lock guard(lock);
    for (;;) {
        changed.wait(guard, [&] { return stopping || gone || !queued.empty(); });
        if (stopping)
            return;
        if (gone) {
            const Lost tell = lost;
            const std::string reason = *gone;
            guard.unlock();
            if (tell)
                tell(reason);
            guard.lock();
            changed.notify_all();
            return;
        }
        Chunk chunk = std::move(queued.front());
        queued.pop_front();
        delivering = true;
        Callback deliver = callback;
        guard.unlock();
        AudioBuffer buffer{chunk.format, chunk.bytes.data(),
                           chunk.format.bytesPerFrame() > 0
                               ? static_cast<std::int64_t>(chunk.bytes.size()) /
                                     chunk.format.bytesPerFrame()
                               : 0};
        deliver(buffer, chunk.hostTime);
        guard.lock();
        delivering = false;
        changed.notify_all();
    }
}

ScriptedCapture::Chunk makeChunk(const AudioFormat& format, std::int64_t frames,
                                 std::uint64_t hostTime,
                                 const std::function<double(std::int64_t)>& value) {
    ScriptedCapture::Chunk chunk{format, {}, hostTime};
    const auto count = static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)) *
                       static_cast<std::size_t>(std::max(format.channels, 0));
    chunk.bytes.resize(count * static_cast<std::size_t>(format.bytesPerSample()));
    auto fill = [&](auto* out, double scale, double lowest, double highest) {
        for (std::size_t i = 0; i < count; ++i) {
            double v = value ? value(static_cast<std::int64_t>(i) / format.channels) : 0.0;
            double scaled = std::clamp(std::round(v * scale), lowest, highest);
            out[i] = static_cast<std::remove_pointer_t<decltype(out)>>(scale == 1.0 ? v : scaled);
        }
    };
    switch (format.sampleType) {
    case SampleType::int16:
        fill(reinterpret_cast<std::int16_t*>(chunk.bytes.data()), 32768.0, -32768.0, 32767.0);
        break;
    case SampleType::int32:
        fill(reinterpret_cast<std::int32_t*>(chunk.bytes.data()), 2147483648.0, -2147483648.0,
             2147483647.0);
        break;
    case SampleType::float32:
        fill(reinterpret_cast<float*>(chunk.bytes.data()), 1.0, -1.0, 1.0);
        break;
    }
    return chunk;
}

void playTone(ScriptedCapture& capture, const AudioFormat& format, double seconds,
              std::uint64_t& hostTime) {
    const double rate = format.sampleRate;
    const auto frames = static_cast<std::int64_t>(seconds * rate);
    const auto step = static_cast<std::int64_t>(rate / 10);
    for (std::int64_t done = 0; done < frames; done += step) {
        capture.push(
            makeChunk(format, std::min(step, frames - done), hostTime, [rate](std::int64_t f) {
                return 0.3 * std::sin(2 * std::numbers::pi * 440 * f / rate);
            }));
        hostTime += HostTime::ticks(0.1);
    }
    capture.waitUntilPlayed();
}

} // namespace talvoro
