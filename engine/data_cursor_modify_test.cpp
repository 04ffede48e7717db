// Changing records through cursors on real table files: refused changes that leave the files
// byte for byte as they were, slot reuse and "Sys Deleted", the record locks of two cursors
// under both protocols, edits that touch no index, validity checks and defaults, deletes and
// the cursor's place afterwards, row numbers kept, and the bitmaps of a filtered cursor.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/blob_cursor_test_support.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/modify_test_support.h"
#include "engine/table_locks.h"
#include "engine/table_test_support.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::CurrentBuffer;
using testing::kByCodeSlot;
using testing::ModifyTable;
using testing::NewRowBuffer;
using testing::RaisedCode;
using testing::ReadWholeFile;
using testing::RowOf;
using testing::TableFileBytes;
using testing::TEngineSandbox;
using testing::TModifyRow;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

// The engine error a call raises (an error with code 0 when it raises none).
template <typename Call>
EKuraEngineError RaisedError(Call call) {
  try {
    call();
  } catch (const EKuraEngineError& error) {
    return error;
  }
  return EKuraEngineError(0);
}

class DataCursorModifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    sandbox->CountPauses(4);
    sandbox->Session().SetLockRetryCount(1);
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("T", false, ModifyTable(), false));
  }

  std::unique_ptr<TDataCursor> OpenCursor() {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName("T");
    cursor->Open();
    return cursor;
  }

  static void Insert(TDataCursor& cursor, const TModifyRow& row) {
    TBuffer buffer = NewRowBuffer(cursor, row);
    cursor.PostInsert(buffer, true);
  }

  // Moves the cursor onto the row with this ID (primary index order).
  static void Goto(TDataCursor& cursor, std::int32_t id) {
    TBuffer key(cursor.RecordSize(), 0);
    std::uint8_t value[4];
    PutI32LE(value, id);
    cursor.SetField(1, key, value);
    ASSERT_TRUE(cursor.FindKey(false, key, {}, 0, false, 0)) << id;
  }

  static std::vector<std::int32_t> Ids(TDataCursor& cursor) {
    std::vector<std::int32_t> ids;
    cursor.First();
    TBuffer buffer(cursor.RecordSize());
    while (cursor.GetNextRecord(buffer) == 0) ids.push_back(RowOf(cursor, buffer).Id);
    return ids;
  }

  std::string Files() { return TableFileBytes(folder.Path(), "T"); }

  // Two cursors on the record with ID 5 of six.
  std::pair<std::unique_ptr<TDataCursor>, std::unique_ptr<TDataCursor>> TwoCursorsOnRecordFive() {
    auto a = OpenCursor();
    for (std::int32_t id = 1; id <= 6; ++id) Insert(*a, {id, "N", testing::Numbered("C", id), 10});
    auto b = OpenCursor();
    Goto(*a, 5);
    Goto(*b, 5);
    return {std::move(a), std::move(b)};
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

TEST_F(DataCursorModifyTest, RefusedInsertsAndEditsLeaveTheFilesAsTheyWere) {
  auto cursor = OpenCursor();
  Insert(*cursor, {1, "Ann", "A1", 10});
  Insert(*cursor, {2, "Bob", "B1", 20});
  const std::string before = Files();
  struct TCase {
    const char* What;
    TModifyRow Row;
    std::uint16_t Code;
    const char* Name;  // index or field named
  } cases[] = {
      {"unique secondary key", {3, "Cy", "B1", 30}, codes::kDuplicateKey, "ByCode"},
      {"primary key", {2, "Cy", "C1", 30}, codes::kDuplicateKey, ""},
      {"required name", {3, "", "C1", 30}, codes::kValueRequired, "NAME"},
      {"blanks are NULL", {3, "   ", "C1", 30}, codes::kValueRequired, "NAME"},
      {"below minimum", {3, "Cy", "C1", 9}, codes::kBelowMinimum, "QTY"},
      {"above maximum", {3, "Cy", "C1", 101}, codes::kAboveMaximum, "QTY"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TBuffer buffer = NewRowBuffer(*cursor, c.Row);
    const EKuraEngineError error = RaisedError([&] { cursor->PostInsert(buffer, true); });
    EXPECT_EQ(error.ErrorCode, c.Code);
    EXPECT_EQ(error.ErrorTableName, "T");
    const std::string& named =
        c.Code == codes::kDuplicateKey ? error.ErrorIndexName : error.ErrorFieldName;
    EXPECT_EQ(named, c.Name);
    EXPECT_TRUE(Files() == before);
    EXPECT_EQ(cursor->RecordCount(), 2);
    EXPECT_EQ(cursor->LockedRecNo(), 0);
    EXPECT_FALSE(cursor->Table()->WriteLocked());
    EXPECT_TRUE(cursor->Table()->LockedRecords().empty());
  }
  // An edit of Ann to Bob's code is refused the same way, and Ann can still be edited.
  Goto(*cursor, 1);
  TBuffer ann = CurrentBuffer(*cursor);
  ASSERT_EQ(cursor->GetCurrentRecord(ann, true), 0);
  TBuffer edited = ann;
  testing::FillRow(*cursor, edited, {1, "Ann", "B1", 10});
  EXPECT_EQ(RaisedCode([&] { cursor->PostEdit(edited, true, true); }), codes::kDuplicateKey);
  EXPECT_TRUE(Files() == before);
  testing::FillRow(*cursor, edited, {1, "Ann", "A2", 10});
  cursor->PostEdit(edited, true, true);
  EXPECT_EQ(RowOf(*cursor, CurrentBuffer(*cursor)).Code, "A2");
  EXPECT_EQ(cursor->LockedRecNo(), 0);
}

TEST_F(DataCursorModifyTest, ReusedSlotMovesItsSysDeletedKeyToTheLiveGroup) {
  auto cursor = OpenCursor();
  for (std::int32_t id = 1; id <= 3; ++id)
    Insert(*cursor, {id, "N", testing::Numbered("C", id), 10});
  TDataTable& table = *cursor->Table();
  Goto(*cursor, 2);
  const std::int32_t freed = cursor->PhysicalRecordNo();
  const std::int32_t oldRowId = RowId(cursor->Record());
  cursor->DeleteRecord(CurrentBuffer(*cursor), true);
  EXPECT_EQ(table.Index().LiveRecordCount(), 2);
  EXPECT_EQ(table.Data().FirstFree(), freed);

  // "Sys Deleted" order: the live group (flag 0) first, then the deleted one.
  cursor->SetIndexNo(kSysDeletedSlot);
  TBuffer last(cursor->RecordSize());
  cursor->Last();
  ASSERT_EQ(cursor->GetPriorRecord(last), 0);
  EXPECT_TRUE(IsDeleted(last));
  EXPECT_EQ(RowId(last), oldRowId);
  cursor->SetIndexNo(kPrimaryIndexSlot);

  Insert(*cursor, {4, "N", "C4", 10});
  EXPECT_EQ(cursor->PhysicalRecordNo(), freed);
  EXPECT_EQ(table.Data().RecordCount(), 3);  // the file did not grow
  EXPECT_EQ(table.Data().FirstFree(), 0);
  EXPECT_EQ(table.Index().LiveRecordCount(), 3);
  const std::int32_t newRowId = RowId(cursor->Record());
  EXPECT_GT(newRowId, oldRowId);
  cursor->SetIndexNo(kSysDeletedSlot);
  TBuffer buffer(cursor->RecordSize());
  int live = 0;
  cursor->First();
  while (cursor->GetNextRecord(buffer) == 0) {
    EXPECT_FALSE(IsDeleted(buffer));
    ++live;
  }
  EXPECT_EQ(live, 3);
  for (int slot : {kPrimaryIndexSlot, kByCodeSlot, testing::kByNameSlot, kSysDeletedSlot})
    EXPECT_TRUE(table.Index().CheckTree(slot).Ok()) << slot;
}

TEST_F(DataCursorModifyTest, PessimisticEditLockKeepsOtherCursorsOutUntilPosted) {
  auto [a, b] = TwoCursorsOnRecordFive();
  TBuffer aRecord = CurrentBuffer(*a);
  TBuffer bRecord = CurrentBuffer(*b);
  ASSERT_EQ(a->GetCurrentRecord(aRecord, true), 0);
  EXPECT_EQ(a->LockedRecNo(), a->PhysicalRecordNo());
  EXPECT_EQ(RaisedCode([&] { b->GetCurrentRecord(bRecord, true); }), codes::kRecordInUse);
  EXPECT_EQ(RaisedCode([&] { b->DeleteRecord(bRecord, true); }), codes::kRecordInUse);
  EXPECT_EQ(b->LockedRecNo(), 0);

  testing::FillRow(*a, aRecord, {5, "Five", "C5", 55});
  a->PostEdit(aRecord, true, true);
  EXPECT_EQ(a->LockedRecNo(), 0);
  // B's copy is out of date: its edit start says so and gives the lock back.
  EXPECT_EQ(RaisedCode([&] { b->GetCurrentRecord(bRecord, true); }), codes::kRecordChanged);
  EXPECT_EQ(b->LockedRecNo(), 0);
  bRecord = CurrentBuffer(*b);
  EXPECT_EQ(RowOf(*b, bRecord).Qty, 55);
  ASSERT_EQ(b->GetCurrentRecord(bRecord, true), 0);
  testing::FillRow(*b, bRecord, {5, "Five", "C5", 56});
  b->PostEdit(bRecord, true, true);
  EXPECT_EQ(RowOf(*a, CurrentBuffer(*a)).Qty, 56);

  // A cancelled edit gives its lock back.
  ASSERT_EQ(a->GetCurrentRecord(aRecord = CurrentBuffer(*a), true), 0);
  a->CancelEdit();
  EXPECT_EQ(a->LockedRecNo(), 0);
  EXPECT_TRUE(a->Table()->LockedRecords().empty());
}

TEST_F(DataCursorModifyTest, OptimisticConflictLatchesUntilCancel) {
  sandbox->Session().SetLockProtocol(TRecordLockProtocol::lpOptimistic);
  auto [a, b] = TwoCursorsOnRecordFive();
  TBuffer aRecord = CurrentBuffer(*a);
  TBuffer bRecord = CurrentBuffer(*b);
  ASSERT_EQ(a->GetCurrentRecord(aRecord, true), 0);
  ASSERT_EQ(b->GetCurrentRecord(bRecord, true), 0);
  EXPECT_EQ(a->LockedRecNo(), 0);  // no lock outside the post
  testing::FillRow(*a, aRecord, {5, "N", "C5", 50});
  a->PostEdit(aRecord, true, true);
  EXPECT_TRUE(a->Table()->LockedRecords().empty());

  testing::FillRow(*b, bRecord, {5, "N", "C5", 60});
  const std::string afterA = Files();
  EXPECT_EQ(RaisedCode([&] { b->PostEdit(bRecord, true, true); }), codes::kRecordChanged);
  EXPECT_TRUE(b->OptimisticConflict());
  // Even with a buffer made from the record as it is now, the edit stays refused.
  TBuffer fresh = CurrentBuffer(*b);
  testing::FillRow(*b, fresh, {5, "N", "C5", 60});
  EXPECT_EQ(RaisedCode([&] { b->PostEdit(fresh, true, true); }), codes::kRecordChanged);
  EXPECT_TRUE(Files() == afterA);
  b->CancelEdit();
  EXPECT_FALSE(b->OptimisticConflict());
  fresh = CurrentBuffer(*b);
  ASSERT_EQ(b->GetCurrentRecord(fresh, true), 0);
  testing::FillRow(*b, fresh, {5, "N", "C5", 60});
  b->PostEdit(fresh, true, true);
  EXPECT_EQ(RowOf(*a, CurrentBuffer(*a)).Qty, 60);
  EXPECT_TRUE(a->Table()->LockedRecords().empty());
}

TEST_F(DataCursorModifyTest, EditWithoutKeyChangeLeavesTheIndexFileAlone) {
  auto cursor = OpenCursor();
  for (std::int32_t id = 1; id <= 50; ++id)
    Insert(*cursor, {id, testing::Numbered("Name", id % 7), testing::Numbered("C", id), 10});
  auto other = OpenCursor();
  Goto(*other, 30);
  const TChangeCounters counters = cursor->ChangeCounters();
  const std::string index = ReadWholeFile(folder.File("T.IDX"));
  Goto(*cursor, 30);
  TBuffer record = CurrentBuffer(*cursor);
  ASSERT_EQ(cursor->GetCurrentRecord(record, true), 0);
  testing::FillRow(*cursor, record, {30, "Name2", "C30", 77});
  cursor->PostEdit(record, true, true);
  EXPECT_TRUE(ReadWholeFile(folder.File("T.IDX")) == index);
  EXPECT_NE(cursor->ChangeCounters().Data, counters.Data);
  EXPECT_EQ(cursor->ChangeCounters().Index, counters.Index);
  EXPECT_EQ(RowOf(*other, CurrentBuffer(*other)).Qty, 77);  // seen on its next step

  // A key change does touch the index, and the other cursor follows the record.
  ASSERT_EQ(cursor->GetCurrentRecord(record, true), 0);
  testing::FillRow(*cursor, record, {30, "Name2", "Z30", 77});
  cursor->PostEdit(record, true, true);
  EXPECT_FALSE(ReadWholeFile(folder.File("T.IDX")) == index);
  EXPECT_NE(cursor->ChangeCounters().Index, counters.Index);
  other->SetIndexName("ByCode");
  other->Last();
  TBuffer last(other->RecordSize());
  ASSERT_EQ(other->GetPriorRecord(last), 0);
  EXPECT_EQ(RowOf(*other, last).Code, "Z30");
}

TEST_F(DataCursorModifyTest, ValidityChecksAndDefaultsOfNewRecords) {
  auto cursor = OpenCursor();
  const TNow before = CurrentLocalDateTime();
  TBuffer buffer(cursor->RecordSize(), 0xAB);
  cursor->InitNewRecord(buffer);
  const TNow after = CurrentLocalDateTime();
  std::uint8_t day[4] = {};
  ASSERT_FALSE(GetField(buffer, cursor->GetFieldDesc("DAY").Descriptor, day));
  EXPECT_GE(GetI32LE(day), before.Date);
  EXPECT_LE(GetI32LE(day), after.Date);
  EXPECT_TRUE(GetField(buffer, cursor->GetFieldDesc("NAME").Descriptor));  // no default: NULL
  EXPECT_EQ(RowId(buffer), 0);

  // The minimum 10 refuses 9 and takes 10; the maximum 100 takes 100.
  testing::FillRow(*cursor, buffer, {1, "A", "A", 9});
  EXPECT_EQ(RaisedCode([&] { cursor->ValidateRecord(buffer); }), codes::kBelowMinimum);
  testing::FillRow(*cursor, buffer, {1, "A", "A", 10});
  EXPECT_EQ(RaisedCode([&] { cursor->ValidateRecord(buffer); }), 0);
  testing::FillRow(*cursor, buffer, {1, "A", "A", 100});
  cursor->PostInsert(buffer, true);
  EXPECT_EQ(RowOf(*cursor, CurrentBuffer(*cursor)), (TModifyRow{1, "A", "A", 100}));
  EXPECT_EQ(RowId(buffer), 1);  // the buffer took the row number

  // The copy of a record takes its values, not its row number.
  TBuffer copy(cursor->RecordSize(), 0xCD);
  ASSERT_EQ(cursor->CopyCurrentRecord(copy), 0);
  EXPECT_EQ(RowOf(*cursor, copy), (TModifyRow{1, "A", "A", 100}));
  EXPECT_EQ(RowId(copy), 0);
  EXPECT_EQ(RecordNoOrNextFree(copy), 0);
}

TEST_F(DataCursorModifyTest, DeletingLeavesTheCursorOnTheFollowingRecordOrTheEndCrack) {
  auto cursor = OpenCursor();
  for (std::int32_t id = 1; id <= 3; ++id)
    Insert(*cursor, {id, "N", testing::Numbered("C", id), 10});
  for (const bool recordOrder : {false, true}) {
    SCOPED_TRACE(recordOrder ? "record order" : "index order");
    cursor->SetIndexNo(recordOrder ? kRecordOrderIndexNo : kPrimaryIndexSlot);
    cursor->First();
    TBuffer buffer(cursor->RecordSize());
    ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
    const std::int32_t first = RowOf(*cursor, buffer).Id;
    cursor->DeleteRecord(buffer, true);
    ASSERT_EQ(cursor->GetCurrentRecord(buffer), 0);
    EXPECT_NE(RowOf(*cursor, buffer).Id, first);
    cursor->Last();
    ASSERT_EQ(cursor->GetPriorRecord(buffer), 0);
    cursor->DeleteRecord(buffer, true);
    EXPECT_TRUE(cursor->AtEOF());
    EXPECT_EQ(cursor->GetCurrentRecord(buffer), codes::kEndOfTable);
    EXPECT_EQ(cursor->RecordCount(), recordOrder ? 2 : 1);
    if (!recordOrder) {
      for (std::int32_t id = 11; id <= 13; ++id)
        Insert(*cursor, {id, "N", testing::Numbered("C", id), 10});
    }
  }
}

TEST_F(DataCursorModifyTest, ReadOnlyCursorsRefuseEveryChange) {
  {
    auto writer = OpenCursor();
    Insert(*writer, {1, "A", "A", 10});
  }
  auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
  cursor->SetTableName("T");
  cursor->SetReadOnly(true);
  cursor->Open();
  cursor->First();
  TBuffer buffer = NewRowBuffer(*cursor, {2, "B", "B", 10});
  TBuffer current(cursor->RecordSize());
  ASSERT_EQ(cursor->GetNextRecord(current), 0);
  EXPECT_EQ(RaisedCode([&] { cursor->PostInsert(buffer, true); }), codes::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { cursor->GetCurrentRecord(current, true); }), codes::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { cursor->PostEdit(current, true, true); }), codes::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { cursor->DeleteRecord(current, true); }), codes::kAccessDenied);
  EXPECT_EQ(cursor->RecordCount(), 1);
}

TEST_F(DataCursorModifyTest, DeleteOfARecordChangedMeanwhileIsRefused) {
  auto a = OpenCursor();
  Insert(*a, {1, "A", "A", 10});
  auto b = OpenCursor();
  b->First();
  TBuffer stale(b->RecordSize());
  ASSERT_EQ(b->GetNextRecord(stale), 0);
  TBuffer record = CurrentBuffer(*a);
  ASSERT_EQ(a->GetCurrentRecord(record, true), 0);
  testing::FillRow(*a, record, {1, "A", "A", 20});
  a->PostEdit(record, true, true);
  EXPECT_EQ(RaisedCode([&] { b->DeleteRecord(stale, true); }), codes::kRecordChanged);
  EXPECT_EQ(b->RecordCount(), 1);
  EXPECT_TRUE(b->Table()->LockedRecords().empty());
  b->DeleteRecord(CurrentBuffer(*b), true);
  EXPECT_EQ(a->RecordCount(), 0);
}

TEST_F(DataCursorModifyTest, FilteredCursorKeepsItsBitmapsInStepWithChanges) {
  auto cursor = OpenCursor();
  TDataCursorTestAccess::SetFiltered(*cursor, true);
  for (std::int32_t id = 1; id <= 20; ++id)
    Insert(*cursor, {id, testing::Numbered("N", id % 3), testing::Numbered("C", id), 10});
  // A range over ByName "N1" .. "N1".
  cursor->SetIndexName("ByName");
  TBuffer low(cursor->RecordSize(), 0);
  cursor->SetField(2, low, "N1");
  cursor->SetRange(false, low, 1, low, 1);
  EXPECT_EQ(cursor->RecordCount(), 7);
  Insert(*cursor, {21, "n1", "C21", 10});  // case-insensitive: inside the range
  Insert(*cursor, {22, "N2", "C22", 10});  // outside
  EXPECT_EQ(cursor->VisibleCount(), 8);
  cursor->First();
  TBuffer buffer(cursor->RecordSize());
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  cursor->DeleteRecord(buffer, true);
  EXPECT_EQ(cursor->VisibleCount(), 7);
  ASSERT_EQ(cursor->GetCurrentRecord(buffer), 0);
  ASSERT_EQ(cursor->GetCurrentRecord(buffer, true), 0);
  testing::FillRow(*cursor, buffer,
                   {RowOf(*cursor, buffer).Id, "N0", RowOf(*cursor, buffer).Code, 10});
  cursor->PostEdit(buffer, true, true);  // moved out of the range
  EXPECT_EQ(cursor->VisibleCount(), 6);
  const TRecordsBitmap visible = cursor->VisibleRecords();
  const TRecordsBitmap live = cursor->LiveRecords();
  cursor->Refresh();  // the bitmaps built afresh agree
  EXPECT_EQ(cursor->VisibleCount(), 6);
  ASSERT_EQ(cursor->VisibleRecords().Size(), visible.Size());
  for (std::uint32_t k = 1; k <= visible.Size(); ++k) {
    EXPECT_EQ(cursor->VisibleRecords().IsSet(k), visible.IsSet(k)) << k;
    EXPECT_EQ(cursor->LiveRecords().IsSet(k), live.IsSet(k)) << k;
  }
}

// Inserts in an append run leave the counts alone until the run ends; then the cursor
// agrees with one that counted after every insert, also when an error left the run.
TEST_F(DataCursorModifyTest, AppendRunCountsOnceAtItsEnd) {
  auto cursor = OpenCursor();
  TDataCursorTestAccess::SetFiltered(*cursor, true);
  cursor->SetIndexName("ByName");
  TBuffer low(cursor->RecordSize(), 0);
  cursor->SetField(2, low, "N1");
  cursor->SetRange(false, low, 1, low, 1);
  {
    TCursorAppendRun run(*cursor);
    for (std::int32_t id = 1; id <= 20; ++id) {
      TBuffer buffer =
          NewRowBuffer(*cursor, {id, testing::Numbered("N", id % 3), testing::Numbered("C", id)});
      cursor->PostInsert(buffer, false);
    }
    EXPECT_EQ(cursor->RecordCount(), 0);  // not counted yet
    run.End();
  }
  EXPECT_EQ(cursor->RecordCount(), 7);
  EXPECT_EQ(Ids(*cursor), (std::vector<std::int32_t>{1, 4, 7, 10, 13, 16, 19}));
  {
    TCursorAppendRun run(*cursor);
    TBuffer fresh = NewRowBuffer(*cursor, {21, "N1", "C21"});
    cursor->PostInsert(fresh, false);
    TBuffer twice = NewRowBuffer(*cursor, {21, "N1", "C21b"});
    EXPECT_NE(RaisedCode([&] { cursor->PostInsert(twice, false); }), 0);
  }
  EXPECT_EQ(cursor->RecordCount(), 8);
  Insert(*cursor, {22, "N1", "C22"});
  EXPECT_EQ(cursor->RecordCount(), 9);
  EXPECT_EQ(Ids(*cursor), (std::vector<std::int32_t>{1, 4, 7, 10, 13, 16, 19, 21, 22}));
}

TEST_F(DataCursorModifyTest, KeptRowIdsMustBeFree) {
  TDataDirectory& directory = sandbox->Directory();
  TTableDefinition definition = ModifyTable();
  TFieldDescriptor autoInc;
  autoInc.FieldName = "RID";
  autoInc.FieldType = kFieldTypeInteger;
  autoInc.FieldSubType = kSubTypeAutoInc;
  definition.Fields.push_back(autoInc);
  directory.CloseTable(directory.CreateTable("R", false, definition, false));
  TDataCursor cursor(directory);
  cursor.SetTableName("R");
  cursor.Open();
  Insert(cursor, {1, "A", "A", 10});
  EXPECT_EQ(RowId(cursor.Record()), 1);
  cursor.SetKeepRowIds(true);
  TBuffer buffer = NewRowBuffer(cursor, {2, "B", "B", 10});
  SetRowId(buffer, 40);
  cursor.PostInsert(buffer, true);
  EXPECT_EQ(RowId(cursor.Record()), 40);
  EXPECT_EQ(cursor.Table()->Data().LastAutoInc(), 40);
  buffer = NewRowBuffer(cursor, {3, "C", "C", 10});
  SetRowId(buffer, 40);
  const EKuraEngineError error = RaisedError([&] { cursor.PostInsert(buffer, true); });
  EXPECT_EQ(error.ErrorCode, codes::kDuplicateKey);
  EXPECT_EQ(error.ErrorIndexName, kSysDeletedName);
  cursor.SetKeepRowIds(false);
  Insert(cursor, {3, "C", "C", 10});
  EXPECT_EQ(RowId(cursor.Record()), 41);
  // A table without an auto-increment field never keeps row numbers.
  auto plain = OpenCursor();
  plain->SetKeepRowIds(true);
  EXPECT_FALSE(plain->KeepRowIds());
}

TEST_F(DataCursorModifyTest, ExclusiveCursorsChangeInMemoryAndWriteAtClose) {
  auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
  cursor->SetTableName("T");
  cursor->SetExclusive(true);
  cursor->Open();
  const std::string before = Files();
  for (std::int32_t id = 1; id <= 5; ++id)
    Insert(*cursor, {id, "N", testing::Numbered("C", id), 10});
  auto clone = cursor->Clone();
  Goto(*cursor, 3);
  TBuffer record = CurrentBuffer(*cursor);
  ASSERT_EQ(cursor->GetCurrentRecord(record, true), 0);
  EXPECT_EQ(cursor->LockedRecNo(), 0);  // no locks on an exclusive table
  testing::FillRow(*cursor, record, {3, "N", "C3", 33});
  cursor->PostEdit(record, true, true);
  Goto(*cursor, 4);
  cursor->DeleteRecord(CurrentBuffer(*cursor), true);
  EXPECT_TRUE(Files() == before) << "nothing written before the close";
  // The clone notices the changes through the counters advanced in memory.
  EXPECT_EQ(Ids(*clone), (std::vector<std::int32_t>{1, 2, 3, 5}));
  clone.reset();
  cursor.reset();
  auto reopened = OpenCursor();
  EXPECT_EQ(Ids(*reopened), (std::vector<std::int32_t>{1, 2, 3, 5}));
  Goto(*reopened, 3);
  EXPECT_EQ(RowOf(*reopened, CurrentBuffer(*reopened)).Qty, 33);
}

TEST_F(DataCursorModifyTest, TableLockDefersRecordUnlocksAndLocksAreOneCursorEach) {
  auto a = OpenCursor();
  for (std::int32_t id = 1; id <= 3; ++id) Insert(*a, {id, "N", testing::Numbered("C", id), 10});
  auto b = OpenCursor();
  Goto(*a, 2);
  a->LockRecord();
  const std::int32_t n = a->LockedRecNo();
  EXPECT_EQ(n, a->PhysicalRecordNo());
  Goto(*b, 2);
  EXPECT_EQ(RaisedCode([&] { b->LockRecord(); }), codes::kRecordInUse);
  // An insert meanwhile locks its own new record only and leaves the edit lock alone.
  Insert(*a, {4, "N", "C4", 10});
  EXPECT_EQ(a->LockedRecNo(), n);
  EXPECT_EQ(a->Table()->LockedRecords(), (std::set<std::int32_t>{n}));
  a->LockTable();
  a->UnlockRecord();
  EXPECT_EQ(a->LockedRecNo(), 0);
  EXPECT_TRUE(a->Table()->DeferredUnlocks().contains(n)) << "kept until the table lock goes";
  EXPECT_FALSE(
      testing::RangeFree(sandbox->Files(), folder.File("T.DAT"), 1, RecordLockPosition(n)));
  a->UnlockTable();
  EXPECT_TRUE(a->Table()->LockedRecords().empty());
  b->LockRecord();
  EXPECT_EQ(b->LockedRecNo(), n);
  b->UnlockRecord();
}

// A cursor gives back only its own record locks: another cursor's edit lock stays held for
// other processes and its owner ends the edit as usual; a closing cursor gives back every
// lock it took, also one an explicit LockRecord of another record left behind.
TEST_F(DataCursorModifyTest, ACursorReleasesOnlyItsOwnRecordLocks) {
  auto a = OpenCursor();
  for (std::int32_t id = 1; id <= 3; ++id) Insert(*a, {id, "N", testing::Numbered("C", id), 10});
  const auto free = [&](std::int32_t n) {
    return testing::RangeFree(sandbox->Files(), folder.File("T.DAT"), 1, RecordLockPosition(n));
  };
  auto b = OpenCursor();
  Goto(*a, 2);
  TBuffer buffer = CurrentBuffer(*a);
  ASSERT_EQ(a->GetCurrentRecord(buffer, true), 0);
  const std::int32_t edited = a->LockedRecNo();
  ASSERT_NE(edited, 0);
  Goto(*b, 2);
  EXPECT_EQ(RaisedCode([&] { b->UnlockRecord(edited); }), codes::kCannotUnlock);
  EXPECT_FALSE(free(edited)) << "still held for every other process";
  EXPECT_EQ(RaisedCode([&] { b->LockRecord(); }), codes::kRecordInUse);
  EXPECT_NO_THROW(a->CancelEdit());
  EXPECT_TRUE(free(edited));

  Goto(*b, 1);
  b->LockRecord();
  const std::int32_t first = b->LockedRecNo();
  Goto(*b, 3);
  b->LockRecord();
  const std::int32_t third = b->LockedRecNo();
  EXPECT_EQ(RaisedCode([&] { a->UnlockRecord(first); }), codes::kCannotUnlock);
  b.reset();
  EXPECT_TRUE(free(first));
  EXPECT_TRUE(free(third));
  EXPECT_TRUE(a->Table()->LockedRecords().empty());
}

// Edits and deletes of many records in one transaction: each record stays in use for other
// processes until the commit (here through the one lock over the record range the table takes
// once it holds many), an edit still in progress at the commit keeps its own lock, and the
// rest is free afterwards.
TEST_F(DataCursorModifyTest, ATransactionOverManyRecordsHoldsThemUntilTheCommit) {
  constexpr std::int32_t kRows = 2 * static_cast<std::int32_t>(kRecordRangeThreshold) + 20;
  auto a = OpenCursor();
  for (std::int32_t id = 1; id <= kRows; ++id)
    Insert(*a, {id, "N", testing::Numbered("C", id), 10});
  TFileList otherProcess;
  const auto free = [&](std::int64_t length, std::int64_t start) {
    return testing::RangeFree(otherProcess, folder.File("T.DAT"), length, start);
  };
  TDataDirectory& directory = sandbox->Directory();
  directory.StartTransaction();
  std::vector<std::int32_t> changed;
  for (std::int32_t id = 1; id <= kRows; id += 2) {
    Goto(*a, id);
    changed.push_back(a->PhysicalRecordNo());
    if (id % 4 == 1) {
      a->DeleteRecord(CurrentBuffer(*a), false);
      continue;
    }
    TBuffer buffer = CurrentBuffer(*a);
    ASSERT_EQ(a->GetCurrentRecord(buffer, true), 0);
    TModifyRow row = RowOf(*a, buffer);
    row.Qty = 50;
    testing::FillRow(*a, buffer, row);
    a->PostEdit(buffer, true, false);
  }
  auto b = OpenCursor();
  Goto(*b, 2);
  TBuffer editing = CurrentBuffer(*b);
  ASSERT_EQ(b->GetCurrentRecord(editing, true), 0);
  const std::int32_t edited = b->LockedRecNo();
  EXPECT_TRUE(a->Table()->RecordRangeLocked());
  for (std::int32_t n : {changed.front(), changed[changed.size() / 2], changed.back(), edited})
    EXPECT_FALSE(free(1, RecordLockPosition(n))) << n;
  directory.Commit();
  EXPECT_EQ(a->Table()->LockedRecords(), (std::set<std::int32_t>{edited}));
  for (std::int32_t n : changed) EXPECT_TRUE(free(1, RecordLockPosition(n))) << n;
  EXPECT_FALSE(free(1, RecordLockPosition(edited))) << "the edit in progress keeps its lock";
  b->CancelEdit();
  EXPECT_TRUE(free(kRecordRangeLength, kRecordRangeStart));
  EXPECT_EQ(Ids(*a).size(), static_cast<std::size_t>(kRows - (kRows + 3) / 4));
}

// Inside a transaction an insert into a freed slot keeps that record locked for other
// processes until the commit, while a new slot at the end takes no system lock (no other
// process can see it before the commit). A number another cursor of the process still holds
// (a record of a transaction rolled back) is refused all the same.
TEST_F(DataCursorModifyTest, TransactionInsertsLockFreedSlotsOnly) {
  auto a = OpenCursor();
  for (std::int32_t id = 1; id <= 3; ++id) Insert(*a, {id, "N", testing::Numbered("C", id), 10});
  Goto(*a, 2);
  const std::int32_t freed = a->PhysicalRecordNo();
  a->DeleteRecord(CurrentBuffer(*a), false);
  const auto free = [&](std::int32_t n) {
    return testing::RangeFree(sandbox->Files(), folder.File("T.DAT"), 1, RecordLockPosition(n));
  };

  TDataDirectory& directory = sandbox->Directory();
  directory.StartTransaction();
  Insert(*a, {12, "N", "C12", 10});
  Goto(*a, 12);
  EXPECT_EQ(a->PhysicalRecordNo(), freed);
  Insert(*a, {14, "N", "C14", 10});
  Goto(*a, 14);
  const std::int32_t appended = a->PhysicalRecordNo();
  EXPECT_EQ(appended, 4);
  EXPECT_FALSE(free(freed)) << "held until the commit";
  EXPECT_TRUE(free(appended));
  directory.Commit();
  EXPECT_TRUE(free(freed));
  EXPECT_TRUE(a->Table()->LockedRecords().empty());

  auto b = OpenCursor();
  directory.StartTransaction();
  Insert(*a, {15, "N", "C15", 10});
  b->LockRecord(5);  // the new record, seen by a cursor of the same process
  directory.Rollback();
  EXPECT_EQ(RaisedCode([&] { Insert(*a, {16, "N", "C16", 10}); }), codes::kRecordInUse);
  b->UnlockRecord(5);
  Insert(*a, {16, "N", "C16", 10});
  Goto(*a, 16);
  EXPECT_EQ(a->PhysicalRecordNo(), 5);
}

TEST_F(DataCursorModifyTest, APostWithAnotherRecordsModifiedBlobChangesNothing) {
  TDataDirectory& directory = sandbox->Directory();
  directory.CloseTable(directory.CreateTable("M", false, ModifyTable(true), false));
  TDataCursor cursor(directory);
  cursor.SetTableName("M");
  cursor.Open();
  constexpr int kNote = 6;
  TBuffer first = NewRowBuffer(cursor, {1, "A", "A", 10});
  TBuffer second = NewRowBuffer(cursor, {2, "B", "B", 10});
  std::uint32_t size = 0;
  ASSERT_EQ(cursor.OpenBlob(kNote, first, size, TBlobOpenMode::ReadWrite), 0);
  const std::uint8_t text[] = {'m', 'e', 'm', 'o'};
  ASSERT_EQ(cursor.WriteBlob(kNote, first, 0, 4, text), 0);
  const std::string before = TableFileBytes(folder.Path(), "M");
  EXPECT_EQ(RaisedCode([&] { cursor.PostInsert(second, true); }), codes::kBlobBuffersCorrupt);
  EXPECT_TRUE(TableFileBytes(folder.Path(), "M") == before);
  EXPECT_EQ(cursor.RecordCount(), 0);
  EXPECT_FALSE(cursor.Table()->WriteLocked());
  cursor.PostInsert(first, true);
  TBuffer stored = CurrentBuffer(cursor);
  ASSERT_EQ(cursor.OpenBlob(kNote, stored, size, TBlobOpenMode::ReadOnly), 0);
  EXPECT_EQ(size, 4u);
  ASSERT_EQ(cursor.CloseBlob(kNote, stored), 0);
  // A copy of the record gets a value of its own: deleting the original leaves it whole.
  TBuffer copy(cursor.RecordSize());
  ASSERT_EQ(cursor.CopyCurrentRecord(copy), 0);
  testing::FillRow(cursor, copy, {3, "C", "C", 10});
  cursor.PostInsert(copy, true);
  Goto(cursor, 1);
  cursor.DeleteRecord(CurrentBuffer(cursor), true);
  Goto(cursor, 3);
  stored = CurrentBuffer(cursor);
  ASSERT_EQ(cursor.OpenBlob(kNote, stored, size, TBlobOpenMode::ReadOnly), 0);
  std::uint8_t read[4] = {};
  std::uint32_t copied = 0;
  EXPECT_EQ(cursor.ReadBlob(kNote, stored, 0, 4, read, copied), 0);
  EXPECT_TRUE(std::equal(read, read + 4, text));
  ASSERT_EQ(cursor.CloseBlob(kNote, stored), 0);
  EXPECT_EQ(testing::BlobAccountingProblem(*cursor.Table()), "");
}

}  // namespace
}  // namespace kura
