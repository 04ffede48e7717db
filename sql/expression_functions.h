// The operators and functions the evaluator applies to already evaluated operands.
#pragma once

#include <functional>

#include "sql/exp_token.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_values.h"

namespace kura {

struct TFunctionContext {
  TEvalLocale Locale;
  const void* Record = nullptr;
  TColumnFetcher* Fetcher = nullptr;
  // Evaluates an argument subtree.
  std::function<TExpTokenPtr(const TExpToken&)> Evaluate;
};

// + - * / for the bound node on evaluated operands; NULL operands (other than strings in +)
// and division by zero give NULL.
TExpTokenPtr EvaluateArithmetic(const TExpToken& node, const TExpToken& left,
                                const TExpToken& right);

// A function node (kind 10).
TExpTokenPtr EvaluateFunction(const TExpToken& node, TFunctionContext& context);

}  // namespace kura
