// Preparation against tables in other directories and in memory, and the lifetime of the
// cursors it opens: they stay open while the statement is prepared and close with it.
#include <gtest/gtest.h>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/table_test_support.h"
#include "sql/query_database.h"
#include "storage/field_types.h"

namespace kura {
namespace {

using testing::SmallTable;
using testing::TEngineSandbox;
using testing::TScratchFolder;

void CreateTable(TDataDirectory& directory, const std::string& name) {
  TDataTable& table = directory.CreateTable(name, directory.IsInMemory(), SmallTable(), true);
  directory.CloseTable(table);
}

class QueryBinderTest : public ::testing::Test {
 protected:
  QueryBinderTest() : FSandbox(FFolder.Path() + "/"), FDatabase(FSandbox.Directory()) {
    CreateTable(FSandbox.Directory(), "t");
    CreateTable(FSandbox.Directory(), "u");
  }

  TDataSession& Session() { return FSandbox.Session(); }
  // The engine error code the statement's preparation raises; 0 when it succeeds.
  static int PrepareError(TQueryStatement& statement, const std::string& sql) {
    try {
      statement.Prepare(sql);
    } catch (const EKuraEngineError& e) {
      return e.ErrorCode;
    }
    return 0;
  }
  std::size_t OpenTables() { return FSandbox.Directory().Tables().size(); }

  TScratchFolder FFolder;
  TEngineSandbox FSandbox;
  TSqlDatabase FDatabase;
};

TEST_F(QueryBinderTest, StatementsRegisterWithTheirDatabase) {
  {
    TQueryStatement first(&FDatabase);
    TQueryStatement second(&FDatabase);
    EXPECT_EQ(2u, FDatabase.Statements().size());
  }
  EXPECT_TRUE(FDatabase.Statements().empty());
}

TEST_F(QueryBinderTest, SourceCursorsLiveAsLongAsThePreparedStatement) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("select * from t, u x");
  EXPECT_EQ(2u, OpenTables());
  const TSourceTable& x = statement.FMasterQuery->FSourceTables[1];
  ASSERT_NE(nullptr, x.Cursor);
  EXPECT_EQ("u", x.Cursor->TableName());
  EXPECT_TRUE(x.Cursor->IsOpen());
  EXPECT_EQ(kRecordOrderIndexNo, x.Cursor->IndexNo());
  EXPECT_FALSE(x.Cursor->Exclusive());
  statement.Unprepare();
  EXPECT_EQ(0u, OpenTables());
}

TEST_F(QueryBinderTest, EachStatementOfATextHoldsOnlyItsOwnTables) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("select * from t; select * from u;");
  ASSERT_EQ(1u, OpenTables());
  EXPECT_EQ("t", FSandbox.Directory().Tables().front()->TableName());
  ASSERT_TRUE(statement.HasMoreStatements());
  statement.PrepareNext();
  ASSERT_EQ(1u, OpenTables());
  EXPECT_EQ("u", FSandbox.Directory().Tables().front()->TableName());
  EXPECT_FALSE(statement.HasMoreStatements());
}

TEST_F(QueryBinderTest, AFailedPreparationClosesWhatItOpened) {
  TQueryStatement statement(&FDatabase);
  EXPECT_EQ(11949, PrepareError(statement, "select t.ID, u.ID, nope from t, u"));
  EXPECT_EQ(nullptr, statement.FMasterQuery);
  EXPECT_EQ(0u, OpenTables());
  // The statement can be prepared again afterwards.
  statement.Prepare("select ID from t");
  EXPECT_EQ(1u, OpenTables());
}

TEST_F(QueryBinderTest, ATableHeldExclusivelyElsewhereRaisesItsOpenError) {
  TDataTable& held = FSandbox.Directory().OpenTable("u", false, true);
  TQueryStatement statement(&FDatabase);
  EXPECT_EQ(11013, PrepareError(statement, "select * from t, u"));
  EXPECT_EQ(1u, OpenTables());  // only the table held here
  FSandbox.Directory().CloseTable(held);
}

TEST_F(QueryBinderTest, ADirectoryPartOpensTheTableThereForAsLongAsTheStatement) {
  TScratchFolder other;
  TDataDirectory& directory = Session().OpenDirectory("Other", other.Path());
  CreateTable(directory, "far");
  Session().CloseDirectory(&directory);
  ASSERT_EQ(1u, Session().Directories().size());

  TQueryStatement statement(&FDatabase);
  statement.Prepare("select f.NAME from \"" + other.Path() + "\"\\far f where f.ID > 1");
  const TSourceTable& far = statement.FMasterQuery->FSourceTables.front();
  ASSERT_NE(nullptr, far.Cursor);
  EXPECT_EQ(other.Path() + "/", far.Cursor->Directory().Path());
  EXPECT_EQ(2u, Session().Directories().size());
  EXPECT_EQ(2, statement.FMasterQuery->FResultFields.front().SourceFieldNo);
  statement.Unprepare();
  EXPECT_EQ(1u, Session().Directories().size());
}

TEST_F(QueryBinderTest, MemoryTablesOpenInTheInMemoryDatabase) {
  TDataDirectory& memory = Session().OpenDirectory("Memory", "");
  CreateTable(memory, "t");  // the same name as a table on disk
  {
    TQueryStatement statement(&FDatabase);
    statement.Prepare("select * from memory t, t disk");
    const auto& sources = statement.FMasterQuery->FSourceTables;
    EXPECT_TRUE(sources[0].Cursor->InMemory());
    EXPECT_TRUE(sources[0].Cursor->Directory().IsInMemory());
    EXPECT_FALSE(sources[1].Cursor->InMemory());
    EXPECT_EQ(2, memory.RefCount());
    EXPECT_EQ(1u, memory.Tables().size());
  }
  EXPECT_EQ(1, memory.RefCount());
  EXPECT_TRUE(memory.Tables().empty());
  Session().CloseDirectory(&memory);
}

TEST_F(QueryBinderTest, OnlyTheChangedTableIsOpenedForWriting) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("delete from t join u on u.ID = t.ID where u.NAME = 'a'");
  const auto& sources = statement.FMasterQuery->FSourceTables;
  EXPECT_FALSE(sources[0].Cursor->ReadOnly());
  EXPECT_TRUE(sources[1].Cursor->ReadOnly());
}

TEST_F(QueryBinderTest, ALiveResultCursorTakesTheIndexServingOrderBy) {
  TTableDefinition definition = SmallTable();
  TIndexDefinition byId;
  byId.Name = "ById";
  byId.Fields = {1};
  definition.SecondaryIndexes.push_back(byId);
  TDataTable& rows = FSandbox.Directory().CreateTable("rows", false, definition, true);
  FSandbox.Directory().CloseTable(rows);
  TQueryStatement statement(&FDatabase);
  statement.FRequestLive = true;
  statement.Prepare("select * from rows order by ID");
  EXPECT_TRUE(statement.FResultIsLive);
  const TDataCursor& cursor = *statement.FMasterQuery->FSourceTables.front().Cursor;
  EXPECT_EQ(1, cursor.IndexNo());
  EXPECT_EQ("ById", cursor.IndexName());
  // Without an ORDER BY the cursor keeps record-number order.
  statement.Prepare("select * from rows where ID > 2");
  EXPECT_TRUE(statement.FResultIsLive);
  EXPECT_EQ(kRecordOrderIndexNo, statement.FMasterQuery->FSourceTables.front().Cursor->IndexNo());
  statement.FRequestLive = false;
  statement.Prepare("select * from rows order by ID");
  EXPECT_FALSE(statement.FResultIsLive);
}

TEST_F(QueryBinderTest, ExpandedStarsCountTowardsTheColumnLimits) {
  TTableDefinition wide;
  for (int i = 0; i < 300; ++i) {
    TFieldDescriptor field;
    field.FieldName = std::string("C").append(std::to_string(i));
    field.FieldType = kFieldTypeInteger;
    wide.Fields.push_back(field);
  }
  FSandbox.Directory().CloseTable(FSandbox.Directory().CreateTable("wide", false, wide, true));
  TQueryStatement statement(&FDatabase);
  statement.Prepare("select *, w.*, * from wide w order by 900");
  EXPECT_EQ(900u, statement.FMasterQuery->FResultFields.size());
  EXPECT_EQ(900, statement.FMasterQuery->FOrderBy.front().ResultColumn);
  try {
    statement.Prepare("select *, *, *, * from wide");
    FAIL() << "prepared";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ("Maximum number of columns (1024) in result set exceeded", e.ErrorText);
  }
  try {
    statement.Prepare("select *, * from wide order by 601");
    FAIL() << "prepared";
  } catch (const EKuraEngineError& e) {
    EXPECT_EQ("Invalid column number '601' specified in ORDER BY clause", e.ErrorText);
  }
  EXPECT_EQ(0u, OpenTables());
}

TEST_F(QueryBinderTest, DefinitionStatementsOpenNoTable) {
  TQueryStatement statement(&FDatabase);
  statement.Prepare("drop table t");
  EXPECT_EQ(0u, OpenTables());
  EXPECT_EQ(nullptr, statement.FMasterQuery->FSourceTables.front().Cursor);
}

}  // namespace
}  // namespace kura
