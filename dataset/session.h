// Sessions and database components: how a query's DatabaseName becomes an open database
// directory (a TQueryProvider).
//
// One session named "Default" exists from first use to process exit and is the default
// session. A session holds database components; a query that opens looks for the component
// whose DatabaseName equals its own (without regard to case) in its session (SessionName, or
// the default session when empty). When there is none, the session creates a temporary one:
// its Directory is the name (a relative directory lies under the current directory), except
// for "Memory" (any case), which is the session's in-memory directory. Connecting a component
// opens its directory through the session's directory opener; each attached query raises the
// component's reference count, and when the last one detaches a component without
// KeepConnection disconnects, and a temporary one is freed.
//
// Names and directories keep their "/": on this system it is the path separator, so it is
// not turned into "\"; a name holding "/", "\" or ":" is a path.
//
// Until the table engine opens directories, the default opener knows only directories that
// were given a provider (RegisterDatabase, the test and start-up hook) and the in-memory one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/query_provider.h"

namespace kura {

class TMemoryDatabase;
class TKuraSession;
void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider);
void UnregisterDatabase(std::string_view name);

enum class TLockProtocol { lpPessimistic, lpOptimistic };

class TKuraDatabase {
 public:
  TKuraDatabase(TKuraSession& session, std::string_view name, bool temporary);

  const std::string& DatabaseName() const { return database_name_; }
  // Refused with "Cannot perform this operation on an open database." while connected.
  void SetDatabaseName(std::string_view name);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string_view directory);
  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value) { keep_connection_ = value; }
  bool Temporary() const { return temporary_; }
  TKuraSession& Session() const { return session_; }

  // Opens the directory through the session's opener; does nothing when connected.
  void Open();
  // Drops the open directory. Refused with "Cannot perform this operation on an open
  // database." while datasets are attached.
  void Close();
  bool Connected() const { return provider_ != nullptr; }
  // The open directory; raises "Cannot perform this operation on a closed database." when
  // not connected.
  const std::shared_ptr<TQueryProvider>& Provider() const;
  // Connects to an already open directory (the start-up and test hook).
  void Connect(std::shared_ptr<TQueryProvider> provider);

  // Number of attached datasets.
  int RefCount() const { return ref_count_; }

 private:
  friend class TKuraSession;
  friend void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider);
  friend void UnregisterDatabase(std::string_view name);
  TKuraSession& session_;
  std::string database_name_;
  std::string directory_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  int ref_count_ = 0;
  std::shared_ptr<TQueryProvider> provider_;
};

class TKuraSession {
 public:
  // Opens a directory: (database name, directory) -> provider. Raises when it cannot.
  using TDirectoryOpener = std::function<std::shared_ptr<TQueryProvider>(
      const std::string& databaseName, const std::string& directory)>;

  explicit TKuraSession(std::string_view name);
  ~TKuraSession();
  TKuraSession(const TKuraSession&) = delete;
  TKuraSession& operator=(const TKuraSession&) = delete;

  const std::string& SessionName() const { return name_; }

  // ---- settings, carried to the engine session when it starts
  bool KeepConnections = true;
  int LockRetryCount = 15;
  int LockWaitTime = 100;  // milliseconds
  TLockProtocol LockProtocol = TLockProtocol::lpPessimistic;
  std::string PrivateDir;

  // ---- database components
  // Adds a component; raises "Database name %s already exists." when the name is taken.
  TKuraDatabase& AddDatabase(std::string_view name);
  // The component of that name (any case), or nullptr.
  TKuraDatabase* FindDatabase(std::string_view name) const;
  // Removes a component; refused while datasets are attached to it.
  void RemoveDatabase(std::string_view name);
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }

  // Attaching a dataset: finds or creates the component, connects it and raises its
  // reference count. Raises "Database name is missing." for an empty name.
  TKuraDatabase& AttachDataset(std::string_view name);
  // Detaching: lowers the count; the last detach disconnects a component without
  // KeepConnection and frees a temporary one.
  void DetachDataset(TKuraDatabase& database);

  // The process's in-memory directory, behind the database name "Memory".
  const std::shared_ptr<TMemoryDatabase>& MemoryDirectory();
  // Replaces how directories are opened (the engine binding installs its own).
  void SetDirectoryOpener(TDirectoryOpener opener) { opener_ = std::move(opener); }
  std::shared_ptr<TQueryProvider> OpenDirectory(const std::string& databaseName,
                                                const std::string& directory);

 private:
  std::string name_;
  std::vector<std::unique_ptr<TKuraDatabase>> databases_;
  std::shared_ptr<TMemoryDatabase> memory_;
  TDirectoryOpener opener_;
};

// The default session ("Default").
TKuraSession& Session();
// The session of that name (any case); the default session for an empty name. Raises
// "Session name %s is not valid." for any other name.
TKuraSession& SessionByName(std::string_view name);

// Start-up and test hook: a database component of the default session named `name`,
// connected to `provider` (an existing component of that name is reconnected to it; queries
// already prepared keep the directory they prepared with).
void RegisterDatabase(std::string_view name, std::shared_ptr<TQueryProvider> provider);
// Removes that component again; one still used by datasets goes when the last one detaches.
void UnregisterDatabase(std::string_view name);
// The provider a query named `name` would reach in the default session now, or nullptr.
std::shared_ptr<TQueryProvider> FindDatabase(std::string_view name);

}  // namespace kura
