#pragma once

#include <functional>

namespace talvoro {

// Runs the block at once when called on the main thread, else posts it to the main
// event loop. Without an event loop (a plain library call) the block runs at once.
void onMainThread(std::function<void()> block);

bool isMainThread();

} // namespace talvoro
