#include "insertion/atspi_focus_source.h"
#include "insertion/paster.h"

#include <gtest/gtest.h>

namespace talvoro {
namespace {

TEST(AtspiRoles, MapToTheVerdictRoleNames) {
    const std::pair<const char*, const char*> table[] = {
        {"frame", "AXWindow"},
        {"window", "AXWindow"},
        {"dialog", "AXWindow"},
        {"application", "AXApplication"},
        {"push button", "AXButton"},
        {"toggle button", "AXButton"},
        {"panel", "AXGroup"},
        {"filler", "AXGroup"},
        {"grouping", "AXGroup"},
        {"entry", "AXTextField"},
        {"password text", "AXTextField"},
        {"text", "AXTextArea"},
        {"terminal", "AXTextArea"},
        {"paragraph", "AXTextArea"},
        {"document web", "AXWebArea"},
        {"scroll pane", "AXScrollArea"},
        {"table cell", "AXCell"},
        {"combo box", "AXComboBox"},
        {"check box", "AXCheckBox"},
        {"menu item", "AXMenuItem"},
        {"unknown", "AXUnknown"},
    };
    for (const auto& [atspi, ax] : table)
        EXPECT_EQ(axRoleForAtspiRole(atspi), ax) << atspi;
    EXPECT_EQ(axRoleForAtspiRole("text", true), "AXTextField") << "a one-line text is a field";
    EXPECT_EQ(axRoleForAtspiRole("entry", true), "AXTextField");
}

TEST(AtspiRoles, OnlyWindowsButtonsAndGroupsAreRefused) {
    for (const char* atspi :
         {"frame", "dialog", "push button", "toggle button", "panel", "filler", "application"})
        EXPECT_TRUE(Paster::insertionBlocked({axRoleForAtspiRole(atspi), atspi, false, {}}))
            << atspi;
    for (const char* atspi : {"entry", "text", "terminal", "document web", "table cell", "label",
                              "menu item", "check box", "page tab"})
        EXPECT_FALSE(Paster::insertionBlocked({axRoleForAtspiRole(atspi), atspi, false, {}}))
            << atspi;
}

// With no accessibility bus anywhere the lookup must answer, not hang or end the process.
TEST(AtspiFocusSourceTest, WithoutABusTheFocusIsMissingWithAReason) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/talvoro-bus", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    AtspiFocusSource source;
    EXPECT_FALSE(source.available());
    std::vector<std::string> notes;
    EXPECT_FALSE(source.systemFocus(notes));
    EXPECT_FALSE(source.applicationFocus(1, notes));
    EXPECT_EQ(notes, (std::vector<std::string>{"нет шины AT-SPI", "нет шины AT-SPI"}));
}

} // namespace
} // namespace talvoro
