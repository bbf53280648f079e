#pragma once

#include "insertion/focus_source.h"
#include "insertion/frontmost_app.h"
#include "insertion/paste_keystroke.h"
#include "insertion/paster_failure.h"

#include <deque>
#include <functional>
#include <vector>

namespace talvoro::testing {

// Answers the system-wide focus queries from a script, one answer per call; the last one
// repeats. Nothing in the script means "no focused element".
class ScriptedFocusSource : public FocusSource {
public:
    std::deque<std::optional<Paster::Focus>> answers;
    int systemCalls = 0;
    int wakes = 0;

    bool available() override { return true; }
    std::optional<Paster::Focus> systemFocus(std::vector<std::string>& notes) override {
        ++systemCalls;
        std::optional<Paster::Focus> answer = answers.empty() ? std::nullopt : answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        if (!answer)
            notes.push_back("system " + std::to_string(systemCalls));
        return answer;
    }
    std::optional<Paster::Focus> applicationFocus(std::int64_t pid,
                                                  std::vector<std::string>& notes) override {
        notes.push_back("app " + std::to_string(pid));
        return std::nullopt;
    }
    void wakeReporting(std::int64_t) override { ++wakes; }
};

class FixedFrontmostApp : public FrontmostAppSource {
public:
    std::optional<FrontmostApp> app;
    std::optional<FrontmostApp> current() override { return app; }
};

class RecordedKeystroke : public PasteKeystroke {
public:
    bool canPress = true;
    std::vector<PasteShortcut> presses;
    int prepares = 0;
    std::function<void()> onPrepare; // the desktop asking the user
    std::function<void()> onWait;    // the user letting go of held keys
    std::function<void()> onPress;   // what the "receiving application" does

    bool available() override { return canPress; }
    void prepare() override {
        ++prepares;
        if (onPrepare)
            onPrepare();
    }
    void waitForKeysReleased() override {
        if (onWait)
            onWait();
    }
    void press(PasteShortcut shortcut) override {
        presses.push_back(shortcut);
        if (onPress)
            onPress();
    }
};

} // namespace talvoro::testing
