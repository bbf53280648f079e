#include <gtest/gtest.h>

#include "insertion/insert_shape.h"

namespace talvoro {
namespace {

TEST(InsertShape, DropsOneFinalFullStopOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"Привет.", "Привет"},
        {"Привет!", "Привет!"},
        {"Что?", "Что?"},
        {"И так далее...", "И так далее..."},
        {"Ну…", "Ну…"},
        {"Раз. Два", "Раз. Два"},
        {" \nТекст. \t\n", "Текст"},
        {"Без точки", "Без точки"},
        {".", ""},
        {"", ""},
        {"  ", ""},
        {"Раз..", "Раз.."},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(InsertShape::trimmed(in), out) << in;
}

} // namespace
} // namespace talvoro
