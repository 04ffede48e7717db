// Navigation of a cursor: the read bracket and change detection around every step, the two
// orders wired to their navigators, key search, ranges, index changes, bookmarks and the
// reading of the current record.
#include <algorithm>
#include <optional>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_page_store.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/index_navigator.h"
#include "engine/record_order_navigator.h"
#include "storage/ascii_case.h"
#include "storage/index_tree.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// A step is run again after a read saw a change; the second run holds the read lock, so a
// third is never needed by a sound table.
constexpr int kMaxStepRuns = 4;

// Block reads of at least this many records in record order read the file a run at a time;
// smaller ones go through the record cache (its read-ahead serves the next calls).
constexpr int kMinRecordRun = 16;

}  // namespace

TPage* TCursorPageStore::GetPage(std::int32_t pageNo) {
  if (FCursor.ReadMissesCacheFor(FSlot, pageNo)) throw TReadSawChange{};
  return TForwardingPageStore::GetPage(pageNo);
}

// --- The read bracket and change detection ---------------------------------------------

bool TDataCursor::ChecksChanges() const {
  return FTable != nullptr && !(FExclusive && !FSharedFromExclusive) && !FReadOnlyFiles;
}

bool TDataCursor::Strict() const {
  return FDirectory.Session().StrictChangeDetection();
}

TChangeCounters TDataCursor::CurrentCounters() const {
  TChangeCounters counters;
  counters.Data = FTable->Data().ChangeCount();
  counters.Index = FTable->Index().Header().IndexChangeCount;
  if (FTable->HasBlobFields() && FTable->Blob().IsOpen())
    counters.Blob = FTable->Blob().Header().BlobChangeCount;
  return counters;
}

void TDataCursor::BeginRead() {
  RequireOpen();
  if (FReadDepth++ > 0) return;
  if (!ChecksChanges() || !Strict()) return;
  const bool held = FTable->ReadLocked();
  try {
    if (FTable->AcquireReadLock()) FChangeReported = true;
  } catch (...) {
    FReadDepth = 0;
    throw;
  }
  FTookReadLock = !held && FTable->ReadLocked();
}

void TDataCursor::EndRead() {
  if (FReadDepth == 0 || --FReadDepth > 0) return;
  if (!FTookReadLock) return;
  FTookReadLock = false;
  if (FTable != nullptr && FTable->ReadLocked()) FTable->ReleaseReadLock();
}

bool TDataCursor::ReadMissesCache() {
  if (FReadDepth == 0 || !ChecksChanges() || Strict()) return false;
  const bool held = FTable->ReadLocked();
  const bool changed = FTable->AcquireReadLock();
  if (!held && FTable->ReadLocked()) FTookReadLock = true;
  if (changed) FChangeReported = true;
  return changed;
}

bool TDataCursor::ReadMissesCacheFor(int slot, std::int32_t pageNo) {
  if (FReadDepth == 0 || Strict() || FTable->Index().Cache(slot).Peek(pageNo) != nullptr)
    return false;
  return ReadMissesCache();
}

void TDataCursor::DetectChanges() {
  const bool checks = ChecksChanges();
  const TChangeCounters now = checks ? CurrentCounters() : FCounters;
  if (!FStale && !(checks && (FChangeReported || now != FCounters))) return;
  // The counters are stored only once the cursor has caught up: a re-synchronisation that
  // failed is made again by the next step.
  Resynchronise();
  FStale = false;
  FChangeReported = false;
  FCounters = now;
}

void TDataCursor::Resynchronise() {
  RebuildBitmaps();
  Nav().Resynchronise();
}

void TDataCursor::RethrowNamed(const EKuraEngineError& error, bool anyCode) const {
  if (!error.ErrorTableName.empty() || (!anyCode && error.ErrorCode != codes::kIndexPagesCorrupt))
    throw;
  RaiseWithOSError(error.ErrorCode, error.OSErrorCode, error.ErrorRemoteServer, error.ErrorUserName,
                   error.ErrorDatabaseName.empty() ? FDirectory.DatabaseName()
                                                   : std::string_view(error.ErrorDatabaseName),
                   FTableName, error.ErrorFieldName, error.ErrorIndexName, error.ErrorText);
}

// Lazy change detection: steps that move more than once, or that replace the navigator,
// take the read lock first so that no read in the middle of them can ask for a re-run.
void TDataCursor::TakeReadLockNow() {
  if (ReadMissesCache()) throw TReadSawChange{};
}

template <typename TStep>
auto TDataCursor::RunStep(TStep step) {
  BeginRead();
  // Where the step started (after any re-synchronisation): a step that fails after its move
  // was committed, for instance in the record read, goes back there.
  std::optional<TCursorPosition> start;
  std::uint64_t generation = 0;
  const auto restore = [&] {
    if (start && generation == FNavGeneration) Nav().RestorePosition(*start);
  };
  try {
    for (int run = 1;; ++run) {
      try {
        DetectChanges();
        start = Nav().Position();
        generation = FNavGeneration;
        auto result = step();
        EndRead();
        return result;
      } catch (const TReadSawChange&) {
        // The next run re-synchronises first.
        restore();
        if (run >= kMaxStepRuns) Raise(codes::kLockFailure);
      }
    }
  } catch (...) {
    restore();
    TFirstError ignored;
    ignored.Try([this] { EndRead(); });
    try {
      throw;
    } catch (const EKuraEngineError& error) {
      RethrowNamed(error);
    }
  }
}

void TDataCursor::RunStepOf(const std::function<void()>& step) {
  RunStep([&] {
    step();
    return 0;
  });
}

// --- Orders ----------------------------------------------------------------------------

TNavigator& TDataCursor::Nav() const {
  if (FIndexNav) return *FIndexNav;
  if (FRecordNav) return *FRecordNav;
  Raise(codes::kNoCurrentRecord);
}

// Makes the navigator of an order and only then replaces the old one, so that a failure
// (a page read while counting) leaves the cursor in the order it was.
void TDataCursor::LoadIndex(int indexNo) {
  TIndexFile& index = FTable->Index();
  const bool recordOrder =
      indexNo == kRecordOrderIndexNo || (indexNo == kPrimaryIndexSlot && index.NoPrimaryIndex());
  std::string name;
  if (!recordOrder && indexNo != kPrimaryIndexSlot)
    name = index.ReadIndexDescriptor(indexNo).IndexName;
  const bool wasFiltered = FFiltered;
  FFiltered = recordOrder || FFiltersActive;
  try {
    // The new order starts without a range.
    BuildBitmaps(false);
  } catch (...) {
    FFiltered = wasFiltered;
    throw;
  }
  if (recordOrder) {
    auto navigator = std::make_unique<TRecordOrderNavigator>(FVisible, &FVisibleCount);
    FIndexNav.reset();
    FStore.reset();
    FKeys.reset();
    FRecordNav = std::move(navigator);
  } else {
    auto keys = std::make_unique<TKeyFormat>(index.KeyFormat(indexNo));
    auto store = std::make_unique<TCursorPageStore>(index.Store(indexNo), *this, indexNo);
    auto navigator = std::make_unique<TIndexNavigator>(*store, *keys, index.PageFormat(indexNo));
    if (FFiltered) navigator->SetVisible(&FVisible);
    FRecordNav.reset();
    FIndexNav = std::move(navigator);  // the old navigator goes before its store and keys
    FStore = std::move(store);
    FKeys = std::move(keys);
  }
  FIndexName = std::move(name);
  FIndexNo = indexNo;
  FRecordOrder = recordOrder;
  ++FNavGeneration;
}

const TKeyFormat& TDataCursor::KeyFormat() const {
  static const TKeyFormat kNone;
  return FKeys ? *FKeys : kNone;
}

std::vector<std::uint8_t> TDataCursor::BuildKeyOf(std::span<const std::uint8_t> record) const {
  RequireOpen();
  if (FRecordOrder) return {};
  std::vector<std::uint8_t> image(FRecordSize, 0);
  std::copy_n(record.begin(), std::min(record.size(), image.size()), image.begin());
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FKeys->KeyLength), 0);
  BuildKey(*FKeys, image, key);
  return key;
}

// After the order changed: the record the cursor was on, or the crack it was at.
void TDataCursor::PlaceLike(const TCursorPosition& before, const std::vector<std::uint8_t>& record,
                            std::int32_t recordNo) {
  if (before.Empty() || before.AtBOF) {
    Nav().First();
  } else if (before.AtEOF) {
    Nav().Last();
  } else if (FRecordOrder) {
    FRecordNav->GotoPhysical(recordNo);
  } else {
    const std::vector<std::uint8_t> key = BuildKeyOf(record);
    FIndexNav->SearchKey(key.data(), true, false);
  }
}

void TDataCursor::SetIndexNo(int indexNo) {
  RequireOpen();
  const TIndexFile& index = FTable->Index();
  const bool known = indexNo == kRecordOrderIndexNo || indexNo == kPrimaryIndexSlot ||
                     indexNo == kSysDeletedSlot ||
                     (indexNo >= 1 && indexNo <= kMaxSecondaryIndexes && index.SlotInUse(indexNo));
  if (!known)
    RaiseEngineError(codes::kInvalidIndexName, {}, {}, FDirectory.DatabaseName(), FTableName, {},
                     std::to_string(indexNo));
  if (indexNo == FIndexNo) return;
  RunStep([&] {
    TakeReadLockNow();
    const TCursorPosition before = Nav().Position();
    const std::int32_t recordNo = Nav().PhysicalRecordNo();
    const std::vector<std::uint8_t> record = FRecord;
    LoadIndex(indexNo);
    PlaceLike(before, record, recordNo);
    ReadCurrentRecord(true);
    return 0;
  });
}

void TDataCursor::SetIndexName(std::string_view name) {
  RequireOpen();
  const std::string_view trimmed = TrimAsciiBlanks(name);
  if (FIndexNo != kRecordOrderIndexNo && EqualsIgnoringAsciiCase(trimmed, FIndexName)) return;
  int slot = kPrimaryIndexSlot;
  if (!trimmed.empty()) {
    slot = FTable->Index().FindIndexName(trimmed);
    if (slot < 1 || slot > FTable->Index().SecondaryCount())
      RaiseEngineError(codes::kInvalidIndexName, {}, {}, FDirectory.DatabaseName(), FTableName, {},
                       name);
  }
  SetIndexNo(slot);
}

// --- Reading the current record ----------------------------------------------------------

// Record keeps the image it had until the new one was read: a failed read leaves the cursor's
// record and (through the step runner) its position as they were.
void TDataCursor::ReadCurrentRecord(bool forward) {
  const std::int32_t n = Nav().PhysicalRecordNo();
  if (n <= 0) {
    std::fill(FRecord.begin(), FRecord.end(), std::uint8_t{0});
    return;
  }
  TDataFile& data = FTable->Data();
  // A cache miss in lazy change detection re-reads the headers first; the record is then
  // read as the files are now (a change seen makes the next step re-synchronise).
  if (data.RecordCache().Peek(n) == nullptr) ReadMissesCache();
  // An index entry naming a record past the end of the data file is damage: reading it must
  // never append a slot.
  if (n >= data.NextRecordNo()) RaiseTableError(codes::kIndexPagesCorrupt, FTableName);
  TRecord* record = data.GetRecord(n, forward ? TTravel::Forward : TTravel::Backward);
  const bool calculated = TakeRecordImage(record->Image);
  data.ReleaseRecord(record);
  if (calculated) CalculateTakenRecord();
}

void TDataCursor::TakeRecord(std::span<const std::uint8_t> image) {
  if (TakeRecordImage(image)) CalculateTakenRecord();
}

std::uint16_t TDataCursor::CopyCurrent(std::span<std::uint8_t> buffer) const {
  const std::uint16_t answer = Nav().Current();
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  if (answer == 0)
    std::copy_n(FRecord.begin(), std::min(buffer.size(), FRecord.size()), buffer.begin());
  return answer;
}

// --- Navigation ------------------------------------------------------------------------

void TDataCursor::First() {
  RunStep([&] {
    Nav().First();
    ReadCurrentRecord(true);
    return 0;
  });
}

void TDataCursor::Last() {
  RunStep([&] {
    Nav().Last();
    ReadCurrentRecord(false);
    return 0;
  });
}

std::uint16_t TDataCursor::GetCurrentRecord(std::span<std::uint8_t> buffer) {
  return RunStep([&] {
    if (Nav().Current() == 0) ReadCurrentRecord(true);
    return CopyCurrent(buffer);
  });
}

std::uint16_t TDataCursor::GetNextRecord(std::span<std::uint8_t> buffer) {
  return RunStep([&] {
    const std::uint16_t answer = Nav().Next();
    ReadCurrentRecord(true);
    CopyCurrent(buffer);
    return answer;
  });
}

std::uint16_t TDataCursor::GetPriorRecord(std::span<std::uint8_t> buffer) {
  return RunStep([&] {
    const std::uint16_t answer = Nav().Prior();
    ReadCurrentRecord(false);
    CopyCurrent(buffer);
    return answer;
  });
}

std::uint16_t TDataCursor::GetNextRecords(int& count, std::span<std::uint8_t> buffers) {
  const std::size_t size = std::max<std::size_t>(FRecordSize, 1);
  const int room = static_cast<int>(
      std::min<std::size_t>(buffers.size() / size, static_cast<std::size_t>(std::max(count, 0))));
  int read = 0;
  const std::uint16_t answer = RunStep([&] {
    TakeReadLockNow();
    std::uint16_t answer = 0;
    if (!FIndexNav && room >= kMinRecordRun) {
      read = ReadNextRecordRuns(room, buffers, answer);
      return answer;
    }
    for (read = 0; read < room; ++read) {
      const std::uint16_t next = Nav().Next();
      ReadCurrentRecord(true);
      if (next != 0) return next;
      CopyCurrent(buffers.subspan(static_cast<std::size_t>(read) * size, size));
    }
    return std::uint16_t{0};
  });
  count = read;
  return answer;
}

// The records of a step in record order lie mostly side by side in the file: they are read a
// run at a time (from the next visible record, as many as are still wanted) instead of one
// cache lookup each. Same answers and positions as one GetNextRecord after the other.
int TDataCursor::ReadNextRecordRuns(int room, std::span<std::uint8_t> buffers,
                                    std::uint16_t& answer) {
  TDataFile& data = FTable->Data();
  const std::size_t size = std::max<std::size_t>(FRecordSize, 1);
  const std::size_t imageSize = data.RecordSize();
  std::vector<std::uint8_t> run;
  std::int32_t runFirst = 0;
  std::int32_t runCount = 0;
  answer = 0;
  for (int read = 0; read < room; ++read) {
    answer = Nav().Next();
    const std::int32_t n = Nav().PhysicalRecordNo();
    if (answer != 0 || n <= 0) {
      ReadCurrentRecord(true);
      if (answer != 0) return read;
    } else {
      if (n >= data.NextRecordNo()) RaiseTableError(codes::kIndexPagesCorrupt, FTableName);
      if (n < runFirst || n - runFirst >= runCount) {
        runFirst = n;
        runCount = static_cast<std::int32_t>(std::min<std::int64_t>(
            room - read, static_cast<std::int64_t>(data.NextRecordNo()) - n));
        run.resize(static_cast<std::size_t>(runCount) * imageSize);
        data.CopyRecordImages(runFirst, runCount, run);
      }
      TakeRecord(std::span<const std::uint8_t>(run).subspan(
          static_cast<std::size_t>(n - runFirst) * imageSize, imageSize));
    }
    CopyCurrent(buffers.subspan(static_cast<std::size_t>(read) * size, size));
  }
  return room;
}

std::int64_t TDataCursor::RecNo() {
  return RunStep([&] { return Nav().RecNo(); });
}

std::int64_t TDataCursor::RecordCount() {
  return RunStep([&] { return Nav().RecordCount(); });
}

std::int32_t TDataCursor::PhysicalRecordNo() {
  return RunStep([&] { return Nav().PhysicalRecordNo(); });
}

bool TDataCursor::SetRecNo(std::int64_t n) {
  return RunStep([&] {
    const bool reached = Nav().SetRecNo(n);
    ReadCurrentRecord(true);
    return reached;
  });
}

void TDataCursor::GotoPhysical(std::int64_t r) {
  RequireOpen();
  if (!FRecordOrder) return;
  RunStep([&] {
    FRecordNav->GotoPhysical(r);
    ReadCurrentRecord(true);
    return 0;
  });
}

bool TDataCursor::AtBOF() const {
  return !IsOpen() || Nav().Position().AtBOF;
}

bool TDataCursor::AtEOF() const {
  return !IsOpen() || Nav().Position().AtEOF;
}

// --- Keys and ranges ---------------------------------------------------------------------

bool TDataCursor::FindKey(bool keyIsBuilt, std::span<const std::uint8_t> keyOrRecord,
                          std::span<std::uint8_t> buffer, int partialLength, bool nearest,
                          int fieldCount) {
  RequireOpen();
  if (FRecordOrder) return false;
  std::vector<std::uint8_t> key(static_cast<std::size_t>(FKeys->KeyLength), 0);
  if (keyIsBuilt) {
    std::copy_n(keyOrRecord.begin(), std::min(keyOrRecord.size(), key.size()), key.begin());
  } else {
    key = BuildKeyOf(keyOrRecord);
  }
  return RunStep([&] {
    const bool found = FIndexNav->FindKey(key, fieldCount, std::max(partialLength, 0), nearest);
    ReadCurrentRecord(true);
    if (!buffer.empty()) CopyCurrent(buffer);
    return found;
  });
}

void TDataCursor::SetRange(bool keyIsBuilt, std::span<const std::uint8_t> startKeyOrRecord,
                           int startFieldCount, std::span<const std::uint8_t> endKeyOrRecord,
                           int endFieldCount) {
  RequireOpen();
  if (FRecordOrder) return;
  const auto limit = [&](std::span<const std::uint8_t> given) {
    if (given.empty() || keyIsBuilt) return std::vector<std::uint8_t>(given.begin(), given.end());
    return BuildKeyOf(given);
  };
  const std::vector<std::uint8_t> start = limit(startKeyOrRecord);
  const std::vector<std::uint8_t> end = limit(endKeyOrRecord);
  ChangeRange([&] { FIndexNav->SetRangeLimits(start, startFieldCount, end, endFieldCount); });
}

void TDataCursor::CancelRange() {
  RequireOpen();
  if (FRecordOrder) return;
  ChangeRange([&] { FIndexNav->ClearRangeLimits(); });
}

template <typename TChange>
void TDataCursor::ChangeRange(TChange change) {
  RunStep([&] {
    TakeReadLockNow();
    TIndexNavigator::TRangeState before = FIndexNav->SaveRange();
    try {
      change();
      Resynchronise();
    } catch (...) {
      FIndexNav->RestoreRange(std::move(before));
      FStale = true;
      throw;
    }
    ReadCurrentRecord(true);
    return 0;
  });
}

bool TDataCursor::OutsideRange(const std::vector<std::uint8_t>& key) const {
  if (!RangeActive()) return false;
  return CompareKeys(*FKeys, key.data(), FIndexNav->RangeStart().data()) < 0 ||
         CompareKeys(*FKeys, key.data(), FIndexNav->RangeEnd().data()) > 0;
}

bool TDataCursor::RangeActive() const {
  return FIndexNav != nullptr && FIndexNav->RangeActive();
}

std::int64_t TDataCursor::RangeFirst() const {
  return FIndexNav != nullptr ? FIndexNav->RangeFirst() : 1;
}

std::int64_t TDataCursor::RangeLast() const {
  if (FIndexNav != nullptr) return FIndexNav->RangeLast();
  return FTable != nullptr ? FTable->Index().LiveRecordCount() : 0;
}

// --- Filter state ----------------------------------------------------------------------

void TDataCursor::FilterStateChanged(bool anyFilterActive) {
  RequireOpen();
  RunStep([&] {
    TakeReadLockNow();
    FFiltersActive = anyFilterActive;
    FFiltered = FRecordOrder || anyFilterActive;
    if (FIndexNav) FIndexNav->SetVisible(FFiltered ? &FVisible : nullptr);
    try {
      Resynchronise();
    } catch (...) {
      FStale = true;
      throw;
    }
    ReadCurrentRecord(true);
    return 0;
  });
}

// --- Bookmarks -------------------------------------------------------------------------

int TDataCursor::BookmarkSize() const {
  return Nav().BookmarkSize();
}

std::vector<std::uint8_t> TDataCursor::GetBookmark() {
  return RunStep([&] { return Nav().Bookmark(); });
}

bool TDataCursor::GotoBookmark(std::span<const std::uint8_t> bookmark, bool keepCracks) {
  return RunStep([&] {
    const bool reached = Nav().GotoBookmark(bookmark, keepCracks);
    ReadCurrentRecord(true);
    return reached;
  });
}

int TDataCursor::CompareBookmarks(std::span<const std::uint8_t> a,
                                  std::span<const std::uint8_t> b) const {
  return Nav().CompareBookmarks(a, b);
}

// --- Re-synchronisation ------------------------------------------------------------------

void TDataCursor::Resync() {
  RunStep([&] {
    if (FRecordOrder) {
      FRecordNav->GotoPhysical(FRecordNav->PhysicalRecordNo());
    } else {
      const std::vector<std::uint8_t> key = BuildKeyOf(FRecord);
      FIndexNav->SearchKey(key.data(), true, true);
    }
    ReadCurrentRecord(true);
    return 0;
  });
}

void TDataCursor::Refresh() {
  RunStep([&] {
    TakeReadLockNow();
    const TChangeCounters now = CurrentCounters();
    Resynchronise();
    FChangeReported = false;
    if (ChecksChanges()) FCounters = now;
    ReadCurrentRecord(true);
    return 0;
  });
}

std::uint16_t TDataCursor::SyncToCursor(TDataCursor& other) {
  RequireOpen();
  other.RequireOpen();
  if (other.FTable != FTable) return codes::kRecordNotFound;
  const std::int32_t recordNo = other.PhysicalRecordNo();
  const std::vector<std::uint8_t> record(other.FRecord);
  if (recordNo == 0) return codes::kRecordNotFound;
  return RunStep([&]() -> std::uint16_t {
    bool found = false;
    if (FRecordOrder) {
      found = static_cast<std::uint32_t>(recordNo) <= FVisible.Size() &&
              FVisible.IsSet(static_cast<std::uint32_t>(recordNo));
      if (found) FRecordNav->GotoPhysical(recordNo);
    } else {
      // A record outside the range is not here: the search would jump to the range's edge,
      // but a failed sync leaves the cursor where it was.
      const std::vector<std::uint8_t> key = BuildKeyOf(record);
      found = !OutsideRange(key) && FIndexNav->SearchKey(key.data(), false, false);
    }
    if (found) ReadCurrentRecord(true);
    return found ? 0 : codes::kRecordNotFound;
  });
}

}  // namespace kura
