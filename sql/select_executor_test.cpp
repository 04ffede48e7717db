// Execution of SELECTs through a statement over tables on disk: live results are the base
// table, canned ones private result tables that go with the statement; parameters, row
// limits, the progress callback and table locks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/table_test_support.h"
#include "sql/query_database.h"
#include "sql/select_test_support.h"
#include "storage/field_types.h"

namespace kura {
namespace {

using testing::ReadRows;
using testing::TEngineSandbox;
using testing::TScratchFolder;

TFieldDescriptor IntegerField(const char* name) {
  return MakeFieldDescriptor(name, kFieldTypeInteger);
}

class SelectExecutorTest : public ::testing::Test {
 protected:
  SelectExecutorTest() : FSandbox(FFolder.Path() + "/"), FDatabase(FSandbox.Directory()) {
    FSandbox.Session().SetPrivateDir(FFolder.Path());
    TTableDefinition tejun;
    tejun.Fields = {IntegerField("TNB"), IntegerField("HNB"), IntegerField("BFR"),
                    MakeFieldDescriptor("CMT", kFieldTypeString, 20)};
    tejun.PrimaryIndex.Fields = {1};
    tejun.PrimaryIndex.Unique = true;
    TIndexDefinition byHnb;
    byHnb.Name = "ByHnb";
    byHnb.Fields = {2, 3};
    tejun.SecondaryIndexes.push_back(byHnb);
    TDataDirectory& directory = FSandbox.Directory();
    directory.CloseTable(directory.CreateTable("tejun", false, tejun, true));
    testing::InsertRows(directory, "tejun",
                        {"1 | 10 | 0 | a", "2 | 10 | 1 | b", "3 | 10 | 2 | c", "4 | 20 | 0 | d",
                         "5 | 20 | 1 | e", "6 | 30 | 0 | f"});
  }

  // Binds one integer parameter per value and executes.
  TDataCursor* ExecuteWith(TQueryStatement& statement, const std::vector<std::int32_t>& values) {
    std::vector<TFieldDescriptor> descriptors;
    std::vector<std::uint8_t> buffer;
    for (std::int32_t value : values) {
      TFieldDescriptor field = IntegerField("P");
      field.FieldOffset = static_cast<std::uint16_t>(buffer.size());
      field.PhysicalSize = 4;
      descriptors.push_back(field);
      buffer.push_back(1);
      std::uint8_t bytes[4];
      std::memcpy(bytes, &value, 4);  // the test host is little-endian, as the format
      buffer.insert(buffer.end(), bytes, bytes + 4);
    }
    return statement.Execute(static_cast<int>(values.size()), descriptors.data(), buffer.data(),
                             buffer.size());
  }

  std::size_t ResultFilesOnDisk() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FFolder.Path())) {
      if (entry.path().filename().string().rfind("KuraResult", 0) == 0) ++count;
    }
    return count;
  }

  TScratchFolder FFolder;
  TEngineSandbox FSandbox;
  TSqlDatabase FDatabase;
};

TEST_F(SelectExecutorTest, ATrainerStatementIsLiveAndFollowsNewParameterValues) {
  TQueryStatement statement(&FDatabase);
  statement.FRequestLive = true;
  statement.Prepare("Select * From tejun Where (HNB = ?) and (BFR > 0) order by HNB, BFR");
  ASSERT_TRUE(statement.FResultIsLive);
  TDataCursor* cursor = ExecuteWith(statement, {10});
  EXPECT_EQ(cursor, statement.FMasterQuery->FSourceTables.front().Cursor);
  EXPECT_EQ((std::vector<std::string>{"2 | 10 | 1 | b", "3 | 10 | 2 | c"}), ReadRows(*cursor));
  cursor = ExecuteWith(statement, {20});
  EXPECT_EQ((std::vector<std::string>{"5 | 20 | 1 | e"}), ReadRows(*cursor));
  EXPECT_EQ(1, statement.FMasterQuery->FRecordCount);
  EXPECT_EQ(1, statement.FRowsAffected);
}

TEST_F(SelectExecutorTest, ALiveResultEditsTheBaseTable) {
  TQueryStatement statement(&FDatabase);
  statement.FRequestLive = true;
  statement.Prepare("select * from tejun where HNB = 30");
  TDataCursor* cursor = statement.Execute();
  std::vector<std::uint8_t> record(cursor->RecordSize(), 0);
  cursor->First();
  ASSERT_EQ(0, cursor->GetNextRecord(record));
  ASSERT_EQ(0, cursor->GetCurrentRecord(record, true));
  cursor->SetField(4, record, "edited");
  cursor->PostEdit(record, true, true);

  TQueryStatement check(&FDatabase);
  check.Prepare("select CMT from tejun where TNB = 6");
  EXPECT_EQ((std::vector<std::string>{"edited"}), ReadRows(*check.Execute()));
}

TEST_F(SelectExecutorTest, ACannedResultIsAPrivateTableThatGoesWithTheStatement) {
  {
    TQueryStatement statement(&FDatabase);
    statement.FRequestLive = true;
    statement.Prepare("select * from tejun where BFR = 0 order by CMT desc");
    ASSERT_FALSE(statement.FResultIsLive);
    TDataCursor* cursor = statement.Execute();
    EXPECT_NE(cursor, statement.FMasterQuery->FSourceTables.front().Cursor);
    EXPECT_EQ((std::vector<std::string>{"6 | 30 | 0 | f", "4 | 20 | 0 | d", "1 | 10 | 0 | a"}),
              ReadRows(*cursor));
    std::size_t files = ResultFilesOnDisk();
    EXPECT_GT(files, 0u);
    statement.Execute();  // the result table of the first run goes
    EXPECT_EQ(files, ResultFilesOnDisk());
  }
  EXPECT_EQ(0u, ResultFilesOnDisk());
  EXPECT_TRUE(FSandbox.Directory().Tables().empty());
}

TEST_F(SelectExecutorTest, MaxRowCountKeepsTheFirstRowsFoundThenSorts) {
  TQueryStatement statement(&FDatabase);
  statement.FMaxRowCount = 2;
  statement.Prepare("select TNB from tejun");
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), ReadRows(*statement.Execute()));
  statement.Prepare("select TNB from tejun order by TNB desc");
  statement.FMaxRowCount = 2;
  statement.FMasterQuery->FMaxRowCount = 2;
  EXPECT_EQ((std::vector<std::string>{"2", "1"}), ReadRows(*statement.Execute()));
}

TEST_F(SelectExecutorTest, TopAfterOrderByKeepsTheEarliestOfEqualRows) {
  struct TCase {
    const char* Sql;
    std::vector<std::string> Rows;
  };
  const TCase cases[] = {
      {"select TNB, HNB from tejun order by HNB desc top 3", {"6 | 30", "4 | 20", "5 | 20"}},
      {"select TNB, BFR from tejun order by BFR top 4", {"1 | 0", "4 | 0", "6 | 0", "2 | 1"}},
      {"select TNB, BFR from tejun order by BFR desc, TNB desc top 2", {"3 | 2", "5 | 1"}},
      {"select TNB, HNB from tejun order by HNB top 0", {}},
      {"select TNB, HNB from tejun order by HNB desc top 10",
       {"6 | 30", "4 | 20", "5 | 20", "1 | 10", "2 | 10", "3 | 10"}},
  };
  for (const TCase& c : cases) {
    TQueryStatement statement(&FDatabase);
    statement.Prepare(c.Sql);
    EXPECT_EQ(c.Rows, ReadRows(*statement.Execute())) << c.Sql;
  }
}

// TOP n after ORDER BY must give the first n rows of the same statement without TOP, on
// values with many ties, NULLs and mixed case.
TEST_F(SelectExecutorTest, TopAfterOrderByMatchesTheHeadOfTheFullOrder) {
  TDataDirectory& directory = FSandbox.Directory();
  TTableDefinition definition;
  definition.Fields = {IntegerField("ID"), IntegerField("A"),
                       MakeFieldDescriptor("S", kFieldTypeString, 8)};
  directory.CloseTable(directory.CreateTable("ties", false, definition, true));
  std::mt19937 random(4711);
  const char* words[] = {"ab", "AB", "b", "Ba", "NULL"};
  std::vector<std::string> lines;
  for (int id = 1; id <= 300; ++id) {
    std::string a = random() % 6 == 0 ? "NULL" : std::to_string(random() % 7);
    lines.push_back(std::to_string(id) + " | " + a + " | " + words[random() % 5]);
  }
  testing::InsertRows(directory, "ties", lines);
  const char* orders[] = {"A", "A desc", "S", "S desc, A", "A, S desc", "S desc"};
  for (int round = 0; round < 24; ++round) {
    std::string order = orders[round % 6];
    std::string nocase = round % 4 == 3 ? " nocase" : "";
    std::string base = "select ID, A, S from ties order by " + order + nocase;
    int top = static_cast<int>(random() % 40);
    TQueryStatement full(&FDatabase);
    full.Prepare(base);
    std::vector<std::string> expected = ReadRows(*full.Execute());
    expected.resize(std::min<std::size_t>(expected.size(), static_cast<std::size_t>(top)));
    TQueryStatement limited(&FDatabase);
    limited.Prepare(base + " top " + std::to_string(top));
    EXPECT_EQ(expected, ReadRows(*limited.Execute())) << base << " top " << top;
  }
}

int AbortAtOnce(TQueryStatement*, int, void* calls) {
  ++*static_cast<int*>(calls);
  return 1;
}

TEST_F(SelectExecutorTest, AbortingThroughProgressKeepsTheRowsSoFar) {
  FSandbox.Session().SetProgressSteps(100);
  TQueryStatement statement(&FDatabase);
  int calls = 0;
  statement.FProgress = AbortAtOnce;
  statement.FProgressData = &calls;
  statement.Prepare("select TNB from tejun");
  EXPECT_EQ((std::vector<std::string>{"1"}), ReadRows(*statement.Execute()));
  EXPECT_EQ(1, calls);
}

TEST_F(SelectExecutorTest, WithLocksReleasesTheTableLockAfterSuccessAndFailure) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("select TNB from tejun where TNB in (select TNB from tejun) with locks");
  EXPECT_EQ(6u, ReadRows(*statement.Execute()).size());
  // A writer of another process gets through: nothing is left locked.
  int answer = testing::RunInAnotherProcess(FFolder.Path() + "/", [](TEngineSandbox& sandbox) {
    testing::InsertRows(sandbox.Directory(), "tejun", {"7 | 40 | 0 | g"});
  });
  EXPECT_EQ(0, answer);
  statement.Prepare("select TNB / 0 from tejun with locks");
  statement.Execute();
  answer = testing::RunInAnotherProcess(FFolder.Path() + "/", [](TEngineSandbox& sandbox) {
    testing::InsertRows(sandbox.Directory(), "tejun", {"8 | 40 | 0 | h"});
  });
  EXPECT_EQ(0, answer);
}

TEST_F(SelectExecutorTest, StatementsThatDoNotReturnRowsAreRefusedForNow) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("delete from tejun");
  EXPECT_THROW(statement.Execute(), EKuraEngineError);
}

}  // namespace
}  // namespace kura
