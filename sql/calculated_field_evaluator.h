// The expression evaluator of a cursor's calculated fields: each calculated field's
// expression is parsed and bound once when the field list is set, and evaluated against the
// cursor's record buffer (with the table's locale) whenever the cursor asks. Column names
// resolve to the cursor's field list first (aliases and calculated fields, so a later field
// may use an earlier one's value), then to the table's own fields; a memo column reads the
// BLOB's whole stored text. The value is converted to the field's type; a value that does not
// convert is NULL.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "engine/calculated_fields.h"
#include "sql/exp_token.h"
#include "sql/record_fields.h"

namespace kura {

class TDataCursor;

class TExpressionFieldEvaluator : public TCalculatedFieldEvaluator {
 public:
  // errorCode: the engine error of a syntax or type error (11949 SQL, 10051 filters).
  explicit TExpressionFieldEvaluator(std::uint16_t errorCode = 11949);
  ~TExpressionFieldEvaluator() override;

  void Prepare(const TDataCursor& cursor, std::span<const TFieldDescriptor> fields,
               std::span<const TCursorFieldDefinition> definitions) override;
  bool Evaluate(const TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> record,
                std::span<std::uint8_t> value) override;
  std::unique_ptr<TCalculatedFieldEvaluator> NewInstance() const override;

 private:
  std::uint16_t FErrorCode;
  // The names the expressions may use: the field list, then the table's fields numbered on.
  std::vector<TFieldDescriptor> FColumns;
  std::unique_ptr<TRecordFields> FFetcher;
  std::map<int, TExpTokenPtr> FTrees;  // by field number
  // The cursor being evaluated for, which reads memo columns.
  const TDataCursor* FCursor = nullptr;
};

// Sets the cursor's field list, evaluating the calculated fields' expressions with a
// TExpressionFieldEvaluator. Raises as SetCalculatedFields does, and errorCode for an
// expression that does not parse or bind; the cursor then keeps its old list.
void SetCalculatedFieldExpressions(TDataCursor& cursor,
                                   std::span<const TCursorFieldDefinition> fields,
                                   std::uint16_t errorCode = 11949);

}  // namespace kura
