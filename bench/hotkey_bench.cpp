// The delay from a key press to the hotkey tap's onEvent, on a private Xvfb with XTest typing:
// the delay the tap itself reports (X server time of the event to the handler) and the whole
// way from the XTest request to the handler. A second case keeps the handler blocked and
// measures how long another application then waits for an ordinary key.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "hotkey/hotkey_tap.h"
#include "hotkey/x11_key_client.h"
#include "support/xvfb_server.h"

using namespace talvoro;
using namespace talvoro::testing;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void BM_PressToOnEvent(benchmark::State& state) {
    XvfbServer xvfb;
    if (!xvfb.running()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    KeyRecordingWindow window;
    Typist typist;
    std::mutex lock;
    std::condition_variable arrived;
    int downs = 0;               // guarded by lock
    Clock::time_point handledAt; // guarded by lock
    std::vector<double> reported, wholeWay;
    HotkeyTap tap(HotkeyBinding::defaultBinding(), [&](double delay) {
        std::lock_guard guard(lock);
        ++downs;
        handledAt = Clock::now();
        reported.push_back(delay * 1000.0);
        arrived.notify_all();
    });
    tap.start();
    const xcb_keycode_t space = typist.keycode(keysym::space);
    typist.press(keysym::altL);
    for (auto _ : state) {
        std::unique_lock guard(lock);
        const int before = downs;
        guard.unlock();
        const auto pressed = Clock::now();
        typist.fake(XCB_KEY_PRESS, space);
        guard.lock();
        if (!arrived.wait_for(guard, std::chrono::seconds(2), [&] { return downs > before; })) {
            state.SkipWithError("a press did not arrive");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(handledAt - pressed).count();
        wholeWay.push_back(ms);
        guard.unlock();
        state.SetIterationTime(ms / 1000.0);
        typist.fake(XCB_KEY_RELEASE, space);
    }
    typist.release(keysym::altL);
    std::lock_guard guard(lock);
    state.counters["reported_median_ms"] = median(reported);
    state.counters["reported_worst_ms"] = worst(reported);
    state.counters["whole_way_median_ms"] = median(wholeWay);
    state.counters["whole_way_worst_ms"] = worst(wholeWay);
}
BENCHMARK(BM_PressToOnEvent)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

// onEvent hangs for 300 ms per press; an ordinary key typed right after the hotkey must still
// reach the focused window at once.
void BM_OtherKeyWhileHandlerBlocks(benchmark::State& state) {
    XvfbServer xvfb;
    if (!xvfb.running()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    KeyRecordingWindow window;
    Typist typist;
    HotkeyTap tap(HotkeyBinding::defaultBinding(),
                  [](double) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    tap.start();
    const xcb_keycode_t a = typist.keycode(keysym::a);
    std::vector<double> waits;
    for (auto _ : state) {
        typist.press(keysym::altL);
        typist.tap(keysym::space);
        typist.release(keysym::altL);
        const int before = window.count(a, true);
        const auto typed = Clock::now();
        typist.press(keysym::a);
        if (!window.awaitPress(a, before)) {
            state.SkipWithError("the key did not reach the window");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - typed).count();
        waits.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
        typist.release(keysym::a);
    }
    state.counters["key_wait_median_ms"] = median(waits);
    state.counters["key_wait_worst_ms"] = worst(waits);
}
BENCHMARK(BM_OtherKeyWhileHandlerBlocks)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
