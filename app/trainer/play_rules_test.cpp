// The rules in the trainer's play: alternate and free play refuse illegal moves (a stone on a
// stone unless the user confirms the replacement, suicide, the immediate retake of a ko) with a
// status and the second sound; lesson mode plays stored moves as stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/trainer/trainer_test_fixture.h"

namespace goramina {
namespace {

constexpr const char* kReplaceStone =
    "この点には石があります。\r\n石を置き換えるなら 「はい」\r\nやめるなら 「いいえ」\r\n"
    "を選んでください。";
constexpr int kAlternate = 2, kFree = 3;

class PlayRulesTest : public TrainerFixture {
 protected:
  // A click in free play: left for black, right for white.
  void Black(int point) { Click(point, TMouseButton::Left); }
  void White(int point) { Click(point, TMouseButton::Right); }

  // Expects the last click refused with `status`: nothing placed, the second sound played.
  void ExpectRefused(int point, std::int32_t codeBefore, const std::string& status) {
    EXPECT_EQ(Board[point], codeBefore);
    EXPECT_EQ(StatusText(), status);
    ASSERT_FALSE(Sounds().empty());
    EXPECT_EQ(Sounds().back(), "Oto2.wav");
  }
};

TEST_F(PlayRulesTest, SuicideIsRefusedInAlternateAndFreePlay) {
  // Free play: white on 2 and 20 leaves the corner point 1 without a liberty for black.
  PlayMode = kFree;
  White(2);
  White(20);
  tk_.ClearRecords();
  Black(1);
  ExpectRefused(1, 0, "自殺手になるので打てません。");
  EXPECT_EQ(Stone(1), "");
  EXPECT_EQ(HistoryTop, 2);

  // Black 1 and 2 together without a liberty, capturing nothing: a multi-stone suicide.
  ClearBoard();
  Black(1);
  for (int point : {3, 20, 21}) White(point);
  tk_.ClearRecords();
  Black(2);
  ExpectRefused(2, 0, "自殺手になるので打てません。");
  EXPECT_EQ(Board[1], 1);

  // Alternate play on a fresh board: black 100, white 2, black 120, white 20, black on 1.
  ClearBoard();
  PlayMode = kAlternate;
  for (int point : {100, 2, 120, 20}) Click(point);
  ASSERT_EQ(Board[2], 2);
  ASSERT_EQ(Board[20], 2);
  tk_.ClearRecords();
  Click(1);
  ExpectRefused(1, 0, "自殺手になるので打てません。");
  EXPECT_EQ(ColourToPlay, 1) << "black is still to play";
  Click(3);
  EXPECT_EQ(Board[3], 1);
}

TEST_F(PlayRulesTest, AKoIsRetakenOnlyAfterAMoveElsewhere) {
  PlayMode = kFree;
  // .XO.      columns 5..8, rows 5..7
  // XO.O
  // .XO.
  const auto at = [](int column, int row) { return PointAt(5 + column, 5 + row); };
  for (auto [c, r] : {std::pair{1, 0}, {0, 1}, {1, 2}}) Black(at(c, r));
  for (auto [c, r] : {std::pair{2, 0}, {1, 1}, {3, 1}, {2, 2}}) White(at(c, r));
  Black(at(2, 1));
  ASSERT_EQ(Board[at(1, 1)], 0) << "black took the ko";
  tk_.ClearRecords();
  White(at(1, 1));
  ExpectRefused(at(1, 1), 0, "コウはすぐには取り返せません。");
  EXPECT_EQ(Board[at(2, 1)], 1);

  White(300);
  Black(320);
  White(at(1, 1));
  EXPECT_EQ(Board[at(1, 1)], 2);
  EXPECT_EQ(Board[at(2, 1)], 0) << "white retook the ko a move later";
  tk_.ClearRecords();
  Black(at(2, 1));
  ExpectRefused(at(2, 1), 0, "コウはすぐには取り返せません。");

  // Taking back white's retake brings back the position in which white was barred.
  Press("CuteButton9");
  EXPECT_EQ(Board[at(2, 1)], 1);
  tk_.ClearRecords();
  White(at(1, 1));
  EXPECT_EQ(Board[at(1, 1)], 2) << "black's elsewhere move still stands between take and retake";
}

TEST_F(PlayRulesTest, AStoneIsReplacedOnlyWhenTheUserConfirms) {
  PlayMode = kFree;
  Black(50);
  tk_.ClearRecords();
  tk_.AnswerNextConfirmations({TModalResult::No});
  White(50);
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].text, kReplaceStone);
  ExpectRefused(50, 1, "石のある点には打てません。");
  EXPECT_EQ(Stone(50), "B");
  EXPECT_EQ(HistoryTop, 1);

  tk_.AnswerNextConfirmations({TModalResult::Yes});
  White(50);
  EXPECT_EQ(Board[50], 2);
  EXPECT_EQ(Stone(50), "W");
  EXPECT_EQ(HistoryTop, 2);
  Press("CuteButton9");
  EXPECT_EQ(Board[50], 1) << "the take-back brings the replaced stone back";
  EXPECT_EQ(Stone(50), "B");

  // A confirmed replacement that would be a suicide is refused all the same: black in place of
  // white's corner stone 1, with white still on 2 and 20.
  for (int point : {1, 2, 20}) White(point);
  tk_.ClearRecords();
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Black(1);
  ExpectRefused(1, 2, "自殺手になるので打てません。");
  EXPECT_EQ(Stone(1), "W");
}

// Lesson mode compares the user's move with the stored play and never judges stored moves:
// a stored reply that is a suicide, or that stands on a stone, is drawn as stored.
TEST_F(PlayRulesTest, LessonModePlaysStoredMovesAsStored) {
  AddProblem(1, "自殺手の応手");
  AddRow(1, 0, 1, 2, 0, 9999);  // black 2 and 20 close the corner point 1
  AddRow(1, 0, 1, 20, 1);
  AddRow(1, 1, 1, 100, 0, 1);  // the user's move
  AddRow(1, 2, 2, 1);          // white's reply on 1: a suicide
  AddRow(1, 3, 1, 120);
  AddRow(1, 4, 2, 100, 2);  // white's reply on black's stone 100
  Start();
  ASSERT_EQ(PlayMode, 1);
  Click(100);
  Tick();
  EXPECT_EQ(Board[1], 2);
  EXPECT_EQ(Stone(1), "W");
  Click(120);
  Tick();
  EXPECT_EQ(Board[100], 2);
  EXPECT_EQ(Stone(100), "W");
  ExpectNoErrorBox();
}

}  // namespace
}  // namespace goramina
