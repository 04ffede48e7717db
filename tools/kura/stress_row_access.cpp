#include "tools/kura/stress_row_access.h"

#include <stdexcept>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "storage/field_descriptor.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"
#include "tools/kura/table_stress.h"

namespace kura::tool {
namespace {

enum TStressField : int { fId = 1, fCode, fGroup, fVersion, fBlobTag, fNote };
constexpr const char* kFieldNames[] = {"ID", "CODE", "GRP", "VER", "BLOBTAG", "NOTE"};

TIndexDefinition Index(const char* name, std::uint16_t field, bool unique) {
  TIndexDefinition index;
  index.Name = name;
  index.Fields = {field};
  index.Unique = unique;
  return index;
}

TTableDefinition StressDefinition() {
  TTableDefinition definition;
  TFieldDescriptor note = MakeFieldDescriptor("NOTE", kFieldTypeBlob);
  note.FieldSubType = kSubTypeMemo;
  definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                       MakeFieldDescriptor("CODE", kFieldTypeString, 12),
                       MakeFieldDescriptor("GRP", kFieldTypeString, 8),
                       MakeFieldDescriptor("VER", kFieldTypeInteger),
                       MakeFieldDescriptor("BLOBTAG", kFieldTypeInteger),
                       note};
  definition.PrimaryIndex.Fields = {fId};
  definition.PrimaryIndex.Unique = true;
  definition.SecondaryIndexes = {Index("ByCode", fCode, true), Index("ByGroup", fGroup, false)};
  return definition;
}

std::int32_t Integer(const TDataCursor& cursor, std::span<const std::uint8_t> record, int fieldNo) {
  std::uint8_t value[4] = {};
  GetField(record, cursor.GetFieldDesc(fieldNo).Descriptor, value);
  return GetI32LE(value);
}

std::string Text(const TDataCursor& cursor, std::span<const std::uint8_t> record, int fieldNo) {
  const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
  std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
  GetField(record, field, value);
  return std::string(reinterpret_cast<const char*>(value.data()));
}

void SetInteger(const TDataCursor& cursor, std::span<std::uint8_t> record, int fieldNo,
                std::int32_t number) {
  std::uint8_t value[4];
  PutI32LE(value, number);
  cursor.SetField(fieldNo, record, value);
}

void Check(std::uint16_t answer) {
  if (answer != 0) throw EKuraEngineError(answer);
}

}  // namespace

void CreateOrCheckStressTable(TDataDirectory& directory) {
  TDataCursor cursor(directory);
  cursor.SetTableName(kStressTableName);
  try {
    cursor.Open();
  } catch (const EKuraEngineError& error) {
    if (error.ErrorCode != codes::kTableNotFound) throw;
    cursor.SetExclusive(true);
    cursor.CreateTable(StressDefinition(), false);
    cursor.SetExclusive(false);
    cursor.Open();
  }
  bool fits = cursor.FieldCount() == fNote;
  for (int fieldNo = 1; fits && fieldNo <= fNote; ++fieldNo)
    fits = cursor.GetFieldDesc(fieldNo).Descriptor.FieldName == kFieldNames[fieldNo - 1];
  if (!fits)
    throw std::runtime_error(TableFileName(directory.Path(), kStressTableName, kDataExtension) +
                             ": the table exists with other fields than ID, CODE, GRP, VER, "
                             "BLOBTAG, NOTE");
  cursor.SetIndexName("ByGroup");  // 10022 when it lacks the index
  cursor.SetIndexName("ByCode");
}

void StoreStressRow(const TDataCursor& cursor, std::span<std::uint8_t> buffer,
                    const TStressRow& row) {
  SetInteger(cursor, buffer, fId, row.Id);
  cursor.SetField(fCode, buffer, row.Code.c_str());
  cursor.SetField(fGroup, buffer, row.Group.c_str());
  SetInteger(cursor, buffer, fVersion, row.Version);
  SetInteger(cursor, buffer, fBlobTag, row.BlobTag);
}

TStoredStressRow ReadStressRow(TDataCursor& cursor, std::span<std::uint8_t> buffer) {
  TStoredStressRow stored;
  stored.Row = {Integer(cursor, buffer, fId),      Text(cursor, buffer, fCode),
                Text(cursor, buffer, fGroup),      Integer(cursor, buffer, fVersion),
                Integer(cursor, buffer, fBlobTag), 0};
  std::uint32_t size = 0;
  Check(cursor.OpenBlob(fNote, buffer, size, TBlobOpenMode::ReadOnly));
  stored.Blob.resize(size);
  std::uint32_t copied = 0;
  std::uint16_t answer = 0;
  try {
    answer = cursor.ReadBlob(fNote, buffer, 0, size, stored.Blob.data(), copied);
  } catch (...) {
    cursor.CloseBlob(fNote, buffer);
    throw;
  }
  cursor.CloseBlob(fNote, buffer);
  Check(answer);
  stored.Blob.resize(copied);
  stored.Row.BlobLength = copied;
  return stored;
}

void WriteStressBlob(TDataCursor& cursor, std::span<std::uint8_t> buffer, std::int32_t tag,
                     std::uint32_t length) {
  const std::vector<std::uint8_t> bytes = StressBlobBytes(tag, length);
  std::uint32_t size = 0;
  Check(cursor.OpenBlob(fNote, buffer, size, TBlobOpenMode::ReadWrite));
  Check(cursor.TruncateBlob(fNote, buffer, 0));
  Check(cursor.WriteBlob(fNote, buffer, 0, length, bytes.data()));
  Check(cursor.CloseBlob(fNote, buffer));
}

TStoredStressRows ReadStressTable(TDataCursor& cursor) {
  TStoredStressRows rows;
  cursor.SetIndexNo(0);
  cursor.First();
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  while (cursor.GetNextRecord(buffer) == 0) {
    TStoredStressRow stored = ReadStressRow(cursor, buffer);
    rows.emplace(stored.Row.Id, std::move(stored));
  }
  return rows;
}

}  // namespace kura::tool
