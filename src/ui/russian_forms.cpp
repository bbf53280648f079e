#include "ui/russian_forms.h"

#include <cstdlib>

namespace talvoro {

namespace {

const std::string& form(int n, const std::string& one, const std::string& few,
                        const std::string& many) {
    const int hundred = std::abs(n) % 100;
    const int ten = hundred % 10;
    if (hundred >= 11 && hundred <= 14)
        return many;
    if (ten == 1)
        return one;
    if (ten >= 2 && ten <= 4)
        return few;
    return many;
}

} // namespace

std::string wordsForm(int n) {
    static const std::string one = "слово", few = "слова", many = "слов";
    return form(n, one, few, many);
}

std::string pairsForm(int n) {
    static const std::string one = "пара", few = "пары", many = "пар";
    return form(n, one, few, many);
}

} // namespace talvoro
