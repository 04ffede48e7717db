#include "dataset/session.h"

#include <algorithm>
#include <mutex>

#include "base/database_error.h"
#include "dataset/memory_database.h"
#include "storage/ascii_case.h"

namespace kura {
namespace {

constexpr std::string_view kDefaultSessionName = "Default";
constexpr std::string_view kMemoryDatabaseName = "Memory";

// Session start and database connection run under this one process-wide lock.
std::recursive_mutex& SessionListLock() {
  static std::recursive_mutex lock;
  return lock;
}

[[noreturn]] void RaiseInvalidName(std::string_view name) {
  throw EDatabaseError("Database name " + std::string(name) + " is not valid.");
}

// A name with a drive or path separator is a path: it reaches the directory with an empty
// database name.
bool IsPath(std::string_view name) {
  return name.find_first_of(":\\/") != std::string_view::npos;
}

}  // namespace

// ---- database components

TKuraDatabase::TKuraDatabase(TKuraSession& session, std::string_view name, bool temporary)
    : session_(session), database_name_(name), temporary_(temporary) {}

void TKuraDatabase::SetDatabaseName(std::string_view name) {
  if (Connected()) throw EDatabaseError("Cannot perform this operation on an open database.");
  database_name_ = name;
}

void TKuraDatabase::SetDirectory(std::string_view directory) {
  if (Connected()) throw EDatabaseError("Cannot perform this operation on an open database.");
  directory_ = directory;
}

void TKuraDatabase::Open() {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (Connected()) return;
  if (database_name_.empty()) throw EDatabaseError("Database name is missing.");
  if (!temporary_ && IsPath(database_name_)) RaiseInvalidName(database_name_);
  const std::string name = IsPath(database_name_) ? std::string() : database_name_;
  provider_ = session_.OpenDirectory(name, directory_);
  if (!provider_) RaiseInvalidName(database_name_);
}

void TKuraDatabase::Close() {
  if (ref_count_ > 0) throw EDatabaseError("Cannot perform this operation on an open database.");
  provider_.reset();
}

const std::shared_ptr<TQueryProvider>& TKuraDatabase::Provider() const {
  if (!Connected()) throw EDatabaseError("Cannot perform this operation on a closed database.");
  return provider_;
}

void TKuraDatabase::Connect(std::shared_ptr<TQueryProvider> provider) {
  if (Connected()) throw EDatabaseError("Cannot perform this operation on an open database.");
  provider_ = std::move(provider);
}

// ---- sessions

TKuraSession::TKuraSession(std::string_view name) : name_(name) {}

TKuraSession::~TKuraSession() = default;

TKuraDatabase& TKuraSession::AddDatabase(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (name.empty()) throw EDatabaseError("Database name is missing.");
  if (FindDatabase(name))
    throw EDatabaseError("Database name " + std::string(name) + " already exists.");
  databases_.push_back(std::make_unique<TKuraDatabase>(*this, name, false));
  return *databases_.back();
}

TKuraDatabase* TKuraSession::FindDatabase(std::string_view name) const {
  for (const auto& database : databases_)
    if (EqualsIgnoringAsciiCase(database->DatabaseName(), name)) return database.get();
  return nullptr;
}

void TKuraSession::RemoveDatabase(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  TKuraDatabase* database = FindDatabase(name);
  if (!database) return;
  if (database->RefCount() > 0)
    throw EDatabaseError("Cannot perform this operation on an open database.");
  databases_.erase(std::find_if(databases_.begin(), databases_.end(),
                                [&](const auto& d) { return d.get() == database; }));
}

TKuraDatabase& TKuraSession::AttachDataset(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (name.empty()) throw EDatabaseError("Database name is missing.");
  TKuraDatabase* database = FindDatabase(name);
  bool created = false;
  if (!database) {
    databases_.push_back(std::make_unique<TKuraDatabase>(*this, name, true));
    database = databases_.back().get();
    if (!EqualsIgnoringAsciiCase(name, kMemoryDatabaseName)) database->directory_ = name;
    database->keep_connection_ = KeepConnections;
    created = true;
  }
  try {
    database->Open();
  } catch (...) {
    if (created) databases_.pop_back();  // a component that never connected is not kept
    throw;
  }
  ++database->ref_count_;
  return *database;
}

void TKuraSession::DetachDataset(TKuraDatabase& database) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (database.ref_count_ > 0) --database.ref_count_;
  if (database.ref_count_ > 0 || database.keep_connection_) return;
  database.provider_.reset();
  if (database.temporary_) RemoveDatabase(database.DatabaseName());
}

const std::shared_ptr<TMemoryDatabase>& TKuraSession::MemoryDirectory() {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (!memory_) memory_ = std::make_shared<TMemoryDatabase>();
  return memory_;
}

std::shared_ptr<TQueryProvider> TKuraSession::OpenDirectory(const std::string& databaseName,
                                                            const std::string& directory) {
  if (EqualsIgnoringAsciiCase(databaseName, kMemoryDatabaseName) && directory.empty())
    return MemoryDirectory();
  if (opener_) return opener_(databaseName, directory);
  return nullptr;  // no engine to open directories with yet
}

// ---- the session list

namespace {

std::vector<std::unique_ptr<TKuraSession>>& Sessions() {
  static std::vector<std::unique_ptr<TKuraSession>> sessions = [] {
    std::vector<std::unique_ptr<TKuraSession>> list;
    list.push_back(std::make_unique<TKuraSession>(kDefaultSessionName));
    return list;
  }();
  return sessions;
}

}  // namespace

TKuraSession& Session() {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  return *Sessions().front();
}

TKuraSession& SessionByName(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  if (name.empty()) return *Sessions().front();
  for (const auto& session : Sessions())
    if (EqualsIgnoringAsciiCase(session->SessionName(), name)) return *session;
  throw EDatabaseError("Session name " + std::string(name) + " is not valid.");
}

void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  TKuraSession& session = Session();
  if (TKuraDatabase* database = session.FindDatabase(name)) {
    database->provider_ = std::move(provider);
    database->temporary_ = false;
    return;
  }
  session.AddDatabase(name).Connect(std::move(provider));
}

void UnregisterDatabase(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  TKuraDatabase* database = Session().FindDatabase(name);
  if (!database) return;
  if (database->RefCount() == 0) {
    Session().RemoveDatabase(name);
    return;
  }
  database->temporary_ = true;  // freed when its last dataset detaches
  database->keep_connection_ = false;
}

std::shared_ptr<TQueryProvider> FindDatabase(std::string_view name) {
  std::lock_guard<std::recursive_mutex> guard(SessionListLock());
  TKuraDatabase* database = Session().FindDatabase(name);
  return database && database->Connected() ? database->Provider() : nullptr;
}

}  // namespace kura
