#include "sql/query_result_shape.h"

#include <vector>

#include "engine/data_cursor.h"
#include "sql/expression_values.h"
#include "sql/query_checks.h"
#include "sql/query_statement.h"

namespace kura {

namespace {

bool IsImplicitGroup(const TDataQuery& query) {
  if (query.FHasGroupBy) return false;
  bool aggregates = false;
  for (const TResultField& field : query.FResultFields) {
    if (field.Aggregate != akNone) {
      aggregates = true;
    } else if (ContainsColumn(field.Expression.get())) {
      return false;
    }
  }
  return aggregates;
}

bool IsCountOnly(const TDataQuery& query) {
  if (query.FSourceTables.size() != 1 || query.FHasJoin || query.FHasGroupBy ||
      query.FResultFields.size() != 1) {
    return false;
  }
  const TResultField& field = query.FResultFields.front();
  if (field.Aggregate != akCount || field.Expression->FArgs.empty()) return false;
  const TExpToken& argument = *field.Expression->FArgs.front();
  return argument.FKind == kNodeColumn && argument.FColumnName == "*";
}

bool IsPlainColumn(const TResultField& field) {
  return field.Aggregate == akNone && field.Expression->FKind == kNodeColumn &&
         field.SourceFieldNo != 0;
}

bool IndexServes(const TIndexDescriptor& index, const TDataQuery& query, bool allDescending,
                 bool anyString) {
  if (index.KeyFieldCount < query.FOrderBy.size() || index.Descending != allDescending) {
    return false;
  }
  if (anyString && index.CaseInsensitive != query.FOrderByNoCase) return false;
  for (std::size_t i = 0; i < query.FOrderBy.size(); ++i) {
    const TOrderByField& item = query.FOrderBy[i];
    const TResultField& column =
        query.FResultFields[static_cast<std::size_t>(item.ResultColumn) - 1];
    if (index.KeyFields[i] != column.SourceFieldNo || index.FieldDescending[i] != item.Descending) {
      return false;
    }
  }
  return true;
}

// The number of the first index serving the ORDER BY, or kNoOrderIndex.
std::uint8_t FindOrderIndex(TDataQuery& query) {
  bool allDescending = true;
  bool anyString = false;
  for (const TOrderByField& item : query.FOrderBy) {
    const TResultField& column =
        query.FResultFields[static_cast<std::size_t>(item.ResultColumn) - 1];
    if (!IsPlainColumn(column)) {
      query.FOrderByNeedsExpression = true;
      return kNoOrderIndex;
    }
    allDescending = allDescending && item.Descending;
    anyString = anyString || IsStringLike(column.DataType, column.SubType);
  }
  if (query.FOrderBy.size() > static_cast<std::size_t>(kMaxKeyFields)) return kNoOrderIndex;
  const TDataCursor& cursor = *query.FSourceTables.front().Cursor;
  std::vector<int> candidates;
  if (cursor.HasPrimaryIndex()) candidates.push_back(0);
  for (int no = 1; no <= cursor.SecondaryIndexCount(); ++no) candidates.push_back(no);
  for (int no : candidates) {
    if (IndexServes(cursor.ReadIndexDescriptor(no), query, allDescending, anyString)) {
      return static_cast<std::uint8_t>(no);
    }
  }
  return kNoOrderIndex;
}

bool MayBeLive(const TDataQuery& query, std::size_t statementQueries) {
  if (!query.FRequestLive || query.FIntoMemory || !query.FIntoTable.empty()) return false;
  if (query.FDistinct || query.FHasJoin || query.FSourceTables.size() != 1) return false;
  if (query.FHasGroupBy || query.FImplicitGroup || query.FHasHaving || query.FTop >= 0) {
    return false;
  }
  bool master = &query == query.FStatement->FMasterQuery;
  if (master) return statementQueries == 1;
  if (query.FUnionNext != nullptr) return false;
  return !(query.FIsSubQuery && query.FHasComputedColumn);
}

}  // namespace

void DecideResultShape(TDataQuery& query, std::size_t statementQueries) {
  query.FImplicitGroup = IsImplicitGroup(query);
  query.FCountOnly = IsCountOnly(query);
  query.FOrderIndex = kNoOrderIndex;
  query.FResultIsLive = false;
  if (!MayBeLive(query, statementQueries)) return;
  if (!query.FOrderBy.empty()) {
    query.FOrderIndex = FindOrderIndex(query);
    if (query.FOrderIndex == kNoOrderIndex) return;
    query.FSourceTables.front().Cursor->SetIndexNo(query.FOrderIndex);
  }
  query.FResultIsLive = true;
}

}  // namespace kura
