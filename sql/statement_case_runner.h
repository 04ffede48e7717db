// Statement cases for the case-file runner: SQL text in, the parsed model or the engine
// error out.
//
//   statement                     parses every statement of the text; expects the model of
//   <SQL lines>                   each, one block after the other (DescribeStatement)
//   ----
//   <model lines>
//
//   statement_error               expects "<code> <message>" of the first failing statement
//   <SQL lines>
//   ----
//   11949 <message>
//
// The SQL lines are joined with line feeds, as the dataset layer joins its SQL lines.
#pragma once

#include <string>

#include "sql/expression_case_runner.h"
#include "sql/query_statement.h"

namespace kura::testing {

// Adds the statement case kinds to the runner.
void AddStatementCases(TExpressionCaseRunner& runner);

// The statement's parsed model in a stable, readable form: a header line with the kind,
// the parameter count and the select-star flag, then each query with its clauses.
// Parameters print as ?1, ?2, ... in text order.
std::string DescribeStatement(TQueryStatement& statement);

// The header line of a description: "statement <kind> params <n>[ star]"; numbers the
// parameter nodes ?1, ?2, ... for the lines that follow.
std::string StatementHeader(TQueryStatement& statement);

}  // namespace kura::testing
