// Qt leaves with exit() when the X server goes away: the exit handler closes the main thread and
// settles, while recognitions still running hand their results over.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/main_thread.h"
#include "dictation/dictation_work.h"

namespace talvoro {
namespace {

void exitWithARecognitionInFlight() {
    int argc = 1;
    char name[] = "dictation_work_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::atexit([] {
        closeMainThread();
        DictationWork::settle();
    });
    // Made after the handler, as in the program: statics of that age are gone when it runs.
    DictationWork::recognise([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        onMainThread([] {});
    });
    std::thread([] { onMainThread([] {}); }).join();
    std::exit(3);
}

TEST(DictationWork, AnExitWithARecognitionInFlightEndsWithTheProgramsOwnStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exitWithARecognitionInFlight(), ::testing::ExitedWithCode(3), "");
}

} // namespace
} // namespace talvoro
