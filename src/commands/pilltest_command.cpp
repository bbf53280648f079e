#include "commands/pilltest_command.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "commands/stop_signals.h"
#include "ui/dictation_pill.h"
#include "ui/menu_bar_icon.h"

namespace talvoro {

namespace {

const char* const defaultPhrase = "Опять проверяем, — сказал сервер.";

const char* const longSentence =
    "Сегодня утром мы собрались в переговорной, чтобы ещё раз пройтись по плану выпуска: "
    "сначала проверяем сборку на чистой машине, потом записываем короткую диктовку в "
    "текстовый редактор, смотрим, как пилюля растёт по слову и не вылезает за край экрана, "
    "а в конце собираем замечания в один список и решаем, что из этого чинить до пятницы, "
    "а что можно спокойно оставить на следующую неделю.";

std::vector<std::string> wordsOf(const std::string& phrase) {
    std::vector<std::string> words;
    for (const QString& word :
         QString::fromStdString(phrase).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        words.push_back(word.toStdString());
    return words;
}

std::string firstWords(const std::vector<std::string>& words, size_t count) {
    std::string text;
    for (size_t i = 0; i < count && i < words.size(); ++i)
        text += (i ? " " : "") + words[i];
    return text;
}

std::string elapsed(double seconds) {
    const int whole = static_cast<int>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", whole / 60, whole % 60);
    return text;
}

QDir outputFolder(const std::string& path) {
    QDir dir(QString::fromStdString(path));
    if (!dir.mkpath("."))
        fail("не могу создать каталог " + path);
    return dir;
}

void writeFile(const QDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("не могу записать " + path.toStdString());
    std::printf("%s\n", path.toStdString().c_str());
}

void writeSnapshot(const DictationPill& pill, const QDir& dir, const QString& name) {
    const auto png = pill.snapshotPNG();
    if (!png)
        fail("пилюля не нарисовалась: " + name.toStdString());
    writeFile(dir, name, *png);
}

// Stands for the icon of the application that got the text: the tray figure, drawn to stand
// out on the pill's surface.
QImage sampleAppIcon(std::optional<ColorScheme> scheme) {
    return MenuBarIcon::image(MenuBarIcon::State::idle(), scheme.value_or(desktopColorScheme()),
                              3.0);
}

void writeShots(DictationPill& pill, std::optional<ColorScheme> scheme,
                const CommandContext& context, const QDir& dir) {
    struct Frame {
        const char* name;
        std::string text;
        PillGlyph glyph;
        std::optional<float> level;
    };
    const std::vector<Frame> frames = {
        {"pill-recording.png", "0:07", PillGlyph::record, 0.6f},
        {"pill-transcribing.png", "распознаю…", PillGlyph::busy, std::nullopt},
        {"pill-inserted.png",
         "Текстовый редактор · 12 слов",
         {PillGlyph::ok, sampleAppIcon(scheme)},
         std::nullopt},
        {"pill-nowhere.png",
         "курсор не в поле · " + context.config.dictationHotkey.description() + " вставит",
         PillGlyph::blocked, std::nullopt},
        {"pill-queued.png", "нет сервера · в очереди 2", PillGlyph::wait, std::nullopt},
        {"pill-failed.png", "не настроен ключ распознавания", PillGlyph::fail, std::nullopt},
        // A first start without a network: the host's own texts, glyph-less as it shows them.
        {"pill-model-fetching.png", "качаю модель · 37%", {}, std::nullopt},
        {"pill-model-failed.png", "модель не скачалась — повторю сам", {}, std::nullopt},
    };
    for (const Frame& frame : frames) {
        pill.show(frame.text, frame.glyph, frame.level);
        writeSnapshot(pill, dir, frame.name);
    }
    pill.hide();
}

void writeGrowth(DictationPill& pill, const std::string& phrase, const QDir& dir) {
    const std::vector<std::string> words = wordsOf(phrase);
    for (size_t count = 1; count <= words.size(); ++count) {
        const float level = 0.3f + 0.6f * static_cast<float>(count % 3) / 2;
        pill.show(elapsed(count * 0.5), PillGlyph::record, level,
                  DictationSnapshot{firstWords(words, count), std::nullopt});
        writeSnapshot(pill, dir, QString("pill-grow-%1.png").arg(count, 2, 10, QChar('0')));
    }
    pill.hide();
}

void writeIcons(const QDir& dir) {
    const std::pair<const char*, MenuBarIcon::State> states[] = {
        {"idle", MenuBarIcon::State::idle()},
        {"recording", MenuBarIcon::State::recording(0.5f)},
        {"queued", MenuBarIcon::State::queued()},
    };
    for (const auto& [name, state] : states)
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark})
            for (const int ratio : {1, 2}) {
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                MenuBarIcon::image(state, scheme, ratio).save(&buffer, "PNG");
                writeFile(dir,
                          QString("icon-%1-%2-%3x.png")
                              .arg(name, scheme == ColorScheme::dark ? "dark" : "light")
                              .arg(ratio),
                          bytes);
            }
}

// Grows the long sentence on screen, one word every 0.5 s, starting over at its end.
void growOnScreen(DictationPill& pill) {
    const std::vector<std::string> words = wordsOf(longSentence);
    std::printf("%zu слов по одному раз в 0.5 с, Ctrl-C выход\n", words.size());
    std::fflush(stdout);

    StopSignals stopSignals;
    size_t count = 0;
    QTimer grow;
    QObject::connect(&grow, &QTimer::timeout, [&] {
        count = count % words.size() + 1;
        const float level = 0.2f + 0.7f * static_cast<float>(count % 4) / 3;
        pill.show(elapsed(count * 0.5), PillGlyph::record, level,
                  DictationSnapshot{firstWords(words, count), std::nullopt});
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&stopSignals] {
        if (stopSignals.requested())
            QCoreApplication::quit();
    });
    grow.start(500);
    watch.start(100);
    pill.show(elapsed(0), PillGlyph::record, 0.0f);
    QCoreApplication::exec();
    pill.hide();
}

} // namespace

bool runPilltest(const CommandContext& context) {
    DictationPill pill;
    std::optional<ColorScheme> scheme;
    if (const auto theme = context.args.option("theme"))
        scheme = *theme == "dark" ? ColorScheme::dark : ColorScheme::light;
    pill.setColorScheme(scheme);

    const auto shots = context.args.option("shots");
    const auto grow = context.args.option("grow");
    const auto icons = context.args.option("icons");
    if (shots)
        writeShots(pill, scheme, context, outputFolder(*shots));
    if (grow)
        writeGrowth(pill, context.args.positionalArgument().value_or(defaultPhrase),
                    outputFolder(*grow));
    if (icons)
        writeIcons(outputFolder(*icons));
    if (!shots && !grow && !icons)
        growOnScreen(pill);
    std::fflush(stdout);
    return true;
}

} // namespace talvoro
