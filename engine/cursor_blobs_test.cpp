// A cursor's BLOB buffers on real table files: the answers of each call, use counts and
// handles, the limit of 128 open buffers, the post of one record's values under one change
// number with the block accounting afterwards, refusals that leave the files as they were,
// deleting and copying a record's values, and a model run of random buffer work.
#include "engine/cursor_blobs.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/blob_cursor_test_support.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/table_test_support.h"
#include "storage/blob_test_support.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

using testing::BlobAccountingProblem;
using testing::CreateBlobsTable;
using testing::InsertRow;
using testing::kDataField;
using testing::kIdField;
using testing::kNoteField;
using testing::PostRecordBlobs;
using testing::RaisedCode;
using testing::StoredBlob;
using testing::StoredRecord;
using testing::TEngineSandbox;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

TBuffer Bytes(const std::string& text) {
  return TBuffer(text.begin(), text.end());
}

class CursorBlobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    CreateBlobsTable(sandbox->Directory(), "B", false, blockSize);
    cursor = OpenCursor();
  }

  std::unique_ptr<TDataCursor> OpenCursor() {
    auto opened = std::make_unique<TDataCursor>(sandbox->Directory());
    opened->SetTableName("B");
    opened->Open();
    return opened;
  }

  TDataTable& Table() { return *cursor->Table(); }
  const TFieldDescriptor& Field(int fieldNo) { return cursor->GetFieldDesc(fieldNo).Descriptor; }

  // A new record without BLOBs; answers its number.
  std::int32_t AddRecord(std::int32_t id) {
    std::string name = "N";
    name += std::to_string(id);
    return InsertRow(Table(), id, name);
  }

  // The cursor placed on record n, and a record buffer with it.
  TBuffer RecordBuffer(std::int32_t n, TDataCursor* on = nullptr) {
    TDataCursor& c = on != nullptr ? *on : *cursor;
    c.GotoPhysical(n);
    TBuffer buffer(c.RecordSize());
    EXPECT_EQ(c.GetCurrentRecord(buffer), 0);
    return buffer;
  }

  // Opens the field for writing, replaces its contents and closes it again.
  void SetValue(TBuffer& buffer, int fieldNo, const TBuffer& value, TDataCursor* on = nullptr) {
    TDataCursor& c = on != nullptr ? *on : *cursor;
    std::uint32_t size = 0;
    ASSERT_EQ(c.OpenBlob(fieldNo, buffer, size, TBlobOpenMode::ReadWrite), 0);
    ASSERT_EQ(c.TruncateBlob(fieldNo, buffer, 0), 0);
    ASSERT_EQ(
        c.WriteBlob(fieldNo, buffer, 0, static_cast<std::uint32_t>(value.size()), value.data()), 0);
    ASSERT_EQ(c.CloseBlob(fieldNo, buffer), 0);
  }

  // A record holding the given values, posted.
  std::int32_t RecordWith(std::int32_t id, const TBuffer& note, const TBuffer& data = {}) {
    const std::int32_t n = AddRecord(id);
    TBuffer buffer = RecordBuffer(n);
    SetValue(buffer, kNoteField, note);
    if (!data.empty()) SetValue(buffer, kDataField, data);
    PostRecordBlobs(*cursor, buffer, n);
    return n;
  }

  std::int32_t SlotValue(const TBuffer& buffer, int fieldNo) {
    return BlobSlotFirstBlock(Field(fieldNo), buffer);
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  std::unique_ptr<TDataCursor> cursor;
  std::uint32_t blockSize = 0;
};

TEST_F(CursorBlobsTest, ReadsStopAtTheEndOfTheValueWith8711) {
  const std::int32_t n = RecordWith(1, Bytes("0123456789"));
  TBuffer buffer = RecordBuffer(n);
  std::uint32_t size = 0;
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  EXPECT_EQ(size, 10u);
  struct TCase {
    std::uint32_t Offset, Count, Copied;
    std::uint16_t Answer;
    std::string Bytes;
  };
  const TCase cases[] = {
      {0, 10, 10, 0, "0123456789"},
      {9, 4, 1, codes::kEndOfBlob, "9"},
      {10, 4, 0, codes::kEndOfBlob, ""},
      {20, 1, 0, codes::kEndOfBlob, ""},
      {3, 0, 0, 0, ""},
      {2, 3, 3, 0, "234"},
      {0xFFFFFFFFu, 1, 0, codes::kEndOfBlob, ""},
  };
  for (const TCase& c : cases) {
    TBuffer target(c.Count + 1, '#');
    std::uint32_t copied = 99;
    EXPECT_EQ(cursor->ReadBlob(kNoteField, buffer, c.Offset, c.Count, target.data(), copied),
              c.Answer)
        << c.Offset << "+" << c.Count;
    EXPECT_EQ(copied, c.Copied) << c.Offset << "+" << c.Count;
    EXPECT_EQ(std::string(target.begin(), target.begin() + copied), c.Bytes);
    EXPECT_EQ(target[copied], '#') << "nothing written past the bytes copied";
  }
}

TEST_F(CursorBlobsTest, CallsAnswerCodesForFieldsAndSlotsWithoutAHandle) {
  TBuffer buffer = RecordBuffer(RecordWith(1, Bytes("stored")));
  std::uint32_t size = 0;
  std::uint32_t copied = 0;
  std::uint8_t byte = 0;
  // Not a BLOB field.
  for (int fieldNo : {kIdField, 0, 99}) {
    EXPECT_EQ(cursor->OpenBlob(fieldNo, buffer, size, TBlobOpenMode::ReadOnly),
              codes::kInvalidBlobField)
        << fieldNo;
  }
  // A stored first-block number is no handle.
  EXPECT_GT(SlotValue(buffer, kNoteField), 0);
  EXPECT_EQ(cursor->ReadBlob(kNoteField, buffer, 0, 1, &byte, copied), codes::kInvalidBlobHandle);
  EXPECT_EQ(cursor->WriteBlob(kNoteField, buffer, 0, 1, &byte), codes::kInvalidBlobHandle);
  EXPECT_EQ(cursor->TruncateBlob(kNoteField, buffer, 0), codes::kInvalidBlobHandle);
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, buffer, size), codes::kInvalidBlobHandle);
  EXPECT_EQ(cursor->CloseBlob(kNoteField, buffer), codes::kInvalidBlobHandle);

  // A negative slot value that is none of the cursor's handles.
  TBuffer foreign = buffer;
  SetBlobSlot(Field(kNoteField), foreign, -12345, true);
  EXPECT_EQ(cursor->OpenBlob(kNoteField, foreign, size, TBlobOpenMode::ReadOnly),
            codes::kInvalidBlobOffset);
  EXPECT_EQ(cursor->ReadBlob(kNoteField, foreign, 0, 1, &byte, copied), codes::kInvalidBlobHandle);

  // A handle of this cursor, but of another field's buffer, copied into the slot.
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  TBuffer crossed = buffer;
  SetBlobSlot(Field(kDataField), crossed, SlotValue(buffer, kNoteField), true);
  EXPECT_EQ(cursor->OpenBlob(kDataField, crossed, size, TBlobOpenMode::ReadOnly),
            codes::kInvalidBlobOffset);
  EXPECT_EQ(cursor->GetBlobSize(kDataField, crossed, size), codes::kInvalidBlobHandle);

  // A handle whose buffer has been freed.
  const std::int32_t handle = SlotValue(buffer, kNoteField);
  ASSERT_EQ(cursor->CloseBlob(kNoteField, buffer), 0);
  SetBlobSlot(Field(kNoteField), buffer, handle, true);
  EXPECT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly),
            codes::kInvalidBlobOffset);

  // A buffer opened for reading refuses changes.
  TBuffer reading = RecordBuffer(1);
  ASSERT_EQ(cursor->OpenBlob(kNoteField, reading, size, TBlobOpenMode::ReadOnly), 0);
  EXPECT_EQ(cursor->WriteBlob(kNoteField, reading, 0, 1, &byte), codes::kAccessDenied);
  EXPECT_EQ(cursor->TruncateBlob(kNoteField, reading, 0), codes::kAccessDenied);
  // A value past the largest size is refused, not allocated.
  ASSERT_EQ(cursor->OpenBlob(kNoteField, reading, size, TBlobOpenMode::ReadWrite), 0);
  EXPECT_EQ(cursor->WriteBlob(kNoteField, reading, 0xFFFFFFF0u, 0x20, &byte),
            codes::kInvalidBlobLength);
  EXPECT_EQ(cursor->TruncateBlob(kNoteField, reading, 0x80000000u), codes::kInvalidBlobLength);
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, reading, size), 0);
  EXPECT_EQ(size, 6u);
}

TEST_F(CursorBlobsTest, ANewRecordBufferOfAnEmptyTableTakesValues) {
  TBuffer buffer(cursor->RecordSize(), 0);
  std::uint32_t size = 7;
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(cursor->Blobs().Find(SlotValue(buffer, kNoteField))->RecordNo, 0);
  const std::uint8_t text[] = {'n', 'e', 'w'};
  EXPECT_EQ(cursor->WriteBlob(kNoteField, buffer, 2, 3, text), 0);
  EXPECT_EQ(buffer[Field(kNoteField).FieldOffset], 1);
  TBuffer target(5);
  std::uint32_t copied = 0;
  EXPECT_EQ(cursor->ReadBlob(kNoteField, buffer, 0, 5, target.data(), copied), 0);
  EXPECT_EQ(target, (TBuffer{0, 0, 'n', 'e', 'w'})) << "the gap before the offset is zeros";
  EXPECT_EQ(cursor->TruncateBlob(kNoteField, buffer, 0), 0);
  EXPECT_EQ(buffer[Field(kNoteField).FieldOffset], 0) << "an empty value is NULL";

  // A buffer shorter than a record, and a closed cursor, are refused.
  TBuffer shortBuffer(cursor->RecordSize() - 1, 0);
  EXPECT_EQ(
      RaisedCode([&] { cursor->OpenBlob(kNoteField, shortBuffer, size, TBlobOpenMode::ReadOnly); }),
      codes::kRecordBuffersCorrupt);
  cursor->Close();
  EXPECT_NE(
      RaisedCode([&] { cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly); }), 0);
}

TEST_F(CursorBlobsTest, UseCountsKeepABufferOpenUntilItsLastClose) {
  TBuffer buffer = RecordBuffer(RecordWith(1, Bytes("stored value")));
  const TBuffer before = buffer;
  std::uint32_t size = 0;
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  const std::int32_t handle = SlotValue(buffer, kNoteField);
  EXPECT_LT(handle, 0);
  EXPECT_EQ(buffer[Field(kNoteField).FieldOffset], 1) << "the value is not empty";
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  EXPECT_EQ(SlotValue(buffer, kNoteField), handle) << "a second open reuses the buffer";
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(cursor->Blobs().OpenCount(), 1);
  EXPECT_EQ(cursor->Blobs().Find(handle)->UseCount, 2);

  ASSERT_EQ(cursor->CloseBlob(kNoteField, buffer), 0);
  EXPECT_EQ(SlotValue(buffer, kNoteField), handle);
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, buffer, size), 0);
  ASSERT_EQ(cursor->CloseBlob(kNoteField, buffer), 0);
  EXPECT_EQ(buffer, before) << "the last close puts the stored reference back";
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0);
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, buffer, size), codes::kInvalidBlobHandle);

  // An empty field: the handle goes in with the null indicator 0, and comes out as 0.
  ASSERT_EQ(cursor->OpenBlob(kDataField, buffer, size, TBlobOpenMode::ReadOnly), 0);
  EXPECT_EQ(size, 0u);
  EXPECT_LT(SlotValue(buffer, kDataField), 0);
  EXPECT_EQ(buffer[Field(kDataField).FieldOffset], 0);
  ASSERT_EQ(cursor->CloseBlob(kDataField, buffer), 0);
  EXPECT_EQ(buffer, before);
}

TEST_F(CursorBlobsTest, TheReleaseFlagFollowsTheLatestOpenForWriting) {
  TBuffer buffer = RecordBuffer(AddRecord(1));
  TBuffer other = RecordBuffer(AddRecord(2));
  std::uint32_t size = 0;
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadOnly, true), 0);
  EXPECT_FALSE(cursor->Blobs().Find(SlotValue(buffer, kNoteField))->ReleaseAfterPost)
      << "only an open for writing sets it";
  ASSERT_EQ(cursor->OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite, true), 0);
  ASSERT_EQ(cursor->OpenBlob(kNoteField, other, size, TBlobOpenMode::ReadWrite, false), 0);
  cursor->FreeBlobs(true);
  EXPECT_EQ(cursor->Blobs().OpenCount(), 1);
  EXPECT_NE(cursor->Blobs().Find(SlotValue(other, kNoteField)), nullptr);
  // The slot still holds the freed handle, which no longer answers.
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, buffer, size), codes::kInvalidBlobHandle);
  cursor->FreeBlobs();
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0);
}

TEST_F(CursorBlobsTest, The129thOpenBufferIsRefusedWith9494) {
  const TBuffer record = RecordBuffer(RecordWith(1, Bytes("x")));
  std::vector<TBuffer> buffers(kMaxOpenBlobs + 1, record);
  std::uint32_t size = 0;
  for (int i = 0; i < kMaxOpenBlobs; ++i) {
    ASSERT_EQ(cursor->OpenBlob(kNoteField, buffers[i], size, TBlobOpenMode::ReadOnly), 0) << i;
  }
  EXPECT_EQ(cursor->OpenBlob(kNoteField, buffers.back(), size, TBlobOpenMode::ReadOnly),
            codes::kTooManyOpenBlobs);
  EXPECT_EQ(buffers.back(), record) << "a refused open leaves the slot alone";
  // Opening a buffer that is open already still works at the limit.
  EXPECT_EQ(cursor->OpenBlob(kNoteField, buffers[0], size, TBlobOpenMode::ReadOnly), 0);
  std::vector<std::int32_t> handles;
  for (int i = 0; i < kMaxOpenBlobs; ++i) handles.push_back(SlotValue(buffers[i], kNoteField));
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::adjacent_find(handles.begin(), handles.end()), handles.end())
      << "every buffer has its own handle";
  ASSERT_EQ(cursor->CloseBlob(kNoteField, buffers[5]), 0);
  EXPECT_EQ(cursor->OpenBlob(kNoteField, buffers.back(), size, TBlobOpenMode::ReadOnly), 0);
  // Closing the cursor frees them all.
  cursor->Close();
  cursor->Open();
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0);
}

TEST_F(CursorBlobsTest, APostGivesTheRecordsValuesOneNewChangeNumber) {
  const TBuffer note = testing::RandomBytes(1000, 1);
  const TBuffer data = testing::RandomBytes(100, 2);
  const std::int32_t n = AddRecord(1);
  TBuffer buffer = RecordBuffer(n);
  const std::int32_t lastBefore = Table().Data().LastBlobChange();
  SetValue(buffer, kNoteField, note);
  SetValue(buffer, kDataField, data);
  EXPECT_TRUE(PostRecordBlobs(*cursor, buffer, n));
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0) << "the modified buffers are released";

  const std::int32_t change = Table().Data().LastBlobChange();
  EXPECT_EQ(change, lastBefore + 1);
  TBuffer stored = StoredRecord(Table(), n);
  for (int fieldNo : {kNoteField, kDataField}) {
    EXPECT_EQ(BlobSlotChange(Field(fieldNo), stored), change) << fieldNo;
    EXPECT_GT(BlobSlotFirstBlock(Field(fieldNo), stored), 0) << fieldNo;
    EXPECT_EQ(BlobSlotFirstBlock(Field(fieldNo), buffer),
              BlobSlotFirstBlock(Field(fieldNo), stored))
        << "the caller's buffer carries the stored reference too";
  }
  EXPECT_EQ(StoredBlob(Table(), n, kNoteField), note);
  EXPECT_EQ(StoredBlob(Table(), n, kDataField), data);
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
  EXPECT_EQ(Table().Blob().Header().NextBlockNo, 1 + 3 + 1) << "1000 bytes take 3 blocks";

  // A second record takes the next number.
  RecordWith(2, Bytes("second"));
  EXPECT_EQ(Table().Data().LastBlobChange(), change + 1);

  // Values of one record that carry different change numbers (one of them rewritten alone)
  // are posted together.
  buffer = RecordBuffer(n);
  SetValue(buffer, kDataField, Bytes("rewritten alone"));
  PostRecordBlobs(*cursor, buffer, n);
  stored = StoredRecord(Table(), n);
  ASSERT_NE(BlobSlotChange(Field(kNoteField), stored), BlobSlotChange(Field(kDataField), stored));
  buffer = RecordBuffer(n);
  SetValue(buffer, kNoteField, Bytes("short now"));
  SetValue(buffer, kDataField, Bytes("both"));
  EXPECT_TRUE(PostRecordBlobs(*cursor, buffer, n));
  stored = StoredRecord(Table(), n);
  EXPECT_EQ(BlobSlotChange(Field(kNoteField), stored), Table().Data().LastBlobChange());
  EXPECT_EQ(BlobSlotChange(Field(kDataField), stored), Table().Data().LastBlobChange());
  EXPECT_EQ(StoredBlob(Table(), n, kNoteField), Bytes("short now"));
  EXPECT_EQ(BlobAccountingProblem(Table()), "");

  // Size 0 frees the chain: first block 0 and NULL.
  buffer = RecordBuffer(n);
  SetValue(buffer, kNoteField, {});
  EXPECT_TRUE(PostRecordBlobs(*cursor, buffer, n));
  stored = StoredRecord(Table(), n);
  EXPECT_EQ(BlobSlotFirstBlock(Field(kNoteField), stored), 0);
  EXPECT_EQ(stored[Field(kNoteField).FieldOffset], 0);
  EXPECT_TRUE(StoredBlob(Table(), n, kNoteField).empty());
  EXPECT_EQ(BlobAccountingProblem(Table()), "");

  // Nothing modified: nothing written, but open buffers leave real references behind.
  buffer = RecordBuffer(n);
  const TBuffer unchanged = buffer;
  std::uint32_t size = 0;
  ASSERT_EQ(cursor->OpenBlob(kDataField, buffer, size, TBlobOpenMode::ReadWrite), 0);
  const std::int32_t last = Table().Data().LastBlobChange();
  EXPECT_FALSE(PostRecordBlobs(*cursor, buffer, n));
  EXPECT_EQ(Table().Data().LastBlobChange(), last);
  EXPECT_EQ(buffer, unchanged);
  EXPECT_EQ(StoredRecord(Table(), n), unchanged);
}

TEST_F(CursorBlobsTest, ModifiedBuffersOfTwoRecordsRefuseThePostWith8963) {
  const std::int32_t a = RecordWith(1, Bytes("first"));
  const std::int32_t b = RecordWith(2, Bytes("second"));
  TBuffer bufferA = RecordBuffer(a);
  TBuffer bufferB = RecordBuffer(b);
  SetValue(bufferA, kNoteField, Bytes("changed first"));
  SetValue(bufferB, kNoteField, Bytes("changed second"));
  const TBuffer storedA = StoredRecord(Table(), a);
  const std::int32_t lastBefore = Table().Data().LastBlobChange();
  const std::int32_t nextBlock = Table().Blob().Header().NextBlockNo;
  const std::int32_t freeBlock = Table().Blob().Header().FirstFreeBlock;

  EXPECT_EQ(RaisedCode([&] { PostRecordBlobs(*cursor, bufferA, a); }), codes::kBlobBuffersCorrupt);
  EXPECT_EQ(Table().Data().LastBlobChange(), lastBefore);
  EXPECT_EQ(Table().Blob().Header().NextBlockNo, nextBlock);
  EXPECT_EQ(Table().Blob().Header().FirstFreeBlock, freeBlock);
  EXPECT_EQ(StoredRecord(Table(), a), storedA);
  EXPECT_EQ(StoredBlob(Table(), a, kNoteField), Bytes("first"));
  EXPECT_EQ(cursor->Blobs().OpenCount(), 2) << "both buffers wait for their own posts";

  // Posting B fails the same way; once the buffers are freed A's post goes through.
  std::uint32_t size = 0;
  EXPECT_EQ(RaisedCode([&] { PostRecordBlobs(*cursor, bufferB, b); }), codes::kBlobBuffersCorrupt);
  cursor->FreeBlobs();
  bufferA = RecordBuffer(a);
  SetValue(bufferA, kNoteField, Bytes("changed first"));
  EXPECT_TRUE(PostRecordBlobs(*cursor, bufferA, a));
  EXPECT_EQ(StoredBlob(Table(), a, kNoteField), Bytes("changed first"));
  EXPECT_EQ(StoredBlob(Table(), b, kNoteField), Bytes("second"));
  EXPECT_EQ(cursor->OpenBlob(kNoteField, bufferB, size, TBlobOpenMode::ReadOnly),
            codes::kInvalidBlobOffset)
      << "B's slot holds a freed handle";
  // Posting a buffer that still holds a freed handle is refused: the handle would be stored.
  const std::int32_t last = Table().Data().LastBlobChange();
  EXPECT_EQ(RaisedCode([&] { PostRecordBlobs(*cursor, bufferB, b); }), codes::kBlobBuffersCorrupt);
  EXPECT_GT(SlotValue(StoredRecord(Table(), b), kNoteField), 0);
  EXPECT_EQ(Table().Data().LastBlobChange(), last);
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
}

TEST_F(CursorBlobsTest, AValueRewrittenByAnotherCursorIsNotReadWithAStaleReference) {
  const std::int32_t n = RecordWith(1, Bytes("old text"));
  TBuffer stale = RecordBuffer(n);
  auto other = OpenCursor();
  TBuffer fresh = RecordBuffer(n, other.get());
  SetValue(fresh, kNoteField, Bytes("new text"), other.get());
  PostRecordBlobs(*other, fresh, n);
  std::uint32_t size = 0;
  EXPECT_EQ(RaisedCode([&] { cursor->OpenBlob(kNoteField, stale, size, TBlobOpenMode::ReadOnly); }),
            codes::kRecordChanged);
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0) << "a failed read adds no buffer";
  EXPECT_EQ(SlotValue(stale, kNoteField), SlotValue(RecordBuffer(n), kNoteField))
      << "the chain was rewritten in place: same first block, new change number";
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
}

TEST_F(CursorBlobsTest, AClosedModifiedValueWaitsForThePost) {
  const std::int32_t n = AddRecord(1);
  TBuffer buffer = RecordBuffer(n);
  SetValue(buffer, kNoteField, Bytes("written, closed, posted"));
  EXPECT_EQ(cursor->Blobs().OpenCount(), 1);
  EXPECT_LT(SlotValue(buffer, kNoteField), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, buffer, size), 0);
  EXPECT_EQ(size, 23u);
  EXPECT_EQ(cursor->CloseBlob(kNoteField, buffer), 0) << "a further close changes nothing";
  // The text index of this post reads the modified value from here.
  std::uint32_t dataSize = 0;
  ASSERT_EQ(cursor->OpenBlob(kDataField, buffer, dataSize, TBlobOpenMode::ReadWrite), 0);
  const std::vector<TModifiedBlobText> texts =
      cursor->Blobs().ModifiedTexts(Table().Data().Descriptors(), buffer);
  ASSERT_EQ(texts.size(), 1u) << "the unmodified DATA buffer is not listed";
  EXPECT_EQ(texts[0].FieldNo, kNoteField);
  EXPECT_EQ(TBuffer(texts[0].Text.begin(), texts[0].Text.end()), Bytes("written, closed, posted"));
  EXPECT_TRUE(PostRecordBlobs(*cursor, buffer, n));
  EXPECT_EQ(StoredBlob(Table(), n, kNoteField), Bytes("written, closed, posted"));
}

TEST_F(CursorBlobsTest, DeletingARecordFreesItsValues) {
  const std::int32_t keep = RecordWith(1, testing::RandomBytes(700, 3));
  const std::int32_t n = RecordWith(2, testing::RandomBytes(1200, 4), Bytes("data"));
  TBuffer open = RecordBuffer(n);
  std::uint32_t size = 0;
  ASSERT_EQ(cursor->OpenBlob(kNoteField, open, size, TBlobOpenMode::ReadOnly), 0);

  Table().AcquireWriteLock();
  TBuffer stored = StoredRecord(Table(), n);
  EXPECT_TRUE(cursor->Blobs().EmptyRecordBlobs(Table(), Table().Data().Descriptors(), stored, n));
  Table().ReleaseWriteLock();
  EXPECT_EQ(cursor->Blobs().OpenCount(), 0) << "buffers open on the record are released";
  for (int fieldNo : {kNoteField, kDataField}) {
    EXPECT_EQ(BlobSlotFirstBlock(Field(fieldNo), stored), 0);
    EXPECT_EQ(stored[Field(fieldNo).FieldOffset], 0);
  }
  testing::StoreRecord(Table(), n, stored);
  testing::DeleteRow(Table(), n);
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
  EXPECT_EQ(Table().Blob().Chains().FreeChainBlocks().size(), 3u + 1u);
  EXPECT_EQ(StoredBlob(Table(), keep, kNoteField), testing::RandomBytes(700, 3));

  // A record without values writes nothing.
  const std::int32_t plain = AddRecord(3);
  Table().AcquireWriteLock();
  TBuffer empty = StoredRecord(Table(), plain);
  EXPECT_FALSE(
      cursor->Blobs().EmptyRecordBlobs(Table(), Table().Data().Descriptors(), empty, plain));
  Table().ReleaseWriteLock();
}

TEST_F(CursorBlobsTest, ACopiedRecordGetsValuesOfItsOwn) {
  const TBuffer note = testing::RandomBytes(900, 5);
  const std::int32_t source = RecordWith(1, note, Bytes("bin"));
  const std::int32_t target = AddRecord(2);
  TBuffer copy = StoredRecord(Table(), source);
  SetRecordNoOrNextFree(copy, target);
  SetRowId(copy, RowId(StoredRecord(Table(), target)));
  cursor->Blobs().CopyStoredBlobs(Table(), Table().Data().Descriptors(), copy, target);
  EXPECT_LT(SlotValue(copy, kNoteField), 0);
  EXPECT_LT(SlotValue(copy, kDataField), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(cursor->GetBlobSize(kNoteField, copy, size), 0);
  EXPECT_EQ(size, 900u);
  EXPECT_TRUE(PostRecordBlobs(*cursor, copy, target));

  const TBuffer storedSource = StoredRecord(Table(), source);
  const TBuffer storedTarget = StoredRecord(Table(), target);
  EXPECT_NE(BlobSlotFirstBlock(Field(kNoteField), storedSource),
            BlobSlotFirstBlock(Field(kNoteField), storedTarget));
  EXPECT_EQ(StoredBlob(Table(), target, kNoteField), note);
  EXPECT_EQ(StoredBlob(Table(), target, kDataField), Bytes("bin"));
  EXPECT_EQ(BlobAccountingProblem(Table()), "") << "no block is shared";

  // Changing the source leaves the copy alone.
  TBuffer buffer = RecordBuffer(source);
  SetValue(buffer, kNoteField, Bytes("source changed"));
  PostRecordBlobs(*cursor, buffer, source);
  EXPECT_EQ(StoredBlob(Table(), target, kNoteField), note);
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
}

TEST_F(CursorBlobsTest, TwoSlotsNamingOneChainAreRefusedBeforeAnythingIsWritten) {
  const std::int32_t n = RecordWith(1, Bytes("shared"));
  TBuffer stored = StoredRecord(Table(), n);
  // A damaged record: DATA names NOTE's chain.
  SetBlobSlot(Field(kDataField), stored, BlobSlotFirstBlock(Field(kNoteField), stored), true);
  SetBlobSlotChange(Field(kDataField), stored, BlobSlotChange(Field(kNoteField), stored));
  const std::int32_t last = Table().Data().LastBlobChange();
  Table().AcquireWriteLock();
  EXPECT_EQ(RaisedCode([&] {
              cursor->Blobs().EmptyRecordBlobs(Table(), Table().Data().Descriptors(), stored, n);
            }),
            codes::kBlobBuffersCorrupt);
  Table().ReleaseWriteLock();
  EXPECT_EQ(Table().Data().LastBlobChange(), last);
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
}

// --- Model run ----------------------------------------------------------------------------

// Random opens, writes, truncates, closes, frees and posts over a few records and both BLOB
// fields, against plain byte vectors: the stored values, and the contents of each record
// buffer's open value. After every post the stored values must read back, the caller's
// buffer must carry the stored references, and every block must be accounted for.
class CursorBlobsModelTest : public CursorBlobsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    blockSize = 64;  // small blocks: long chains and much reuse
    CursorBlobsTest::SetUp();
  }
};

struct TOpenValue {
  TBuffer Contents;
  int Uses = 0;
  bool Modified = false;
};

TEST_P(CursorBlobsModelTest, RandomBufferWorkMatchesThePlainModel) {
  const unsigned seed = static_cast<unsigned>(GetParam());
  std::mt19937 random(seed);
  const auto draw = [&](int below) {
    return static_cast<int>(random() % static_cast<unsigned>(below));
  };
  constexpr int kRecords = 4;
  const int fields[] = {kNoteField, kDataField};
  std::vector<std::int32_t> numbers;
  for (int i = 1; i <= kRecords; ++i) numbers.push_back(AddRecord(i));
  std::map<std::pair<int, int>, TBuffer> stored;  // (record index, field) -> value
  std::vector<TBuffer> buffers;
  for (std::int32_t n : numbers) buffers.push_back(RecordBuffer(n));
  std::map<std::pair<int, int>, TOpenValue> open;

  const auto anyModifiedOutside = [&](int record) {
    for (const auto& [key, value] : open)
      if (value.Modified && key.first != record) return true;
    return false;
  };
  // Most work goes to one record at a time, as an edit does; now and then another record's
  // buffer is touched, which refuses the post until the buffers are freed.
  int focus = 0;
  for (int step = 0; step < 600; ++step) {
    const int record = draw(100) < 90 ? focus : draw(kRecords);
    const int field = fields[draw(2)];
    const std::pair<int, int> key{record, field};
    TBuffer& buffer = buffers[static_cast<std::size_t>(record)];
    const std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
    const int action = draw(100);
    std::uint32_t size = 0;
    if (action < 25) {
      const std::uint16_t answer = cursor->OpenBlob(field, buffer, size, TBlobOpenMode::ReadWrite);
      // Unmodified buffers left open by posts count until FreeBlobs.
      if (answer == codes::kTooManyOpenBlobs && !open.contains(key)) {
        ASSERT_EQ(cursor->Blobs().OpenCount(), kMaxOpenBlobs) << where;
        continue;
      }
      ASSERT_EQ(answer, 0) << where;
      TOpenValue& value = open[key];
      if (value.Uses == 0 && !value.Modified) value.Contents = stored[key];
      ++value.Uses;
      ASSERT_EQ(size, value.Contents.size()) << where;
    } else if (action < 50) {
      const std::uint32_t offset = static_cast<std::uint32_t>(draw(600));
      const TBuffer bytes = testing::RandomBytes(static_cast<std::size_t>(draw(400)), random());
      const std::uint16_t answer = cursor->WriteBlob(
          field, buffer, offset, static_cast<std::uint32_t>(bytes.size()), bytes.data());
      if (!open.contains(key)) {
        ASSERT_EQ(answer, codes::kInvalidBlobHandle) << where;
        continue;
      }
      ASSERT_EQ(answer, 0) << where;
      TOpenValue& value = open[key];
      if (value.Contents.size() < offset + bytes.size())
        value.Contents.resize(offset + bytes.size());
      std::copy(bytes.begin(), bytes.end(), value.Contents.begin() + offset);
      value.Modified = true;
    } else if (action < 58) {
      const std::uint32_t newSize = static_cast<std::uint32_t>(draw(3) == 0 ? 0 : draw(700));
      const std::uint16_t answer = cursor->TruncateBlob(field, buffer, newSize);
      if (!open.contains(key)) {
        ASSERT_EQ(answer, codes::kInvalidBlobHandle) << where;
        continue;
      }
      ASSERT_EQ(answer, 0) << where;
      open[key].Contents.resize(newSize);
      open[key].Modified = true;
    } else if (action < 70) {
      const std::uint32_t offset = static_cast<std::uint32_t>(draw(700));
      const std::uint32_t count = static_cast<std::uint32_t>(draw(300));
      TBuffer target(count);
      std::uint32_t copied = 0;
      const std::uint16_t answer =
          cursor->ReadBlob(field, buffer, offset, count, target.data(), copied);
      if (!open.contains(key)) {
        ASSERT_EQ(answer, codes::kInvalidBlobHandle) << where;
        continue;
      }
      const TBuffer& contents = open[key].Contents;
      const std::size_t expected =
          offset < contents.size() ? std::min<std::size_t>(count, contents.size() - offset) : 0;
      ASSERT_EQ(copied, expected) << where;
      ASSERT_EQ(answer, expected < count ? codes::kEndOfBlob : 0) << where;
      ASSERT_TRUE(std::equal(target.begin(), target.begin() + copied, contents.begin() + offset))
          << where;
    } else if (action < 82) {
      const std::uint16_t answer = cursor->CloseBlob(field, buffer);
      if (!open.contains(key)) {
        ASSERT_EQ(answer, codes::kInvalidBlobHandle) << where;
        continue;
      }
      ASSERT_EQ(answer, 0) << where;
      TOpenValue& value = open[key];
      if (value.Uses > 0) --value.Uses;
      if (value.Uses == 0 && !value.Modified) open.erase(key);
    } else if (action < 97) {
      const std::int32_t n = numbers[static_cast<std::size_t>(record)];
      if (anyModifiedOutside(record)) {
        ASSERT_EQ(RaisedCode([&] { PostRecordBlobs(*cursor, buffer, n); }),
                  codes::kBlobBuffersCorrupt)
            << where;
        continue;
      }
      PostRecordBlobs(*cursor, buffer, n);
      for (int f : fields) {
        const auto found = open.find({record, f});
        if (found == open.end()) continue;
        if (found->second.Modified) {
          stored[{record, f}] = found->second.Contents;
          open.erase(found);
        }
      }
      // The open unmodified buffers have left the slots; only FreeBlobs reaches them now.
      for (int f : fields) open.erase({record, f});
      ASSERT_EQ(BlobAccountingProblem(Table()), "") << where;
      for (int f : fields)
        ASSERT_EQ(StoredBlob(Table(), n, f), (stored[{record, f}])) << where << " field " << f;
      buffer = StoredRecord(Table(), n);
      ASSERT_FALSE(cursor->Blobs().AnyModified()) << where;
      focus = draw(kRecords);
    } else {
      cursor->FreeBlobs();
      open.clear();
      focus = draw(kRecords);
      for (std::size_t i = 0; i < buffers.size(); ++i)
        buffers[i] = StoredRecord(Table(), numbers[i]);
    }
  }
  EXPECT_EQ(BlobAccountingProblem(Table()), "");
}

INSTANTIATE_TEST_SUITE_P(Seeds, CursorBlobsModelTest, ::testing::Values(1, 2, 3, 4));

}  // namespace
}  // namespace kura
