#pragma once

#include <string>

namespace talvoro {

// The noun after a count, by the usual Russian rule: 11…14 (mod 100) take the third form,
// else 1 (mod 10) the first, 2…4 (mod 10) the second, the rest the third.
std::string wordsForm(int n); // слово, слова, слов
std::string pairsForm(int n); // пара, пары, пар

} // namespace talvoro
