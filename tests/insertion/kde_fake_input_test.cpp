#include <gtest/gtest.h>

#include "support/headless_compositor.h"

namespace talvoro {
namespace {

using testing::HeadlessCompositor;
namespace fs = std::filesystem;

constexpr char text[] = "привет мир";

// Under a headless KWin: a program named in a desktop entry with X-KDE-Wayland-Interfaces
// presses Ctrl+V into a native Qt field by key code; the same program under another path gets
// no fake input, and says where the key is missing.
TEST(KdeFakeInput, DesktopEntryAuthorisesThePasteKeystroke) {
    const std::string probe = std::string(TALVORO_BINARY_DIR) + "/tests/insertion/fake_input_probe";
    testing::TempDir data;
    data.write("applications/org.talvoro.Talvoro.desktop",
               "[Desktop Entry]\nType=Application\nName=Тальворо\nExec=" + probe +
                   "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
    HeadlessCompositor::letReach(data.path());
    HeadlessCompositor::Options options;
    options.xwayland = false;
    options.environment = {{"XDG_DATA_DIRS", data.path() + ":/usr/share"}};
    HeadlessCompositor kwin(HeadlessCompositor::Kind::KWin, options);
    if (!kwin.running())
        GTEST_SKIP() << kwin.skipReason();
    const fs::path field = kwin.home() / "field", ready = kwin.home() / "ready";
    const fs::path unlisted = kwin.home() / "unlisted_probe";
    fs::copy_file(probe, unlisted);
    kwin.hand(unlisted);

    kwin.start({TALVORO_PASTE_TARGET, "--out", field.string(), "--ready", ready.string()},
               {{"QT_QPA_PLATFORM", "wayland"}});
    ASSERT_TRUE(HeadlessCompositor::waitFor(ready, std::chrono::seconds(30)));
    kwin.start({"wl-copy", "--foreground", text});
    ASSERT_TRUE(testing::waitFor([&] { return kwin.run({"wl-paste", "-n"}).output == text; }, 30));

    EXPECT_EQ(kwin.run({probe}).status, 0);
    EXPECT_TRUE(testing::waitFor([&] { return testing::readFile(field) == text; }, 30))
        << testing::readFile(field);

    const HeadlessCompositor::Result refused = kwin.run({unlisted.string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("X-KDE-Wayland-Interfaces"), std::string::npos) << refused.output;
}

} // namespace
} // namespace talvoro
