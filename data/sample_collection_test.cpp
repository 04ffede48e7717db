// Checks the sample collection shipped in data/DBgoramina: the text form of the mondai and
// tejun rows, the category and mark vocabularies, and the shape of every problem's sequence
// tree as the trainer walks it (set-up first, each sequence after the one it continues).
#include <gtest/gtest.h>

#include <array>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/collection/selector_vocabulary.h"

namespace goramina {
namespace {

using Row = std::map<std::string, std::string>;

// Reads one of the collection files: '#' lines are comments, the first other line names the
// fields, every further line is one row with exactly that many TAB-separated cells.
std::vector<Row> ReadTable(const std::string& file, const std::vector<std::string>& header) {
  std::ifstream in(std::string(GORAMINA_COLLECTION_DIR) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<Row> rows;
  std::string line;
  bool header_seen = false;
  while (std::getline(in, line)) {
    EXPECT_TRUE(line.empty() || line.back() != '\r') << file << ": CR before LF";
    if (line.rfind("#", 0) == 0) continue;
    std::vector<std::string> cells;
    std::stringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    if (!line.empty() && line.back() == '\t') cells.emplace_back();
    if (!header_seen) {
      EXPECT_EQ(cells, header) << file;
      header_seen = true;
      continue;
    }
    EXPECT_EQ(cells.size(), header.size()) << file << ": " << line;
    Row row;
    for (std::size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

int Int(const Row& row, const char* field) {
  const std::string& text = row.at(field);
  if (text.empty()) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  EXPECT_EQ(*end, '\0') << field << " is not an integer: " << text;
  return static_cast<int>(value);
}

// A selector's texts without item 0: 全て ("any") is never a problem's category, and なし is
// stored as the empty mark.
template <std::size_t N>
std::set<std::string> TextsAfterItem0(const std::array<std::string_view, N>& items) {
  return {items.begin() + 1, items.end()};
}
std::set<std::string> StoredMarks() {
  std::set<std::string> marks = TextsAfterItem0(goramina::kMarks);
  marks.insert("");
  return marks;
}

const std::set<std::string> kMajorCategories = TextsAfterItem0(goramina::kMajorCategories);
const std::set<std::string> kMinorCategories = TextsAfterItem0(goramina::kMinorCategories);
const std::set<std::string> kMarks = StoredMarks();

class SampleCollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    problems_ = ReadTable("mondai.tsv", {"MNB", "HNB", "KB1", "KB2", "MRK", "CMT", "HNT"});
    moves_ = ReadTable("tejun.tsv", {"TNB", "HNB", "TES", "COL", "PST", "BFR", "BTO", "CMT"});
  }
  std::vector<Row> RowsOf(int problem) const {
    std::vector<Row> rows;
    for (const Row& row : moves_)
      if (Int(row, "HNB") == problem) rows.push_back(row);
    return rows;
  }
  std::vector<Row> problems_;
  std::vector<Row> moves_;
};

TEST_F(SampleCollectionTest, ProblemsUseTheSelectorVocabularies) {
  // The shipped collection is a trainer's worth, not a demonstration.
  EXPECT_GE(problems_.size(), 30u);
  std::set<int> numbers;
  for (std::size_t i = 0; i < problems_.size(); ++i) {
    const Row& p = problems_[i];
    const int number = Int(p, "HNB");
    SCOPED_TRACE("problem " + p.at("HNB"));
    EXPECT_EQ(Int(p, "MNB"), static_cast<int>(i) + 1) << "serial numbers run 1..n";
    EXPECT_GT(number, 0);
    EXPECT_TRUE(numbers.insert(number).second) << "problem numbers are unique";
    EXPECT_TRUE(kMajorCategories.count(p.at("KB1"))) << p.at("KB1");
    EXPECT_TRUE(kMinorCategories.count(p.at("KB2"))) << p.at("KB2");
    EXPECT_TRUE(kMarks.count(p.at("MRK"))) << p.at("MRK");
    EXPECT_FALSE(p.at("CMT").empty());
    EXPECT_FALSE(p.at("HNT").empty());
  }
  for (const Row& row : moves_)
    EXPECT_TRUE(numbers.count(Int(row, "HNB"))) << "tejun row of unknown problem " << row.at("HNB");
}

// The walks of the trainer rely on these without checking them: the set-up first with BTO
// 9999 and BFR 1, each sequence a run from a BTO row to a BFR row, labels unique, each
// sequence after the one it continues, move numbers and colours going on from the parent.
TEST_F(SampleCollectionTest, EveryProblemIsAWellFormedSequenceTree) {
  for (const Row& p : problems_) {
    const int problem = Int(p, "HNB");
    SCOPED_TRACE("problem " + std::to_string(problem));
    const std::vector<Row> rows = RowsOf(problem);
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(Int(rows[i], "TNB"), static_cast<int>(i) + 1);
      EXPECT_GE(Int(rows[i], "PST"), 1);
      EXPECT_LE(Int(rows[i], "PST"), 361);
    }

    std::size_t i = 0;
    std::set<int> setup_points;
    EXPECT_EQ(Int(rows[0], "BTO"), 9999);
    for (;; ++i) {
      ASSERT_LT(i, rows.size()) << "set-up without BFR 1";
      const Row& r = rows[i];
      EXPECT_EQ(Int(r, "TES"), 0);
      EXPECT_TRUE(Int(r, "COL") == 1 || Int(r, "COL") == 2);
      EXPECT_TRUE(setup_points.insert(Int(r, "PST")).second) << "two set-up stones on a point";
      if (i > 0) {
        EXPECT_EQ(Int(r, "BTO"), 0);
      }
      if (Int(r, "BFR") != 0) {
        EXPECT_EQ(Int(r, "BFR"), 1);
        break;
      }
    }

    struct End {
      int move_number;
      int colour;
    };
    std::map<int, End> ends = {{1, {0, 2}}};  // after the set-up Black plays first
    bool has_correct_answer = false;
    bool has_refutation = false;  // a stored wrong answer that shows why it fails
    for (++i; i < rows.size(); ++i) {
      const int parent = Int(rows[i], "BTO");
      ASSERT_TRUE(ends.count(parent)) << "row " << i + 1 << " continues unknown label " << parent;
      has_correct_answer |= parent == 1 && Int(rows[i], "COL") > 0;
      has_refutation |= Int(rows[i], "COL") < 0 && Int(rows[i], "BFR") == 0;
      End at = ends[parent];
      for (bool first = true;; first = false, ++i) {
        ASSERT_LT(i, rows.size()) << "sequence without an end row";
        const Row& r = rows[i];
        if (!first) {
          EXPECT_EQ(Int(r, "BTO"), 0) << "row " << i + 1;
        }
        const int colour = first ? std::abs(Int(r, "COL")) : Int(r, "COL");
        EXPECT_EQ(colour, 2 / at.colour) << "colours alternate, row " << i + 1;
        EXPECT_EQ(Int(r, "TES"), at.move_number + 1) << "row " << i + 1;
        at = {Int(r, "TES"), colour};
        const int label = Int(r, "BFR");
        if (label != 0) {
          EXPECT_GE(label, 2);
          EXPECT_TRUE(ends.emplace(label, at).second) << "label " << label << " used twice";
          break;
        }
      }
    }
    EXPECT_TRUE(has_correct_answer);
    EXPECT_TRUE(has_refutation) << "a wrong first move with the reply that refutes it";
  }
}

// The collection is meant to show the trainer's choices and refutations, not only straight
// answers.
TEST_F(SampleCollectionTest, ShowsChoicesAndRefutations) {
  int with_choices = 0;
  int with_refutations = 0;
  for (const Row& p : problems_) {
    std::map<int, int> continuations;
    bool refuted = false;
    for (const Row& r : RowsOf(Int(p, "HNB"))) {
      const int parent = Int(r, "BTO");
      if (parent != 0 && parent != 9999) ++continuations[parent];
      refuted |= parent != 0 && parent != 9999 && Int(r, "COL") < 0;
    }
    bool choice = false;
    for (const auto& [label, count] : continuations) choice |= count > 1;
    with_choices += choice;
    with_refutations += refuted;
  }
  EXPECT_GE(with_choices, 3);
  EXPECT_GE(with_refutations, 3);
}

}  // namespace
}  // namespace goramina
