#include "engine/data_directory.h"

#include <algorithm>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_session.h"
#include "engine/first_error.h"
#include "engine/table_swap.h"
#include "storage/ascii_case.h"
#include "storage/file_names.h"

namespace kura {
TDataDirectory::TDataDirectory(TDataSession& session) : FSession(session) {}

TDataDirectory::~TDataDirectory() {
  try {
    CloseAllTables();
  } catch (const EKuraEngineError&) {
    // Every table is closed and freed all the same.
  }
}

int TDataDirectory::DropReference() {
  if (FRefCount > 0) --FRefCount;
  return FRefCount;
}

std::string TDataDirectory::TableFileName(std::string_view tableName,
                                          std::string_view extension) const {
  return kura::TableFileName(FPath, TrimAsciiBlanks(tableName), extension);
}

TDataTable* TDataDirectory::FindTable(std::string_view tableName, bool inMemory) const {
  inMemory = inMemory || IsInMemory();
  const std::string_view wanted = TrimAsciiBlanks(tableName);
  for (const auto& table : FTables)
    if (table->InMemory() == inMemory && EqualsIgnoringAsciiCase(table->TableName(), wanted))
      return table.get();
  return nullptr;
}

TDataTable& TDataDirectory::OpenTable(std::string_view tableName, bool inMemory, bool exclusive,
                                      bool temporary, bool sharedFromExclusive) {
  inMemory = inMemory || IsInMemory();
  if (TDataTable* open = FindTable(tableName, inMemory)) {
    const bool heldExclusively = open->Exclusive() && open->OpenCount() > 0 && !sharedFromExclusive;
    const bool exclusiveWhileInUse = exclusive && open->OpenCount() > 0;
    // An unused table kept for a transaction has its files open shared: it cannot turn
    // exclusive.
    const bool sharedFiles = exclusive && !open->Exclusive();
    if (heldExclusively || exclusiveWhileInUse || sharedFiles)
      RaiseTableError(codes::kAccessDenied, open->TableName());
    open->AddUse();
    return *open;
  }
  // A restructure interrupted after its new table was complete is finished first, so that
  // the table opened is whole (table_swap.h).
  FinishTableSwap(*this, TrimAsciiBlanks(tableName), inMemory);
  auto table = std::make_unique<TDataTable>(*this, tableName, inMemory, temporary);
  table->Open(exclusive);
  return Adopt(std::move(table));
}

TDataTable& TDataDirectory::CreateTable(std::string_view tableName, bool inMemory,
                                        const TTableDefinition& definition, bool overwrite,
                                        bool temporary) {
  inMemory = inMemory || IsInMemory();
  const std::string_view name = TrimAsciiBlanks(tableName);
  if (FindTable(name, inMemory) != nullptr) RaiseTableError(codes::kAccessDenied, name);
  TFileList& files = FSession.Files();
  if (!overwrite && files.ListedFileExists(TableFileName(name, kDataExtension), inMemory))
    RaiseTableError(codes::kTableExists, name);
  auto table = std::make_unique<TDataTable>(*this, name, inMemory, temporary);
  table->Create(definition);
  return Adopt(std::move(table));
}

void TDataDirectory::DeleteTable(std::string_view tableName, bool inMemory) {
  inMemory = inMemory || IsInMemory();
  const std::string_view name = TrimAsciiBlanks(tableName);
  if (FindTable(name, inMemory) != nullptr) RaiseTableError(codes::kAccessDenied, name);
  TFileList& files = FSession.Files();
  if (!files.ListedFileExists(TableFileName(name, kDataExtension), inMemory))
    RaiseTableError(codes::kTableNotFound, name);
  for (std::string_view extension : {kDataExtension, kIndexExtension, kBlobExtension}) {
    const std::string file = TableFileName(name, extension);
    if (extension != kDataExtension && !files.ListedFileExists(file, inMemory)) continue;
    const TFileStatus deleted = files.DeleteListedFile(file, inMemory);
    if (!deleted.Ok()) RaiseTableErrorWithOSError(deleted.Code, name, deleted.OSError);
  }
}

void TDataDirectory::RenameTable(std::string_view tableName, std::string_view newName,
                                 bool inMemory) {
  inMemory = inMemory || IsInMemory();
  const std::string_view name = TrimAsciiBlanks(tableName);
  const std::string_view target = TrimAsciiBlanks(newName);
  if (FindTable(name, inMemory) != nullptr) RaiseTableError(codes::kAccessDenied, name);
  TFileList& files = FSession.Files();
  if (!files.ListedFileExists(TableFileName(name, kDataExtension), inMemory))
    RaiseTableError(codes::kTableNotFound, name);
  if (files.ListedFileExists(TableFileName(target, kDataExtension), inMemory))
    RaiseTableError(codes::kTableExists, target);
  std::vector<std::string_view> renamed;
  for (std::string_view extension : {kDataExtension, kIndexExtension, kBlobExtension}) {
    const std::string from = TableFileName(name, extension);
    if (extension != kDataExtension && !files.ListedFileExists(from, inMemory)) continue;
    const TFileStatus moved =
        files.RenameListedFile(from, inMemory, TableFileName(target, extension));
    if (!moved.Ok()) {
      for (std::string_view back : renamed)
        files.RenameListedFile(TableFileName(target, back), inMemory, TableFileName(name, back));
      RaiseTableErrorWithOSError(moved.Code, name, moved.OSError);
    }
    renamed.push_back(extension);
  }
}

TDataTable& TDataDirectory::Adopt(std::unique_ptr<TDataTable> table) {
  if (FInTransaction) table->StartTransaction();
  table->AddUse();
  FTables.push_back(std::move(table));
  return *FTables.back();
}

void TDataDirectory::CloseTable(TDataTable& table) {
  const auto it = std::find_if(FTables.begin(), FTables.end(),
                               [&table](const auto& listed) { return listed.get() == &table; });
  if (it == FTables.end()) return;
  if (table.DropUse() > 0 || FInTransaction) return;
  std::unique_ptr<TDataTable> leaving = std::move(*it);
  FTables.erase(it);
  leaving->Close();
}

void TDataDirectory::CloseUnusedTables() {
  TFirstError errors;
  for (std::size_t i = FTables.size(); i-- > 0;) {
    if (FTables[i]->OpenCount() > 0) continue;
    std::unique_ptr<TDataTable> leaving = std::move(FTables[i]);
    FTables.erase(FTables.begin() + static_cast<std::ptrdiff_t>(i));
    errors.Try([&] { leaving->Close(); });
  }
  errors.RaiseIfAny();
}

void TDataDirectory::CloseAllTables() {
  TFirstError errors;
  FInTransaction = false;
  while (!FTables.empty()) {
    std::unique_ptr<TDataTable> leaving = std::move(FTables.front());
    FTables.erase(FTables.begin());
    errors.Try([&] { leaving->Close(); });
  }
  errors.RaiseIfAny();
}

// --- Transactions --------------------------------------------------------------------------

void TDataDirectory::StartTransaction() {
  if (FInTransaction) RaiseTableError(codes::kLockFailure, FDatabaseName);
  std::size_t started = 0;
  try {
    for (; started < FTables.size(); ++started) FTables[started]->StartTransaction();
  } catch (...) {
    TFirstError ignored;  // the first failure is the one to report
    for (std::size_t i = 0; i < started; ++i) ignored.Try([&] { FTables[i]->Rollback(); });
    throw;
  }
  FInTransaction = true;
}

void TDataDirectory::Commit(bool flushToDisk) {
  if (!FInTransaction) return;
  FInTransaction = false;
  TFirstError errors;
  for (std::size_t i = FTables.size(); i-- > 0;)
    errors.Try([&] { FTables[i]->Commit(flushToDisk); });
  errors.Try([this] { CloseUnusedTables(); });
  errors.RaiseIfAny();
}

void TDataDirectory::Rollback() {
  if (!FInTransaction) return;
  FInTransaction = false;
  TFirstError errors;
  for (const auto& table : FTables) errors.Try([&] { table->Rollback(); });
  errors.Try([this] { CloseUnusedTables(); });
  errors.RaiseIfAny();
}

}  // namespace kura
