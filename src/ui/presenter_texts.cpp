#include "ui/presenter_texts.h"

#include <QString>
#include <cstdio>

#include "ui/russian_forms.h"

namespace talvoro {

namespace {

using Kind = DictationState::Kind;

// The first `count` characters (code points, not bytes).
std::string firstCharacters(const std::string& text, qsizetype count) {
    const QList<uint> points = QString::fromStdString(text).toUcs4();
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(points.constData()),
                             std::min(count, points.size()))
        .toStdString();
}

std::string wordsText(int words) {
    return std::to_string(words) + " " + wordsForm(words);
}

} // namespace

std::string recordingClock(double seconds) {
    const long whole = seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

PillPicture pillPicture(const DictationState& state, const ControllerFacts& facts) {
    PillPicture picture;
    switch (state.kind) {
    case Kind::idle:
        picture.hidden = true;
        break;
    case Kind::recording:
        picture = {false, recordingClock(facts.elapsed), PillGlyph::record, facts.level,
                   facts.live};
        break;
    case Kind::transcribing:
        if (facts.live && !facts.live->isEmpty())
            picture = {false, "дописываю…", PillGlyph::busy, std::nullopt, facts.live};
        else
            picture = {false, "распознаю…", PillGlyph::busy, std::nullopt, std::nullopt};
        break;
    case Kind::polishing:
        picture = {false, "причёсываю…", PillGlyph::busy, std::nullopt, facts.live};
        break;
    case Kind::inserted:
        picture.text = state.app ? *state.app + " · " + wordsText(state.words)
                                 : "вставлено · " + wordsText(state.words);
        picture.glyph = PillGlyph(PillGlyph::ok, facts.insertIcon.value_or(QImage()));
        break;
    case Kind::queued:
        picture.text = facts.pending >= 2
                           ? "нет сервера · в очереди " + std::to_string(facts.pending)
                           : "нет сервера · в очереди";
        picture.glyph = PillGlyph::wait;
        break;
    case Kind::failed:
        picture.text = facts.failure && !facts.failure->isTransient()
                           ? state.text
                           : "не вышло · " + firstCharacters(state.text, 28);
        picture.glyph = PillGlyph::fail;
        break;
    case Kind::nowhere:
        picture.text = "курсор не в поле · " + facts.hotkey + " вставит";
        picture.glyph = PillGlyph::blocked;
        break;
    case Kind::inClipboard:
        picture.text = "текст в буфере — вставь Ctrl+V";
        picture.glyph = PillGlyph::blocked;
        break;
    }
    const bool delivering =
        state.is(Kind::transcribing) || state.is(Kind::inserted) || state.is(Kind::nowhere);
    if (facts.microphoneLost && delivering)
        picture.text = "микрофон пропал · " + picture.text;
    return picture;
}

std::string statusLine(const StatusFacts& facts) {
    const std::string head = "диктовка: ";
    if (facts.startupError)
        return head + *facts.startupError;
    if (!facts.missing.isEmpty())
        return head + "нет разрешения (" + facts.missing.text() + ")";
    if (!facts.state)
        return head + facts.hotkey;
    const DictationState& state = *facts.state;
    switch (state.kind) {
    case Kind::idle:
        return head + facts.hotkey +
               (facts.pending >= 1 ? ", в очереди " + std::to_string(facts.pending) : "");
    case Kind::recording:
        return head + "запись";
    case Kind::transcribing:
        return head + "распознаю";
    case Kind::polishing:
        return head + "причёсываю";
    case Kind::inserted:
        return state.app ? head + "вставлено в " + *state.app + " · " + std::to_string(state.words)
                         : head + "вставлено " + std::to_string(state.words);
    case Kind::queued:
        return head + "в очереди " + std::to_string(facts.pending);
    case Kind::failed:
        return head + (facts.failure ? facts.failure->hint() : state.text);
    case Kind::nowhere:
        return head + "курсор был не в поле — поставь курсор и нажми " + facts.hotkey +
               " (текст и в буфере: Ctrl+V)";
    case Kind::inClipboard:
        return head + "текст в буфере — вставь Ctrl+V";
    }
    return head + facts.hotkey;
}

} // namespace talvoro
