#include "tools/stone_painter.h"

#include <gtest/gtest.h>

namespace goramina {
namespace {

int Luma(std::uint32_t p) {
  return (299 * Red(p) + 587 * Green(p) + 114 * Blue(p)) / 1000;
}

TEST(StonePainter, StonesAreRoundOpaqueInsideAndTransparentOutside) {
  for (TStoneColour colour : {TStoneColour::Black, TStoneColour::White}) {
    const TBitmap b = PaintStone(colour, 112);
    ASSERT_EQ(b.width, 112);
    ASSERT_EQ(b.height, 112);
    for (auto [x, y] : {std::pair{0, 0}, {111, 0}, {0, 111}, {111, 111}, {10, 10}}) {
      EXPECT_EQ(Alpha(b.At(x, y)), 0u) << x << "," << y;
    }
    EXPECT_EQ(Alpha(b.At(56, 56)), 255u);
    // The rim is anti-aliased: some pixels on the circle are partly covered.
    int partial = 0;
    for (int x = 0; x < 112; ++x) {
      const auto a = Alpha(b.At(x, 56));
      if (a > 0 && a < 255) ++partial;
    }
    EXPECT_GE(partial, 2);
  }
}

TEST(StonePainter, BlackIsDarkWhiteIsLightAndBothAreLitFromTheUpperLeft) {
  const TBitmap black = PaintStone(TStoneColour::Black, 112);
  const TBitmap white = PaintStone(TStoneColour::White, 112);
  EXPECT_LT(Luma(black.At(60, 60)), 90);
  EXPECT_GT(Luma(white.At(60, 60)), 200);
  for (const TBitmap* b : {&black, &white}) {
    EXPECT_GT(Luma(b->At(35, 35)), Luma(b->At(77, 77)));  // shaded, not flat
  }
}

}  // namespace
}  // namespace goramina
