// The X11 pasteboard on a private Xvfb: how soon a receiver that pulls at once has the
// promised text after we take the selection, and what a snapshot of a 20 MiB image costs.

#include "insertion/x11_pasteboard.h"
#include "insertion/x11_pasteboard_peer.h"
#include "support/xvfb_server.h"

#include <benchmark/benchmark.h>

#include <thread>

namespace {

using namespace talvoro;
using Clock = std::chrono::steady_clock;
constexpr const char* selection = "ostrel.pastetest";
constexpr std::size_t twentyMiB = 20u << 20;

testing::XvfbServer& xvfb() {
    static testing::XvfbServer server;
    return server;
}

void promisedTextToReceiver(benchmark::State& state) {
    if (!xvfb().running()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    X11Pasteboard pasteboard(selection);
    testing::SelectionPeer receiver(selection, testing::PeerOptions{.pullNewOwners = true});
    for (auto _ : state) {
        const auto before = receiver.lastPullAt();
        const auto start = Clock::now();
        pasteboard.writePromisedText([](bool) { return std::string("привет, мир"); });
        std::optional<Clock::time_point> pulled;
        while (!pulled || pulled == before) {
            if (Clock::now() - start > std::chrono::seconds(2)) {
                state.SkipWithError("the receiver never pulled");
                return;
            }
            std::this_thread::yield();
            pulled = receiver.lastPullAt();
        }
        state.SetIterationTime(std::chrono::duration<double>(*pulled - start).count());
    }
}
BENCHMARK(promisedTextToReceiver)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// What a snapshot does: the type list, then every type up to the 20 MiB cap.
void snapshotImage(benchmark::State& state, bool servedByPeer) {
    if (!xvfb().running()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    const std::string image(twentyMiB, '\x5a');
    std::unique_ptr<X11Pasteboard> owner;
    std::unique_ptr<testing::SelectionPeer> peer;
    if (servedByPeer) {
        peer = std::make_unique<testing::SelectionPeer>(
            selection, testing::PeerOptions{.incrPiece = 256u << 10});
        peer->own({{"image/png", image}});
    } else {
        owner = std::make_unique<X11Pasteboard>(selection);
        owner->writeItems({{{"image/png", image}}});
    }
    X11Pasteboard pasteboard(selection);
    for (auto _ : state) {
        // A fresh owner epoch each time, so nothing is remembered from the last round.
        if (servedByPeer)
            peer->own({{"image/png", image}});
        else
            owner->writeItems({{{"image/png", image}}});
        const auto start = Clock::now();
        std::size_t total = 0;
        for (const std::string& type : pasteboard.types())
            if (auto bytes = pasteboard.data(0, type, twentyMiB))
                total += bytes->size();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (total != twentyMiB)
            state.SkipWithError("the snapshot came back incomplete");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * twentyMiB));
}
BENCHMARK_CAPTURE(snapshotImage, servedByX11Pasteboard, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(snapshotImage, servedInQuarterMiBPieces, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

} // namespace

BENCHMARK_MAIN();
