// The decisions preparation takes for the execution of a bound SELECT: whether its result is
// live (the base table's own cursor, filtered by WHERE and ordered by an existing index) or
// canned (a result table filled with copies of the rows), which index serves ORDER BY, and
// the COUNT(*) and implicit-group shortcuts.
//
// A SELECT is live exactly when the caller asks for an editable result, there is no INTO
// table, no DISTINCT, no join (one source table), no GROUP BY (explicit or implicit), no
// HAVING and no TOP, an existing index serves the ORDER BY (if any), and the query is either
// the only query of its statement or a sub-select or UNION part not itself followed by UNION
// (a sub-select with a computed column never is).
//
// An index serves ORDER BY when its direction equals "every item descending", its case
// flag equals NOCASE (only checked when an item is a string), and its leading key fields are
// the items' table fields with the items' directions. The primary index is tried first, then
// the secondary indexes in number order.
#pragma once

#include <cstddef>

#include "sql/query_model.h"

namespace kura {

// Sets FResultIsLive, FOrderIndex, FOrderByNeedsExpression, FCountOnly and FImplicitGroup of
// a bound SELECT; statementQueries is the number of queries of its statement. A live result
// cursor switches to the index serving ORDER BY.
void DecideResultShape(TDataQuery& query, std::size_t statementQueries);

}  // namespace kura
