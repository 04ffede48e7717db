// Preparation cases for the case-file runner: tables declared in the file, SQL prepared
// against them, and the bound model or the engine error compared with the expectation.
//
//   table: <name>                 creates (or re-creates) a table in the runner's in-memory
//   <field> <SQL type>            database: one field per line, then optional lines
//   primary <field>,...           "primary <fields>" and
//   index <name> [unique] [nocase] [desc] <field>,...
//
//   prepare                       prepares the statement (RequestLive set); expects the
//   <SQL lines>                   bound model (DescribePrepared)
//   ----
//   <bound model lines>
//
//   prepare_error                 expects "<code> <message>"; every table the failed
//   <SQL lines>                   preparation opened must be closed again
//   ----
//   11949 <message>
#pragma once

#include <string>

#include "sql/expression_case_runner.h"
#include "sql/query_statement.h"

namespace kura::testing {

// Adds the table directive and the prepare case kinds to the runner.
void AddPrepareCases(TExpressionCaseRunner& runner);

// The prepared model: per query its opened tables and locale, its result columns with type,
// size and source field, and every bound clause with columns written as table.field (result
// columns of HAVING, ORDER BY and GROUP BY as #n).
std::string DescribePrepared(TQueryStatement& statement);

}  // namespace kura::testing
