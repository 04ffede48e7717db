#include "engine/data_table.h"

#include <algorithm>
#include <exception>
#include <functional>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/first_error.h"
#include "engine/table_locks.h"
#include "storage/ascii_case.h"
#include "storage/file_names.h"

namespace kura {
TDataTable::TDataTable(TDataDirectory& directory, std::string_view tableName, bool inMemory,
                       bool temporary)
    : FDirectory(directory),
      FTableName(TrimAsciiBlanks(tableName)),
      FData(directory.Session().Files()),
      FIndex(directory.Session().Files()),
      FBlob(directory.Session().Files()),
      FInMemory(inMemory),
      FTemporary(temporary) {}

TDataTable::~TDataTable() {
  try {
    Close();
  } catch (const EKuraEngineError&) {
    // Nothing can be raised from a destructor; Close went through every step regardless.
  }
}

TDataSession& TDataTable::Session() const {
  return FDirectory.Session();
}

int TDataTable::DropUse() {
  if (FOpenCount > 0) --FOpenCount;
  return FOpenCount;
}

void TDataTable::Raise(std::uint16_t code) const {
  RaiseTableError(code, FTableName);
}

// --- Opening and closing ---------------------------------------------------------------

void TDataTable::Open(bool exclusive) {
  if (IsOpen()) return;
  FExclusive = exclusive;
  try {
    OpenFiles(exclusive);
    ConfigureHandlers();
    SizeCaches();
    CheckStructureUnderReadLock();
  } catch (...) {
    try {
      Close();
    } catch (const EKuraEngineError&) {
      // The first failure is the one to report.
    }
    throw;
  }
}

void TDataTable::SizeCaches() {
  const TDataSession& session = Session();
  const auto recordSize = std::max<std::size_t>(1, FData.RecordSize());
  const auto recordBytes = static_cast<std::size_t>(std::max(0, session.RecordBufferBytes()));
  const auto recordCount = static_cast<std::size_t>(std::max(1, session.RecordBufferCount()));
  FData.RecordCache().SetCapacity(
      std::max<std::size_t>(1, RecordCacheCapacity(recordSize, recordBytes, recordCount)));
  const auto indexBytes = static_cast<std::size_t>(std::max(0, session.IndexBufferBytes()));
  FIndex.SetPageCacheCapacity(std::max<std::size_t>(1, PageCacheCapacity(indexBytes)));
}

void TDataTable::NameFiles(bool exclusive) {
  for (TFileHandler* file :
       {static_cast<TFileHandler*>(&FData), static_cast<TFileHandler*>(&FIndex),
        static_cast<TFileHandler*>(&FBlob)}) {
    file->SetInMemory(FInMemory);
    file->SetExclusive(exclusive);
    file->SetTemporary(FTemporary);
  }
  FData.SetFileName(FDirectory.TableFileName(FTableName, kDataExtension));
  FIndex.SetFileName(FDirectory.TableFileName(FTableName, kIndexExtension));
  FBlob.SetFileName(FDirectory.TableFileName(FTableName, kBlobExtension));
}

void TDataTable::OpenFiles(bool exclusive) {
  NameFiles(exclusive);
  FData.Open();
  OpenIndexFile();
  if (HasBlobFields()) {
    FBlob.ConfigureFrom(FData);
    FBlob.Open();
  }
  FReadOnly = FData.OpenedReadOnly() || FIndex.OpenedReadOnly() ||
              (FBlob.IsOpen() && FBlob.OpenedReadOnly());
  FReadOnlyAttribute = FData.ReadOnlyAttribute() || FIndex.ReadOnlyAttribute() ||
                       (FBlob.IsOpen() && FBlob.ReadOnlyAttribute());
}

void TDataTable::OpenIndexFile() {
  const TTableLocale locale{static_cast<std::uint16_t>(FData.LanguageId()),
                            static_cast<std::uint16_t>(FData.SortId())};
  FIndex.SetTable(
      std::vector<TFieldDescriptor>(FData.Descriptors().begin(), FData.Descriptors().end()), locale,
      FData.Encrypted());
  if (!FIndex.FileExists()) {
    // A lost index file does not lose the table: a header-only file takes its place (no
    // primary or secondary index), and the opening cursor rebuilds "Sys Deleted".
    FIndex.CreateFile();
    FIndex.SetPrimaryIndex(TIndexDefinition{});
    FIndex.FlushIndexHeader(false);
    FIndex.Close();
    FRebuildSysDeleted = true;
  }
  FIndex.Open();
}

void TDataTable::ConfigureHandlers() {
  FData.SetHasPrimaryIndex(!FIndex.NoPrimaryIndex());
  const std::function<bool()> tableLocked = [this] { return FTableLocked; };
  FData.SetTableLockQuery(tableLocked);
  FIndex.SetTableLockQuery(tableLocked);
  FBlob.SetTableLockQuery(tableLocked);
}

void TDataTable::CheckStructureUnderReadLock() {
  const bool held = FReadLocked;
  AcquireReadLock();
  const bool took = FReadLocked && !held;
  try {
    FData.CheckStructure();
    FIndex.CheckIndexStructure();
    if (FBlob.IsOpen()) FBlob.CheckBlobStructure();
  } catch (...) {
    if (took) ReleaseReadLock();
    throw;
  }
  if (took) ReleaseReadLock();
}

void TDataTable::Create(const TTableDefinition& definition) {
  if (IsOpen()) Raise(codes::kAccessDenied);
  FExclusive = true;
  NameFiles(true);
  std::vector<TFileHandler*> created;
  try {
    FData.CreateDataFile(definition.Fields, definition.Settings);
    created.push_back(&FData);
    const TTableLocale locale{static_cast<std::uint16_t>(definition.Settings.LanguageId),
                              static_cast<std::uint16_t>(definition.Settings.SortId)};
    FIndex.SetTable(
        std::vector<TFieldDescriptor>(FData.Descriptors().begin(), FData.Descriptors().end()),
        locale, FData.Encrypted());
    FIndex.CreateFile();
    created.push_back(&FIndex);
    FIndex.SetPrimaryIndex(definition.PrimaryIndex);
    for (const TIndexDefinition& index : definition.SecondaryIndexes)
      FIndex.AddSecondaryIndex(index);
    if (!definition.TextIndexFields.empty()) FIndex.SetTextIndex(definition.TextIndexFields);
    if (HasBlobFields()) {
      FBlob.ConfigureFrom(FData);
      FBlob.CreateFile();
      created.push_back(&FBlob);
    }
    ConfigureHandlers();
    WriteBuffersNow(false);
  } catch (...) {
    TFirstError ignored;
    ignored.Try([this] { CloseFiles(); });
    for (TFileHandler* file : created) ignored.Try([file] { file->DeleteFile(); });
    throw;
  }
}

void TDataTable::Close() {
  if (!IsOpen() && !FIndex.IsOpen() && !FBlob.IsOpen()) return;
  TFirstError errors;
  // Work of a transaction that was never committed is not written by the close.
  if (FInTransaction) errors.Try([this] { Rollback(); });
  if (IsOpen() && FExclusive && !CountsAsReadOnly() && !FTemporary)
    errors.Try([this] { WriteBuffersNow(false); });
  errors.Try([this] { UnlockAllRecords(); });
  errors.Try([this] { ReleaseReadLock(); });
  errors.Try([this] { ReleaseQueryReadLock(); });
  errors.Try([this] { ReleaseWriteLock(); });
  errors.Try([this] { ReleaseTableLock(); });
  FInTransaction = false;
  errors.Try([this] { CloseFiles(); });
  FReadOnly = FReadOnlyAttribute = false;
  errors.RaiseIfAny();
}

void TDataTable::CloseFiles() {
  TFirstError errors;
  errors.Try([this] { FIndex.Close(); });
  errors.Try([this] { FBlob.Close(); });
  errors.Try([this] { FData.Close(); });
  errors.RaiseIfAny();
}

// --- Fixed-rule locks ------------------------------------------------------------------

bool TDataTable::TryFixed(TFileHandler& file, std::int64_t length, std::int64_t start) {
  const TLockRetryRules& rules = Session().LockRetryRules();
  return TryRepeatedly(rules, rules.FixedTries, rules.FixedPauseMs,
                       [&] { return file.LockRange(length, start); });
}

bool TDataTable::TakeSlot(TFileHandler& file, std::uint16_t& slot) {
  const TLockRetryRules& rules = Session().LockRetryRules();
  TDataSession& session = Session();
  const bool taken = TryRepeatedly(rules, rules.FixedTries, rules.FixedPauseMs, [&] {
    slot = session.DrawReadSlot();
    return file.LockRange(1, ReadSlotPosition(slot));
  });
  if (!taken) slot = 0;
  return taken;
}

void TDataTable::TakeReadSlots(TReadSlots& slots) {
  if (!TakeSlot(FIndex, slots.Index)) Raise(codes::kLockFailure);
  if (HasBlobFields() && !TakeSlot(FBlob, slots.Blob)) {
    FIndex.UnlockRange(1, ReadSlotPosition(slots.Index));
    slots = {};
    Raise(codes::kLockFailure);
  }
}

void TDataTable::ReleaseReadSlots(TReadSlots& slots) {
  bool released = true;
  if (slots.Blob != 0) released = FBlob.UnlockRange(1, ReadSlotPosition(slots.Blob)) && released;
  if (slots.Index != 0) released = FIndex.UnlockRange(1, ReadSlotPosition(slots.Index)) && released;
  slots = {};
  if (!released) Raise(codes::kCannotUnlock);
}

void TDataTable::SetAsideReadSlots() {
  // The write range covers every read slot, this object's own included: the slots go while
  // the write lock is held (it keeps out writers and readers alike).
  TFirstError errors;
  if (FReadLocked) errors.Try([this] { ReleaseReadSlots(FReadSlots); });
  if (FQueryReadLocked) errors.Try([this] { ReleaseReadSlots(FQueryReadSlots); });
  errors.RaiseIfAny();
}

void TDataTable::RetakeReadSlots() {
  if (FReadLocked && FReadSlots.Index == 0) {
    try {
      TakeReadSlots(FReadSlots);
    } catch (...) {
      FReadLocked = false;
      throw;
    }
  }
  if (FQueryReadLocked && FQueryReadSlots.Index == 0) {
    try {
      TakeReadSlots(FQueryReadSlots);
    } catch (...) {
      FQueryReadLocked = false;
      throw;
    }
  }
}

void TDataTable::TakeTableByte() {
  if (!TryFixed(FData, 1, kTableLockPosition)) Raise(codes::kLockFailure);
}

void TDataTable::ReleaseTableByte() {
  if (!FData.UnlockRange(1, kTableLockPosition)) Raise(codes::kLockFailure);
}

// --- Read locks ----------------------------------------------------------------------------

bool TDataTable::AcquireReadLock() {
  if (FQueryReadLocked) return false;
  return TakeReadLock(FReadSlots, FReadLocked);
}

void TDataTable::ReleaseReadLock() {
  DropReadLock(FReadSlots, FReadLocked);
}

bool TDataTable::AcquireQueryReadLock() {
  return TakeReadLock(FQueryReadSlots, FQueryReadLocked);
}

void TDataTable::ReleaseQueryReadLock() {
  DropReadLock(FQueryReadSlots, FQueryReadLocked);
}

bool TDataTable::TakeReadLock(TReadSlots& slots, bool& held) {
  if (TakesNoLocks() || FTableLocked || FWriteLocked || held) return false;
  TakeReadSlots(slots);
  held = true;
  try {
    return CheckForChanges();
  } catch (...) {
    TFirstError ignored;
    ignored.Try([&] { DropReadLock(slots, held); });
    throw;
  }
}

void TDataTable::DropReadLock(TReadSlots& slots, bool& held) {
  if (!held) return;
  held = false;
  ReleaseReadSlots(slots);
}

// --- Write lock ----------------------------------------------------------------------------

bool TDataTable::AcquireWriteLock() {
  if (FWriteLocked || TakesNoLocks()) return false;
  const bool tableLockHeld = FTableLocked;
  SetAsideReadSlots();
  bool tookByte = false;
  bool tookIndexRange = false;
  try {
    if (!tableLockHeld) {
      TakeTableByte();
      tookByte = true;
    }
    if (!TryFixed(FIndex, kWriteRangeLength, kWriteRangeStart)) Raise(codes::kLockFailure);
    tookIndexRange = true;
    if (HasBlobFields() && !TryFixed(FBlob, kWriteRangeLength, kWriteRangeStart))
      Raise(codes::kLockFailure);
  } catch (...) {
    TFirstError ignored;
    if (tookIndexRange) FIndex.UnlockRange(kWriteRangeLength, kWriteRangeStart);
    ignored.Try([this] { RetakeReadSlots(); });
    if (tookByte) FData.UnlockRange(1, kTableLockPosition);
    throw;
  }
  FWriteLocked = true;
  if (tableLockHeld) return false;
  try {
    return CheckForChanges();
  } catch (...) {
    TFirstError ignored;
    ignored.Try([this] { ReleaseWriteLock(); });
    throw;
  }
}

void TDataTable::ReleaseWriteLock() {
  if (!FWriteLocked) return;
  FWriteLocked = false;
  bool released = true;
  if (HasBlobFields() && FBlob.IsOpen())
    released = FBlob.UnlockRange(kWriteRangeLength, kWriteRangeStart) && released;
  released = FIndex.UnlockRange(kWriteRangeLength, kWriteRangeStart) && released;
  // The read slots set aside come back while the table byte still keeps writers out, so no
  // change can slip in between.
  TFirstError errors;
  errors.Try([this] { RetakeReadSlots(); });
  if (!FTableLocked && !FExclusive) released = FData.UnlockRange(1, kTableLockPosition) && released;
  if (!released) Raise(codes::kLockFailure);
  errors.RaiseIfAny();
}

// --- Table lock ----------------------------------------------------------------------------

bool TDataTable::LockTable() {
  if (FTableLocked || FReadOnlyAttribute) return false;
  if (!FExclusive && !FWriteLocked) TakeTableByte();
  FTableLocked = true;
  if (FExclusive) return false;
  return CheckForChanges();
}

void TDataTable::UnlockTable() {
  if (FInTransaction) return;  // the transaction's lock goes at commit or rollback
  ReleaseTableLock();
}

void TDataTable::ReleaseTableLock() {
  if (!FTableLocked) return;
  FTableLocked = false;
  TFirstError errors;
  if (!FExclusive && !FWriteLocked) errors.Try([this] { ReleaseTableByte(); });
  errors.Try([this] { UnlockAllRecords(true); });
  errors.RaiseIfAny();
}

// --- Record locks --------------------------------------------------------------------------

std::set<std::int32_t> TDataTable::LockedRecords() const {
  std::set<std::int32_t> records;
  for (const auto& [n, owner] : FLockedRecords) records.insert(records.end(), n);
  return records;
}

bool TDataTable::RecordHeldBy(std::int32_t n, TRecordLockOwner owner) const {
  if (!RecordHeldInProcess(n)) return false;
  const auto found = FLockedRecords.find(n);
  return found != FLockedRecords.end() && found->second == owner;
}

bool TDataTable::LockRecord(std::int32_t n, TRecordLockOwner owner) {
  if (TakesNoLocks()) return false;
  if (n <= 0 || n > kMaxLockableRecord) Raise(codes::kRecordInUse);
  bool changed = false;
  if (FLockedRecords.contains(n)) {
    RelockListedRecord(n, owner);
  } else {
    // Under the record range every record byte is held already.
    changed = !FRecordRangeLocked && TakeRecordByte(n);
    NoteLockedRecord(n, owner);
  }
  TryRecordRange();
  return changed;
}

void TDataTable::RelockListedRecord(std::int32_t n, TRecordLockOwner owner) {
  // The byte is held by this object already; whether the lock may change hands is a matter
  // of this process alone.
  const bool sameOwner = RecordHeldBy(n, owner);
  if (!FTableLocked || !(sameOwner || FDeferredUnlocks.contains(n))) Raise(codes::kRecordInUse);
  FDeferredUnlocks.erase(n);  // locked again: the deferred unlock no longer applies
  FLockedRecords[n] = owner;
}

bool TDataTable::TakeRecordByte(std::int32_t n) {
  TDataSession& session = Session();
  const bool strict = session.StrictChangeDetection();
  bool changed = false;
  bool tookRead = false;
  const auto takeRead = [&] {
    if (strict || FReadLocked) return;
    changed = AcquireReadLock() || changed;
    tookRead = FReadLocked;
  };
  // A read lock taken here never outlives the call: one left behind would keep every writer
  // of every process out.
  const auto dropRead = [&] {
    if (!tookRead) return;
    tookRead = false;
    ReleaseReadLock();
  };
  takeRead();
  std::uint32_t retries = 0;
  while (!FData.LockRange(1, RecordLockPosition(n))) {
    dropRead();
    if (retries >= session.LockRetryCount()) Raise(codes::kRecordInUse);
    ++retries;
    session.LockRetryRules().Wait(session.LockWaitTime());
    takeRead();
  }
  try {
    dropRead();
  } catch (...) {
    FData.UnlockRange(1, RecordLockPosition(n));
    throw;
  }
  return changed;
}

void TDataTable::NoteLockedRecord(std::int32_t n, TRecordLockOwner owner) {
  // A load locks each new record, so the hint at the end makes most insertions constant time.
  FLockedRecords.insert_or_assign(FLockedRecords.end(), n, owner);
  if (!FDeferredUnlocks.empty() && n <= *FDeferredUnlocks.rbegin()) FDeferredUnlocks.erase(n);
}

void TDataTable::ForgetLockedRecord(std::int32_t n) {
  FLockedRecords.erase(n);
  FDeferredUnlocks.erase(n);
}

void TDataTable::TryRecordRange() {
  if (!FTableLocked || FRecordRangeLocked || FLockedRecords.size() < FNextRangeTry) return;
  // The file layer takes over exactly the single locks this object holds; a lock of another
  // table object of the process inside the range makes the count differ, and another
  // process's record lock makes the system refuse: single locks go on then.
  if (FData.LockRangeAbsorbing(kRecordRangeLength, kRecordRangeStart,
                               static_cast<std::int64_t>(FLockedRecords.size()))) {
    FRecordRangeLocked = true;
    return;
  }
  FNextRangeTry = 2 * FLockedRecords.size();
}

void TDataTable::ReleaseRecordRange(bool onlyDeferred) {
  // Records still held (an edit in progress) keep their bytes, ascending byte order being
  // descending record numbers.
  std::vector<std::int64_t> kept;
  std::vector<std::int32_t> released;
  for (auto n = FLockedRecords.rbegin(); n != FLockedRecords.rend(); ++n) {
    if (onlyDeferred && !FDeferredUnlocks.contains(n->first)) {
      kept.push_back(RecordLockPosition(n->first));
    } else {
      released.push_back(n->first);
    }
  }
  const bool unlocked = FData.UnlockRangeKeeping(kRecordRangeLength, kRecordRangeStart, kept);
  FRecordRangeLocked = false;
  FNextRangeTry = kRecordRangeThreshold;
  for (std::int32_t n : released) ForgetLockedRecord(n);
  FDeferredUnlocks.clear();
  if (!unlocked) Raise(codes::kCannotUnlock);
}

void TDataTable::UnlockRecord(std::int32_t n, TRecordLockOwner owner) {
  if (TakesNoLocks()) return;
  if (n == 0 || !FLockedRecords.contains(n)) Raise(codes::kCannotUnlock);
  // A deferred unlock has given the record up already; any other record is its owner's.
  if (FDeferredUnlocks.contains(n)) return;
  if (!RecordHeldBy(n, owner)) Raise(codes::kCannotUnlock);
  if (FTableLocked) {
    FDeferredUnlocks.emplace_hint(FDeferredUnlocks.end(), n);
    return;
  }
  ForgetLockedRecord(n);
  if (!FData.UnlockRange(1, RecordLockPosition(n))) Raise(codes::kCannotUnlock);
}

void TDataTable::UnlockRecordsOf(TRecordLockOwner owner) {
  if (TakesNoLocks()) return;
  std::vector<std::int32_t> owned;
  for (const auto& [n, holder] : FLockedRecords)
    if (holder == owner && !FDeferredUnlocks.contains(n)) owned.push_back(n);
  TFirstError errors;
  for (std::int32_t n : owned) errors.Try([&] { UnlockRecord(n, owner); });
  errors.RaiseIfAny();
}

void TDataTable::UnlockAllRecords(bool onlyDeferred) {
  if (FRecordRangeLocked) {
    ReleaseRecordRange(onlyDeferred);
    return;
  }
  // Highest record first, so lowest lock byte first: the system keeps a file's locks in
  // byte order and walks them from the lowest, so each unlock then finds its lock at once
  // instead of walking past every lock still held (a long transaction holds thousands).
  std::vector<std::int32_t> targets;
  for (auto n = FLockedRecords.rbegin(); n != FLockedRecords.rend(); ++n)
    if (!onlyDeferred || FDeferredUnlocks.contains(n->first)) targets.push_back(n->first);
  bool released = true;
  // Records with consecutive numbers have consecutive lock bytes: a run goes in one call (a
  // transaction that appended 100 000 records holds one run).
  for (std::size_t first = 0; first < targets.size();) {
    std::size_t end = first + 1;
    while (end < targets.size() && targets[end] == targets[end - 1] - 1) ++end;
    released = FData.UnlockByteRun(RecordLockPosition(targets[first]),
                                   static_cast<std::int64_t>(end - first)) &&
               released;
    for (std::size_t i = first; i < end; ++i) ForgetLockedRecord(targets[i]);
    first = end;
  }
  if (!onlyDeferred) FDeferredUnlocks.clear();
  FNextRangeTry = kRecordRangeThreshold;
  if (!released) Raise(codes::kCannotUnlock);
}

// --- Change detection ----------------------------------------------------------------------

bool TDataTable::CheckForChanges() {
  if (FExclusive || FInTransaction || !IsOpen()) return false;
  bool changed = false;
  if (FIndex.IndexHeaderChangedOnDisk()) {
    FIndex.DiscardPages();
    FData.HeaderChangedOnDisk();
    FData.RecordCache().Discard();
    FData.SetHasPrimaryIndex(!FIndex.NoPrimaryIndex());
    changed = true;
  } else if (FData.HeaderChangedOnDisk()) {
    FData.RecordCache().Discard();
    changed = true;
  }
  if (HasBlobFields() && FBlob.IsOpen() && FBlob.BlobHeaderChangedOnDisk()) {
    FBlob.DiscardBlocks();
    changed = true;
  }
  FWritten = false;
  return changed;
}

// --- Buffers -------------------------------------------------------------------------------

void TDataTable::FlushBuffers(bool flushToDisk, bool blobsChanged) {
  if (FInTransaction) {
    MarkBuffersChanged(blobsChanged);
    return;
  }
  WriteBuffersNow(flushToDisk);
}

void TDataTable::MarkBuffersChanged(bool blobsChanged) {
  FData.MarkChanged();
  FIndex.MarkIndexChanged();
  if (blobsChanged && FBlob.IsOpen()) FBlob.MarkBlobChanged();
}

void TDataTable::WriteRecordChange(bool keysChanged, bool blobsWritten) {
  if (FExclusive || FInTransaction) {
    FData.MarkChanged();
    if (keysChanged) FIndex.MarkIndexChanged();
    if (blobsWritten && FBlob.IsOpen()) FBlob.MarkBlobChanged();
    return;
  }
  WriteBuffersNow(false, THeaderForce{true, keysChanged, blobsWritten});
}

void TDataTable::WriteBuffersNow(bool flushToDisk, THeaderForce force) {
  // Only files that were written are pushed to the device, each once: the table decides.
  const bool push = flushToDisk || Session().ForceBufferFlush();
  FData.SetForceBufferFlush(false);
  const bool dataWritten = force.Data || FData.HeaderChangedFlag() ||
                           FData.DescriptorsChangedFlag() || FData.RecordCache().HasChanges();
  FData.WriteChangedRecords();
  FData.FlushHeader(force.Data);
  if (dataWritten && push) FData.FlushFile();
  const bool indexWritten =
      force.Index || FIndex.Header().HeaderChanged || FIndex.HasChangedPages();
  FIndex.WriteChangedPages();
  FIndex.FlushIndexHeader(force.Index);
  if (indexWritten && push) FIndex.FlushFile();
  bool blobWritten = false;
  if (FBlob.IsOpen()) {
    blobWritten = force.Blob || FBlob.Header().Changed || FBlob.Cache().HasChanges();
    FBlob.WriteChangedBlocks();
    FBlob.FlushBlobHeader(force.Blob);
    if (blobWritten && push) FBlob.FlushFile();
  }
  FWritten = FWritten || dataWritten || indexWritten || blobWritten;
}

void TDataTable::DiscardBuffers(bool trim) {
  FData.RecordCache().Discard();
  FData.ReadHeader();
  FIndex.DiscardPages();
  FIndex.ReloadIndexHeader();
  FData.SetHasPrimaryIndex(!FIndex.NoPrimaryIndex());
  if (FBlob.IsOpen()) {
    FBlob.DiscardBlocks();
    FBlob.ReloadBlobHeader();
  }
  if (trim) TrimCaches();
}

void TDataTable::TrimCaches() {
  FData.RecordCache().Trim();
  FIndex.TrimPages();
  if (FBlob.IsOpen()) FBlob.TrimBlocks();
}

void TDataTable::EmptyTable() {
  if (!FExclusive) Raise(codes::kExclusiveRequired);
  if (CountsAsReadOnly()) Raise(codes::kAccessDenied);
  FData.EmptyDataFile();
  FIndex.EmptyIndexFile();
  if (FBlob.IsOpen()) FBlob.EmptyBlobFile();
  WriteBuffersNow(false);
  TrimCaches();
}

// --- Transactions --------------------------------------------------------------------------

void TDataTable::StartTransaction() {
  if (CountsAsReadOnly() || FInTransaction) return;
  if (FExclusive) WriteBuffersNow(false);
  // The lock's change check runs before the table joins, so stale caches go first.
  LockTable();
  FInTransaction = true;
}

void TDataTable::Commit(bool flushToDisk) {
  if (!FInTransaction) return;
  TFirstError errors;
  errors.Try([&] {
    AcquireWriteLock();
    WriteBuffersNow(flushToDisk);
  });
  FInTransaction = false;
  if (errors.Failed()) {
    // What could not be written must not reach the files later without the write lock.
    TFirstError ignored;
    ignored.Try([this] { DiscardBuffers(); });
  }
  errors.Try([this] { ReleaseWriteLock(); });
  errors.Try([this] { ReleaseTableLock(); });
  errors.RaiseIfAny();
}

void TDataTable::Rollback() {
  if (!FInTransaction) return;
  FInTransaction = false;
  TFirstError errors;
  errors.Try([this] { DiscardBuffers(); });
  errors.Try([this] { ReleaseTableLock(); });
  errors.RaiseIfAny();
}

}  // namespace kura
