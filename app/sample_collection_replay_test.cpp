// Replays every problem of the sample collection shipped in data/DBgoramina through the real
// trainer: each stored sequence drawn from the set-up down to its end, and the whole answer
// played by 解答表示, picking a green mark wherever the collection offers a choice. A problem
// whose stored moves do not replay (a move on a stone that is still there, a chain that never
// ends) fails here rather than in front of a player.
#include <string>
#include <vector>

#include "app/trainer_test_fixture.h"
#include "dataset/collection_text.h"

namespace goramina {
namespace {

constexpr int kMostTicks = 400;  // far more than the longest answer needs
constexpr const char* kChooseMark = "緑丸か赤丸の一つを選んでください。";

struct TStoredRow {
  int tnb, tes, col, pst, bfr;
};

class SampleCollectionReplay : public TrainerFixture {
 protected:
  void SetUp() override {
    TrainerFixture::SetUp();
    auto sample = kura::LoadProblemCollection(GORAMINA_COLLECTION_DIR);
    for (const char* table : {"mondai", "tejun"})
      for (const kura::TRecord& row : sample->Rows(table)) database_->AppendRow(table, row);
    Start();
  }

  int ProblemCount() { return module_.KuraQuery1.RecordCount(); }

  std::vector<TStoredRow> RowsOfLoadedProblem() {
    std::vector<TStoredRow> rows;
    kura::TKuraQuery& q = module_.KuraQuery2;
    for (q.First(); !q.Eof(); q.Next())
      rows.push_back({q.Fields(tejun::kTNB).AsInteger(), q.Fields(tejun::kTES).AsInteger(),
                      q.Fields(tejun::kCOL).AsInteger(), q.Fields(tejun::kPST).AsInteger(),
                      q.Fields(tejun::kBFR).AsInteger()});
    return rows;
  }

  static std::string StoneOf(int colour) {
    return (colour < 0 ? -colour : colour) == 1 ? "B" : "W";
  }

  // A point showing a green choice mark, or 0.
  int GreenMark() {
    for (int p = 1; p <= kPointCount; ++p)
      if (Label(p).Text() == kChoiceMark && Label(p).FontColor() == kGreenMarkColour) return p;
    return 0;
  }
};

TEST_F(SampleCollectionReplay, TheCollectionHasAtLeastThirtyProblems) {
  EXPECT_GE(ProblemCount(), 30);
}

TEST_F(SampleCollectionReplay, EverySequenceDrawsDownToItsLastMove) {
  for (int problem = 1; problem <= ProblemCount(); ++problem) {
    SelectProblem(problem);
    const std::vector<TStoredRow> rows = RowsOfLoadedProblem();
    ASSERT_FALSE(rows.empty()) << "problem " << problem << " has no rows";
    for (const TStoredRow& end : rows) {
      if (end.bfr <= 0 || end.tes == 0) continue;  // not the end of an answer sequence
      SCOPED_TRACE(testing::Message()
                   << "problem " << problem << ", sequence ending at row " << end.tnb);
      GoToRow(end.tnb);
      ShowSequencePath();
      ExpectNoErrorBox();
      EXPECT_EQ(Stone(end.pst), StoneOf(end.col)) << "the last stored move is not on the board";
      EXPECT_EQ(Label(end.pst).Text(), std::to_string(end.tes));
      EXPECT_EQ(MoveNumber, end.tes);
    }
  }
}

TEST_F(SampleCollectionReplay, TheAnswerDisplayPlaysEveryProblemToItsEnd) {
  for (int problem = 1; problem <= ProblemCount(); ++problem) {
    SCOPED_TRACE(testing::Message() << "problem " << problem);
    SelectProblem(problem);
    tk_.ClearRecords();
    Press("CuteButton7");
    int ticks = 0;
    while (StatusText().find("登録手順は終了です。") == std::string::npos && ticks < kMostTicks) {
      if (StatusText() == kChooseMark) {
        const int green = GreenMark();
        ASSERT_NE(green, 0) << "a choice without a correct continuation";
        Click(green);
      }
      if (!Tick()) Press("CuteButton8");  // the display stops after a chosen black move
      ++ticks;
    }
    EXPECT_LT(ticks, kMostTicks) << "the answer never ended; status: " << StatusText();
    EXPECT_FALSE(Sounds().empty());
    if (!Sounds().empty()) {
      EXPECT_EQ(Sounds().back(), "Oto2.wav");
    }
    EXPECT_GT(MoveNumber, 0) << "nothing was played";
    ExpectNoErrorBox();
  }
}

}  // namespace
}  // namespace goramina
