#include "sql/select_conditions.h"

#include "engine/data_cursor.h"
#include "sql/expression_evaluator.h"
#include "sql/expression_values.h"
#include "sql/filter_condition.h"
#include "sql/source_rows.h"
#include "storage/field_types.h"

namespace kura {

namespace {

TExpTokenPtr ParameterValue(const TExpToken& parameter) {
  TExpTokenPtr constant = NewToken();
  constant->FKind = kNodeConstant;
  constant->FText = parameter.FText;
  CopyValue(parameter, *constant);
  return constant;
}

TExpTokenPtr AndOf(TExpTokenPtr left, TExpTokenPtr right) {
  TExpTokenPtr node = NewToken();
  node->FKind = kNodeBinary;
  node->FOperator = opAnd;
  node->FDataType = kFieldTypeBoolean;
  node->FDataSize = FixedSizeOf(kFieldTypeBoolean);
  node->FDepth = static_cast<std::uint16_t>(std::max(left->FDepth, right->FDepth) + 1);
  node->FLeft = left.release();
  node->FRight = right.release();
  return node;
}

}  // namespace

TExpTokenPtr PreEvaluateFor(const TExpToken& part, TDataCursor& cursor, const void* table,
                            TSourceRows* rows) {
  const TTableLocale locale = cursor.Locale();
  auto substitute = [&](const TExpToken& node) -> TExpTokenPtr {
    if (node.FKind == kNodeConstant && node.FIsParam) return ParameterValue(node);
    if (node.FKind == kNodeColumn && node.FSourceTable != table && rows != nullptr) {
      TExpTokenPtr value =
          EvaluateExpression(node, nullptr, rows, TEvalLocale{locale.LanguageId, locale.SortId});
      value->FKind = kNodeConstant;
      return value;
    }
    return nullptr;
  };
  TFilterFlags flags;
  flags.NoPartialCompare = true;
  return PreEvaluateCondition(part, locale, flags, substitute);
}

TExpTokenPtr PreEvaluateAll(const std::vector<const TExpToken*>& parts, TDataCursor& cursor,
                            const void* table, TSourceRows* rows) {
  TExpTokenPtr tree;
  for (const TExpToken* part : parts) {
    TExpTokenPtr evaluated = PreEvaluateFor(*part, cursor, table, rows);
    tree = tree ? AndOf(std::move(tree), std::move(evaluated)) : std::move(evaluated);
  }
  return tree;
}

TFilter* InstallCondition(TDataCursor& cursor, TFilter* existing, TExpTokenPtr tree) {
  std::unique_ptr<TFilterCondition> condition = MakeFilterCondition(cursor, std::move(tree));
  if (existing != nullptr) {
    cursor.ReplaceFilterExpression(existing, std::move(condition));
    return existing;
  }
  TFilterFlags flags;
  flags.NoPartialCompare = true;
  TFilter* filter = cursor.AddFilter(std::move(condition), {}, flags);
  cursor.ActivateFilter(filter);
  return filter;
}

}  // namespace kura
