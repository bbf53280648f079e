// Insertion timing on a private Xvfb: a Qt text field pulls the promised text as soon as the
// XTest Control+V arrives. Reports the medians over 50 pastes of keystroke → pull and
// keystroke → restore done, and of one AT-SPI focus lookup.
#include "insertion/atspi_focus_source.h"
#include "insertion/paster.h"
#include "insertion/paster_x11_support.h"
#include "insertion/scripted_insertion_seams.h"
#include "support/temp_dir.h"
#include "support/xvfb_server.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace talvoro {
namespace {

using namespace talvoro::testing;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The real keystroke, noting when it was pressed.
class TimedKeystroke : public PasteKeystroke {
public:
    explicit TimedKeystroke(std::shared_ptr<PasteKeystroke> real) : real(std::move(real)) {}
    bool available() override { return real->available(); }
    void prepare() override { real->prepare(); }
    void waitForKeysReleased() override { real->waitForKeysReleased(); }
    void press(PasteShortcut shortcut) override {
        pressedAt = systemPasteClock().now();
        real->press(shortcut);
    }
    double pressedAt = 0;

private:
    std::shared_ptr<PasteKeystroke> real;
};

void PasteIntoQtField(benchmark::State& state) {
    XvfbServer xvfb;
    TempDir dir;
    if (!xvfb.running()) {
        state.SkipWithError("Xvfb is not installed");
        return;
    }
    PasteTarget target(dir.path(), "field");
    if (!target.waitUntilActive()) {
        state.SkipWithError("the Qt window never became active");
        return;
    }
    auto keystroke = std::make_shared<TimedKeystroke>(makeSystemPasteKeystroke());
    auto focus = std::make_shared<ScriptedFocusSource>();
    focus->answers = {Paster::Focus{"AXTextField", "text", false, {}}};
    InsertionSeams seams{
        makeSystemPasteboard(), keystroke, makeSystemFrontmostAppSource(), focus, nullptr, nullptr};
    seams.pasteboard->setString("прежнее");

    std::vector<double> pulls, restores;
    int unpulled = 0;
    for (auto _ : state) {
        Paster::Result result = Paster::paste("слово ", seams);
        double done = systemPasteClock().now();
        restores.push_back((done - keystroke->pressedAt) * 1000);
        if (result.takenAfterMs)
            pulls.push_back(static_cast<double>(*result.takenAfterMs));
        else
            ++unpulled;
    }
    state.counters["pull_median_ms"] = median(pulls);
    state.counters["restore_median_ms"] = median(restores);
    state.counters["restore_after_pull_ms"] = median(restores) - median(pulls);
    state.counters["unpulled"] = unpulled;
}
BENCHMARK(PasteIntoQtField)->Iterations(50)->Unit(benchmark::kMillisecond);

void FocusLookup(benchmark::State& state) {
    XvfbServer xvfb;
    TempDir dir;
    if (!xvfb.running() || !haveProgram("/usr/libexec/at-spi-bus-launcher")) {
        state.SkipWithError("Xvfb or the AT-SPI bus launcher is not installed");
        return;
    }
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    SessionBus bus(dir.path());
    PasteTarget target(dir.path(), "field");
    AtspiFocusSource source;
    std::vector<std::string> notes;
    if (!target.waitUntilActive() ||
        !waitFor([&] { return source.systemFocus(notes).has_value(); }, 20)) {
        state.SkipWithError("no focus through AT-SPI");
        return;
    }
    std::vector<double> lookups;
    for (auto _ : state) {
        double start = systemPasteClock().now();
        benchmark::DoNotOptimize(source.systemFocus(notes));
        lookups.push_back((systemPasteClock().now() - start) * 1000);
    }
    state.counters["lookup_median_ms"] = median(lookups);
}
BENCHMARK(FocusLookup)->Iterations(50)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvoro

BENCHMARK_MAIN();
