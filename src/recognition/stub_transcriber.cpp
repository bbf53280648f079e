#include "recognition/stub_transcriber.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "recognition/stt_error.h"

namespace talvoro {

namespace {

// Sleeps without polling; a stop request wakes it at once.
void waitUnlessStopped(double seconds, std::stop_token stop) {
    if (seconds <= 0) {
        if (stop.stop_requested())
            throw TranscriptionCancelled();
        return;
    }
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    const auto nanoseconds = std::chrono::nanoseconds(static_cast<long long>(seconds * 1e9));
    wake.wait_for(lock, stop, nanoseconds, [] { return false; });
    if (stop.stop_requested())
        throw TranscriptionCancelled();
}

} // namespace

std::string StubTranscriber::phrase(double seconds) {
    // to_chars: the decimal separator is a point whatever the process locale says.
    char number[32];
    auto end = std::to_chars(number, number + sizeof number, seconds, std::chars_format::fixed, 1);
    return "проверка диктовки: записано " + std::string(number, end.ptr) +
           " секунды, текст вставлен целиком.";
}

std::string StubTranscriber::transcribe(const std::string& path, std::stop_token stop) {
    waitUnlessStopped(delay, stop);
    if (alwaysFails)
        throw STTError::unreachable("заглушка: сервер «недоступен»");
    std::error_code error;
    std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        size = 0;
    const double seconds = static_cast<double>(size > 44 ? size - 44 : 0) / 32000.0;
    return phrase(seconds);
}

} // namespace talvoro
