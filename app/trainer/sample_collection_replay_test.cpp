// Replays every problem of the sample collection shipped in data/DBgoramina through the real
// trainer: each stored sequence drawn from the set-up down to its end, and the whole answer
// played by 解答表示, picking a green mark wherever the collection offers a choice. A problem
// whose stored moves do not replay (a move on a stone that is still there, a chain that never
// ends) fails here rather than in front of a player.
#include <string>
#include <vector>

#include "app/trainer/player_aids.h"
#include "app/trainer/trainer_test_fixture.h"
#include "dataset/collection_text.h"

namespace goramina {
namespace {

constexpr int kMostTicks = 400;  // far more than the longest answer needs
constexpr const char* kChooseMark = "緑丸か赤丸の一つを選んでください。";

struct TStoredRow {
  int tnb, tes, col, pst, bfr, bto;
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
                      q.Fields(tejun::kBFR).AsInteger(), q.Fields(tejun::kBTO).AsInteger()});
    return rows;
  }

  static std::string StoneOf(int colour) {
    return (colour < 0 ? -colour : colour) == 1 ? "B" : "W";
  }

  // The rows of every line that ends the stored play (a sequence end nothing continues), each
  // from the first move after the set-up down to its last row, worked out from the rows alone.
  static std::vector<std::vector<TStoredRow>> StoredLines(const std::vector<TStoredRow>& rows) {
    std::vector<std::vector<TStoredRow>> lines;
    for (std::size_t end = 0; end < rows.size(); ++end) {
      if (rows[end].bfr <= 0 || rows[end].tes == 0) continue;
      bool continued = false;
      for (const TStoredRow& r : rows) continued |= r.bto == rows[end].bfr;
      if (continued) continue;
      std::vector<TStoredRow> line;
      std::size_t last = end;
      for (int guard = 0; guard < static_cast<int>(rows.size()); ++guard) {
        std::size_t first = last;
        while (first > 0 && rows[first].bto == 0) --first;
        line.insert(line.begin(), rows.begin() + static_cast<std::ptrdiff_t>(first),
                    rows.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        const int parent = rows[first].bto;
        if (parent == 1 || parent == 9999) break;
        for (last = 0; last < rows.size() && rows[last].bfr != parent; ++last) {
        }
        if (last == rows.size()) break;
      }
      lines.push_back(line);
    }
    return lines;
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

// Every line that ends the stored play, stepped through with 1手進む (and a click on its own mark
// where the play branches): the verdict at its end is the one its rows give (a refutation when
// any sequence on it starts with a negative colour), and taking the moves back one by one goes
// back through exactly the positions the line went through, captured stones included.
TEST_F(SampleCollectionReplay, EveryLineIsJudgedByItsRowsAndTakenBackThroughItsPositions) {
  for (int problem = 1; problem <= ProblemCount(); ++problem) {
    SelectProblem(problem);
    for (const std::vector<TStoredRow>& line : StoredLines(RowsOfLoadedProblem())) {
      SCOPED_TRACE(testing::Message()
                   << "problem " << problem << ", line ending at row " << line.back().tnb);
      SelectProblem(problem);
      std::vector<decltype(Board)> positions{Board};
      bool wrong = false;
      for (const TStoredRow& row : line) {
        wrong |= row.bto != 0 && row.col < 0;
        Press("CuteButton8");
        if (StatusText() == kChooseMark) Click(row.pst);
        ASSERT_EQ(Row(), row.tnb) << "the line was not followed";
        positions.push_back(Board);
      }
      Press("CuteButton8");
      ASSERT_EQ(StatusText(), "登録手順は終了です。");
      EXPECT_EQ(CurrentVerdict(), wrong ? -1 : 1);
      for (std::size_t i = positions.size() - 1; i-- > 0;) {
        Press("CuteButton9");
        ASSERT_EQ(Board, positions[i]) << "after taking back move " << i + 1;
      }
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
