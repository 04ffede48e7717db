#include "sql/calculated_field_evaluator.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "sql/expression_binder.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_parser.h"
#include "sql/expression_values.h"
#include "storage/field_types.h"

namespace kura {
namespace {

constexpr std::string_view kContext = "calculated field";

// Parses the whole text as one expression; text left over is a syntax error.
TExpTokenPtr ParseWhole(const std::string& text, std::uint16_t errorCode,
                        const TDataCursor& cursor) {
  TExpressionParser parser;
  parser.SetErrorCode(errorCode);
  parser.SetErrorTableName(cursor.TableName());
  parser.SetContextName(kContext);
  parser.SetLanguageId(cursor.Locale().LanguageId);
  parser.SetExpression(text);
  parser.NextToken();
  TExpTokenPtr tree = parser.ParseExpression(kFilterFlags);
  if (!parser.IsToken(kTokenEnd)) parser.FailFound("Unknown or unexpected symbol '");
  return tree;
}

// The bytes a record slot of the field stores for the value (already of the field's type).
void CopyStoredBytes(const TExpToken& value, const TFieldDescriptor& field,
                     std::span<std::uint8_t> target) {
  std::size_t size = static_cast<std::size_t>(std::max(value.FDataSize, 0));
  if (field.FieldType == kFieldTypeString) size = ReadString(value).size();
  std::memcpy(target.data(), value.Data(), std::min({size, target.size(), value.FData.size()}));
}

}  // namespace

TExpressionFieldEvaluator::TExpressionFieldEvaluator(std::uint16_t errorCode)
    : FErrorCode(errorCode) {}

TExpressionFieldEvaluator::~TExpressionFieldEvaluator() = default;

void TExpressionFieldEvaluator::Prepare(const TDataCursor& cursor,
                                        std::span<const TFieldDescriptor> fields,
                                        std::span<const TCursorFieldDefinition> definitions) {
  // Built aside and taken over at the end, so that a refused expression changes nothing.
  std::vector<TFieldDescriptor> columns(fields.begin(), fields.end());
  std::size_t recordSize = cursor.Table()->Data().RecordSize();
  for (const TFieldDescriptor& field : fields) {
    if (field.Computed)
      recordSize = std::max<std::size_t>(recordSize, field.FieldOffset + 1u + field.PhysicalSize);
  }
  for (TFieldDescriptor field : cursor.Table()->Data().Descriptors()) {
    field.FieldNo = static_cast<std::uint16_t>(columns.size() + 1);
    columns.push_back(std::move(field));
  }
  auto fetcher = std::make_unique<TRecordFields>(columns, recordSize);
  fetcher->SetBlobReader([this, recordSize](const std::uint8_t* record,
                                            const TFieldDescriptor& field, std::string& value) {
    return FCursor != nullptr &&
           FCursor->ReadStoredBlob(field, std::span(record, recordSize), value);
  });
  TBindOptions options;
  options.ErrorCode = FErrorCode;
  options.TableName = cursor.TableName();
  options.ContextName = std::string(kContext);
  std::map<int, TExpTokenPtr> trees;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& expression = definitions[i].Expression;
    if (definitions[i].TableFieldNo != 0 || expression.empty()) continue;
    TExpTokenPtr tree = ParseWhole(expression, FErrorCode, cursor);
    BindExpression(options, fetcher.get(), nullptr, *tree);
    trees[fields[i].FieldNo] = std::move(tree);
  }
  FTrees = std::move(trees);
  FColumns = std::move(columns);
  FFetcher = std::move(fetcher);
}

bool TExpressionFieldEvaluator::Evaluate(const TDataCursor& cursor, int fieldNo,
                                         std::span<const std::uint8_t> record,
                                         std::span<std::uint8_t> value) {
  const auto found = FTrees.find(fieldNo);
  if (found == FTrees.end()) return false;
  const TFieldDescriptor& field = FColumns[static_cast<std::size_t>(fieldNo - 1)];
  const TTableLocale locale = cursor.Locale();
  FCursor = &cursor;
  struct TForget {
    const TDataCursor*& Cursor;
    ~TForget() { Cursor = nullptr; }
  } forget{FCursor};
  const TExpTokenPtr result = EvaluateExpression(*found->second, record.data(), FFetcher.get(),
                                                 TEvalLocale{locale.LanguageId, locale.SortId});
  if (result->FIsNull) return false;
  const std::int32_t size = field.FieldType == kFieldTypeString ? field.FieldSize + 1 : 0;
  const TExpTokenPtr stored = NewToken();
  if (!ConvertValue(*result, field.FieldType, field.FieldSubType, size, field.FieldDecimals,
                    *stored, found->second.get()) ||
      stored->FIsNull)
    return false;
  CopyStoredBytes(*stored, field, value);
  return true;
}

std::unique_ptr<TCalculatedFieldEvaluator> TExpressionFieldEvaluator::NewInstance() const {
  return std::make_unique<TExpressionFieldEvaluator>(FErrorCode);
}

void SetCalculatedFieldExpressions(TDataCursor& cursor,
                                   std::span<const TCursorFieldDefinition> fields,
                                   std::uint16_t errorCode) {
  cursor.SetCalculatedFields(fields, std::make_unique<TExpressionFieldEvaluator>(errorCode));
}

}  // namespace kura
