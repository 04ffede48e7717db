#include "app/window/main_form.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/collection_test_values.h"
#include "app/collection/data_module.h"
#include "app/collection/field_text.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

using kura::TFieldValue;

// The window on the headless toolkit over an in-memory collection the test fills.
class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk_.SetProgramDir(std::string(GORAMINA_APP_DIR) + "/");
    tk_.SetNow(TDateTime{2026, 12, 8, 21, 5, 0});
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
  }
  void TearDown() override { SetMainUnit(nullptr, nullptr, nullptr); }

  void AddProblem(int mnb, int hnb, std::string_view comment, std::string_view hint) {
    database_->AppendRow(
        "mondai",
        {Int(mnb), Int(hnb), Text("活きる"), Text("ハネ"), {}, Text(comment), Text(hint)});
  }
  // Problem `hnb`: black stones on points 1 and 2 and white on 20, then one answer 21 / 40.
  // The columns: TNB, TES, COL, PST, BFR, BTO.
  void AddSmallProblem(int mnb, int hnb, std::string_view comment) {
    AddProblem(mnb, hnb, comment, "ヒント" + std::to_string(hnb));
    const int rows[][6] = {{1, 0, 1, 1, 0, 9999},
                           {2, 0, 1, 2, 0, 0},
                           {3, 0, 2, 20, 1, 0},
                           {4, 1, 1, 21, 0, 1},
                           {5, 2, 2, 40, 2, 0}};
    for (const auto& r : rows) {
      database_->AppendRow(
          "tejun",
          {Int(r[0]), Int(hnb), Int(r[1]), Int(r[2]), Int(r[3]), Int(r[4]), Int(r[5]), {}});
    }
  }

  void Start() {
    CreateMainForm(tk_);
    tk_.Run();
  }

  TControl& C(const std::string& name) { return tk_.Control(name); }

  std::string CurrentComment() { return FieldText(module_.KuraQuery1.Fields(mondai::kCMT)); }

  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(MainFormTest, StartsOnTheDojoScreenWithTheLowestProblemDrawn) {
  AddSmallProblem(7, 5, "五番");
  AddSmallProblem(3, 2, "二番");
  Start();

  EXPECT_EQ(tk_.Title(), "ゴラミナ");
  EXPECT_EQ(ScreenKind, 1);
  EXPECT_EQ(PlayMode, 1);
  EXPECT_EQ(C("Label364").Text(), "道場画面");
  EXPECT_EQ(C("CuteButton13").Text(), "ヒント表示");
  EXPECT_EQ(C("ComboBox1").Text(), "全て");
  EXPECT_EQ(C("ComboBox2").Text(), "全て");
  EXPECT_EQ(C("ComboBox3").Text(), "記号");
  EXPECT_TRUE(C("RadioButton1").Checked());

  // The list is in HNB order, renumbered 1..n, and the first row is loaded.
  EXPECT_EQ(CurrentProblem, 2);
  EXPECT_EQ(module_.KuraQuery1.RecNo(), 1);
  EXPECT_EQ(module_.KuraQuery1.Fields(mondai::kMNB).AsInteger(), 1);
  EXPECT_EQ(Board[1], 1);
  EXPECT_EQ(Board[2], 1);
  EXPECT_EQ(Board[20], 2);
  EXPECT_TRUE(C("Image20").HasPicture());
  EXPECT_EQ(Board[21], 0);

  EXPECT_EQ(tk_.StatusText(2), "12/08  09:05 PM");
  EXPECT_EQ(tk_.HelpFile(), std::string(GORAMINA_APP_DIR) + "/ゴラミナ.html");
}

TEST_F(MainFormTest, AnEmptyListStillStartsOnTheDojoScreen) {
  Start();
  EXPECT_EQ(ScreenKind, 1);
  EXPECT_EQ(CurrentProblem, 0);
  for (int p = 1; p <= kPointCount; ++p) {
    ASSERT_EQ(Board[p], 0) << p;
    ASSERT_FALSE(C("Image" + std::to_string(p)).HasPicture()) << p;
  }
  EXPECT_TRUE(tk_.Boxes().empty());
  // No row to put a mark on: choosing one changes nothing and raises nothing.
  C("ComboBox3").TakeUserItemIndex(1);
  EXPECT_TRUE(tk_.DeliverChange("ComboBox3"));
  EXPECT_TRUE(tk_.Boxes().empty());
}

// Each control's state on both screens: visible, and where given, top, left and height.
struct TScreenPlace {
  const char* name;
  bool dojoVisible;
  int dojoTop;  // 0: not checked
  bool editVisible;
  int editTop;
};

TEST_F(MainFormTest, TheMenuSwitchesBetweenTheTwoScreenLayouts) {
  AddSmallProblem(1, 1, "一番");
  Start();
  const TScreenPlace places[] = {
      {"DBGrid1", true, 55, true, 55},        {"DBGrid2", false, 0, true, 280},
      {"DBEdit1", false, 0, true, 184},       {"DBEdit2", true, 442, true, 418},
      {"CuteButton1", false, 0, true, 446},   {"CuteButton2", false, 0, true, 446},
      {"CuteButton3", false, 0, true, 475},   {"CuteButton4", false, 0, true, 446},
      {"CuteButton5", false, 0, true, 475},   {"CuteButton6", false, 0, true, 475},
      {"CuteButton7", true, 472, false, 0},   {"CuteButton8", true, 472, true, 504},
      {"CuteButton9", true, 472, true, 504},  {"CuteButton10", true, 472, true, 504},
      {"CuteButton12", false, 0, true, 211},  {"CuteButton13", true, 34, false, 0},
      {"CuteButton14", false, 0, true, 446},  {"CuteButton15", true, 382, true, 235},
      {"CuteButton16", true, 412, true, 211}, {"Label362", true, 445, true, 420},
      {"Label367", true, 385, true, 214},     {"Label368", true, 415, true, 238},
      {"ComboBox1", true, 382, true, 211},    {"ComboBox2", true, 412, true, 235},
      {"ComboBox3", true, 504, false, 0},     {"GroupBox1", true, 499, false, 0},
  };
  const auto check = [&](bool dojo) {
    for (const TScreenPlace& p : places) {
      SCOPED_TRACE(std::string(p.name) + (dojo ? " on the dojo screen" : " on the edit screen"));
      EXPECT_EQ(C(p.name).Visible(), dojo ? p.dojoVisible : p.editVisible);
      const int top = dojo ? p.dojoTop : p.editTop;
      if (top != 0) {
        EXPECT_EQ(C(p.name).Top(), top);
      }
    }
  };
  check(true);
  EXPECT_EQ(C("DBGrid1").Height(), 310);
  EXPECT_FALSE(C("CuteButton1").Enabled());

  ASSERT_TRUE(tk_.DeliverClick("N3"));
  EXPECT_EQ(ScreenKind, 2);
  EXPECT_EQ(C("Label364").Text(), "編集画面");
  EXPECT_EQ(C("Label365").Text(), "ヒント入力");
  check(false);
  EXPECT_EQ(C("DBGrid1").Height(), 122);
  EXPECT_EQ(C("DBGrid2").Height(), 122);
  EXPECT_EQ(C("Label365").Top(), 187);
  EXPECT_EQ(C("Label369").Top(), 267);
  // The edit screen shows 問題登録 but leaves its enabled state to the editing steps.
  EXPECT_FALSE(C("CuteButton1").Enabled());

  ASSERT_TRUE(tk_.DeliverClick("N2"));
  EXPECT_EQ(ScreenKind, 1);
  EXPECT_EQ(C("Label364").Text(), "道場画面");
  EXPECT_EQ(C("Label365").Text(), "ヒント");
  check(true);
  EXPECT_EQ(C("DBGrid1").Height(), 310);
  // The dojo layout does not move these two: they keep the edit screen's places.
  EXPECT_EQ(C("Label365").Top(), 187);
  EXPECT_EQ(C("Label369").Top(), 267);
  // Switching screens leaves the board alone.
  EXPECT_EQ(Board[20], 2);
}

TEST_F(MainFormTest, TheDojoScreenResetsThePlayModeButNotTheRadioButtons) {
  AddSmallProblem(1, 1, "一番");
  Start();
  ASSERT_TRUE(tk_.DeliverClick("RadioButton3"));
  EXPECT_EQ(PlayMode, 3);
  ASSERT_TRUE(tk_.DeliverClick("RadioButton2"));
  EXPECT_EQ(PlayMode, 2);
  C("RadioButton3").TakeUserChecked();

  tk_.DeliverClick("N3");
  EXPECT_EQ(PlayMode, 2) << "the edit screen keeps the play mode";
  tk_.DeliverClick("N2");
  EXPECT_EQ(PlayMode, 1);
  EXPECT_TRUE(C("RadioButton3").Checked());
  EXPECT_FALSE(C("RadioButton1").Checked());
}

TEST_F(MainFormTest, ExitAsksFirstAndNoLeavesEverythingAsItWas) {
  AddSmallProblem(1, 1, "一番");
  Start();
  tk_.AnswerNextConfirmations({TModalResult::No});
  ASSERT_TRUE(tk_.DeliverClick("Apriend"));
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].kind, TBoxKind::Confirmation);
  EXPECT_EQ(tk_.Boxes()[0].text, "「ゴラミナ」を終了していいですか？");
  EXPECT_FALSE(tk_.Terminated());
  EXPECT_EQ(ScreenKind, 1);
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_TRUE(module_.KuraQuery1.Active());

  tk_.AnswerNextConfirmations({TModalResult::Yes});
  tk_.DeliverClick("Apriend");
  EXPECT_TRUE(tk_.Terminated());
}

TEST_F(MainFormTest, VersionBoxHelpAndClock) {
  Start();
  tk_.DeliverClick("Vinfo");
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].kind, TBoxKind::Information);
  EXPECT_EQ(tk_.Boxes()[0].text, "ゴラミナ\r\nVersion 3.6");

  tk_.DeliverClick("Allhelp");
  EXPECT_EQ(tk_.HelpOpenCount(), 1);

  // Morning, midnight and noon on the 12-hour clock.
  const struct {
    TDateTime now;
    const char* text;
  } clocks[] = {{{2027, 1, 3, 9, 7, 59}, "01/03  09:07 AM"},
                {{2027, 1, 3, 0, 0, 0}, "01/03  12:00 AM"},
                {{2027, 1, 3, 12, 30, 0}, "01/03  12:30 PM"}};
  for (const auto& c : clocks) {
    tk_.SetNow(c.now);
    ASSERT_TRUE(tk_.DeliverTimer("Timer1"));
    EXPECT_EQ(tk_.StatusText(2), c.text);
  }
}

TEST_F(MainFormTest, ListAndSearchButtonsRenumberAndResetTheSelectors) {
  AddSmallProblem(1, 1, "一番");
  database_->AppendRow(
      "mondai", {Int(2), Int(3), Text("石を取る"), Text("アテ"), {}, Text("三番"), Text("")});
  AddSmallProblem(3, 4, "四番");
  Start();

  C("ComboBox1").SetItemIndex(2);  // 石を取る
  ASSERT_TRUE(tk_.DeliverClick("CuteButton15"));
  EXPECT_EQ(module_.KuraQuery1.RecordCount(), 1);
  EXPECT_EQ(module_.KuraQuery1.Fields(mondai::kHNB).AsInteger(), 3);
  EXPECT_EQ(module_.KuraQuery1.Fields(mondai::kMNB).AsInteger(), 1);

  // A selector showing no item searches as 全て.
  C("ComboBox1").SetItemIndex(-1);
  tk_.DeliverClick("CuteButton15");
  EXPECT_EQ(C("ComboBox1").Text(), "全て");
  EXPECT_EQ(module_.KuraQuery1.RecordCount(), 3);

  // 全問表示 puts both selectors back to 全て and numbers the whole list again.
  C("ComboBox2").SetItemIndex(5);
  ASSERT_TRUE(tk_.DeliverClick("CuteButton16"));
  EXPECT_EQ(C("ComboBox1").ItemIndex(), 0);
  EXPECT_EQ(C("ComboBox2").ItemIndex(), 0);
  std::vector<int> mnb;
  for (module_.KuraQuery1.First(); !module_.KuraQuery1.Eof(); module_.KuraQuery1.Next()) {
    mnb.push_back(module_.KuraQuery1.Fields(mondai::kMNB).AsInteger());
  }
  EXPECT_EQ(mnb, (std::vector<int>{1, 2, 3}));
  // The board shows the list's current row, the first problem again.
  EXPECT_EQ(CurrentProblem, 1);
}

TEST_F(MainFormTest, AMarkIsStoredWithoutTheHintThatStandsInTheComment) {
  AddSmallProblem(1, 1, "一番のコメント");
  Start();
  ASSERT_TRUE(tk_.DeliverClick("CuteButton13"));  // the hint now shows in the comment column
  C("ComboBox3").TakeUserItemIndex(2);            // △
  ASSERT_TRUE(tk_.DeliverChange("ComboBox3"));
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
  EXPECT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kMRK)), "△");
  EXPECT_EQ(CurrentComment(), "一番のコメント");

  C("ComboBox3").TakeUserItemIndex(0);  // なし
  tk_.DeliverChange("ComboBox3");
  EXPECT_TRUE(module_.KuraQuery1.Fields(mondai::kMRK).AsString().empty());
}

TEST_F(MainFormTest, TheEditScreenPutsAwayAShownHint) {
  AddSmallProblem(1, 1, "一番のコメント");
  Start();
  ASSERT_TRUE(tk_.DeliverClick("CuteButton13"));
  ASSERT_EQ(CurrentComment(), "ヒント1");
  ASSERT_TRUE(tk_.DeliverClick("N3"));
  EXPECT_EQ(HintShown, 0);
  EXPECT_EQ(CurrentComment(), "一番のコメント");
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
  EXPECT_EQ(C("CuteButton13").Text(), "ヒント表示");
}

TEST_F(MainFormTest, ClearAndSequenceListClicks) {
  AddSmallProblem(1, 1, "一番");
  Start();
  ASSERT_TRUE(tk_.DeliverClick("CuteButton11"));
  EXPECT_EQ(Board[20], 0);
  EXPECT_FALSE(C("Image20").HasPicture());

  // A click on a row of the sequence list redraws the path to it and forgets the history.
  tk_.DeliverClick("N3");
  module_.KuraQuery2.Last();
  ASSERT_TRUE(tk_.DeliverCellClick("DBGrid2"));
  EXPECT_EQ(Board[20], 2);
  EXPECT_EQ(Board[21], 1);
  EXPECT_EQ(Board[40], 2);
  EXPECT_EQ(HistoryTop, 0);
}

}  // namespace
}  // namespace goramina
