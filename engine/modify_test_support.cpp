#include "engine/modify_test_support.h"

#include <stdexcept>

#include "engine/table_test_support.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/file_test_support.h"
#include "storage/little_endian.h"

namespace kura::testing {

TTableDefinition ModifyTable(bool memo) {
  TTableDefinition definition;
  TFieldDescriptor name = MakeField("NAME", kFieldTypeString, 20);
  name.Required = true;
  TFieldDescriptor qty = MakeField("QTY", kFieldTypeInteger);
  qty.MinValue = "10";
  qty.MaxValue = "100";
  TFieldDescriptor day = MakeField("DAY", kFieldTypeDate);
  day.DefaultValue = "current_date";
  definition.Fields = {MakeField("ID", kFieldTypeInteger), name,
                       MakeField("CODE", kFieldTypeString, 10), qty, day};
  if (memo) {
    TFieldDescriptor note = MakeField("NOTE", kFieldTypeBlob);
    note.FieldSubType = kSubTypeMemo;
    definition.Fields.push_back(note);
  }
  definition.PrimaryIndex.Fields = {1};
  definition.PrimaryIndex.Unique = true;
  TIndexDefinition byCode;
  byCode.Name = "ByCode";
  byCode.Fields = {3};
  byCode.Unique = true;
  TIndexDefinition byName;
  byName.Name = "ByName";
  byName.Fields = {2};
  byName.CaseInsensitive = true;
  definition.SecondaryIndexes = {byCode, byName};
  return definition;
}

void FillRow(TDataCursor& cursor, std::span<std::uint8_t> buffer, const TModifyRow& row) {
  std::uint8_t value[4];
  PutI32LE(value, row.Id);
  cursor.SetField(1, buffer, value);
  cursor.SetField(2, buffer, row.Name.c_str());
  cursor.SetField(3, buffer, row.Code.c_str());
  PutI32LE(value, row.Qty);
  cursor.SetField(4, buffer, value);
}

std::vector<std::uint8_t> NewRowBuffer(TDataCursor& cursor, const TModifyRow& row) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.InitNewRecord(buffer);
  FillRow(cursor, buffer, row);
  return buffer;
}

TModifyRow RowOf(const TDataCursor& cursor, std::span<const std::uint8_t> record) {
  const auto text = [&](int fieldNo) {
    const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
    std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
    GetField(record, field, value);
    return std::string(reinterpret_cast<const char*>(value.data()));
  };
  const auto integer = [&](int fieldNo) {
    std::uint8_t value[4] = {};
    GetField(record, cursor.GetFieldDesc(fieldNo).Descriptor, value);
    return GetI32LE(value);
  };
  return {integer(1), text(2), text(3), integer(4)};
}

std::vector<std::uint8_t> CurrentBuffer(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  const std::uint16_t answer = cursor.GetCurrentRecord(buffer);
  if (answer != 0) throw std::logic_error(Numbered("no current record: ", answer));
  return buffer;
}

std::string Numbered(const char* text, std::int64_t number) {
  std::string numbered(text);
  numbered += std::to_string(number);
  return numbered;
}

std::string TableFileBytes(const std::string& folder, const std::string& table) {
  std::string bytes;
  for (std::string_view extension : {kDataExtension, kIndexExtension, kBlobExtension})
    bytes += ReadWholeFile(TableFileName(folder + "/", table, extension));
  return bytes;
}

}  // namespace kura::testing
