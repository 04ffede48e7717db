// Checks of a parsed query that need no tables, run by the statement right after parsing:
// DISTINCT with GROUP BY (DISTINCT is dropped), HAVING without GROUP BY, the select list
// (an alias on `*`, a correlation that names no source table, a bare NULL, aggregates beside
// plain columns without GROUP BY, at most 1024 columns), the number of columns of UNION parts,
// ORDER BY and GROUP BY lists (at most 1024, column numbers within the select list,
// correlations that name a source), correlations in WHERE, and the number of INSERT values.
// Each failure raises engine error 11949 with its message.
//
// Where the select list holds `*`, checks that need the number of result columns wait for
// binding, which knows the tables' columns.
#pragma once

#include <cstddef>
#include <string>

#include "sql/query_model.h"

namespace kura {

// Most columns a result set, an ORDER BY, GROUP BY or DISTINCT list may hold.
inline constexpr std::size_t kMaxQueryColumns = 1024;

void CheckParsedQuery(TDataQuery& query);

// A UNION part must have as many columns as the master query of its chain. Parts or masters
// whose select list still holds `*` pass: binding checks them again once `*` is expanded.
void CheckUnionColumnCount(const TDataQuery& part);

// Raises engine error 11949 with the message and nothing appended.
[[noreturn]] void RaiseQueryError(const std::string& message);
// The tree names a column (or holds a sub-select).
bool ContainsColumn(const TExpToken* node);
// The select-list item is `*` or `c.*`.
bool IsStarColumn(const TResultField& field);
// The source table with that correlation name (any case), or nullptr.
const TSourceTable* FindSourceTable(const TDataQuery& query, const std::string& correlation);

}  // namespace kura
