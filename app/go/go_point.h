// Points of the 19x19 board. The 361 intersections are numbered 1..361 column by column: point
// n lies in column (n-1) div 19 and row (n-1) mod 19, both counted from 0 at the top-left, so
// point 2 is below point 1 and point 20 to its right.
#pragma once

#include <array>
#include <cstdint>

namespace goramina {

constexpr int kBoardSize = 19;
constexpr int kPointCount = kBoardSize * kBoardSize;  // 361

// Column and row (0..18) of a point 1..361, and the point of a column and row.
constexpr int ColumnOf(int point) {
  return (point - 1) / kBoardSize;
}
constexpr int RowOf(int point) {
  return (point - 1) % kBoardSize;
}
constexpr int PointAt(int column, int row) {
  return kBoardSize * column + row + 1;
}
constexpr bool IsBoardPoint(int point) {
  return point >= 1 && point <= kPointCount;
}

// The code of every point, indexed by point 1..361 (entry 0 unused): 0 empty, 1 black,
// 2 white; -1 and -2 are the same colours placed as a move of a wrong sequence. The rules read
// absolute values only.
using TPointCodes = std::array<std::int32_t, kPointCount + 1>;

// The neighbours of a point in the fixed order above, below, left, right; 0 where the side
// lies off the board.
constexpr std::array<int, 4> NeighbourPoints(int point) {
  return {RowOf(point) > 0 ? point - 1 : 0, RowOf(point) < kBoardSize - 1 ? point + 1 : 0,
          ColumnOf(point) > 0 ? point - kBoardSize : 0,
          ColumnOf(point) < kBoardSize - 1 ? point + kBoardSize : 0};
}

}  // namespace goramina
