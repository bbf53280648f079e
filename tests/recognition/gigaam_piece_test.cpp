#include "recognition/gigaam_piece.h"

#include <gtest/gtest.h>

namespace talvoro {
namespace {

TEST(GigaAMPiece, EdgeTrimsWhiteSpaceAndHasNoCutOfBlankPieces) {
    const auto cut = edge({{" начало ", 100, true}, {"\u00a0", 150, true}});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->text, "начало");
    EXPECT_EQ(cut->upTo, 150);
    EXPECT_FALSE(edge({{" ", 100, true}, {"\n", 150, true}, {"хвост", 200, false}}));
}

} // namespace
} // namespace talvoro
