// Arbitrary bytes as a table's three files (data, index, BLOB) held in memory files: opening
// the shared table, its locks, a change check after another writer's headers changed, and a
// transaction rolled back raise engine errors or succeed, never crash, hang or allocate
// without bound.
//
// Input: the three files as table_fuzz_parts.h splits them.
#include <cstdint>
#include <string>

#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "fuzz/fuzz_session.h"
#include "fuzz/table_fuzz_parts.h"
#include "storage/file_handler.h"
#include "storage/file_list.h"

namespace {

// Another writer's header writes: each file's change counter moves, and one header byte the
// flags name is flipped.
void ChangeHeaders(kura::TFileList& list, std::uint8_t flags) {
  for (const char* name : {"FUZZ.DAT", "FUZZ.IDX", "FUZZ.BLB"}) {
    if (!list.ListedFileExists(name, true)) continue;
    kura::TFileHandler raw(list);
    raw.SetFileName(name);
    raw.SetInMemory(true);
    raw.Open();
    if (raw.FileSize() < 8) continue;
    std::uint8_t header[8];
    raw.ReadBuffer(header, 8);
    ++header[0];
    if (flags & 1) header[4 + (flags >> 1) % 4] ^= 0xFF;
    raw.Seek(kura::kSeekFromStart, 0);
    raw.WriteBuffer(header, 8);
  }
}

void Exercise(kura::TDataDirectory& directory, kura::TFileList& list, std::uint8_t flags) {
  kura::TDataTable& table = directory.OpenTable("FUZZ", false, false);
  try {
    table.AcquireReadLock();
    table.LockRecord(1);
    const std::int32_t last = table.Data().RecordCount();
    if (last > 1) table.LockRecord(last);
    table.UnlockAllRecords();
    table.ReleaseReadLock();
    ChangeHeaders(list, flags);
    table.AcquireWriteLock();
    table.ReleaseWriteLock();
    directory.StartTransaction();
    table.FlushBuffers();
    directory.Rollback();
  } catch (const kura::EKuraEngineError&) {
  }
  try {
    directory.Rollback();
    directory.CloseTable(table);
  } catch (const kura::EKuraEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kura::TFileList* const list = new kura::TFileList;
  static kura::TDataSession* const session = kura::fuzzing::MakeNoWaitSession(*list);
  kura::TDataDirectory& directory = session->OpenDirectory("Memory", "");
  const kura::fuzzing::TTableParts parts = kura::fuzzing::SplitTableParts(data, size);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.DAT", parts.Data);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.IDX", parts.Index);
  kura::fuzzing::StoreMemoryFile(*list, "FUZZ.BLB", parts.Blob);
  try {
    Exercise(directory, *list, parts.Flags);
  } catch (const kura::EKuraEngineError&) {
  }
  session->CloseDirectory(&directory);
  return 0;
}
