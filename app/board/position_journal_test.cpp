#include "app/board/position_journal.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <random>

namespace goramina {
namespace {

struct TModelEntry {
  int moveNumber;
  int point;
  TPositionJournal::TCodes codes;
};

TPositionJournal::TCodes Codes(const TPositionJournal::TBoardCodes& board) {
  TPositionJournal::TCodes codes{};
  for (int p = 1; p <= kPointCount; ++p) codes[p] = static_cast<std::int8_t>(board[p]);
  return codes;
}

// Random notes, take-backs (of the newest move, or of another one) and clears against a plain
// list that forgets its oldest entry when full; runs past the capacity several times.
TEST(PositionJournal, BehavesLikeABoundedListOfPositions) {
  auto journal = std::make_unique<TPositionJournal>();
  std::deque<TModelEntry> model;
  std::mt19937 random(20261211);
  TPositionJournal::TBoardCodes board{};
  for (int step = 0; step < 20000; ++step) {
    const int choice = static_cast<int>(random() % 100);
    if (choice < 60) {
      board[1 + random() % kPointCount] = static_cast<int>(random() % 5) - 2;
      const int moveNumber = 1 + static_cast<int>(random() % 400);
      const int point = 1 + static_cast<int>(random() % kPointCount);
      journal->Note(moveNumber, point, board);
      model.push_back({moveNumber, point, Codes(board)});
      if (static_cast<int>(model.size()) > TPositionJournal::kCapacity) model.pop_front();
    } else if (choice < 99) {
      // Mostly the newest move; sometimes another one, which must find nothing.
      int moveNumber = 1, point = 1;
      if (!model.empty() && random() % 4 != 0) {
        moveNumber = model.back().moveNumber;
        point = model.back().point;
      } else {
        moveNumber = 1 + static_cast<int>(random() % 400);
        point = 1 + static_cast<int>(random() % kPointCount);
      }
      const bool newest =
          !model.empty() && model.back().moveNumber == moveNumber && model.back().point == point;
      TPositionJournal::TCodes before{};
      ASSERT_EQ(journal->TakeNewest(moveNumber, point, before), newest) << "step " << step;
      if (newest) {
        ASSERT_EQ(before, model.back().codes) << "step " << step;
        model.pop_back();
      }
    } else {
      journal->Clear();
      model.clear();
    }
    ASSERT_EQ(journal->Size(), static_cast<int>(model.size())) << "step " << step;
  }
}

TEST(PositionJournal, CodesBeyondTheBoardsRangeAreClampedNotWrapped) {
  TPositionJournal journal;
  TPositionJournal::TBoardCodes board{};
  board[5] = 300;  // would wrap to 44 as a byte
  board[6] = -300;
  board[7] = -2;
  journal.Note(1, 5, board);
  TPositionJournal::TCodes before{};
  ASSERT_TRUE(journal.TakeNewest(1, 5, before));
  EXPECT_EQ(before[5], 2);
  EXPECT_EQ(before[6], -2);
  EXPECT_EQ(before[7], -2);
  EXPECT_FALSE(journal.TakeNewest(1, 5, before)) << "taken once only";
}

}  // namespace
}  // namespace goramina
