// The shared table object: what one process keeps per open table of a directory, shared by
// every cursor on it. It owns the three file handlers (data, index, BLOB) with their caches
// and all the lock state of the table, and it is the only place that takes the table's
// byte-range locks (positions and retry rules in table_locks.h).
//
// LOCKS AND THEIR NESTING
//   read lock        one read slot on the index file and, with BLOB fields, one on the BLOB
//                    file; held for one engine operation. A second, independent one (the
//                    query read lock) is held by a running SQL statement.
//   write lock       table byte -> index write range -> BLOB write range; held around every
//                    change of records. It excludes every reader of every process, so a
//                    read lock this object holds is set aside while the write lock is held
//                    and taken again before the table byte is released.
//   table lock       the table byte; held by an explicit LockTable and by a transaction.
//                    While it is held, record unlocks are deferred until UnlockTable, and
//                    full caches grow instead of writing back.
//   record lock      the byte of one record, taken while holding a read lock. Each is noted
//                    with its owner (the cursor that took it), and only its owner gives it
//                    back. Under the table lock, once many are held, one lock over every
//                    record byte takes their place (the rule and why it is safe: see
//                    table_locks.h).
// An exclusive table, and a table whose files carry the read-only attribute, takes no locks
// at all and never reports changes.
//
// CHANGE DETECTION
// Every write of a file header advances its change counter. Right after a read, write or
// table lock is obtained the object compares the counters on disk with its own
// (CheckForChanges) and drops the caches of the files another process changed; the answer
// "changed" tells the caller to resynchronise its position.
//
// HOW A CURSOR USES IT
//   open      TDataDirectory::OpenTable (one use more), and when NeedsSysDeletedRebuild
//             rebuild the "Sys Deleted" index and call SysDeletedRebuilt;
//   read      before reading a record or page that is not cached: AcquireReadLock; when it
//             answers true, drop what was being read and resynchronise by key first; read;
//             ReleaseReadLock;
//   change    AcquireWriteLock (true: resynchronise, the record may be gone), LockRecord
//             (already taken by a pessimistic edit; take the read lock first to re-read the
//             record under it), change records, keys and BLOBs through
//             Data(), Index(), Blob(), then FlushBuffers, ReleaseWriteLock, UnlockRecord;
//   close     TDataDirectory::CloseTable (one use less; the last one closes the table).
// Every lock call on an exclusive or read-only-attribute table does nothing, so the same
// sequence serves every kind of table.
//
// THREADS: one thread at a time per table object; the file layer serialises file access.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table_locks.h"
#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/field_descriptor.h"
#include "storage/index_file.h"

namespace kura {

class TDataDirectory;
class TDataSession;

// What a new table is made of: its fields (numbered and laid out on creation), the data
// header settings, the primary index (no fields: the table has none of its own) and the
// secondary indexes in slot order.
struct TTableDefinition {
  std::vector<TFieldDescriptor> Fields;
  TDataFileSettings Settings;
  TIndexDefinition PrimaryIndex;
  std::vector<TIndexDefinition> SecondaryIndexes;
  // The fields of the text index (strings and memos); none for a table without one.
  std::vector<std::uint16_t> TextIndexFields;
};

// Who holds a record lock: the cursor that took it (any stable address), or null for callers
// that lock on the table object itself. Only the owner gives a lock back.
using TRecordLockOwner = const void*;

// The file headers written (advancing their change counters) even when nothing in them
// changed.
struct THeaderForce {
  bool Data = false;
  bool Index = false;
  bool Blob = false;
};

class TDataTable {
 public:
  // A closed table object of the directory. tableName is kept trimmed.
  TDataTable(TDataDirectory& directory, std::string_view tableName, bool inMemory, bool temporary);
  // Closes quietly what is still open (errors are dropped; call Close to see them).
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // --- Opening and closing ------------------------------------------------------------
  // Opens the data file, then the index file, then (only with BLOB fields) the BLOB file,
  // and checks their structure under a read lock. A missing index file is created afresh
  // (header only: no primary or secondary index) and NeedsSysDeletedRebuild is set for the
  // opening cursor. Raises 11010 for a missing data or BLOB file, 11013 when the files are
  // held exclusively elsewhere or an exclusive open finds them in use, the structure codes
  // (8961, 12035, 15878) and file errors; any failure closes what was opened.
  void Open(bool exclusive);
  // Creates the table's files from the definition: the data file, the index file with its
  // indexes, and the BLOB file only when a field is a BLOB field; the headers are written
  // and the table is left open exclusively. Raises what TDataFile::CreateDataFile and
  // TIndexFile raise for the definitions, and 11013 when a file is open elsewhere. A
  // failure deletes the files this call created.
  void Create(const TTableDefinition& definition);
  // Closing the last use: a transaction still running is rolled back; an exclusive
  // writable table writes its buffers back (a temporary one drops them instead; a shared
  // table has written after every change);
  // then every record lock, read, query read, write and table lock is released and the
  // index, BLOB and data files are closed in that order. Every step is tried; the first
  // error is raised at the end.
  void Close();
  bool IsOpen() const { return FData.IsOpen(); }

  // --- Identity and state -------------------------------------------------------------
  TDataDirectory& Directory() const { return FDirectory; }
  TDataSession& Session() const;
  const std::string& TableName() const { return FTableName; }
  int OpenCount() const { return FOpenCount; }
  void AddUse() { ++FOpenCount; }
  // Lowers the use count, never below 0, and answers the new count.
  int DropUse();
  bool Exclusive() const { return FExclusive; }
  // Any of the files could only be opened for reading.
  bool ReadOnly() const { return FReadOnly; }
  // Any of the files carries the read-only attribute: no locks are taken.
  bool ReadOnlyAttribute() const { return FReadOnlyAttribute; }
  bool InMemory() const { return FInMemory; }
  bool Temporary() const { return FTemporary; }
  bool HasBlobFields() const { return FData.BlobFieldCount() > 0; }
  // The index file was missing and has been recreated: the opening cursor rebuilds the
  // "Sys Deleted" index and then calls SysDeletedRebuilt.
  bool NeedsSysDeletedRebuild() const { return FRebuildSysDeleted; }
  void SysDeletedRebuilt() { FRebuildSysDeleted = false; }

  bool TableLocked() const { return FTableLocked; }
  bool ReadLocked() const { return FReadLocked; }
  bool QueryReadLocked() const { return FQueryReadLocked; }
  bool WriteLocked() const { return FWriteLocked; }
  bool InTransaction() const { return FInTransaction; }
  // Something was written since the last CheckForChanges.
  bool Written() const { return FWritten; }
  // The records this object holds locked (a copy: for checks, not for hot paths).
  std::set<std::int32_t> LockedRecords() const;
  const std::set<std::int32_t>& DeferredUnlocks() const { return FDeferredUnlocks; }
  // Whether a cursor of this process holds record n locked (listed and not only waiting for
  // the table lock to go).
  bool RecordHeldInProcess(std::int32_t n) const {
    return FLockedRecords.contains(n) && !FDeferredUnlocks.contains(n);
  }
  // Whether owner holds record n (listed for it and not only waiting for the table lock).
  bool RecordHeldBy(std::int32_t n, TRecordLockOwner owner) const;
  // Every record byte is held by one lock (many record locks under the table lock).
  bool RecordRangeLocked() const { return FRecordRangeLocked; }
  // The read slots held (0 when none): index and BLOB slot of each read lock.
  std::uint16_t ReadSlot() const { return FReadSlots.Index; }
  std::uint16_t QueryReadSlot() const { return FQueryReadSlots.Index; }

  // The file handlers, for cursors and table operations. Reads from disk happen under a
  // read, write or table lock of this object.
  TDataFile& Data() { return FData; }
  TIndexFile& Index() { return FIndex; }
  // Open only when the table has BLOB fields.
  TBlobFile& Blob() { return FBlob; }

  // --- Locks (each "answers changed" means CheckForChanges' answer) ------------------------
  // Takes the per-operation read lock: read slots on the index file and, with BLOB fields,
  // on the BLOB file (32 767 tries, 3 ms apart, a new slot drawn before each; 10249 when
  // all fail) and answers changed. Does nothing and answers false when the table is
  // exclusive or read-only by attribute, or already holds the table lock, the write lock,
  // the read lock or the query read lock.
  bool AcquireReadLock();
  // Releases the read lock (BLOB slot, then index slot); 10242 when an unlock is refused.
  // Does nothing when it is not held.
  void ReleaseReadLock();
  // The same for the query read lock of a running SQL statement, with its own slots. It is
  // independent of the per-operation read lock (it is taken even while that is held).
  bool AcquireQueryReadLock();
  void ReleaseQueryReadLock();
  // Takes the write lock: the table byte (unless the table lock holds it), the index write
  // range, then with BLOB fields the BLOB write range; 10249 when all tries of one fail
  // (what was taken is released). Answers changed, or false when the table lock was held
  // already. Does nothing when already held, exclusive or read-only by attribute.
  bool AcquireWriteLock();
  // Releases the BLOB range, the index range, then the table byte unless the table lock is
  // held; 10249 when an unlock is refused.
  void ReleaseWriteLock();
  // Takes the table byte (not for exclusive tables; 10249 on failure), sets the table lock
  // and answers changed (never for exclusive tables). Does nothing when already held or
  // read-only by attribute.
  bool LockTable();
  // Releases the table byte (10249 on failure), clears the table lock and then unlocks
  // every record whose unlock was deferred. Does nothing while a transaction holds the
  // table lock (Commit and Rollback release it).
  void UnlockTable();
  // Locks record n (1 .. 200 000 000; anything else raises 10258) for owner. Unless the
  // session's StrictChangeDetection is on, the byte is tried under a read lock: the one the
  // caller holds, else one taken here and given back before the answer (a caller that means
  // to re-read the record under the same lock takes the read lock first). The byte is tried
  // once and then up to LockRetryCount more times, LockWaitTime ms apart, releasing and
  // retaking that read lock between tries; 10258 ("in use by another user") when all fail.
  // A record another owner of this process holds is in use at once (10258). The answer is
  // whether the table changed. With the table lock held, a record whose unlock is deferred,
  // or one the same owner holds, changes hands at once. Once the table lock is held with
  // many record locks, every record byte is taken as one lock (table_locks.h). Nothing for
  // exclusive and read-only-attribute tables.
  bool LockRecord(std::int32_t n, TRecordLockOwner owner = nullptr);
  // Unlocks record n of owner. While the table lock is held the byte stays locked until
  // UnlockTable. Raises 10242 for n = 0, a record this object has not locked, a record
  // another owner holds (it stays held), or a refused unlock. Nothing for exclusive and
  // read-only-attribute tables.
  void UnlockRecord(std::int32_t n, TRecordLockOwner owner = nullptr);
  // Unlocks every record owner holds (a closing cursor); 10242 at the end when one was
  // refused.
  void UnlockRecordsOf(TRecordLockOwner owner);
  // Unlocks every locked record (or, with onlyDeferred, those whose unlock was deferred);
  // every record is tried, and 10242 is raised at the end when one was refused.
  void UnlockAllRecords(bool onlyDeferred = false);

  // Compares the change counters on disk with those in memory: a changed index header
  // drops every cached page and record and re-reads the data header; else a changed data
  // header drops the cached records; and with BLOB fields a changed BLOB header drops the
  // cached blocks. Answers whether anything changed. Always false for exclusive tables and
  // inside a transaction (nobody else can write then). Call it under a lock.
  bool CheckForChanges();

  // --- Buffers ------------------------------------------------------------------------
  // Writes back the changed records, the data header and descriptors, the changed pages
  // and the index header, and the changed blocks and the BLOB header; each file written is
  // pushed to the device when flushToDisk or the session's ForceBufferFlush is set. During
  // a transaction nothing is written: the header counters advance in memory and the
  // headers are marked changed (the BLOB header only when blobsChanged), for the commit.
  // Callers of a shared table hold the write lock.
  void FlushBuffers(bool flushToDisk = false, bool blobsChanged = true);
  // After one record change by a cursor (the caller holds the write lock of a shared
  // table): writes everything back and advances the data file's change counter, the index
  // file's when keys changed and the BLOB file's when BLOBs were written, so that every
  // other cursor and process notices. Exclusive tables and transactions only advance those
  // counters in memory; their buffers are written later.
  void WriteRecordChange(bool keysChanged, bool blobsWritten);
  // Drops every cached record, page and block whatever its state and re-reads the three
  // headers from disk. trim also sets the caches back to their target sizes.
  void DiscardBuffers(bool trim = false);

  // Empties the table: no records, every index empty (definitions kept), no BLOBs; the
  // headers are written and the caches trimmed to their target sizes. Raises 10253 unless
  // the table is open exclusively and 11013 when it is read-only.
  void EmptyTable();

  // --- Transactions (called for every open table by the directory) -----------------------
  // Skipped for read-only tables. An exclusive table first writes its buffers back; then
  // the table joins the transaction and takes the table lock, so no other process reads in
  // the middle of it nor writes at all. A failure leaves the table outside the transaction.
  void StartTransaction();
  // Takes the write lock, writes every buffer back (flushToDisk pushes it to the device),
  // releases the write lock and the table lock, and leaves the transaction.
  void Commit(bool flushToDisk = false);
  // Leaves the transaction, drops every cached record, page and block, re-reads the three
  // headers from disk and releases the table lock: the files are as before the transaction.
  void Rollback();

 private:
  struct TReadSlots {
    std::uint16_t Index = 0;
    std::uint16_t Blob = 0;
  };

  // Gives the three handlers their names and open flags.
  void NameFiles(bool exclusive);
  void OpenFiles(bool exclusive);
  void OpenIndexFile();
  void CheckStructureUnderReadLock();
  void ConfigureHandlers();
  void CloseFiles();
  bool CountsAsReadOnly() const { return FReadOnly || FReadOnlyAttribute; }
  bool TakesNoLocks() const { return FExclusive || FReadOnlyAttribute; }

  // The fixed-rule locks. Each answers false only when every try failed.
  bool TryFixed(TFileHandler& file, std::int64_t length, std::int64_t start);
  bool TakeSlot(TFileHandler& file, std::uint16_t& slot);
  void TakeReadSlots(TReadSlots& slots);
  // One of the two read locks (its slots and its flag).
  bool TakeReadLock(TReadSlots& slots, bool& held);
  void DropReadLock(TReadSlots& slots, bool& held);
  void ReleaseReadSlots(TReadSlots& slots);
  // The write lock sets aside the read slots it overlaps and takes them again later.
  void SetAsideReadSlots();
  void RetakeReadSlots();
  void TakeTableByte();
  void ReleaseTableByte();
  // The byte of record n, tried as LockRecord says; answers changed.
  bool TakeRecordByte(std::int32_t n);
  // A record already in the list asked for again: under the table lock it changes hands
  // when its unlock is deferred or the owner holds it, else it is in use (10258).
  void RelockListedRecord(std::int32_t n, TRecordLockOwner owner);
  void NoteLockedRecord(std::int32_t n, TRecordLockOwner owner);
  void ForgetLockedRecord(std::int32_t n);
  // Under the table lock with enough record locks: one lock over every record byte.
  void TryRecordRange();
  // Gives the record range back, keeping (with onlyDeferred) the single bytes of records
  // whose unlock was not asked for.
  void ReleaseRecordRange(bool onlyDeferred);
  void ReleaseTableLock();
  void WriteBuffersNow(bool flushToDisk, THeaderForce force = {});
  // The record cache and each index's page cache take the session's buffer sizes (their
  // initial values give the caches' usual budgets).
  void SizeCaches();
  // Sets the record, page and block caches back to their target sizes.
  void TrimCaches();
  void MarkBuffersChanged(bool blobsChanged);
  [[noreturn]] void Raise(std::uint16_t code) const;

  TDataDirectory& FDirectory;
  std::string FTableName;
  TDataFile FData;
  TIndexFile FIndex;
  TBlobFile FBlob;
  int FOpenCount = 0;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FReadOnlyAttribute = false;
  bool FInMemory;
  bool FTemporary;
  bool FTableLocked = false;
  bool FReadLocked = false;
  bool FQueryReadLocked = false;
  bool FWriteLocked = false;
  bool FInTransaction = false;
  bool FWritten = false;
  bool FRebuildSysDeleted = false;
  bool FRecordRangeLocked = false;
  // The record lock count at which the record range is tried next.
  std::size_t FNextRangeTry = kRecordRangeThreshold;
  TReadSlots FReadSlots;
  TReadSlots FQueryReadSlots;
  // Every record this object holds locked, with its owner, in record order.
  std::map<std::int32_t, TRecordLockOwner> FLockedRecords;
  std::set<std::int32_t> FDeferredUnlocks;
};

}  // namespace kura
