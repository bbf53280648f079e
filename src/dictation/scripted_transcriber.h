#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "recognition/dictation_transcriber.h"
#include "recognition/local_dictation_stream.h"

namespace talvoro::testing {

// Answers recognitions from a script, in order: each answer is a text or an error; once the
// script is used up, `fallback`. While held, calls wait until released or stopped.
class ScriptedTranscriber : public DictationTranscriber {
public:
    void answer(std::string text);
    void fail(std::exception_ptr error);
    void setFallback(std::string text);
    void hold();
    void release();
    // Waits until this many calls have begun.
    void waitForCalls(int count);
    int calls() const;
    std::vector<std::string> paths() const;

    // prepare() waits while preparing is held; a failure set here is thrown by every prepare.
    void holdPreparing();
    void releasePreparing();
    void failPreparing(std::exception_ptr error);
    void waitForPrepares(int count);
    int prepares() const;

    std::string transcribe(const std::string& path, std::stop_token stop = {}) override;
    void prepare(std::stop_token stop = {}) override;
    std::string identity() const override { return "сценарий"; }

protected:
    std::string next(const std::string& path, std::stop_token stop);

private:
    struct Answer {
        std::string text;
        std::exception_ptr error;
    };
    mutable std::mutex lock;
    std::condition_variable_any changed;
    std::deque<Answer> script;           // guarded by lock
    std::string fallback = "привет мир"; // guarded by lock
    bool held = false;                   // guarded by lock
    int calls_ = 0;                      // guarded by lock
    std::vector<std::string> paths_;     // guarded by lock
    bool preparingHeld = false;          // guarded by lock
    std::exception_ptr prepareError;     // guarded by lock
    int prepares_ = 0;                   // guarded by lock
};

// The same, also serving a live stream: each of its recognitions takes the next answer of the
// script (a recording under a second has only the one at the end).
class ScriptedStreamingTranscriber : public ScriptedTranscriber,
                                     public LocalDictationStream::Engine {
public:
    using ScriptedTranscriber::transcribe;
    std::string transcribe(std::span<const float> samples, std::stop_token stop) override;
};

} // namespace talvoro::testing
