// Arbitrary expression text as a calculated field of a cursor on an in-memory table: the
// field list is refused with an engine error, or every record read and every SetField
// evaluates it into the slot, never crashing, hanging or writing outside the record.
//
// Input: the first byte picks the calculated field's type (and a second, string field that
// concatenates the first's text), the rest is the expression. The table: ID (integer), NAME
// (string of 12), F (float), D (date), BCD (packed decimal, 2 places) and NOTE (memo), 12
// rows, some of them with NULLs and some with a stored memo.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "fuzz/fuzz_session.h"
#include "sql/calculated_field_evaluator.h"
#include "storage/blob_file.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/file_list.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace {

using namespace kura;

constexpr int kRows = 12;

void SetText(TDataFile& data, std::span<std::uint8_t> image, int fieldNo, const std::string& text) {
  const TFieldDescriptor& field = *data.DescriptorByNumber(fieldNo);
  std::vector<std::uint8_t> bytes =
      ValueFromText(field.FieldType, text, field.FieldSize, field.FieldDecimals);
  bytes.push_back(0);
  SetField(image, field, bytes.data(), false, {});
}

void StoreNote(TDataTable& table, std::span<std::uint8_t> image, const std::string& text) {
  const TFieldDescriptor& note = *table.Data().DescriptorByNumber(6);
  TBlobBuffer buffer;
  buffer.FieldNo = 6;
  buffer.Data.assign(text.begin(), text.end());
  buffer.Modified = true;
  TBlobBuffer* modified[] = {&buffer};
  const std::int32_t change = table.Blob().WriteRecordBlobs(modified, table.Data());
  std::uint8_t* slot = image.data() + note.FieldOffset;
  slot[0] = 1;
  PutI32LE(slot + 1, buffer.FirstBlock);
  PutI32LE(slot + 1 + kBlobFirstBlockSize, change);
}

void MakeTable(TDataDirectory& directory) {
  TTableDefinition definition;
  definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                       MakeFieldDescriptor("NAME", kFieldTypeString, 12),
                       MakeFieldDescriptor("F", kFieldTypeFloat),
                       MakeFieldDescriptor("D", kFieldTypeDate),
                       MakeFieldDescriptor("BCD", kFieldTypeBcd, 0, 0, 2),
                       MakeFieldDescriptor("NOTE", kFieldTypeBlob, 0, kSubTypeMemo)};
  TDataTable& table = directory.CreateTable("CALC", true, definition, true);
  TDataFile& data = table.Data();
  for (int i = 1; i <= kRows; ++i) {
    TRecord* record = data.NewRecordSlot();
    std::int32_t rowId = data.LastAutoInc();
    InitRecord(record->Image, record->Number, true, rowId);
    data.SetLastAutoInc(rowId);
    SetText(data, record->Image, 1, std::to_string(i * 7 - 40));
    const std::string number = std::to_string(i);
    if (i % 3 != 0)
      SetText(data, record->Image, 2, std::string("n").append(number).append("\x82\xa0"));
    if (i % 4 != 0) SetText(data, record->Image, 3, std::to_string(i) + ".25");
    if (i % 5 != 0)
      SetText(data, record->Image, 4, std::string("2001-02-").append(std::to_string(i + 10)));
    SetText(data, record->Image, 5, std::string("-").append(number).append(".5"));
    if (i % 2 == 0)
      StoreNote(table, record->Image, std::string(static_cast<std::size_t>(i * 90), 'w'));
    data.MarkRecordChanged(record);
    data.ReleaseRecord(record);
    table.Index().IncLiveRecordCount();
  }
  table.FlushBuffers();
  directory.CloseTable(table);
}

constexpr std::uint8_t kTypes[] = {kFieldTypeString, kFieldTypeInteger,   kFieldTypeSmallInt,
                                   kFieldTypeFloat,  kFieldTypeBcd,       kFieldTypeDate,
                                   kFieldTypeTime,   kFieldTypeTimestamp, kFieldTypeBoolean,
                                   kFieldTypeBytes,  kFieldTypeLargeInt,  kFieldTypeWord};

std::vector<TCursorFieldDefinition> FieldList(std::uint8_t selector, std::string_view text) {
  std::vector<TCursorFieldDefinition> fields;
  for (int n = 1; n <= 6; ++n) {
    TCursorFieldDefinition table;
    table.TableFieldNo = n;
    fields.push_back(table);
  }
  const std::uint8_t type = kTypes[selector % std::size(kTypes)];
  TCursorFieldDefinition calculated;
  calculated.Descriptor = MakeFieldDescriptor("C", type, 0);
  if (type == kFieldTypeString || type == kFieldTypeBytes)
    calculated.Descriptor.FieldSize = static_cast<std::uint8_t>(1 + (selector >> 4) * 16);
  if (type == kFieldTypeBcd) calculated.Descriptor.FieldDecimals = selector >> 5;
  calculated.Expression = std::string(text);
  fields.push_back(calculated);
  TCursorFieldDefinition echo;
  echo.Descriptor = MakeFieldDescriptor("E", kFieldTypeString, 8);
  echo.Expression = "CAST(C AS CHAR(8))";
  fields.push_back(echo);
  return fields;
}

void Walk(TDataCursor& cursor) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
    std::uint8_t id[4];
    PutI32LE(id, 0x7FFFFFFF);
    cursor.SetField(1, buffer, id);
    cursor.SetField(2, buffer, nullptr);
  }
  cursor.Last();
  cursor.GetPriorRecord(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFileList* const list = new TFileList;
  static TDataSession* const session = new TDataSession(false, *list);
  if (size == 0) return 0;
  TDataDirectory& directory = session->OpenDirectory("Memory", "");
  try {
    MakeTable(directory);
    TDataCursor cursor(directory);
    cursor.SetTableName("CALC");
    cursor.SetInMemory(true);
    cursor.Open();
    try {
      SetCalculatedFieldExpressions(
          cursor,
          FieldList(data[0], std::string_view(reinterpret_cast<const char*>(data + 1), size - 1)));
      Walk(cursor);
    } catch (const EKuraEngineError&) {
    }
    cursor.Close();
  } catch (const EKuraEngineError&) {
  }
  fuzzing::CloseDirectoryQuietly(*session, directory);
  return 0;
}
