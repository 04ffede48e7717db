// The locks of a cursor that changes records: record locks (one per cursor, noted in the
// table's list so that no other cursor of the process takes the same record), the write
// lock around one change, the table lock of a statement, and the start and end of an edit
// under the pessimistic and optimistic protocols.
#include <algorithm>

#include "base/engine_codes.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/index_navigator.h"
#include "engine/record_order_navigator.h"

namespace kura {
namespace {

// The table's part of two record images (calculated field slots follow it and never count).
bool SameTableRecord(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                     std::size_t size) {
  return a.size() >= size && b.size() >= size && std::equal(a.begin(), a.begin() + size, b.begin());
}

}  // namespace

bool TDataCursor::TakesRecordLocks() const {
  return FTable != nullptr && !FTable->Exclusive() && !FReadOnlyFiles;
}

bool TDataCursor::Pessimistic() const {
  return FDirectory.Session().LockProtocol() == TRecordLockProtocol::lpPessimistic;
}

void TDataCursor::RequireWritable() const {
  if (FReadOnly) Raise(codes::kAccessDenied);
}

void TDataCursor::RequireUnlockedInProcess(std::int32_t n) const {
  if (FTable->RecordHeldInProcess(n)) Raise(codes::kRecordInUse);
}

void TDataCursor::LockRecordNow(std::int32_t n) {
  RequireUnlockedInProcess(n);
  // A change seen on the way (only when no lock was held yet) is caught up by the next step.
  if (FTable->LockRecord(n, this)) FChangeReported = true;
  FLockedRecNo = n;
}

void TDataCursor::LockRecord(std::int32_t n) {
  RequireOpen();
  if (!TakesRecordLocks()) return;
  RunStepOf([&] {
    const std::int32_t target = n != 0 ? n : Nav().PhysicalRecordNo();
    if (target <= 0 || (n == 0 && Nav().Current() != 0)) Raise(codes::kNoCurrentRecord);
    // Under the read lock the record is re-read as it is now, and a change seen while taking
    // it re-synchronises the cursor first.
    TakeReadLockNow();
    LockRecordNow(target);
    ReadCurrentRecord(true);
  });
}

void TDataCursor::UnlockRecord(std::int32_t n) {
  RequireOpen();
  if (n == 0) n = FLockedRecNo;
  // Another cursor's lock is not this cursor's to give back: it stays held (10242), so that
  // no other process can change the record the other cursor is editing.
  if (TakesRecordLocks() && n != 0 && FTable->RecordHeldInProcess(n) &&
      !FTable->RecordHeldBy(n, this))
    Raise(codes::kCannotUnlock);
  if (n == FLockedRecNo) FLockedRecNo = 0;
  if (!TakesRecordLocks() || n == 0) return;
  FTable->UnlockRecord(n, this);
}

std::uint16_t TDataCursor::GetCurrentRecord(std::span<std::uint8_t> buffer, bool lock) {
  if (!lock) return GetCurrentRecord(buffer);
  RequireOpen();
  RequireWritable();
  RequireRecordBuffer(buffer);
  const std::size_t size = FTable->Data().RecordSize();
  std::uint16_t answer = 0;
  RunStepOf([&] {
    answer = Nav().Current();
    if (answer != 0) {
      CopyCurrent(buffer);
      return;
    }
    TakeReadLockNow();
    ReadCurrentRecord(true);
    const bool same = !TakesRecordLocks() || SameTableRecord(FRecord, buffer, size);
    if (Pessimistic() && TakesRecordLocks() && FLockedRecNo != Nav().PhysicalRecordNo()) {
      LockRecordNow(Nav().PhysicalRecordNo());
      if (!same) {
        TFirstError ignored;
        ignored.Try([this] { UnlockRecord(0); });
      }
    }
    if (!same) Raise(codes::kRecordChanged);
    CopyCurrent(buffer);
  });
  return answer;
}

void TDataCursor::CancelEdit() {
  RequireOpen();
  FOptimisticConflict = false;
  if (FLockedRecNo != 0) UnlockRecord(0);
}

// --- The write lock and the table lock ---------------------------------------------------

void TDataCursor::BeginWrite() {
  RequireOpen();
  const bool held = FTable->WriteLocked();
  // Inside a transaction the table byte keeps every other writer out and nothing reaches the
  // files before the commit, which takes the write lock itself: a change needs no write lock
  // of its own (taking and giving back two more OS locks per record of a bulk load).
  if (!FTable->InTransaction() && FTable->AcquireWriteLock()) FChangeReported = true;
  FTookWriteLock = !held && FTable->WriteLocked();
  try {
    // Another writer may have moved or removed the record: back to it by bookmark, and the
    // current record as it is now.
    DetectChanges();
    ReadCurrentRecord(true);
  } catch (const EKuraEngineError& error) {
    TFirstError ignored;
    ignored.Try([this] { EndWrite(); });
    RethrowNamed(error);
  }
}

void TDataCursor::EndWrite() {
  if (!FTookWriteLock) return;
  FTookWriteLock = false;
  if (FTable != nullptr && FTable->WriteLocked()) FTable->ReleaseWriteLock();
}

void TDataCursor::LockTable() {
  RequireOpen();
  if (!TakesRecordLocks()) return;
  if (FTable->LockTable()) FChangeReported = true;
  try {
    DetectChanges();
    ReadCurrentRecord(true);
  } catch (const EKuraEngineError& error) {
    TFirstError ignored;
    ignored.Try([this] { FTable->UnlockTable(); });
    RethrowNamed(error);
  }
}

void TDataCursor::UnlockTable() {
  RequireOpen();
  if (!TakesRecordLocks()) return;
  FTable->UnlockTable();
}

}  // namespace kura
