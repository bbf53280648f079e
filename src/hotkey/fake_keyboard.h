#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <pthread.h>

#include "hotkey/hotkey_tap.h"
#include "hotkey/key_event_source.h"

namespace talvoro::testing {

// A keyboard that the test types on: send() hands one event to the running tap thread and
// returns whether the tap passed it on or swallowed it. With no tap running everything passes.
class FakeKeyboard : public std::enable_shared_from_this<FakeKeyboard> {
public:
    KeyVerdict send(KeyEvent event) {
        std::unique_lock guard(lock);
        if (active == nullptr)
            return KeyVerdict::pass;
        pending = event;
        answer.reset();
        changed.notify_all();
        changed.wait(guard, [&] { return answer.has_value() || active == nullptr; });
        KeyVerdict verdict = answer.value_or(KeyVerdict::pass);
        answer.reset();
        return verdict;
    }

    KeyVerdict down(std::uint16_t code, std::uint64_t flags, bool repeat = false) {
        KeyEvent e;
        e.type = KeyEvent::Type::keyDown;
        e.keyCode = code;
        e.flags = flags;
        e.autoRepeat = repeat;
        e.timestamp = monotonicSeconds();
        return send(e);
    }
    KeyVerdict up(std::uint16_t code, std::uint64_t flags) {
        KeyEvent e;
        e.type = KeyEvent::Type::keyUp;
        e.keyCode = code;
        e.flags = flags;
        e.timestamp = monotonicSeconds();
        return send(e);
    }

    HotkeyTap::SourceFactory factory();

    void failNextOpen(std::optional<HotkeyTap::Failure> failure) {
        std::lock_guard guard(lock);
        openFailure = std::move(failure);
    }
    bool running() {
        std::lock_guard guard(lock);
        return active != nullptr;
    }
    int opens() {
        std::lock_guard guard(lock);
        return openCount;
    }
    int reenables() {
        std::lock_guard guard(lock);
        return reenableCount;
    }
    std::string tapThreadName() {
        std::lock_guard guard(lock);
        return threadName;
    }

private:
    friend class FakeKeySource;
    std::mutex lock;
    std::condition_variable changed;
    const void* active = nullptr;     // guarded by lock: the opened source, until run() ends
    std::optional<KeyEvent> pending;  // guarded by lock
    std::optional<KeyVerdict> answer; // guarded by lock
    std::optional<HotkeyTap::Failure> openFailure; // guarded by lock
    int openCount = 0;                             // guarded by lock
    int reenableCount = 0;                         // guarded by lock
    std::string threadName;                        // guarded by lock
};

class FakeKeySource : public KeyEventSource {
public:
    explicit FakeKeySource(std::shared_ptr<FakeKeyboard> keyboard) : kb(std::move(keyboard)) {}

    void open(const HotkeyBinding&) override {
        std::lock_guard guard(kb->lock);
        ++kb->openCount;
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        kb->threadName = name;
        if (kb->openFailure)
            throw *kb->openFailure;
        kb->active = this; // start() returns after open(): events must not race run()
    }
    void run(KeyEventSink& sink) override {
        std::unique_lock guard(kb->lock);
        while (!stopped) {
            if (kb->pending) {
                KeyEvent event = *kb->pending;
                kb->pending.reset();
                guard.unlock();
                KeyVerdict verdict = sink.handle(event);
                guard.lock();
                kb->answer = verdict;
                kb->changed.notify_all();
                continue;
            }
            kb->changed.wait(guard);
        }
        kb->active = nullptr;
        kb->pending.reset();
        kb->changed.notify_all();
    }
    void stop() override {
        std::lock_guard guard(kb->lock);
        stopped = true;
        kb->changed.notify_all();
    }
    void reenable() override {
        std::lock_guard guard(kb->lock);
        ++kb->reenableCount;
    }

private:
    std::shared_ptr<FakeKeyboard> kb;
    bool stopped = false; // guarded by kb->lock
};

inline HotkeyTap::SourceFactory FakeKeyboard::factory() {
    return [self = shared_from_this()] { return std::make_unique<FakeKeySource>(self); };
}

} // namespace talvoro::testing
