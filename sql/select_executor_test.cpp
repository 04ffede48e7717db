// Execution of SELECTs through a statement over tables on disk: live results are the base
// table, canned ones private result tables that go with the statement; parameters, row
// limits, the progress callback and table locks.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

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
