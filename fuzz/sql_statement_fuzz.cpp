// Arbitrary text through the SQL statement parser: every statement of the text parses into a
// model or raises engine error 11949, never a crash, a hang, deep recursion or a leak. The
// model is walked afterwards so that a dangling parameter or sub-select link shows up.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/engine_error.h"
#include "fuzz/expression_tree_height.h"
#include "sql/query_statement.h"

namespace {

void CheckTree(const kura::TExpTokenPtr& tree) {
  if (kura::fuzzing::TreeHeight(tree.get()) > kura::kMaxTreeHeight + 1) std::abort();
}

void CheckModel(const kura::TQueryStatement& statement) {
  if (statement.FParamCount != static_cast<int>(statement.FParams.size())) std::abort();
  for (const kura::TExpToken* parameter : statement.FParams) {
    if (parameter->FIsParam != 1 || parameter->FKind != kura::kNodeConstant) std::abort();
  }
  if (statement.FQueries.empty() || statement.FMasterQuery != statement.FQueries[0].get())
    std::abort();
  for (const auto& query : statement.FQueries) {
    if (query->FStatement != &statement || query->FKind == kura::qkNone) std::abort();
    for (const auto& field : query->FResultFields) CheckTree(field.Expression);
    for (const auto& join : query->FJoins) CheckTree(join.Condition);
    for (const auto& value : query->FUpdateValues) CheckTree(value.Expression);
    CheckTree(query->FWhere);
    CheckTree(query->FHaving);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kura::TQueryStatement statement(nullptr);
  try {
    statement.Prepare(text);
    CheckModel(statement);
    while (statement.HasMoreStatements()) {
      statement.PrepareNext();
      CheckModel(statement);
    }
  } catch (const kura::EKuraEngineError& error) {
    if (error.ErrorCode != 11949 || error.ErrorText.size() > 255) std::abort();
    // A failed statement is left unprepared.
    if (!statement.FQueries.empty() || !statement.FParams.empty()) std::abort();
  }
  return 0;
}
