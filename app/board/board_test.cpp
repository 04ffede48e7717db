#include "app/board/board.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/board/board_test_fixture.h"

namespace goramina {
namespace {

using BoardTest = BoardFixture;

std::vector<TCaptureRecord> Records() {
  std::vector<TCaptureRecord> out;
  for (int i = 1; i <= CaptureCount; ++i) out.push_back(CaptureList[i]);
  return out;
}

TEST_F(BoardTest, NeighboursStopAtTheEdgesOfTheNumbering) {
  Board[2] = 2;
  Board[20] = -1;
  struct Case {
    int point;
    std::array<int, 4> points;  // above, below, left, right; 0 = off the board
  };
  const Case cases[] = {
      {1, {0, 2, 0, 20}},      {19, {18, 0, 0, 38}},    {20, {0, 21, 1, 39}},
      {343, {0, 344, 324, 0}}, {361, {360, 0, 342, 0}}, {181, {180, 182, 162, 200}},
  };
  for (const auto& c : cases) {
    ComputeNeighbours(c.point);
    for (int slot = 0; slot < 4; ++slot) {
      EXPECT_EQ(Neighbours[slot].point, c.points[slot]) << c.point << " slot " << slot;
      if (c.points[slot] == 0) {
        EXPECT_EQ(Neighbours[slot].colour, kOffBoard);
      }
    }
  }
  ComputeNeighbours(1);
  EXPECT_EQ(Neighbours[1].colour, 2);  // point 2, white
  EXPECT_EQ(Neighbours[3].colour, 1);  // point 20, |-1|
}

TEST_F(BoardTest, CaptureRuleCases) {
  struct Placed {
    int colour, point;
  };
  struct Case {
    const char* what;
    std::vector<Placed> setUp;
    Placed move;
    std::vector<int> removed;  // ascending; each recorded as {1, colour, point}
    int removedColour;
  };
  const int c = PointAt(5, 5);  // a point in the open
  const Case cases[] = {
      {"corner", {{2, 1}, {1, 20}}, {1, 2}, {1}, 2},
      {"white captures black", {{1, 1}, {2, 20}}, {2, 2}, {1}, 1},
      {"wrong-sequence colour captures by its absolute value", {{2, 1}, {1, 20}}, {-1, 2}, {1}, 2},
      {"bottom of the first column has nothing below", {{2, 19}, {1, 38}}, {1, 18}, {19}, 2},
      {"top of the second column has nothing above", {{2, 20}, {1, 1}, {1, 39}}, {1, 21}, {20}, 2},
      {"last column has nothing to the right", {{2, 361}, {1, 360}}, {1, 342}, {361}, 2},
      {"no suicide rule: the placed stone stays", {{2, 2}, {2, 20}}, {1, 1}, {}, 0},
      {"of two groups only the one without a liberty goes",
       {{2, PointAt(5, 4)},
        {1, PointAt(5, 3)},
        {1, PointAt(4, 4)},
        {1, PointAt(6, 4)},
        {2, PointAt(5, 6)}},
       {1, c},
       {PointAt(5, 4)},
       2},
      {"a group touching twice is removed once, in ascending order",
       {{2, PointAt(4, 5)},
        {2, PointAt(5, 4)},
        {2, PointAt(4, 4)},
        {1, PointAt(3, 5)},
        {1, PointAt(4, 6)},
        {1, PointAt(5, 3)},
        {1, PointAt(6, 4)},
        {1, PointAt(4, 3)},
        {1, PointAt(3, 4)}},
       {1, c},
       {PointAt(4, 4), PointAt(4, 5), PointAt(5, 4)},
       2},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ClearBoard();
    for (const auto& s : k.setUp) Put(s.colour, s.point);
    ASSERT_TRUE(Move(k.move.colour, k.move.point));
    EXPECT_EQ(Board[k.move.point], k.move.colour);
    EXPECT_NE(Stone(k.move.point), "");
    std::vector<TCaptureRecord> expected;
    for (int p : k.removed) {
      EXPECT_EQ(Board[p], 0) << p;
      EXPECT_EQ(Stone(p), "") << p;
      expected.push_back({1, k.removedColour, p});
    }
    EXPECT_EQ(Records(), expected);
    int stones = 0;
    for (int p = 1; p <= kPointCount; ++p) stones += Board[p] != 0;
    EXPECT_EQ(stones, static_cast<int>(k.setUp.size() + 1 - k.removed.size()));
  }
}

TEST_F(BoardTest, UndoRestoresExactlyTheMatchingCapturesWithoutNumbers) {
  Put(2, 1);
  Put(1, 20);
  Put(1, 361);
  Put(2, 342);
  ASSERT_TRUE(Move(1, 2));    // entry 1 captures white 1
  ASSERT_TRUE(Move(2, 360));  // entry 2 captures black 361
  ASSERT_EQ(CaptureCount, 2);
  EXPECT_EQ(Label(360).Text(), "2");
  EXPECT_EQ(Label(2).Text(), "");  // labelMode 1 erased the previous number

  UndoLastMove();
  EXPECT_EQ(HistoryTop, 1);
  EXPECT_EQ(MoveNumber, 1);
  EXPECT_EQ(Board[361], 1);
  EXPECT_EQ(Stone(361), "B");
  EXPECT_EQ(Label(361).Text(), "");
  EXPECT_EQ(Board[360], 0);
  EXPECT_EQ(Stone(360), "");
  EXPECT_EQ(Label(360).Text(), "");
  EXPECT_EQ(Board[1], 0);  // entry 1's capture stays
  EXPECT_EQ(Records(), (std::vector<TCaptureRecord>{{1, 2, 1}}));
  EXPECT_EQ(ColourToPlay, 2);  // after black's move 1
  EXPECT_EQ(LastPoint, 2);

  UndoLastMove();
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(Board[1], 2);
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(Board[2], 0);
  EXPECT_EQ(CaptureCount, 0);
  EXPECT_EQ(ColourToPlay, 1);  // the colour of the move taken back
  EXPECT_EQ(LastPoint, 2);

  UndoLastMove();  // nothing left: no change
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(MoveNumber, 0);
}

TEST_F(BoardTest, AfterTheHistoryIsClearedAnUndoDoesNotBringBackOlderCaptures) {
  Put(2, 1);
  Put(1, 20);
  ASSERT_TRUE(Move(1, 2));    // captures white 1 as history entry 1
  ClearHistory();             // a lesson move was checked
  Put(2, 100);                // the stored reply
  ASSERT_TRUE(Move(1, 200));  // the next move is history entry 1 again
  UndoLastMove();
  EXPECT_EQ(Board[1], 0);
  EXPECT_EQ(Stone(1), "");
  EXPECT_EQ(Board[200], 0);
  EXPECT_EQ(Board[2], 1);
}

TEST_F(BoardTest, LabelModesAndColours) {
  ASSERT_TRUE(Move(1, 50));
  EXPECT_EQ(Label(50).Text(), "1");
  EXPECT_EQ(Label(50).FontColor(), kNumberOnBlack);
  ASSERT_TRUE(Move(2, 51));  // HistoryTop 2: the previous number goes
  EXPECT_EQ(Label(50).Text(), "");
  EXPECT_EQ(Label(51).Text(), "2");
  EXPECT_EQ(Label(51).FontColor(), kNumberOnWhite);

  ClearBoard();
  ASSERT_TRUE(Move(1, 50));
  ClearHistory();
  ASSERT_TRUE(Move(2, 51));  // HistoryTop 1 again: earlier numbers stay
  EXPECT_EQ(Label(50).Text(), "1");

  ClearBoard();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(Move(i % 2 == 0 ? 1 : 2, 60 + i, 2));
  }
  EXPECT_EQ(Label(60).Text(), "1");
  EXPECT_EQ(Label(62).Text(), "3");

  Board[70] = -2;
  ASSERT_TRUE(PlaceStone(5, -2, 70, 2));
  EXPECT_EQ(Stone(70), "W");
  EXPECT_EQ(Label(70).Text(), "5");
  EXPECT_EQ(Label(70).FontColor(), kWrongNumberOnWhite);
  Board[71] = -1;
  ASSERT_TRUE(PlaceStone(6, -1, 71, 1));
  EXPECT_EQ(Stone(71), "B");
  EXPECT_EQ(Label(71).FontColor(), kWrongNumberOnBlack);

  Board[72] = 1;
  ASSERT_TRUE(PlaceStone(0, 1, 72, 2));  // set-up stone: no number
  EXPECT_EQ(Label(72).Text(), "");
  Board[73] = 2;
  ASSERT_TRUE(PlaceStone(9, 2, 73, 0));  // labelMode 0 leaves the label alone
  EXPECT_EQ(Label(73).Text(), "");
}

TEST_F(BoardTest, ClearBoardEmptiesEverythingButLastPoint) {
  for (int p = 1; p <= kPointCount; ++p) EXPECT_EQ(Label(p).Text(), "") << p;
  ASSERT_TRUE(Move(1, 2));
  AutoPlay = 1;
  BackState = 2;
  Registering = 1;
  ColourToPlay = -2;
  ClearBoard();
  EXPECT_EQ(Board[2], 0);
  EXPECT_EQ(Stone(2), "");
  EXPECT_EQ(Label(2).Text(), "");
  EXPECT_EQ(MoveNumber, 0);
  EXPECT_EQ(ColourToPlay, 1);
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(MoveHistory[1].point, 0);
  EXPECT_EQ(AutoPlay + BackState + Registering, 0);
  EXPECT_EQ(LastPoint, 2);
}

TEST_F(BoardTest, RemovingByHandTouchesNoRecord) {
  ASSERT_TRUE(Move(1, 5));
  RemoveStoneByHand(5);
  EXPECT_EQ(Board[5], 0);
  EXPECT_EQ(Stone(5), "");
  EXPECT_EQ(Label(5).Text(), "");
  EXPECT_EQ(HistoryTop, 1);
  Board[6] = -1;  // a wrong-sequence stone is not removed by hand
  RemoveStoneByHand(6);
  EXPECT_EQ(Board[6], -1);
}

TEST_F(BoardTest, AMoveBeyondTheHistoryIsRefusedBeforeTheBoardChanges) {
  for (int p = 1; p <= kMaxHistory; ++p) ASSERT_TRUE(Move(1, p, 0)) << p;
  EXPECT_EQ(HistoryTop, 361);
  EXPECT_FALSE(Move(2, 100, 0));
  EXPECT_EQ(tk_.StatusText(0), kHistoryFullMessage);
  EXPECT_EQ(HistoryTop, 361);
  EXPECT_EQ(Board[100], 1);
  EXPECT_EQ(Stone(100), "B");
  UndoLastMove();
  tk_.SetStatusText(0, "");
  EXPECT_TRUE(Move(2, 361, 0));
}

TEST_F(BoardTest, CapturesBeyondTheCaptureListAreRefusedBeforeTheBoardChanges) {
  // One move takes a 360-stone group: the search covers the whole board.
  for (int p = 2; p <= kPointCount; ++p) Put(2, p);
  ASSERT_TRUE(Move(1, 1));
  EXPECT_EQ(CaptureCount, 360);
  for (int p = 2; p <= kPointCount; ++p) ASSERT_EQ(Board[p], 0) << p;

  // Two more would pass 361: refused, nothing changes.
  Put(1, 359);
  Put(1, 341);
  Put(2, 360);
  Put(2, 361);
  EXPECT_FALSE(Move(1, 342));
  EXPECT_EQ(tk_.StatusText(0), kCapturesFullMessage);
  EXPECT_EQ(Board[342], 0);
  EXPECT_EQ(Stone(342), "");
  EXPECT_EQ(Board[360], 2);
  EXPECT_EQ(Stone(361), "W");
  EXPECT_EQ(HistoryTop, 1);
  EXPECT_EQ(CaptureCount, 360);

  // A caller that skips the check still cannot overrun the list.
  Board[342] = 1;
  EXPECT_FALSE(PlaceStone(0, 1, 342, 0));
  EXPECT_EQ(Board[360], 2);
  EXPECT_EQ(CaptureCount, 360);
  Board[342] = 0;

  // One more fits exactly: black takes 360's place, leaving white 361 alone.
  Board[360] = 1;
  view_->ShowStone(360, 1);
  EXPECT_TRUE(Move(1, 342));
  EXPECT_EQ(CaptureCount, 361);
  EXPECT_EQ(Board[361], 0);
}

TEST_F(BoardTest, ANotedMoveIsTakenBackToExactlyThePositionBeforeIt) {
  Put(2, 50);  // a set-up stone the move will be played on
  Put(2, 1);
  Put(1, 20);
  NoteMoveBefore(MoveNumber + 1, 50);
  ASSERT_TRUE(Move(1, 50));
  NoteMoveBefore(MoveNumber + 1, 2);
  ASSERT_TRUE(Move(1, 2));  // captures white 1
  ClearHistory();           // as after a lesson move: the capture records are gone
  EXPECT_TRUE(RestorePositionBefore(2, 2));
  EXPECT_EQ(Board[1], 2);
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(Board[2], 0);
  EXPECT_FALSE(RestorePositionBefore(2, 2)) << "that position is used up";
  EXPECT_FALSE(RestorePositionBefore(3, 50)) << "another move number finds nothing";
  EXPECT_EQ(Board[50], 1);
  EXPECT_TRUE(RestorePositionBefore(1, 50));
  EXPECT_EQ(Board[50], 2);
  EXPECT_EQ(Stone(50), "W");
  EXPECT_EQ(Label(50).Text(), "");

  // Through UndoLastMove; a move never noted is only cleared, and ClearBoard forgets all.
  Put(2, 100);
  NoteMoveBefore(MoveNumber + 1, 100);
  ASSERT_TRUE(Move(1, 100));
  UndoLastMove();
  EXPECT_EQ(Board[100], 2);
  ASSERT_TRUE(Move(1, 100));
  UndoLastMove();
  EXPECT_EQ(Board[100], 0);
  NoteMoveBefore(9, 200);
  ClearBoard();
  EXPECT_FALSE(RestorePositionBefore(9, 200));
}

TEST_F(BoardTest, StoredMovesWithAnEmptyHistoryCaptureWithoutRecords) {
  Put(2, 1);
  Put(1, 20);
  Put(1, 2);  // a stored reply: HistoryTop is 0
  EXPECT_EQ(Board[1], 0);
  EXPECT_EQ(CaptureCount, 0);
}

}  // namespace
}  // namespace goramina
