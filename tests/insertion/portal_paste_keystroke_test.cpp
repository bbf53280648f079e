#include <gtest/gtest.h>

#include "insertion/portal_paste_keystroke.h"
#include "support/event_loop.h"
#include "support/portal_bus.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

// Through the real xdg-desktop-portal 1.16: one session for the program's life, its keyboard
// pressed by key code; that portal keeps no permission, so the desktop asks at every start.
TEST(PortalPasteKeystroke, StartsOnceAndPressesByKeyCode) {
    testing::application();
    testing::PortalBus bus;
    ASSERT_TRUE(bus.ready) << "xdg-desktop-portal did not come up on the private bus";
    testing::TempDir state;
    auto keystroke = makePortalPasteKeystroke(state / "remote-desktop-token");
    ASSERT_TRUE(keystroke->available());
    EXPECT_TRUE(keystroke->approvalEachStart());

    keystroke->press(PasteShortcut::controlV);
    keystroke->press(PasteShortcut::shiftInsert);
    EXPECT_EQ(bus.awaitCalls(11),
              (std::vector<std::string>{"RemoteDesktop.CreateSession -", "SelectDevices 1 0",
                                        "Start", "Key 29 1", "Key 47 1", "Key 47 0", "Key 29 0",
                                        "Key 42 1", "Key 110 1", "Key 110 0", "Key 42 0"}));
}

} // namespace
} // namespace talvoro
