// Block reads in record-number order read the file a run at a time instead of record by
// record through the cache. Whatever state the table is in (deleted records between the
// live ones, changes of a transaction not written yet, records appended past the end of the
// file, an encrypted or exclusively opened table), a block read must deliver exactly what one
// record-by-record read after the other delivers, with the same answers and positions.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/modify_test_support.h"
#include "engine/table_test_support.h"
#include "storage/data_file.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::ModifyTable;
using testing::NewRowBuffer;
using testing::RowOf;
using testing::TEngineSandbox;
using testing::TModifyRow;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

// What a walk from the first record delivers: every record's bytes, then the answer that
// ended it and the position it ended on.
struct TWalk {
  std::vector<TBuffer> Records;
  std::uint16_t Answer = 0;
  std::int64_t RecNo = 0;
  bool operator==(const TWalk&) const = default;
};

TWalk WalkInBlocks(TDataCursor& cursor, int block) {
  cursor.SetIndexNo(kRecordOrderIndexNo);
  cursor.First();
  TWalk walk;
  const std::size_t size = cursor.RecordSize();
  TBuffer buffers(size * static_cast<std::size_t>(block));
  for (;;) {
    int count = block;
    walk.Answer = cursor.GetNextRecords(count, buffers);
    for (int i = 0; i < count; ++i) {
      walk.Records.emplace_back(buffers.begin() + static_cast<std::ptrdiff_t>(i * size),
                                buffers.begin() + static_cast<std::ptrdiff_t>((i + 1) * size));
    }
    if (walk.Answer != 0) break;
  }
  walk.RecNo = cursor.RecNo();
  return walk;
}

class BlockReadTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    TTableDefinition definition = ModifyTable();
    if (Encrypted()) {
      definition.Settings.Encrypted = true;
      definition.Settings.Password = "secret";
      sandbox->Session().AddPassword("secret");
    }
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("T", false, definition, false));
  }

  bool Encrypted() const { return GetParam(); }

  std::unique_ptr<TDataCursor> OpenCursor(bool exclusive = false) {
    auto cursor = std::make_unique<TDataCursor>(sandbox->Directory());
    cursor->SetTableName("T");
    cursor->SetExclusive(exclusive);
    cursor->Open();
    return cursor;
  }

  // Inserts rows with IDs first .. first + count - 1.
  void InsertRows(TDataCursor& cursor, std::int32_t first, int count) {
    cursor.SetIndexNo(0);
    for (std::int32_t id = first; id < first + count; ++id) {
      TModifyRow row{id, testing::Numbered("N", id), testing::Numbered("C", id), 10 + id % 50};
      TBuffer buffer = NewRowBuffer(cursor, row);
      cursor.PostInsert(buffer, false);
    }
  }

  // Deletes or edits (QTY) about every third live record, in record order.
  void DeleteAndEditSome(TDataCursor& cursor, unsigned seed) {
    std::mt19937 random(seed);
    cursor.SetIndexNo(kRecordOrderIndexNo);
    cursor.First();
    TBuffer buffer(cursor.RecordSize());
    while (cursor.GetNextRecord(buffer) == 0) {
      const unsigned pick = random() % 6;
      if (pick == 0) {
        cursor.DeleteRecord(buffer, false);
      } else if (pick == 1) {
        TModifyRow row = RowOf(cursor, buffer);
        row.Qty = 10 + static_cast<std::int32_t>(random() % 90);
        testing::FillRow(cursor, buffer, row);
        cursor.PostEdit(buffer, true, false);
      }
    }
  }

  // Block reads of several sizes against reads of one record at a time (which go through
  // the record cache), by a second cursor of the process.
  void ExpectBlocksAgree(TDataCursor& reader, const char* state) {
    SCOPED_TRACE(state);
    const TWalk single = WalkInBlocks(reader, 1);
    ASSERT_FALSE(single.Records.empty());
    for (int block : {16, 17, 100, 1000}) {
      SCOPED_TRACE(block);
      EXPECT_EQ(WalkInBlocks(reader, block), single);
    }
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
};

TEST_P(BlockReadTest, AgreeWithRecordByRecordReadsInEveryState) {
  auto writer = OpenCursor();
  auto reader = OpenCursor();
  InsertRows(*writer, 1, 700);
  ExpectBlocksAgree(*reader, "written");
  DeleteAndEditSome(*writer, 1);
  ExpectBlocksAgree(*reader, "deletes and edits written");

  TDataDirectory& directory = sandbox->Directory();
  directory.StartTransaction();
  InsertRows(*writer, 1001, 300);  // into freed slots, then past the end of the file
  DeleteAndEditSome(*writer, 2);
  ExpectBlocksAgree(*reader, "changes of a transaction not written yet");
  directory.Commit();
  ExpectBlocksAgree(*reader, "committed");
}

TEST_P(BlockReadTest, AgreeOnAnExclusiveTableThatKeepsItsChanges) {
  auto cursor = OpenCursor(true);
  InsertRows(*cursor, 1, 400);
  DeleteAndEditSome(*cursor, 3);
  ASSERT_TRUE(cursor->Table()->Data().RecordCache().HasChanges());
  ExpectBlocksAgree(*cursor, "exclusive");
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, BlockReadTest, ::testing::Bool());

}  // namespace
}  // namespace kura
