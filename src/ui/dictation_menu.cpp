#include "ui/dictation_menu.h"

#include <QLocale>
#include <cmath>

#include "base/build_constants.h"
#include "ui/russian_forms.h"

namespace talvoro {

namespace {

QAction* info(QMenu& menu, const std::string& text) {
    QAction* action = menu.addAction(QString::fromStdString(text));
    action->setEnabled(false);
    return action;
}

void item(QMenu& menu, const std::string& text, const std::function<void()>& run) {
    QAction* action = menu.addAction(QString::fromStdString(text));
    QObject::connect(action, &QAction::triggered, &menu, [run] {
        if (run)
            run();
    });
}

// What stands in for the other desktop's settings panes: what is missing, in words. Where the
// session has no way to paste (no clipboard in a Wayland session, no XTEST), its blocker says
// which.
void missingLines(QMenu& menu, const MissingPermissions& missing,
                  const std::optional<std::string>& blocker) {
    if (missing.microphone)
        info(menu, "микрофон: звуковой сервер (PulseAudio/PipeWire) не отдал источник записи");
    if (missing.inputMonitoring)
        info(menu, "хоткей: нет связи с X-сервером (DISPLAY)");
    if (missing.accessibility)
        info(menu, blocker.value_or("вставка: X-сервер не даёт нажимать клавиши (нет XTEST)"));
}

} // namespace

void DictationMenu::fill(QMenu& menu, const Facts& facts, const Actions& actions) {
    menu.clear();
    info(menu, facts.statusLine);
    if (facts.hotkeyNote)
        info(menu, "хоткей: " + *facts.hotkeyNote);
    if (facts.microphoneNote)
        info(menu, "микрофон: " + *facts.microphoneNote);
    if (facts.hasPresenter) {
        if (facts.lastText)
            item(menu, "Вставить последнюю диктовку", actions.pasteLast);
        if (facts.canPasteRaw)
            item(menu, "Вставить как было · " + facts.rawHotkey, actions.pasteRaw);
        if (facts.polishNote)
            info(menu, "правка: " + *facts.polishNote);
        if (facts.insertNote)
            info(menu, "вставка: " + *facts.insertNote);
        missingLines(menu, facts.missing, facts.sessionBlocker);
    }
    if (!facts.recent.empty()) {
        QMenu* recent = menu.addMenu("Последние диктовки");
        for (const RecentDictations::Entry& entry : facts.recent)
            item(*recent, RecentDictations::title(entry),
                 [copy = actions.copyText, text = entry.text] {
                     if (copy)
                         copy(text);
                 });
        recent->addSeparator();
        item(*recent, "Очистить", actions.clearRecent);
    }
    menu.addSeparator();
    if (!facts.sessionLine.empty())
        info(menu, facts.sessionLine);
    if (facts.sessionBlocker && !(facts.hasPresenter && facts.missing.accessibility))
        info(menu, *facts.sessionBlocker); // unless said above
    if (facts.gnomeShortcut) {
        QAction* bind = menu.addAction("Назначить сочетание в GNOME");
        bind->setCheckable(true);
        bind->setChecked(*facts.gnomeShortcut);
        QObject::connect(bind, &QAction::triggered, &menu, [run = actions.gnomeShortcut] {
            if (run)
                run();
        });
    }
    info(menu, facts.engineLine);
    if (facts.modelMissing && !facts.downloading && !facts.importing)
        item(menu, "Скачать модель", actions.downloadModel);
    if (facts.modelMissing && !facts.importing)
        item(menu, "Установить модель из папки…", actions.importModel);
    if (facts.hasDictionary) {
        menu.addSeparator();
        item(menu, "Словарь замен…", actions.openDictionary);
    }
    if (facts.samplePairs > 0) {
        menu.addSeparator();
        info(menu, "Разметка: " + std::to_string(facts.samplePairs) + " " +
                       pairsForm(facts.samplePairs) + " · " + byteCount(facts.sampleBytes));
        item(menu, "Собрать разметку в архив…", actions.collectSamples);
    }
    menu.addSeparator();
    if (actions.openSettings)
        item(menu, "Настройки…", actions.openSettings);
    if (actions.autostart)
        menu.addAction(actions.autostart(&menu));
    info(menu, facts.versionLine);
    menu.addSeparator();
    QAction* quit = menu.addAction("Выход");
    quit->setShortcut(QKeySequence("Ctrl+Q"));
    QObject::connect(quit, &QAction::triggered, &menu, [run = actions.quit] {
        if (run)
            run();
    });
}

std::string DictationMenu::engineLine(std::optional<double> downloadShare, bool modelUsable,
                                      const std::string& modelVersion,
                                      const std::optional<std::string>& loadError) {
    if (downloadShare)
        return "качаю " + modelVersion + " · " +
               std::to_string(static_cast<int>(std::floor(*downloadShare * 100))) + "%";
    if (modelUsable && loadError)
        return "модель не загрузилась: " + *loadError;
    if (modelUsable)
        return "распознаю моделью " + modelVersion;
    return "модель не скачана — нужна сеть один раз";
}

std::string DictationMenu::versionLine() {
    return std::string("версия ") + version + " (" + buildNumber + ")";
}

std::string DictationMenu::byteCount(std::int64_t bytes) {
    return QLocale(QLocale::Russian)
        .formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat)
        .toStdString();
}

} // namespace talvoro
