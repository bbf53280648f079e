#include "insertion/x11_frontmost_app.h"

#include "support/temp_dir.h"
#include "support/xvfb_server.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvoro {
namespace {

std::vector<std::uint32_t> icon(std::uint32_t side, std::uint32_t argb) {
    std::vector<std::uint32_t> values{side, side};
    values.insert(values.end(), std::size_t(side) * side, argb);
    return values;
}

std::string bytesOf(const std::vector<std::uint32_t>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * 4);
}

class X11FrontmostAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xvfb.running())
            GTEST_SKIP() << "Xvfb is not installed";
        c = x11::Connection::open();
    }
    xcb_window_t window(xcb_window_t parent) {
        const xcb_window_t id = xcb_generate_id(c->get());
        xcb_create_window(c->get(), XCB_COPY_FROM_PARENT, id, parent, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c->get(), id);
        return id;
    }
    void set(xcb_window_t w, const char* name, xcb_atom_t type, std::uint8_t format,
             const std::string& bytes) {
        xcb_change_property(c->get(), XCB_PROP_MODE_REPLACE, w, c->atom(name), type, format,
                            static_cast<std::uint32_t>(bytes.size() / (format / 8)), bytes.data());
    }
    testing::XvfbServer xvfb;
    std::unique_ptr<x11::Connection> c;
};

// A mail subject or page title in the window title must never become the application's name.
TEST_F(X11FrontmostAppTest, NamedByItsDesktopEntryNeverByTheWindowTitle) {
    testing::TempDir data;
    data.write("applications/org.example.Editor.desktop",
               "[Desktop Entry]\nName=Text Editor\nName[ru]=Текстовый редактор\n"
               "StartupWMClass=gedit\n[Desktop Action new]\nName=Новое окно\n");
    data.write("applications/kde/org.kde.kate.desktop", "[Desktop Entry]\nName=Kate\n");
    data.write("applications/gone.desktop", "[Desktop Entry]\nName=Удалено\nHidden=true\n");
    ::setenv("LC_ALL", "ru_RU.UTF-8", 1);
    X11FrontmostAppSource source(std::make_shared<DesktopAppNames>(
        std::vector<std::filesystem::path>{std::filesystem::path(data.path()) / "applications"}));

    const xcb_window_t editor = window(c->root());
    set(editor, "_NET_WM_NAME", c->atom("UTF8_STRING"), 8, "Письмо: зарплата за март");
    set(editor, "WM_NAME", XCB_ATOM_STRING, 8, "Письмо");
    set(editor, "WM_CLASS", XCB_ATOM_STRING, 8, std::string("gedit\0Gedit\0", 12));
    set(editor, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, bytesOf({4242}));
    std::vector<std::uint32_t> icons = icon(16, 0xffff0000);
    for (auto more : {icon(256, 0xff00ff00), icon(48, 0x800000ff)})
        icons.insert(icons.end(), more.begin(), more.end());
    set(editor, "_NET_WM_ICON", XCB_ATOM_CARDINAL, 32, bytesOf(icons));
    set(c->root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, bytesOf({editor}));
    c->sync();

    auto app = source.current();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->name, "Текстовый редактор");
    EXPECT_EQ(app->windowClass, "Gedit");
    EXPECT_EQ(app->pid, 4242);
    ASSERT_TRUE(app->icon);
    EXPECT_EQ(app->icon->size(), QSize(48, 48)) << "the largest one up to 128 px";
    EXPECT_EQ(app->icon->pixel(10, 10), 0x800000ffu);

    // By the last part of a reverse-DNS file name; a hidden entry or none at all: the class.
    for (auto [wmClass, name] : {std::pair{std::string("kate\0Kate\0", 10), "Kate"},
                                 {std::string("gone\0Gone\0", 10), "Gone"},
                                 {std::string("xterm\0XTerm\0", 12), "XTerm"}}) {
        set(editor, "WM_CLASS", XCB_ATOM_STRING, 8, wmClass);
        c->sync();
        EXPECT_EQ(source.current()->name, name);
    }
    ::unsetenv("LC_ALL");
}

TEST(NetWmIcon, BrokenOrOversizedIconData) {
    EXPECT_FALSE(x11::iconFromNetWmIcon(""));
    EXPECT_FALSE(x11::iconFromNetWmIcon(bytesOf({0, 0})));
    EXPECT_FALSE(x11::iconFromNetWmIcon(bytesOf({100, 100, 1, 2, 3}))) << "fewer pixels than said";
    EXPECT_FALSE(x11::iconFromNetWmIcon(bytesOf({0xffffffff, 0xffffffff, 1})));

    // All too big: the smallest; a broken tail after a whole icon keeps the whole one.
    std::vector<std::uint32_t> values = icon(512, 0xff000001);
    auto smaller = icon(200, 0xff000002);
    values.insert(values.end(), smaller.begin(), smaller.end());
    values.insert(values.end(), {64, 64, 7});
    auto picked = x11::iconFromNetWmIcon(bytesOf(values));
    ASSERT_TRUE(picked);
    EXPECT_EQ(picked->width(), 200);
    EXPECT_EQ(picked->pixel(0, 0), 0xff000002u);
}

} // namespace
} // namespace talvoro
