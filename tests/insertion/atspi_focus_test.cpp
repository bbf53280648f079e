#include "insertion/atspi_focus_source.h"
#include "insertion/lookup_thread.h"
#include "support/run_program.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace talvoro {
namespace {

using namespace std::chrono_literals;

// Lookups that stay inside an application that stopped answering until the test lets them go.
struct Hung {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> entered = 0;
};

std::function<void()> hangingOn(std::shared_ptr<Hung> hung) {
    return [hung] {
        ++hung->entered;
        hung->released.wait();
    };
}

TEST(LookupThreadTest, AHungLookupCostsOneWaitAndNothingQueuesBehindIt) {
    auto hung = std::make_shared<Hung>();
    {
        LookupThread thread("lookup-test");
        int answered = 0;
        EXPECT_EQ(thread.run([&] { ++answered; }, 10s), LookupThread::Outcome::answered);
        EXPECT_EQ(answered, 1);

        EXPECT_EQ(thread.run(hangingOn(hung), 50ms), LookupThread::Outcome::late);
        for (int again = 0; again < 3; ++again)
            EXPECT_EQ(thread.run([&] { ++answered; }, 10s), LookupThread::Outcome::busy)
                << "turned away at once, not after another wait";
        // Going away must not wait for the hung lookup, nor run the turned-away ones.
    }
    hung->release.set_value();
    testing::waitFor([&] { return hung->entered > 0; }, 10);
    EXPECT_EQ(hung->entered, 1);
}

TEST(LookupThreadTest, TheThreadTakesNewLookupsOnceTheHungOneEnds) {
    LookupThread thread("lookup-test");
    auto hung = std::make_shared<Hung>();
    EXPECT_EQ(thread.run(hangingOn(hung), 20ms), LookupThread::Outcome::late);
    hung->release.set_value();
    // The released lookup ends soon; from then on the thread answers again.
    EXPECT_TRUE(testing::waitFor(
        [&] { return thread.run([] {}, 10s) == LookupThread::Outcome::answered; }, 5));
}

// A Qt event loop on GLib would dispatch libatspi's connections on the main thread too.
TEST(AtspiFocusSourceTest, RefusesToRunBesideAGlibEventLoop) {
    int argc = 1;
    char name[] = "atspi_focus_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<std::string> notes;
    EXPECT_FALSE(AtspiFocusSource().systemFocus(notes));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("GLib"), std::string::npos) << notes[0];
}

} // namespace
} // namespace talvoro
