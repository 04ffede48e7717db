#include "storage/record_sorter.h"

#include <algorithm>
#include <memory>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/field_types.h"
#include "storage/file_names.h"
#include "storage/index_key.h"
#include "storage/key_order.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// The two comparisons of a sort: whole keys (sorting) and keys without the RowId
// (duplicates).
struct TSortKeys {
  TKeyFormat Full;
  TKeyFormat WithoutRowId;
  std::size_t Length = 0;

  int Compare(const std::uint8_t* a, const std::uint8_t* b) const {
    return CompareKeys(Full, a, b);
  }
  bool SameGroup(const std::uint8_t* a, const std::uint8_t* b) const {
    return CompareKeys(WithoutRowId, a, b) == 0;
  }
  void Build(std::span<const std::uint8_t> image, std::uint8_t* key) const {
    BuildKey(Full, image, std::span<std::uint8_t>(key, Length));
  }
};

[[noreturn]] void RaiseFieldError(std::uint16_t code, const TDataFile& file,
                                  const std::string& field) {
  RaiseEngineError(code, {}, {}, {}, file.FileName(), field);
}

TSortKeys MakeSortKeys(const TDataFile& file, const TSortSpec& spec) {
  if (spec.Fields.size() > kMaxSortFields)
    RaiseTableError(codes::kInvalidFieldDefinition, file.FileName());
  TSortKeys keys;
  TKeyFormat& format = keys.Full;
  format.Kind = TKeyKind::Ordinary;
  format.Unique = false;  // the RowId suffix
  format.CaseInsensitive = spec.CaseInsensitive;
  format.Locale = TTableLocale{static_cast<std::uint16_t>(file.LanguageId()),
                               static_cast<std::uint16_t>(file.SortId())};
  const std::size_t recordSize = file.RecordSize();
  for (const TSortField& sortField : spec.Fields) {
    const TFieldDescriptor& field = sortField.Field;
    if (field.FieldType == kFieldTypeBlob) {
      RaiseFieldError(codes::kInvalidIndexField, file, field.FieldName);
    }
    const bool autoInc = IsAutoIncrement(field.FieldType, field.FieldSubType);
    const bool inside =
        autoInc || (field.FieldOffset >= kRecordHeaderSize &&
                    std::size_t{field.FieldOffset} + 1 + field.PhysicalSize <= recordSize);
    if (field.FieldType == 0 || !inside) {
      RaiseFieldError(codes::kInvalidFieldDefinition, file, field.FieldName);
    }
    format.Parts.push_back(TKeyPart{field, KeySize(field), sortField.Descending});
    keys.Length += static_cast<std::size_t>(KeySize(field)) + 1;
  }
  keys.Length += kRowIdSuffixSize;
  format.KeyLength = static_cast<int>(keys.Length);
  keys.WithoutRowId = format;
  keys.WithoutRowId.KeyLength = format.KeyLength - kRowIdSuffixSize;
  return keys;
}

// One block of records with their keys, sorted by key (ties in block order).
class TSortBlock {
 public:
  TSortBlock(const TSortKeys& keys, std::size_t recordSize)
      : FKeys(keys), FRecordSize(recordSize) {}

  // Takes over `images` (whole records one after the other) and sorts its live records; the
  // caller gets the block's previous buffer back, so no image is copied.
  void Fill(std::vector<std::uint8_t>& images) {
    FImages.swap(images);
    const std::size_t count = FImages.size() / FRecordSize;
    FKeyBytes.resize(count * FKeys.Length);
    FOrder.clear();
    for (std::size_t i = 0; i < count; ++i) {
      const std::span<const std::uint8_t> image(FImages.data() + i * FRecordSize, FRecordSize);
      if (IsDeleted(image)) continue;
      FKeys.Build(image, FKeyBytes.data() + i * FKeys.Length);
      FOrder.push_back(static_cast<std::uint32_t>(i));
    }
    SortKeyIndexes(FOrder, FKeys.Full, [this](std::uint32_t i) { return Key(i); });
  }

  std::size_t Count() const { return FOrder.size(); }
  // The i-th record in key order.
  const std::uint8_t* SortedKey(std::size_t i) const { return Key(FOrder[i]); }
  const std::uint8_t* SortedImage(std::size_t i) const {
    return FImages.data() + FOrder[i] * FRecordSize;
  }

 private:
  const std::uint8_t* Key(std::uint32_t i) const { return FKeyBytes.data() + i * FKeys.Length; }

  const TSortKeys& FKeys;
  std::size_t FRecordSize;
  std::vector<std::uint8_t> FImages;
  std::vector<std::uint8_t> FKeyBytes;
  std::vector<std::uint32_t> FOrder;
};

// A temporary file holding one sorted run: entries of key + image. Closed and deleted when
// it goes, whatever happened.
class TRunFile {
 public:
  TRunFile(TFileList& list, const std::string& directory, bool inMemory, std::size_t entrySize)
      : FFile(list), FEntrySize(entrySize) {
    FFile.SetFileName(
        TemporaryFileName(inMemory ? std::string() : directory, kSortRunExtension, list));
    FFile.SetInMemory(inMemory);
    FFile.SetExclusive(true);
    FFile.CreateFile();
  }
  ~TRunFile() {
    try {
      FFile.Close();
      FFile.DeleteFile();
    } catch (const EKuraEngineError&) {
      // Nothing more can be done about a run file that will not go; the sort's own error,
      // if any, is the one that matters.
    }
  }
  TRunFile(const TRunFile&) = delete;
  TRunFile& operator=(const TRunFile&) = delete;

  // The whole run in one write.
  void Write(const TSortBlock& block, std::size_t recordSize, std::size_t keyLength) {
    std::vector<std::uint8_t> bytes(block.Count() * FEntrySize);
    for (std::size_t i = 0; i < block.Count(); ++i) {
      std::uint8_t* entry = bytes.data() + i * FEntrySize;
      std::copy_n(block.SortedKey(i), keyLength, entry);
      std::copy_n(block.SortedImage(i), recordSize, entry + keyLength);
    }
    FCount = block.Count();
    FFile.Seek(kSeekFromStart, 0);
    if (!bytes.empty()) FFile.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }

  // Rewinds the run and loads its first entry; false when it has none.
  bool Start() {
    FRead = 0;
    FBufferAt = FBufferEnd = 0;
    FFile.Seek(kSeekFromStart, 0);
    return Advance();
  }
  // Loads the next entry; false when the run is used up.
  bool Advance() {
    if (FRead == FCount) return false;
    ++FRead;
    if (FBufferAt + FEntrySize < FBufferEnd) {
      FBufferAt += FEntrySize;
      return true;
    }
    const std::size_t perRead = std::max<std::size_t>(1, kSortRunReadBytes / FEntrySize);
    const std::size_t entries = std::min(perRead, FCount - FRead + 1);
    FBuffer.resize(entries * FEntrySize);
    FFile.ReadBuffer(FBuffer.data(), static_cast<std::int64_t>(FBuffer.size()));
    FBufferAt = 0;
    FBufferEnd = FBuffer.size();
    return true;
  }
  const std::uint8_t* Entry() const { return FBuffer.data() + FBufferAt; }

 private:
  TFileHandler FFile;
  std::size_t FEntrySize;
  std::size_t FCount = 0;
  std::size_t FRead = 0;
  std::vector<std::uint8_t> FBuffer;
  std::size_t FBufferAt = 0;
  std::size_t FBufferEnd = 0;
};

// Writes the sorted records from record 1 on, through a buffer, applying the duplicate mode
// and the maximum.
class TSortOutput {
 public:
  TSortOutput(TDataFile& file, const TSortSpec& spec, const TSortKeys& keys)
      : FFile(file),
        FSpec(spec),
        FKeys(keys),
        FRecordSize(file.RecordSize()),
        FBufferRows(std::max<std::size_t>(1, kMaxWriteRunBytes / FRecordSize)),
        FStopped(spec.MaxRows == 0) {
    FBuffer.reserve(std::min<std::size_t>(FBufferRows, 64) * FRecordSize);
  }

  // Takes the next record in key order; false once the output has stopped.
  bool Add(const std::uint8_t* key, const std::uint8_t* image) {
    if (FStopped) return false;
    switch (FSpec.Duplicates) {
      case TDuplicateMode::Keep:
        Write(std::span<const std::uint8_t>(image, FRecordSize));
        break;
      case TDuplicateMode::Remove:
        if (FHasLast && FKeys.SameGroup(FLastKey.data(), key)) break;
        FLastKey.assign(key, key + FKeys.Length);
        FHasLast = true;
        Write(std::span<const std::uint8_t>(image, FRecordSize));
        break;
      case TDuplicateMode::Combine:
        Combine(key, image);
        break;
    }
    return !FStopped;
  }

  // Finishes the last group and writes what is buffered; answers the records written.
  std::int32_t Finish() {
    if (FHasGroup && !FStopped) FinishGroup();
    FHasGroup = false;
    Flush();
    return static_cast<std::int32_t>(FCount);
  }

 private:
  void Combine(const std::uint8_t* key, const std::uint8_t* image) {
    if (!FHasGroup) {
      FGroup.assign(image, image + FRecordSize);
      StampPosition(FGroup);
      const std::vector<std::uint8_t> itself = FGroup;
      Accumulate(FGroup, itself, true);
      FGroupKey.assign(key, key + FKeys.Length);
      FHasGroup = true;
      return;
    }
    if (FKeys.SameGroup(FGroupKey.data(), key)) {
      Accumulate(FGroup, std::span<const std::uint8_t>(image, FRecordSize), false);
      return;
    }
    std::vector<std::uint8_t> next(image, image + FRecordSize);
    Accumulate(next, FGroup, true);
    FinishGroup();
    if (FStopped) return;
    FGroup = std::move(next);
    StampPosition(FGroup);
    FGroupKey.assign(key, key + FKeys.Length);
  }

  void Accumulate(std::span<std::uint8_t> row, std::span<const std::uint8_t> other,
                  bool initialise) {
    if (FSpec.Callbacks.Accumulate) FSpec.Callbacks.Accumulate(row, other, initialise);
  }

  // The group row is complete: finalised, tested, and written when it stays.
  void FinishGroup() {
    if (FSpec.Callbacks.Finalise) FSpec.Callbacks.Finalise(FGroup);
    if (FSpec.Callbacks.Keep && !FSpec.Callbacks.Keep(FGroup)) return;
    Write(FGroup);
  }

  void StampPosition(std::span<std::uint8_t> image) const {
    const auto position = static_cast<std::int32_t>(FCount + 1);
    SetDeleted(image, false);
    SetRecordNoOrNextFree(image, position);
    SetRowId(image, position);
  }

  void Write(std::span<const std::uint8_t> image) {
    const std::size_t at = FBuffer.size();
    FBuffer.insert(FBuffer.end(), image.begin(), image.end());
    StampPosition(std::span<std::uint8_t>(FBuffer.data() + at, FRecordSize));
    ++FCount;
    if (FBuffer.size() >= FBufferRows * FRecordSize) Flush();
    if (FSpec.MaxRows >= 0 && static_cast<std::int64_t>(FCount) >= FSpec.MaxRows) {
      FStopped = true;
    }
  }

  void Flush() {
    if (FBuffer.empty()) return;
    FFile.WriteRecordImages(static_cast<std::int32_t>(FFlushed + 1), FBuffer);
    FFlushed += FBuffer.size() / FRecordSize;
    FBuffer.clear();
  }

  TDataFile& FFile;
  const TSortSpec& FSpec;
  const TSortKeys& FKeys;
  std::size_t FRecordSize;
  std::size_t FBufferRows;
  std::vector<std::uint8_t> FBuffer;
  std::size_t FCount = 0;    // rows written, buffered or not
  std::size_t FFlushed = 0;  // rows in the file
  bool FStopped;
  std::vector<std::uint8_t> FLastKey;
  bool FHasLast = false;
  std::vector<std::uint8_t> FGroup;
  std::vector<std::uint8_t> FGroupKey;
  bool FHasGroup = false;
};

bool AllRecordsCached(TDataFile& file) {
  return file.RecordCount() > 0 &&
         file.RecordCache().Count() == static_cast<std::size_t>(file.RecordCount());
}

std::int32_t SortInMemory(TDataFile& file, const TSortSpec& spec, const TSortKeys& keys) {
  const std::size_t recordSize = file.RecordSize();
  const auto count = static_cast<std::size_t>(file.RecordCount());
  std::vector<std::uint8_t> images(count * recordSize);
  for (std::size_t i = 0; i < count; ++i) {
    const TRecord* record = file.RecordCache().Peek(static_cast<std::int32_t>(i + 1));
    if (record == nullptr) RaiseTableError(codes::kRecordBuffersCorrupt, file.FileName());
    std::copy(record->Image.begin(), record->Image.end(), images.begin() + i * recordSize);
  }
  file.RecordCache().Discard();
  TSortBlock block(keys, recordSize);
  block.Fill(images);
  TSortOutput output(file, spec, keys);
  for (std::size_t i = 0; i < block.Count(); ++i) {
    if (!output.Add(block.SortedKey(i), block.SortedImage(i))) break;
  }
  return output.Finish();
}

// The runs of the table, each sorted and written to its own file.
std::vector<std::unique_ptr<TRunFile>> WriteRuns(TDataFile& file, const TSortSpec& spec,
                                                 const TSortKeys& keys) {
  const std::size_t recordSize = file.RecordSize();
  std::size_t runRecords = SortRunRecords(recordSize, keys.Length);
  if (spec.RunRecordsLimit > 0) runRecords = std::min(runRecords, spec.RunRecordsLimit);
  std::vector<std::unique_ptr<TRunFile>> runs;
  TSortBlock block(keys, recordSize);
  std::vector<std::uint8_t> images;
  const std::int32_t total = file.RecordCount();
  for (std::int32_t first = 1; first <= total;) {
    const auto count =
        static_cast<std::int32_t>(std::min<std::int64_t>(runRecords, total - first + 1));
    images.resize(static_cast<std::size_t>(count) * recordSize);
    file.CopyRecordImages(first, count, images);
    block.Fill(images);
    if (block.Count() > 0) {
      runs.push_back(std::make_unique<TRunFile>(file.List(), spec.RunDirectory, file.InMemory(),
                                                keys.Length + recordSize));
      runs.back()->Write(block, recordSize, keys.Length);
    }
    first += count;
  }
  return runs;
}

std::int32_t MergeRuns(TDataFile& file, const TSortSpec& spec, const TSortKeys& keys,
                       std::vector<std::unique_ptr<TRunFile>>& runs) {
  // A min-heap of the runs by their current entry; equal keys come from the earlier run, so
  // the merge keeps the table's order among equals. Keys that compare as bytes carry their
  // first 8 bytes as a number, so that most comparisons need no call.
  const bool byPrefix = KeysCompareAsBytes(keys.Full);
  struct THead {
    std::uint64_t Prefix;
    std::size_t Run;
  };
  auto prefixOf = [&](std::size_t run) {
    return byPrefix ? KeyPrefix(runs[run]->Entry(), keys.Length) : 0;
  };
  auto later = [&](const THead& a, const THead& b) {
    if (a.Prefix != b.Prefix) return a.Prefix > b.Prefix;
    const int result = keys.Compare(runs[a.Run]->Entry(), runs[b.Run]->Entry());
    return result != 0 ? result > 0 : a.Run > b.Run;
  };
  std::vector<THead> heap;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i]->Start()) heap.push_back({prefixOf(i), i});
  }
  std::make_heap(heap.begin(), heap.end(), later);
  TSortOutput output(file, spec, keys);
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    TRunFile& run = *runs[heap.back().Run];
    if (!output.Add(run.Entry(), run.Entry() + keys.Length)) break;
    if (run.Advance()) {
      heap.back().Prefix = prefixOf(heap.back().Run);
      std::push_heap(heap.begin(), heap.end(), later);
    } else {
      heap.pop_back();
    }
  }
  return output.Finish();
}

}  // namespace

std::size_t SortRunRecords(std::size_t recordSize, std::size_t keyLength) {
  std::size_t records =
      std::min(kMaxSortRunRecords, kSortRunBytes / std::max<std::size_t>(1, recordSize));
  records = std::min(records, kSortRunBytes / std::max<std::size_t>(1, keyLength));
  return std::max<std::size_t>(1, records);
}

std::int32_t SortRecords(TDataFile& file, const TSortSpec& spec) {
  const TSortKeys keys = MakeSortKeys(file, spec);
  std::int32_t written = 0;
  if (file.RecordCount() == 0) {
    written = 0;
  } else if (AllRecordsCached(file)) {
    written = SortInMemory(file, spec, keys);
  } else {
    file.WriteChangedRecords();
    file.RecordCache().Discard();
    std::vector<std::unique_ptr<TRunFile>> runs = WriteRuns(file, spec, keys);
    written = MergeRuns(file, spec, keys, runs);
  }
  file.CutRecords(written);
  return written;
}

}  // namespace kura
