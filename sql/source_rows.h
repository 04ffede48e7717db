// The current rows of the source tables while a canned SELECT walks them, as the evaluator
// reads them, and the pieces a WHERE or JOIN condition is taken apart into.
//
// Each source table has a record buffer holding its current row; a table of an outer join
// that found no partner row shows a NULL row instead. Column nodes name their table through
// FSourceTable (the TSourceTable binding resolved them in) and their field by FFieldNo.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "sql/exp_token.h"
#include "sql/expression_values.h"
#include "sql/query_model.h"
#include "sql/record_fields.h"

namespace kura {

class TSourceRows : public TColumnFetcher {
 public:
  explicit TSourceRows(std::vector<TSourceTable>& tables);
  ~TSourceRows() override;

  std::size_t Count() const { return FTables.size(); }
  TSourceTable& Table(std::size_t i) { return FTables[i]; }
  // The 0-based place of a table in the source list (Count() for none).
  std::size_t IndexOf(const void* table) const;
  std::span<std::uint8_t> Buffer(std::size_t i) { return FBuffers[i]; }
  void SetNullRow(std::size_t i, bool isNull) { FNullRows[i] = isNull; }
  bool IsNullRow(std::size_t i) const { return FNullRows[i]; }

  void FetchColumn(const void* record, TExpToken& node) override;

 private:
  std::vector<TSourceTable>& FTables;
  std::vector<std::vector<TFieldDescriptor>> FFields;
  std::vector<std::unique_ptr<TRecordFields>> FReaders;
  std::vector<std::vector<std::uint8_t>> FBuffers;
  std::vector<bool> FNullRows;
};

// The parts of a condition joined by AND at its top (the node itself when it is no AND).
std::vector<const TExpToken*> SplitAtAnd(const TExpToken& condition);
// The source tables (TSourceTable pointers) the tree's columns name.
std::set<const void*> TablesNamed(const TExpToken& tree);
// The tree holds an IN (SELECT ...).
bool HoldsSubSelect(const TExpToken& tree);

}  // namespace kura
