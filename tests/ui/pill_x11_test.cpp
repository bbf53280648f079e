#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdlib>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include "base/journal.h"
#include "support/xvfb_server.h"
#include "ui/dictation_pill.h"
#include "ui/fake_pill_window_system.h"

using namespace talvoro;

namespace {

// The test's own view of the X server, apart from the application's connection.
class XView {
public:
    XView() : connection_(xcb_connect(nullptr, nullptr)) {}
    ~XView() { xcb_disconnect(connection_); }

    struct Attributes {
        bool overrideRedirect = false;
        int mapState = -1;
    };
    Attributes attributes(WId window) {
        auto* reply = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        Attributes found;
        if (reply != nullptr) {
            found = {reply->override_redirect != 0, reply->map_state};
            std::free(reply);
        }
        return found;
    }
    bool viewable(WId window) { return attributes(window).mapState == XCB_MAP_STATE_VIEWABLE; }

    xcb_window_t focus() {
        auto* reply =
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
        const xcb_window_t window = reply ? reply->focus : XCB_NONE;
        std::free(reply);
        return window;
    }

    // The WM_HINTS input field: whether the window wants the keyboard focus from a manager.
    std::optional<bool> acceptsFocusHint(WId window) {
        auto* reply = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, 9),
            nullptr);
        std::optional<bool> input;
        if (reply != nullptr && xcb_get_property_value_length(reply) >= 8) {
            const auto* fields = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            if (fields[0] & 1u)
                input = fields[1] != 0;
        }
        std::free(reply);
        return input;
    }

    int inputShapeRectangles(WId window) {
        auto* reply = xcb_shape_get_rectangles_reply(
            connection_, xcb_shape_get_rectangles(connection_, window, XCB_SHAPE_SK_INPUT),
            nullptr);
        const int count = reply ? reply->rectangles_len : -1;
        std::free(reply);
        return count;
    }

    // An unmanaged window mapped on top of everything, as a raised window would be.
    xcb_window_t cover() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const xcb_window_t window = xcb_generate_id(connection_);
        const uint32_t values[] = {1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1280, 800,
                          0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
        return window;
    }

    // The position among the root's children, bottom first.
    int stackPosition(WId window) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        auto* reply =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, screen->root), nullptr);
        int position = -1;
        if (reply != nullptr) {
            const xcb_window_t* children = xcb_query_tree_children(reply);
            for (int i = 0; i < xcb_query_tree_children_length(reply); ++i)
                if (children[i] == window)
                    position = i;
            std::free(reply);
        }
        return position;
    }

private:
    xcb_connection_t* connection_;
};

void settle() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

int journalLinesWith(const std::string& text) {
    Journal::shared().flush();
    QFile file(QString::fromStdString(Journal::shared().path()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(file.readAll().count(QByteArray::fromStdString(text)));
}

class PillX11Test : public ::testing::Test {
protected:
    // One server and one application for the process, the application ending first.
    static void SetUpTestSuite() {
        xvfb = new talvoro::testing::XvfbServer;
        if (xvfb->running()) {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            app = new QApplication(argc, argv);
        }
    }
    static void TearDownTestSuite() {
        delete app;
        delete xvfb;
    }

    void SetUp() override {
        if (!xvfb->running())
            GTEST_SKIP() << "Xvfb is not installed";
    }

    static inline talvoro::testing::XvfbServer* xvfb = nullptr;
    static inline QApplication* app = nullptr;
    static inline int argc = 1;
    static inline char name[] = "pill_x11_test";
    static inline char* argv[] = {name, nullptr};
    XView x;
};

TEST_F(PillX11Test, ShownPillIsAViewableUnmanagedWindowThatTakesNeitherFocusNorClicks) {
    double now = 0;
    DictationPill pill({nullptr, [&now] { return now; }, nullptr});
    const xcb_window_t focusBefore = x.focus();
    pill.show("0:03", PillGlyph::record, 0.4f, DictationSnapshot{"проверка", std::nullopt});
    settle();

    const WId window = pill.windowId();
    ASSERT_NE(window, 0u);
    const auto shown = x.attributes(window);
    EXPECT_TRUE(shown.overrideRedirect);
    EXPECT_EQ(shown.mapState, XCB_MAP_STATE_VIEWABLE);
    EXPECT_EQ(x.focus(), focusBefore);
    EXPECT_EQ(x.acceptsFocusHint(window), false);
    EXPECT_EQ(x.inputShapeRectangles(window), 0);

    // A window raised over it is gone under it again at the next check.
    const xcb_window_t cover = x.cover();
    EXPECT_GT(x.stackPosition(cover), x.stackPosition(window));
    now = 0.6;
    pill.show("0:04", PillGlyph::record, 0.4f, DictationSnapshot{"проверка", std::nullopt});
    settle();
    EXPECT_GT(x.stackPosition(window), x.stackPosition(cover));

    const auto system = makeSystemPillWindowSystem();
    EXPECT_EQ(system->isViewable(window), true);
    EXPECT_FALSE(system->compositing()); // a bare Xvfb: the pill cuts its own outline

    pill.hide();
    settle();
    EXPECT_NE(x.attributes(window).mapState, XCB_MAP_STATE_VIEWABLE);
    EXPECT_EQ(system->isViewable(window), false);
}

TEST_F(PillX11Test, ReCreatesTheWindowOncePerEpisodeOffTheScreen) {
    auto fake = std::make_shared<FakePillWindowSystem>();
    fake->viewable = false;
    double now = 0;
    DictationPill pill({fake, [&now] { return now; }, [] { return QPoint(300, 200); }});
    const std::string line = " не выводится на экран ";

    pill.show("0:00", PillGlyph::record, 0.0f);
    const WId first = pill.windowId();
    for (now = 0.2; now < 1.0; now += 0.2)
        pill.show("0:00", PillGlyph::record, 0.1f);
    EXPECT_EQ(fake->asked.size(), 2u); // at 0 and 0.6: no more than twice a second
    EXPECT_EQ(pill.windowId(), first);

    now = 1.2;
    pill.show("0:01", PillGlyph::record, 0.1f);
    settle();
    const WId second = pill.windowId();
    EXPECT_NE(second, first);
    EXPECT_TRUE(x.viewable(second));
    EXPECT_FALSE(x.viewable(first));
    EXPECT_EQ(pill.frame(), QRect(300 - 104, 218, 208, 38));
    EXPECT_EQ(journalLinesWith("пилюля: окно #" + std::to_string(first) + line +
                               "(isVisible: true, кадр 196,218) — пересоздаю панель"),
              1);

    for (now = 1.8; now < 4.0; now += 0.6)
        pill.show("0:02", PillGlyph::record, 0.1f);
    EXPECT_EQ(pill.windowId(), second) << "once per episode";

    fake->viewable = true; // back on the screen: the episode ends
    pill.show("0:04", PillGlyph::record, 0.1f);
    fake->viewable = false;
    for (now = 4.8; now < 6.5; now += 0.6)
        pill.show("0:05", PillGlyph::record, 0.1f);
    EXPECT_NE(pill.windowId(), second);
    EXPECT_EQ(journalLinesWith(line), 2);
}

} // namespace
