// Opening, closing, settings, clones, the field list and the index definitions of a cursor.
#include "engine/data_cursor.h"

#include <algorithm>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/cursor_page_store.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/index_navigator.h"
#include "engine/record_order_navigator.h"
#include "engine/text_index_params.h"
#include "storage/ascii_case.h"
#include "storage/field_types.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// The bare table name: no directory part, no extension, at most 255 characters.
std::string BareTableName(std::string_view name) {
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name.substr(0, kMaxCursorTableName));
}

}  // namespace

TDataCursor::TDataCursor(TDataDirectory& directory) : FDirectory(directory) {}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (const EKuraEngineError&) {
    // Nothing can be raised from a destructor; Close released the table regardless.
  }
}

void TDataCursor::Raise(std::uint16_t code) const {
  RaiseEngineError(code, {}, {}, FDirectory.DatabaseName(), FTableName);
}

void TDataCursor::RaiseError(std::uint16_t code, std::string_view text) const {
  if (code == 0) return;
  RaiseEngineError(code, {}, {}, FDirectory.DatabaseName(), FTableName, {}, {}, text);
}

void TDataCursor::RaiseFieldError(std::uint16_t code, std::string_view fieldName) const {
  if (code == 0) return;
  RaiseEngineError(code, {}, {}, FDirectory.DatabaseName(), FTableName, fieldName);
}

void TDataCursor::RequireClosed() const {
  if (IsOpen()) Raise(codes::kTableInUse);
}

void TDataCursor::SetWhileClosed(bool& setting, bool value) {
  if (value == setting) return;
  RequireClosed();
  setting = value;
}

void TDataCursor::RequireOpen() const {
  if (!IsOpen()) Raise(codes::kNoCurrentRecord);
}

// --- Settings --------------------------------------------------------------------------

void TDataCursor::SetTableName(std::string_view name) {
  std::string bare = BareTableName(name);
  if (bare == FTableName) return;
  RequireClosed();
  FTableName = std::move(bare);
}

void TDataCursor::SetExclusive(bool value) {
  SetWhileClosed(FExclusive, value);
}

void TDataCursor::SetReadOnly(bool value) {
  if (value == FReadOnlyRequested) return;
  RequireClosed();
  FReadOnlyRequested = value;
  FReadOnly = value;
}

void TDataCursor::SetInMemory(bool value) {
  SetWhileClosed(FInMemory, value);
}

void TDataCursor::SetSharedFromExclusive(bool value) {
  SetWhileClosed(FSharedFromExclusive, value);
}

void TDataCursor::SetTemporary(bool value) {
  SetWhileClosed(FTemporary, value);
}

void TDataCursor::SetSqlSource(bool value) {
  SetWhileClosed(FSqlSource, value);
}

// --- Opening and closing ---------------------------------------------------------------

void TDataCursor::Open() {
  if (IsOpen()) return;
  FFields.clear();
  try {
    FTable =
        &FDirectory.OpenTable(FTableName, FInMemory, FExclusive, FTemporary, FSharedFromExclusive);
  } catch (const EKuraEngineError& error) {
    RethrowNamed(error, true);
  }
  try {
    OpenSteps();
  } catch (...) {
    TFirstError ignored;
    ignored.Try([this] { Close(); });
    try {
      throw;
    } catch (const EKuraEngineError& error) {
      RethrowNamed(error);
    }
  }
}

void TDataCursor::OpenSteps() {
  FReadOnly = FReadOnlyRequested || FTable->ReadOnly() || FTable->ReadOnlyAttribute();
  FReadOnlyFiles = FTable->ReadOnlyAttribute();
  // The structure of the three files was checked under the read lock when the table object
  // was opened for the first cursor of the process.
  if (FTable->Data().Encrypted()) RequirePassword(FTable->Data().Password());
  LoadFields();
  if (FTable->NeedsSysDeletedRebuild()) RebuildSysDeleted();
  // Everything read from here on is read under the read lock, which re-reads the headers.
  const bool took = !FTable->ReadLocked() && ChecksChanges();
  if (took) FTable->AcquireReadLock();
  TFirstError errors;
  errors.Try([this] {
    FCounters = CurrentCounters();
    FDeletedStore = std::make_unique<TCursorPageStore>(FTable->Index().Store(kSysDeletedSlot),
                                                       *this, kSysDeletedSlot);
    LoadIndex(FSqlSource ? kRecordOrderIndexNo : kPrimaryIndexSlot);
    Nav().First();
    ReadCurrentRecord(true);
  });
  if (took && FTable->ReadLocked()) errors.Try([this] { FTable->ReleaseReadLock(); });
  errors.RaiseIfAny();
}

void TDataCursor::RequirePassword(const std::string& password) {
  TDataSession& session = FDirectory.Session();
  for (int asked = 0; !session.HasPassword(password); ++asked) {
    if (!FPasswordHook || asked >= kMaxPasswordAsks || !FPasswordHook(*this))
      Raise(codes::kPasswordRequired);
  }
}

void TDataCursor::LoadFields() {
  ForgetCalculatedFields();
  TDataFile& data = FTable->Data();
  FRecordSize = data.RecordSize();
  FRecord.assign(FRecordSize, 0);
  const std::string origin =
      FDirectory.IsInMemory() ? FDirectory.DatabaseName() : FDirectory.Path();
  FHasAutoInc = FHasChecks = FHasDefaults = false;
  for (const TFieldDescriptor& descriptor : data.Descriptors()) {
    TCursorField field;
    field.Descriptor = descriptor;
    field.QualifiedName =
        (FTable->TableName() + "." + descriptor.FieldName).substr(0, kMaxQualifiedFieldName);
    field.Origin = origin;
    FHasAutoInc = FHasAutoInc || descriptor.FieldSubType == kSubTypeAutoInc;
    FHasChecks = FHasChecks || descriptor.Required || !descriptor.MinValue.empty() ||
                 !descriptor.MaxValue.empty();
    FHasDefaults = FHasDefaults || !descriptor.DefaultValue.empty();
    FFields.push_back(std::move(field));
  }
}

void TDataCursor::RebuildSysDeleted() {
  // The index file was lost and made afresh: "Sys Deleted" and the live record count come
  // back from the records themselves.
  FTable->AcquireWriteLock();
  TFirstError errors;
  errors.Try([this] {
    TDataFile& data = FTable->Data();
    TIndexFile& index = FTable->Index();
    TIndexTree tree = index.Tree(kSysDeletedSlot);
    const TKeyFormat& keys = index.KeyFormat(kSysDeletedSlot);
    std::vector<std::uint8_t> key(static_cast<std::size_t>(keys.KeyLength));
    for (std::int32_t n = 1; n <= data.RecordCount(); ++n) {
      TRecord* record = data.GetRecord(n);
      const bool live = !IsDeleted(record->Image);
      BuildKey(keys, record->Image, key);
      data.ReleaseRecord(record);
      if (live) index.IncLiveRecordCount();
      tree.Insert(key.data(), n);
    }
    FTable->FlushBuffers();
    FTable->SysDeletedRebuilt();
  });
  errors.Try([this] { FTable->ReleaseWriteLock(); });
  errors.RaiseIfAny();
}

void TDataCursor::Close() {
  if (!IsOpen()) return;
  FIndexNav.reset();
  FRecordNav.reset();
  FStore.reset();
  FDeletedStore.reset();
  DropBitmaps();
  FFilters.clear();
  FFiltered = false;
  FFiltersActive = false;
  FStale = false;
  FBlobs.reset();
  TFirstError errors;
  // Every lock this cursor took goes with it (also one an explicit LockRecord of another
  // record left behind its edit lock).
  if (TakesRecordLocks()) errors.Try([this] { FTable->UnlockRecordsOf(this); });
  FLockedRecNo = 0;
  FOptimisticConflict = false;
  FKeepRowIds = false;
  if (FTookWriteLock) errors.Try([this] { EndWrite(); });
  if (FTextParamsChanged) errors.Try([this] { WriteBackTextIndexParams(); });
  FTextParams.reset();
  FTextParamsChanged = false;
  if (FTookReadLock && FTable->ReadLocked()) errors.Try([this] { FTable->ReleaseReadLock(); });
  FTookReadLock = false;
  FReadDepth = 0;
  TDataTable* table = FTable;
  FTable = nullptr;
  errors.Try([&] {
    try {
      FDirectory.CloseTable(*table);
    } catch (const EKuraEngineError& error) {
      RethrowNamed(error, true);
    }
  });
  ForgetCalculatedFields();
  FFields.clear();
  FRecord.clear();
  FRecordSize = 0;
  FKeys.reset();
  FIndexNo = 0;
  FIndexName.clear();
  FRecordOrder = false;
  FReadOnlyFiles = false;
  FReadOnly = FReadOnlyRequested;
  FCounters = {};
  errors.RaiseIfAny();
}

std::unique_ptr<TDataCursor> TDataCursor::Clone() {
  RequireOpen();
  auto clone = std::make_unique<TDataCursor>(FDirectory);
  clone->FTableName = FTableName;
  clone->FInMemory = FInMemory;
  clone->FReadOnlyRequested = clone->FReadOnly = FReadOnlyRequested;
  clone->FSqlSource = FSqlSource;
  clone->FTemporary = FTemporary;
  clone->FSharedFromExclusive = FExclusive || FSharedFromExclusive;
  clone->FPasswordHook = FPasswordHook;
  clone->Open();
  CloneCalculatedFields(*clone);
  clone->SetIndexNo(FIndexNo);
  if (RangeActive()) {
    clone->SetRange(true, FIndexNav->RangeStart(), 0, FIndexNav->RangeEnd(), 0);
  }
  CloneFilters(*clone);
  const TCursorPosition& here = Nav().Position();
  if (here.Empty() || here.AtBOF) {
    clone->First();
  } else if (here.AtEOF) {
    clone->Last();
  } else {
    clone->GotoBookmark(GetBookmark(), false);
  }
  return clone;
}

// --- Text-index parameters --------------------------------------------------------------

const TTextIndexParams& TDataCursor::TextIndexParams() {
  RequireOpen();
  if (!FTextParams) {
    BeginRead();
    try {
      // Under the read lock even in lazy change detection: the pages come from the file.
      const bool held = FTable->ReadLocked();
      if (ChecksChanges() && !held) {
        FTable->AcquireReadLock();
        FTookReadLock = FTookReadLock || FTable->ReadLocked();
      }
      FTextParams = LoadTextIndexParams(FTable->Index(), FTableName);
    } catch (...) {
      TFirstError ignored;
      ignored.Try([this] { EndRead(); });
      throw;
    }
    EndRead();
  }
  return *FTextParams;
}

void TDataCursor::SetTextIndexParams(TTextIndexParams params) {
  RequireOpen();
  if (FReadOnly) Raise(codes::kAccessDenied);
  FTextParams = std::move(params);
  FTextParamsChanged = true;
}

void TDataCursor::ReloadTextIndexParams() {
  if (FTextParamsChanged) return;  // a change not yet written back is kept
  FTextParams.reset();
}

void TDataCursor::WriteBackTextIndexParams() {
  FTextParamsChanged = false;
  FTable->AcquireWriteLock();
  TFirstError errors;
  errors.Try([this] {
    StoreTextIndexParams(FTable->Index(), *FTextParams, FTableName);
    FTable->FlushBuffers();
  });
  errors.Try([this] { FTable->ReleaseWriteLock(); });
  errors.RaiseIfAny();
}

// --- Fields ----------------------------------------------------------------------------

const TCursorField& TDataCursor::GetFieldDesc(int fieldNo) const {
  if (fieldNo < 1 || fieldNo > FieldCount())
    RaiseEngineError(codes::kInvalidField, {}, {}, FDirectory.DatabaseName(), FTableName,
                     std::to_string(fieldNo));
  return FFields[static_cast<std::size_t>(fieldNo - 1)];
}

const TCursorField& TDataCursor::GetFieldDesc(std::string_view name) const {
  const std::string_view trimmed = TrimAsciiBlanks(name);
  for (const TCursorField& field : FFields)
    if (EqualsIgnoringAsciiCase(field.Descriptor.FieldName, trimmed)) return field;
  RaiseEngineError(codes::kInvalidField, {}, {}, FDirectory.DatabaseName(), FTableName, name);
}

bool TDataCursor::GetField(int fieldNo, std::span<std::uint8_t> value) const {
  return kura::GetField(FRecord, GetFieldDesc(fieldNo).Descriptor, value);
}

void TDataCursor::SetField(int fieldNo, std::span<std::uint8_t> record, const void* value) const {
  const TCursorField& field = GetFieldDesc(fieldNo);
  if (record.size() < FRecordSize) Raise(codes::kRecordBuffersCorrupt);
  kura::SetField(record, field.Descriptor, value, false, Locale());
  if (!field.Calculated) EvaluateCalculatedFields(record);
}

// --- Index definitions -----------------------------------------------------------------

int TDataCursor::SecondaryIndexCount() const {
  RequireOpen();
  return FTable->Index().SecondaryCount();
}

bool TDataCursor::HasPrimaryIndex() const {
  RequireOpen();
  return !FTable->Index().NoPrimaryIndex();
}

TIndexDescriptor TDataCursor::ReadIndexDescriptor(int indexNo) const {
  RequireOpen();
  if (indexNo < 0 || indexNo >= kIndexSlotCount)
    RaiseEngineError(codes::kInvalidIndexName, {}, {}, FDirectory.DatabaseName(), FTableName, {},
                     std::to_string(indexNo));
  return FTable->Index().ReadIndexDescriptor(indexNo);
}

}  // namespace kura
