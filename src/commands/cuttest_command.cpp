#include "commands/cuttest_command.h"

#include <QTemporaryDir>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "cleanup/hesitation.h"
#include "cleanup/name_dict.h"
#include "commands/self_check.h"
#include "insertion/insert_shape.h"
#include "recognition/gigaam_piece.h"
#include "recognition/speech_cuts.h"

namespace talvoro {

namespace {

constexpr std::int64_t rate = 16000;
constexpr std::int64_t window = 320000;
constexpr float speech = 0.2f;
constexpr float pause = 0.0005f;

// A tone with a little ripple, loud for speech and faint for a pause.
void appendTone(std::vector<float>& samples, double seconds, float level) {
    const auto count = static_cast<std::int64_t>(seconds * rate);
    for (std::int64_t n = 0; n < count; ++n) {
        const auto i = static_cast<std::int64_t>(samples.size());
        samples.push_back(static_cast<float>(
            (std::sin(0.08 * i) + static_cast<double>(i % 7 - 3) * 0.02) * level));
    }
}

std::vector<float> tone(std::initializer_list<std::pair<double, float>> parts) {
    std::vector<float> samples;
    for (const auto& [seconds, level] : parts)
        appendTone(samples, seconds, level);
    return samples;
}

bool coversWithoutGaps(const std::vector<SampleRange>& ranges, std::size_t count) {
    std::int64_t at = 0;
    for (const SampleRange& range : ranges) {
        if (range.start != at || range.end <= range.start)
            return false;
        at = range.end;
    }
    return at == static_cast<std::int64_t>(count);
}

std::string describe(const std::vector<SampleRange>& ranges) {
    std::string text;
    for (const SampleRange& range : ranges)
        text += (text.empty() ? "" : " ") + std::to_string(range.start) + "…" +
                std::to_string(range.end);
    return text;
}

void checkCuts(SelfCheck& self) {
    const auto shortSpeech = SpeechCuts::split(tone({{6, speech}}), window);
    self.check("короткая речь одним куском", shortSpeech.size() == 1, describe(shortSpeech));

    // A seam in the pause, not 2.5 s into the speech after it (at the window's end).
    const auto longTail =
        SpeechCuts::split(tone({{16, speech}, {1.5, pause}, {12, speech}}), window);
    self.check("и при длинном хвосте шов сел в паузу",
               longTail.size() == 2 && longTail[0].end > 16 * rate && longTail[0].end < 17.5 * rate,
               describe(longTail));

    // Sentences of 2.6 s, each followed by half a second of pause, for a minute.
    std::vector<float> sentences;
    while (sentences.size() < 60 * rate) {
        appendTone(sentences, 2.6, speech);
        appendTone(sentences, 0.5, pause);
    }
    const auto spoken = SpeechCuts::split(sentences, window);
    bool inPauses = spoken.size() > 2;
    for (std::size_t i = 1; i < spoken.size(); ++i)
        inPauses = inPauses && std::fmod(static_cast<double>(spoken[i].start) / rate, 3.1) > 2.6;
    self.check("речь с паузами режется только в паузах", inPauses, describe(spoken));

    const auto shortTailAudio = tone({{16, speech}, {1.5, pause}, {6.5, speech}});
    const auto shortTail = SpeechCuts::split(shortTailAudio, window);
    self.check("речь с коротким хвостом режется надвое", shortTail.size() == 2,
               describe(shortTail));
    self.check("хвост дотянут до шести секунд",
               !shortTail.empty() && shortTail.back().length() >= 6 * rate, describe(shortTail));
    self.check("сдвинутый шов сел в паузу",
               shortTail.size() == 2 && shortTail[0].end > 16 * rate &&
                   shortTail[0].end < 17.5 * rate,
               describe(shortTail));

    const auto continuousAudio = tone({{46, speech}});
    const auto continuous = SpeechCuts::split(continuousAudio, window);
    self.check("сплошная речь всё равно режется", continuous.size() > 1, describe(continuous));
    bool withinWindow = !continuous.empty();
    for (const SampleRange& range : continuous)
        withinWindow = withinWindow && range.length() <= window;
    self.check("ни один кусок не длиннее окна", withinWindow, describe(continuous));
    self.check("куски покрывают речь без дырок",
               coversWithoutGaps(shortTail, shortTailAudio.size()) &&
                   coversWithoutGaps(continuous, continuousAudio.size()),
               describe(shortTail) + " / " + describe(continuous));
}

std::string describe(const std::optional<GigaAMCut>& cut) {
    return cut ? "«" + cut->text + "» до " + std::to_string(cut->upTo) : "отреза нет";
}

void checkEdge(SelfCheck& self) {
    const auto byLastWhole = edge({{"раз", 100, true}, {"два", 200, true}, {"три", 300, false}});
    self.check("отрез идёт по последнему целому куску",
               byLastWhole && byLastWhole->upTo == 200 && byLastWhole->text == "раз два",
               describe(byLastWhole));

    const auto emptyTail = edge({{"раз", 100, true}, {"", 200, true}});
    self.check("пустой хвостовой кусок не отменяет отрез",
               emptyTail && emptyTail->text == "раз" && emptyTail->upTo == 200,
               describe(emptyTail));

    const auto unfinished = edge({{"раз", 100, true}, {"два", 200, false}});
    self.check("недоговорённый кусок не отрезается",
               unfinished && unfinished->upTo == 100 && unfinished->text == "раз",
               describe(unfinished));

    const auto nothing = edge({{"раз", 100, false}});
    self.check("резать нечего — отреза нет", !nothing && !edge({}), describe(nothing));
}

void checkShape(SelfCheck& self, const std::string& name, const std::string& in,
                const std::string& expected) {
    const std::string out = InsertShape::trimmed(in);
    self.check(name, out == expected, "«" + in + "» → «" + out + "»");
}

void checkHesitation(SelfCheck& self, const std::string& name, const std::string& in,
                     const std::string& expected) {
    const std::string out = Hesitation::clean(in);
    self.check(name, out == expected, "«" + in + "» → «" + out + "»");
}

void checkDictionary(SelfCheck& self) {
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/словарь/замены.txt";
    std::string created;
    try {
        NameDict::ensure(path);
        std::ifstream in(path, std::ios::binary);
        created.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception& error) {
        created = error.what();
    }
    self.check("словарь заводится сам", created == NameDict::templateText,
               std::to_string(created.size()) + " байт");
    self.check("заготовка словаря пуста по правилам", NameDict::load(path).isEmpty());

    std::ofstream(path, std::ios::binary | std::ios::trunc) << "гадима = Годима\n";
    const std::string applied = NameDict::load(path).apply(std::string("Гадима Марию"));
    self.check("правило из файла применяется", applied == "Годима Марию", applied);
}

} // namespace

bool runCuttest(const CommandContext&) {
    SelfCheck self;
    checkCuts(self);
    checkEdge(self);

    checkShape(self, "точка в конце снята", "Готово.", "Готово");
    checkShape(self, "восклицание остаётся", "Готово!", "Готово!");
    checkShape(self, "многоточие остаётся", "Ну и вот...", "Ну и вот...");
    checkShape(self, "точка внутри не трогается", "Раз. Два", "Раз. Два");
    checkShape(self, "пробел после точки не мешает", "Готово. ", "Готово");
    checkShape(self, "текст без точки не меняется", "Готово", "Готово");

    checkHesitation(self, "«э-э» вычеркнуто", "С эмоциями, интонациями, э-э, чтоб хорошо звучало.",
                    "С эмоциями, интонациями, чтоб хорошо звучало.");
    checkHesitation(self, "«ну» — слово, а не мычание", "Ну и какой-нибудь юмор сюда.",
                    "Ну и какой-нибудь юмор сюда.");
    checkHesitation(self, "«м-м-м» вычеркнуто", "Давай, м-м-м, попозже.", "Давай, попозже.");
    checkHesitation(self, "точка от вычеркнутого не теряется", "Готово э-э. Дальше поехали.",
                    "Готово. Дальше поехали.");
    checkHesitation(self, "одна буква — не мычание", "а потом что", "а потом что");
    checkHesitation(self, "дефис внутри слова не трогаем", "какой-нибудь из-за кое-как",
                    "какой-нибудь из-за кое-как");

    checkDictionary(self);
    return self.finish("нарезка и чистка сходятся (");
}

} // namespace talvoro
