// The trainer on the headless toolkit: a window with the board and the controls the trainer
// and the editor touch, stone pictures and sounds in a folder of their own, and the data
// module on an in-memory collection the test fills row by row. Shared by the trainer's and
// the editor's tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/board/board.h"
#include "app/board/board_test_fixture.h"
#include "app/board/board_view.h"
#include "app/collection/data_module.h"
#include "app/collection/field_text.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "dataset/cp932.h"
#include "dataset/memory_database.h"

namespace goramina {

class TrainerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTestFolder("goramina_trainer_");
    WriteProgramFiles();
    tk_.CreateForm(TestForm());
    tk_.SetProgramDir(dir_.string() + "/");
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
    ConnectTrainerHandlers();
    ScreenKind = 1;
    PlayMode = 1;
    CurrentProblem = 0;
    HintShown = 0;
    Continuations.fill(TContinuation{});
    ClearBoard();
    LastPoint = 0;
  }

  void TearDown() override {
    HintShown = 0;
    SetMainUnit(nullptr, nullptr, nullptr);
    std::filesystem::remove_all(dir_);
  }

  // --- The collection ---------------------------------------------------------------------------
  void AddProblem(int hnb, std::string_view comment = "", std::string_view hint = "") {
    using kura::TFieldValue;
    database_->AppendRow("mondai", {TFieldValue::OfInteger(hnb),
                                    TFieldValue::OfInteger(hnb),
                                    {},
                                    {},
                                    {},
                                    TFieldValue::OfString(kura::Utf8ToCp932(comment)),
                                    TFieldValue::OfString(kura::Utf8ToCp932(hint))});
  }
  // A tejun row of problem `hnb`; TNB is its position among the problem's rows.
  void AddRow(int hnb, int tes, int col, int pst, int bfr = 0, int bto = 0) {
    using kura::TFieldValue;
    const int tnb = ++rowsOf_[hnb];
    database_->AppendRow("tejun", {TFieldValue::OfInteger(tnb),
                                   TFieldValue::OfInteger(hnb),
                                   TFieldValue::OfInteger(tes),
                                   TFieldValue::OfInteger(col),
                                   TFieldValue::OfInteger(pst),
                                   TFieldValue::OfInteger(bfr),
                                   TFieldValue::OfInteger(bto),
                                   {}});
  }

  // The start of the dojo screen: the list of registered problems, the first one loaded.
  void Start() {
    module_.OpenProblemList(kRegisteredProblems);
    module_.RenumberProblems();
    module_.KuraQuery1.First();
    LoadProblem();
    // Timer2 runs from the window's creation; its first tick finds nothing to play and stops.
    tk_.DeliverTimer("Timer2");
  }
  // Selects the problem in list row `row` (1-based) as a click on the problem grid does.
  void SelectProblem(int row) {
    module_.KuraQuery1.SetRecNo(row);
    ASSERT_TRUE(tk_.DeliverCellClick("DBGrid1"));
  }

  // --- What the user does ------------------------------------------------------------------------
  // A press on the label of `point`; the held buttons follow the button unless `shift` is given.
  void Click(int point, TMouseButton button = TMouseButton::Left, TShiftState shift = 0) {
    if (shift == 0) shift = button == TMouseButton::Left ? ssLeft : ssRight;
    ASSERT_TRUE(tk_.DeliverMouseDown("Label" + std::to_string(point), button, shift, 5, 5));
    ExpectNoErrorBox();
  }
  void Press(const std::string& button) {
    ASSERT_TRUE(tk_.DeliverClick(button));
    ExpectNoErrorBox();
  }
  // One tick of the reply timer; false when the timer is off.
  bool Tick() {
    const bool ticked = tk_.DeliverTimer("Timer2");
    ExpectNoErrorBox();
    return ticked;
  }

  // --- What the test reads -----------------------------------------------------------------------
  // "B" for a black stone image, "W" for white, "" for none.
  std::string Stone(int point) { return StoneShownAt(tk_, point); }
  const TControl& Label(int point) { return tk_.Control("Label" + std::to_string(point)); }
  // The sounds played since the last ClearRecords, by file name.
  std::vector<std::string> Sounds() {
    std::vector<std::string> names;
    for (const std::string& path : tk_.PlayedSounds())
      names.push_back(std::filesystem::path(path).filename().string());
    return names;
  }
  std::string StatusText() { return tk_.StatusText(0); }
  // TNB of the sequence query's current row.
  int Row() { return module_.KuraQuery2.Fields(tejun::kTNB).AsInteger(); }
  bool ReplyPending() { return tk_.TimerEnabled("Timer2"); }
  // A text field of the problem table as stored, in UTF-8.
  std::string StoredProblemText(int tableRow, int field) {
    return kura::Cp932ToUtf8(database_->Rows("mondai")[tableRow][field].Text);
  }

  void ExpectNoErrorBox() {
    for (const auto& box : tk_.Boxes()) {
      EXPECT_NE(box.kind, TBoxKind::Error) << box.text;
    }
  }

  std::filesystem::path dir_;
  THeadlessToolkit tk_;
  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  std::unique_ptr<TBoardView> view_;

 private:
  void WriteProgramFiles() {
    WriteTestStonePictures(dir_);
    // The headless player only needs the files to exist.
    for (const char* sound : {"Oto1.wav", "Oto2.wav"}) std::ofstream(dir_ / sound) << "RIFF";
  }

  static TFormSpec TestForm() {
    TFormSpec form;
    form.name = "TForm2";
    form.controls = BoardControlSpecs();
    for (int i = 1; i <= 16; ++i) {
      TControlSpec button;
      button.kind = TControlKind::Button;
      button.name = "CuteButton" + std::to_string(i);
      button.width = 60;
      button.height = 20;
      form.controls.push_back(button);
    }
    for (int i = 1; i <= 2; ++i) {
      TControlSpec grid;
      grid.kind = TControlKind::Grid;
      grid.name = "DBGrid" + std::to_string(i);
      grid.dataSource = "DataSource" + std::to_string(i);
      form.controls.push_back(grid);
      TControlSpec edit;
      edit.kind = TControlKind::Edit;
      edit.name = "DBEdit" + std::to_string(i);
      edit.dataSource = grid.dataSource;
      edit.dataField = i == 1 ? "HNT" : "CMT";
      form.controls.push_back(edit);
    }
    for (int i = 1; i <= 3; ++i) {
      TControlSpec combo;
      combo.kind = TControlKind::ComboBox;
      combo.name = "ComboBox" + std::to_string(i);
      form.controls.push_back(combo);
    }
    form.statusPanels = {{450}, {140}, {50, TAlignment::Center}};
    form.timers = {{"Timer1", 1000, true}, {"Timer2", 1000, true}};
    form.mediaPlayers = {"MediaPlayer1"};
    return form;
  }

  // The trainer's handlers, as the window connects them.
  void ConnectTrainerHandlers() {
    for (int p = 1; p <= kPointCount; ++p) {
      tk_.OnMouseDown("Label" + std::to_string(p),
                      [](const std::string& sender, TMouseButton button, TShiftState shift, int,
                         int) { Label1MouseDown(sender, button, shift); });
    }
    tk_.OnTimer("Timer2", [](const std::string&) { Timer2Timer(); });
    tk_.OnCellClick("DBGrid1", [](const std::string&) { DBGrid1CellClick(); });
    tk_.OnDblClick("DBGrid1", [](const std::string&) { DBGrid1CellClick(); });
    tk_.OnClick("CuteButton7", [](const std::string&) { CuteButton7Click(); });
    tk_.OnClick("CuteButton8", [](const std::string&) { CuteButton8Click(); });
    tk_.OnClick("CuteButton9", [](const std::string&) { CuteButton9Click(); });
    tk_.OnClick("CuteButton10", [](const std::string&) { CuteButton10Click(); });
    tk_.OnClick("CuteButton13", [](const std::string&) { CuteButton13Click(); });
  }

  std::map<int, int> rowsOf_;
};

}  // namespace goramina
