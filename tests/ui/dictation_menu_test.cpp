#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <fstream>
#include <sys/stat.h>

#include "ui/presenter_rig.h"

using namespace talvoro;
using namespace talvoro::testing;

namespace {

// The menu's texts, disabled ones in brackets, separators as "—".
std::vector<std::string> texts(const QMenu& menu) {
    std::vector<std::string> out;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator())
            out.push_back("—");
        else if (action->isEnabled())
            out.push_back(action->text().toStdString());
        else
            out.push_back("[" + action->text().toStdString() + "]");
    }
    return out;
}

bool has(const std::vector<std::string>& items, const std::string& text) {
    return std::find(items.begin(), items.end(), text) != items.end();
}

QAction* find(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

DictationMenu::Facts facts() {
    DictationMenu::Facts f;
    f.statusLine = "диктовка: Alt+Space";
    f.hasPresenter = true;
    f.rawHotkey = "Alt+Shift+V";
    f.engineLine = "распознаю моделью GigaAM v3 RNN-T int8";
    f.versionLine = "версия 0.1.0 (7)";
    return f;
}

class MenuTest : public PresenterRig {
protected:
    QMenu menu;
};

TEST_F(MenuTest, AfterADictationWithNotesAndSamples) {
    DictationMenu::Facts f = facts();
    f.lastText = "привет";
    f.canPasteRaw = true;
    f.polishNote = "без правки";
    f.insertNote = "в Kate";
    f.hasDictionary = true;
    f.samplePairs = 2;
    f.sampleBytes = 1500000;
    int pasted = 0, raw = 0;
    DictationMenu::Actions actions;
    actions.pasteLast = [&] { ++pasted; };
    actions.pasteRaw = [&] { ++raw; };
    DictationMenu::fill(menu, f, actions);
    const auto items = texts(menu);
    EXPECT_EQ(items[1], "Вставить последнюю диктовку");
    EXPECT_EQ(items[2], "Вставить как было · Alt+Shift+V");
    EXPECT_EQ(items[3], "[правка: без правки]");
    EXPECT_EQ(items[4], "[вставка: в Kate]");
    EXPECT_TRUE(has(items, "Словарь замен…"));
    EXPECT_TRUE(has(items, "[Разметка: 2 пары · 1,5 МБ]")) << items[9];
    EXPECT_TRUE(has(items, "Собрать разметку в архив…"));
    find(menu, "Вставить последнюю диктовку")->trigger();
    find(menu, "Вставить как было · Alt+Shift+V")->trigger();
    EXPECT_EQ(pasted, 1);
    EXPECT_EQ(raw, 1);

    f.canPasteRaw = false;
    DictationMenu::fill(menu, f, actions);
    EXPECT_FALSE(find(menu, "Вставить как было · Alt+Shift+V"));
}

TEST_F(MenuTest, SessionWaysInOneLineTheBlockerAndOnGnomeTheShortcutItem) {
    DictationMenu::Facts f = facts();
    f.sessionLine = "Хоткей: перехват X11 · вставка: XTest · буфер: выделение X11";
    f.sessionBlocker = "вставка не сработает: нечем нажать Ctrl+V — нет XWayland";
    f.gnomeShortcut = true;
    int toggled = 0;
    DictationMenu::Actions actions;
    actions.gnomeShortcut = [&] { ++toggled; };
    DictationMenu::fill(menu, f, actions);
    const auto items = texts(menu);
    EXPECT_EQ(std::vector<std::string>(items.begin() + 2, items.begin() + 5),
              (std::vector<std::string>{"[" + f.sessionLine + "]", "[" + *f.sessionBlocker + "]",
                                        "Назначить сочетание в GNOME"}));
    QAction* gnome = find(menu, "Назначить сочетание в GNOME");
    EXPECT_TRUE(gnome->isChecked());
    gnome->trigger();
    EXPECT_EQ(toggled, 1);

    f.gnomeShortcut.reset(); // not GNOME
    DictationMenu::fill(menu, f, actions);
    EXPECT_FALSE(find(menu, "Назначить сочетание в GNOME"));
}

TEST_F(MenuTest, MissingPermissionsAreSaidInWordsWithoutSettingsItems) {
    const std::string xtest = "вставка: X-сервер не даёт нажимать клавиши (нет XTEST)";
    // X11 without XTEST; Wayland without a clipboard path, which its blocker names.
    for (const std::string blocker : {"", "вставка не сработает: нечем положить текст в буфер"}) {
        DictationMenu::Facts f = facts();
        f.missing.accessibility = true;
        if (!blocker.empty())
            f.sessionBlocker = blocker;
        DictationMenu::fill(menu, f, {});
        const auto items = texts(menu);
        EXPECT_EQ(items[1], "[" + (blocker.empty() ? xtest : blocker) + "]");
        EXPECT_EQ(std::count(items.begin(), items.end(), items[1]), 1) << "said once";
        for (const std::string& item : items)
            EXPECT_EQ(item.find("Открыть"), std::string::npos) << item;
    }
}

TEST_F(MenuTest, HostOffersTheLastDictationsPastesCopiesAndClearsThem) {
    auto options = hostOptions();
    const std::string kept = dir / "state/recent.json";
    options.presenter.recent = std::make_shared<RecentDictations>(kept);
    for (int i = 0; i < RecentDictations::limit; ++i)
        options.presenter.recent->add({"старая " + std::to_string(i), "", {}});
    DictationHost host(config, false, {}, options);
    DictationPresenter& presenter = host.start();
    ASSERT_TRUE(presenter.hasController());
    auto state = [&] { return presenter.state(); };
    press(state);
    speak(0.6);
    transcriber->answer("раз два");
    press(state);
    ASSERT_TRUE(processUntil([&] { return presenter.lastText().has_value(); }));
    EXPECT_EQ(pastes, 1);

    DictationMenu::fill(menu, host.menuFacts(), host.menuActions({}));
    const auto items = texts(menu);
    EXPECT_EQ(items[0].rfind("[диктовка: ", 0), 0u) << items[0];
    EXPECT_TRUE(has(items, "[модель не скачана — нужна сеть один раз]"));
    QAction* last = find(menu, "Вставить последнюю диктовку");
    ASSERT_TRUE(last);
    last->trigger();
    EXPECT_TRUE(processUntil([&] { return pastes == 2; }));

    QMenu* recent = find(menu, "Последние диктовки")->menu();
    ASSERT_TRUE(recent);
    const auto lines = texts(*recent);
    ASSERT_EQ(lines.size(), RecentDictations::limit + 2u);
    EXPECT_EQ(lines[0].rfind("раз два · Kate · ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "старая 9");
    struct stat info {};
    ASSERT_EQ(::stat(kept.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    recent->actions()[0]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "раз два");
    find(*recent, "Очистить")->trigger();
    DictationMenu::fill(menu, host.menuFacts(), host.menuActions({}));
    EXPECT_FALSE(find(menu, "Последние диктовки"));
}

TEST_F(MenuTest, HostIconFollowsRecordingAndAStopLetsTheKeyGo) {
    DictationHost host(config, false, {}, hostOptions());
    EXPECT_EQ(host.iconState(), MenuBarIcon::State::idle());
    DictationPresenter& presenter = host.start();
    presenter.showPill("качаю модель…");
    EXPECT_TRUE(presenter.pill().isShown());
    presenter.hidePillIfIdle();
    EXPECT_FALSE(presenter.pill().isShown());
    press([&] { return presenter.state(); });
    EXPECT_EQ(host.iconState().kind, MenuBarIcon::State::Kind::recording);
    host.stop();
    EXPECT_EQ(host.iconState(), MenuBarIcon::State::idle());
    EXPECT_TRUE(processUntil([&] { return !keys->running(); }));
}

} // namespace

TEST_F(MenuTest, AMissingModelIsOfferedForDownloadUnlessOneRunsAndFromAFolder) {
    DictationMenu::Facts f = facts();
    f.engineLine = "модель не скачана — нужна сеть один раз";
    f.modelMissing = true;
    int downloads = 0, imports = 0;
    DictationMenu::Actions actions;
    actions.downloadModel = [&] { ++downloads; };
    actions.importModel = [&] { ++imports; };
    DictationMenu::fill(menu, f, actions);
    auto items = texts(menu);
    EXPECT_EQ(std::vector<std::string>(items.begin() + 2, items.begin() + 5),
              (std::vector<std::string>{"[модель не скачана — нужна сеть один раз]",
                                        "Скачать модель", "Установить модель из папки…"}));
    find(menu, "Скачать модель")->trigger();
    find(menu, "Установить модель из папки…")->trigger();
    EXPECT_EQ(downloads + imports, 2);

    f.downloading = true;
    DictationMenu::fill(menu, f, actions);
    items = texts(menu);
    EXPECT_FALSE(has(items, "Скачать модель"));
    EXPECT_TRUE(has(items, "Установить модель из папки…"));
    f.importing = true;
    DictationMenu::fill(menu, f, actions);
    EXPECT_FALSE(has(texts(menu), "Установить модель из папки…"));
}
