#include "engine/cursor_test_support.h"

#include <stdexcept>

#include "engine/table_test_support.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura::testing {
namespace {

TTableLocale LocaleOf(const TDataFile& data) {
  return {static_cast<std::uint16_t>(data.LanguageId()), static_cast<std::uint16_t>(data.SortId())};
}

// The slots whose keys every row has: the primary index (when the table has one of its own),
// the secondary indexes and "Sys Deleted".
std::vector<int> IndexedSlots(TDataTable& table) {
  std::vector<int> slots;
  TIndexFile& index = table.Index();
  if (!index.NoPrimaryIndex()) slots.push_back(kPrimaryIndexSlot);
  for (int slot = 1; slot <= index.SecondaryCount(); ++slot) slots.push_back(slot);
  slots.push_back(kSysDeletedSlot);
  return slots;
}

std::vector<std::uint8_t> KeyOf(TIndexFile& index, int slot, std::span<const std::uint8_t> image) {
  const TKeyFormat& keys = index.KeyFormat(slot);
  std::vector<std::uint8_t> key(static_cast<std::size_t>(keys.KeyLength));
  BuildKey(keys, image, key);
  return key;
}

void FillRow(std::span<std::uint8_t> image, const TDataFile& data, std::int32_t id,
             const std::string& name) {
  std::uint8_t value[4];
  PutI32LE(value, id);
  SetField(image, *data.DescriptorByNumber(1), value, false, LocaleOf(data));
  SetField(image, *data.DescriptorByNumber(2), name.c_str(), false, LocaleOf(data));
}

}  // namespace

TTableDefinition RowsTable(const TRowsTableOptions& options) {
  TTableDefinition definition = SmallTable();
  definition.Settings.LanguageId = options.LanguageId;
  if (options.PrimaryOnName) {
    definition.PrimaryIndex.Fields = {2};
    definition.PrimaryIndex.Unique = true;
  }
  if (options.SecondaryById) {
    TIndexDefinition byId;
    byId.Name = "ById";
    byId.Fields = {1};
    byId.Unique = true;
    definition.SecondaryIndexes.push_back(byId);
  }
  if (options.SecondaryByNameNonUnique) {
    TIndexDefinition byName;
    byName.Name = "ByName";
    byName.Fields = {2};
    byName.Descending = options.Descending;
    definition.SecondaryIndexes.push_back(byName);
  }
  return definition;
}

std::int32_t InsertRow(TDataTable& table, std::int32_t id, const std::string& name) {
  table.AcquireWriteLock();
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  std::vector<std::uint8_t> image(data.RecordSize(), 0);
  std::int32_t rowId = data.LastAutoInc();
  InitRecord(image, data.NextRecordNo(), true, rowId);
  FillRow(image, data, id, name);
  // A unique index that holds the key already refuses the row before anything changes.
  for (int slot : IndexedSlots(table)) {
    if (slot == kSysDeletedSlot || !index.KeyFormat(slot).Unique) continue;
    if (index.Tree(slot).FindRecord(KeyOf(index, slot, image).data()) != 0) {
      table.ReleaseWriteLock();
      return 0;
    }
  }
  TRecord* record = data.NewRecordSlot();
  const std::int32_t recordNo = record->Number;
  // A reused slot of a deleted record takes its key out of the deleted part of "Sys Deleted".
  if (IsDeleted(record->Image))
    index.Tree(kSysDeletedSlot).Delete(KeyOf(index, kSysDeletedSlot, record->Image).data());
  SetRecordNoOrNextFree(image, recordNo);
  record->Image = image;
  data.SetLastAutoInc(rowId);
  data.MarkRecordChanged(record);
  data.ReleaseRecord(record);
  for (int slot : IndexedSlots(table))
    index.Tree(slot).Insert(KeyOf(index, slot, image).data(), recordNo);
  index.IncLiveRecordCount();
  table.FlushBuffers();
  table.ReleaseWriteLock();
  return recordNo;
}

void DeleteRow(TDataTable& table, std::int32_t recordNo) {
  table.AcquireWriteLock();
  TDataFile& data = table.Data();
  TIndexFile& index = table.Index();
  TRecord* record = data.GetRecord(recordNo);
  if (IsDeleted(record->Image)) {
    data.ReleaseRecord(record);
    table.ReleaseWriteLock();
    throw std::logic_error("record deleted already");
  }
  const std::vector<std::uint8_t> image = record->Image;
  for (int slot : IndexedSlots(table)) index.Tree(slot).Delete(KeyOf(index, slot, image).data());
  data.DeleteRecordSlot(record);
  const std::vector<std::uint8_t> deleted = record->Image;
  data.ReleaseRecord(record);
  index.Tree(kSysDeletedSlot).Insert(KeyOf(index, kSysDeletedSlot, deleted).data(), recordNo);
  index.DecLiveRecordCount();
  table.FlushBuffers();
  table.ReleaseWriteLock();
}

std::int32_t IdOf(const TDataCursor& cursor, std::span<const std::uint8_t> record) {
  std::uint8_t value[4] = {};
  GetField(record, cursor.GetFieldDesc(1).Descriptor, value);
  return GetI32LE(value);
}

std::string NameOf(const TDataCursor& cursor, std::span<const std::uint8_t> record) {
  const TFieldDescriptor& field = cursor.GetFieldDesc(2).Descriptor;
  std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
  GetField(record, field, value);
  return std::string(reinterpret_cast<const char*>(value.data()));
}

std::vector<std::uint8_t> RowImage(const TDataCursor& cursor, std::int32_t id,
                                   const std::string& name) {
  std::vector<std::uint8_t> image(cursor.RecordSize(), 0);
  std::uint8_t value[4];
  PutI32LE(value, id);
  cursor.SetField(1, image, value);
  cursor.SetField(2, image, name.c_str());
  return image;
}

}  // namespace kura::testing
