#include "hotkey/hotkey_tap.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <future>
#include <semaphore>
#include <thread>

#include "base/serial_queue.h"
#include "hotkey/session_key_source.h"

namespace talvoro {

HotkeyTap::Failure HotkeyTap::Failure::noPermission() {
    return Failure(Kind::noPermission,
                   "система не дала перехватывать клавиатуру — нет связи с X-сервером (DISPLAY)");
}

HotkeyTap::Failure HotkeyTap::Failure::tapCreationFailed() {
    return Failure(Kind::tapCreationFailed,
                   "не удалось перехватить клавиатуру — X-сервер отказал в захвате сочетания");
}

HotkeyTap::Failure HotkeyTap::Failure::conflict(const HotkeyBinding& binding) {
    return Failure(Kind::conflict, "сочетание " + binding.description() +
                                       " уже занято другой программой — задай другое в "
                                       "DICTATION_HOTKEY");
}

HotkeyTap::Failure HotkeyTap::Failure::keyUnavailable(const HotkeyBinding& binding) {
    return Failure(Kind::keyUnavailable, "клавиши " + binding.description() +
                                             " нет на этой клавиатуре — задай другое сочетание "
                                             "в DICTATION_HOTKEY");
}

// One run of the tap thread: its keyboard source and the thread itself.
struct HotkeyTap::Run {
    std::unique_ptr<KeyEventSource> source; // set before the thread starts, then fixed
    std::thread thread;                     // touched only by start and stop
    std::binary_semaphore finished{0};      // released when the thread's work ends
};

// What the tap thread shares with the tap: it outlives a tap whose thread did not end in time.
struct HotkeyTap::Core : KeyEventSink {
    Core(HotkeyBinding binding, InterceptWhen interceptWhen, OnEvent onEvent,
         SourceFactory makeSource)
        : binding(binding), onEvent(std::make_shared<const OnEvent>(std::move(onEvent))),
          interceptWhen(std::move(interceptWhen)), makeSource(std::move(makeSource)),
          queue(std::make_shared<SerialQueue>("ostrel.hotkey")) {}

    KeyVerdict handle(const KeyEvent& event) override;
    void report(Phase phase, double timestamp);

    const HotkeyBinding binding;
    const std::shared_ptr<const OnEvent> onEvent;
    const InterceptWhen interceptWhen;
    const SourceFactory makeSource;
    const std::shared_ptr<SerialQueue> queue;

    mutable std::mutex lock;
    std::shared_ptr<Run> run; // guarded by lock; absent while stopped
    int reenableCount = 0;    // guarded by lock
    int seenCount = 0;        // guarded by lock
    int matchedCount = 0;     // guarded by lock
    bool pressedDown = false; // guarded by lock: a taken key-down awaits its key-up
};

KeyVerdict HotkeyTap::Core::handle(const KeyEvent& event) {
    switch (event.type) {
    case KeyEvent::Type::tapDisabled: {
        std::shared_ptr<Run> current;
        {
            std::lock_guard guard(lock);
            ++reenableCount;
            current = run;
        }
        if (current)
            current->source->reenable();
        return KeyVerdict::pass;
    }
    case KeyEvent::Type::observedKeyDown: {
        std::lock_guard guard(lock);
        ++seenCount;
        return KeyVerdict::pass;
    }
    case KeyEvent::Type::keyDown: {
        if (!event.alreadyCounted) {
            std::lock_guard guard(lock);
            ++seenCount;
        }
        if (event.autoRepeat || !binding.matches(event.keyCode, event.flags))
            return KeyVerdict::pass;
        if (interceptWhen && !interceptWhen())
            return KeyVerdict::pass;
        {
            std::lock_guard guard(lock);
            ++matchedCount;
            pressedDown = true;
        }
        report(Phase::down, event.timestamp);
        return KeyVerdict::swallow;
    }
    case KeyEvent::Type::keyUp: {
        // Modifiers do not matter here: the user may have let go of them first.
        if (event.keyCode != binding.keyCode)
            return KeyVerdict::pass;
        bool wasDown;
        {
            std::lock_guard guard(lock);
            wasDown = pressedDown;
            pressedDown = false;
        }
        if (!wasDown)
            return KeyVerdict::pass; // its press went to the application, so does the release
        report(Phase::up, event.timestamp);
        return KeyVerdict::swallow;
    }
    }
    return KeyVerdict::pass;
}

void HotkeyTap::Core::report(Phase phase, double timestamp) {
    queue->async([handler = onEvent, phase, timestamp] {
        (*handler)(phase, std::max(0.0, monotonicSeconds() - timestamp));
    });
}

HotkeyTap::HotkeyTap(HotkeyBinding binding, InterceptWhen interceptWhen, OnEvent onEvent,
                     SourceFactory makeSource) {
    if (!makeSource)
        makeSource = [] { return makeSessionKeySource(); };
    core = std::make_shared<Core>(binding, std::move(interceptWhen), std::move(onEvent),
                                  std::move(makeSource));
}

HotkeyTap::HotkeyTap(HotkeyBinding binding, std::function<void(double)> onTrigger,
                     SourceFactory makeSource)
    : HotkeyTap(
          binding, {},
          [onTrigger = std::move(onTrigger)](Phase phase, double delay) {
              if (phase == Phase::down)
                  onTrigger(delay);
          },
          std::move(makeSource)) {}

HotkeyTap::~HotkeyTap() {
    stop();
}

const HotkeyBinding& HotkeyTap::binding() const {
    return core->binding;
}

void HotkeyTap::start() {
    stop();
    auto run = std::make_shared<Run>();
    run->source = core->makeSource();
    {
        std::lock_guard guard(core->lock);
        core->run = run;
    }
    std::promise<std::exception_ptr> reported;
    std::future<std::exception_ptr> report = reported.get_future();
    run->thread = std::thread(
        [weakCore = std::weak_ptr<Core>(core), run, reported = std::move(reported)]() mutable {
            nameCurrentThread("ostrel.hotkey.tap");
            std::shared_ptr<Core> owner = weakCore.lock();
            bool opened = false;
            if (!owner) {
                reported.set_value(std::make_exception_ptr(Failure::tapCreationFailed()));
            } else {
                try {
                    run->source->open(owner->binding);
                    opened = true;
                    reported.set_value(nullptr);
                } catch (...) {
                    reported.set_value(std::current_exception());
                }
            }
            if (opened)
                run->source->run(*owner);
            owner.reset();
            run->finished.release();
        });
    if (std::exception_ptr failure = report.get()) {
        stop();
        std::rethrow_exception(failure);
    }
}

void HotkeyTap::stop() {
    std::shared_ptr<Run> run;
    {
        std::lock_guard guard(core->lock);
        run = std::move(core->run);
        core->run.reset();
    }
    if (!run)
        return;
    run->source->stop();
    if (run->thread.get_id() == std::this_thread::get_id()) {
        run->thread.detach(); // stopped from its own callback: it ends when that returns
        return;
    }
    if (run->finished.try_acquire_for(std::chrono::seconds(1)))
        run->thread.join();
    else
        run->thread.detach(); // it holds what it uses and ends by itself
}

int HotkeyTap::reenables() const {
    std::lock_guard guard(core->lock);
    return core->reenableCount;
}

HotkeyTap::Counters HotkeyTap::counters() const {
    std::lock_guard guard(core->lock);
    return {core->seenCount, core->matchedCount};
}

bool HotkeyTap::permissionGranted(bool /*prompt*/) {
    return sessionKeysReachable();
}

} // namespace talvoro
