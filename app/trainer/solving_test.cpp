#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/trainer/trainer_test_fixture.h"

namespace goramina {
namespace {

constexpr const char* kNotRegistered =
    "登録手順にありません。\r\n打ち直すなら 「はい」\r\n登録手を表示するなら 「いいえ」\r\n"
    "を選んでください。";
using SoundList = std::vector<std::string>;

class SolvingTest : public TrainerFixture {
 protected:
  void SetUp() override {
    TrainerFixture::SetUp();
    // Problem 1: a set-up, one sequence after it (label 2) whose end has a correct (label 3)
    // and a wrong (label 4) continuation, both starting with a black move.
    AddProblem(1, "隅の死活", "急所はどこ？");
    AddRow(1, 0, 1, 41, 0, 9999);  // 1
    AddRow(1, 0, 1, 42);           // 2
    AddRow(1, 0, 2, 60, 1);        // 3
    AddRow(1, 1, 1, 100, 0, 1);    // 4
    AddRow(1, 2, 2, 101);          // 5
    AddRow(1, 3, 1, 102);          // 6
    AddRow(1, 4, 2, 103, 2);       // 7
    AddRow(1, 5, 1, 104, 0, 2);    // 8
    AddRow(1, 6, 2, 105, 3);       // 9
    AddRow(1, 5, -1, 140, 0, 2);   // 10
    AddRow(1, 6, 2, 141, 4);       // 11
    // Problem 2: a white stone in the corner, captured by the first stored move.
    AddProblem(2, "取る", "アテ");
    AddRow(2, 0, 2, 1, 0, 9999);  // 1
    AddRow(2, 0, 1, 20, 1);       // 2
    AddRow(2, 1, 1, 2, 0, 1);     // 3
    AddRow(2, 2, 2, 30);          // 4
    AddRow(2, 3, 1, 31, 2);       // 5
    Start();
    tk_.ClearRecords();
  }

  // Problem 1 up to the end of label 2 (row 7): the user plays 100 and 102, replies follow.
  void PlayToFirstBranch() {
    Click(100);
    Tick();
    Click(102);
    Tick();
    ASSERT_EQ(Row(), 7);
    tk_.ClearRecords();
  }
};

TEST_F(SolvingTest, LoadsTheFirstProblemWithBlackToPlay) {
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_EQ(Stone(41), "B");
  EXPECT_EQ(Stone(42), "B");
  EXPECT_EQ(Stone(60), "W");
  EXPECT_EQ(Label(41).Text(), "");
  EXPECT_EQ(Row(), 3);
  EXPECT_EQ(ColourToPlay, 1);
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(StatusText(), "");
}

TEST_F(SolvingTest, CorrectLessonMoveIsAnsweredOneTickLater) {
  Click(100);
  EXPECT_EQ(Stone(100), "B");
  EXPECT_EQ(Label(100).Text(), "1");
  EXPECT_EQ(Label(100).FontColor(), kNumberOnBlack);
  EXPECT_EQ(Sounds(), (SoundList{"Oto1.wav", "Oto1.wav"}));  // the stone, then "go on"
  EXPECT_EQ(StatusText(), " 進めてください。");
  EXPECT_EQ(Stone(101), "");  // the reply waits for the timer
  EXPECT_TRUE(ReplyPending());
  EXPECT_EQ(Row(), 4);
  EXPECT_EQ(HistoryTop, 0);

  EXPECT_TRUE(Tick());
  EXPECT_EQ(Stone(101), "W");
  EXPECT_EQ(Label(101).Text(), "2");
  EXPECT_EQ(Label(101).FontColor(), kNumberOnWhite);
  EXPECT_EQ(Row(), 5);
  EXPECT_FALSE(ReplyPending());  // one reply only
  EXPECT_FALSE(Tick());
  EXPECT_EQ(ColourToPlay, 1);

  // The next move of the same sequence is matched too.
  Click(102);
  EXPECT_EQ(Label(102).Text(), "3");
  EXPECT_EQ(Row(), 6);
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Label(103).Text(), "4");
  EXPECT_EQ(Row(), 7);
}

TEST_F(SolvingTest, UnregisteredMoveAnsweredNoShowsTheRegisteredMove) {
  // At the set-up: the only continuation's first move is drawn instead.
  tk_.AnswerNextConfirmations({TModalResult::No});
  Click(200);
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].kind, TBoxKind::Confirmation);
  EXPECT_EQ(tk_.Boxes()[0].text, kNotRegistered);
  EXPECT_EQ(Stone(200), "");
  EXPECT_EQ(Board[200], 0);
  EXPECT_EQ(Stone(100), "B");
  EXPECT_EQ(Label(100).Text(), "1");
  EXPECT_EQ(Row(), 4);
  EXPECT_TRUE(Tick());  // black's move was shown: white replies
  EXPECT_EQ(Stone(101), "W");

  // Inside a sequence: the next stored move is drawn instead.
  tk_.AnswerNextConfirmations({TModalResult::No});
  Click(201);
  EXPECT_EQ(Stone(201), "");
  EXPECT_EQ(Label(102).Text(), "3");
  EXPECT_EQ(Row(), 6);
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Label(103).Text(), "4");
}

TEST_F(SolvingTest, UnregisteredMoveAnsweredYesIsOnlyTakenBack) {
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Click(200);
  EXPECT_EQ(Stone(200), "");
  EXPECT_EQ(Label(200).Text(), "");
  EXPECT_EQ(Stone(100), "");
  EXPECT_EQ(Row(), 3);
  EXPECT_FALSE(ReplyPending());
  EXPECT_EQ(ColourToPlay, 1);
  // The user's own moves are all taken back: one press of １手戻す only says so.
  Press("CuteButton9");
  EXPECT_EQ(StatusText(), "もう戻せません。");
  EXPECT_EQ(BackState, 0);
  // The user tries again, correctly.
  Click(100);
  EXPECT_EQ(Label(100).Text(), "1");
  EXPECT_EQ(Row(), 4);
}

TEST_F(SolvingTest, MarksOfSeveralContinuationsAndARedChoice) {
  PlayToFirstBranch();
  tk_.AnswerNextConfirmations({TModalResult::No});
  Click(300);
  EXPECT_EQ(Stone(300), "");
  EXPECT_EQ(Label(104).Text(), kChoiceMark);
  EXPECT_EQ(Label(104).FontColor(), kGreenMarkColour);
  EXPECT_EQ(Label(140).Text(), kChoiceMark);
  EXPECT_EQ(Label(140).FontColor(), kWrongMoveColour);
  EXPECT_EQ(StatusText(), "緑丸か赤丸の一つを選んでください。");
  EXPECT_EQ(Row(), 7);

  // Choosing the red mark: the stone is numbered in red and the other mark goes.
  Click(140);
  EXPECT_EQ(Stone(140), "B");
  EXPECT_EQ(Label(140).Text(), "5");
  EXPECT_EQ(Label(140).FontColor(), kWrongNumberOnBlack);
  EXPECT_EQ(Label(104).Text(), "");
  EXPECT_EQ(Row(), 10);
  EXPECT_EQ(StatusText(), " 進めてください。");
  EXPECT_EQ(HistoryTop, 0);  // a choice is not a move of the history

  // The user's next stone is numbered in red too.
  Click(141);
  EXPECT_EQ(Stone(141), "W");
  EXPECT_EQ(Label(141).Text(), "6");
  EXPECT_EQ(Label(141).FontColor(), kWrongNumberOnWhite);
  EXPECT_EQ(Row(), 11);
  tk_.ClearRecords();
  EXPECT_TRUE(Tick());
  EXPECT_EQ(StatusText(), "登録手順は終了です。");
  EXPECT_EQ(Sounds(), (SoundList{"Oto2.wav"}));
}

TEST_F(SolvingTest, FirstMoveOfAWrongContinuationTurnsRed) {
  PlayToFirstBranch();
  Click(140);  // not a mark: a move matched against the continuations
  EXPECT_EQ(Label(140).Text(), "5");
  EXPECT_EQ(Label(140).FontColor(), kWrongNumberOnBlack);
  EXPECT_EQ(Row(), 10);
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Stone(141), "W");
  EXPECT_EQ(Label(141).FontColor(), kNumberOnWhite);
}

TEST_F(SolvingTest, AnswerDisplayPlaysToTheEnd) {
  SelectProblem(2);
  EXPECT_EQ(CurrentProblem, 2);
  tk_.ClearRecords();
  Press("CuteButton7");
  EXPECT_EQ(Label(2).Text(), "1");
  EXPECT_EQ(Board[1], 0);  // the corner stone is captured
  EXPECT_EQ(Stone(1), "");
  int ticks = 0;
  while (ReplyPending() && ticks < 10) {
    Tick();
    ++ticks;
  }
  EXPECT_FALSE(ReplyPending());
  EXPECT_EQ(Label(30).Text(), "2");
  EXPECT_EQ(Label(31).Text(), "3");
  EXPECT_EQ(StatusText(), " 登録手順は終了です。");
  ASSERT_FALSE(Sounds().empty());
  EXPECT_EQ(Sounds().back(), "Oto2.wav");
  EXPECT_EQ(AutoPlay, 0);

  // Taking the stored moves back puts back what they captured: the corner stone returns with
  // the move that took it...
  for (int i = 0; i < 2; ++i) Press("CuteButton9");
  EXPECT_EQ(Stone(2), "B");
  EXPECT_EQ(Stone(1), "");
  Press("CuteButton9");
  EXPECT_EQ(Stone(2), "");
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(Board[1], 2);
  EXPECT_EQ(Row(), 2);
  // ...until the set-up is reached: the problem is drawn again.
  tk_.ClearRecords();
  Press("CuteButton9");
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(StatusText(), "もう戻せません。");
  EXPECT_EQ(Sounds(), (SoundList{"Oto1.wav"}));
}

TEST_F(SolvingTest, AnswerDisplayShowsMarksUntilOneIsChosen) {
  Press("CuteButton7");
  for (int i = 0; i < 4; ++i) Tick();  // moves 2..4, then the branch
  EXPECT_EQ(Label(104).Text(), kChoiceMark);
  EXPECT_TRUE(ReplyPending());
  tk_.ClearRecords();
  Tick();  // the marks again, with the sound
  EXPECT_EQ(Sounds(), (SoundList{"Oto1.wav"}));
  Click(104);  // a black move: one reply follows, then the display ends
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Label(105).Text(), "6");
  EXPECT_EQ(StatusText(), " 登録手順は終了です。");
  Tick();
  EXPECT_FALSE(ReplyPending());
}

TEST_F(SolvingTest, OneMoveBackWalksTheStoredMovesToTheSetUp) {
  Press("CuteButton9");  // at the set-up
  EXPECT_EQ(StatusText(), "もう戻せません。");
  EXPECT_EQ(Sounds(), (SoundList{"Oto1.wav"}));
  EXPECT_EQ(Stone(41), "B");
  EXPECT_EQ(Row(), 3);

  Click(100);
  Tick();
  Press("CuteButton9");
  EXPECT_EQ(Stone(101), "");
  EXPECT_EQ(Row(), 4);
  EXPECT_EQ(ColourToPlay, 2);
  Press("CuteButton9");
  EXPECT_EQ(Stone(100), "");
  EXPECT_EQ(Row(), 3);
  EXPECT_EQ(ColourToPlay, 1);
  Press("CuteButton9");
  EXPECT_EQ(StatusText(), "もう戻せません。");

  // 1手進む plays the stored moves one at a time.
  Press("CuteButton8");
  EXPECT_EQ(Label(100).Text(), "1");
  Press("CuteButton8");
  EXPECT_EQ(Label(101).Text(), "2");
  EXPECT_EQ(Row(), 5);
}

TEST_F(SolvingTest, AStoredMoveTakenBackIsReplayedWithItsOwnNumber) {
  Click(100);
  Tick();
  ASSERT_EQ(Label(101).Text(), "2");
  Press("CuteButton9");  // the reply 101 (move 2) goes
  EXPECT_EQ(MoveNumber, 1);
  Click(101);  // white plays it again and is numbered as it was
  EXPECT_EQ(Stone(101), "W");
  EXPECT_EQ(Label(101).Text(), "2");
  EXPECT_TRUE(Tick());
  EXPECT_EQ(Label(102).Text(), "3");

  // Back to the set-up through the stored moves: the first move is numbered 1 again.
  Press("CuteButton9");
  Press("CuteButton9");
  Press("CuteButton9");
  ASSERT_EQ(Row(), 3);
  EXPECT_EQ(MoveNumber, 0);
  Click(100);
  EXPECT_EQ(Label(100).Text(), "1");
}

TEST_F(SolvingTest, OneSequenceBackShowsTheParentAndItsChoices) {
  PlayToFirstBranch();
  Click(104);  // the correct continuation (label 3)
  Tick();
  ASSERT_EQ(Row(), 9);
  tk_.ClearRecords();
  Press("CuteButton10");
  EXPECT_EQ(Row(), 7);
  EXPECT_EQ(Stone(104), "");
  EXPECT_EQ(Stone(103), "W");
  EXPECT_EQ(Label(103).Text(), "4");
  EXPECT_EQ(Label(104).Text(), kChoiceMark);
  EXPECT_EQ(Label(140).Text(), kChoiceMark);
  EXPECT_EQ(StatusText(), "１手順戻しました。");
  // Back in the first sequence after the set-up: nothing before it to go back to.
  GoToRow(5);
  Press("CuteButton10");
  EXPECT_EQ(Row(), 3);
  Press("CuteButton10");
  EXPECT_EQ(StatusText(), "もう戻せません。");
}

TEST_F(SolvingTest, OneSequenceBackToTheSetUpLeavesTheProblemAsLoaded) {
  // From the first sequence after the set-up, and then once more at the set-up itself: each
  // time the right first move is accepted and answered as after loading the problem.
  for (int presses : {1, 2, 3}) {
    SCOPED_TRACE(testing::Message() << presses << " presses");
    ClearBoard();
    LoadProblem();
    Click(100);
    Tick();
    ASSERT_EQ(Row(), 5);
    tk_.ClearRecords();
    for (int i = 0; i < presses; ++i) Press("CuteButton10");
    EXPECT_EQ(StatusText(), presses == 1 ? "１手順戻しました。" : "もう戻せません。");
    EXPECT_EQ(Row(), 3) << "the set-up's last row, as after loading";
    EXPECT_EQ(Stone(100), "");
    EXPECT_EQ(Stone(101), "");
    EXPECT_EQ(Label(100).Text(), "") << "no marks give the answer away";
    EXPECT_EQ(Stone(41), "B");
    EXPECT_EQ(ColourToPlay, 1);
    tk_.ClearRecords();
    Click(100);
    EXPECT_TRUE(tk_.Boxes().empty()) << "the right first move is not refused";
    EXPECT_EQ(Row(), 4);
    EXPECT_EQ(Label(100).Text(), "1");
    ASSERT_TRUE(ReplyPending());
    Tick();
    EXPECT_EQ(Stone(101), "W");
  }
}

TEST_F(SolvingTest, FreeAndAlternatePlayPlaceStonesWithoutComparing) {
  PlayMode = 3;
  Click(200, TMouseButton::Left);
  Click(201, TMouseButton::Right);
  Click(202, TMouseButton::Right);
  EXPECT_EQ(Stone(200), "B");
  EXPECT_EQ(Stone(201), "W");
  EXPECT_EQ(Stone(202), "W");
  EXPECT_EQ(Label(200).Text(), "");
  EXPECT_TRUE(tk_.Boxes().empty());
  EXPECT_EQ(HistoryTop, 3);
  EXPECT_EQ(Row(), 3);

  PlayMode = 2;
  ClearBoard();
  Click(200, TMouseButton::Right);  // colours alternate from black, whatever the button
  Click(201, TMouseButton::Left);
  Click(202, TMouseButton::Left);
  EXPECT_EQ(Stone(200), "B");
  EXPECT_EQ(Stone(201), "W");
  EXPECT_EQ(Stone(202), "B");
  EXPECT_EQ(Label(201).Text(), "");
  EXPECT_TRUE(tk_.Boxes().empty());
  // Moves of the history are taken back one by one.
  Press("CuteButton9");
  EXPECT_EQ(Stone(202), "");
  EXPECT_EQ(ColourToPlay, 1);
}

TEST_F(SolvingTest, ShiftClickRemovesAStoneWithoutARule) {
  Click(41, TMouseButton::Left, ssShift | ssLeft);
  Click(60, TMouseButton::Right, ssShift | ssRight);
  EXPECT_EQ(Stone(41), "");
  EXPECT_EQ(Board[41], 0);
  EXPECT_EQ(Stone(60), "");
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_TRUE(tk_.Boxes().empty());
  // With Ctrl held as well it is a move; in free play nothing is compared.
  PlayMode = 3;
  tk_.AnswerNextConfirmations({TModalResult::Yes});  // 42 holds a stone: replace it
  Click(42, TMouseButton::Right, ssShift | ssCtrl | ssRight);
  EXPECT_EQ(Stone(42), "W");
  EXPECT_EQ(Board[42], 2);
  EXPECT_EQ(HistoryTop, 1);
}

TEST_F(SolvingTest, ClicksFollowTheScrolledWindow) {
  PlayMode = 3;
  tk_.SetScrollPosition(28, 56);  // one column right, two rows down
  Click(1);
  EXPECT_EQ(Stone(PointAt(1, 2)), "B");
  EXPECT_EQ(Stone(1), "");
}

TEST_F(SolvingTest, HintIsShownAndWithdrawnWithoutStoringIt) {
  Press("CuteButton13");
  EXPECT_EQ(HintShown, 1);
  EXPECT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kCMT)), "急所はどこ？");
  EXPECT_EQ(tk_.Control("CuteButton13").Text(), "ヒント消去");
  EXPECT_EQ(tk_.Control("CuteButton13").Color(), Rgb(250, 220, 130));
  EXPECT_EQ(StoredProblemText(0, mondai::kCMT), "隅の死活");

  Press("CuteButton13");
  EXPECT_EQ(HintShown, 0);
  EXPECT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kCMT)), "隅の死活");
  EXPECT_EQ(tk_.Control("CuteButton13").Text(), "ヒント表示");
  EXPECT_EQ(tk_.Control("CuteButton13").Color(), Rgb(130, 255, 185));
  EXPECT_EQ(StoredProblemText(0, mondai::kCMT), "隅の死活");
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
}

// Whatever moves the problem list while the hint stands in the comment, the hint is dropped
// first: it never becomes the stored comment, and the button shows it is gone.
TEST_F(SolvingTest, HintIsNeverStoredWhenTheProblemRowChanges) {
  const std::vector<std::pair<const char*, std::function<void()>>> kWays = {
      {"grid click", [&] { SelectProblem(2); }},
      {"search", [&] { SearchBySelectors(module_, 0, "全て", 0, "全て"); }},
      {"full list", [&] { ShowAllProblems(module_); }},
      {"problem list", [&] { module_.OpenProblemList(kRegisteredProblems); }},
      {"mark", [&] { StoreMark(module_, "○"); }},
      {"close", [&] { module_.DataModuleDestroy(); }},
  };
  for (const auto& [name, way] : kWays) {
    SCOPED_TRACE(name);
    module_.OpenProblemList(kRegisteredProblems);
    Press("CuteButton13");
    ASSERT_EQ(HintShown, 1);
    way();
    EXPECT_EQ(HintShown, 0);
    EXPECT_EQ(tk_.Control("CuteButton13").Text(), "ヒント表示");
    EXPECT_EQ(tk_.Control("CuteButton13").Color(), Rgb(130, 255, 185));
    EXPECT_EQ(StoredProblemText(0, mondai::kCMT), "隅の死活");
    EXPECT_EQ(StoredProblemText(1, mondai::kCMT), "取る");
  }
  EXPECT_EQ(StoredProblemText(0, mondai::kMRK), "○");  // the mark itself was stored
}

// On the edit screen a click records a move: no number, no sound, nothing compared; the
// numbers of a sequence shown before go with the first recorded move.
TEST_F(SolvingTest, EditScreenClicksRecordMovesOnTheHistory) {
  GoToRow(5);
  ShowSequencePath();  // the sequence to its end: moves 1..4
  ASSERT_EQ(Label(101).Text(), "2");
  ScreenKind = 2;
  tk_.ClearRecords();
  Click(200, TMouseButton::Left);
  Click(201, TMouseButton::Right);
  EXPECT_EQ(Label(101).Text(), "");
  EXPECT_EQ(Stone(101), "W");
  EXPECT_EQ(Stone(200), "B");
  EXPECT_EQ(Stone(201), "W");
  EXPECT_EQ(Label(200).Text(), "");
  EXPECT_EQ(HistoryTop, 2);
  EXPECT_EQ(MoveHistory[1], (TMoveRecord{5, 1, 200}));
  EXPECT_EQ(MoveHistory[2], (TMoveRecord{6, 2, 201}));
  EXPECT_EQ(ColourToPlay, 1);
  EXPECT_TRUE(Sounds().empty());
  EXPECT_TRUE(tk_.Boxes().empty());
  EXPECT_EQ(Row(), 5);
}

}  // namespace
}  // namespace goramina
