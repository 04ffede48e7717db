#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/trainer/trainer_test_fixture.h"

namespace goramina {
namespace {

class SequenceTreeTest : public TrainerFixture {
 protected:
  // A set-up of three stones (rows 1..3) and a sequence of two moves (rows 4..5, label 2);
  // with `second`, another sequence continuing the set-up (rows 6..7, label 3).
  void AddTree(int hnb, bool second) {
    AddRow(hnb, 0, 1, 41, 0, 9999);
    AddRow(hnb, 0, 1, 42);
    AddRow(hnb, 0, 2, 60, 1);
    AddRow(hnb, 1, 1, 100, 0, 1);
    AddRow(hnb, 2, 2, 101, 2);
    if (second) {
      AddRow(hnb, 1, 1, 120, 0, 1);
      AddRow(hnb, 2, 2, 121, 3);
    }
  }

  std::vector<int> ContinuationRows() {
    std::vector<int> rows;
    for (int i = 1; i <= kMaxContinuations && Continuations[i].TNB != 0; ++i)
      rows.push_back(Continuations[i].TNB);
    return rows;
  }

  // Points 1..361 holding a stone image, and those whose label shows text.
  std::vector<int> StonePoints() {
    std::vector<int> points;
    for (int p = 1; p <= kPointCount; ++p)
      if (!Stone(p).empty()) points.push_back(p);
    return points;
  }
  std::vector<int> NumberedPoints() {
    std::vector<int> points;
    for (int p = 1; p <= kPointCount; ++p)
      if (!Label(p).Text().empty()) points.push_back(p);
    return points;
  }
};

TEST_F(SequenceTreeTest, WalksAndClassifiesATreeOfTwoSequences) {
  AddProblem(1);
  AddTree(1, true);
  AddProblem(2);
  AddTree(2, false);
  Start();
  ASSERT_EQ(Row(), 3);  // a load leaves the cursor on the set-up's last row

  // The set-up end has two continuations, in row order; the cursor stays.
  EXPECT_EQ(NextKind(), 3);
  EXPECT_EQ(ContinuationRows(), (std::vector<int>{4, 6}));
  EXPECT_EQ(Row(), 3);
  EXPECT_EQ(ClassifyMove(120), 2);
  EXPECT_EQ(ClassifyMove(100), 1);
  EXPECT_EQ(ClassifyMove(200), 24);
  GoToRow(4);
  EXPECT_EQ(NextKind(), 1);
  EXPECT_EQ(ClassifyMove(101), 21);
  EXPECT_EQ(Row(), 4);
  EXPECT_EQ(ClassifyMove(150), 22);
  EXPECT_EQ(Row(), 4);
  GoToRow(5);
  EXPECT_EQ(NextKind(), 0);
  EXPECT_EQ(ClassifyMove(150), 0);

  // Collecting from a row after a continuation misses it.
  EXPECT_EQ(CollectContinuations(1), 1);
  EXPECT_EQ(ContinuationRows(), (std::vector<int>{6}));
  EXPECT_EQ(Row(), 5);

  // Walks and steps back in play order.
  GoToRow(4);
  EXPECT_EQ(WalkToSequenceEnd(), 2);
  EXPECT_EQ(Row(), 5);
  EXPECT_EQ(WalkToSequenceEnd(), 1);
  WalkToSequenceStart();
  EXPECT_EQ(Row(), 4);
  const struct { int from, to; } kSteps[] = {{4, 3}, {5, 4}, {1, 3}, {6, 3}, {7, 6}, {2, 1}};
  for (const auto& step : kSteps) {
    GoToRow(step.from);
    StepBack();
    EXPECT_EQ(Row(), step.to) << "from row " << step.from;
  }

  // The second problem has only one sequence after its set-up.
  SelectProblem(2);
  ASSERT_EQ(Row(), 3);
  EXPECT_EQ(NextKind(), 2);
  EXPECT_EQ(ContinuationRows(), (std::vector<int>{4}));
  EXPECT_EQ(ClassifyMove(100), 1);
  EXPECT_EQ(ClassifyMove(200), 23);
}

TEST_F(SequenceTreeTest, ShowSequencePathDrawsTheSetUpAndTheSelectedSequence) {
  AddProblem(1);
  AddTree(1, true);
  Start();
  GoToRow(7);
  ShowSequencePath();
  EXPECT_EQ(StonePoints(), (std::vector<int>{41, 42, 60, 120, 121}));
  EXPECT_EQ(NumberedPoints(), (std::vector<int>{120, 121}));
  EXPECT_EQ(Label(120).Text(), "1");
  EXPECT_EQ(Label(121).Text(), "2");
  EXPECT_EQ(Row(), 7);
  EXPECT_EQ(MoveNumber, 2);
  EXPECT_EQ(ColourToPlay, 1);  // after white's move 2
  EXPECT_TRUE(tk_.Control("DBGrid2").DataSourceAttached());

  // A set-up row shows the set-up alone, with the cursor at its end.
  GoToRow(2);
  ShowSequencePath();
  EXPECT_EQ(StonePoints(), (std::vector<int>{41, 42, 60}));
  EXPECT_EQ(Row(), 3);
}

TEST_F(SequenceTreeTest, RenumberMovesRewritesPositions) {
  AddProblem(1);
  AddTree(1, false);
  Start();
  for (int row = 1; row <= 5; ++row) {  // scramble the numbers
    GoToRow(row);
    module_.KuraQuery2.Edit();
    module_.KuraQuery2.Fields(tejun::kTNB).SetAsInteger(90 - row);
    module_.KuraQuery2.Post();
  }
  RenumberMoves();
  std::vector<int> numbers;
  for (const kura::TRecord& row : database_->Rows("tejun")) numbers.push_back(row[0].Integer);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(tk_.Control("DBGrid2").DataSourceAttached());
}

TEST_F(SequenceTreeTest, OnlyTheFirstTenContinuationsAreOffered) {
  AddProblem(1);
  AddRow(1, 0, 1, 41, 1, 9999);
  for (int i = 0; i < 12; ++i) AddRow(1, 1, 1, 100 + i, 2 + i, 1);  // rows 2..13
  Start();
  EXPECT_EQ(CollectContinuations(1), kMaxContinuations);
  EXPECT_EQ(Row(), 1);
  EXPECT_EQ(Continuations[1].TNB, 2);
  EXPECT_EQ(Continuations[kMaxContinuations].TNB, 11);
  EXPECT_EQ(Continuations[kMaxContinuations].PST, 109);
  EXPECT_EQ(NextKind(), 3);
  EXPECT_EQ(ClassifyMove(109), 10);
  EXPECT_EQ(ClassifyMove(111), 24);  // the twelfth is not offered
  ShowContinuationMarks();
  EXPECT_EQ(Label(109).Text(), kChoiceMark);
  EXPECT_EQ(Label(110).Text(), "");
}

// Twelve sequences, each continuing the one before: deeper than any fixed path of ten.
TEST_F(SequenceTreeTest, ShowSequencePathFollowsAChainTwelveDeep) {
  AddProblem(1);
  AddRow(1, 0, 1, 41, 0, 9999);
  AddRow(1, 0, 2, 60, 1);
  for (int k = 1; k <= 12; ++k) AddRow(1, k, k % 2 == 1 ? 1 : 2, 100 + k, k + 1, k);
  Start();
  GoToRow(14);
  ShowSequencePath();
  std::vector<int> expected = {41, 60};
  for (int k = 1; k <= 12; ++k) expected.push_back(100 + k);
  EXPECT_EQ(StonePoints(), expected);
  EXPECT_EQ(NumberedPoints(), (std::vector<int>{112}));
  EXPECT_EQ(Label(112).Text(), "12");
  EXPECT_EQ(Stone(112), "W");
  EXPECT_EQ(MoveNumber, 12);
  EXPECT_EQ(ColourToPlay, 1);
  EXPECT_EQ(Row(), 14);

  // A sequence in the middle of the chain shows only its ancestors.
  GoToRow(8);  // move 6
  ShowSequencePath();
  EXPECT_EQ(StonePoints(), (std::vector<int>{41, 60, 101, 102, 103, 104, 105, 106}));
  EXPECT_EQ(NumberedPoints(), (std::vector<int>{106}));
  EXPECT_EQ(Row(), 8);
}

// Tables edited by hand may break the tree's rules. Every walk must end, read nothing
// outside the rows and the board, and leave the cursor on a row.
TEST_F(SequenceTreeTest, BrokenTreesEndEveryWalk) {
  struct TRow {
    int tes, col, pst, bfr, bto;
  };
  struct Case {
    const char* name;
    std::vector<TRow> rows;
  };
  const Case kCases[] = {
      {"no end row", {{0, 1, 41, 0, 9999}, {0, 2, 60, 1, 0}, {1, 1, 100, 0, 1}, {2, 2, 101, 0, 0}}},
      {"set-up without end", {{0, 1, 41, 0, 9999}, {0, 2, 60, 0, 0}}},
      {"parent nobody carries",
       {{0, 1, 41, 0, 9999}, {0, 2, 60, 1, 0}, {1, 1, 100, 0, 7}, {2, 2, 101, 2, 0}}},
      {"no start row", {{0, 1, 41, 0, 0}, {0, 2, 60, 1, 0}, {1, 1, 100, 0, 0}, {2, 2, 101, 2, 0}}},
      {"loop", {{0, 1, 41, 0, 9999}, {0, 2, 60, 1, 0}, {1, 1, 100, 2, 3}, {2, 2, 101, 3, 2}}},
      {"off the board",
       {{0, 1, 0, 0, 9999}, {0, 0, 60, 1, 0}, {1, 1, 400, 0, 1}, {2, -3, 101, 2, 0}}},
      {"no rows", {}},
  };
  int problem = 0;
  for (const Case& c : kCases) {
    AddProblem(++problem);
    for (const TRow& r : c.rows) AddRow(problem, r.tes, r.col, r.pst, r.bfr, r.bto);
  }
  Start();
  problem = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SelectProblem(++problem);
    const int rows = static_cast<int>(c.rows.size());
    for (int row = 1; row <= std::max(rows, 1); ++row) {
      SCOPED_TRACE("row " + std::to_string(row));
      const std::vector<std::function<void()>> kWalks = {
          [] { WalkToSequenceEnd(); }, [] { WalkToSequenceStart(); }, [] { StepBack(); },
          [] { NextKind(); },          [] { ClassifyMove(200); },     [] { AdvanceOne(); },
          [] { CuteButton10Click(); }, [] { CuteButton9Click(); }};
      for (const auto& walk : kWalks) {
        GoToRow(row);
        walk();
        EXPECT_LE(module_.KuraQuery2.RecNo(), rows);
      }
      GoToRow(row);
      ShowSequencePath();
      EXPECT_LE(module_.KuraQuery2.RecNo(), rows);
      EXPECT_EQ(module_.KuraQuery2.RecNo() >= 1, rows > 0);
    }
  }
}

}  // namespace
}  // namespace goramina
