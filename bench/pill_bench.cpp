// What one refresh of the pill costs while recording (fifteen a second): a show with the meter
// and with live text of growing length, offscreen, plus its painting into a snapshot.

#include <benchmark/benchmark.h>

#include <QImage>

#include "support/gui_app.h"
#include "ui/dictation_pill.h"
#include "ui/fake_pill_window_system.h"

using namespace talvoro;

namespace {

std::string words(int count) {
    static const char* const sample[] = {"сегодня", "мы",      "проверяем", "как",
                                         "растёт",  "пилюля",  "по",        "слову,",
                                         "не",      "задевая", "край"};
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + std::string(sample[i % 11]);
    return text;
}

DictationPill::Options quiet() {
    return {std::make_shared<FakePillWindowSystem>(), nullptr, [] { return QPoint(300, 200); }};
}

void BM_ShowWithLiveText(benchmark::State& state) {
    talvoro::testing::guiApp();
    DictationPill pill(quiet());
    const DictationSnapshot snapshot{words(static_cast<int>(state.range(0))), std::nullopt};
    for (auto _ : state)
        pill.show("0:42", PillGlyph::record, 0.5f, snapshot);
    state.SetLabel(std::to_string(pill.size().width()) + "×" +
                   std::to_string(pill.size().height()));
}
BENCHMARK(BM_ShowWithLiveText)->Arg(0)->Arg(20)->Arg(300)->Arg(3000)->Unit(benchmark::kMicrosecond);

void BM_Snapshot(benchmark::State& state) {
    talvoro::testing::guiApp();
    DictationPill pill(quiet());
    pill.show("0:42", PillGlyph::record, 0.5f, DictationSnapshot{words(300), std::nullopt});
    for (auto _ : state)
        benchmark::DoNotOptimize(pill.snapshotImage(static_cast<qreal>(state.range(0))));
}
BENCHMARK(BM_Snapshot)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
