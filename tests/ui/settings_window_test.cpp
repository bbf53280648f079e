// The settings window driven as a user drives it, under an Xvfb and a PulseAudio of the test's
// own, against a running host on the presenter rig's fakes.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <thread>

#include "hotkey/x11_key_client.h"
#include "support/pulse_server.h"
#include "support/run_program.h"
#include "support/xvfb_server.h"
#include "ui/presenter_rig.h"
#include "ui/settings_window.h"

using namespace talvoro;
using namespace talvoro::testing;

namespace {

class SettingsWindowTest : public PresenterRig {
protected:
    void SetUp() override {
        if (!xvfb.running() || !pulse.running())
            GTEST_SKIP() << "needs Xvfb and pulseaudio";
        std::ofstream(settings) << "# мои настройки\n"
                                << "SIBLING_TOOL_KEY=1\n"
                                << "DICTATION_DIR=" << (dir / "Dictation") << "\n"
                                << "DICT_FILE=" << (dir / "замены.txt") << "\n";
        std::ofstream(dir / "замены.txt") << "# мой словарь\n"
                                          << "эльсов = lsof\n"
                                          << "строка без правила\n";
    }

    Config loaded() {
        Config fresh = Config::load(settings);
        fresh.limitToLocalOnly();
        return fresh;
    }

    XvfbServer xvfb;
    PulseServer pulse;
    std::string settings = dir / "dictation.env";
};

int indexOf(QComboBox& list, const std::string& name) {
    return list.findData(QString::fromStdString(name));
}

TEST_F(SettingsWindowTest, HotkeyMicrophoneAndDictionaryGoToTheirFilesAndTheRunningProgram) {
    auto options = hostOptions();
    options.settingsFile = settings;
    options.reload = [this] { return loaded(); };
    DictationHost host(loaded(), false, {}, options);
    host.start();
    ASSERT_TRUE(host.presenter()->hasController());
    SettingsWindow window(host.settingsWindowOptions());
    window.show();

    // A combination another client holds is refused with the reason; a free one is taken.
    Typist other;
    xcb_connection_t* c = other.connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ASSERT_EQ(xcb_request_check(c, xcb_grab_key_checked(c, 1, root, XCB_MOD_MASK_CONTROL,
                                                        other.keycode(keysym::x),
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
              nullptr);
    HotkeyField* field = window.hotkeyField();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    const auto refusal = window.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(refusal.begin(), refusal.end(), [](QLabel* label) {
        return label->text().contains("Ctrl+X уже занято другой программой");
    }));
    EXPECT_EQ(readFile(settings).find("DICTATION_HOTKEY"), std::string::npos);
    QTest::keyClick(field, Qt::Key_Space, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(processUntil([&] {
        return host.presenter() && host.presenter()->hotkeyDescription() == "Ctrl+Alt+Space";
    }));
    EXPECT_TRUE(host.presenter()->hasController());
    EXPECT_EQ(field->text().toStdString(), "Ctrl+Alt+Space");

    // A second microphone appears within a second, is chosen, heard and remembered by name.
    const ProgramResult module = runProgram("pactl load-module module-null-sink sink_name=desk "
                                            "sink_properties=device.description=Desk");
    ASSERT_EQ(module.status, 0) << module.output;
    QComboBox& list = *window.microphoneList();
    ASSERT_TRUE(processUntil([&] { return indexOf(list, "desk.monitor") > 0; }, 10));
    EXPECT_TRUE(list.itemText(0).startsWith("как в системе"));
    list.setCurrentIndex(indexOf(list, "desk.monitor"));
    emit list.activated(list.currentIndex());
    ASSERT_TRUE(processUntil([&] {
        return host.presenter() && host.presenter()->config().microphone == "desk.monitor";
    }));
    std::atomic<bool> playing = true;
    std::thread noise([&] {
        runProgram("head -c 192000 /dev/urandom | paplay --raw --device=desk");
        playing = false;
    });
    int loudest = 0;
    processUntil([&] {
        loudest = std::max(loudest, window.levelBar()->value());
        return loudest > 10 || !playing;
    });
    noise.join();
    EXPECT_GT(loudest, 10) << "the meter hears the chosen source";
    runProgram("pactl unload-module " + module.output);
    EXPECT_EQ(host.menuFacts().microphoneNote,
              "desk.monitor не подключён — пишу с микрофона по умолчанию");

    // A dictionary row edited in the table; the comment and the odd line stay.
    QTableWidget& table = *window.dictionaryTable();
    ASSERT_EQ(table.rowCount(), 1);
    table.setFocus();
    table.setCurrentCell(0, 1);
    table.editItem(table.item(0, 1));
    auto* editor = table.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "LSOF");
    QTest::keyClick(editor, Qt::Key_Return);
    const std::string edited = "# мой словарь\nэльсов = LSOF\nстрока без правила\n";
    EXPECT_TRUE(processUntil([&] { return readFile(dir / "замены.txt") == edited; }, 5))
        << readFile(dir / "замены.txt");

    const std::string text = readFile(settings);
    EXPECT_EQ(text.rfind("# мои настройки\nSIBLING_TOOL_KEY=1\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nDICTATION_HOTKEY=Ctrl+Alt+Space\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nDICTATION_MICROPHONE=desk.monitor\n"), std::string::npos) << text;
    EXPECT_EQ(window.problem(), "");
}

} // namespace
