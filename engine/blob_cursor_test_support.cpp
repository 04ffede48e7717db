#include "engine/blob_cursor_test_support.h"

#include <algorithm>

#include "engine/cursor_blobs.h"
#include "engine/table_test_support.h"
#include "storage/blob_test_support.h"
#include "storage/field_types.h"
#include "storage/record_image.h"

namespace kura::testing {
namespace {

// Runs a read under the table's read lock (nothing when a stronger lock is held).
template <typename TRead>
auto UnderReadLock(TDataTable& table, TRead read) {
  const bool took = !table.ReadLocked() && !table.WriteLocked();
  if (took) table.AcquireReadLock();
  struct TRelease {
    TDataTable& Table;
    bool Took;
    ~TRelease() {
      if (Took && Table.ReadLocked()) Table.ReleaseReadLock();
    }
  } release{table, took};
  return read();
}

}  // namespace

void CreateBlobsTable(TDataDirectory& directory, const std::string& name, bool textIndex,
                      std::uint32_t blockSize) {
  TTableDefinition definition = SmallTable(true);  // ID, NAME, NOTE
  TFieldDescriptor& note = definition.Fields.at(kNoteField - 1);
  note.FieldSubType = kSubTypeMemo;
  TFieldDescriptor data = note;
  data.FieldName = "DATA";
  data.FieldSubType = kSubTypeBinaryBlob;
  definition.Fields.push_back(data);
  if (blockSize != 0) definition.Settings.BlobBlockSize = blockSize;
  TDataTable& table = directory.CreateTable(name, false, definition, false);
  if (textIndex) {
    const std::uint16_t fields[] = {kNameField, kNoteField};
    table.Index().SetTextIndex(fields);
    table.FlushBuffers();
  }
  directory.CloseTable(table);
}

bool PostRecordBlobs(TDataCursor& cursor, std::span<std::uint8_t> buffer, std::int32_t recordNo) {
  TDataTable& table = *cursor.Table();
  table.AcquireWriteLock();
  bool written = false;
  try {
    TDataFile& data = table.Data();
    written = cursor.Blobs().WriteModified(table, data.Descriptors(), buffer);
    TRecord* record = data.GetRecord(recordNo);
    std::copy(buffer.begin() + kRecordHeaderSize, buffer.begin() + data.RecordSize(),
              record->Image.begin() + kRecordHeaderSize);
    data.MarkRecordChanged(record);
    data.ReleaseRecord(record);
    table.FlushBuffers(false, written);
  } catch (...) {
    table.ReleaseWriteLock();
    throw;
  }
  table.ReleaseWriteLock();
  return written;
}

std::vector<std::uint8_t> StoredRecord(TDataTable& table, std::int32_t n) {
  return UnderReadLock(table, [&] {
    TRecord* record = table.Data().GetRecord(n);
    std::vector<std::uint8_t> image = record->Image;
    table.Data().ReleaseRecord(record);
    return image;
  });
}

void StoreRecord(TDataTable& table, std::int32_t n, std::span<const std::uint8_t> image) {
  table.AcquireWriteLock();
  TRecord* record = table.Data().GetRecord(n);
  std::copy(image.begin(), image.end(), record->Image.begin());
  table.Data().MarkRecordChanged(record);
  table.Data().ReleaseRecord(record);
  table.FlushBuffers();
  table.ReleaseWriteLock();
}

std::vector<std::uint8_t> StoredBlob(TDataTable& table, std::int32_t n, int fieldNo) {
  const std::vector<std::uint8_t> image = StoredRecord(table, n);
  const TFieldDescriptor& field = *table.Data().DescriptorByNumber(fieldNo);
  TBlobBuffer value;
  value.FieldNo = field.FieldNo;
  value.FirstBlock = BlobSlotFirstBlock(field, image);
  value.BlobChange = BlobSlotChange(field, image);
  UnderReadLock(table, [&] { table.Blob().ReadBlob(value); });
  return value.Data;
}

std::string BlobAccountingProblem(TDataTable& table) {
  return UnderReadLock(table, [&] {
    TDataFile& data = table.Data();
    std::vector<TValueRef> values;
    for (std::int32_t n = 1; n < data.NextRecordNo(); ++n) {
      TRecord* record = data.GetRecord(n);
      const std::vector<std::uint8_t> image = record->Image;
      data.ReleaseRecord(record);
      if (IsDeleted(image)) continue;
      for (const TFieldDescriptor& field : data.Descriptors()) {
        if (field.FieldType != kFieldTypeBlob) continue;
        const std::int32_t first = BlobSlotFirstBlock(field, image);
        if (first < 0) return "record " + std::to_string(n) + " stores a handle";
        if ((image[field.FieldOffset] != 0) != (first != 0))
          return "record " + std::to_string(n) + " has a null indicator off its value";
        if (first != 0) values.push_back({first, BlobSlotChange(field, image)});
      }
    }
    return BlockAccountingProblem(table.Blob().Chains(), table.Blob().Header(), values);
  });
}

}  // namespace kura::testing
