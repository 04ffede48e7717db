// Preparation of one parsed query against its tables: the source tables are opened, the
// select list is expanded (`*`, `c.*`) and bound, every clause is bound and checked, and the
// result columns get their types and sizes. Execution starts from what this leaves.
//
// Column names resolve over the source tables: a qualified name in the table whose
// correlation name equals the qualifier (any case), an unqualified one in the first table,
// in FROM order, that has such a field. A resolved node keeps its table (FSourceTable points
// to the TSourceTable), field number and type, and its qualifier becomes the table's
// correlation name. HAVING resolves over the result columns instead: its aggregates become
// references to the equal aggregates of the select list (FSourceTable points to the query,
// FFieldNo is the 1-based result column).
//
// Every failure raises engine error 11949 with its message (or the error of opening a
// table); the cursors opened so far stay with the query and close when it is freed.
#pragma once

#include <string>

#include "sql/query_model.h"

namespace kura {

class TSqlDatabase;

// The name a result column goes by: its alias, else the name of the table column it shows,
// else its expression text (aggregates and computed columns).
const std::string& ResultColumnName(const TResultField& field);

class TQueryBinder {
 public:
  TQueryBinder(TDataQuery& query, TSqlDatabase& database) : FQuery(query), FDatabase(database) {}

  void Prepare();

 private:
  void OpenSources(bool firstWritable, bool othersWritable);
  void TakeLocale();
  void PrepareSelect();
  void ExpandStars();
  void BindResultFields();
  void BindConditions();
  void ResolveColumnLists();
  void BindHaving();
  void CheckUnionParts();
  void PrepareInsert();
  void PrepareUpdate();
  void BindTargetColumns();

  TDataQuery& FQuery;
  TSqlDatabase& FDatabase;
};

}  // namespace kura
