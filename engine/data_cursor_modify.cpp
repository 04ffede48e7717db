// Changing records through a cursor: new record buffers, validation, posting inserts and
// edits, deleting, and the upkeep of every index, "Sys Deleted", the live record count and
// the cursor's bitmaps that goes with each change.
//
// ORDER OF ONE CHANGE
//   1. refusals that need no lock: read-only cursor (11013), validation (9732/9730/9731);
//   2. the write lock (catching up with changes made elsewhere), then the record lock;
//   3. every check against the indexes: duplicate keys of unique indexes (9729), and the
//      keys a change replaces or removes must be there (8965) — nothing is written before
//      all of them passed;
//   4. the index keys, "Sys Deleted", the record slot, the live record count;
//   5. EndUpdate: the files written and the change counters advanced, the cursor storing
//      the new counters;
//   6. the cursor's bitmaps and position; the record lock and the write lock released
//      whatever happened.
//
// "SYS DELETED" holds one key (deleted flag, RowId) per record slot, live or deleted:
//   insert into a new slot     + (0, RowId)
//   insert into a freed slot   (1, old RowId) -> (0, new RowId)
//   edit changing the RowId    (0, old RowId) -> (0, new RowId)
//   delete                     (0, RowId) -> (1, RowId)
#include <algorithm>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/cursor_blobs.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/index_navigator.h"
#include "engine/record_order_navigator.h"
#include "engine/record_validation.h"
#include "engine/text_index_upkeep.h"
#include "storage/field_types.h"
#include "storage/index_tree.h"
#include "storage/record_image.h"

namespace kura {

struct TDataCursor::TIndexKeys {
  int Slot = 0;
  std::vector<std::uint8_t> Key;
};

namespace {

// A record of the data file's cache, pinned while the reference lives.
class TPinnedRecord {
 public:
  TPinnedRecord(TDataFile& data, TRecord* record) : FData(data), FRecord(record) {}
  ~TPinnedRecord() { FData.ReleaseRecord(FRecord); }
  TPinnedRecord(const TPinnedRecord&) = delete;
  TPinnedRecord& operator=(const TPinnedRecord&) = delete;
  TRecord* operator->() const { return FRecord; }
  TRecord* Get() const { return FRecord; }

 private:
  TDataFile& FData;
  TRecord* FRecord;
};

std::vector<std::uint8_t> ReadImage(TDataFile& data, std::int32_t n) {
  TPinnedRecord record(data, data.GetRecord(n, TTravel::Forward, false));
  return record->Image;
}

// The table part of a posted buffer as the image of live record n.
std::vector<std::uint8_t> PostedImage(std::span<const std::uint8_t> buffer, std::size_t size,
                                      std::int32_t n) {
  std::vector<std::uint8_t> image(buffer.begin(),
                                  buffer.begin() + static_cast<std::ptrdiff_t>(size));
  SetDeleted(image, false);
  SetRecordNoOrNextFree(image, n);
  return image;
}

std::vector<std::uint8_t> SysDeletedKey(TIndexFile& index, std::span<const std::uint8_t> image) {
  const TKeyFormat& keys = index.KeyFormat(kSysDeletedSlot);
  std::vector<std::uint8_t> key(static_cast<std::size_t>(keys.KeyLength));
  BuildKey(keys, image, key);
  return key;
}

}  // namespace

void TDataCursor::RequireRecordBuffer(std::span<const std::uint8_t> buffer) const {
  if (buffer.size() < FRecordSize) Raise(codes::kRecordBuffersCorrupt);
}

template <typename TBody, typename TCleanup>
void TDataCursor::WithCleanup(TBody body, TCleanup cleanup) {
  try {
    body();
  } catch (const EKuraEngineError& error) {
    TFirstError ignored;
    cleanup(ignored);
    // Whatever was written before the failure, the next step re-synchronises.
    FStale = true;
    RethrowNamed(error);
  } catch (...) {
    TFirstError ignored;
    cleanup(ignored);
    FStale = true;
    throw;
  }
  TFirstError errors;
  cleanup(errors);
  errors.RaiseIfAny();
}

// --- New record buffers and validation ----------------------------------------------------

void TDataCursor::InitNewRecord(std::span<std::uint8_t> buffer) {
  RequireOpen();
  RequireRecordBuffer(buffer);
  std::fill_n(buffer.begin(), FRecordSize, std::uint8_t{0});
  if (FHasDefaults)
    StoreFieldDefaults(buffer, FTable->Data().Descriptors(), Locale(), CurrentLocalDateTime());
  EvaluateCalculatedFields(buffer);
}

std::uint16_t TDataCursor::CopyCurrentRecord(std::span<std::uint8_t> buffer) {
  RequireOpen();
  RequireRecordBuffer(buffer);
  std::uint16_t answer = 0;
  RunStepOf([&] {
    std::fill_n(buffer.begin(), FRecordSize, std::uint8_t{0});
    answer = Nav().Position().Empty() ? codes::kNoCurrentRecord : 0;
    if (answer != 0) return;
    // The BLOB values are read from the file: under the read lock.
    TakeReadLockNow();
    ReadCurrentRecord(true);
    const TTableLocale locale = Locale();
    for (const TCursorField& field : FFields) {
      const TFieldDescriptor& descriptor = field.Descriptor;
      if (descriptor.FieldType == kFieldTypeBlob) {
        const std::int32_t firstBlock = BlobSlotFirstBlock(descriptor, FRecord);
        SetBlobSlot(descriptor, buffer, firstBlock, firstBlock != 0);
        SetBlobSlotChange(descriptor, buffer, BlobSlotChange(descriptor, FRecord));
        continue;
      }
      if (descriptor.FieldSubType == kSubTypeAutoInc && !FKeepRowIds) continue;
      std::vector<std::uint8_t> value(static_cast<std::size_t>(descriptor.PhysicalSize) + 1, 0);
      if (!kura::GetField(FRecord, descriptor, value))
        kura::SetField(buffer, descriptor, value.data(), true, locale);
    }
    if (FKeepRowIds) SetRowId(buffer, RowId(FRecord));
    // The stored values become buffers of the new record, which gets chains of its own.
    if (FTable->HasBlobFields())
      Blobs().CopyStoredBlobs(*FTable, FTable->Data().Descriptors(), buffer,
                              Nav().PhysicalRecordNo());
    EvaluateCalculatedFields(buffer);
  });
  return answer;
}

void TDataCursor::ValidateRecord(std::span<const std::uint8_t> buffer) const {
  RequireOpen();
  RequireRecordBuffer(buffer);
  if (!FHasChecks) return;
  const TValidationFailure failure =
      CheckRecordValues(buffer, FTable->Data().Descriptors(), Locale());
  if (failure.Code != 0) RaiseFieldError(failure.Code, failure.FieldName);
}

void TDataCursor::SetKeepRowIds(bool value) {
  RequireOpen();
  if (!FHasAutoInc) return;
  FKeepRowIds = value;
}

// --- Keys ---------------------------------------------------------------------------------

std::vector<int> TDataCursor::KeySlots() const {
  std::vector<int> slots;
  const TIndexFile& index = FTable->Index();
  if (!index.NoPrimaryIndex()) slots.push_back(kPrimaryIndexSlot);
  for (int slot = 1; slot <= index.SecondaryCount(); ++slot) slots.push_back(slot);
  return slots;
}

std::vector<TDataCursor::TIndexKeys> TDataCursor::BuildKeys(
    std::span<const std::uint8_t> image) const {
  std::vector<TIndexKeys> keys;
  TIndexFile& index = FTable->Index();
  for (int slot : KeySlots()) {
    const TKeyFormat& format = index.KeyFormat(slot);
    TIndexKeys entry;
    entry.Slot = slot;
    entry.Key.assign(static_cast<std::size_t>(format.KeyLength), 0);
    BuildKey(format, image, entry.Key);
    keys.push_back(std::move(entry));
  }
  return keys;
}

void TDataCursor::RaiseIndexError(std::uint16_t code, int slot) const {
  // The primary index has no name of its own: the error names none.
  const std::string name = slot == kPrimaryIndexSlot
                               ? std::string()
                               : FTable->Index().ReadIndexDescriptor(slot).IndexName;
  RaiseEngineError(code, {}, {}, FDirectory.DatabaseName(), FTableName, {}, name);
}

void TDataCursor::RaiseDuplicate(int slot) const {
  RaiseIndexError(codes::kDuplicateKey, slot);
}

void TDataCursor::RaiseMissingKey(int slot) const {
  RaiseIndexError(codes::kIndexPagesCorrupt, slot);
}

void TDataCursor::ReplaceSysDeletedKey(std::span<const std::uint8_t> oldImage,
                                       std::span<const std::uint8_t> newImage,
                                       std::int32_t recordNo) {
  TIndexFile& index = FTable->Index();
  TIndexTree tree = index.Tree(kSysDeletedSlot);
  if (!oldImage.empty() && !tree.Delete(SysDeletedKey(index, oldImage).data()))
    RaiseMissingKey(kSysDeletedSlot);
  if (!tree.Insert(SysDeletedKey(index, newImage).data(), recordNo))
    RaiseMissingKey(kSysDeletedSlot);
}

// --- Posting an insert --------------------------------------------------------------------

// The head of the free chain when freed slots are reused (tables with a primary index of
// their own), else a new slot at the end.
std::int32_t TDataCursor::NextSlotNumber() const {
  const TDataFile& data = FTable->Data();
  if (data.FirstFree() != 0 && !FTable->Index().NoPrimaryIndex()) return data.FirstFree();
  return data.NextRecordNo();
}

void TDataCursor::PostInsert(std::span<std::uint8_t> buffer, bool resync) {
  RequireOpen();
  RequireWritable();
  ValidateRecord(buffer);
  BeginWrite();
  std::int32_t locked = 0;
  // An edit lock the cursor holds meanwhile stays its own.
  const std::int32_t heldBefore = FLockedRecNo;
  WithCleanup(
      [&] {
        const std::int32_t n = NextSlotNumber();
        // A freed slot is locked like any record: another process may still hold the lock of
        // the record that was there. A new slot at the end never held a record another
        // process saw (slots are only cut off by emptying the table, which needs it
        // exclusively) and none can see it before the change is written, so a system lock
        // would protect nothing there: a load inside a transaction would hold one per new
        // record until the commit. Only another cursor of the process may hold its number
        // (a record of a transaction rolled back since).
        if (TakesRecordLocks() && n == FTable->Data().NextRecordNo()) {
          RequireUnlockedInProcess(n);
        } else if (TakesRecordLocks()) {
          LockRecordNow(n);
          locked = n;
        }
        InsertSteps(buffer, n);
        UpdateBitmapsFor(n, FRecord);
        AfterChange(resync ? n : 0);
      },
      [&](TFirstError& errors) {
        if (locked != 0) errors.Try([&] { UnlockRecord(locked); });
        FLockedRecNo = heldBefore;
        errors.Try([&] { EndWrite(); });
      });
}

void TDataCursor::InsertSteps(std::span<std::uint8_t> buffer, std::int32_t n) {
  TDataFile& data = FTable->Data();
  TIndexFile& index = FTable->Index();
  const std::size_t size = data.RecordSize();
  std::vector<std::uint8_t> image = PostedImage(buffer, size, n);
  std::int32_t lastRowId = data.LastAutoInc();
  if (FKeepRowIds) {
    KeepRowId(RowId(image), lastRowId);
  } else {
    lastRowId = NextRowId(lastRowId);
    SetRowId(image, lastRowId);
  }

  // Checks. A new slot must fit the file; a freed slot must be what the chain says.
  const bool newSlot = n == data.NextRecordNo();
  std::vector<std::uint8_t> freed;
  if (newSlot) {
    const std::int64_t end = static_cast<std::int64_t>(kDataHeaderSize) +
                             static_cast<std::int64_t>(data.FieldCount()) *
                                 static_cast<std::int64_t>(kFieldDescriptorSize) +
                             static_cast<std::int64_t>(n) * static_cast<std::int64_t>(size);
    if (n > kMaxRecordSlots || end > kMaxDataFileSize) Raise(codes::kTableFull);
  } else {
    freed = ReadImage(data, n);
    if (!IsDeleted(freed)) RaiseTableError(codes::kHeaderCorrupt, FTableName);
    if (index.Tree(kSysDeletedSlot).FindRecord(SysDeletedKey(index, freed).data()) != n)
      RaiseMissingKey(kSysDeletedSlot);
  }
  const std::vector<TIndexKeys> keys = BuildKeys(image);
  for (const TIndexKeys& key : keys) {
    if (index.KeyFormat(key.Slot).Unique && index.Tree(key.Slot).FindRecord(key.Key.data()) != 0)
      RaiseDuplicate(key.Slot);
  }
  // A row number in use (kept from the caller, or a counter that wrapped) would give two
  // records one identity.
  if (index.Tree(kSysDeletedSlot).FindRecord(SysDeletedKey(index, image).data()) != 0)
    RaiseDuplicate(kSysDeletedSlot);
  TTextIndexChange words;
  // Writes: the BLOB values first, then the keys and the record.
  const bool blobsWritten = WriteBlobsForPost(buffer, image, {}, words);
  for (const TIndexKeys& key : keys) {
    if (!index.Tree(key.Slot).Insert(key.Key.data(), n)) RaiseMissingKey(key.Slot);
  }
  {
    TPinnedRecord record(data, data.NewRecordSlot());
    if (record->Number != n) RaiseTableError(codes::kHeaderCorrupt, FTableName);
    std::copy(image.begin(), image.end(), record->Image.begin());
    data.MarkRecordChanged(record.Get());
  }
  ReplaceSysDeletedKey(freed, image, n);
  data.SetLastAutoInc(lastRowId);
  index.IncLiveRecordCount();
  ApplyTextWords(words, RowId(image), RowId(image), n);
  std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(size), buffer.begin() + FRecordSize,
            FRecord.begin() + static_cast<std::ptrdiff_t>(size));
  std::copy(image.begin(), image.end(), FRecord.begin());
  EndUpdate(true, blobsWritten);
}

// --- Posting an edit ----------------------------------------------------------------------

void TDataCursor::PostEdit(std::span<std::uint8_t> buffer, bool releaseLock, bool resync) {
  RequireOpen();
  RequireWritable();
  ValidateRecord(buffer);
  const bool optimistic = !Pessimistic();
  const std::size_t size = FTable->Data().RecordSize();
  // The record as the edit read it: under the optimistic protocol the post checks that
  // nobody changed it since.
  const std::vector<std::uint8_t> asRead(FRecord);
  BeginWrite();
  std::int32_t n = 0;
  bool lockedHere = false;
  bool posted = false;
  const std::int32_t heldBefore = FLockedRecNo;
  WithCleanup(
      [&] {
        if (Nav().Current() != 0) Raise(codes::kNoCurrentRecord);
        n = Nav().PhysicalRecordNo();
        if (TakesRecordLocks() && optimistic && FOptimisticConflict) Raise(codes::kRecordChanged);
        if (TakesRecordLocks() && FLockedRecNo != n) {
          // Optimistic, or an edit that started without its lock: the record must still be
          // the one read, and it is locked for the post.
          if (!std::equal(asRead.begin(), asRead.begin() + static_cast<std::ptrdiff_t>(size),
                          FRecord.begin())) {
            if (optimistic) FOptimisticConflict = true;
            Raise(codes::kRecordChanged);
          }
          LockRecordNow(n);
          lockedHere = true;
        }
        EditSteps(buffer, n);
        UpdateBitmapsFor(n, FRecord);
        posted = true;
      },
      [&](TFirstError& errors) {
        const bool releaseEditLock = posted && !optimistic && releaseLock && FLockedRecNo == n;
        if (lockedHere || releaseEditLock) errors.Try([&] { UnlockRecord(n); });
        if (lockedHere) FLockedRecNo = heldBefore;
        errors.Try([&] { AfterChange(resync && n != 0 ? n : 0); });
        errors.Try([&] { EndWrite(); });
      });
}

bool TDataCursor::EditSteps(std::span<std::uint8_t> buffer, std::int32_t n) {
  TDataFile& data = FTable->Data();
  TIndexFile& index = FTable->Index();
  const std::size_t size = data.RecordSize();
  const std::vector<std::uint8_t> old(FRecord.begin(),
                                      FRecord.begin() + static_cast<std::ptrdiff_t>(size));
  std::vector<std::uint8_t> image = PostedImage(buffer, size, n);
  std::int32_t lastRowId = data.LastAutoInc();
  if (FKeepRowIds) {
    KeepRowId(RowId(image), lastRowId);
  } else {
    SetRowId(image, RowId(old));  // an edit never changes the row number
  }
  const bool rowIdChanged = RowId(image) != RowId(old);

  // Checks: only the keys that change.
  const std::vector<TIndexKeys> oldKeys = BuildKeys(old);
  const std::vector<TIndexKeys> newKeys = BuildKeys(image);
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < newKeys.size(); ++i) {
    if (oldKeys[i].Key == newKeys[i].Key) continue;
    TIndexTree tree = index.Tree(newKeys[i].Slot);
    if (index.KeyFormat(newKeys[i].Slot).Unique && tree.FindRecord(newKeys[i].Key.data()) != 0)
      RaiseDuplicate(newKeys[i].Slot);
    if (tree.FindRecord(oldKeys[i].Key.data()) != n) RaiseMissingKey(oldKeys[i].Slot);
    changed.push_back(i);
  }
  if (rowIdChanged) {
    TIndexTree tree = index.Tree(kSysDeletedSlot);
    if (tree.FindRecord(SysDeletedKey(index, image).data()) != 0) RaiseDuplicate(kSysDeletedSlot);
    if (tree.FindRecord(SysDeletedKey(index, old).data()) != n) RaiseMissingKey(kSysDeletedSlot);
  }
  TTextIndexChange words;
  // Writes: the BLOB values first, then the keys and the record.
  const bool blobsWritten = WriteBlobsForPost(buffer, image, old, words);
  for (std::size_t i : changed) {
    TIndexTree tree = index.Tree(newKeys[i].Slot);
    if (!tree.Delete(oldKeys[i].Key.data())) RaiseMissingKey(oldKeys[i].Slot);
    if (!tree.Insert(newKeys[i].Key.data(), n)) RaiseMissingKey(newKeys[i].Slot);
  }
  if (rowIdChanged) ReplaceSysDeletedKey(old, image, n);
  ApplyTextWords(words, RowId(old), RowId(image), n);
  {
    TPinnedRecord record(data, data.GetRecord(n, TTravel::Forward, false));
    std::copy(image.begin(), image.end(), record->Image.begin());
    data.MarkRecordChanged(record.Get());
  }
  if (lastRowId != data.LastAutoInc()) data.SetLastAutoInc(lastRowId);
  std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(size), buffer.begin() + FRecordSize,
            FRecord.begin() + static_cast<std::ptrdiff_t>(size));
  std::copy(image.begin(), image.end(), FRecord.begin());
  const bool keysChanged = !changed.empty() || rowIdChanged;
  EndUpdate(keysChanged, blobsWritten);
  return keysChanged;
}

// --- Deleting -----------------------------------------------------------------------------

void TDataCursor::DeleteRecord(std::span<const std::uint8_t> buffer, bool /*resync*/) {
  RequireOpen();
  RequireWritable();
  RequireRecordBuffer(buffer);
  const std::size_t size = FTable->Data().RecordSize();
  BeginWrite();
  std::int32_t n = 0;
  bool unlock = false;
  const std::int32_t heldBefore = FLockedRecNo;
  WithCleanup(
      [&] {
        if (Nav().Current() != 0) Raise(codes::kNoCurrentRecord);
        n = Nav().PhysicalRecordNo();
        if (TakesRecordLocks()) {
          if (FTable->RecordHeldInProcess(n)) {
            // Locked by this cursor's edit (whose BLOB buffers go with the record).
            if (FLockedRecNo != n) Raise(codes::kRecordInUse);
          } else {
            if (!std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size),
                            FRecord.begin()))
              Raise(codes::kRecordChanged);
            LockRecordNow(n);
          }
          unlock = true;
        }
        DeleteSteps(n);
        UpdateBitmapsFor(n, {});
      },
      [&](TFirstError& errors) {
        if (unlock) errors.Try([&] { UnlockRecord(n); });
        if (heldBefore != n) FLockedRecNo = heldBefore;
        // With or without resync the cursor counts afresh: the record it stood on is gone,
        // and it lands on the one that followed (the end crack after the last one).
        errors.Try([&] { AfterDelete(); });
        errors.Try([&] { EndWrite(); });
      });
}

void TDataCursor::DeleteSteps(std::int32_t n) {
  TDataFile& data = FTable->Data();
  TIndexFile& index = FTable->Index();
  std::vector<std::uint8_t> image = ReadImage(data, n);
  if (IsDeleted(image)) Raise(codes::kRecordChanged);

  // Checks: every key to remove must be there.
  const std::vector<TIndexKeys> keys = BuildKeys(image);
  for (const TIndexKeys& key : keys) {
    if (index.Tree(key.Slot).FindRecord(key.Key.data()) != n) RaiseMissingKey(key.Slot);
  }
  if (index.Tree(kSysDeletedSlot).FindRecord(SysDeletedKey(index, image).data()) != n)
    RaiseMissingKey(kSysDeletedSlot);
  const TTextIndexChange words = TextWordsChange(image, {});

  // Writes: the BLOB values are emptied first (this cursor's buffers on the record go), and
  // the deleted record keeps empty slots.
  const bool blobsWritten =
      FTable->HasBlobFields() && Blobs().EmptyRecordBlobs(*FTable, data.Descriptors(), image, n);
  for (const TIndexKeys& key : keys) {
    if (!index.Tree(key.Slot).Delete(key.Key.data())) RaiseMissingKey(key.Slot);
  }
  std::vector<std::uint8_t> deleted(image);
  SetDeleted(deleted, true);
  ReplaceSysDeletedKey(image, deleted, n);
  index.DecLiveRecordCount();
  ApplyTextWords(words, RowId(image), RowId(image), n);
  {
    TPinnedRecord record(data, data.GetRecord(n, TTravel::Forward, false));
    std::copy(image.begin(), image.end(), record->Image.begin());
    data.DeleteRecordSlot(record.Get());
    std::copy(record->Image.begin(), record->Image.end(), FRecord.begin());
  }
  EndUpdate(true, blobsWritten);
}

// --- After a change -----------------------------------------------------------------------

void TDataCursor::EndUpdate(bool keysChanged, bool blobsWritten) {
  FTable->WriteRecordChange(keysChanged, blobsWritten);
  // The cursor's own change must not re-synchronise it: it knows where it stands.
  FCounters = CurrentCounters();
  FChangeReported = false;
}

void TDataCursor::UpdateBitmapsFor(std::int32_t n, std::span<const std::uint8_t> image) {
  if (!FFiltered || n <= 0) return;
  const auto bit = static_cast<std::uint32_t>(n);
  // A new slot at the end: the bitmaps grow, and the bits they gain start clear.
  for (TRecordsBitmap* bitmap : {&FVisible, &FInRange, &FLive}) GrowCleared(*bitmap, bit);
  const bool live = !image.empty();
  const bool withRange = !FRecordOrder && RangeActive();
  const bool inRange = live && withRange && !OutsideRange(BuildKeyOf(image));
  if (live) {
    FLive.SetBit(bit);
  } else {
    FLive.ClearBit(bit);
  }
  if (inRange) {
    FInRange.SetBit(bit);
  } else if (FInRange.Size() >= bit) {
    FInRange.ClearBit(bit);
  }
  // Every active filter evaluates the record alone.
  const bool passes = UpdateFilterBitsFor(bit, image);
  // The count follows the one bit that changed: counting the whole bitmap after every
  // change would make a run of inserts quadratic.
  const bool wasVisible = FVisible.IsSet(bit);
  const bool visible = live && (!withRange || inRange) && passes;
  if (visible) {
    FVisible.SetBit(bit);
  } else {
    FVisible.ClearBit(bit);
  }
  FVisibleCount += static_cast<int>(visible) - static_cast<int>(wasVisible);
}

void TDataCursor::AfterChange(std::int32_t onto) {
  if (FAppendRun && onto == 0) {
    FAppendRunStale = true;
    return;
  }
  Nav().Resynchronise();
  if (onto != 0) {
    if (FRecordOrder) {
      FRecordNav->GotoPhysical(onto);
    } else {
      const std::vector<std::uint8_t> key = BuildKeyOf(FRecord);
      FIndexNav->SearchKey(key.data(), true, false);
    }
  }
  ReadCurrentRecord(true);
}

void TDataCursor::BeginAppendRun() {
  RequireOpen();
  FAppendRun = true;
}

void TDataCursor::EndAppendRun() {
  const bool stale = FAppendRunStale;
  FAppendRun = false;
  FAppendRunStale = false;
  if (!stale || !IsOpen()) return;
  Nav().Resynchronise();
  ReadCurrentRecord(true);
}

void TDataCursor::AfterDelete() {
  const std::vector<std::uint8_t> gone = Nav().Bookmark();
  Nav().Resynchronise();
  if (Nav().Current() == 0 && Nav().CompareBookmarks(Nav().Bookmark(), gone) < 0) Nav().Last();
  ReadCurrentRecord(true);
}

// --- BLOB values and text-index words -----------------------------------------------------

void TDataCursor::CheckBlobSlots(std::span<const std::uint8_t> buffer) const {
  if (!FTable->HasBlobFields()) return;
  for (const TFieldDescriptor& field : FTable->Data().Descriptors()) {
    if (field.FieldType != kFieldTypeBlob) continue;
    const std::int32_t slot = BlobSlotFirstBlock(field, buffer);
    if (slot < 0 && (!FBlobs || FBlobs->Find(slot) == nullptr))
      RaiseFieldError(codes::kBlobBuffersCorrupt, field.FieldName);
  }
}

TTextIndexChange TDataCursor::TextWordsChange(std::span<const std::uint8_t> oldImage,
                                              std::span<const std::uint8_t> newBuffer) {
  if (TextIndexFields(*FTable).empty()) return {};
  const TTextIndexParams& params = TextIndexParams();
  TRecordWords oldWords;
  TRecordWords newWords;
  if (!oldImage.empty()) oldWords = RecordWords(*FTable, params, oldImage, nullptr);
  if (!newBuffer.empty()) newWords = RecordWords(*FTable, params, newBuffer, FBlobs.get());
  const bool rowIdChanged =
      !oldImage.empty() && !newBuffer.empty() && RowId(oldImage) != RowId(newBuffer);
  return TextIndexChange(oldWords, newWords, rowIdChanged);
}

void TDataCursor::ApplyTextWords(const TTextIndexChange& change, std::int32_t oldRowId,
                                 std::int32_t newRowId, std::int32_t recordNo) {
  if (change.Removed.empty() && change.Added.empty()) return;
  ApplyTextIndexChange(*FTable, change, oldRowId, newRowId, recordNo);
}

bool TDataCursor::WriteBlobsForPost(std::span<std::uint8_t> buffer,
                                    std::vector<std::uint8_t>& image,
                                    std::span<const std::uint8_t> old, TTextIndexChange& words) {
  CheckBlobSlots(buffer);
  std::copy_n(image.begin(), kRecordHeaderSize, buffer.begin());
  words = TextWordsChange(old, buffer);
  const bool written = FBlobs && FTable->HasBlobFields() &&
                       FBlobs->WriteModified(*FTable, FTable->Data().Descriptors(), buffer);
  std::copy(buffer.begin() + kRecordHeaderSize,
            buffer.begin() + static_cast<std::ptrdiff_t>(image.size()),
            image.begin() + kRecordHeaderSize);
  StoreBlobSlots(image);
  return written;
}

void TDataCursor::StoreBlobSlots(std::span<std::uint8_t> image) const {
  if (!FTable->HasBlobFields()) return;
  for (const TFieldDescriptor& field : FTable->Data().Descriptors()) {
    if (field.FieldType != kFieldTypeBlob) continue;
    const std::int32_t slot = BlobSlotFirstBlock(field, image);
    if (slot >= 0) continue;
    const TCursorBlob* blob = FBlobs ? FBlobs->Find(slot) : nullptr;
    if (blob == nullptr) RaiseFieldError(codes::kBlobBuffersCorrupt, field.FieldName);
    SetBlobSlot(field, image, blob->Buffer.FirstBlock, blob->Buffer.FirstBlock != 0);
    SetBlobSlotChange(field, image, blob->Buffer.BlobChange);
  }
}

}  // namespace kura
