// Conditions of a SELECT as its cursors take them: pre-evaluated copies of bound WHERE and
// JOIN parts installed as expression filters.
//
// Pre-evaluation copies the part, puts the current value of every parameter in its place
// (and, with a row source, the current value of every column of another table), then folds
// constants, marks UPPER comparisons, and turns LIKE 'prefix%' and = 'text*' into compare
// nodes with the asterisk kept as an ordinary character.
#pragma once

#include <vector>

#include "sql/exp_token.h"

namespace kura {

class TDataCursor;
class TFilter;
class TSourceRows;

// The part pre-evaluated for the cursor of the source table `table`; rows (may be null)
// gives the values of other tables' columns.
TExpTokenPtr PreEvaluateFor(const TExpToken& part, TDataCursor& cursor, const void* table,
                            TSourceRows* rows);
// The parts pre-evaluated for the cursor and joined by AND (null for no parts).
TExpTokenPtr PreEvaluateAll(const std::vector<const TExpToken*>& parts, TDataCursor& cursor,
                            const void* table, TSourceRows* rows);

// Installs the tree as an active expression filter, or as the new condition of `existing`;
// answers the filter.
TFilter* InstallCondition(TDataCursor& cursor, TFilter* existing, TExpTokenPtr tree);

}  // namespace kura
