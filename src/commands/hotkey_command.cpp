#include "commands/hotkey_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "base/atomic.h"
#include "commands/stop_signals.h"
#include "hotkey/hotkey_tap.h"
#include "insertion/paster.h"

namespace talvoro {

namespace {

std::string timeOfDay() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

HotkeyBinding chosenBinding(const CommandContext& context) {
    const auto text = context.args.option("hotkey");
    if (!text)
        return context.config.dictationHotkey;
    const auto parsed = HotkeyBinding::parse(*text);
    if (!parsed)
        fail("не разобрал сочетание «" + *text + "» — пиши как opt+space");
    return *parsed;
}

// Counts triggers and prints one line each; the toggle label follows a recording that each
// press would start or stop.
class TriggerLog {
public:
    void trigger(double delay) {
        const int number = count.value() + 1;
        count.setValue(number);
        const bool starts = !recording.value();
        recording.setValue(starts);
        worst.setValue(std::max(worst.value(), delay));
        const double at = monotonicSeconds() - delay;
        const double previous = lastAt.value();
        lastAt.setValue(at);
        std::printf("  %3d  %s  %s  +%.2f с  задержка %.0f мс\n", number,
                    starts ? "▶ запись" : "■ стоп  ", timeOfDay().c_str(),
                    previous < 0 ? 0.0 : at - previous, delay * 1000.0);
        std::fflush(stdout);
    }

    Atomic<int> count{0};
    Atomic<double> worst{0.0};
    Atomic<bool> recording{false};
    Atomic<double> lastAt{-1.0};
};

} // namespace

bool runHotkey(const CommandContext& context) {
    const HotkeyBinding binding = chosenBinding(context);
    const bool listening = HotkeyTap::permissionGranted();
    std::printf("мониторинг ввода: %s\n", listening ? "выдан" : "не выдан");
    std::printf("универсальный доступ: %s\n", Paster::permissionGranted() ? "выдан" : "не выдан");
    std::fflush(stdout);
    if (!listening)
        HotkeyTap::permissionGranted(true);

    TriggerLog log;
    StopSignals interrupt;
    int reenables = 0;
    {
        HotkeyTap tap(binding, [&log](double delay) { log.trigger(delay); });
        try {
            tap.start();
        } catch (const HotkeyTap::Failure& failure) {
            fail(failure.what());
        }
        std::printf("хоткей %s — жми где угодно; остальные клавиши не трогаем\n",
                    binding.description().c_str());
        std::printf("Ctrl-C — выход\n\n");
        std::fflush(stdout);
        while (!interrupt.requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        tap.stop();
        reenables = tap.reenables();
    } // the tap's queue has printed every trigger once it is gone

    std::printf("\nсрабатываний: %d\n", log.count.value());
    std::printf("худшая задержка: %.0f мс\n", log.worst.value() * 1000.0);
    if (reenables == 0)
        std::printf("tap не отключался ни разу\n");
    else
        std::printf("ВНИМАНИЕ: система отключала tap %d раз(а) — колбэк тормозил\n", reenables);
    std::fflush(stdout);
    return true;
}

} // namespace talvoro
