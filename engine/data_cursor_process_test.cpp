// A cursor while another process changes its table: a forked child inserts and deletes rows
// through a session and file list of its own, the way a writer does, while the parent's
// cursor stands on a record.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::InsertRow;
using testing::NameOf;
using testing::RowsTable;
using testing::TEngineSandbox;
using testing::TScratchFolder;

class DataCursorProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    sandbox->CountPauses();
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("T", false, RowsTable(), false));
    cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("T");
    cursor->Open();
    std::int32_t id = 1;
    for (const char* name : {"B", "D", "F"}) InsertRow(*cursor->Table(), id++, name);
  }

  // Runs change in a child with its own sandbox on the folder and waits until it is done.
  void InAnotherProcess(const std::function<void(TDataTable&)>& change) {
    ASSERT_EQ(testing::RunInAnotherProcess(folder.Path(),
                                           [&](TEngineSandbox& box) {
                                             TDataTable& table =
                                                 box.Directory().OpenTable("T", false, false);
                                             change(table);
                                             box.Directory().CloseTable(table);
                                           }),
              0);
  }

  std::string Next() {
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    const std::uint16_t answer = cursor->GetNextRecord(buffer);
    return answer == 0 ? NameOf(*cursor, buffer) : std::to_string(answer);
  }
  std::string Current() {
    std::vector<std::uint8_t> buffer(cursor->RecordSize());
    const std::uint16_t answer = cursor->GetCurrentRecord(buffer);
    return answer == 0 ? NameOf(*cursor, buffer) : std::to_string(answer);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  std::unique_ptr<TDataCursor> cursor;
};

TEST_F(DataCursorProcessTest, StrictlyTheNextRecordFollowsAfterAnInsertBeforeIt) {
  sandbox->Session().SetStrictChangeDetection(true);
  ASSERT_TRUE(cursor->SetRecNo(2));
  ASSERT_EQ(Current(), "D");
  InAnotherProcess([](TDataTable& table) { InsertRow(table, 9, "A"); });
  EXPECT_EQ(Next(), "F");
  EXPECT_EQ(cursor->RecNo(), 4) << "one more record before it";
  EXPECT_EQ(cursor->RecordCount(), 4);
  EXPECT_FALSE(cursor->Table()->ReadLocked()) << "each step released its read lock";
  cursor->First();
  EXPECT_EQ(Next(), "A");
}

TEST_F(DataCursorProcessTest, LazilyARefreshOrACacheMissSeesTheChange) {
  ASSERT_TRUE(cursor->SetRecNo(2));
  InAnotherProcess([](TDataTable& table) { InsertRow(table, 9, "A"); });
  cursor->Refresh();
  EXPECT_EQ(Current(), "D");
  EXPECT_EQ(cursor->RecNo(), 3);

  InAnotherProcess([](TDataTable& table) { InsertRow(table, 10, "C"); });
  // The pages went out of the cache: the next page read takes the read lock, sees the
  // change, and the step runs again from the re-synchronised record.
  cursor->Table()->Index().DiscardPages();
  cursor->Table()->Data().RecordCache().Discard();
  EXPECT_EQ(Next(), "F");
  EXPECT_EQ(cursor->RecNo(), 5);
  EXPECT_FALSE(cursor->Table()->ReadLocked()) << "the step's EndRead released the lock";
}

TEST_F(DataCursorProcessTest, LazilyARecordReadThatMissesTheCacheSeesTheChange) {
  cursor->SetIndexNo(kRecordOrderIndexNo);
  cursor->Last();
  ASSERT_EQ(cursor->GetPriorRecord({}), 0);  // on F, the last record
  InAnotherProcess([](TDataTable& table) { InsertRow(table, 9, "G"); });
  // Only the record goes out of the cache: its read takes the read lock, re-reads the
  // headers and still answers the record; the next step re-synchronises and finds G.
  cursor->Table()->Data().RecordCache().Discard();
  EXPECT_EQ(Current(), "F");
  EXPECT_EQ(Next(), "G");
  EXPECT_EQ(cursor->RecordCount(), 4);
}

TEST_F(DataCursorProcessTest, ARecordDeletedElsewhereIsPassedOver) {
  sandbox->Session().SetStrictChangeDetection(true);
  ASSERT_TRUE(cursor->SetRecNo(1));
  InAnotherProcess([](TDataTable& table) { testing::DeleteRow(table, 2); });
  EXPECT_EQ(Next(), "F");
  EXPECT_EQ(cursor->RecNo(), 2);
  EXPECT_EQ(cursor->RecordCount(), 2);
}

// With the bitmaps in use (filtering on, a range B..E), another process's insert inside the
// range and delete outside it reach InRange, Live and Visible at the next step.
TEST_F(DataCursorProcessTest, TheBitmapsAreRebuiltAfterAnotherProcessesChange) {
  sandbox->Session().SetStrictChangeDetection(true);
  TDataCursorTestAccess::SetFiltered(*cursor, true);
  cursor->SetRange(false, testing::RowImage(*cursor, 0, "B"), 0, testing::RowImage(*cursor, 0, "E"),
                   0);
  ASSERT_EQ(cursor->VisibleCount(), 2);  // B, D
  ASSERT_TRUE(cursor->SetRecNo(1));
  ASSERT_EQ(Current(), "B");
  InAnotherProcess([](TDataTable& table) {
    InsertRow(table, 9, "C");
    testing::DeleteRow(table, 3);  // F
  });
  EXPECT_EQ(Next(), "C");
  EXPECT_EQ(cursor->RecordCount(), 3);
  EXPECT_EQ(cursor->VisibleCount(), 3);
  EXPECT_FALSE(cursor->LiveRecords().IsSet(3));
  EXPECT_TRUE(cursor->InRangeRecords().IsSet(4)) << "C, the new record";
  EXPECT_TRUE(cursor->VisibleRecords().IsSet(4));
  EXPECT_EQ(Next(), "D");
  EXPECT_EQ(Next(), "8706");
}

}  // namespace
}  // namespace kura
