#include "sql/query_database.h"

#include <algorithm>
#include <memory>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "sql/query_binder.h"
#include "sql/query_checks.h"
#include "sql/select_executor.h"

namespace kura {

namespace {

// A source table's cursor, and the directory opened for it when it is not the statement's.
// The cursor closes first; the directory is released after it.
class TOpenedCursor : public TOpenedSource {
 public:
  TOpenedCursor(TDataSession& session, TDataDirectory* opened)
      : FSession(session), FOpenedDirectory(opened) {}
  ~TOpenedCursor() override {
    FCursor.reset();  // closes quietly
    if (FOpenedDirectory == nullptr) return;
    try {
      FSession.CloseDirectory(FOpenedDirectory);
    } catch (...) {  // nothing of ours is left open in it: the cursor has been closed
    }
  }
  TOpenedCursor(const TOpenedCursor&) = delete;
  TOpenedCursor& operator=(const TOpenedCursor&) = delete;

  TDataCursor& Open(TDataDirectory& directory, const TSourceTable& table, bool readOnly) {
    FCursor = std::make_unique<TDataCursor>(directory);
    FCursor->SetTableName(table.TableName);
    FCursor->SetInMemory(directory.IsInMemory());
    FCursor->SetSqlSource(true);
    FCursor->SetReadOnly(readOnly);
    FCursor->Open();
    return *FCursor;
  }

 private:
  TDataSession& FSession;
  TDataDirectory* FOpenedDirectory;
  std::unique_ptr<TDataCursor> FCursor;
};

}  // namespace

void TSqlDatabase::RegisterStatement(TQueryStatement* statement) {
  FStatements.push_back(statement);
}

void TSqlDatabase::UnregisterStatement(TQueryStatement* statement) {
  auto found = std::find(FStatements.begin(), FStatements.end(), statement);
  if (found != FStatements.end()) FStatements.erase(found);
}

std::string TSqlDatabase::DatabaseName() const {
  return FDirectory.DatabaseName();
}

void TSqlDatabase::PrepareQuery(TDataQuery& query) {
  TQueryBinder(query, *this).Prepare();
}

TDataCursor* TSqlDatabase::ExecuteQuery(TDataQuery& query) {
  if (query.FKind != qkSelect) {
    RaiseQueryError(std::string("Executing ") + QueryKindName(query.FKind) +
                    " statements is not supported yet");
  }
  return ExecuteSelect(query, FDirectory);
}

bool TSqlDatabase::SubSelectContains(TDataQuery& subSelect, const TExpToken& value) {
  return kura::SubSelectContains(subSelect, value);
}

void TSqlDatabase::OpenSource(TSourceTable& table, bool readOnly) {
  TDataSession& session = FDirectory.Session();
  TDataDirectory* directory = &FDirectory;
  TDataDirectory* opened = nullptr;
  if (table.InMemory) {
    opened = directory = &session.OpenDirectory(kInMemoryDatabaseName, {});
  } else if (!table.DatabaseName.empty()) {
    opened = directory = &session.OpenDirectory(table.DatabaseName, table.DatabaseName);
  }
  auto source = std::make_unique<TOpenedCursor>(session, opened);
  TDataCursor& cursor = source->Open(*directory, table, readOnly);
  table.Opened = std::move(source);
  table.Cursor = &cursor;
}

}  // namespace kura
