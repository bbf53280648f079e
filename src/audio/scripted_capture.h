#pragma once

#include "audio/audio_capture.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace talvoro {

// A capture for tests: plays buffers that the test queues, in order, on a thread of its own
// (standing in for the audio thread), each with the host time the test chose.
class ScriptedCapture final : public AudioCapture {
public:
    struct Chunk {
        AudioFormat format;
        std::vector<std::uint8_t> bytes;
        std::uint64_t hostTime = 0;
    };

    explicit ScriptedCapture(InputStatus status);
    ~ScriptedCapture() override;
    ScriptedCapture(const ScriptedCapture&) = delete;
    ScriptedCapture& operator=(const ScriptedCapture&) = delete;

    InputStatus inputStatus() override;
    void start(Callback callback) override;
    void stop() override;
    void setLostHandler(Lost lost) override;

    void setStatus(InputStatus status);
    // The sound server goes away: the running capture tells its lost handler and plays no more.
    void loseServer(std::string reason);
    // The next start throws CoreAudioError with this text.
    void failNextStart(std::string text);
    // Queues a buffer; it is delivered while the capture is started.
    void push(Chunk chunk);
    // Waits until every queued buffer has been delivered (returns at once when stopped).
    void waitUntilPlayed();
    bool started() const;
    int startCount() const;

private:
    void play();

    mutable std::mutex lock;
    std::condition_variable changed;
    InputStatus status_;                // guarded by lock
    std::optional<std::string> failure; // guarded by lock
    std::deque<Chunk> queued;           // guarded by lock
    Callback callback;                  // guarded by lock; set while started
    bool delivering = false;            // guarded by lock
    bool stopping = false;              // guarded by lock
    int starts = 0;                     // guarded by lock
    Lost lost;                          // guarded by lock
    std::optional<std::string> gone;    // guarded by lock: why the server went away
    std::thread player;
};

// A buffer of `frames` frames of `format` in which every channel of frame f holds value(f),
// a level in -1…1 (full scale for integer formats; -1 is the lowest integer); silence
// without a function.
ScriptedCapture::Chunk makeChunk(const AudioFormat& format, std::int64_t frames,
                                 std::uint64_t hostTime,
                                 const std::function<double(std::int64_t)>& value = {});

// Queues `seconds` of a 440 Hz tone in 0.1 s chunks stamped from `hostTime` on, moves
// `hostTime` past them, and returns once the capture has played them: a user speaking.
void playTone(ScriptedCapture& capture, const AudioFormat& format, double seconds,
              std::uint64_t& hostTime);

} // namespace talvoro
