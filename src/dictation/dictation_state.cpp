#include "dictation/dictation_state.h"

#include <QChar>
#include <QList>
#include <QString>

namespace talvoro {

bool DictationState::isFinal() const {
    return kind == Kind::inserted || kind == Kind::queued || kind == Kind::failed ||
           kind == Kind::nowhere || kind == Kind::inClipboard;
}

std::string describe(const DictationState& state) {
    using Kind = DictationState::Kind;
    switch (state.kind) {
    case Kind::idle:
        return "idle";
    case Kind::recording:
        return "recording";
    case Kind::transcribing:
        return "transcribing";
    case Kind::polishing:
        return "polishing";
    case Kind::inserted:
        return "inserted(" + std::to_string(state.words) + ", " + state.app.value_or("—") + ")";
    case Kind::queued:
        return "queued(" + std::to_string(state.pending) + ")";
    case Kind::failed:
        return "failed(" + state.text + ")";
    case Kind::nowhere:
        return "nowhere";
    case Kind::inClipboard:
        return "inClipboard";
    }
    return "?";
}

int wordCount(std::string_view text) {
    int words = 0;
    bool inWord = false;
    for (const char32_t c :
         QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUcs4()) {
        // QChar::isSpace is the Unicode White_Space property (Zs, Zl, Zp, tab to carriage
        // return, U+0085).
        const bool space = QChar::isSpace(c);
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

} // namespace talvoro
