#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include "support/temp_dir.h"
#include "ui/presenter_rig.h"

using namespace talvoro;
using namespace talvoro::testing;
using Kind = DictationState::Kind;

namespace {

class PresenterTest : public PresenterRig {
protected:
    DictationPresenter& make() {
        presenter =
            std::make_unique<DictationPresenter>(config, transcriber, false, presenterOptions());
        presenter->onChange = [this] { ++changes; };
        return *presenter;
    }
    std::function<DictationState()> stateOf() {
        return [this] { return presenter->state(); };
    }

    std::unique_ptr<DictationPresenter> presenter;
    int changes = 0;
};

TEST_F(PresenterTest, RedrawsOnlyWhileRecordingOrRecognisingAndHidesTheFinalStateAfterItsLinger) {
    DictationPresenter& p = make();
    p.start();
    ASSERT_TRUE(p.hasController());
    press(stateOf());
    ASSERT_EQ(p.state().kind, Kind::recording);
    EXPECT_TRUE(p.tickerRunning());
    EXPECT_TRUE(p.pill().isShown());
    EXPECT_EQ(p.pill().scene().label.toStdString(), "0:00");
    EXPECT_TRUE(p.pill().scene().meterShown);
    EXPECT_EQ(p.statusLine(), "диктовка: запись");

    speak(0.6);
    transcriber->hold();
    transcriber->answer("раз два");
    press(stateOf());
    EXPECT_EQ(p.state().kind, Kind::transcribing);
    EXPECT_TRUE(p.tickerRunning());
    transcriber->release();
    ASSERT_TRUE(processUntil([&] { return p.state().is(Kind::inserted); }));
    EXPECT_FALSE(p.tickerRunning());
    EXPECT_EQ(p.pill().scene().label.toStdString(), "Kate · 2 слова");
    EXPECT_EQ(p.lastText(), "раз два");

    clock->advance(5);
    ASSERT_TRUE(processUntil([&] { return p.state().is(Kind::idle); }));
    EXPECT_FALSE(p.pill().isShown());
    EXPECT_FALSE(p.tickerRunning());
}

TEST_F(PresenterTest, ADictationStartsAtThePointerNotWhereTheGreetingWas) {
    DictationPresenter& p = make();
    p.start();
    p.showPill("готов · Alt+Space");
    const QRect greeting = p.pill().frame();
    pointer = {600, 400};
    press(stateOf());
    ASSERT_EQ(p.state().kind, Kind::recording);
    EXPECT_NE(p.pill().frame().topLeft(), greeting.topLeft());
    EXPECT_LT((p.pill().frame().center() - pointer).manhattanLength(), 150);
    const QRect recording = p.pill().frame();
    pointer = {100, 100};
    speak(0.2);
    clock->advance(0.1);
    QCoreApplication::processEvents();
    EXPECT_EQ(p.pill().frame().topLeft(), recording.topLeft()) << "it stays for the dictation";

    // A click cancels, as Esc does: the pill takes clicks while recording and only then.
    QWidget* window = QWidget::find(p.pill().windowId());
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->testAttribute(Qt::WA_TransparentForMouseEvents));
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &click);
    EXPECT_EQ(p.state().kind, Kind::idle);
    EXPECT_TRUE(window->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(PresenterTest, ACommandRepeatedWhileTheKeyIsHeldIsOneTap) {
    DictationPresenter& p = make();
    p.start();
    p.toggle();
    ASSERT_EQ(p.state().kind, Kind::recording);
    for (const double gap : {0.5, 0.03, 0.03}) { // GNOME's repeats of a held key
        clock->advance(gap);
        p.toggle();
    }
    EXPECT_EQ(p.state().kind, Kind::recording);
    clock->advance(0.7);
    p.toggle();
    EXPECT_NE(p.state().kind, Kind::recording);
}

TEST_F(PresenterTest, ATakenHotkeyNamesTheSettingsFileAndIsNotRetried) {
    keys->failNextOpen(HotkeyTap::Failure::conflict(config.dictationHotkey));
    auto options = presenterOptions();
    options.settingsPath = dir / "dictation.env";
    presenter = std::make_unique<DictationPresenter>(config, transcriber, false, options);
    presenter->start();
    EXPECT_FALSE(presenter->hasController());
    ASSERT_TRUE(presenter->startupError());
    const std::string line = presenter->statusLine();
    EXPECT_NE(line.find("Alt+Space"), std::string::npos) << line;
    EXPECT_NE(line.find("DICTATION_HOTKEY"), std::string::npos) << line;
    EXPECT_NE(line.find(dir / "dictation.env"), std::string::npos) << line;
    presenter->retryIfPermissionsAppeared();
    EXPECT_FALSE(presenter->hasController());
    EXPECT_FALSE(presenter->tickerRunning());
}

// A portal that will not bind: the desktop's own keybinding runs our toggle once the user agrees
// and the note says so; refused there too, the portal's refusal is the start failure.
TEST_F(PresenterTest, ARefusedPortalHandsTheKeyToTheDesktopsKeybinding) {
    const auto refusal = HotkeyTap::Failure::refused("рабочий стол отказал");
    auto options = presenterOptions();
    std::optional<HotkeyBinding> agreed;
    options.bindOnDesktop = [&](const HotkeyBinding&) { return agreed; };
    for (const bool agrees : {false, true}) {
        agreed = agrees ? HotkeyBinding::parse("ctrl+opt+space") : std::nullopt;
        keys->failNextOpen(refusal);
        presenter = std::make_unique<DictationPresenter>(config, transcriber, false, options);
        presenter->start();
        EXPECT_EQ(presenter->hasController(), agrees);
        EXPECT_EQ(presenter->startupError(),
                  agrees ? std::nullopt : std::optional<std::string>("рабочий стол отказал"));
    }
    EXPECT_EQ(presenter->hotkeyDescription(), "Ctrl+Alt+Space");
    ASSERT_TRUE(presenter->hotkeyNote());
    EXPECT_NE(presenter->hotkeyNote()->find("«talvoro toggle»"), std::string::npos);
    presenter->toggle();
    EXPECT_EQ(presenter->state().kind, Kind::recording);
}

} // namespace
