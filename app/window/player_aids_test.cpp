// The player's aids on the headless window: keys, the verdict at the end of a line, the side to
// move, the ring on the last move and the coordinates' menu item.
#include "app/trainer/player_aids.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/collection_test_values.h"
#include "app/collection/data_module.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "app/window/main_form.h"
#include "dataset/cp932.h"
#include "dataset/memory_database.h"

namespace goramina {
namespace {

using kura::TFieldValue;

// Rows of `tejun`: TNB, TES, COL, PST, BFR, BTO.
struct TRow {
  int tnb, tes, col, pst, bfr, bto;
};

class PlayerAidsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk_.SetProgramDir(std::string(GORAMINA_APP_DIR) + "/");
    tk_.SetNow(TDateTime{2026, 12, 8, 21, 5, 0});
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
  }
  void TearDown() override { SetMainUnit(nullptr, nullptr, nullptr); }

  void AddProblem(int hnb, std::initializer_list<TRow> rows) {
    database_->AppendRow("mondai", {Int(hnb),
                                    Int(hnb),
                                    Text("活きる"),
                                    Text("ハネ"),
                                    {},
                                    Text("問題" + std::to_string(hnb)),
                                    Text("ヒント")});
    for (const TRow& r : rows) {
      database_->AppendRow(
          "tejun",
          {Int(r.tnb), Int(hnb), Int(r.tes), Int(r.col), Int(r.pst), Int(r.bfr), Int(r.bto), {}});
    }
  }
  // Set-up: black 1, 2, white 20. A correct line 21 / 40 (label 2) and a refutation 22 / 41
  // (label 3), both continuing the set-up (label 1). As the editor and the SGF import store a
  // wrong sequence, only its first row is negative.
  void AddTwoLineProblem(int hnb) {
    AddProblem(hnb, {{1, 0, 1, 1, 0, 9999},
                     {2, 0, 1, 2, 0, 0},
                     {3, 0, 2, 20, 1, 0},
                     {4, 1, 1, 21, 0, 1},
                     {5, 2, 2, 40, 2, 0},
                     {6, 1, -1, 22, 0, 1},
                     {7, 2, 2, 41, 3, 0}});
  }
  // The same set-up with the correct line only.
  void AddOneLineProblem(int hnb) {
    AddProblem(hnb, {{1, 0, 1, 1, 0, 9999},
                     {2, 0, 1, 2, 0, 0},
                     {3, 0, 2, 20, 1, 0},
                     {4, 1, 1, 21, 0, 1},
                     {5, 2, 2, 40, 2, 0}});
  }

  void Start() {
    CreateMainForm(tk_);
    tk_.Run();
  }
  void Click(int point) {
    ASSERT_TRUE(
        tk_.DeliverMouseDown("Label" + std::to_string(point), TMouseButton::Left, ssLeft, 0, 0));
  }
  void Tick() { tk_.DeliverTimer("Timer2"); }
  TControl& C(const std::string& name) { return tk_.Control(name); }
  // The point the last-move ring surrounds, or 0 when it is hidden.
  int RingPoint() {
    TControl& ring = C(kLastMoveMark);
    if (!ring.Visible()) return 0;
    const int column = (ring.Left() + ring.Width() / 2 - kBoardOrigin) / kCellPixels;
    const int row = (ring.Top() + ring.Height() / 2 - kBoardOrigin) / kCellPixels;
    return PointAt(column, row);
  }

  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(PlayerAidsTest, EachKeyDoesWhatItsButtonDoes) {
  AddOneLineProblem(1);
  AddOneLineProblem(2);
  Start();
  ASSERT_EQ(CurrentProblem, 1);

  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Down));
  EXPECT_EQ(CurrentProblem, 2);
  EXPECT_FALSE(tk_.DeliverKeyDown(TKey::PageDown)) << "the last problem has no next";
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::PageUp));
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::PageDown));
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Up));
  EXPECT_EQ(CurrentProblem, 1);

  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Right));  // 1手進む
  EXPECT_EQ(MoveNumber, 1);
  EXPECT_EQ(Board[21], 1);
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Left));  // １手戻す
  EXPECT_EQ(Board[21], 0);

  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::H));  // ヒント表示
  EXPECT_EQ(HintShown, 1);
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::H));
  EXPECT_EQ(HintShown, 0);

  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::A));  // 解答表示
  EXPECT_EQ(Board[21], 1);

  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Backspace));  // １手順戻す
  EXPECT_FALSE(tk_.DeliverKeyDown(TKey::Other));
}

TEST_F(PlayerAidsTest, KeysBelongToATextFieldThatHasTheFocus) {
  AddOneLineProblem(1);
  AddOneLineProblem(2);
  Start();
  for (const char* field : {"DBEdit2", "ComboBox1", "ComboBox3"}) {
    SCOPED_TRACE(field);
    tk_.SetFocusedControl(field);
    for (TKey key : {TKey::Left, TKey::Right, TKey::Up, TKey::Down, TKey::PageUp, TKey::PageDown,
                     TKey::Backspace, TKey::H, TKey::A}) {
      EXPECT_FALSE(tk_.DeliverKeyDown(key));
    }
    EXPECT_EQ(CurrentProblem, 1);
    EXPECT_EQ(MoveNumber, 0);
    EXPECT_EQ(HintShown, 0);
  }
  tk_.SetFocusedControl("CuteButton8");  // a button is no text field
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Down));
  EXPECT_EQ(CurrentProblem, 2);
}

TEST_F(PlayerAidsTest, KeysOfButtonsHiddenOnTheEditScreenDoNothingThere) {
  AddOneLineProblem(1);
  Start();
  ASSERT_TRUE(tk_.DeliverClick("N3"));
  EXPECT_FALSE(tk_.DeliverKeyDown(TKey::H));
  EXPECT_FALSE(tk_.DeliverKeyDown(TKey::A));
  EXPECT_EQ(HintShown, 0);
  EXPECT_EQ(Board[21], 0);
  EXPECT_TRUE(tk_.DeliverKeyDown(TKey::Right)) << "1手進む is on both screens";
}

TEST_F(PlayerAidsTest, AnsweringTheProblemRightEndsWithTheCorrectVerdict) {
  AddTwoLineProblem(1);
  Start();
  EXPECT_EQ(CurrentVerdict(), 0);
  EXPECT_EQ(C(kVerdictLabel).Text(), "");
  Click(21);
  EXPECT_EQ(CurrentVerdict(), 0) << "the reply is still to come";
  Tick();
  EXPECT_EQ(tk_.StatusText(0), " 登録手順は終了です。");
  EXPECT_EQ(CurrentVerdict(), 1);
  EXPECT_EQ(tk_.StatusText(1), kCorrectVerdict);
  EXPECT_EQ(C(kVerdictLabel).Text(), std::string("○ ") + kCorrectVerdict);
  EXPECT_EQ(C(kVerdictLabel).FontColor(), kCorrectColour);

  // Taking the reply back leaves the end of the line: the verdict goes.
  ASSERT_TRUE(tk_.DeliverClick("CuteButton9"));
  EXPECT_EQ(CurrentVerdict(), 0);
  EXPECT_EQ(tk_.StatusText(1), "");
  EXPECT_EQ(C(kVerdictLabel).Text(), "");
}

TEST_F(PlayerAidsTest, ARefutationEndsWithTheWrongVerdict) {
  AddTwoLineProblem(1);
  Start();
  Click(22);
  Tick();
  EXPECT_EQ(Board[41], 2);
  EXPECT_EQ(CurrentVerdict(), -1);
  EXPECT_EQ(tk_.StatusText(1), kWrongVerdict);
  EXPECT_EQ(C(kVerdictLabel).Text(), std::string("× ") + kWrongVerdict);
  EXPECT_EQ(C(kVerdictLabel).FontColor(), kWrongColour);

  // Another problem starts without a verdict.
  ASSERT_TRUE(tk_.DeliverCellClick("DBGrid1"));
  EXPECT_EQ(CurrentVerdict(), 0);
}

TEST_F(PlayerAidsTest, TheAnswerDisplayEndsWithTheVerdictOfTheLineShown) {
  AddOneLineProblem(1);
  Start();
  ASSERT_TRUE(tk_.DeliverClick("CuteButton7"));
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_EQ(Board[40], 2);
  EXPECT_EQ(CurrentVerdict(), 1);
  // The edit screen shows no verdict.
  ASSERT_TRUE(tk_.DeliverClick("N3"));
  EXPECT_FALSE(C(kVerdictLabel).Visible());
  EXPECT_EQ(CurrentVerdict(), 0);
}

TEST_F(PlayerAidsTest, SideToMoveAndTheRingFollowThePlay) {
  AddTwoLineProblem(1);
  Start();
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kBlackToPlay);
  EXPECT_TRUE(C(kSideToMoveLabel).Visible());
  EXPECT_EQ(RingPoint(), 0) << "set-up stones are no moves";

  Click(21);
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kWhiteToPlay);
  EXPECT_EQ(RingPoint(), 21);
  Tick();
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kBlackToPlay);
  EXPECT_EQ(RingPoint(), 40);

  ASSERT_TRUE(tk_.DeliverClick("CuteButton9"));  // the reply taken back
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kWhiteToPlay);
  EXPECT_EQ(RingPoint(), 21);
  ASSERT_TRUE(tk_.DeliverClick("CuteButton9"));  // and the move
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kBlackToPlay);
  EXPECT_EQ(RingPoint(), 0);

  // Free play: the ring is on the user's own last stone.
  ASSERT_TRUE(tk_.DeliverClick("RadioButton3"));
  ASSERT_TRUE(tk_.DeliverMouseDown("Label100", TMouseButton::Right, ssRight, 0, 0));
  EXPECT_EQ(RingPoint(), 100);
  EXPECT_EQ(C(kSideToMoveLabel).Text(), kBlackToPlay);
}

TEST_F(PlayerAidsTest, TheCoordinatesItemTogglesTheMarginAndIsRemembered) {
  AddOneLineProblem(1);
  Start();
  EXPECT_EQ(C(ColumnCoordinateName(0)).Text(), "A");
  EXPECT_EQ(C(ColumnCoordinateName(8)).Text(), "J") << "no I on a Go board";
  EXPECT_EQ(C(ColumnCoordinateName(18)).Text(), "T");
  EXPECT_EQ(C(RowCoordinateName(0)).Text(), "19");
  EXPECT_EQ(C(RowCoordinateName(18)).Text(), "1");
  EXPECT_TRUE(tk_.MenuChecked(kCoordinatesItem));
  EXPECT_TRUE(C(ColumnCoordinateName(3)).Visible());

  ASSERT_TRUE(tk_.DeliverClick(kCoordinatesItem));
  EXPECT_FALSE(tk_.MenuChecked(kCoordinatesItem));
  for (int k = 0; k < kBoardSize; ++k) {
    EXPECT_FALSE(C(ColumnCoordinateName(k)).Visible());
    EXPECT_FALSE(C(RowCoordinateName(k)).Visible());
  }
  EXPECT_EQ(tk_.ReadSetting(kCoordinatesSetting, ""), "0");
  ASSERT_TRUE(tk_.DeliverClick(kCoordinatesItem));
  EXPECT_TRUE(C(RowCoordinateName(5)).Visible());
  EXPECT_EQ(tk_.ReadSetting(kCoordinatesSetting, ""), "1");
}

TEST_F(PlayerAidsTest, AWindowStartsWithTheCoordinatesAsLastLeft) {
  AddOneLineProblem(1);
  tk_.WriteSetting(kCoordinatesSetting, "0");
  Start();
  EXPECT_FALSE(tk_.MenuChecked(kCoordinatesItem));
  EXPECT_FALSE(C(ColumnCoordinateName(0)).Visible());
}

TEST(PointName, ColumnsSkipIAndRowsCountFromTheBottom) {
  const struct {
    int point;
    const char* name;
  } cases[] = {{1, "A19"},  {19, "A1"},   {20, "B19"}, {8 * 19 + 1, "J19"},
               {361, "T1"}, {181, "K10"}, {0, "?"},    {362, "?"}};
  for (const auto& c : cases) EXPECT_EQ(PointName(c.point), c.name) << c.point;
}

}  // namespace
}  // namespace goramina
