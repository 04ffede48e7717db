// Whole-table operations of the cursor: creating, deleting, renaming and emptying a table,
// adding and deleting indexes, sorting a result table and reading the table header.
#include <algorithm>

#include "base/engine_codes.h"
#include "engine/cursor_position.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/data_table.h"
#include "engine/first_error.h"
#include "engine/table_definition_check.h"
#include "engine/text_index_params.h"
#include "engine/text_index_upkeep.h"
#include "storage/ascii_case.h"
#include "storage/file_handler.h"
#include "storage/file_names.h"
#include "storage/index_bulk_build.h"
#include "storage/index_page.h"
#include "storage/index_tree.h"
#include "storage/little_endian.h"

namespace kura {

namespace {

// One index's key buffer and tree, made once for a walk over every record: each key goes
// into the tree at once, or into the batch for a bottom-up build.
struct TSlotKeys {
  int Slot;
  const TKeyFormat& Format;
  TIndexTree Tree;
  std::vector<std::uint8_t> Key;
  TKeyBatch Batch;

  static TSlotKeys For(TIndexFile& index, int slot) {
    const TKeyFormat& format = index.KeyFormat(slot);
    return {slot, format, index.Tree(slot),
            std::vector<std::uint8_t>(static_cast<std::size_t>(format.KeyLength)),
            TKeyBatch(format.KeyLength)};
  }

  // False when the tree already holds the key (a unique index).
  bool Take(std::span<const std::uint8_t> image, std::int32_t n, bool bulk) {
    BuildKey(Format, image, Key);
    if (bulk) {
      Batch.Add(Key.data(), n);
      return true;
    }
    return Tree.Insert(Key.data(), n);
  }
};

}  // namespace

// --- Access rules -----------------------------------------------------------------------

void TDataCursor::RequireExclusive() const {
  if (!FExclusive) Raise(codes::kExclusiveRequired);
}

void TDataCursor::RequireWritableTable() const {
  if (FReadOnly || FReadOnlyFiles) Raise(codes::kAccessDenied);
}

// --- Header of a closed table ----------------------------------------------------------------

std::array<std::uint8_t, kDataHeaderSize> TDataCursor::ReadClosedTableHeader(bool checkPassword) {
  const bool inMemory = FInMemory || FDirectory.IsInMemory();
  TFileHandler file(FDirectory.Session().Files());
  file.SetFileName(FDirectory.TableFileName(FTableName, kDataExtension));
  file.SetInMemory(inMemory);
  if (!file.FileExists()) Raise(codes::kTableNotFound);
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  try {
    file.Open();
    file.Seek(kSeekFromStart, 0);
    file.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()), true);
    file.Close();
  } catch (const EKuraEngineError& error) {
    RethrowNamed(error, true);
  }
  const TDataHeader header = DecodeDataHeader(bytes);
  if (header.Version != kDataFileVersion) {
    bytes.fill(0);
    bytes[kVersionOffset] = header.Version;
    return bytes;
  }
  if (checkPassword && header.Encrypted == 1) RequirePassword(HeaderPassword(header));
  return bytes;
}

std::array<std::uint8_t, kDataHeaderSize> TDataCursor::GetTableHeader() {
  if (!IsOpen()) return ReadClosedTableHeader(true);
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(FTable->Data().Header(), bytes);
  return bytes;
}

// --- Creating, deleting, renaming ------------------------------------------------------------

void TDataCursor::CreateTable(const TTableDefinition& definition, bool overwrite,
                              std::int32_t lastAutoInc, const TTextIndexParams* textParams) {
  RequireExclusive();
  RequireWritableTable();
  TTableDefinition checked = definition;
  CheckTableDefinition(FTableName, checked, lastAutoInc);
  checked.Settings.Password = std::string(TrimAsciiBlanks(checked.Settings.Password));
  const bool inMemory = FInMemory || FDirectory.IsInMemory();
  if (!overwrite && FDirectory.Session().Files().ListedFileExists(
                        FDirectory.TableFileName(FTableName, kDataExtension), inMemory))
    Raise(codes::kTableExists);
  Close();
  TDataTable& table = FDirectory.CreateTable(FTableName, inMemory, checked, overwrite, FTemporary);
  TFirstError errors;
  errors.Try([&] {
    if (lastAutoInc > 0) table.Data().SetLastAutoInc(lastAutoInc);
    table.FlushBuffers();
  });
  errors.Try([&] { FDirectory.CloseTable(table); });
  errors.RaiseIfAny();
  if (textParams == nullptr) return;
  // The text parameters go onto the index file's parameter pages, which the cursor writes
  // when it closes.
  if (checked.Settings.Encrypted) FDirectory.Session().AddPassword(checked.Settings.Password);
  Open();
  errors.Try([&] { SetTextIndexParams(*textParams); });
  errors.Try([&] { Close(); });
  errors.RaiseIfAny();
}

void TDataCursor::DeleteTable() {
  RequireClosed();
  ReadClosedTableHeader(true);
  FDirectory.DeleteTable(FTableName, FInMemory);
}

void TDataCursor::RenameTable(std::string_view newName) {
  RequireClosed();
  ReadClosedTableHeader(true);
  FDirectory.RenameTable(FTableName, newName, FInMemory);
}

namespace {

// Below this many record slots keys go in one by one; from it on the tree is built bottom-up
// from the sorted keys, which writes each page once. The keys are held in memory for that,
// so a build whose keys would take more than kBulkBuildMaxBytes goes key by key as well.
constexpr std::int32_t kBulkBuildMinRecords = 256;
constexpr std::int64_t kBulkBuildMaxBytes = std::int64_t{256} << 20;

// Besides its bytes each key takes its record number, its place in the sort order and a
// sort entry.
constexpr std::int64_t kBulkBytesPerKey = 24;

// Whether indexes whose keys take keyLengths bytes per record (all together) are built
// bottom-up over that many records.
bool BuildsBottomUp(std::int32_t records, std::int64_t keyLengths, int indexes = 1) {
  const std::int64_t perRecord = keyLengths + kBulkBytesPerKey * indexes;
  return records >= kBulkBuildMinRecords && records * perRecord <= kBulkBuildMaxBytes;
}

}  // namespace

// --- Emptying and sorting --------------------------------------------------------------------

void TDataCursor::RestartAt(int indexNo) {
  FStale = false;
  LoadIndex(indexNo);
  Nav().First();
  std::fill(FRecord.begin(), FRecord.end(), std::uint8_t{0});
  FCounters = CurrentCounters();
}

void TDataCursor::EmptyTable() {
  RequireOpen();
  RequireExclusive();
  RequireWritableTable();
  // The parameters live on pages the emptied index file loses: they are written again.
  TextIndexParams();
  FTable->EmptyTable();
  FTextParamsChanged = true;
  RestartAt(FIndexNo);
}

void TDataCursor::SortTable(TSortSpec spec) {
  RequireOpen();
  RequireExclusive();
  TIndexFile& index = FTable->Index();
  const bool resultTable = index.NoPrimaryIndex() && index.SecondaryCount() == 0 &&
                           index.ReadIndexDescriptor(kSysTextSlot).KeyFieldCount == 0;
  if (!resultTable) return;
  spec.RunDirectory = FDirectory.Session().GetPrivateDir();
  TDataFile& data = FTable->Data();
  const std::int32_t written = SortRecords(data, spec);
  // Every record has a new RowId and number: "Sys Deleted" is built again, one live key
  // per record.
  FreeIndexPages(kSysDeletedSlot);
  index.SetLiveRecordCount(written);
  // The keys come in ascending order: the tree is built bottom-up as they come, in memory
  // bounded by its height.
  TTreeAppender tree(index.Store(kSysDeletedSlot), index.PageFormat(kSysDeletedSlot));
  std::array<std::uint8_t, kSysDeletedKeyLength> key{};
  for (std::int32_t n = 1; n <= written; ++n) {  // key[0] stays 0: every record is live
    PutRowIdSuffix(key.data() + 1, n);
    tree.Add(key.data(), n);
  }
  tree.Finish();
  FTable->FlushBuffers();
  RestartAt(FIndexNo);
}

// --- Indexes -------------------------------------------------------------------------------

// Frees the pages of an index, children before their parents, and leaves it empty.
void TDataCursor::FreeIndexPages(int slot) {
  TIndexFile& index = FTable->Index();
  struct TPending {
    std::int32_t PageNo;
    bool ChildrenDone;
  };
  std::vector<TPending> stack;
  if (index.RootPage(slot) != 0) stack.push_back({index.RootPage(slot), false});
  std::size_t visited = 0;
  while (!stack.empty()) {
    if (++visited > static_cast<std::size_t>(index.NextPageNo()) * 2)
      Raise(codes::kIndexPagesCorrupt);  // a tree that loops
    const TPending pending = stack.back();
    TPage* page = index.GetPage(slot, pending.PageNo);
    if (!pending.ChildrenDone && !page->IsLeaf()) {
      stack.back().ChildrenDone = true;
      for (int pos = page->Count(); pos >= 1; --pos)
        stack.push_back({page->ChildOrRecord(pos), false});
      index.ReleasePage(slot, page);
      continue;
    }
    stack.pop_back();
    index.FreePage(slot, page);
    index.ReleasePage(slot, page);
  }
  index.Store(slot).SetRootPage(0);
}

void TDataCursor::BuildIndex(int slot) {
  TDataFile& data = FTable->Data();
  TIndexFile& index = FTable->Index();
  const bool bulk = BuildsBottomUp(data.RecordCount(), index.KeyFormat(slot).KeyLength);
  TSlotKeys keys = TSlotKeys::For(index, slot);
  for (std::int32_t n = 1; n <= data.RecordCount(); ++n) {
    TRecord* record = data.GetRecord(n);
    const bool live = !IsDeleted(record->Image);
    const bool taken = !live || keys.Take(record->Image, n, bulk);
    data.ReleaseRecord(record);
    if (!taken) RaiseDuplicate(slot);
  }
  if (bulk) BuildSlotFromKeys(slot, keys.Batch);
}

void TDataCursor::BuildSlotFromKeys(int slot, const TKeyBatch& batch) {
  TIndexFile& index = FTable->Index();
  if (!BuildTreeFromKeys(index.Store(slot), index.KeyFormat(slot), index.PageFormat(slot), batch))
    RaiseDuplicate(slot);
}

void TDataCursor::AddIndex(const TIndexDefinition& definition) {
  RequireOpen();
  RequireExclusive();
  RequireWritableTable();
  // Whatever the table still holds in its caches goes first, so that a failed build can
  // drop the index file's caches without losing anything else.
  FTable->FlushBuffers();
  TIndexFile& index = FTable->Index();
  const TIndexHeader before = index.Header();
  const int slot = index.AddSecondaryIndex(definition);
  TFirstError errors;
  errors.Try([&] {
    BuildIndex(slot);
    // The pages reach the file before the header that names them.
    FTable->FlushBuffers();
  });
  if (errors.Failed()) {
    // A half-built index would be trusted by every later lookup: the index file goes back
    // to its header from before, written now or by the next flush that succeeds.
    index.RestoreHeader(before);
    TFirstError ignored;
    ignored.Try([&] { FTable->FlushBuffers(); });
  }
  errors.Try([&] { RestartAt(FIndexNo); });
  errors.RaiseIfAny();
}

void TDataCursor::RebuildIndexes() {
  RequireClosed();
  RequireExclusive();
  RequireWritableTable();
  // The table is taken without the cursor's navigation, which would read the pages about
  // to be replaced.
  TDataTable& table = FDirectory.OpenTable(FTableName, FInMemory, true, FTemporary);
  FTable = &table;
  TFirstError errors;
  errors.Try([&] {
    if (table.Data().Encrypted()) RequirePassword(table.Data().Password());
    RebuildIndexFile();
  });
  errors.Try([&] {
    if (FTextParamsChanged) WriteBackTextIndexParams();
  });
  FTextParams.reset();
  FTextParamsChanged = false;
  FTable = nullptr;
  errors.Try([&] { FDirectory.CloseTable(table); });
  errors.RaiseIfAny();
}

void TDataCursor::RebuildIndexFile(const std::function<void()>& redefine, bool keepBackup) {
  try {
    TextIndexParams();
  } catch (const EKuraEngineError&) {
    // Damaged parameter pages: the defaults take their place.
    FTextParams = DefaultTextIndexParams();
  }
  FTable->FlushBuffers();
  TIndexFile& index = FTable->Index();
  const std::string backup = FDirectory.TableFileName(FTableName, kIndexBackupExtension);
  index.CopyToFile(backup, false, 0, nullptr, nullptr);
  TFirstError errors;
  errors.Try([&] {
    index.EmptyIndexFile();
    if (redefine) redefine();
    InsertEveryKey();
    // Their pages went with the rest. They are written with the keys, so that a failure
    // writing them puts the old file back too.
    StoreTextIndexParams(index, *FTextParams, FTableName);
    FTable->FlushBuffers();
  });
  if (errors.Failed()) {
    // The copy goes only once it is back in place: else it is the table's last good index.
    TFirstError restore;
    // The copy takes the index file's place by a rename, which writes nothing: it works
    // also when the failure was a full disk.
    restore.Try([&] {
      TFileList& files = FDirectory.Session().Files();
      const std::string name = index.FileName();
      index.DiscardPages();
      index.Close();
      for (const TFileStatus status : {files.DeleteListedFile(name, index.InMemory()),
                                       files.RenameListedFile(backup, index.InMemory(), name)}) {
        if (!status.Ok()) RaiseTableErrorWithOSError(status.Code, FTableName, status.OSError);
      }
    });
    // The index file is opened again whatever happened, so that the table can be closed.
    restore.Try([&] {
      if (!index.IsOpen()) index.Open();
    });
    FTextParamsChanged = false;
  } else if (!keepBackup) {
    // A copy that will not go is only clutter: its failure is not the rebuild's.
    FDirectory.Session().Files().DeleteListedFile(backup, index.InMemory());
  }
  errors.RaiseIfAny();
}

// Every record's keys into the emptied index file: "Sys Deleted" for every slot, the
// primary and secondary indexes and the text index for the live ones.
void TDataCursor::InsertEveryKey() {
  TDataFile& data = FTable->Data();
  TIndexFile& index = FTable->Index();
  std::vector<TSlotKeys> slots;
  std::vector<int> slotNumbers = KeySlots();
  slotNumbers.push_back(kSysDeletedSlot);
  std::int64_t keyLengths = 0;
  for (const int slot : slotNumbers) keyLengths += index.KeyFormat(slot).KeyLength;
  const bool bulk =
      BuildsBottomUp(data.RecordCount(), keyLengths, static_cast<int>(slotNumbers.size()));
  for (const int slot : slotNumbers) {
    slots.push_back(TSlotKeys::For(index, slot));
  }
  TSlotKeys& deleted = slots.back();
  const bool textIndex = index.ReadIndexDescriptor(kSysTextSlot).KeyFieldCount > 0;
  std::vector<std::uint8_t> image;
  for (std::int32_t n = 1; n <= data.RecordCount(); ++n) {
    {
      TRecord* record = data.GetRecord(n);
      image.assign(record->Image.begin(), record->Image.end());
      data.ReleaseRecord(record);
    }
    if (!deleted.Take(image, n, bulk)) RaiseDuplicate(deleted.Slot);
    if (IsDeleted(image)) continue;
    index.IncLiveRecordCount();
    for (std::size_t i = 0; i + 1 < slots.size(); ++i)
      if (!slots[i].Take(image, n, bulk)) RaiseDuplicate(slots[i].Slot);
    if (textIndex) {
      const TTextIndexChange words =
          TextIndexChange({}, RecordWords(*FTable, *FTextParams, image, nullptr), false);
      ApplyTextIndexChange(*FTable, words, RowId(image), RowId(image), n);
    }
  }
  if (!bulk) return;
  for (const TSlotKeys& keys : slots) BuildSlotFromKeys(keys.Slot, keys.Batch);
}

void TDataCursor::DeleteIndexNo(int indexNo) {
  RequireOpen();
  RequireExclusive();
  RequireWritableTable();
  TIndexFile& index = FTable->Index();
  if (indexNo < 1 || indexNo > index.SecondaryCount())
    RaiseEngineError(codes::kInvalidIndexName, {}, {}, FDirectory.DatabaseName(), FTableName, {},
                     std::to_string(indexNo));
  // The cursor leaves the index before its pages go.
  RestartAt(kPrimaryIndexSlot);
  FreeIndexPages(indexNo);
  // Its pages stay with the file: the "Sys Deleted" index, which every table has, takes them.
  index.HandOverFreePages(indexNo, kSysDeletedSlot);
  index.DeleteIndex(indexNo);
  FTable->FlushBuffers();
  RestartAt(kPrimaryIndexSlot);
}

void TDataCursor::DeleteIndex(std::string_view name) {
  RequireOpen();
  const std::string_view trimmed = TrimAsciiBlanks(name);
  const int slot = trimmed.empty() ? -1 : FTable->Index().FindIndexName(trimmed);
  if (slot < 1 || slot > FTable->Index().SecondaryCount())
    RaiseEngineError(codes::kInvalidIndexName, {}, {}, FDirectory.DatabaseName(), FTableName, {},
                     trimmed);
  DeleteIndexNo(slot);
}

}  // namespace kura
