#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <memory>
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
    XView() : c(xcb_connect(nullptr, nullptr)) {}
    ~XView() { xcb_disconnect(c); }

    template <typename Reply> static std::unique_ptr<Reply, void (*)(void*)> own(Reply* reply) {
        return {reply, std::free};
    }
    auto attributes(WId window) {
        return own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), 0));
    }
    bool viewable(WId window) {
        auto r = attributes(window);
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    xcb_window_t focus() {
        auto r = own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        return r ? r->focus : XCB_NONE;
    }
    // The WM_HINTS input field: whether the window wants the keyboard focus from a manager.
    std::optional<bool> acceptsFocusHint(WId window) {
        auto r = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, 9), 0));
        if (!r || xcb_get_property_value_length(r.get()) < 8)
            return std::nullopt;
        const auto* fields = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
        return fields[0] & 1u ? std::optional<bool>(fields[1] != 0) : std::nullopt;
    }
    int inputShapeRectangles(WId window) {
        auto r = own(xcb_shape_get_rectangles_reply(
            c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_INPUT), nullptr));
        return r ? r->rectangles_len : -1;
    }
    // An unmanaged window mapped on top of everything, as a raised window would be.
    xcb_window_t cover() {
        const xcb_window_t window = xcb_generate_id(c);
        const uint32_t values[] = {1};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root(), 0, 0, 1280, 800, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c, window);
        xcb_flush(c);
        return window;
    }
    // The position among the root's children, bottom first.
    int stackPosition(WId window) {
        auto r = own(xcb_query_tree_reply(c, xcb_query_tree(c, root()), nullptr));
        const xcb_window_t* children = xcb_query_tree_children(r.get());
        const int count = xcb_query_tree_children_length(r.get());
        return static_cast<int>(std::find(children, children + count, window) - children);
    }

private:
    xcb_window_t root() { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }
    xcb_connection_t* c;
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
    ASSERT_TRUE(x.attributes(window));
    EXPECT_TRUE(x.attributes(window)->override_redirect);
    EXPECT_TRUE(x.viewable(window));
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
    EXPECT_FALSE(x.viewable(window));
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
