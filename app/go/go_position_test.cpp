#include "app/go/go_position.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace goramina {
namespace {

// A position drawn from the top-left corner: one string per row, one character per column,
// 'X' black, 'O' white, '.' empty.
TGoPosition Drawn(const std::vector<std::string>& rows) {
  TGoPosition position;
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) {
      if (rows[r][c] == 'X') position.AddStone(TColour::kBlack, PointAt(c, r));
      if (rows[r][c] == 'O') position.AddStone(TColour::kWhite, PointAt(c, r));
    }
  }
  return position;
}

// The corner of `position` the size of `like`, drawn the same way.
std::vector<std::string> Drawing(const TGoPosition& position,
                                 const std::vector<std::string>& like) {
  std::vector<std::string> rows;
  for (int r = 0; r < static_cast<int>(like.size()); ++r) {
    std::string row;
    for (int c = 0; c < static_cast<int>(like[r].size()); ++c) {
      const TColour stone = position.At(PointAt(c, r));
      row += stone == TColour::kBlack ? 'X' : stone == TColour::kWhite ? 'O' : '.';
    }
    rows.push_back(row);
  }
  return rows;
}

struct TMoveCase {
  const char* name;
  std::vector<std::string> before;
  TColour colour;
  int column, row;
  TLegality expected;
  std::vector<std::string> after;  // the corner after the move; the same as before when refused
};

TEST(GoPositionTest, MovesOnDrawnPositions) {
  const TColour B = TColour::kBlack, W = TColour::kWhite;
  const std::vector<TMoveCase> cases = {
      {"one stone taken in the corner", {"OX", ".."}, B, 0, 1, TLegality::kLegal, {".X", "X."}},
      {"two strings taken by one stone",
       {"O.OX", "X.X."},
       B,
       1,
       0,
       TLegality::kLegal,
       {".X.X", "X.X."}},
      {"a string touching the stone twice is taken once",
       {".OX", "OOX", "XX."},
       B,
       0,
       0,
       TLegality::kLegal,
       {"X.X", "..X", "XX."}},
      {"a stone without liberties that captures is legal; the string with a liberty stays",
       {".OX", "OX.", "..."},
       B,
       0,
       0,
       TLegality::kLegal,
       {"X.X", "OX.", "..."}},
      {"occupied point", {"X.", ".."}, W, 0, 0, TLegality::kOccupied, {"X.", ".."}},
      {"single-stone suicide", {".O", "O."}, B, 0, 0, TLegality::kSuicide, {".O", "O."}},
      {"multi-stone suicide", {"X.O", "OO."}, B, 1, 0, TLegality::kSuicide, {"X.O", "OO."}},
      {"filling an own eye with a liberty left is legal",
       {".X.", "X..", "..."},
       B,
       0,
       0,
       TLegality::kLegal,
       {"XX.", "X..", "..."}},
  };
  for (const TMoveCase& c : cases) {
    SCOPED_TRACE(c.name);
    TGoPosition position = Drawn(c.before);
    const TGoPosition before = position;
    EXPECT_EQ(position.Legality(c.colour, PointAt(c.column, c.row)), c.expected);
    EXPECT_EQ(position.Play(c.colour, PointAt(c.column, c.row)), c.expected);
    EXPECT_EQ(Drawing(position, c.after), c.after);
    if (c.expected == TLegality::kLegal) {
      EXPECT_EQ(position.ToPlay(), Opponent(c.colour));
      ASSERT_TRUE(position.TakeBack());
    } else {
      EXPECT_TRUE(position.Moves().empty());
    }
    EXPECT_EQ(position, before);
  }
}

TEST(GoPositionTest, CapturedStonesAreRecordedOnceInAscendingOrder) {
  TGoPosition position = Drawn({".OX", "OOX", "XX."});
  ASSERT_EQ(position.Play(TColour::kBlack, PointAt(0, 0)), TLegality::kLegal);
  const TPlayedMove& move = position.Moves().back();
  EXPECT_EQ(move.captured, (std::vector<int>{PointAt(0, 1), PointAt(1, 0), PointAt(1, 1)}));
  EXPECT_EQ(position.Prisoners(TColour::kBlack), 3);
  EXPECT_EQ(position.Prisoners(TColour::kWhite), 0);
  position.TakeBack();
  EXPECT_EQ(position.Prisoners(TColour::kBlack), 0);
}

TEST(GoPositionTest, PointsOffTheBoardAreRefusedAsAReason) {
  TGoPosition position;
  EXPECT_EQ(position.Play(TColour::kBlack, 0), TLegality::kOffBoard);
  EXPECT_EQ(position.Play(TColour::kBlack, kPointCount + 1), TLegality::kOffBoard);
  EXPECT_THROW(position.At(0), std::out_of_range);
  EXPECT_THROW(position.PlayAsStored(TColour::kBlack, 362), std::out_of_range);
  EXPECT_EQ(position, TGoPosition());
}

// The snapback: Black's stone is taken, and the capturing string, left with the one liberty
// where it stood, is taken back at once (five stones: not a ko).
TEST(GoPositionTest, Snapback) {
  TGoPosition position = Drawn({"..OX.", "OOOX.", "XXXX."});
  ASSERT_EQ(position.Play(TColour::kBlack, PointAt(1, 0)), TLegality::kLegal);
  ASSERT_EQ(position.Play(TColour::kWhite, PointAt(0, 0)), TLegality::kLegal);
  EXPECT_EQ(Drawing(position, {"O.OX.", "OOOX."}), (std::vector<std::string>{"O.OX.", "OOOX."}));
  EXPECT_EQ(position.Ko(), TKo{});
  ASSERT_EQ(position.Play(TColour::kBlack, PointAt(1, 0)), TLegality::kLegal);
  EXPECT_EQ(Drawing(position, {".....", "....."}), (std::vector<std::string>{".X.X.", "...X."}));
  EXPECT_EQ(position.Moves().back().captured.size(), 5u);
}

// A ko: White may not retake at once, may after an exchange elsewhere, and then Black is barred.
TEST(GoPositionTest, KoAndItsRecaptureAMoveLater) {
  const std::vector<std::string> shape = {".XO.", "XO.O", ".XO."};
  TGoPosition position = Drawn(shape);
  const int koTake = PointAt(2, 1), koRetake = PointAt(1, 1);
  ASSERT_EQ(position.Play(TColour::kBlack, koTake), TLegality::kLegal);
  EXPECT_EQ(position.Ko(), (TKo{koRetake, TColour::kWhite}));
  const TGoPosition afterTake = position;
  EXPECT_EQ(position.Play(TColour::kWhite, koRetake), TLegality::kKoRecapture);
  EXPECT_EQ(position, afterTake);
  // Black may fill the ko himself: the bar is on White only.
  EXPECT_EQ(position.Legality(TColour::kBlack, koRetake), TLegality::kLegal);

  ASSERT_EQ(position.Play(TColour::kWhite, PointAt(10, 10)), TLegality::kLegal);
  EXPECT_EQ(position.Ko(), TKo{});
  ASSERT_EQ(position.Play(TColour::kBlack, PointAt(12, 12)), TLegality::kLegal);
  ASSERT_EQ(position.Play(TColour::kWhite, koRetake), TLegality::kLegal);
  EXPECT_EQ(Drawing(position, shape), (std::vector<std::string>{".XO.", "XO.O", ".XO."}));
  EXPECT_EQ(position.Ko(), (TKo{koTake, TColour::kBlack}));
  EXPECT_EQ(position.Play(TColour::kBlack, koTake), TLegality::kKoRecapture);

  // Taking back the retake brings the earlier ko back with it.
  ASSERT_TRUE(position.TakeBack());
  EXPECT_EQ(position.Ko(), TKo{});
  ASSERT_TRUE(position.TakeBack());
  ASSERT_TRUE(position.TakeBack());
  EXPECT_EQ(position, afterTake);
}

// Stored moves stand as stored; taking one back restores the stone it replaced and the stones
// it took.
TEST(GoPositionTest, StoredMovesArePlayedAsStoredAndTakenBackExactly) {
  TGoPosition position = Drawn({"OX.", "OX.", "X.."});
  const TGoPosition before = position;
  // Black on White's stone at the corner: the point is overwritten, and the white stone below,
  // now without a liberty, is taken.
  EXPECT_EQ(position.PlayAsStored(TColour::kBlack, PointAt(0, 0)), TLegality::kOccupied);
  EXPECT_EQ(Drawing(position, {"...", "...", "..."}),
            (std::vector<std::string>{"XX.", ".X.", "X.."}));
  EXPECT_EQ(position.Moves().back().replaced, TColour::kWhite);
  ASSERT_TRUE(position.TakeBack());
  EXPECT_EQ(position, before);

  // A stored suicide leaves its own stone standing without a liberty.
  TGoPosition suicide = Drawn({".O", "O."});
  EXPECT_EQ(suicide.PlayAsStored(TColour::kBlack, PointAt(0, 0)), TLegality::kSuicide);
  EXPECT_EQ(suicide.At(PointAt(0, 0)), TColour::kBlack);
  ASSERT_TRUE(suicide.TakeBack());
  EXPECT_EQ(suicide, Drawn({".O", "O."}));
  EXPECT_FALSE(suicide.TakeBack());
}

TEST(GoPositionTest, RulesReadWrongSequenceCodesAsStones) {
  TPointCodes codes{};
  codes[PointAt(0, 0)] = -2;  // a white stone of a wrong sequence
  codes[PointAt(1, 0)] = 1;
  EXPECT_EQ(CapturesOf(codes, TColour::kBlack, PointAt(0, 1)), (std::vector<int>{PointAt(0, 0)}));
  EXPECT_EQ(MoveLegality(codes, TColour::kBlack, PointAt(0, 0), {}), TLegality::kOccupied);
  EXPECT_EQ(StringAt(codes, PointAt(0, 0)), (std::vector<int>{PointAt(0, 0)}));
}

}  // namespace
}  // namespace goramina
