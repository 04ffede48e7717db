#include "sql/filter_test_support.h"

#include <stdexcept>

#include "base/engine_codes.h"
#include "engine/data_directory.h"
#include "engine/table_test_support.h"
#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_parser.h"
#include "sql/record_fields.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura::testing {

TTableDefinition FilterTable(const TFilterTableOptions& options) {
  TTableDefinition definition;
  TFieldDescriptor note = MakeField("NOTE", kFieldTypeBlob);
  note.FieldSubType = kSubTypeMemo;
  definition.Fields = {MakeField("ID", kFieldTypeInteger), MakeField("NAME", kFieldTypeString, 12),
                       MakeField("AMOUNT", kFieldTypeInteger),
                       MakeField("KIND", kFieldTypeString, 8), note};
  definition.Settings.LanguageId = options.LanguageId;
  if (options.PrimaryOnId) {
    definition.PrimaryIndex.Fields = {kIdField};
    definition.PrimaryIndex.Unique = true;
  }
  if (options.AmountIndex) {
    TIndexDefinition byAmount;
    byAmount.Name = "ByAmount";
    byAmount.Fields = {kAmountField};
    byAmount.Descending = options.AmountDescending;
    definition.SecondaryIndexes.push_back(byAmount);
  }
  if (options.NameIndex) {
    TIndexDefinition byName;
    byName.Name = "ByName";
    byName.Fields = {kNameField, kIdField};
    byName.CaseInsensitive = options.NameCaseInsensitive;
    byName.Descending = options.NameDescending;
    definition.SecondaryIndexes.push_back(byName);
  }
  if (options.KindIndex) {
    TIndexDefinition byKind;
    byKind.Name = "ByKind";
    byKind.Fields = {kKindField};
    definition.SecondaryIndexes.push_back(byKind);
  }
  if (options.TextIndexOnNote) definition.TextIndexFields = {kNoteField};
  return definition;
}

std::vector<std::uint8_t> FilterRowBuffer(TDataCursor& cursor, const TFilterRow& row) {
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.InitNewRecord(buffer);
  std::uint8_t value[4];
  PutI32LE(value, row.Id);
  cursor.SetField(kIdField, buffer, value);
  cursor.SetField(kNameField, buffer, row.Name ? row.Name->c_str() : nullptr);
  if (row.Amount) PutI32LE(value, *row.Amount);
  cursor.SetField(kAmountField, buffer, row.Amount ? value : nullptr);
  cursor.SetField(kKindField, buffer, row.Kind ? row.Kind->c_str() : nullptr);
  if (row.Note) {
    std::uint32_t size = 0;
    if (cursor.OpenBlob(kNoteField, buffer, size, TBlobOpenMode::ReadWrite) != 0 ||
        cursor.WriteBlob(kNoteField, buffer, 0, static_cast<std::uint32_t>(row.Note->size()),
                         reinterpret_cast<const std::uint8_t*>(row.Note->data())) != 0 ||
        cursor.CloseBlob(kNoteField, buffer) != 0)
      throw std::runtime_error("the note could not be written");
  }
  return buffer;
}

void InsertFilterRow(TDataCursor& cursor, const TFilterRow& row) {
  std::vector<std::uint8_t> buffer = FilterRowBuffer(cursor, row);
  cursor.PostInsert(buffer, false);
}

TFilterRow FilterRowOf(const TDataCursor& cursor, std::span<const std::uint8_t> record) {
  const auto text = [&](int fieldNo) -> std::optional<std::string> {
    const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
    std::vector<std::uint8_t> value(field.PhysicalSize + 1u, 0);
    if (GetField(record, field, value)) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value.data()));
  };
  const auto number = [&](int fieldNo) -> std::optional<std::int32_t> {
    std::uint8_t value[4] = {};
    if (GetField(record, cursor.GetFieldDesc(fieldNo).Descriptor, value)) return std::nullopt;
    return GetI32LE(value);
  };
  TFilterRow row;
  row.Id = number(kIdField).value_or(0);
  row.Name = text(kNameField);
  row.Amount = number(kAmountField);
  row.Kind = text(kKindField);
  return row;
}

std::vector<std::int32_t> WalkIds(TDataCursor& cursor) {
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) ids.push_back(FilterRowOf(cursor, buffer).Id);
  return ids;
}

std::vector<std::int32_t> BruteForceIds(TDataDirectory& directory, const std::string& table,
                                        int indexNo, const std::string& text) {
  TDataCursor cursor(directory);
  cursor.SetTableName(table);
  cursor.Open();
  cursor.SetIndexNo(indexNo);
  const TTableLocale locale = cursor.Locale();
  TExpressionParser parser;
  parser.SetErrorCode(codes::kFilterError);
  parser.SetLanguageId(locale.LanguageId);
  parser.SetExpression(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kFilterFlags);
  const auto fields = cursor.Table()->Data().Descriptors();
  const std::size_t recordSize = cursor.Table()->Data().RecordSize();
  TRecordFields columns(fields, recordSize);
  columns.SetBlobReader(
      [&](const std::uint8_t* record, const TFieldDescriptor& field, std::string& value) {
        return cursor.ReadStoredBlob(field, std::span(record, recordSize), value);
      });
  TBindOptions options;
  options.ErrorCode = codes::kFilterError;
  BindExpression(options, &columns, nullptr, *tree);
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(cursor.RecordSize());
  cursor.First();
  while (cursor.GetNextRecord(buffer) == 0) {
    const TExpTokenPtr value = EvaluateExpression(*tree, buffer.data(), &columns,
                                                  TEvalLocale{locale.LanguageId, locale.SortId});
    if (IsTrue(*value)) ids.push_back(FilterRowOf(cursor, buffer).Id);
  }
  return ids;
}

}  // namespace kura::testing
