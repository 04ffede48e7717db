// The canned result of a SELECT: a result table filled from the source tables, then grouped,
// made distinct, joined with its UNION parts and sorted.
//
// STEPS
//   1. Old filters go; the result table is made afresh (result_table.h).
//   2. The WHERE and JOIN conditions are split at AND. A part naming one table (not the
//      NULL side of an outer join) and holding no sub-select is installed as a filter on
//      that table's cursor once; a part naming several tables joins the table of the
//      innermost loop level it names and is pre-evaluated per outer row with the outer rows'
//      values, so that an index serves the inner lookup; every other part is residual.
//   3. Loop order: FROM order; with inner joins only (and no NOJOINOPTIMIZE) the table with
//      the fewest filtered records drives. A RIGHT OUTER JOIN of two tables is walked as the
//      LEFT OUTER JOIN the other way round.
//   4. Each combination passes when its join parts and the residual parts are TRUE; an outer
//      row without a partner yields one row with the inner table's columns NULL. A row is
//      appended with its per-row aggregate values (result_aggregates.h); an implicit group
//      accumulates every row into one record appended at the end (also for no rows).
//      MaxRowCount and, without ORDER BY, GROUP BY, DISTINCT and UNION, TOP stop early; the
//      progress callback reports the share of driving rows done and may abort.
//   5. GROUP BY (combining, HAVING) or DISTINCT (removing duplicates) by SortTable; then
//      the UNION part's rows are appended (duplicates removed unless UNION ALL); then
//      ORDER BY with TOP, unless the grouping sort already gave that order.
//   COUNT(*) over one table whose WHERE can be installed is the table's filtered count.
#pragma once

#include "sql/query_model.h"

namespace kura {

class TDataCursor;
class TDataDirectory;

TDataCursor* ExecuteCannedSelect(TDataQuery& query, TDataDirectory& directory);

}  // namespace kura
