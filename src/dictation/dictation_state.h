#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace talvoro {

// Where the dictation is. Five states are final (inserted, queued, failed, nowhere,
// inClipboard): they linger for a moment and fall back to idle. Equal when the kind and the payload
// are equal.
struct DictationState {
    // inClipboard: no way to insert on this desktop; the text waits on the clipboard.
    enum class Kind {
        idle,
        recording,
        transcribing,
        polishing,
        inserted,
        queued,
        failed,
        nowhere,
        inClipboard
    };

    Kind kind = Kind::idle;
    int words = 0;                  // inserted
    std::optional<std::string> app; // inserted: the application that received the text
    int pending = 0;                // queued: recordings waiting
    std::string text;               // failed: what to show

    static DictationState idle() { return {}; }
    static DictationState recording() { return of(Kind::recording); }
    static DictationState transcribing() { return of(Kind::transcribing); }
    static DictationState polishing() { return of(Kind::polishing); }
    static DictationState inserted(int words, std::optional<std::string> app) {
        DictationState state = of(Kind::inserted);
        state.words = words;
        state.app = std::move(app);
        return state;
    }
    static DictationState queued(int pending) {
        DictationState state = of(Kind::queued);
        state.pending = pending;
        return state;
    }
    static DictationState failed(std::string text) {
        DictationState state = of(Kind::failed);
        state.text = std::move(text);
        return state;
    }
    static DictationState nowhere() { return of(Kind::nowhere); }
    static DictationState inClipboard() { return of(Kind::inClipboard); }

    bool is(Kind k) const { return kind == k; }
    bool isFinal() const;
    bool operator==(const DictationState&) const = default;

private:
    static DictationState of(Kind kind) {
        DictationState state;
        state.kind = kind;
        return state;
    }
};

// "inserted(3, Kate)", for logs and test messages.
std::string describe(const DictationState& state);
inline void PrintTo(const DictationState& state, std::ostream* out) {
    *out << describe(state);
}

// The pieces of a text between runs of white space (every Unicode white-space character:
// spaces of all widths, tabs, line ends, U+0085, U+2028, U+2029), empty pieces not counted.
int wordCount(std::string_view text);

} // namespace talvoro
