// TSqlDatabase: the database a statement runs in, over one directory of a session. It keeps
// the statements registered with it, opens the cursors of their source tables and prepares
// their queries (query_binder.h).
//
// A source table is opened in the in-memory directory when written with MEMORY, in the
// directory named by its directory part when it has one (opened through the session for as
// long as the cursor stays open), and otherwise in this database's own directory. Source
// cursors are shared, in record-number order, and read-only unless the query changes the
// table or asks for an editable result.
#pragma once

#include <string>
#include <vector>

#include "sql/query_statement.h"

namespace kura {

class TDataDirectory;

class TSqlDatabase : public TStatementDatabase {
 public:
  explicit TSqlDatabase(TDataDirectory& directory) : FDirectory(directory) {}
  TSqlDatabase(const TSqlDatabase&) = delete;
  TSqlDatabase& operator=(const TSqlDatabase&) = delete;

  TDataDirectory& Directory() const { return FDirectory; }
  const std::vector<TQueryStatement*>& Statements() const { return FStatements; }

  void RegisterStatement(TQueryStatement* statement) override;
  void UnregisterStatement(TQueryStatement* statement) override;
  std::string DatabaseName() const override;
  void PrepareQuery(TDataQuery& query) override;
  // SELECTs only (select_executor.h); other kinds raise 11949.
  TDataCursor* ExecuteQuery(TDataQuery& query) override;
  bool SubSelectContains(TDataQuery& subSelect, const TExpToken& value) override;

  // Opens the table's cursor and stores it in table.Cursor, kept open by table.Opened.
  // Raises the error of opening (11010 for a missing table, 11013, file errors); nothing
  // stays open then.
  void OpenSource(TSourceTable& table, bool readOnly);

 private:
  TDataDirectory& FDirectory;
  std::vector<TQueryStatement*> FStatements;
};

}  // namespace kura
