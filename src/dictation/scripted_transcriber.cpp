#include "dictation/scripted_transcriber.h"

namespace talvoro::testing {

void ScriptedTranscriber::answer(std::string text) {
    std::lock_guard guard(lock);
    script.push_back({std::move(text), nullptr});
}

void ScriptedTranscriber::fail(std::exception_ptr error) {
    std::lock_guard guard(lock);
    script.push_back({{}, std::move(error)});
}

void ScriptedTranscriber::setFallback(std::string text) {
    std::lock_guard guard(lock);
    fallback = std::move(text);
}

void ScriptedTranscriber::hold() {
    std::lock_guard guard(lock);
    held = true;
}

void ScriptedTranscriber::release() {
    {
        std::lock_guard guard(lock);
        held = false;
    }
    changed.notify_all();
}

void ScriptedTranscriber::waitForCalls(int count) {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return calls_ >= count; });
}

int ScriptedTranscriber::calls() const {
    std::lock_guard guard(lock);
    return calls_;
}

std::vector<std::string> ScriptedTranscriber::paths() const {
    std::lock_guard guard(lock);
    return paths_;
}

void ScriptedTranscriber::holdPreparing() {
    std::lock_guard guard(lock);
    preparingHeld = true;
}

void ScriptedTranscriber::releasePreparing() {
    {
        std::lock_guard guard(lock);
        preparingHeld = false;
    }
    changed.notify_all();
}

void ScriptedTranscriber::failPreparing(std::exception_ptr error) {
    std::lock_guard guard(lock);
    prepareError = std::move(error);
}

void ScriptedTranscriber::waitForPrepares(int count) {
    std::unique_lock guard(lock);
    changed.wait(guard, [&] { return prepares_ >= count; });
}

int ScriptedTranscriber::prepares() const {
    std::lock_guard guard(lock);
    return prepares_;
}

void ScriptedTranscriber::prepare(std::stop_token stop) {
    std::unique_lock guard(lock);
    ++prepares_;
    changed.notify_all();
    changed.wait(guard, stop, [&] { return !preparingHeld; });
    if (prepareError)
        std::rethrow_exception(prepareError);
}

std::string ScriptedTranscriber::transcribe(const std::string& path, std::stop_token stop) {
    return next(path, stop);
}

std::string ScriptedTranscriber::next(const std::string& path, std::stop_token stop) {
    std::unique_lock guard(lock);
    ++calls_;
    paths_.push_back(path);
    changed.notify_all();
    changed.wait(guard, stop, [&] { return !held; });
    if (stop.stop_requested())
        throw TranscriptionCancelled();
    if (script.empty())
        return fallback;
    Answer answer = std::move(script.front());
    script.pop_front();
    if (answer.error)
        std::rethrow_exception(answer.error);
    return answer.text;
}

std::string ScriptedStreamingTranscriber::transcribe(std::span<const float>, std::stop_token stop) {
    return next("живой поток", stop);
}

} // namespace talvoro::testing
