// A cursor's BLOB buffers while another process rewrites the values: the blocks this process
// cached are not served for the new value, and a reference read before the change is refused.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/blob_cursor_test_support.h"
#include "engine/cursor_blobs.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/blob_test_support.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::BlobAccountingProblem;
using testing::CreateBlobsTable;
using testing::InsertRow;
using testing::kNoteField;
using testing::PostRecordBlobs;
using testing::RaisedCode;
using testing::RandomBytes;
using testing::TEngineSandbox;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

// Replaces the NOTE of record n through a cursor of its own.
std::uint16_t RewriteNote(TDataCursor& cursor, std::int32_t n, const TBuffer& value) {
  cursor.GotoPhysical(n);
  TBuffer buffer(cursor.RecordSize());
  if (const std::uint16_t answer = cursor.GetCurrentRecord(buffer); answer != 0) return answer;
  std::uint32_t size = 0;
  if (const std::uint16_t answer =
          cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite);
      answer != 0) {
    return answer;
  }
  cursor.TruncateBlob(kNoteField, buffer, 0);
  cursor.WriteBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(value.size()), value.data());
  PostRecordBlobs(cursor, buffer, n);
  return 0;
}

// The NOTE of record n as the cursor reads it now.
TBuffer ReadNote(TDataCursor& cursor, std::int32_t n, TBuffer* recordBuffer = nullptr) {
  cursor.GotoPhysical(n);
  TBuffer buffer(cursor.RecordSize());
  EXPECT_EQ(cursor.GetCurrentRecord(buffer), 0);
  if (recordBuffer != nullptr) *recordBuffer = buffer;
  std::uint32_t size = 0;
  EXPECT_EQ(cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  TBuffer value(size);
  std::uint32_t copied = 0;
  EXPECT_EQ(cursor.ReadBlob(kNoteField, buffer, 0, size, value.data(), copied), 0);
  EXPECT_EQ(cursor.CloseBlob(kNoteField, buffer), 0);
  return value;
}

// Strict change detection re-reads the headers before every read; the lazy kind only when a
// read misses the cache, so the cursor may hand out its cached, stale record first.
class CursorBlobsProcessTest : public ::testing::TestWithParam<bool> {};

TEST_P(CursorBlobsProcessTest, AValueRewrittenByAnotherProcessIsReadAfresh) {
  const bool strict = GetParam();
  TScratchFolder folder;
  auto sandbox = std::make_unique<TEngineSandbox>(folder.Path());
  sandbox->CountPauses();
  sandbox->Session().SetStrictChangeDetection(strict);
  CreateBlobsTable(sandbox->Directory(), "B", false);
  TDataCursor cursor(sandbox->Directory());
  cursor.SetTableName("B");
  cursor.Open();
  const std::int32_t n = InsertRow(*cursor.Table(), 1, "one");
  const TBuffer before = RandomBytes(1500, 7);
  ASSERT_EQ(RewriteNote(cursor, n, before), 0);
  TBuffer staleRecord;
  ASSERT_EQ(ReadNote(cursor, n, &staleRecord), before);  // its blocks are cached now

  const TBuffer after = RandomBytes(2100, 8);
  ASSERT_EQ(testing::RunInAnotherProcess(folder.Path(),
                                         [&](TEngineSandbox& box) {
                                           TDataCursor writer(box.Directory());
                                           writer.SetTableName("B");
                                           writer.Open();
                                           writer.RaiseError(RewriteNote(writer, n, after));
                                         }),
            0);

  const auto staleOpen = [&] {
    std::uint32_t size = 0;
    return RaisedCode(
        [&] { cursor.OpenBlob(kNoteField, staleRecord, size, TBlobOpenMode::ReadOnly); });
  };
  if (strict) {
    EXPECT_EQ(ReadNote(cursor, n), after) << "the cached blocks of the old value are not served";
    EXPECT_EQ(staleOpen(), codes::kRecordChanged) << "a reference read before the change";
  } else {
    // The cached record still names the old value; opening it takes the read lock, which
    // reveals the change: 8708, and the record read next is the new one.
    EXPECT_EQ(staleOpen(), codes::kRecordChanged);
    EXPECT_EQ(ReadNote(cursor, n), after) << "the cached blocks of the old value are not served";
  }
  EXPECT_EQ(BlobAccountingProblem(*cursor.Table()), "");
}

INSTANTIATE_TEST_SUITE_P(ChangeDetection, CursorBlobsProcessTest, ::testing::Values(false, true));

}  // namespace
}  // namespace kura
