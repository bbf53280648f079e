#pragma once

#include <functional>

namespace talvoro {

// Runs the block at once when called on the main thread, else posts it to the main
// event loop. Without an event loop (a plain library call) the block runs at once.
void onMainThread(std::function<void()> block);

bool isMainThread();

// The process is ending from inside the main event loop (exit() on a lost X server), which will
// not run again: blocks handed over from other threads from now on are dropped.
void closeMainThread();

} // namespace talvoro
