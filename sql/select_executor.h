// Execution of a prepared SELECT (the model and its preparation: query_model.h,
// query_binder.h, query_result_shape.h).
//
// LIVE (FResultIsLive): the base table's cursor is the result. At preparation its field
// list becomes the result columns (plain columns map to their table fields, computed
// columns become calculated fields); on every execution its filters are dropped, the WHERE
// is pre-evaluated with the parameters' current values (constants folded, UPPER marked,
// LIKE 'prefix%' and 'text*' as compare nodes: an asterisk is an ordinary character in SQL)
// and installed as one filter, which the cursor answers from its indexes where it can.
//
// CANNED: a result table (result_table.h) is filled by a nested loop over the source
// tables (select_rows_loop.h), then grouped, made distinct and sorted with SortTable, and
// its cursor is the result. See ExecuteCannedSelect for the steps.
#pragma once

#include "sql/exp_token.h"
#include "sql/query_model.h"

namespace kura {

class TDataCursor;
class TDataDirectory;

// The live result cursor's field list: the result columns (nothing changes for a select
// list that is exactly the table's fields in order).
void PrepareLiveResult(TDataQuery& query);

// Runs the query and answers its result cursor; the statement's database directory is
// where result tables are made unless INTO says otherwise. Sets FRecordCount (the
// statement times its execution). WITH LOCKS tables are locked for the run and unlocked on
// every path.
TDataCursor* ExecuteSelect(TDataQuery& query, TDataDirectory& directory);

// IN (SELECT ...): whether the executed sub-select's result holds value in its column,
// asked through an equality filter on its result cursor.
bool SubSelectContains(TDataQuery& subSelect, const TExpToken& value);

}  // namespace kura
