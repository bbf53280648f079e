#pragma once

#include <functional>

namespace talvoro {

// Where the controller's blocking work runs, away from the main thread. Process-wide, since
// the clipboard and the recogniser are.
namespace DictationWork {

// Recognition and the live stream's last pass: a few threads named "ostrel.dictation".
void recognise(std::function<void()> task);
// Insertions and the focus wake-up, one at a time in order on "ostrel.paste", so that two
// insertions never fight over the clipboard.
void insert(std::function<void()> task);
// Waits until every task handed over so far has ended. The program calls it before it
// returns from main, and from its exit handler when Qt ends it with exit(): a recognition
// still inside the runtime while statics are destroyed would crash.
void settle();

} // namespace DictationWork

} // namespace talvoro
