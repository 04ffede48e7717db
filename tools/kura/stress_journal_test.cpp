#include "tools/kura/stress_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace kura::tool {
namespace {

TStressRow Row(std::int32_t id, std::int32_t version, std::int32_t tag = 0,
               std::uint32_t length = 0, const std::string& group = "G1") {
  return {id, StressCode(id), group, version, tag, length};
}

TStoredStressRow Stored(const TStressRow& row) {
  return {row, StressBlobBytes(row.BlobTag, row.BlobLength)};
}

TStressRows Replay(const std::string& text, std::vector<std::string>* findings = nullptr,
                   TStressRows rows = {}) {
  std::istringstream journal(text);
  const std::vector<std::string> found = ReplayJournal(journal, "j", rows);
  if (findings != nullptr) *findings = found;
  return rows;
}

// One worker's changes of three rows: an insert with a BLOB, a key edit, a BLOB write, a
// delete.
std::string SampleJournal() {
  return InsertLine(Row(11, 1, 101, 40)) + "\n" + InsertLine(Row(12, 1)) + "\n" +
         InsertLine(Row(13, 1)) + "\n" + EditLine(12, Row(14, 2)) + "\n" +
         EditLine(11, Row(11, 2, 102, 7)) + "\n" + DeleteLine(13) + "\n";
}

TEST(StressJournal, ReplayGivesTheFinalStateOfEveryRow) {
  std::vector<std::string> findings;
  const TStressRows rows = Replay(SampleJournal(), &findings);
  EXPECT_TRUE(findings.empty());
  const TStressRows expected = {{11, Row(11, 2, 102, 7)}, {14, Row(14, 2)}};
  EXPECT_EQ(rows, expected);
  // The rows a reused table held before stay unless the journal changes them.
  const TStressRows before = {{5, Row(5, 9)}};
  EXPECT_EQ(Replay(DeleteLine(5) + "\n" + InsertLine(Row(6, 1)) + "\n", nullptr, before),
            (TStressRows{{6, Row(6, 1)}}));
}

TEST(StressJournal, TheTableAgreesOnlyWithEveryAcknowledgedChange) {
  const TStressRows expected = Replay(SampleJournal());
  const TStoredStressRows sound = {{11, Stored(Row(11, 2, 102, 7))}, {14, Stored(Row(14, 2))}};
  EXPECT_TRUE(CompareStressRows(expected, sound).empty());

  struct TCase {
    const char* What;
    TStoredStressRows Actual;
    const char* Finding;
  };
  TStoredStressRow otherBlob = Stored(Row(11, 2, 102, 7));
  otherBlob.Blob.back() ^= 1;
  const TCase cases[] = {
      {"an insert lost", {{11, Stored(Row(11, 2, 102, 7))}}, "row 14: acknowledged but missing"},
      {"a key edit lost: the old key still there",
       {{11, Stored(Row(11, 2, 102, 7))}, {12, Stored(Row(12, 1))}},
       "row 12: present but never acknowledged"},
      {"a delete lost",
       {{11, Stored(Row(11, 2, 102, 7))}, {13, Stored(Row(13, 1))}, {14, Stored(Row(14, 2))}},
       "row 13: present but never acknowledged"},
      {"an edit lost: the older version",
       {{11, Stored(Row(11, 1, 101, 40))}, {14, Stored(Row(14, 2))}},
       "row 11: holds CODE C11, GRP G1, VER 1, BLOB 101/40, acknowledged CODE C11, GRP G1, VER 2, "
       "BLOB 102/7"},
      {"a group edit lost",
       {{11, Stored(Row(11, 2, 102, 7))}, {14, Stored(Row(14, 2, 0, 0, "G2"))}},
       "row 14: holds"},
      {"a BLOB byte changed",
       {{11, otherBlob}, {14, Stored(Row(14, 2))}},
       "row 11: BLOB contents differ"},
      {"a row never written",
       {{11, Stored(Row(11, 2, 102, 7))}, {14, Stored(Row(14, 2))}, {99, Stored(Row(99, 1))}},
       "row 99: present but never acknowledged"},
  };
  for (const TCase& c : cases) {
    const std::vector<std::string> findings = CompareStressRows(expected, c.Actual);
    EXPECT_TRUE(std::any_of(findings.begin(), findings.end(),
                            [&](const std::string& f) { return f.rfind(c.Finding, 0) == 0; }))
        << c.What << ": " << ::testing::PrintToString(findings);
  }
}

TEST(StressJournal, ABlobIsTheOneItsTagNames) {
  EXPECT_EQ(StressBlobBytes(7, 100), StressBlobBytes(7, 100));
  EXPECT_NE(StressBlobBytes(7, 100), StressBlobBytes(8, 100));
  EXPECT_TRUE(StressBlobBytes(0, 0).empty());
  TStoredStressRows actual = {{1, Stored(Row(1, 1, 7, 100))}};
  actual[1].Blob.resize(99);  // cut short
  EXPECT_FALSE(CompareStressRows({{1, Row(1, 1, 7, 100)}}, actual).empty());
}

TEST(StressJournal, LinesThatCannotBeAppliedAreFindings) {
  const std::pair<std::string, std::string> cases[] = {
      {"X 1\n", "j line 1: unreadable \"X 1\""},
      {"I 1 C1 G1 1 0\n", "j line 1: unreadable"},  // cut short
      {"I 1 C1 G1 1 0 0 extra\n", "j line 1: unreadable"},
      {"D 1 2\n", "j line 1: unreadable"},
      {"I 1 C1 G1 1 0 0\nI 1 C1 G1 1 0 0\n", "j line 2: adds row 1, which exists"},
      {"E 3 3 C3 G1 2 0 0\n", "j line 1: changes row 3, which does not exist"},
      {"I 1 C1 G1 1 0 0\nD 1\nD 1\n", "j line 3: changes row 1, which does not exist"},
  };
  for (const auto& [text, finding] : cases) {
    std::vector<std::string> findings;
    Replay(text, &findings);
    ASSERT_EQ(findings.size(), 1u) << text;
    EXPECT_EQ(findings[0].rfind(finding, 0), 0u) << findings[0];
  }
}

}  // namespace
}  // namespace kura::tool
