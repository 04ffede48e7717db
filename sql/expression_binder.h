// Binding: walks a parsed expression tree once, resolves column names through the caller's
// resolver, checks operand types and fixes the result type, subtype, size and scale of every
// node. Type errors raise the caller's engine error code (11949 SQL, 10051 filters).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/exp_token.h"

namespace kura {

// Resolves column names for binding: the SQL layer's source tables, a cursor's fields, the
// result columns of HAVING, or a plain record's fields (record_fields.h).
class TColumnResolver {
 public:
  virtual ~TColumnResolver() = default;
  // Called with a column node (or a string constant offered as a column name, whose
  // FColumnName holds the text). On success sets FFieldNo, FSourceTable, FDataType,
  // FSubType, FDataSize and FScale and answers true; false when no such column exists.
  virtual bool ResolveColumn(TExpToken& node) = 0;
};

struct TBindOptions {
  std::uint16_t ErrorCode = 11949;
  std::string DatabaseName;
  std::string TableName;
  std::string ContextName;
  // A non-parameter string constant may name a column ('Name' = 'x' reads column Name).
  bool StringConstantsAsColumns = false;
  // A boolean column standing alone (at the top or under NOT, AND, OR) means column = True.
  bool BooleanColumnsStandAlone = false;
};

// Binds node and its subtree in place; parent is the node's parent (nullptr at the top).
// The resolver may be null when the tree names no column.
void BindExpression(const TBindOptions& options, TColumnResolver* resolver, TExpToken* parent,
                    TExpToken& node);

// True when the two nodes' values may face each other under = and <>: numbers with numbers,
// text with text (strings and memos), dates with timestamps, other types with their own; an
// untyped NULL and a parameter (typed when its value is set) fit anything.
bool EqualityCompatible(const TExpToken& left, const TExpToken& right);

// How messages name a node: "column", "constant", "function" or "expression".
std::string_view NodeKindWord(const TExpToken& node);

// A non-parameter string constant facing a date, time or timestamp partner becomes a value of
// the partner's type; text that is no such value raises "Date, time, or timestamp expression
// expected, instead found '...' in " and the options' context. Other nodes stay as they are.
void ConvertDateConstant(const TBindOptions& options, TExpToken& constant,
                         const TExpToken& partner);

}  // namespace kura
