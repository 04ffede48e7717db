// The edit screen on the headless toolkit and an in-memory collection: registering problems and
// sequences from clicks, deleting sequence trees and problems, and the refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/editor/editing.h"
#include "app/trainer/trainer_test_fixture.h"

namespace goramina {
namespace {

using ::testing::ElementsAre;

// One tejun row as stored, without its comment.
struct TRow {
  int TNB, HNB, TES, COL, PST, BFR, BTO;
  bool operator==(const TRow&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TRow& r) {
  return out << "{" << r.TNB << " " << r.HNB << " " << r.TES << " " << r.COL << " " << r.PST << " "
             << r.BFR << " " << r.BTO << "}";
}

class EditingTest : public TrainerFixture {
 protected:
  void SetUp() override {
    TrainerFixture::SetUp();
    ConnectEditorHandlers();
  }

  // The edit screen as the menu shows it, on the problem list as start-up leaves it.
  void StartEditing() {
    Start();
    ScreenKind = 2;
    tk_.ClearRecords();
  }

  void ConnectEditorHandlers() {
    const std::vector<std::pair<const char*, void (*)()>> buttons = {
        {"CuteButton1", CuteButton1Click},   {"CuteButton2", CuteButton2Click},
        {"CuteButton3", CuteButton3Click},   {"CuteButton4", CuteButton4Click},
        {"CuteButton5", CuteButton5Click},   {"CuteButton6", CuteButton6Click},
        {"CuteButton12", CuteButton12Click}, {"CuteButton14", CuteButton14Click}};
    for (const auto& [name, handler] : buttons)
      tk_.OnClick(name, [handler](const std::string&) { handler(); });
  }

  // A row of the problem grid selected as a click on DBGrid2 does.
  void SelectSequenceRow(int tnb) {
    GoToRow(tnb);
    ShowSequencePath();
    ClearHistory();
  }

  // The tejun rows of problem `hnb` as stored, in table order.
  std::vector<TRow> StoredRows(int hnb) {
    std::vector<TRow> rows;
    for (const kura::TRecord& r : database_->Rows("tejun")) {
      auto at = [&](int field) { return static_cast<int>(r[field].Integer); };
      if (at(tejun::kHNB) != hnb) continue;
      rows.push_back({at(tejun::kTNB), at(tejun::kHNB), at(tejun::kTES), at(tejun::kCOL),
                      at(tejun::kPST), at(tejun::kBFR), at(tejun::kBTO)});
    }
    return rows;
  }
  std::vector<int> StoredProblemNumbers() {
    std::vector<int> numbers;
    for (const kura::TRecord& r : database_->Rows("mondai"))
      numbers.push_back(static_cast<int>(r[mondai::kHNB].Integer));
    return numbers;
  }

  // 登録要求 with the problem number typed into the new row.
  void RequestRegistration(int number) {
    Press("CuteButton4");
    module_.KuraQuery1.Fields(mondai::kHNB).SetAsInteger(number);
  }

  bool Enabled(const std::string& name) { return tk_.Control(name).Enabled(); }
};

TEST_F(EditingTest, RegistersAProblemThenAWrongSequenceThenAnAlternative) {
  StartEditing();
  RequestRegistration(1);
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].text, "最小の空番は 1番です");
  EXPECT_EQ(StatusText(), "問題図を並べ、問題リストに入力してください。");
  EXPECT_EQ(Registering, 1);
  EXPECT_TRUE(Enabled("CuteButton1"));
  for (const char* name :
       {"CuteButton2", "CuteButton3", "CuteButton4", "CuteButton5", "CuteButton6"})
    EXPECT_FALSE(Enabled(name)) << name;

  // A sequence cannot be registered in the middle of a problem registration.
  Click(41);
  Click(42, TMouseButton::Right);
  Click(60);
  RegisterSequence(1);
  EXPECT_EQ(StatusText(), "問題登録をクリックしてください。");
  EXPECT_TRUE(StoredRows(1).empty());

  tk_.ClearRecords();
  Press("CuteButton1");
  EXPECT_THAT(StoredRows(1), ElementsAre(TRow{1, 1, 0, 1, 41, 0, 9999}, TRow{2, 1, 0, 2, 42, 0, 0},
                                         TRow{3, 1, 0, 1, 60, 1, 0}));
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1));
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_EQ(Registering, 0);
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(Row(), 3);  // the set-up's last row: the next sequence starts after the set-up
  EXPECT_EQ(StatusText(), "登録しました。");
  EXPECT_THAT(Sounds(), ElementsAre("Oto1.wav"));
  EXPECT_FALSE(Enabled("CuteButton1"));
  EXPECT_TRUE(Enabled("CuteButton5"));
  EXPECT_EQ(module_.KuraQuery1.Fields(mondai::kMNB).AsInteger(), 1);

  // A wrong sequence of two moves: rows 4..5, the first colour negative, its number red.
  Click(100);
  Click(101, TMouseButton::Right);
  Press("CuteButton6");
  EXPECT_THAT(StoredRows(1), ElementsAre(TRow{1, 1, 0, 1, 41, 0, 9999}, TRow{2, 1, 0, 2, 42, 0, 0},
                                         TRow{3, 1, 0, 1, 60, 1, 0}, TRow{4, 1, 1, -1, 100, 0, 1},
                                         TRow{5, 1, 2, 2, 101, 2, 0}));
  EXPECT_EQ(Label(100).FontColor(), kWrongNumberOnBlack);
  EXPECT_EQ(Row(), 5);
  EXPECT_EQ(HistoryTop, 0);
  EXPECT_EQ(MoveNumber, 2);
  EXPECT_EQ(ColourToPlay, 1);

  // An alternative to it, chosen through the sequence grid at the set-up's end.
  SelectSequenceRow(3);
  EXPECT_EQ(MoveNumber, 0);
  Click(120);
  Press("CuteButton5");
  EXPECT_EQ(StoredRows(1).back(), (TRow{6, 1, 1, 1, 120, 3, 1}));
  // Registering again right away continues the sequence just stored.
  Click(121, TMouseButton::Right);
  Press("CuteButton5");
  EXPECT_EQ(StoredRows(1).back(), (TRow{7, 1, 2, 2, 121, 4, 3}));
  EXPECT_EQ(Row(), 7);

  // The problem loads back as registered: the set-up without numbers.
  LoadProblem();
  EXPECT_EQ(Stone(41), "B");
  EXPECT_EQ(Stone(42), "W");
  EXPECT_EQ(Stone(100), "");
  EXPECT_EQ(Row(), 3);
}

TEST_F(EditingTest, ProblemRegistrationRefusesWhatWouldSpoilTheTables) {
  AddProblem(2);
  AddRow(2, 0, 1, 10, 0, 9999);
  AddRow(2, 0, 2, 11, 1, 0);
  AddProblem(5);  // listed, but no set-up stored yet
  StartEditing();

  // No stone on the board.
  RequestRegistration(3);
  tk_.ClearRecords();
  Press("CuteButton1");
  ASSERT_EQ(tk_.Boxes().size(), 1u);
  EXPECT_EQ(tk_.Boxes()[0].kind, TBoxKind::Message);
  EXPECT_EQ(tk_.Boxes()[0].text, "問題図を並べてください");
  EXPECT_EQ(Registering, 1);

  // A number already carrying a set-up, or already in the list, would merge two problems; no
  // number at all would hide the problem from every list.
  Click(50);
  struct Case {
    int number;
    const char* message;
  } const kCases[] = {{2, "個番 2 の問題は既に登録されています"},
                      {5, "個番 5 の問題は既に登録されています"},
                      {0, "個番を入力してください"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.number);
    module_.KuraQuery1.Fields(mondai::kHNB).SetAsInteger(c.number);
    tk_.ClearRecords();
    Press("CuteButton1");
    ASSERT_EQ(tk_.Boxes().size(), 1u);
    EXPECT_EQ(tk_.Boxes()[0].text, c.message);
    EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsInsert);
    EXPECT_EQ(StoredRows(2).size(), 2u);
    EXPECT_EQ(Registering, 1);
  }

  // Fixed, the registration goes through with the stone still on the board.
  module_.KuraQuery1.Fields(mondai::kHNB).SetAsInteger(3);
  Press("CuteButton1");
  EXPECT_THAT(StoredRows(3), ElementsAre(TRow{1, 3, 0, 1, 50, 1, 9999}));
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(2, 5, 3));  // in append order
}

TEST_F(EditingTest, SetUpKeepsOnlyTheStonesLeftOnTheBoard) {
  StartEditing();
  RequestRegistration(4);
  Click(1);
  Click(2);  // removed by hand below
  Click(3);  // clicked over with white below
  Click(2, TMouseButton::Left, ssShift | ssLeft);
  Click(3, TMouseButton::Right);
  Click(20);
  Press("CuteButton1");
  EXPECT_THAT(StoredRows(4), ElementsAre(TRow{1, 4, 0, 1, 1, 0, 9999}, TRow{2, 4, 0, 2, 3, 0, 0},
                                         TRow{3, 4, 0, 1, 20, 1, 0}));
}

TEST_F(EditingTest, CancelDropsTheNewProblemRow) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 1, 9999);
  StartEditing();
  const int shown = module_.KuraQuery1.DisplayRowCount();
  RequestRegistration(5);
  Click(30);
  EXPECT_EQ(module_.KuraQuery1.DisplayRowCount(), shown + 1);

  Press("CuteButton14");
  EXPECT_EQ(module_.KuraQuery1.DisplayRowCount(), shown);
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1));
  EXPECT_EQ(Registering, 0);
  EXPECT_EQ(Stone(30), "");
  EXPECT_FALSE(Enabled("CuteButton1"));
  EXPECT_TRUE(Enabled("CuteButton4"));
}

TEST_F(EditingTest, NothingOfAHalfTypedNewRowIsStoredWithoutRegistering) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 1, 9999);
  AddProblem(2);
  AddRow(2, 0, 1, 11, 1, 9999);
  StartEditing();
  const int shown = module_.KuraQuery1.DisplayRowCount();

  // Another row of the problem list clicked while the new row is half typed (with or without
  // its number): the new row is dropped, the registration ends, and the clicked problem loads.
  for (int number : {7, 0}) {
    SCOPED_TRACE(number);
    RequestRegistration(number);
    SetFieldText(module_.KuraQuery1.Fields(mondai::kCMT), "途中");
    Click(30);
    SelectProblem(2);
    EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1, 2));
    EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
    EXPECT_EQ(module_.KuraQuery1.DisplayRowCount(), shown);
    EXPECT_EQ(Registering, 0);
    EXPECT_EQ(CurrentProblem, 2);
    EXPECT_EQ(Stone(30), "");
    EXPECT_EQ(Stone(11), "B");
    EXPECT_FALSE(Enabled("CuteButton1"));
    EXPECT_TRUE(Enabled("CuteButton4"));
  }
  // A search reopens the list: the half-typed row goes the same way, and the status says so.
  RequestRegistration(9);
  Click(32);
  SearchBySelectors(module_, 0, "全て", 0, "全て");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1, 2));
  EXPECT_EQ(Registering, 0);
  EXPECT_EQ(Stone(32), "");
  EXPECT_EQ(StatusText(), "問題の登録を取り消しました。");

  // Categories and a mark given to the new row wait for 問題登録 and are stored with it.
  RequestRegistration(8);
  Click(31);
  tk_.Control("ComboBox1").SetText("活きる");
  tk_.Control("ComboBox2").SetText("ハネ");
  Press("CuteButton12");
  StoreMark(module_, "○");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1, 2));
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsInsert);
  EXPECT_EQ(Registering, 1);
  EXPECT_EQ(StatusText(), "問題登録をクリックしてください。");
  Press("CuteButton1");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1, 2, 8));
  EXPECT_EQ(StoredProblemText(2, mondai::kKB1), "活きる");
  EXPECT_EQ(StoredProblemText(2, mondai::kKB2), "ハネ");
  EXPECT_EQ(StoredProblemText(2, mondai::kMRK), "○");
}

TEST_F(EditingTest, SequenceRegistrationNeedsMovesAndRoomAtTheEnd) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 0, 9999);
  AddRow(1, 0, 2, 11, 1, 0);
  // Ten sequences already continue the set-up.
  for (int i = 0; i < 10; ++i) AddRow(1, 1, 1, 100 + i, 2 + i, 1);
  StartEditing();
  ASSERT_EQ(Row(), 2);

  // Nothing clicked: nothing appended, and a message that says why.
  Press("CuteButton5");
  EXPECT_EQ(StatusText(), "登録する手がありません。盤上に手を並べてから登録してください。");
  EXPECT_EQ(StoredRows(1).size(), 12u);
  EXPECT_EQ(module_.KuraQuery2.State(), kura::TDataSetState::dsBrowse);

  // An eleventh continuation could never be offered by the trainer.
  Click(200);
  Press("CuteButton5");
  EXPECT_EQ(StatusText(), "この局面には既に10通りの継続手順があります。これ以上は登録できません。");
  EXPECT_EQ(StoredRows(1).size(), 12u);
  EXPECT_EQ(HistoryTop, 1);  // the move stays for another try

  // Continuing one of the ten is fine.
  SelectSequenceRow(5);
  Click(201, TMouseButton::Right);
  Press("CuteButton5");
  EXPECT_EQ(StoredRows(1).back(), (TRow{13, 1, 2, 2, 201, 12, 4}));
}

// Problem 1: set-up rows 1..2 (label 1), then
//   A rows 3..4 continues 1 (label 2), B row 5 continues A (3), C rows 6..7 continue A (4),
//   D row 8 continues C (5), E row 9 continues the set-up (6), F row 10 continues E (7),
//   G row 11 continues A (8).
class SequenceDeletionTest : public EditingTest {
 protected:
  void SetUp() override {
    EditingTest::SetUp();
    AddProblem(1);
    AddRow(1, 0, 1, 10, 0, 9999);
    AddRow(1, 0, 2, 11, 1, 0);
    AddRow(1, 1, 1, 100, 0, 1);  // A
    AddRow(1, 2, 2, 101, 2, 0);
    AddRow(1, 3, 1, 102, 3, 2);  // B
    AddRow(1, 3, 1, 103, 0, 2);  // C
    AddRow(1, 4, 2, 104, 4, 0);
    AddRow(1, 5, 1, 105, 5, 4);   // D
    AddRow(1, 1, 1, 120, 6, 1);   // E
    AddRow(1, 2, 2, 121, 7, 6);   // F
    AddRow(1, 3, -1, 130, 8, 2);  // G
    StartEditing();
  }
};

TEST_F(SequenceDeletionTest, DeletesTheSequenceAndEverythingThatContinuesIt) {
  SelectSequenceRow(4);  // inside A
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton3");
  EXPECT_EQ(tk_.Boxes().back().text, "手数 2 を含む手順と継続する全ての手順を削除していいですか？");
  // A, B, C, D and G gone; E and F kept, renumbered without gaps.
  EXPECT_THAT(StoredRows(1), ElementsAre(TRow{1, 1, 0, 1, 10, 0, 9999}, TRow{2, 1, 0, 2, 11, 1, 0},
                                         TRow{3, 1, 1, 1, 120, 6, 1}, TRow{4, 1, 2, 2, 121, 7, 6}));
  EXPECT_EQ(StatusText(), "削除しました。");
  EXPECT_THAT(Sounds(), ElementsAre("Oto1.wav"));
  // The position shown is the set-up, the row before A.
  EXPECT_EQ(Row(), 2);
  EXPECT_EQ(Stone(10), "B");
  EXPECT_EQ(Stone(100), "");
  EXPECT_EQ(MoveNumber, 0);
}

TEST_F(SequenceDeletionTest, DeletesALeafAndShowsThePositionBeforeIt) {
  SelectSequenceRow(7);  // C
  EXPECT_EQ(MoveNumber, 4);
  SelectSequenceRow(5);  // B, a leaf continuing A
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton3");
  const std::vector<TRow> rows = StoredRows(1);
  ASSERT_EQ(rows.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(rows[i].TNB, i + 1);
  EXPECT_EQ(rows[4], (TRow{5, 1, 3, 1, 103, 0, 2}));  // C moved up into B's place
  // The position at the end of A, the sequence of the row before B.
  EXPECT_EQ(Row(), 4);
  EXPECT_EQ(Stone(100), "B");
  EXPECT_EQ(Stone(101), "W");
  EXPECT_EQ(Stone(102), "");
  EXPECT_EQ(MoveNumber, 2);
}

TEST_F(SequenceDeletionTest, NoAnswerAndSetUpRowsDeleteNothing) {
  SelectSequenceRow(7);
  const std::vector<TRow> before = StoredRows(1);
  const int moveNumber = MoveNumber;
  SelectSequenceRow(1);
  ASSERT_EQ(MoveNumber, 0);
  MoveNumber = moveNumber;
  // A set-up row: no question is asked (an unexpected one would fail), nothing changes.
  Press("CuteButton3");
  EXPECT_EQ(MoveNumber, moveNumber);
  EXPECT_TRUE(tk_.Boxes().empty());

  GoToRow(6);
  tk_.AnswerNextConfirmations({TModalResult::No});
  Press("CuteButton3");
  EXPECT_EQ(StoredRows(1), before);
  EXPECT_EQ(MoveNumber, moveNumber);
  EXPECT_EQ(Row(), 6);
}

// A sequence with twelve continuations (more than the ten a sequence end can offer), the last
// of which has a chain of three below it: fifteen sequences below it, all deleted with it.
TEST_F(EditingTest, DeletesMoreDescendantsThanTheContinuationTableHolds) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 0, 9999);
  AddRow(1, 0, 2, 11, 1, 0);
  AddRow(1, 1, 1, 100, 2, 1);  // A, label 2
  AddRow(1, 1, 1, 300, 3, 1);  // K, kept, label 3
  int label = 4;
  for (int i = 0; i < 12; ++i) AddRow(1, 2, 2, 150 + i, label++, 2);  // continue A
  const int lastChild = label - 1;
  AddRow(1, 3, 1, 200, label, lastChild);  // a chain of three below the last one
  AddRow(1, 4, 2, 201, label + 1, label);
  AddRow(1, 5, 1, 202, label + 2, label + 1);
  AddRow(1, 2, 2, 301, 40, 3);  // continues K, kept
  StartEditing();

  SelectSequenceRow(3);
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton3");
  EXPECT_THAT(StoredRows(1),
              ElementsAre(TRow{1, 1, 0, 1, 10, 0, 9999}, TRow{2, 1, 0, 2, 11, 1, 0},
                          TRow{3, 1, 1, 1, 300, 3, 1}, TRow{4, 1, 2, 2, 301, 40, 3}));
}

// The pending list holds 361 sequences. A chain deeper than that never needs more than one
// entry and is deleted; a sequence with 362 continuations would need them all at once and is
// refused before anything is deleted.
TEST_F(EditingTest, DeletionNeverOverrunsThePendingList) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 1, 9999);
  AddRow(1, 1, 1, 100, 2, 1);  // A, label 2: a chain of 370 sequences below it
  for (int i = 0; i < 370; ++i) AddRow(1, 2 + i, 1 + i % 2, 1 + i % 361, 3 + i, 2 + i);
  AddRow(1, 1, 1, 200, 1000, 1);  // B, label 1000: 362 continuations below it
  for (int i = 0; i < 362; ++i) AddRow(1, 2, 2, 1 + i % 361, 1001 + i, 1000);
  StartEditing();

  SelectSequenceRow(373);  // B
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton3");
  EXPECT_EQ(StatusText(), "継続する手順が多すぎるため削除できません。");
  EXPECT_EQ(StoredRows(1).size(), 735u);
  EXPECT_EQ(Row(), 373);

  SelectSequenceRow(2);  // A
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton3");
  EXPECT_EQ(StatusText(), "削除しました。");
  const std::vector<TRow> rows = StoredRows(1);
  ASSERT_EQ(rows.size(), 364u);
  EXPECT_EQ(rows[1], (TRow{2, 1, 1, 1, 200, 1000, 1}));
  EXPECT_EQ(rows.back(), (TRow{364, 1, 2, 2, 1 + 361 % 361, 1362, 1000}));
}

TEST_F(EditingTest, ProblemDeletionRemovesTheProblemAndItsRows) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 0, 9999);
  AddRow(1, 0, 2, 11, 1, 0);
  AddRow(1, 1, 1, 12, 2, 1);
  AddProblem(2);
  AddRow(2, 0, 1, 20, 1, 9999);
  StartEditing();
  ASSERT_EQ(CurrentProblem, 1);

  tk_.AnswerNextConfirmations({TModalResult::No});
  Press("CuteButton2");
  EXPECT_EQ(tk_.Boxes().back().text,
            "問題 1 番を削除していいですか？\r\n解答手順も全て削除します。");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(1, 2));
  EXPECT_EQ(StoredRows(1).size(), 3u);

  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton2");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(2));
  EXPECT_TRUE(StoredRows(1).empty());
  EXPECT_EQ(StoredRows(2).size(), 1u);
  EXPECT_EQ(Stone(10), "");

  // A problem that is not the loaded one loses its rows as well.
  AddProblem(3);
  AddRow(3, 0, 1, 30, 1, 9999);
  module_.OpenProblemList(kRegisteredProblems);
  module_.KuraQuery1.Last();  // problem 3, while problem 2's rows are not loaded
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  Press("CuteButton2");
  EXPECT_THAT(StoredProblemNumbers(), ElementsAre(2));
  EXPECT_TRUE(StoredRows(3).empty());
  EXPECT_EQ(StoredRows(2).size(), 1u);
}

TEST_F(EditingTest, TypedTextsAndCategoriesAreStored) {
  AddProblem(1);
  AddRow(1, 0, 1, 10, 0, 9999);
  AddRow(1, 0, 2, 11, 1, 0);
  StartEditing();

  // Categories as the selectors show them, 全て included.
  tk_.Control("ComboBox1").SetText("活きる");
  tk_.Control("ComboBox2").SetText("全て");
  Press("CuteButton12");
  EXPECT_EQ(StoredProblemText(0, mondai::kKB1), "活きる");
  EXPECT_EQ(StoredProblemText(0, mondai::kKB2), "全て");
  EXPECT_EQ(StatusText(), "登録しました。");

  // A move comment typed and left pending survives the registration of another problem, and
  // the new problem's typed comment is stored with it.
  module_.KuraQuery2.Edit();
  SetFieldText(module_.KuraQuery2.Fields(tejun::kCMT), "好手");
  RequestRegistration(2);
  SetFieldText(module_.KuraQuery1.Fields(mondai::kCMT), "新しい問題");
  Click(40);
  Press("CuteButton1");
  EXPECT_EQ(kura::Cp932ToUtf8(database_->Rows("tejun")[1][tejun::kCMT].Text), "好手");
  EXPECT_EQ(StoredProblemText(1, mondai::kCMT), "新しい問題");

  // A hint typed in the hint edit is stored when a sequence is registered and the list moves.
  module_.KuraQuery1.Edit();
  SetFieldText(module_.KuraQuery1.Fields(mondai::kHNT), "隅の急所");
  Click(41);
  Press("CuteButton5");
  Press("CuteButton4");  // the new row's append posts the pending edit
  Press("CuteButton14");
  EXPECT_EQ(StoredProblemText(1, mondai::kHNT), "隅の急所");
}

TEST_F(EditingTest, CancelAlsoPutsAwayAShownHint) {
  AddProblem(1, "元のコメント", "急所");
  AddRow(1, 0, 1, 10, 0, 9999);
  AddRow(1, 0, 2, 11, 1, 0);
  AddProblem(2);
  AddRow(2, 0, 1, 10, 1, 9999);
  StartEditing();
  Press("CuteButton13");  // the hint stands in the comment column
  ASSERT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kCMT)), "急所");

  // キャンセル drops the hint's edit with any other; the hint is no longer shown.
  Press("CuteButton14");
  EXPECT_EQ(HintShown, 0);
  EXPECT_EQ(tk_.Control("CuteButton13").Text(), "ヒント表示");
  EXPECT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kCMT)), "元のコメント");

  // A comment typed afterwards is stored when the list moves on, not taken for the hint.
  module_.KuraQuery1.Edit();
  SetFieldText(module_.KuraQuery1.Fields(mondai::kCMT), "新しいコメント");
  module_.KuraQuery1.Next();
  EXPECT_EQ(StoredProblemText(0, mondai::kCMT), "新しいコメント");
}

}  // namespace
}  // namespace goramina
