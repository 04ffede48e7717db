// The trainer through the whole window (headless toolkit), on problems registered with the edit
// screen's own buttons, so the rows are exactly what the editor writes: only the first row of a
// wrong sequence carries a negative colour, the replies after it are plain.
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/board/board.h"
#include "app/board/board_test_fixture.h"
#include "app/board/board_view.h"
#include "app/collection/data_module.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "app/trainer/player_aids.h"
#include "app/window/main_form.h"
#include "dataset/memory_database.h"

namespace goramina {
namespace {

constexpr const char* kGoOn = " 進めてください。";
constexpr const char* kPlayEnded = " 登録手順は終了です。";
constexpr const char* kPlayEndedAlready = " 登録手順は既に終了しています。";

// A move clicked on the edit screen: the left button records black, the right one white.
struct TClick {
  int point;
  bool black;
};

class SolvingWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk_.SetProgramDir(std::string(GORAMINA_APP_DIR) + "/");
    tk_.SetNow(TDateTime{2026, 12, 8, 21, 5, 0});
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
    CreateMainForm(tk_);
    tk_.Run();
  }
  void TearDown() override { SetMainUnit(nullptr, nullptr, nullptr); }

  // --- The edit screen's own operations ----------------------------------------------------
  // 登録要求, the number typed into the new row, the set-up clicked, 問題登録.
  void RegisterProblem(int number, std::initializer_list<TClick> setUp) {
    Press("N3");
    Press("CuteButton4");
    module_.KuraQuery1.Fields(mondai::kHNB).SetAsInteger(number);
    for (const TClick& c : setUp) Click(c.point, c.black);
    Press("CuteButton1");
    ASSERT_EQ(tk_.StatusText(0), "登録しました。");
  }
  // Selects sequence row `fromRow` in the sequence list, clicks the moves and registers them as
  // a correct or a wrong sequence; answers the row the new sequence ends on.
  int RegisterLine(int fromRow, std::initializer_list<TClick> moves, bool wrong) {
    module_.KuraQuery2.SetRecNo(fromRow);
    EXPECT_TRUE(tk_.DeliverCellClick("DBGrid2"));
    for (const TClick& c : moves) Click(c.point, c.black);
    Press(wrong ? "CuteButton6" : "CuteButton5");
    EXPECT_EQ(tk_.StatusText(0), "登録しました。");
    return Row();
  }

  // Problem 1: a white stone in the corner (point 1) that black 2 captures, black on 20.
  //   A  correct  black 2 (captures 1), white 40           from the set-up
  //   B  wrong    black 22, white 41                       from the set-up, ends there
  //   C  correct  black 60, white 61                       continues A
  //   D  wrong    black 80, white 81                       continues A
  //   F  wrong    black 23, white 42                       from the set-up
  //   E  correct  black 100, white 101                     continues F
  // Problem 2: black 300, white 301 set up; one correct line black 302, white 303.
  void RegisterTwoProblems() {
    RegisterProblem(1, {{1, false}, {20, true}});
    const int setUpEnd = Row();
    const int endOfA = RegisterLine(setUpEnd, {{2, true}, {40, false}}, false);
    RegisterLine(setUpEnd, {{22, true}, {41, false}}, true);
    RegisterLine(endOfA, {{60, true}, {61, false}}, false);
    RegisterLine(endOfA, {{80, true}, {81, false}}, true);
    const int endOfF = RegisterLine(setUpEnd, {{23, true}, {42, false}}, true);
    RegisterLine(endOfF, {{100, true}, {101, false}}, false);
    RegisterProblem(2, {{300, true}, {301, false}});
    RegisterLine(Row(), {{302, true}, {303, false}}, false);
    Press("N2");
  }

  // --- What the player does ----------------------------------------------------------------
  void Click(int point, bool black = true) {
    ASSERT_TRUE(tk_.DeliverMouseDown("Label" + std::to_string(point),
                                     black ? TMouseButton::Left : TMouseButton::Right,
                                     black ? ssLeft : ssRight, 0, 0));
  }
  void Press(const std::string& name) { ASSERT_TRUE(tk_.DeliverClick(name)); }
  void Tick() { tk_.DeliverTimer("Timer2"); }
  // A click on row `row` (1-based) of the problem list.
  void SelectProblemRow(int row) {
    module_.KuraQuery1.SetRecNo(row);
    ASSERT_TRUE(tk_.DeliverCellClick("DBGrid1"));
  }
  // Each move clicked in lesson mode, with the reply's tick after it.
  void PlayLesson(std::initializer_list<int> points) {
    for (int p : points) {
      Click(p);
      Tick();
    }
  }

  int Row() { return module_.KuraQuery2.Fields(tejun::kTNB).AsInteger(); }
  int ListedProblem() { return module_.KuraQuery1.Fields(mondai::kHNB).AsInteger(); }
  std::string Stone(int point) { return StoneShownAt(tk_, point); }
  std::string VerdictText() { return tk_.Control(kVerdictLabel).Text(); }
  void ExpectNoErrorBox() {
    for (const auto& box : tk_.Boxes()) EXPECT_NE(box.kind, TBoxKind::Error) << box.text;
  }

  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(SolvingWindowTest, TheEditorStoresTheSignOnTheFirstRowOfAWrongSequenceOnly) {
  RegisterTwoProblems();
  SelectProblemRow(1);
  std::vector<int> negative;
  kura::TKuraQuery& q = module_.KuraQuery2;
  for (q.First(); !q.Eof(); q.Next()) {
    if (q.Fields(tejun::kCOL).AsInteger() < 0)
      negative.push_back(q.Fields(tejun::kPST).AsInteger());
  }
  // The refuting replies 41, 81 and 42 are stored as plain white moves.
  EXPECT_EQ(negative, (std::vector<int>{22, 80, 23}));
  ExpectNoErrorBox();
}

TEST_F(SolvingWindowTest, EachLineIsJudgedByEverySequenceOnItsWay) {
  RegisterTwoProblems();
  const struct {
    const char* line;
    std::initializer_list<int> moves;
    int verdict;
  } cases[] = {
      {"the correct line to its end", {2, 60}, 1},
      {"a wrong move deeper in a correct line", {2, 80}, -1},
      {"a wrong first move and its reply", {22}, -1},
      {"a correct line continuing a wrong one", {23, 100}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    SelectProblemRow(1);
    PlayLesson(c.moves);
    EXPECT_EQ(tk_.StatusText(0), kPlayEnded);
    EXPECT_EQ(CurrentVerdict(), c.verdict);
    const std::string expected = c.verdict > 0 ? kCorrectVerdict : kWrongVerdict;
    EXPECT_EQ(tk_.StatusText(1), expected);
    EXPECT_EQ(VerdictText(), (c.verdict > 0 ? "○ " : "× ") + expected);
    EXPECT_EQ(tk_.Control(kVerdictLabel).FontColor(),
              c.verdict > 0 ? kCorrectColour : kWrongColour);
  }
  // The answer display ends with the verdict of the line it shows, here the only correct one.
  SelectProblemRow(2);
  Press("CuteButton7");
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(CurrentVerdict(), 1);
  ExpectNoErrorBox();
}

TEST_F(SolvingWindowTest, TheVerdictGoesWithThePositionItWasGivenFor) {
  RegisterTwoProblems();
  SelectProblemRow(1);
  PlayLesson({22});
  ASSERT_EQ(CurrentVerdict(), -1);

  // A click after the end is taken back at once: the position and the verdict stand.
  Click(200);
  EXPECT_EQ(tk_.StatusText(0), kPlayEndedAlready);
  EXPECT_EQ(Board[200], 0);
  EXPECT_EQ(CurrentVerdict(), -1);

  // Away and back by the keys, then the same number of moves on another line: no verdict.
  ASSERT_TRUE(tk_.DeliverKeyDown(TKey::Down));
  EXPECT_EQ(CurrentVerdict(), 0);
  ASSERT_TRUE(tk_.DeliverKeyDown(TKey::Up));
  ASSERT_EQ(CurrentProblem, 1);
  PlayLesson({2});
  ASSERT_EQ(MoveNumber, 2);
  EXPECT_EQ(tk_.StatusText(0), kGoOn);
  EXPECT_EQ(CurrentVerdict(), 0);
  EXPECT_EQ(VerdictText(), "");
  EXPECT_EQ(tk_.StatusText(1), "");

  // Reloading the same problem clears it too, and so does a move taken back.
  PlayLesson({60});
  ASSERT_EQ(CurrentVerdict(), 1);
  SelectProblemRow(1);
  EXPECT_EQ(CurrentVerdict(), 0);
  PlayLesson({2, 60});
  ASSERT_EQ(CurrentVerdict(), 1);
  Press("CuteButton9");
  EXPECT_EQ(CurrentVerdict(), 0);
  ExpectNoErrorBox();
}

TEST_F(SolvingWindowTest, TakingMovesBackRestoresWhatTheyCapturedAndWhatTheyCovered) {
  RegisterTwoProblems();
  SelectProblemRow(1);
  const auto setUp = Board;
  ASSERT_EQ(Board[1], 2);

  // The right first move captures the corner stone; taking it back brings the stone back, both
  // after the reply (a stored move taken back) and right after the move itself.
  PlayLesson({2});
  ASSERT_EQ(Board[1], 0);
  ASSERT_EQ(Board[40], 2);
  Press("CuteButton9");
  EXPECT_EQ(Board[40], 0);
  EXPECT_EQ(Board[1], 0) << "the reply captured nothing";
  Press("CuteButton9");
  EXPECT_EQ(Board, setUp);
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(Stone(2), "");

  // 1手進む offers the three first moves; the right one chosen, then taken back: the same.
  Press("CuteButton8");
  ASSERT_EQ(tk_.Control("Label2").Text(), kChoiceMark);
  Click(2);
  ASSERT_EQ(Board[1], 0);
  Press("CuteButton9");
  EXPECT_EQ(Board, setUp);
  EXPECT_EQ(Stone(1), "W");

  // Black played on the white set-up stone is no registered move: whether the player tries
  // again or asks for the registered moves, the white stone is back.
  for (TModalResult answer : {TModalResult::Yes, TModalResult::No}) {
    SCOPED_TRACE(answer == TModalResult::Yes ? "try again" : "show the registered moves");
    SelectProblemRow(1);
    tk_.AnswerNextConfirmations({answer});
    Click(1);
    EXPECT_EQ(Board, setUp);
    EXPECT_EQ(Stone(1), "W");
  }

  // Free play: a white stone played on the black one, then taken back.
  SelectProblemRow(1);
  Press("RadioButton3");
  tk_.AnswerNextConfirmations({TModalResult::Yes});  // replace the stone
  Click(20, false);
  ASSERT_EQ(Board[20], 2);
  Press("CuteButton9");
  EXPECT_EQ(Board, setUp);
  EXPECT_EQ(Stone(20), "B");
  ExpectNoErrorBox();
}

TEST_F(SolvingWindowTest, TheBoardFollowsTheProblemList) {
  RegisterTwoProblems();
  // Problem 2 gets categories on the edit screen; problem 1 has none.
  Press("N3");
  SelectProblemRow(2);
  tk_.Control("ComboBox1").SetItemIndex(1);
  tk_.Control("ComboBox2").SetItemIndex(1);
  Press("CuteButton12");
  Press("N2");

  // 問題検索 lists problem 2 only: the board shows it and the first click is answered.
  SelectProblemRow(1);
  ASSERT_EQ(CurrentProblem, 1);
  tk_.Control("ComboBox1").SetItemIndex(1);
  tk_.Control("ComboBox2").SetItemIndex(1);
  Press("CuteButton15");
  ASSERT_EQ(module_.KuraQuery1.RecordCount(), 1);
  EXPECT_EQ(CurrentProblem, 2);
  EXPECT_EQ(Stone(300), "B");
  EXPECT_EQ(Stone(1), "");
  Click(302);
  EXPECT_NE(tk_.StatusText(0), kPlayEndedAlready);
  EXPECT_TRUE(tk_.TimerEnabled("Timer2")) << "the reply is on its way";

  // 全問表示 goes back to the first row, and so does the board.
  Press("CuteButton16");
  EXPECT_EQ(ListedProblem(), 1);
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_EQ(Stone(1), "W");
  EXPECT_EQ(Stone(300), "");

  // A problem deleted on the edit screen: the board shows the row the list moves to, there and
  // back on the dojo screen.
  SelectProblemRow(2);
  Press("N3");
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton2");
  ASSERT_EQ(module_.KuraQuery1.RecordCount(), 1);
  EXPECT_EQ(CurrentProblem, ListedProblem());
  Press("N2");
  EXPECT_EQ(CurrentProblem, 1);
  PlayLesson({2});
  EXPECT_EQ(Board[40], 2);
  EXPECT_EQ(tk_.StatusText(0), kGoOn);

  // Searching for what no problem has empties the list and the board with it.
  tk_.Control("ComboBox1").SetItemIndex(2);
  Press("CuteButton15");
  ASSERT_EQ(module_.KuraQuery1.RecordCount(), 0);
  EXPECT_EQ(CurrentProblem, 0);
  EXPECT_EQ(Stone(1), "");
  ExpectNoErrorBox();
}

}  // namespace
}  // namespace goramina
