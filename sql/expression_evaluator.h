// Evaluation: walks a bound expression tree once per record and answers a new constant node
// holding the value. Two-valued logic: every comparison yields TRUE or FALSE, never unknown.
// Evaluation raises no type errors: division by zero and failed conversions give NULL.
//
// Every operator takes its result from the node pool and releases its operands at once, so
// once the pool is warm an evaluation allocates nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "sql/exp_token.h"
#include "sql/expression_values.h"

namespace kura {

// Reads column values for evaluation: the SQL layer's current rows, a cursor's record, or a
// plain record image (record_fields.h).
class TColumnFetcher {
 public:
  virtual ~TColumnFetcher() = default;
  // Fills node's value, FIsNull and FDataSize (strings: length + 1) from the record for the
  // bound column node (FFieldNo, FSourceTable set by binding).
  virtual void FetchColumn(const void* record, TExpToken& node) = 0;
  // Text search of the record's text-indexed column: with count false answers 1 when the
  // column contains the words, else the number of their occurrences. 0 where there is no
  // text index.
  virtual std::int32_t TextSearch(const void* /*record*/, const TExpToken& /*column*/,
                                  std::string_view /*words*/, bool /*count*/) {
    return 0;
  }
  // The last auto-increment value of the named table; 0 outside SQL.
  virtual std::int32_t LastAutoInc(std::string_view /*table*/) { return 0; }
};

// Evaluates the bound tree for the record. Raises engine error 11949 "Internal error: Column
// '<name>' specified illegally" for a column node when fetcher is null (a column written as a
// quoted string yields its own text instead). The caller releases the result (it owns it).
TExpTokenPtr EvaluateExpression(const TExpToken& node, const void* record, TColumnFetcher* fetcher,
                                TEvalLocale locale);

// True when the evaluated node is a TRUE boolean (the test of filters and WHERE).
bool IsTrue(const TExpToken& value);

// IsTrue(*EvaluateExpression(...)) without building the result nodes of comparisons,
// predicates, AND, OR and NOT: the per-record test of filters and WHERE.
bool EvaluateCondition(const TExpToken& node, const void* record, TColumnFetcher* fetcher,
                       TEvalLocale locale);

}  // namespace kura
