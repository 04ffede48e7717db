// Cursors on real table files: opening and its refusals, the crack model's answers in both
// orders, position numbers, key lookups, ranges, index changes, bookmarks, clones, and the
// changes another cursor of the process makes behind a cursor's back.
#include "engine/data_cursor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_test_support.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "engine/text_index_params.h"
#include "storage/failing_file.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

using testing::DeleteRow;
using testing::IdOf;
using testing::InsertRow;
using testing::NameOf;
using testing::RaisedCode;
using testing::RowImage;
using testing::RowsTable;
using testing::TEngineSandbox;
using testing::TRowsTableOptions;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

class DataCursorTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox = std::make_unique<TEngineSandbox>(folder.Path()); }

  void MakeTable(const TRowsTableOptions& options = {}, const std::string& name = "T") {
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable(name, false, RowsTable(options), false));
  }

  std::unique_ptr<TDataCursor> OpenCursor(const std::string& name = "T") {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName(name);
    cursor->Open();
    return cursor;
  }

  // Rows named by the letters, IDs 1, 2, ... in order.
  static void InsertLetters(TDataCursor& cursor, const std::string& letters) {
    std::int32_t id = 1;
    for (char letter : letters) InsertRow(*cursor.Table(), id++, std::string(1, letter));
  }

  std::string Next(TDataCursor& cursor) {
    TBuffer buffer(cursor.RecordSize());
    const std::uint16_t answer = cursor.GetNextRecord(buffer);
    return answer == 0 ? NameOf(cursor, buffer) : std::to_string(answer);
  }
  std::string Prior(TDataCursor& cursor) {
    TBuffer buffer(cursor.RecordSize());
    const std::uint16_t answer = cursor.GetPriorRecord(buffer);
    return answer == 0 ? NameOf(cursor, buffer) : std::to_string(answer);
  }
  std::string Current(TDataCursor& cursor) {
    TBuffer buffer(cursor.RecordSize(), 0xEE);
    const std::uint16_t answer = cursor.GetCurrentRecord(buffer);
    if (answer != 0) {
      for (std::uint8_t byte : buffer) EXPECT_EQ(byte, 0) << "zero-filled on " << answer;
    }
    return answer == 0 ? NameOf(cursor, buffer) : std::to_string(answer);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

// The orders every crack-model case runs in: the primary index, and record-number order of a
// table without one.
struct TOrderCase {
  const char* Label;
  bool PrimaryIndex;
};
constexpr TOrderCase kOrders[] = {{"index order", true}, {"record-number order", false}};

TEST_F(DataCursorTest, AnEmptyTableAnswersEndAndNoRecord) {
  for (const TOrderCase& order : kOrders) {
    SCOPED_TRACE(order.Label);
    const std::string name = order.PrimaryIndex ? "E1" : "E2";
    MakeTable({.PrimaryOnName = order.PrimaryIndex}, name);
    auto cursor = OpenCursor(name);
    EXPECT_EQ(cursor->RecordOrder(), !order.PrimaryIndex);
    cursor->First();
    EXPECT_EQ(Next(*cursor), "8706");
    EXPECT_EQ(Current(*cursor), "8709");
    EXPECT_EQ(Prior(*cursor), "8705");
    EXPECT_EQ(cursor->RecordCount(), 0);
    EXPECT_EQ(cursor->RecNo(), 0);
    EXPECT_EQ(cursor->PhysicalRecordNo(), 0);
    EXPECT_FALSE(cursor->SetRecNo(1));
    EXPECT_FALSE(cursor->FindKey(false, RowImage(*cursor, 1, "A"), {}, 0, true, 0));
  }
}

TEST_F(DataCursorTest, ThreeRecordsForwardAndBackWithTheirCracks) {
  for (const TOrderCase& order : kOrders) {
    SCOPED_TRACE(order.Label);
    const std::string name = order.PrimaryIndex ? "R1" : "R2";
    MakeTable({.PrimaryOnName = order.PrimaryIndex}, name);
    auto cursor = OpenCursor(name);
    InsertLetters(*cursor, "ABC");
    cursor->First();
    EXPECT_EQ(Current(*cursor), "8705");
    EXPECT_EQ(Next(*cursor), "A");
    EXPECT_EQ(Next(*cursor), "B");
    EXPECT_EQ(Next(*cursor), "C");
    EXPECT_EQ(Next(*cursor), "8706");
    EXPECT_EQ(Prior(*cursor), "C");
    EXPECT_EQ(cursor->RecNo(), 3);
    cursor->Last();
    EXPECT_EQ(Current(*cursor), "8706");
    EXPECT_EQ(Prior(*cursor), "C");
    EXPECT_EQ(Prior(*cursor), "B");
    EXPECT_EQ(Prior(*cursor), "A");
    EXPECT_EQ(Prior(*cursor), "8705");
    EXPECT_EQ(Next(*cursor), "A");

    EXPECT_EQ(cursor->RecordCount(), 3);
    EXPECT_FALSE(cursor->SetRecNo(0));
    EXPECT_EQ(Current(*cursor), "8705");
    EXPECT_FALSE(cursor->SetRecNo(4));
    EXPECT_EQ(Current(*cursor), "8706");
    EXPECT_TRUE(cursor->SetRecNo(2));
    EXPECT_EQ(cursor->RecNo(), 2);
    EXPECT_EQ(Current(*cursor), "B");
    EXPECT_EQ(cursor->PhysicalRecordNo(), 2);

    int count = 5;
    TBuffer buffers(5 * cursor->RecordSize());
    cursor->First();
    EXPECT_EQ(cursor->GetNextRecords(count, buffers), 8706);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(NameOf(*cursor, std::span(buffers).subspan(2 * cursor->RecordSize())), "C");
  }
}

TEST_F(DataCursorTest, ARangeFromBToDOverAToF) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "FEDCBA");
  cursor->SetRange(false, RowImage(*cursor, 0, "B"), 0, RowImage(*cursor, 0, "D"), 0);
  EXPECT_TRUE(cursor->RangeActive());
  EXPECT_EQ(cursor->RecordCount(), 3);
  cursor->First();
  EXPECT_EQ(Next(*cursor), "B");
  EXPECT_EQ(Next(*cursor), "C");
  EXPECT_EQ(cursor->RecNo(), 2);
  EXPECT_EQ(Next(*cursor), "D");
  EXPECT_EQ(Next(*cursor), "8706");
  // A key below the range lands on its first record.
  EXPECT_FALSE(cursor->FindKey(false, RowImage(*cursor, 0, "A"), {}, 0, true, 0));
  EXPECT_EQ(Current(*cursor), "B");

  cursor->SetRange(false, RowImage(*cursor, 0, "E"), 0, RowImage(*cursor, 0, "C"), 0);
  EXPECT_EQ(cursor->RecordCount(), 0);
  cursor->First();
  EXPECT_EQ(Next(*cursor), "8706");

  cursor->CancelRange();
  EXPECT_FALSE(cursor->RangeActive());
  EXPECT_EQ(cursor->RecordCount(), 6);
}

// The bitmaps a filtered cursor keeps: InRange holds the records inside the range (built
// directly for a small range, as the inverse of the entries outside it for a range holding
// most records), Visible is InRange and Live, and its count is the record count.
TEST_F(DataCursorTest, TheInRangeBitmapFollowsTheRange) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "FEDCBA");  // record 1 is F, ..., record 6 is A
  DeleteRow(*cursor->Table(), 2);    // E
  TDataCursorTestAccess::SetFiltered(*cursor, true);
  const auto bits = [](const TRecordsBitmap& bitmap) {
    std::string text;
    for (std::uint32_t r = 1; r <= bitmap.Size(); ++r) text += bitmap.IsSet(r) ? '1' : '0';
    return text;
  };
  EXPECT_EQ(bits(cursor->LiveRecords()), "101111");
  EXPECT_EQ(bits(cursor->InRangeRecords()), "000000");  // no range
  EXPECT_EQ(cursor->VisibleCount(), 5);

  struct TRangeCase {
    const char* Start;
    const char* End;
    const char* InRangeLive;  // InRange restricted to the live records
    std::int64_t Count;
  };
  const TRangeCase cases[] = {
      {"B", "C", "000110", 2},  // a small range: its entries
      {"B", "F", "101110", 4},  // most of the table: the entries outside it, inverted
      {"A", "F", "101111", 5}, {"E", "C", "000000", 0},  // start above end
      {"G", "Z", "000000", 0},                           // past the last key
  };
  for (const TRangeCase& c : cases) {
    SCOPED_TRACE(std::string(c.Start) + ".." + c.End);
    cursor->SetRange(false, RowImage(*cursor, 0, c.Start), 0, RowImage(*cursor, 0, c.End), 0);
    TRecordsBitmap inRangeLive;
    inRangeLive.SetSize(cursor->InRangeRecords().Size());
    inRangeLive.Assign(cursor->InRangeRecords());
    inRangeLive.AndWith(cursor->LiveRecords());
    EXPECT_EQ(bits(inRangeLive), c.InRangeLive);
    EXPECT_EQ(bits(cursor->VisibleRecords()), c.InRangeLive);
    EXPECT_EQ(cursor->VisibleCount(), c.Count);
    EXPECT_EQ(cursor->RecordCount(), c.Count);
  }

  // Another cursor's insert (into the slot E left) is seen at the next step: the bitmaps are
  // rebuilt.
  cursor->SetRange(false, RowImage(*cursor, 0, "B"), 0, RowImage(*cursor, 0, "C"), 0);
  auto other = OpenCursor();
  InsertRow(*other->Table(), 7, "BB");
  EXPECT_EQ(cursor->RecordCount(), 3);
  EXPECT_EQ(bits(cursor->VisibleRecords()), "010110");
  cursor->First();
  EXPECT_EQ(Next(*cursor), "B");
  EXPECT_EQ(Next(*cursor), "BB");
  EXPECT_EQ(Next(*cursor), "C");
  EXPECT_EQ(Next(*cursor), "8706");

  cursor->CancelRange();
  EXPECT_EQ(bits(cursor->InRangeRecords()), "000000");
  EXPECT_EQ(cursor->VisibleCount(), 6);
  // Without a filter the bitmaps go.
  TDataCursorTestAccess::SetFiltered(*cursor, false);
  EXPECT_EQ(cursor->VisibleRecords().Size(), 0u);
  EXPECT_EQ(cursor->RecordCount(), 6);
}

// Record-number order has no ranges: SetRange is ignored, and turning to record-number order
// drops the range the index had.
TEST_F(DataCursorTest, RecordOrderHasNoRange) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABCD");
  cursor->SetRange(false, RowImage(*cursor, 0, "B"), 0, RowImage(*cursor, 0, "C"), 0);
  EXPECT_EQ(cursor->RecordCount(), 2);
  cursor->SetIndexNo(kRecordOrderIndexNo);
  EXPECT_TRUE(cursor->Filtered());
  EXPECT_FALSE(cursor->RangeActive());
  EXPECT_EQ(cursor->RecordCount(), 4);
  cursor->SetRange(false, RowImage(*cursor, 0, "B"), 0, RowImage(*cursor, 0, "C"), 0);
  EXPECT_FALSE(cursor->RangeActive());
  EXPECT_EQ(cursor->RangeFirst(), 1);
  EXPECT_EQ(cursor->RangeLast(), 4);
  EXPECT_EQ(cursor->RecordCount(), 4);
  EXPECT_EQ(cursor->InRangeRecords().Count(), 0u);
  cursor->First();
  EXPECT_EQ(Next(*cursor), "A");
  cursor->SetIndexNo(kPrimaryIndexSlot);
  EXPECT_FALSE(cursor->RangeActive());
  EXPECT_FALSE(cursor->Filtered());
  EXPECT_EQ(cursor->RecordCount(), 4);
}

TEST_F(DataCursorTest, FindKeyByPartialLengthAndBeyondTheLastKey) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertRow(*cursor->Table(), 1, "b");
  InsertRow(*cursor->Table(), 2, "abd");
  InsertRow(*cursor->Table(), 3, "abc");
  InsertRow(*cursor->Table(), 4, "aa");
  TBuffer buffer(cursor->RecordSize());
  EXPECT_TRUE(cursor->FindKey(false, RowImage(*cursor, 0, "ab"), buffer, 2, false, 0));
  EXPECT_EQ(NameOf(*cursor, buffer), "abc");
  EXPECT_EQ(cursor->RecNo(), 2);

  // Beyond the last key: without nearest the cursor stays; with nearest it is on the last
  // record, never on the end crack.
  EXPECT_FALSE(cursor->FindKey(false, RowImage(*cursor, 0, "z"), buffer, 0, false, 0));
  EXPECT_EQ(Current(*cursor), "abc");
  EXPECT_FALSE(cursor->FindKey(false, RowImage(*cursor, 0, "z"), buffer, 0, true, 0));
  EXPECT_EQ(Current(*cursor), "b");
  EXPECT_EQ(NameOf(*cursor, buffer), "b");

  // A built key is taken as it is.
  const std::vector<std::uint8_t> key = cursor->BuildKeyOf(RowImage(*cursor, 0, "aa"));
  EXPECT_TRUE(cursor->FindKey(true, key, buffer, 0, false, 0));
  EXPECT_EQ(NameOf(*cursor, buffer), "aa");
}

TEST_F(DataCursorTest, RecordOrderSkipsADeletedRecord) {
  MakeTable({.PrimaryOnName = false});
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABCDE");
  DeleteRow(*cursor->Table(), 3);
  EXPECT_EQ(cursor->RecordCount(), 4);
  cursor->GotoPhysical(2);
  EXPECT_EQ(Current(*cursor), "B");
  EXPECT_EQ(Next(*cursor), "D");
  EXPECT_EQ(cursor->PhysicalRecordNo(), 4);
  EXPECT_EQ(cursor->RecNo(), 3);
  cursor->GotoPhysical(3);  // deleted: the next visible one
  EXPECT_EQ(Current(*cursor), "D");
  // FindKey has no index to search.
  EXPECT_FALSE(cursor->FindKey(false, RowImage(*cursor, 1, "A"), {}, 0, true, 0));
  EXPECT_EQ(Current(*cursor), "D");

  // Bookmarks are record numbers.
  EXPECT_EQ(cursor->BookmarkSize(), 4);
  std::uint8_t seven[4], three[4];
  PutI32LE(seven, 7);
  PutI32LE(three, 3);
  EXPECT_EQ(cursor->CompareBookmarks(seven, three), 1);
  EXPECT_EQ(cursor->CompareBookmarks(three, seven), -1);
  EXPECT_EQ(cursor->CompareBookmarks(three, three), 0);
  EXPECT_FALSE(cursor->GotoBookmark(three, false));
  EXPECT_EQ(Current(*cursor), "D");
}

TEST_F(DataCursorTest, TheBookmarkOfARecordDeletedMeanwhile) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABCDE");
  ASSERT_TRUE(cursor->SetRecNo(3));
  const std::vector<std::uint8_t> c = cursor->GetBookmark();
  ASSERT_TRUE(cursor->SetRecNo(1));
  const std::vector<std::uint8_t> a = cursor->GetBookmark();
  EXPECT_EQ(cursor->CompareBookmarks(c, a), 1);
  EXPECT_TRUE(cursor->GotoBookmark(c, false));
  EXPECT_EQ(Current(*cursor), "C");
  ASSERT_TRUE(cursor->SetRecNo(5));
  DeleteRow(*cursor->Table(), 3);
  EXPECT_FALSE(cursor->GotoBookmark(c, false));
  EXPECT_EQ(Current(*cursor), "D");
  EXPECT_EQ(cursor->RecNo(), 3);
}

TEST_F(DataCursorTest, ChangingTheIndexKeepsTheRecord) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertRow(*cursor->Table(), 3, "A");
  InsertRow(*cursor->Table(), 1, "B");
  InsertRow(*cursor->Table(), 2, "C");
  ASSERT_TRUE(cursor->SetRecNo(2));  // B
  cursor->SetIndexName("byid");
  EXPECT_EQ(cursor->IndexNo(), 1);
  EXPECT_EQ(cursor->IndexName(), "ById");
  EXPECT_EQ(Current(*cursor), "B");
  EXPECT_EQ(cursor->RecNo(), 1);
  EXPECT_EQ(Next(*cursor), "C");
  EXPECT_EQ(Next(*cursor), "A");
  cursor->SetIndexNo(kRecordOrderIndexNo);
  EXPECT_TRUE(cursor->RecordOrder());
  EXPECT_EQ(Current(*cursor), "A");
  EXPECT_EQ(cursor->RecNo(), 1);
  cursor->SetIndexName("");
  EXPECT_EQ(cursor->IndexNo(), 0);
  EXPECT_EQ(Current(*cursor), "A");
  cursor->First();
  cursor->SetIndexName("ById");
  EXPECT_EQ(Current(*cursor), "8705");

  EXPECT_EQ(RaisedCode([&] { cursor->SetIndexName("Nowhere"); }), codes::kInvalidIndexName);
  EXPECT_EQ(RaisedCode([&] { cursor->SetIndexNo(7); }), codes::kInvalidIndexName);
  EXPECT_EQ(cursor->IndexNo(), 1);
}

TEST_F(DataCursorTest, SettersRefuseWhileOpenAndTheNameLosesPathAndExtension) {
  MakeTable();
  TDataCursor cursor(sandbox->Directory());
  cursor.SetTableName("some/where\\T.DAT");
  EXPECT_EQ(cursor.TableName(), "T");
  cursor.Open();
  EXPECT_TRUE(cursor.IsOpen());
  EXPECT_EQ(RaisedCode([&] { cursor.SetTableName("U"); }), codes::kTableInUse);
  EXPECT_EQ(RaisedCode([&] { cursor.SetExclusive(true); }), codes::kTableInUse);
  EXPECT_EQ(RaisedCode([&] { cursor.SetReadOnly(true); }), codes::kTableInUse);
  EXPECT_EQ(RaisedCode([&] { cursor.SetInMemory(true); }), codes::kTableInUse);
  EXPECT_NO_THROW(cursor.SetTableName("T"));  // an equal value does nothing
  EXPECT_NO_THROW(cursor.SetExclusive(false));
  cursor.Close();
  cursor.Close();
  EXPECT_FALSE(cursor.IsOpen());
  EXPECT_EQ(sandbox->Directory().FindTable("T", false), nullptr);
  cursor.SetTableName("Missing");
  EXPECT_EQ(RaisedCode([&] { cursor.Open(); }), codes::kTableNotFound);
  EXPECT_FALSE(cursor.IsOpen());
}

TEST_F(DataCursorTest, TheFieldListWithQualifiedNamesAndTheIndexDefinitions) {
  MakeTable({.SecondaryByNameNonUnique = true});
  auto cursor = OpenCursor();
  EXPECT_EQ(cursor->FieldCount(), 2);
  EXPECT_EQ(cursor->GetFieldDesc("name").Descriptor.FieldNo, 2);
  EXPECT_EQ(cursor->GetFieldDesc(2).QualifiedName, "T.NAME");
  EXPECT_EQ(cursor->GetFieldDesc(1).Origin, sandbox->Directory().Path());
  EXPECT_EQ(RaisedCode([&] { cursor->GetFieldDesc(3); }), codes::kInvalidField);
  EXPECT_EQ(RaisedCode([&] { cursor->GetFieldDesc("Nope"); }), codes::kInvalidField);
  EXPECT_TRUE(cursor->HasPrimaryIndex());
  EXPECT_EQ(cursor->SecondaryIndexCount(), 2);
  EXPECT_EQ(cursor->ReadIndexDescriptor(2).IndexName, "ByName");
  EXPECT_EQ(cursor->ReadIndexDescriptor(31).IndexName, "Sys Deleted");
  EXPECT_EQ(RaisedCode([&] { cursor->ReadIndexDescriptor(33); }), codes::kInvalidIndexName);

  InsertLetters(*cursor, "Q");
  cursor->First();
  EXPECT_EQ(Next(*cursor), "Q");
  std::uint8_t id[4] = {};
  EXPECT_FALSE(cursor->GetField(1, id));
  EXPECT_EQ(GetI32LE(id), 1);
}

TEST(DataCursorMemoryTest, InTheInMemoryDirectoryFieldsNameTheDatabase) {
  TEngineSandbox memory("");
  TDataDirectory& directory = memory.Directory();
  directory.CloseTable(directory.CreateTable("M", false, RowsTable(), false));
  TDataCursor cursor(directory);
  cursor.SetTableName("M");
  cursor.Open();
  EXPECT_TRUE(cursor.Table()->InMemory());
  EXPECT_EQ(cursor.GetFieldDesc(1).Origin, "Memory");
  EXPECT_EQ(cursor.GetFieldDesc(1).QualifiedName, "M.ID");
  InsertRow(*cursor.Table(), 1, "X");
  cursor.First();
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  EXPECT_EQ(cursor.GetNextRecord(buffer), 0);
  EXPECT_EQ(NameOf(cursor, buffer), "X");
}

TEST_F(DataCursorTest, AnEncryptedTableAsksThePasswordHook) {
  TDataDirectory& directory = sandbox->Directory();
  TTableDefinition definition = RowsTable();
  definition.Settings.Encrypted = true;
  definition.Settings.Password = "secret";
  directory.CloseTable(directory.CreateTable("P", false, definition, false));

  TDataCursor cursor(directory);
  cursor.SetTableName("P");
  EXPECT_EQ(RaisedCode([&] { cursor.Open(); }), codes::kPasswordRequired);
  EXPECT_FALSE(cursor.IsOpen());
  EXPECT_EQ(directory.FindTable("P", false), nullptr) << "a refused open releases the table";

  int asked = 0;
  cursor.SetPasswordHook([&](TDataCursor&) {
    ++asked;
    return true;  // but adds nothing
  });
  EXPECT_EQ(RaisedCode([&] { cursor.Open(); }), codes::kPasswordRequired);
  EXPECT_EQ(asked, kMaxPasswordAsks);

  cursor.SetPasswordHook([&](TDataCursor& asking) {
    asking.Directory().Session().AddPassword("secret");
    return true;
  });
  cursor.Open();
  EXPECT_TRUE(cursor.IsOpen());
  cursor.SetPasswordHook([](TDataCursor&) { return false; });
  auto second = std::make_unique<TDataCursor>(directory);
  second->SetTableName("P");
  EXPECT_NO_THROW(second->Open()) << "the session holds the password now";
}

TEST_F(DataCursorTest, ALostIndexFileComesBackWithSysDeleted) {
  MakeTable();
  {
    auto cursor = OpenCursor();
    InsertLetters(*cursor, "ABC");
    DeleteRow(*cursor->Table(), 2);
  }
  std::filesystem::remove(sandbox->Directory().TableFileName("T", ".IDX"));
  auto cursor = OpenCursor();
  EXPECT_TRUE(cursor->RecordOrder()) << "the new index file has no primary index";
  EXPECT_EQ(cursor->Table()->Index().LiveRecordCount(), 2);
  EXPECT_FALSE(cursor->Table()->NeedsSysDeletedRebuild());
  EXPECT_EQ(cursor->RecordCount(), 2);
  cursor->First();
  EXPECT_EQ(Next(*cursor), "A");
  EXPECT_EQ(Next(*cursor), "C");
  EXPECT_EQ(Next(*cursor), "8706");
}

TEST_F(DataCursorTest, ACloneAndSyncToCursor) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABCDEF");
  cursor->SetIndexName("ById");
  cursor->SetRange(false, RowImage(*cursor, 2, ""), 0, RowImage(*cursor, 5, ""), 0);
  ASSERT_TRUE(cursor->SetRecNo(2));  // C
  auto clone = cursor->Clone();
  EXPECT_EQ(clone->IndexNo(), 1);
  EXPECT_TRUE(clone->RangeActive());
  EXPECT_EQ(clone->RecordCount(), 4);
  EXPECT_EQ(Current(*clone), "C");
  EXPECT_EQ(Next(*clone), "D");
  EXPECT_EQ(Current(*cursor), "C");

  auto other = OpenCursor();
  ASSERT_TRUE(other->FindKey(false, RowImage(*other, 0, "E"), {}, 0, false, 0));
  EXPECT_EQ(cursor->SyncToCursor(*other), 0);
  EXPECT_EQ(Current(*cursor), "E");
  ASSERT_TRUE(other->FindKey(false, RowImage(*other, 0, "A"), {}, 0, false, 0));
  EXPECT_EQ(cursor->SyncToCursor(*other), codes::kRecordNotFound) << "outside the range";
  EXPECT_EQ(Current(*cursor), "E");
}

TEST_F(DataCursorTest, AnExclusiveCursorSharesItsTableWithItsClonesOnly) {
  MakeTable();
  TDataCursor cursor(sandbox->Directory());
  cursor.SetTableName("T");
  cursor.SetExclusive(true);
  cursor.Open();
  InsertLetters(cursor, "ABC");
  ASSERT_TRUE(cursor.SetRecNo(2));
  TDataCursor other(sandbox->Directory());
  other.SetTableName("T");
  EXPECT_EQ(RaisedCode([&] { other.Open(); }), codes::kAccessDenied);
  auto clone = cursor.Clone();
  EXPECT_TRUE(clone->SharedFromExclusive());
  EXPECT_FALSE(clone->Exclusive());
  EXPECT_EQ(Current(*clone), "B");
  // The clone notices what its original's table changed; the exclusive original checks
  // nothing.
  InsertRow(*cursor.Table(), 9, "0");
  EXPECT_EQ(clone->RecNo(), 3);
  EXPECT_EQ(cursor.RecNo(), 2);
  clone.reset();
  cursor.Close();
  EXPECT_NO_THROW(other.Open());
}

TEST_F(DataCursorTest, RaiseErrorNamesTheTable) {
  MakeTable();
  auto cursor = OpenCursor();
  EXPECT_NO_THROW(cursor->RaiseError(0, "fine"));
  try {
    cursor->RaiseError(codes::kEndOfTable, "at the end");
    FAIL() << "no error raised";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, codes::kEndOfTable);
    EXPECT_EQ(error.ErrorTableName, "T");
    EXPECT_EQ(error.ErrorDatabaseName, "Sandbox");
    EXPECT_EQ(error.ErrorText, "at the end");
  }
  try {
    cursor->RaiseFieldError(codes::kInvalidField, "NAME");
    FAIL() << "no error raised";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorFieldName, "NAME");
  }
}

TEST_F(DataCursorTest, AnotherCursorsInsertBeforeTheCurrentRecord) {
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "lazy");
    sandbox->Session().SetStrictChangeDetection(strict);
    const std::string name = strict ? "S" : "L";
    MakeTable({}, name);
    auto cursor = OpenCursor(name);
    auto writer = OpenCursor(name);
    InsertRow(*writer->Table(), 1, "B");
    InsertRow(*writer->Table(), 2, "D");
    InsertRow(*writer->Table(), 3, "F");
    cursor->First();
    EXPECT_EQ(Next(*cursor), "B");
    EXPECT_EQ(cursor->RecNo(), 1);
    InsertRow(*writer->Table(), 4, "A");
    EXPECT_EQ(Next(*cursor), "D");
    EXPECT_EQ(cursor->RecNo(), 3);
    EXPECT_EQ(cursor->RecordCount(), 4);
    DeleteRow(*writer->Table(), 2);  // D, the current record
    EXPECT_EQ(Current(*cursor), "F") << "the record that followed the deleted one";
    EXPECT_EQ(cursor->RecNo(), 3);
    EXPECT_EQ(Prior(*cursor), "B");
  }
}

TEST_F(DataCursorTest, AStepInterruptedByAReadErrorLeavesThePosition) {
  testing::TFileFaults faults;
  testing::InstallFailingFiles(sandbox->Files(), faults);
  MakeTable();
  auto cursor = OpenCursor();
  std::int32_t id = 1;
  for (char a = 'A'; a <= 'Z'; ++a) {
    for (char b = 'A'; b <= 'Z'; ++b) InsertRow(*cursor->Table(), id++, std::string{a, b});
  }
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "strict" : "lazy");
    sandbox->Session().SetStrictChangeDetection(strict);
    ASSERT_TRUE(cursor->SetRecNo(300));
    const std::string here = Current(*cursor);
    cursor->Table()->DiscardBuffers();
    faults.FailReads = true;
    EXPECT_EQ(RaisedCode([&] { Next(*cursor); }), codes::kReadError);
    EXPECT_EQ(RaisedCode([&] { cursor->SetRecNo(600); }), codes::kReadError);
    faults.FailReads = false;
    EXPECT_FALSE(cursor->Table()->ReadLocked()) << "EndRead ran";
    EXPECT_EQ(cursor->RecNo(), 300);
    EXPECT_EQ(Current(*cursor), here);
    EXPECT_EQ(cursor->RecNo(), 300);
    Next(*cursor);
    EXPECT_EQ(cursor->RecNo(), 301);
  }
}

// A damaged page met deep in the navigation core is reported with the table's name.
TEST_F(DataCursorTest, ADamagedIndexPageNamesTheTable) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABC");
  TIndexFile& index = cursor->Table()->Index();
  TPage* root = index.GetPage(kPrimaryIndexSlot, index.RootPage(kPrimaryIndexSlot));
  const auto type = root->Type;
  root->Type = kPageParams;
  try {
    cursor->First();
    ADD_FAILURE() << "no error raised";
  } catch (const EKuraEngineError& error) {
    EXPECT_EQ(error.ErrorCode, codes::kIndexPagesCorrupt);
    EXPECT_EQ(error.ErrorTableName, "T");
    EXPECT_EQ(error.ErrorDatabaseName, "Sandbox");
  }
  root->Type = type;
  index.ReleasePage(kPrimaryIndexSlot, root);
  cursor->First();
  EXPECT_EQ(Next(*cursor), "A");
}

TEST_F(DataCursorTest, AnIndexEntryPastTheLastRecordIsDamageNotAnAppend) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "ABC");
  TIndexFile& index = cursor->Table()->Index();
  // The entry of C names the slot right after the last record.
  TPage* leaf = index.GetPage(kPrimaryIndexSlot, index.RootPage(kPrimaryIndexSlot));
  ASSERT_EQ(leaf->Count(), 3);
  leaf->SetChildOrRecord(3, cursor->Table()->Data().NextRecordNo());
  index.ReleasePage(kPrimaryIndexSlot, leaf);
  ASSERT_TRUE(cursor->SetRecNo(2));
  EXPECT_EQ(RaisedCode([&] { Next(*cursor); }), codes::kIndexPagesCorrupt);
  EXPECT_EQ(cursor->Table()->Data().RecordCount(), 3) << "no slot was appended";
  EXPECT_EQ(NameOf(*cursor, cursor->Record()), "B") << "the record image stayed";
  EXPECT_EQ(Current(*cursor), "B") << "the failed step left the cursor on B";
}

TEST_F(DataCursorTest, AReSynchronisationInterruptedByAReadErrorIsMadeAgain) {
  testing::TFileFaults faults;
  testing::InstallFailingFiles(sandbox->Files(), faults);
  MakeTable();
  auto cursor = OpenCursor();
  auto writer = OpenCursor();
  InsertLetters(*writer, "BDF");
  ASSERT_TRUE(cursor->SetRecNo(1));
  InsertRow(*writer->Table(), 9, "A");
  cursor->Table()->DiscardBuffers();
  faults.FailReads = true;
  EXPECT_EQ(RaisedCode([&] { Next(*cursor); }), codes::kReadError);
  faults.FailReads = false;
  EXPECT_EQ(Current(*cursor), "B");
  EXPECT_EQ(cursor->RecNo(), 2) << "the next step caught up with the insert";
  EXPECT_EQ(cursor->RecordCount(), 4);
}

// A range change that fails half-way (while counting or scanning into the bitmaps) leaves
// the old range, position and counts, filtered or not.
TEST_F(DataCursorTest, ARangeChangeInterruptedByAReadErrorKeepsTheOldRange) {
  testing::TFileFaults faults;
  testing::InstallFailingFiles(sandbox->Files(), faults);
  MakeTable();
  // Exclusive: no header re-read comes first, the failing reads are those of the change.
  auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
  cursor->SetTableName("T");
  cursor->SetExclusive(true);
  cursor->Open();
  std::int32_t id = 1;
  for (char a = 'A'; a <= 'Z'; ++a) {
    for (char b = 'A'; b <= 'Z'; ++b) InsertRow(*cursor->Table(), id++, std::string{a, b});
  }
  for (bool filtered : {false, true}) {
    SCOPED_TRACE(filtered ? "filtered" : "not filtered");
    TDataCursorTestAccess::SetFiltered(*cursor, filtered);
    cursor->SetRange(false, RowImage(*cursor, 0, "BA"), 0, RowImage(*cursor, 0, "CZ"), 0);
    ASSERT_EQ(cursor->RecordCount(), 52);
    ASSERT_TRUE(cursor->SetRecNo(30));
    const std::string here = Current(*cursor);
    cursor->Table()->DiscardBuffers();
    faults.FailReads = true;
    EXPECT_EQ(RaisedCode([&] {
                cursor->SetRange(false, RowImage(*cursor, 0, "MA"), 0, RowImage(*cursor, 0, "ZZ"),
                                 0);
              }),
              codes::kReadError);
    EXPECT_EQ(RaisedCode([&] { cursor->CancelRange(); }), codes::kReadError);
    faults.FailReads = false;
    EXPECT_FALSE(cursor->Table()->ReadLocked()) << "EndRead ran";
    EXPECT_TRUE(cursor->RangeActive());
    EXPECT_EQ(cursor->RecordCount(), 52);
    EXPECT_EQ(Current(*cursor), here);
    EXPECT_EQ(cursor->RecNo(), 30);
    if (filtered) {
      EXPECT_EQ(cursor->VisibleCount(), 52);
    }
    cursor->Last();
    EXPECT_EQ(Prior(*cursor), "CZ");
    cursor->CancelRange();
  }
}

TEST_F(DataCursorTest, AnIndexChangeInterruptedByAReadErrorKeepsTheOldOrder) {
  testing::TFileFaults faults;
  testing::InstallFailingFiles(sandbox->Files(), faults);
  MakeTable();
  TDataCursor cursor(sandbox->Directory());
  cursor.SetTableName("T");
  cursor.SetExclusive(true);  // no locks: the failing read is the new index's first page
  cursor.Open();
  InsertLetters(cursor, "ABCD");
  DeleteRow(*cursor.Table(), 4);  // record-number order then scans "Sys Deleted"
  ASSERT_TRUE(cursor.SetRecNo(2));
  for (int indexNo : {1, static_cast<int>(kRecordOrderIndexNo)}) {
    SCOPED_TRACE(indexNo);
    cursor.Table()->Index().DiscardPages();
    faults.FailReads = true;
    EXPECT_EQ(RaisedCode([&] { cursor.SetIndexNo(indexNo); }), codes::kReadError);
    faults.FailReads = false;
    EXPECT_EQ(cursor.IndexNo(), 0);
    EXPECT_EQ(Current(cursor), "B");
    EXPECT_EQ(Next(cursor), "C");
    ASSERT_TRUE(cursor.SetRecNo(2));
  }
  cursor.SetIndexNo(1);
  EXPECT_EQ(Current(cursor), "B");
}

TEST_F(DataCursorTest, ReadOnlyFilesMakeAReadOnlyCursorWithoutLocks) {
  MakeTable();
  {
    auto writer = OpenCursor();
    InsertLetters(*writer, "ABC");
  }
  for (const char* extension : {".DAT", ".IDX"})
    ASSERT_EQ(chmod(sandbox->Directory().TableFileName("T", extension).c_str(), 0444), 0);
  sandbox->Session().SetStrictChangeDetection(true);
  auto cursor = OpenCursor();
  EXPECT_TRUE(cursor->ReadOnlyFiles());
  EXPECT_TRUE(cursor->ReadOnly());
  cursor->First();
  EXPECT_EQ(Next(*cursor), "A");
  EXPECT_FALSE(cursor->Table()->ReadLocked()) << "no lock, not even in strict mode";
  cursor->BeginRead();
  EXPECT_FALSE(cursor->Table()->ReadLocked());
  cursor->EndRead();
  EXPECT_EQ(RaisedCode([&] { cursor->SetTextIndexParams({}); }), codes::kAccessDenied);
  EXPECT_EQ(cursor->RecordCount(), 3);
  cursor.reset();
  for (const char* extension : {".DAT", ".IDX"})
    chmod(sandbox->Directory().TableFileName("T", extension).c_str(), 0644);
}

TEST_F(DataCursorTest, RefreshAndResyncKeepTheRecord) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "BDF");
  ASSERT_TRUE(cursor->SetRecNo(2));
  InsertRow(*cursor->Table(), 9, "A");
  cursor->Refresh();
  EXPECT_EQ(Current(*cursor), "D");
  EXPECT_EQ(cursor->RecNo(), 3);
  cursor->Resync();
  EXPECT_EQ(Current(*cursor), "D");
  cursor->Last();
  cursor->Refresh();
  EXPECT_EQ(Current(*cursor), "8706") << "the crack survives";
}

TEST_F(DataCursorTest, TextIndexParametersComeBackAfterClose) {
  MakeTable();
  {
    auto cursor = OpenCursor();
    const TTextIndexParams& defaults = cursor->TextIndexParams();
    EXPECT_EQ(defaults.StopWords.size(), 22u) << "no parameter page: the defaults";
    EXPECT_EQ(cursor->Table()->Index().ParamPage(), 0);
    TTextIndexParams changed = defaults;
    // Three pages' worth of stream, one word cut to the longest item.
    changed.StopWords = {std::string(3000, 'x'), std::string(5000, 'y'), "Z"};
    changed.Space.fill(false);
    changed.Space[' '] = true;
    changed.Include['-'] = true;
    cursor->SetTextIndexParams(changed);
  }
  {
    auto cursor = OpenCursor();
    const TTextIndexParams& loaded = cursor->TextIndexParams();
    ASSERT_EQ(loaded.StopWords.size(), 3u);
    EXPECT_EQ(loaded.StopWords[0], std::string(3000, 'x'));
    EXPECT_EQ(loaded.StopWords[1], std::string(kMaxTextParamItem, 'y'));
    EXPECT_EQ(loaded.StopWords[2], "Z");
    EXPECT_TRUE(loaded.Space[' ']);
    EXPECT_FALSE(loaded.Space['*']);
    EXPECT_TRUE(loaded.Include['-']);
    TTextIndexParams shorter = loaded;
    shorter.StopWords = {"ONLY"};
    cursor->SetTextIndexParams(shorter);
  }
  auto cursor = OpenCursor();
  EXPECT_EQ(cursor->TextIndexParams().StopWords, std::vector<std::string>{"ONLY"});
  EXPECT_TRUE(cursor->Table()->Index().CheckTree(kSysTextSlot).Ok());
  EXPECT_NE(cursor->Table()->Index().Header().Descriptors[kSysTextSlot].FreePage, 0)
      << "the pages no longer needed went to the free chain";

  auto readOnly = std::make_unique<TDataCursor>(sandbox->Directory());
  readOnly->SetTableName("T");
  readOnly->SetReadOnly(true);
  readOnly->Open();
  EXPECT_EQ(RaisedCode([&] { readOnly->SetTextIndexParams({}); }), codes::kAccessDenied);
}

TEST_F(DataCursorTest, DamagedTextIndexParametersRaise8965) {
  MakeTable();
  auto cursor = OpenCursor();
  InsertLetters(*cursor, "AB");
  // A parameter page that is a leaf of the primary index.
  cursor->Table()->Index().SetParamPage(cursor->Table()->Index().RootPage(kPrimaryIndexSlot));
  EXPECT_EQ(RaisedCode([&] { cursor->TextIndexParams(); }), codes::kIndexPagesCorrupt);
  EXPECT_FALSE(cursor->Table()->ReadLocked());
  cursor->Table()->Index().SetParamPage(0);

  const auto decode = [](std::vector<std::uint8_t> stream) {
    return RaisedCode([&] { DecodeTextIndexParams(stream, "T"); });
  };
  std::vector<std::uint8_t> good = EncodeTextIndexParams(DefaultTextIndexParams());
  EXPECT_EQ(decode(good), 0);
  std::vector<std::uint8_t> negative = good;
  PutI32LE(negative.data(), -1);
  EXPECT_EQ(decode(negative), codes::kIndexPagesCorrupt);
  std::vector<std::uint8_t> longItem = good;
  PutI32LE(longItem.data() + 4, 5000);
  EXPECT_EQ(decode(longItem), codes::kIndexPagesCorrupt);
  good.resize(good.size() - 1);
  EXPECT_EQ(decode(good), codes::kIndexPagesCorrupt) << "a stream that ends early";
}

}  // namespace
}  // namespace kura
