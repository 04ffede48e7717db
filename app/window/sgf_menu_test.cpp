// The ファイル menu's SGF items on the headless window: reading files and folders into the
// collection with progress and a summary, writing the shown problem or all of them, and the
// refusal while a problem is being registered.
#include "app/window/sgf_menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/data_module.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "app/window/main_form.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

namespace fs = std::filesystem;
using kura::TFieldValue;
using ::testing::HasSubstr;

class SgfMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("goramina_sgf_menu_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    tk_.SetProgramDir(std::string(GORAMINA_APP_DIR) + "/");
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
    AddProblem(1);
    CreateMainForm(tk_);
    tk_.Run();
    tk_.ClearRecords();
  }
  void TearDown() override {
    Registering = 0;
    SetMainUnit(nullptr, nullptr, nullptr);
    fs::remove_all(dir_);
  }

  // Problem `hnb`: a black stone on point 1 and one answer on point 2.
  void AddProblem(int hnb) {
    auto i = [](int v) { return TFieldValue::OfInteger(v); };
    database_->AppendRow(
        "mondai",
        {i(hnb), i(hnb), {}, {}, {}, TFieldValue::OfString(kura::Utf8ToCp932("既存")), {}});
    database_->AppendRow("tejun", {i(1), i(hnb), i(0), i(1), i(1), i(1), i(9999), {}});
    database_->AppendRow("tejun", {i(2), i(hnb), i(1), i(1), i(2), i(2), i(1), {}});
  }

  void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
  }

  std::string LastBox() const { return tk_.Boxes().empty() ? "" : tk_.Boxes().back().text; }

  fs::path dir_;
  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  THeadlessToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(SgfMenuTest, ImportedFilesAreListedAndTheFirstIsShown) {
  Write(dir_ / "a.sgf", "(;C[新しい問題]AB[dd]AW[de];B[ee]C[RIGHT])(;SZ[9]AB[aa])");
  tk_.AnswerNextFiles({(dir_ / "a.sgf").string()});
  ASSERT_TRUE(tk_.DeliverClick("SgfImport"));
  EXPECT_EQ(CurrentProblem, 2);
  EXPECT_EQ(Board[61], 1);  // dd
  EXPECT_EQ(Board[1], 0);   // the first problem's stone is gone from the board
  EXPECT_EQ(module_.KuraQuery1.RecordCount(), 2);
  EXPECT_FALSE(tk_.ProgressOpen());
  EXPECT_THAT(tk_.ProgressShown(), ::testing::ElementsAre("0/1 a.sgf", "1/1 完了"));
  EXPECT_THAT(LastBox(), HasSubstr("1 問を取り込みました"));
  EXPECT_THAT(LastBox(), HasSubstr("SZ[9]"));
}

TEST_F(SgfMenuTest, AFolderImportCanBeStopped) {
  Write(dir_ / "in" / "a.sgf", "(;AB[aa];B[bb])");
  Write(dir_ / "in" / "b.sgf", "(;AB[aa];B[cc])");
  tk_.AnswerNextPath((dir_ / "in").string());
  tk_.CancelProgressAt(2);
  ASSERT_TRUE(tk_.DeliverClick("SgfImportFolder"));
  EXPECT_THAT(LastBox(), HasSubstr("途中で中止しました"));
  EXPECT_EQ(module_.KuraQuery1.RecordCount(), 2);
}

TEST_F(SgfMenuTest, CancelledDialogsDoNothing) {
  ASSERT_TRUE(tk_.DeliverClick("SgfImport"));
  ASSERT_TRUE(tk_.DeliverClick("SgfImportFolder"));
  tk_.AnswerNextConfirmations({TModalResult::No});
  ASSERT_TRUE(tk_.DeliverClick("SgfExport"));
  EXPECT_TRUE(tk_.Boxes().size() == 1u);  // only the question
  EXPECT_TRUE(tk_.ProgressShown().empty());
  EXPECT_EQ(database_->Rows("mondai").size(), 1u);
}

TEST_F(SgfMenuTest, RefusedWhileAProblemIsBeingRegistered) {
  Registering = 1;
  ASSERT_TRUE(tk_.DeliverClick("SgfImport"));
  EXPECT_THAT(LastBox(), HasSubstr("問題登録の途中です"));
}

TEST_F(SgfMenuTest, ExportTheShownProblemOrAll) {
  AddProblem(2);
  tk_.AnswerNextConfirmations({TModalResult::Yes});
  tk_.AnswerNextPath((dir_ / "one").string());
  ASSERT_TRUE(tk_.DeliverClick("SgfExport"));
  ASSERT_TRUE(fs::exists(dir_ / "one.sgf"));
  EXPECT_THAT(LastBox(), HasSubstr("1 問を 1 個のファイルに"));
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_EQ(Board[1], 1);

  tk_.AnswerNextConfirmations({TModalResult::No});
  tk_.AnswerNextPath((dir_ / "all.sgf").string());
  ASSERT_TRUE(tk_.DeliverClick("SgfExport"));
  std::ifstream in(dir_ / "all.sgf", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n') > 0, true);
  EXPECT_THAT(LastBox(), HasSubstr("2 問を 1 個のファイルに"));

  tk_.AnswerNextConfirmations({TModalResult::No});
  tk_.AnswerNextPath((dir_ / "missing" / "x.sgf").string());
  ASSERT_TRUE(tk_.DeliverClick("SgfExport"));
  EXPECT_THAT(LastBox(), HasSubstr("書き出しに失敗しました"));
}

}  // namespace
}  // namespace goramina
