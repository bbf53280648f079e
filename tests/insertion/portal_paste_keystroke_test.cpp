#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "insertion/in_memory_pasteboard.h"
#include "insertion/manual_paste_clock.h"
#include "insertion/paster.h"
#include "insertion/portal_paste_keystroke.h"
#include "insertion/scripted_insertion_seams.h"
#include "support/event_loop.h"
#include "support/portal_bus.h"
#include "support/temp_dir.h"

namespace talvoro {
namespace {

// Through the real xdg-desktop-portal 1.16, which keeps no permission between runs. The
// desktop's dialog is answered before the clipboard is touched, so the pull wait starts after it
// however long the user took, and the receiver reads the dictated text, not the previous
// clipboard given back. A refusal presses nothing and leaves the clipboard alone. The session
// then serves every paste, by key code.
TEST(PortalPasteKeystroke, TheDesktopAsksBeforeTheClipboardIsTouched) {
    testing::application();
    testing::PortalBus bus;
    ASSERT_TRUE(bus.ready) << "xdg-desktop-portal did not come up on the private bus";
    testing::TempDir state;
    auto pasteboard = std::make_shared<InMemoryPasteboard>();
    auto clock = std::make_shared<testing::ManualPasteClock>();
    auto focus = std::make_shared<testing::ScriptedFocusSource>();
    focus->answers = {Paster::Focus{"AXTextArea", {}, false, {}}};
    std::shared_ptr<PortalPasteKeystroke> keystroke = makePortalPasteKeystroke(state / "token");
    EXPECT_TRUE(keystroke->approvalEachStart());
    InsertionSeams seams{pasteboard, keystroke, std::make_shared<testing::FixedFrontmostApp>(),
                         focus,      nullptr,   clock};
    pasteboard->setString("до");
    const std::int64_t untouched = pasteboard->changeCount();
    const auto dialogOpen = [&](long starts) {
        return testing::waitFor([&] { return std::ranges::count(bus.calls(), "Start") == starts; },
                                10);
    };
    const auto paste = [&] {
        return std::async(std::launch::async, [&] { return Paster::paste("текст", seams); });
    };

    bus.control("HoldStart");
    auto refused = paste();
    ASSERT_TRUE(dialogOpen(1));
    EXPECT_EQ(pasteboard->changeCount(), untouched) << "the dialog is open";
    bus.control("AnswerStart", "1");
    EXPECT_THROW(refused.get(), Paster::Failure);
    EXPECT_EQ(pasteboard->changeCount(), untouched);

    bus.control("HoldStart");
    auto approved = paste();
    ASSERT_TRUE(dialogOpen(2));
    EXPECT_EQ(pasteboard->changeCount(), untouched);
    clock->pause(2); // the user reads the dialog
    std::optional<std::string> received;
    clock->after(0.25, [&] { // the window handles the Ctrl+V
        testing::waitFor([&] { return bus.calls().back() == "Key 29 0"; }, 10);
        received = pasteboard->string();
    });
    bus.control("AnswerStart", "0");
    const Paster::Result result = approved.get();
    EXPECT_EQ(received, "текст");
    EXPECT_EQ(result.takenAfterMs, 250);
    EXPECT_EQ(pasteboard->string(), "до");

    // A terminal, known by its role where X11 cannot see its window, gets Shift+Insert.
    focus->answers = {Paster::Focus{"AXTextArea", "terminal", false, {}}};
    Paster::paste("ещё", seams);
    ASSERT_TRUE(testing::waitFor([&] { return bus.calls().back() == "Key 42 0"; }, 10));
    const std::vector<std::string> calls = bus.calls();
    EXPECT_EQ(std::vector<std::string>(std::find(calls.rbegin(), calls.rend(), "Start").base(),
                                       calls.end()),
              (std::vector<std::string>{"Key 29 1", "Key 47 1", "Key 47 0", "Key 29 0", "Key 42 1",
                                        "Key 110 1", "Key 110 0", "Key 42 0"}));
    EXPECT_EQ(std::ranges::count_if(calls, [](auto& call) { return call.starts_with("Key"); }), 8)
        << "nothing pressed after the refusal";
}

} // namespace
} // namespace talvoro
