// Preparation cases for the case-file runner: tables declared in the file, SQL prepared
// against them, and the bound model or the engine error compared with the expectation.
//
//   table: <name>                 creates (or re-creates) a table in the runner's in-memory
//   <field> <SQL type>            database: one field per line; optional lines give the
//   primary <field>,...           primary index, secondary indexes and the table's locale
//   index <name> [unique] [nocase] [desc] <field>,...
//   language <language id> [<sort id>]
//
//   request_live on|off           whether the statements ask for editable results (on)
//
//   prepare                       prepares the statement; expects the bound model
//   <SQL lines>                   (DescribePrepared)
//   ----
//   <bound model lines>
//
//   rows: <table>                 appends one record per line: values in field order
//   <v1> | <v2> | ...             separated by "|", NULL for NULL
//
//   query [sorted]                prepares and executes; expects the result rows, values
//   <SQL lines>                   joined by " | " (NULL for NULL); with sorted both sides
//   ----                          are compared as sorted lists (no order promised)
//   <rows>
//
//   query_error                   expects "<code> <message>" of preparing or executing
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
