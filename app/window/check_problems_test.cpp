// The 問題検証 menu on the headless window and the --check-problems command, with GNU Go.
#include "app/window/check_problems.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "app/board/board.h"
#include "app/board/board_view.h"
#include "app/collection/collection_test_values.h"
#include "app/collection/data_module.h"
#include "app/toolkit/headless_toolkit.h"
#include "app/trainer/main_unit.h"
#include "app/window/main_form.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

using kura::TFieldValue;

// A double atari on F14 and H14 (G16 keeps single ataris from working): the answer G14 and
// the refutation F15 / G14. Columns: TNB, TES, COL, PST, BFR, BTO.
constexpr int kDoubleAtariRows[][6] = {
    {1, 0, 1, 82, 0, 9999}, {2, 0, 1, 102, 0, 0},  {3, 0, 1, 140, 0, 0},  {4, 0, 1, 158, 0, 0},
    {5, 0, 2, 101, 0, 0},   {6, 0, 2, 139, 0, 0},  {7, 0, 2, 118, 1, 0},  {8, 1, 1, 120, 2, 1},
    {9, 2, 2, 100, 0, 2},   {10, 3, 1, 138, 3, 0}, {11, 2, 2, 138, 0, 2}, {12, 3, 1, 100, 4, 0},
    {13, 1, -1, 100, 0, 1}, {14, 2, 2, 120, 5, 0}};
// The atari from the wrong side stored as the answer: White runs out at F15.
constexpr int kWrongLadderRows[][6] = {
    {1, 0, 1, 83, 0, 9999}, {2, 0, 1, 102, 0, 0}, {3, 0, 1, 120, 0, 0},
    {4, 0, 2, 101, 0, 0},   {5, 0, 2, 103, 0, 0}, {6, 0, 2, 140, 1, 0},
    {7, 1, 1, 82, 0, 1},    {8, 2, 2, 119, 0, 0}, {9, 3, 1, 100, 2, 0}};

template <std::size_t N>
void AddProblem(kura::TMemoryDatabase& db, int hnb, const int (&rows)[N][6]) {
  db.AppendRow(
      "mondai",
      {Int(hnb), Int(hnb), Text("石を取る"), Text("アテ"), {}, Text("問"), Text("ヒント")});
  for (const auto& r : rows)
    db.AppendRow("tejun",
                 {Int(r[0]), Int(hnb), Int(r[1]), Int(r[2]), Int(r[3]), Int(r[4]), Int(r[5]), {}});
}

// Counts the showings of the progress box, for an engine that waits for the user's answer.
class TCountingToolkit : public THeadlessToolkit {
 public:
  bool ShowProgress(const std::string& title, int done, int total,
                    const std::string& text) override {
    const bool go_on = THeadlessToolkit::ShowProgress(title, done, total, text);
    if (duringProgress) std::exchange(duringProgress, nullptr)();
    ++progressCalls;
    return go_on;
  }
  std::atomic<int> progressCalls{0};
  // Runs once, on the window's thread, while the box is up.
  std::function<void()> duringProgress;
};

class CheckProblemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tk_.SetProgramDir(std::string(GORAMINA_APP_DIR) + "/");
    view_ = std::make_unique<TBoardView>(tk_, tk_.ProgramDir());
    SetMainUnit(&tk_, &module_, view_.get());
  }
  void TearDown() override {
    SetProblemCheckEngine({});
    SetMainUnit(nullptr, nullptr, nullptr);
    kura::UnregisterDatabase(kDatabaseName);
  }
  void Start() {
    CreateMainForm(tk_);
    tk_.Run();
  }
  const std::string& LastBoxText() {
    static const std::string none;
    return tk_.Boxes().empty() ? none : tk_.Boxes().back().text;
  }

  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
  TCountingToolkit tk_;
  std::unique_ptr<TBoardView> view_;
};

TEST_F(CheckProblemsTest, TheMenuWorksOnTheDojoScreenWithoutDisturbingThePlay) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  Start();
  ASSERT_EQ(ScreenKind, 1);
  ASSERT_TRUE(tk_.DeliverMouseDown("Label120", TMouseButton::Left, ssLeft, 0, 0));  // the answer
  const int row = module_.KuraQuery2.Fields(tejun::kTNB).AsInteger();
  const auto board = Board;
  ASSERT_TRUE(tk_.DeliverClick("KenshoOne"));
  ASSERT_FALSE(tk_.Boxes().empty());
  EXPECT_EQ(tk_.Boxes().back().kind, TBoxKind::Information);
  EXPECT_NE(LastBoxText().find("問題 1"), std::string::npos) << LastBoxText();
  EXPECT_EQ(module_.KuraQuery2.Fields(tejun::kTNB).AsInteger(), row);
  EXPECT_EQ(Board, board);
}

TEST_F(CheckProblemsTest, TheCurrentProblemIsCheckedWithoutMovingTheTrainer) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  AddProblem(*database_, 2, kWrongLadderRows);
  Start();
  tk_.DeliverClick("N3");
  const int row = module_.KuraQuery2.Fields(tejun::kTNB).AsInteger();
  ASSERT_TRUE(tk_.DeliverClick("KenshoOne"));
  ASSERT_FALSE(tk_.Boxes().empty());
  EXPECT_EQ(tk_.Boxes().back().kind, TBoxKind::Information);
  EXPECT_NE(LastBoxText().find("問題 1"), std::string::npos) << LastBoxText();
  EXPECT_NE(LastBoxText().find("問題なし"), std::string::npos) << LastBoxText();
  EXPECT_EQ(LastBoxText().find("問題 2"), std::string::npos) << LastBoxText();
  EXPECT_EQ(CurrentProblem, 1);
  EXPECT_EQ(module_.KuraQuery2.Fields(tejun::kTNB).AsInteger(), row);

  ASSERT_TRUE(tk_.DeliverClick("KenshoAll"));
  EXPECT_NE(LastBoxText().find("問題 2"), std::string::npos) << LastBoxText();
  EXPECT_NE(LastBoxText().find("黒 E14（82）"), std::string::npos) << LastBoxText();
  EXPECT_NE(LastBoxText().find("2 問を検証しました。うち 1 問に誤りの疑いがあります"),
            std::string::npos)
      << LastBoxText();
  EXPECT_EQ(tk_.StatusText(0), "");
}

TEST_F(CheckProblemsTest, TheWindowWaitsInAProgressBoxWhileTheEngineReads) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  AddProblem(*database_, 2, kWrongLadderRows);
  Start();
  tk_.DeliverClick("N3");
  // The engine reads a copy taken at the start: a problem added meanwhile is not checked.
  tk_.duringProgress = [this] { AddProblem(*database_, 3, kWrongLadderRows); };
  ASSERT_TRUE(tk_.DeliverClick("KenshoAll"));
  const std::vector<std::string>& shown = tk_.ProgressShown();
  ASSERT_FALSE(shown.empty());
  // The bar counts a hundred steps a problem and moves with the time spent on it.
  EXPECT_EQ(shown.front(), "0/200 問題検証中… 1/2");
  // Later showings follow the worker (how many depends on timing), never going back.
  for (std::size_t i = 1; i < shown.size(); ++i) {
    EXPECT_LE(std::stoi(shown[i - 1]), std::stoi(shown[i])) << shown[i];
    EXPECT_NE(shown[i].find("/200 問題検証中… "), std::string::npos) << shown[i];
  }
  EXPECT_FALSE(tk_.ProgressOpen());
  EXPECT_EQ(tk_.StatusText(0), "");
  EXPECT_NE(LastBoxText().find("2 問を検証しました。うち 1 問に誤りの疑いがあります"),
            std::string::npos)
      << LastBoxText();
  EXPECT_EQ(LastBoxText().find("問題 3"), std::string::npos) << LastBoxText();
  EXPECT_EQ(database_->Rows("mondai").size(), 3u);
}

TEST_F(CheckProblemsTest, CancellingStopsTheCheckBeforeTheNextProblem) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  AddProblem(*database_, 2, kWrongLadderRows);
  // The engine starts only once the box has been shown again after the user's 中止, so the
  // worker meets the request before its first problem.
  SetProblemCheckEngine([this] {
    while (tk_.progressCalls < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return GnuGoStarter()();
  });
  tk_.CancelProgressAt(1);
  Start();
  tk_.DeliverClick("N3");
  ASSERT_TRUE(tk_.DeliverClick("KenshoAll"));
  EXPECT_NE(
      std::find(tk_.ProgressShown().begin(), tk_.ProgressShown().end(), "0/200 中止しています…"),
      tk_.ProgressShown().end());
  EXPECT_FALSE(tk_.ProgressOpen());
  EXPECT_EQ(tk_.StatusText(0), "");
  ASSERT_FALSE(tk_.Boxes().empty());
  EXPECT_EQ(tk_.Boxes().back().kind, TBoxKind::Information);
  EXPECT_NE(LastBoxText().find("中止しました（2 問中 0 問を検証）"), std::string::npos)
      << LastBoxText();
  EXPECT_EQ(LastBoxText().find("問題 1"), std::string::npos) << LastBoxText();
  // The window goes on: a new check runs to its end.
  tk_.CancelProgressAt(0);
  ASSERT_TRUE(tk_.DeliverClick("KenshoOne"));
  EXPECT_NE(LastBoxText().find("問題なし"), std::string::npos) << LastBoxText();
}

TEST_F(CheckProblemsTest, AnErrorOnTheWorkerClosesTheBoxAndTheMenuStaysUsable) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  SetProblemCheckEngine(
      []() -> std::unique_ptr<TGtpClient> { throw std::runtime_error("pipe broke"); });
  Start();
  tk_.DeliverClick("N3");
  ASSERT_TRUE(tk_.DeliverClick("KenshoAll"));
  ASSERT_FALSE(tk_.Boxes().empty());
  EXPECT_EQ(tk_.Boxes().back().kind, TBoxKind::Error);
  EXPECT_EQ(LastBoxText(), "pipe broke");
  EXPECT_FALSE(tk_.ProgressOpen());
  EXPECT_EQ(tk_.StatusText(0), "");

  SetProblemCheckEngine({});
  ASSERT_TRUE(tk_.DeliverClick("KenshoOne"));
  EXPECT_NE(LastBoxText().find("問題なし"), std::string::npos) << LastBoxText();
}

TEST_F(CheckProblemsTest, AMissingEngineIsExplainedInJapanese) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  SetProblemCheckEngine([] {
    return std::make_unique<TGtpClient>(std::vector<std::string>{"/nonexistent/gnugo"},
                                        std::chrono::seconds(1));
  });
  Start();
  tk_.DeliverClick("N3");
  ASSERT_TRUE(tk_.DeliverClick("KenshoAll"));
  EXPECT_NE(LastBoxText().find("問題を検証できません"), std::string::npos) << LastBoxText();
  EXPECT_NE(LastBoxText().find("gnugo"), std::string::npos) << LastBoxText();
}

TEST_F(CheckProblemsTest, TheCommandPrintsReportsAndAnswersAnExitCode) {
  AddProblem(*database_, 1, kDoubleAtariRows);
  AddProblem(*database_, 2, kWrongLadderRows);
  kura::RegisterDatabase(kDatabaseName, database_);
  struct TCase {
    std::optional<int> only;
    int code;
    const char* printed;
  };
  for (const TCase& c :
       {TCase{1, kCheckSound, "問題 1"}, TCase{2, kCheckUnsound, "問題 2"},
        TCase{std::nullopt, kCheckUnsound, "うち 1 問"}, TCase{7, kCheckFailed, ""}}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunProblemCheckCommand(c.only, out, err), c.code) << out.str() << err.str();
    EXPECT_NE(out.str().find(c.printed), std::string::npos) << out.str();
    if (c.code == kCheckFailed) {
      EXPECT_NE(err.str().find("問題 7 はありません"), std::string::npos) << err.str();
    }
  }
  {
    // A problem that runs past its time limit is reported as not checked, never as sound.
    TCheckCommand tight;
    tight.only = 1;
    tight.timeLimit = std::chrono::milliseconds(1);
    std::ostringstream out, err;
    EXPECT_EQ(RunProblemCheckCommand(tight, out, err), kCheckUnsound) << out.str();
    EXPECT_NE(out.str().find("未検証"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("時間切れなどで検証できなかった問題が 1 問"), std::string::npos)
        << out.str();
    // For scripts: one JSON document with the verdict, the goal and the findings.
    tight.json = true;
    std::ostringstream json;
    EXPECT_EQ(RunProblemCheckCommand(tight, json, err), kCheckUnsound);
    EXPECT_NE(json.str().find("\"verdict\": \"unchecked\""), std::string::npos) << json.str();
    EXPECT_NE(json.str().find("\"kind\": \"time-limit\""), std::string::npos) << json.str();
    TCheckCommand all;
    all.json = true;
    std::ostringstream full;
    EXPECT_EQ(RunProblemCheckCommand(all, full, err), kCheckUnsound);
    for (const char* part : {"\"exit_code\": 1", "\"problem\": 2", "\"kind\": \"capture\"",
                             "\"kind\": \"correct-move-fails\"", "\"coordinate\": \"E14\"",
                             "\"confidence\": \"high\""})
      EXPECT_NE(full.str().find(part), std::string::npos) << part << "\n" << full.str();
  }
  std::ostringstream out, err;
  const TEngineStarter missing = [] {
    return std::make_unique<TGtpClient>(std::vector<std::string>{"/nonexistent/gnugo"},
                                        std::chrono::seconds(1));
  };
  EXPECT_EQ(RunProblemCheckCommand(std::nullopt, out, err, missing), kCheckFailed);
  EXPECT_NE(err.str().find("gnugo"), std::string::npos) << err.str();
}

TEST(CheckCommandOptions, WhatIsAccepted) {
  struct TCase {
    std::vector<std::string> options;
    bool accepted;
  };
  const TCase cases[] = {
      {{}, true},
      {{"--problem", "3", "--json"}, true},
      {{"--json", "--time-limit", "5", "--problem", "2"}, true},
      {{"--time-limit", "0"}, false},
      {{"--time-limit", "3601"}, false},
      {{"--time-limit"}, false},
      {{"--problem", "0"}, false},
      {{"--problem", "1", "--problem", "2"}, false},
      {{"--jsn"}, false},
  };
  for (const TCase& c : cases) {
    std::string error;
    EXPECT_EQ(ParseCheckCommand(c.options, error).has_value(), c.accepted)
        << ::testing::PrintToString(c.options);
    EXPECT_EQ(error.empty(), c.accepted) << error;
  }
  std::string error;
  const auto command = ParseCheckCommand({"--json", "--time-limit", "5", "--problem", "2"}, error);
  EXPECT_TRUE(command->json);
  EXPECT_EQ(command->only, 2);
  EXPECT_EQ(command->timeLimit, std::chrono::seconds(5));
  EXPECT_EQ(ParseCheckCommand({}, error)->timeLimit, kDefaultProblemTimeLimit);
}

}  // namespace
}  // namespace goramina
