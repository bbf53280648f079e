#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "support/gui_app.h"
#include "support/run_program.h"
#include "support/temp_dir.h"
#include "ui/autostart.h"
#include "ui/autostart_action.h"

using namespace talvoro;
using namespace talvoro::testing;
namespace fs = std::filesystem;

namespace {

// A hand-edited entry: another command line, and the desktop's own switch turned off.
const std::string handEdited = "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Тальворо\n"
                               "Exec=/opt/мой talvoro --env /home/я/.env\n"
                               "# моя правка\n"
                               "X-GNOME-Autostart-enabled=false\n"
                               "[Desktop Action Other]\n"
                               "Hidden=true\n";

} // namespace

TEST(Autostart, TickingWritesAValidEntryInANewFolderAndUntickingRemovesIt) {
    TempDir dir;
    // Every character a command line must quote or escape, in the program's path.
    const std::string program = dir / "my \"apps\" $HOME `x` 100% \\ тальворо/talvoro";
    const Autostart autostart(dir / "config/autostart", program);
    EXPECT_FALSE(autostart.isEnabled());
    autostart.disable(); // nothing there: nothing to do

    autostart.enable();
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(autostart.path(), dir / "config/autostart/talvoro.desktop");
    EXPECT_EQ(readFile(autostart.path()), Autostart::entryText(program));
    const ProgramResult validation =
        runProgram("desktop-file-validate '" + autostart.path() + "' 2>&1");
    EXPECT_EQ(validation.status, 0) << validation.output;
    EXPECT_EQ(validation.output, "");
    EXPECT_NE(readFile(autostart.path())
                  .find("\nExec=\"" + dir.path() +
                        "/my \\\\\"apps\\\\\" \\\\$HOME \\\\`x\\\\` 100%% \\\\\\\\ "
                        "тальворо/talvoro\"\n"),
              std::string::npos)
        << readFile(autostart.path());

    autostart.disable();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(fs::exists(autostart.path()));
}

TEST(Autostart, AHandEditedEntryKeepsItsLinesWhenTickedAndGoesWhenUnticked) {
    TempDir dir;
    const Autostart autostart(dir / "autostart", "/usr/bin/talvoro");
    dir.write("autostart/talvoro.desktop", handEdited);
    EXPECT_FALSE(autostart.isEnabled());

    autostart.refresh();
    EXPECT_EQ(readFile(autostart.path()), handEdited);

    // Only the desktop's switch in the entry's own group turns back on.
    autostart.enable();
    EXPECT_TRUE(autostart.isEnabled());
    std::string expected = handEdited;
    expected.replace(expected.find("X-GNOME-Autostart-enabled=false"), 31,
                     "X-GNOME-Autostart-enabled=true");
    EXPECT_EQ(readFile(autostart.path()), expected);

    dir.write("autostart/talvoro.desktop", "[Desktop Entry]\nExec=talvoro\n Hidden = true\n");
    EXPECT_FALSE(autostart.isEnabled());
    autostart.enable();
    EXPECT_EQ(readFile(autostart.path()), "[Desktop Entry]\nExec=talvoro\nHidden=false\n");

    autostart.disable();
    EXPECT_FALSE(fs::exists(autostart.path()));
}

TEST(Autostart, RefreshRewritesOnlyOurUntouchedEntryWhoseProgramIsGone) {
    TempDir dir;
    const std::string gone = dir / "old place/bin/talvoro";
    const std::string present = dir.write("other/bin/talvoro", "");
    const Autostart autostart(dir / "autostart", "/usr/bin/talvoro");

    dir.write("autostart/talvoro.desktop", Autostart::entryText(present));
    autostart.refresh();
    EXPECT_EQ(readFile(autostart.path()), Autostart::entryText(present));

    dir.write("autostart/talvoro.desktop", Autostart::entryText(gone) + "# моя строка\n");
    autostart.refresh();
    EXPECT_EQ(readFile(autostart.path()), Autostart::entryText(gone) + "# моя строка\n");

    dir.write("autostart/talvoro.desktop", Autostart::entryText(gone));
    autostart.refresh();
    EXPECT_EQ(readFile(autostart.path()), Autostart::entryText("/usr/bin/talvoro"));
}

TEST(AutostartAction, TheTickFollowsTheFileAndAFailureIsReported) {
    guiApp();
    TempDir dir;
    const Autostart autostart(dir / "autostart", "/usr/bin/talvoro");
    std::vector<std::string> reports;
    auto report = [&](const std::string& text) { reports.push_back(text); };

    auto action = std::unique_ptr<QAction>(makeAutostartAction(autostart, report, nullptr));
    EXPECT_FALSE(action->isChecked());
    action->trigger();
    EXPECT_TRUE(action->isChecked());
    EXPECT_TRUE(autostart.isEnabled());
    action->trigger();
    EXPECT_FALSE(action->isChecked());
    EXPECT_FALSE(fs::exists(autostart.path()));

    // The folder cannot be made (a file stands in its place): the tick stays off.
    const Autostart blocked(dir.write("файл", "") + "/autostart", "/usr/bin/talvoro");
    action.reset(makeAutostartAction(blocked, report, nullptr));
    action->trigger();
    EXPECT_FALSE(action->isChecked());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(
        reports[0].starts_with("не получилось включить запуск при входе: " + blocked.path()))
        << reports[0];
}
