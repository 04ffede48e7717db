// Helpers for the engine's tests: a session with its own file list on a scratch folder, a
// small table definition, records appended the way a writer does it, and lock probes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "storage/file_list.h"
#include "storage/file_test_support.h"

namespace kura::testing {

// A field descriptor with a name, type and declared size.
TFieldDescriptor MakeField(const char* name, std::uint8_t type, std::uint8_t size = 0);

// Fields ID (integer) and NAME (string of 20), and with blob set a memo field NOTE.
TTableDefinition SmallTable(bool blob = false);

// A session on its own file list with one directory on a scratch folder (or the in-memory
// directory). Each forked child builds its own, never using the parent's.
class TEngineSandbox {
 public:
  // folder: the directory path; empty for the in-memory directory.
  explicit TEngineSandbox(const std::string& folder);
  ~TEngineSandbox();
  TFileList& Files() { return FFiles; }
  TDataSession& Session() { return *FSession; }
  TDataDirectory& Directory() { return *FDirectory; }
  // Pauses between lock tries are counted instead of slept, and the fixed tries cut to
  // fixedTries (32 767 keeps the real count).
  void CountPauses(std::uint32_t fixedTries = kFixedLockTries);
  std::uint64_t Pauses() const { return *FPauses; }
  std::uint64_t PausedMs() const { return *FPausedMs; }

 private:
  TFileList FFiles;
  std::unique_ptr<TDataSession> FSession;
  TDataDirectory* FDirectory = nullptr;
  std::shared_ptr<std::uint64_t> FPauses = std::make_shared<std::uint64_t>(0);
  std::shared_ptr<std::uint64_t> FPausedMs = std::make_shared<std::uint64_t>(0);
};

// Appends count records with IDs first, first + 1, ... the way a shared writer does: under
// the write lock, written back before the lock goes.
void AppendRecords(TDataTable& table, int count, std::int32_t first = 1);
// The ID field of record n, read under a read lock.
std::int32_t RecordId(TDataTable& table, std::int32_t n);

// Runs work in a forked child with a sandbox of its own on the folder, and waits until it is
// done. Answers 0; 100 + code % 100 when the child raised an engine error; -1 when it could
// not be started or never finished.
int RunInAnotherProcess(const std::string& folder,
                        const std::function<void(TEngineSandbox& sandbox)>& work);

// Whether the byte range of the named file can be locked through a handler of the list
// right now (it is released again at once). A lock held by any table of the process or of
// another process makes it false.
bool RangeFree(TFileList& list, const std::string& fileName, std::int64_t length,
               std::int64_t start, bool inMemory = false);

}  // namespace kura::testing
