// One database directory of a session and the shared table objects open in it.
//
// A directory is what a database connection resolves to (TDataSession::OpenDirectory): a
// database name, a path with a trailing "/" (empty for the process's in-memory directory,
// whose tables live in memory files), and a count of the connections using it. It owns one
// TDataTable per open table, shared by every cursor of the process that opens the table
// through this directory, and it runs transactions: every table open in the directory takes
// part, and tables opened during a transaction join it.
//
// Tables are found by trimmed name without regard to case and by in-memory kind. The files
// of table T are the path followed by the trimmed name and ".DAT", ".IDX", ".BLB"; a relative
// path resolves against the process's current directory when the files are opened.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_table.h"

namespace kura {

class TDataSession;

class TDataDirectory {
 public:
  explicit TDataDirectory(TDataSession& session);
  // Closes whatever tables are still open, dropping errors (use CloseAllTables to see them).
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return FSession; }
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(std::string_view name) { FDatabaseName = std::string(name); }
  // The path with its trailing "/", or empty for the in-memory directory.
  const std::string& Path() const { return FPath; }
  void SetPath(std::string_view path) { FPath = std::string(path); }
  bool IsInMemory() const { return FPath.empty(); }

  int RefCount() const { return FRefCount; }
  void AddReference() { ++FRefCount; }
  // Lowers the count, never below 0, and answers the new count.
  int DropReference();

  // --- Tables ----------------------------------------------------------------------------
  // The shared table object for a cursor, its open count raised by one. A table already
  // open here under the same trimmed name (any case) and in-memory kind is reused; asking
  // for it exclusively while it is in use, or asking for it at all while it is held
  // exclusively, raises 11013. Otherwise the table is opened (TDataTable::Open: 11010 for a
  // missing table, 11013 when another process holds it exclusively or an exclusive open
  // finds it in use, any file error) and, during a transaction, joins it. In the in-memory
  // directory every table is an in-memory table. sharedFromExclusive lets a clone of an
  // exclusive cursor share the table its original holds exclusively.
  TDataTable& OpenTable(std::string_view tableName, bool inMemory, bool exclusive,
                        bool temporary = false, bool sharedFromExclusive = false);
  // Creates the table's files from the definition (TDataTable::Create) and answers it open,
  // exclusively, with open count 1. An existing data file raises 13060 unless overwrite is
  // set; a table open in the process raises 11013.
  TDataTable& CreateTable(std::string_view tableName, bool inMemory,
                          const TTableDefinition& definition, bool overwrite,
                          bool temporary = false);
  // Deletes the table's files, the data file first (so a refusal leaves the table whole).
  // Raises 11013 while the table is open in this directory or its files are open elsewhere,
  // 11010 when the data file does not exist.
  void DeleteTable(std::string_view tableName, bool inMemory);
  // Renames the table's files to the new name in the same directory, the data file first;
  // when a later file cannot be renamed, the files already renamed get their old names back.
  // Raises 11013 while the table is open in this directory or its files are open elsewhere,
  // 11010 when the data file does not exist, 13060 when a table of the new name exists.
  void RenameTable(std::string_view tableName, std::string_view newName, bool inMemory);
  // A cursor is done with the table: its open count drops, and at 0, outside a transaction,
  // the table is closed (TDataTable::Close) and freed. During a transaction an unused table
  // stays until the transaction ends. Errors of closing propagate after the table is gone.
  void CloseTable(TDataTable& table);
  // The open table of that name and kind, or nullptr.
  TDataTable* FindTable(std::string_view tableName, bool inMemory) const;
  const std::vector<std::unique_ptr<TDataTable>>& Tables() const { return FTables; }
  // Closes and frees every table, whatever its open count; raises the first error after all
  // are gone.
  void CloseAllTables();

  // The full name of one of the table's files (extension ".DAT", ".IDX", ".BLB", ...).
  std::string TableFileName(std::string_view tableName, std::string_view extension) const;

  // --- Transactions ----------------------------------------------------------------------
  // Starts a transaction on every open table (TDataTable::StartTransaction); if one fails,
  // the tables already started are rolled back and the error propagates. A transaction
  // already in progress raises 10249 and changes nothing.
  void StartTransaction();
  // Commits every table, last opened first (TDataTable::Commit), then closes the tables no
  // cursor uses. flushToDisk pushes every written file to the device. Does nothing outside
  // a transaction. The first error propagates after every table was tried; the transaction
  // is over either way.
  void Commit(bool flushToDisk = false);
  // Rolls every table back (TDataTable::Rollback), then closes the tables no cursor uses.
  // Does nothing outside a transaction.
  void Rollback();
  bool InTransaction() const { return FInTransaction; }

 private:
  // Closes and frees the tables whose open count is 0.
  void CloseUnusedTables();
  // Lists a newly opened table with one use; during a transaction it joins it first.
  TDataTable& Adopt(std::unique_ptr<TDataTable> table);

  TDataSession& FSession;
  std::string FDatabaseName;
  std::string FPath;
  int FRefCount = 0;
  bool FInTransaction = false;
  std::vector<std::unique_ptr<TDataTable>> FTables;
};

}  // namespace kura
