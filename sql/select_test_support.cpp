#include "sql/select_test_support.h"

#include <sstream>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "sql/expression_values.h"
#include "sql/record_fields.h"
#include "sql/result_aggregates.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"

namespace kura::testing {

namespace {

std::vector<std::string> SplitValues(const std::string& line) {
  std::vector<std::string> values;
  std::istringstream in(line);
  for (std::string value; std::getline(in, value, '|');) {
    values.emplace_back(TrimAsciiBlanks(value));
  }
  return values;
}

}  // namespace

void InsertRows(TDataDirectory& directory, std::string_view tableName,
                const std::vector<std::string>& lines) {
  TDataCursor cursor(directory);
  cursor.SetTableName(tableName);
  cursor.SetInMemory(directory.IsInMemory());
  cursor.Open();
  std::vector<std::uint8_t> record(cursor.RecordSize(), 0);
  for (const std::string& line : lines) {
    cursor.InitNewRecord(record);
    std::vector<std::string> values = SplitValues(line);
    for (std::size_t i = 0; i < values.size() && static_cast<int>(i) < cursor.FieldCount(); ++i) {
      TExpTokenPtr value = NewToken();
      value->FKind = kNodeConstant;
      if (values[i] == "NULL") {
        value->FDataType = kFieldTypeString;
        SetNullValue(*value);
      } else {
        SetString(*value, values[i]);
      }
      const TFieldDescriptor& field = cursor.GetFieldDesc(static_cast<int>(i) + 1).Descriptor;
      StoreResultValue(record, field, *value, cursor.Locale());
    }
    cursor.PostInsert(record, false);
  }
  cursor.Close();
}

std::vector<std::string> ReadRows(TDataCursor& cursor) {
  std::vector<TFieldDescriptor> fields;
  for (int no = 1; no <= cursor.FieldCount(); ++no) {
    fields.push_back(cursor.GetFieldDesc(no).Descriptor);
    fields.back().FieldNo = static_cast<std::uint16_t>(no);
  }
  TRecordFields reader(fields, cursor.RecordSize());
  reader.SetBlobReader(
      [&cursor](const std::uint8_t* record, const TFieldDescriptor& field, std::string& value) {
        return cursor.ReadStoredBlob(field, std::span(record, cursor.RecordSize()), value);
      });
  std::vector<std::string> rows;
  std::vector<std::uint8_t> buffer(cursor.RecordSize(), 0);
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
    std::string row;
    for (const TFieldDescriptor& field : fields) {
      TExpTokenPtr value = NewToken();
      value->FKind = kNodeConstant;
      SetColumnType(*value, field);
      reader.FetchColumn(buffer.data(), *value);
      if (!row.empty()) row += " | ";
      row += ValueText(*value);
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace kura::testing
