// The GNOME keybinding through the real gsettings program, on a settings file of the test's
// own (the keyfile backend) instead of the user's desktop.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "ui/gnome_shortcut.h"

namespace talvoro {
namespace {

using namespace talvoro::testing;

TEST(GnomeShortcut, BindsOnceBesideTheUsersOwnAndUnbindsLeavingThemAlone) {
    if (runProgram("gsettings list-keys org.gnome.settings-daemon.plugins.media-keys >/dev/null "
                   "2>&1")
            .status != 0)
        GTEST_SKIP() << "needs gsettings and the media-keys schema";
    TempDir dir;
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::string schema = "org.gnome.settings-daemon.plugins.media-keys";
    const std::string own =
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/";
    ASSERT_EQ(
        runProgram("gsettings set " + schema + " custom-keybindings \"['" + own + "']\"").status,
        0);

    const GnomeShortcut shortcut;
    EXPECT_FALSE(shortcut.bound());
    const auto binding = HotkeyBinding::parse("ctrl+shift+f9");
    ASSERT_TRUE(binding);
    shortcut.bind(*binding, "'/opt/it''s here/talvoro' toggle");
    shortcut.bind(*binding, "'/opt/it''s here/talvoro' toggle");
    EXPECT_TRUE(shortcut.bound());
    const std::string relocatable = schema + ".custom-keybinding:" + GnomeShortcut::path;
    EXPECT_EQ(runProgram("gsettings get " + schema + " custom-keybindings").output,
              "['" + own + "', '" + GnomeShortcut::path + "']\n");
    EXPECT_EQ(runProgram("gsettings get " + relocatable + " binding").output,
              "'<Control><Shift>F9'\n");
    EXPECT_EQ(runProgram("gsettings get " + relocatable + " command").output,
              "\"'/opt/it''s here/talvoro' toggle\"\n");

    shortcut.unbind();
    EXPECT_FALSE(shortcut.bound());
    EXPECT_EQ(runProgram("gsettings get " + schema + " custom-keybindings").output,
              "['" + own + "']\n");
    EXPECT_EQ(runProgram("gsettings get " + relocatable + " command").output, "''\n");
    ::unsetenv("GSETTINGS_BACKEND");
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
} // namespace talvoro
