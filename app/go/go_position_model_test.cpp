// Random games played on the position and on a plain reference written here from the rules
// alone: a grid of characters, a recursive flood fill, and ko as "a move may not bring back the
// board as it stood before the opponent's last move". Every move, legal or not, must get the
// same answer from both; take-backs must bring both back to the same earlier boards.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "app/go/go_position.h"

namespace goramina {
namespace {

class TReferenceBoard {
 public:
  using TGrid = std::array<std::array<char, kBoardSize>, kBoardSize>;  // [column][row]

  TReferenceBoard() {
    for (auto& column : grid_) column.fill('.');
    previous_ = grid_;
  }

  // The reason a move is refused, or kLegal; plays it when legal.
  TLegality Play(char stone, int column, int row) {
    if (grid_[column][row] != '.') return TLegality::kOccupied;
    TGrid next = grid_;
    next[column][row] = stone;
    const char other = stone == 'X' ? 'O' : 'X';
    int taken = 0;
    for (auto [c, r] : Around(column, row)) {
      if (next[c][r] != other) continue;
      TGrid seen{};
      if (!Free(next, c, r, seen)) taken += RemoveString(next, c, r);
    }
    TGrid seen{};
    if (taken == 0 && !Free(next, column, row, seen)) return TLegality::kSuicide;
    if (taken == 1 && next == previous_) return TLegality::kKoRecapture;
    undo_.push_back({previous_, grid_});
    previous_ = grid_;
    grid_ = next;
    return TLegality::kLegal;
  }

  void TakeBack() {
    previous_ = undo_.back().first;
    grid_ = undo_.back().second;
    undo_.pop_back();
  }

  char At(int column, int row) const { return grid_[column][row]; }

 private:
  static std::vector<std::pair<int, int>> Around(int c, int r) {
    std::vector<std::pair<int, int>> out;
    if (r > 0) out.push_back({c, r - 1});
    if (r < kBoardSize - 1) out.push_back({c, r + 1});
    if (c > 0) out.push_back({c - 1, r});
    if (c < kBoardSize - 1) out.push_back({c + 1, r});
    return out;
  }

  static bool Free(const TGrid& g, int c, int r, TGrid& seen) {
    seen[c][r] = 1;
    for (auto [nc, nr] : Around(c, r)) {
      if (g[nc][nr] == '.') return true;
      if (g[nc][nr] == g[c][r] && !seen[nc][nr] && Free(g, nc, nr, seen)) return true;
    }
    return false;
  }

  static int RemoveString(TGrid& g, int c, int r) {
    const char stone = g[c][r];
    g[c][r] = '.';
    int removed = 1;
    for (auto [nc, nr] : Around(c, r))
      if (g[nc][nr] == stone) removed += RemoveString(g, nc, nr);
    return removed;
  }

  TGrid grid_;
  TGrid previous_;  // the board before the last move
  std::vector<std::pair<TGrid, TGrid>> undo_;
};

// Every string on the board keeps a liberty after legal play, and the prisoners add up.
void ExpectSound(const TGoPosition& position, int stonesPlayed) {
  int onBoard = 0;
  for (int p = 1; p <= kPointCount; ++p) {
    if (position.At(p) == TColour::kNone) continue;
    ++onBoard;
    ASSERT_TRUE(StringHasLiberty(position.Codes(), p)) << "point " << p;
  }
  EXPECT_EQ(onBoard + position.Prisoners(TColour::kBlack) + position.Prisoners(TColour::kWhite),
            stonesPlayed);
}

void ExpectSameBoard(const TGoPosition& position, const TReferenceBoard& reference) {
  for (int c = 0; c < kBoardSize; ++c) {
    for (int r = 0; r < kBoardSize; ++r) {
      const TColour stone = position.At(PointAt(c, r));
      const char expected = reference.At(c, r);
      ASSERT_EQ(stone == TColour::kBlack   ? 'X'
                : stone == TColour::kWhite ? 'O'
                                           : '.',
                expected)
          << "column " << c << " row " << r;
    }
  }
}

// A point that is the last liberty of some string in the corner, or 0: playing there captures,
// fills a ko or commits suicide, the moves where the rules have most to say.
int AtariPoint(const TGoPosition& position, int side, std::mt19937& random) {
  std::vector<int> points;
  for (int c = 0; c < side; ++c) {
    for (int r = 0; r < side; ++r) {
      if (position.At(PointAt(c, r)) == TColour::kNone) continue;
      const std::vector<int> liberties = LibertiesOf(position.Codes(), PointAt(c, r));
      if (liberties.size() == 1) points.push_back(liberties.front());
    }
  }
  if (points.empty()) return 0;
  return points[std::uniform_int_distribution<std::size_t>(0, points.size() - 1)(random)];
}

struct TRefusals {
  int ko = 0;
  int suicide = 0;
};

// Moves are drawn from a corner of `side` points so that captures, suicides and kos come often.
void PlayRandomGame(unsigned seed, int side, int steps, TRefusals& refused) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> coordinate(0, side - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  TGoPosition position;
  TReferenceBoard reference;
  std::vector<TGoPosition> earlier;
  int played = 0;
  for (int step = 0; step < steps; ++step) {
    if (!earlier.empty() && percent(random) < 8) {
      ASSERT_TRUE(position.TakeBack());
      reference.TakeBack();
      ASSERT_EQ(position, earlier.back());
      earlier.pop_back();
      --played;
      continue;
    }
    const TColour colour = position.ToPlay();
    int c = coordinate(random), r = coordinate(random);
    const int atari = percent(random) < 40 ? AtariPoint(position, side, random) : 0;
    if (atari != 0) {
      c = ColumnOf(atari);
      r = RowOf(atari);
    }
    // A ko stands seldom and its point is hit more seldom still: aim at it half the time.
    if (position.Ko().point != 0 && percent(random) < 50) {
      c = ColumnOf(position.Ko().point);
      r = RowOf(position.Ko().point);
    }
    const TGoPosition before = position;
    const TLegality expected = reference.Play(colour == TColour::kBlack ? 'X' : 'O', c, r);
    ASSERT_EQ(position.Legality(colour, PointAt(c, r)), expected) << "step " << step;
    ASSERT_EQ(position.Play(colour, PointAt(c, r)), expected) << "step " << step;
    if (expected == TLegality::kLegal) {
      earlier.push_back(before);
      ++played;
    } else {
      ASSERT_EQ(position, before);
      refused.ko += expected == TLegality::kKoRecapture;
      refused.suicide += expected == TLegality::kSuicide;
    }
    ExpectSameBoard(position, reference);
    ExpectSound(position, played);
  }
}

TEST(GoPositionModelTest, RandomGamesAgreeWithTheReference) {
  TRefusals refused;
  for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) PlayRandomGame(seed, 7, 2000, refused);
  // The games are long enough that both refusals turn up; without them they would test less
  // than they claim.
  EXPECT_GT(refused.ko, 0);
  EXPECT_GT(refused.suicide, 0);
  TRefusals onFullBoard;
  for (unsigned seed : {11u, 12u}) PlayRandomGame(seed, kBoardSize, 500, onFullBoard);
}

}  // namespace
}  // namespace goramina
