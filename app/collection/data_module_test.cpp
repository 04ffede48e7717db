#include "app/collection/data_module.h"
#include "app/collection/collection_test_values.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/collection/field_text.h"
#include "app/collection/selector_vocabulary.h"
#include "base/engine_error.h"
#include "dataset/cp932.h"

namespace goramina {
namespace {

using kura::TFieldValue;
using kura::TRecord;
using ::testing::ElementsAre;

class DataModuleTest : public ::testing::Test {
 protected:
  void AddProblem(int mnb, int hnb, std::string_view kb1 = "", std::string_view kb2 = "") {
    database_->AppendRow("mondai", {Int(mnb), Int(hnb), Text(kb1), Text(kb2), {}, {}, {}});
  }
  void AddMove(int hnb, int bfr) {
    database_->AppendRow("tejun", {{}, Int(hnb), Int(0), Int(1), Int(1), Int(bfr), Int(0), {}});
  }

  // HNB (or MNB) down the problem list.
  std::vector<int> ListColumn(int field) {
    std::vector<int> values;
    for (module_.KuraQuery1.First(); !module_.KuraQuery1.Eof(); module_.KuraQuery1.Next())
      values.push_back(module_.KuraQuery1.Fields(field).AsInteger());
    module_.KuraQuery1.First();
    return values;
  }

  std::shared_ptr<kura::TMemoryDatabase> database_ = kura::CreateProblemCollection();
  TDataModule1 module_{database_};
};

TEST_F(DataModuleTest, QueriesCarryTheirProperties) {
  for (kura::TKuraQuery* query :
       {&module_.KuraQuery1, &module_.KuraQuery2, &module_.KuraQuery3, &module_.KuraQuery4}) {
    EXPECT_EQ(query->DatabaseName(), "DBgoramina");
    EXPECT_EQ(query->EngineVersion(), "3.30");
    EXPECT_TRUE(query->RequestLive());
    EXPECT_EQ(query->MaxRowCount(), -1);
    EXPECT_FALSE(query->AutoDisplayLabels());
    EXPECT_FALSE(query->CopyOnAppend());
    EXPECT_EQ(query->Params().Count(), 0);
    EXPECT_FALSE(query->Active());
  }
  EXPECT_EQ(module_.KuraQuery3.SQL()[0], "select * from tejun ");
  EXPECT_EQ(module_.DataSource2.DataSet(), &module_.KuraQuery2);
}

TEST_F(DataModuleTest, SmallestFreeProblemFindsTheFirstGap) {
  struct Case {
    std::vector<int> numbers;
    int expected;
  };
  const Case kCases[] = {
      {{1, 2, 4}, 3}, {{1, 2, 3}, 4}, {{}, 1},
      {{4, 2, 1}, 3}, {{1, 1, 2}, 3},  // a number listed twice is not a gap
      {{0, 1, 2}, 3},                  // nor a row numbered 0
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.numbers));
    database_ = kura::CreateProblemCollection();
    TDataModule1 module(database_);
    for (int hnb : c.numbers) AddProblem(1, hnb);
    AddProblem(0, 3);  // not listed (MNB 0): does not count
    EXPECT_EQ(module.SmallestFreeProblem(), c.expected);
  }
}

TEST_F(DataModuleTest, SmallestFreeLabelFindsTheFirstGap) {
  struct Case {
    std::vector<int> labels;
    int expected;
    bool stays_open;
  };
  const Case kCases[] = {
      {{1, 2, 4}, 3, true},
      {{2, 1}, 3, false},
      {{}, 1, false},
      {{1, 1, 2}, 3, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.labels));
    database_ = kura::CreateProblemCollection();
    TDataModule1 module(database_);
    AddMove(7, 0);
    for (int label : c.labels) AddMove(7, label);
    AddMove(8, 3);  // another problem's label
    EXPECT_EQ(module.SmallestFreeLabel(7), c.expected);
    EXPECT_EQ(module.KuraQuery3.Active(), c.stays_open);
  }
}

TEST_F(DataModuleTest, ListsAreNumberedInProblemOrder) {
  AddProblem(9, 30);
  AddProblem(8, 10);
  AddProblem(0, 20);  // registered, not yet numbered
  AddProblem(5, -1);  // not a registered problem
  module_.OpenProblemList(kRegisteredProblems);
  module_.RenumberProblems();
  EXPECT_THAT(ListColumn(mondai::kHNB), ElementsAre(10, 20, 30));
  EXPECT_THAT(ListColumn(mondai::kMNB), ElementsAre(1, 2, 3));
  ShowAllProblems(module_);
  EXPECT_THAT(ListColumn(mondai::kHNB), ElementsAre(-1, 10, 20, 30));
  EXPECT_THAT(ListColumn(mondai::kMNB), ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(module_.KuraQuery1.RecNo(), 1);
  EXPECT_EQ(module_.KuraQuery1.State(), kura::TDataSetState::dsBrowse);
}

TEST_F(DataModuleTest, SearchBuildsTheConditionFromTheSelectors) {
  AddProblem(1, 1, "活きる", "ハネ");
  AddProblem(2, 2, "活きる", "キリ");
  AddProblem(3, 3, "詰碁", "ハネ");
  struct Case {
    int major_index;
    std::string_view major;
    int minor_index;
    std::string_view minor;
    const char* condition;
    std::vector<int> expected;
  };
  const Case kCases[] = {
      {0, "全て", 0, "全て", "Where MNB > 0", {1, 2, 3}},
      {1, "活きる", 0, "全て", "Where KB1 = :KB1", {1, 2}},
      {0, "全て", 35, "ハネ", "Where KB2 = :KB2", {1, 3}},
      {1, "活きる", 35, "ハネ", "Where (KB1 = :KB1) and (KB2 = :KB2)", {1}},
      {-1, "typed", -1, "", "Where MNB > 0", {1, 2, 3}},  // nothing selected: 全て
      {22, "詰碁", 13, "キリ", "Where (KB1 = :KB1) and (KB2 = :KB2)", {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.condition);
    SearchBySelectors(module_, c.major_index, c.major, c.minor_index, c.minor);
    EXPECT_EQ(module_.KuraQuery1.SQL()[2], c.condition);
    EXPECT_EQ(module_.KuraQuery1.SQL()[3], "Order By HNB");
    EXPECT_EQ(ListColumn(mondai::kHNB), c.expected);
  }
  // Both 全て lists what 全問表示 lists.
  SearchBySelectors(module_, 0, "全て", 0, "全て");
  const std::vector<int> searched = ListColumn(mondai::kHNB);
  ShowAllProblems(module_);
  EXPECT_EQ(ListColumn(mondai::kHNB), searched);
}

TEST_F(DataModuleTest, MarkNashiStoresAnEmptyMark) {
  AddProblem(1, 1);
  module_.OpenProblemList(kRegisteredProblems);
  StoreMark(module_, "○");
  EXPECT_EQ(database_->Rows("mondai")[0][mondai::kMRK].Text, "\x81\x9B");
  EXPECT_EQ(FieldText(module_.KuraQuery1.Fields(mondai::kMRK)), "○");
  StoreMark(module_, kNoMark);
  EXPECT_TRUE(database_->Rows("mondai")[0][mondai::kMRK].IsNull);
  EXPECT_EQ(module_.KuraQuery1.Fields(mondai::kMRK).AsString(), "");
}

TEST_F(DataModuleTest, SequencesComeBackInAppendOrder) {
  for (int bfr : {0, 1, 0, 3, 2}) AddMove(4, bfr);
  AddMove(5, 1);
  module_.OpenSequences(4);
  std::vector<int> labels;
  for (; !module_.KuraQuery2.Eof(); module_.KuraQuery2.Next())
    labels.push_back(module_.KuraQuery2.Fields(tejun::kBFR).AsInteger());
  EXPECT_THAT(labels, ElementsAre(0, 1, 0, 3, 2));
  EXPECT_EQ(module_.KuraQuery2.Params()[0].AsInteger(), 4);
}

TEST(SelectorVocabularyTest, EveryTextSurvivesTheTables) {
  std::vector<std::string_view> texts(kMajorCategories.begin(), kMajorCategories.end());
  texts.insert(texts.end(), kMinorCategories.begin(), kMinorCategories.end());
  texts.insert(texts.end(), kMarks.begin(), kMarks.end());
  for (std::string_view text : texts) {
    SCOPED_TRACE(text);
    std::optional<std::string> stored = kura::TryUtf8ToCp932(text);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(kura::TryCp932ToUtf8(*stored), std::optional<std::string>(text));
  }
  EXPECT_EQ(kMajorCategories[0], kAnyCategory);
  EXPECT_EQ(kMinorCategories[0], kAnyCategory);
  EXPECT_EQ(kMarks[0], kNoMark);
  EXPECT_EQ(kMinorCategories[47], "その他");
}

TEST(InstallCollectionTest, MissingFolderIsAnEngineError) {
  EXPECT_THROW(InstallCollection("/nonexistent/DBgoramina"), kura::EKuraEngineError);
}

}  // namespace
}  // namespace goramina
