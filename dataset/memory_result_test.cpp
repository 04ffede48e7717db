// The in-memory collection's results against the provider conformance suite, and what only
// the in-memory collection promises.
#include "dataset/memory_result.h"

#include <gtest/gtest.h>

#include "dataset/memory_database.h"
#include "dataset/result_conformance.h"

namespace kura {
namespace {

class MemoryBackend : public TConformanceBackend {
 public:
  void CreateTable(std::string_view name, const std::vector<TFieldDef>& fields) override {
    database_->CreateTable(name, fields);
  }
  void AppendRow(std::string_view name, const TRecord& values) override {
    database_->AppendRow(name, values);
  }
  std::shared_ptr<TQueryProvider> Provider() override { return database_; }

 private:
  std::shared_ptr<TMemoryDatabase> database_ = std::make_shared<TMemoryDatabase>();
};

INSTANTIATE_TEST_SUITE_P(Memory, ResultConformance,
                         ::testing::Values(TConformanceParam{
                             "Memory", [] { return std::make_unique<MemoryBackend>(); }}),
                         [](const auto& info) { return info.param.Name; });

// The behaviours the application relies on that the engine will not give (memory_result.h).
class MemoryOnlyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_->CreateTable(
        "T", {{"K", TFieldType::ftInteger, 0, 0}, {"V", TFieldType::ftInteger, 0, 0}});
    for (int k : {3, 1, 2})
      database_->AppendRow("T", {TFieldValue::OfInteger(k), TFieldValue::OfInteger(k * 10)});
  }

  std::shared_ptr<TMemoryDatabase> database_ = std::make_shared<TMemoryDatabase>();
};

TEST_F(MemoryOnlyTest, EveryLiveRequestIsLiveAndTrimmed) {
  // Ordered by a field no index would serve, and cut by MaxRowCount, yet live.
  std::unique_ptr<TPreparedQuery> statement =
      database_->Prepare("Select * From T Order By V Desc", {true, 2});
  std::unique_ptr<TResultCursor> result = statement->Execute({});
  EXPECT_FALSE(result->IsReadOnly());
  EXPECT_EQ(result->RecordCount(), 2);
  TRecord row;
  result->First();
  ASSERT_EQ(result->GetNextRecord(row), TFetchResult::kOk);
  EXPECT_EQ(row[0].Integer, 3);
  result->BeginEdit(row);
  row[1] = TFieldValue::OfInteger(5);  // moves to the end of the order
  EXPECT_EQ(result->PostEdit(row), TPostAnswer::kInResult);
  EXPECT_EQ(result->RecNo(), 3);
}

TEST_F(MemoryOnlyTest, WithoutOrderByRowsComeInAppendOrder) {
  std::unique_ptr<TPreparedQuery> statement = database_->Prepare("Select * From T", {true, -1});
  std::unique_ptr<TResultCursor> result = statement->Execute({});
  std::vector<std::int64_t> keys;
  TRecord row;
  result->First();
  while (result->GetNextRecord(row) == TFetchResult::kOk) keys.push_back(row[0].Integer);
  EXPECT_EQ(keys, (std::vector<std::int64_t>{3, 1, 2}));
}

}  // namespace
}  // namespace kura
