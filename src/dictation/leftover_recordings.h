#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace talvoro {

// Recordings an earlier run left behind undelivered (a crash, a power cut, a kill during
// recording or recognition): files directly in the dictation folder named as recordings are
// named ("2026-01-01 130000.wav", "…-2.wav") that nobody has written to for `quiet`, since a
// recording in progress is written every few tenths of a second. Oldest name first.
std::vector<std::string> leftoverRecordings(const std::string& folder,
                                            std::chrono::seconds quiet = std::chrono::seconds(5));

// Makes the header of a recording cut short declare every whole sample that is there (a
// writer stopped by a crash declares at most up to its last full second). Only files with
// the recorder's own 44-byte header are touched; failures are ignored.
void finishLeftoverHeader(const std::string& path);

} // namespace talvoro
