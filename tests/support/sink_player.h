#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "support/event_loop.h"
#include "support/pulse_server.h"
#include "support/run_program.h"

namespace talvoro::testing {

// Plays a WAV file into the test sound server's null sink while this thread goes on turning
// its event loop. The whole file goes into the server's buffer at once: a player starved by a
// busy machine would leave gaps of silence in the tones, and a tone cut in two is two words.
inline void playIntoTestSink(const std::string& wav) {
    std::atomic<bool> done = false;
    std::thread player([&] {
        runProgram("paplay --latency-msec=3000 --device=" + PulseServer::sinkName() + " '" + wav +
                   "'");
        done = true;
    });
    processUntil([&] { return done.load(); }, 120);
    player.join();
}

} // namespace talvoro::testing
