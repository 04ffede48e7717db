#include "storage/data_file.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/ascii_case.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDay = 25569.0;
constexpr double kSecondsPerDay = 86400.0;

// The local time now as stored in LastUpdated.
double LastUpdatedNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const double localSeconds = static_cast<double>(now) + static_cast<double>(local.tm_gmtoff);
  return kUnixEpochDay + localSeconds / kSecondsPerDay - kLastUpdatedBias;
}

// A length-prefixed text area: the length byte (cut to the area) and the characters.
template <std::size_t N>
std::string TextOfArea(const std::array<std::uint8_t, N>& area) {
  const std::size_t length = std::min<std::size_t>(area[0], N - 1);
  return std::string(reinterpret_cast<const char*>(area.data() + 1), length);
}

// Fills a text area with the text cut to the area, scrambling the characters on request.
template <std::size_t N>
void SetTextArea(std::array<std::uint8_t, N>& area, std::string_view text, bool scramble) {
  area.fill(0);
  const std::size_t length = std::min(text.size(), N - 1);
  area[0] = static_cast<std::uint8_t>(length);
  std::copy_n(text.begin(), length, area.begin() + 1);
  if (scramble) {
    Scramble(std::span<std::uint8_t>(area.data() + 1, length), kTextScrambleLow, kTextScrambleHigh);
  }
}

template <std::size_t N>
std::string UnscrambledText(const std::array<std::uint8_t, N>& area, bool scrambled) {
  std::string text = TextOfArea(area);
  if (scrambled) {
    Scramble(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()),
             kTextScrambleLow, kTextScrambleHigh);
  }
  return text;
}

}  // namespace

// --- Header encoding ---------------------------------------------------------------------

void EncodeDataHeader(const TDataHeader& h, std::span<std::uint8_t, kDataHeaderSize> bytes) {
  std::uint8_t* p = bytes.data();
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  PutI32LE(p + kChangeCountOffset, h.ChangeCount);
  PutU32LE(p + kBlobBlockSizeOffset, h.BlobBlockSize);
  p[kVersionOffset] = h.Version;
  PutI32LE(p + kFirstFreeOffset, h.FirstFree);
  PutI32LE(p + kNextRecordNoOffset, h.NextRecordNo);
  PutI32LE(p + kLastAutoIncOffset, h.LastAutoInc);
  PutU16LE(p + kRecordSizeOffset, h.RecordSize);
  PutU16LE(p + kFieldCountOffset, h.FieldCount);
  PutI16LE(p + kBlobFieldCountOffset, h.BlobFieldCount);
  PutF64LE(p + kLastUpdatedOffset, h.LastUpdated);
  std::copy(h.Description.begin(), h.Description.end(), p + kDescriptionOffset);
  p[kEncryptedOffset] = h.Encrypted;
  std::copy(h.Password.begin(), h.Password.end(), p + kPasswordOffset);
  PutI16LE(p + kLanguageIdOffset, h.LanguageId);
  PutI16LE(p + kSortIdOffset, h.SortId);
  PutI16LE(p + kUserMajorVersionOffset, h.UserMajorVersion);
  PutI16LE(p + kUserMinorVersionOffset, h.UserMinorVersion);
  p[kHeaderChangedOffset] = h.HeaderChanged;
  PutI32LE(p + kLastBlobChangeOffset, h.LastBlobChange);
  PutI64LE(p + kEngineVersionOffset, h.EngineVersion);
  std::copy(h.Reserved.begin(), h.Reserved.end(), p + kReservedOffset);
}

TDataHeader DecodeDataHeader(std::span<const std::uint8_t, kDataHeaderSize> bytes) {
  const std::uint8_t* p = bytes.data();
  TDataHeader h;
  h.ChangeCount = GetI32LE(p + kChangeCountOffset);
  h.BlobBlockSize = GetU32LE(p + kBlobBlockSizeOffset);
  h.Version = p[kVersionOffset];
  h.FirstFree = GetI32LE(p + kFirstFreeOffset);
  h.NextRecordNo = GetI32LE(p + kNextRecordNoOffset);
  h.LastAutoInc = GetI32LE(p + kLastAutoIncOffset);
  h.RecordSize = GetU16LE(p + kRecordSizeOffset);
  h.FieldCount = GetU16LE(p + kFieldCountOffset);
  h.BlobFieldCount = GetI16LE(p + kBlobFieldCountOffset);
  h.LastUpdated = GetF64LE(p + kLastUpdatedOffset);
  std::copy_n(p + kDescriptionOffset, kDescriptionAreaSize, h.Description.begin());
  h.Encrypted = p[kEncryptedOffset];
  std::copy_n(p + kPasswordOffset, kPasswordAreaSize, h.Password.begin());
  h.LanguageId = GetI16LE(p + kLanguageIdOffset);
  h.SortId = GetI16LE(p + kSortIdOffset);
  h.UserMajorVersion = GetI16LE(p + kUserMajorVersionOffset);
  h.UserMinorVersion = GetI16LE(p + kUserMinorVersionOffset);
  h.HeaderChanged = p[kHeaderChangedOffset];
  h.LastBlobChange = GetI32LE(p + kLastBlobChangeOffset);
  h.EngineVersion = GetI64LE(p + kEngineVersionOffset);
  std::copy_n(p + kReservedOffset, kReservedSize, h.Reserved.begin());
  return h;
}

void Scramble(std::span<std::uint8_t> buffer, std::uint8_t low, std::uint8_t high) {
  if ((buffer.size() & 0xFFFF) == 0) return;
  for (std::uint8_t& byte : buffer) {
    byte = static_cast<std::uint8_t>(byte ^ low ^ high);
    ++low;
    --high;
  }
}

// --- TDataFile -------------------------------------------------------------------------------

TDataFile::TDataFile(TFileList& list)
    : TFileHandler(list),
      FRecordPool(kRecordPoolLimit, [] { return std::make_unique<TRecord>(0); }),
      FRecords(FRecordPool,
               TCacheSettings{
                   kRecordChainScan, kRecordCacheGrowth, codes::kRecordBuffersCorrupt, this, {}}) {
  FRecords.SetWriteBack([this](std::span<TRecord* const> run) { WriteRecordRun(run); });
}

TDataFile::~TDataFile() = default;

void TDataFile::Raise(std::uint16_t code) const {
  RaiseTableError(code, FileName());
}

std::int64_t TDataFile::DescriptorsSize() const {
  return static_cast<std::int64_t>(FHeader.FieldCount) *
         static_cast<std::int64_t>(kFieldDescriptorSize);
}

std::int64_t TDataFile::RecordPosition(std::int32_t n) const {
  return static_cast<std::int64_t>(kDataHeaderSize) + DescriptorsSize() +
         (static_cast<std::int64_t>(n) - 1) * FHeader.RecordSize;
}

void TDataFile::CreateDataFile(std::span<const TFieldDescriptor> descriptors,
                               const TDataFileSettings& settings) {
  if (descriptors.size() > kMaxFieldCount) Raise(codes::kFieldLimits);
  std::vector<TFieldDescriptor> fields(descriptors.begin(), descriptors.end());
  const std::size_t blobFields = CountBlobFields(fields);
  if (blobFields > kMaxBlobFieldCount) Raise(codes::kBlobFieldLimits);
  for (TFieldDescriptor& field : fields) field.Computed = false;  // never in a stored table
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!FieldDefinitionIsSound(fields, i)) Raise(codes::kInvalidFieldDefinition);
  }
  const std::size_t recordSize = LayoutFields(fields);
  if (recordSize > kMaxStorableRecordSize) Raise(codes::kRecordSizeExceeded);

  TDataHeader header;
  header.LanguageId = settings.LanguageId;
  header.SortId = settings.SortId;
  header.UserMajorVersion = settings.UserMajorVersion;
  header.UserMinorVersion = settings.UserMinorVersion;
  header.Encrypted = settings.Encrypted ? 1 : 0;
  if (settings.Encrypted) {
    SetTextArea(header.Password, settings.Password, true);
    SetTextArea(header.Description, settings.Description, true);
  } else {
    SetTextArea(header.Description, settings.Description, false);
  }
  header.FieldCount = static_cast<std::uint16_t>(fields.size());
  header.BlobBlockSize = settings.BlobBlockSize & 0xFFFF;
  header.BlobFieldCount = static_cast<std::int16_t>(blobFields);
  header.RecordSize = static_cast<std::uint16_t>(recordSize);

  FRecords.Discard();
  CreateFile();
  FHeader = header;
  FDescriptors = std::move(fields);
  FHeaderChanged = true;
  FDescriptorsChanged = true;
  SizeRecordCache();
}

void TDataFile::Open() {
  if (IsOpen()) return;
  TFileHandler::Open();
  try {
    ReadHeader();
    if (FHeader.Version != kDataFileVersion) Raise(codes::kWrongVersion);
    if (FHeader.FieldCount > kMaxFieldCount) Raise(codes::kHeaderCorrupt);
    if (FHeader.RecordSize < kRecordHeaderSize) Raise(codes::kHeaderCorrupt);
    ReadDescriptors();
    FDescriptorsChanged = false;
    SizeRecordCache();
  } catch (...) {
    FRecords.Discard();
    TFileHandler::Close();
    throw;
  }
}

void TDataFile::Close() {
  FRecords.Discard();
  TFileHandler::Close();
}

void TDataFile::SizeRecordCache() {
  FReadAheadCount = RecordReadAheadCount(FHeader.RecordSize);
  const std::size_t recordSize = FHeader.RecordSize;
  FRecordPool.SetFactory([recordSize] { return std::make_unique<TRecord>(recordSize); });
  FRecords.SetOwnerName(FileName());
  FRecords.SetCapacity(RecordCacheCapacity(recordSize));
}

void TDataFile::ReadDescriptors() {
  std::vector<std::uint8_t> block(static_cast<std::size_t>(DescriptorsSize()));
  BeginAccess();
  try {
    Seek(kSeekFromStart, static_cast<std::int64_t>(kDataHeaderSize));
    ReadBuffer(block.data(), static_cast<std::int64_t>(block.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  if (Encrypted()) Scramble(block, kDataScrambleLow, kDataScrambleHigh);
  std::vector<TFieldDescriptor> fields;
  fields.reserve(FHeader.FieldCount);
  for (std::size_t i = 0; i < FHeader.FieldCount; ++i) {
    fields.push_back(DecodeFieldDescriptor(std::span<const std::uint8_t, kFieldDescriptorSize>(
        block.data() + i * kFieldDescriptorSize, kFieldDescriptorSize)));
  }
  FDescriptors = std::move(fields);
}

void TDataFile::ReadHeader() {
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  BeginAccess();
  try {
    Seek(kSeekFromStart, 0);
    ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  FHeader = DecodeDataHeader(bytes);
  FHeaderChanged = false;
}

bool TDataFile::HeaderChangedOnDisk() {
  const TDataHeader inMemory = FHeader;
  const bool wasChanged = FHeaderChanged;
  ReadHeader();
  if (FHeader.ChangeCount == inMemory.ChangeCount) {
    FHeader = inMemory;
    FHeaderChanged = wasChanged;
    return false;
  }
  if (FHeader.RecordSize != inMemory.RecordSize || FHeader.FieldCount != inMemory.FieldCount) {
    FHeader = inMemory;
    FHeaderChanged = wasChanged;
    Raise(codes::kHeaderCorrupt);
  }
  return true;
}

void TDataFile::WriteHeaderBytes() {
  std::array<std::uint8_t, kDataHeaderSize> bytes{};
  EncodeDataHeader(FHeader, bytes);
  BeginAccess();
  try {
    Seek(kSeekFromStart, 0);
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
}

void TDataFile::PushToDisk(bool flushToDisk) {
  if (flushToDisk || FForceBufferFlush) FlushFile();
}

void TDataFile::FlushHeader(bool force, bool flushToDisk) {
  if (FHeaderChanged || force) {
    ++FHeader.ChangeCount;
    FHeader.EngineVersion = kEngineVersion;
    FHeader.LastUpdated = LastUpdatedNow();
    FHeader.HeaderChanged = FHeaderChanged ? 1 : 0;
    WriteHeaderBytes();
    FHeaderChanged = false;
  }
  if (FDescriptorsChanged) {
    FlushDescriptors(flushToDisk);
    return;
  }
  PushToDisk(flushToDisk);
}

void TDataFile::FlushDescriptors(bool flushToDisk) {
  if (!FDescriptorsChanged) return;
  std::vector<std::uint8_t> block(FDescriptors.size() * kFieldDescriptorSize);
  for (std::size_t i = 0; i < FDescriptors.size(); ++i) {
    EncodeFieldDescriptor(FDescriptors[i],
                          std::span<std::uint8_t, kFieldDescriptorSize>(
                              block.data() + i * kFieldDescriptorSize, kFieldDescriptorSize));
  }
  if (Encrypted()) Scramble(block, kDataScrambleLow, kDataScrambleHigh);
  BeginAccess();
  try {
    Seek(kSeekFromStart, static_cast<std::int64_t>(kDataHeaderSize));
    if (!block.empty()) WriteBuffer(block.data(), static_cast<std::int64_t>(block.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  FDescriptorsChanged = false;
  PushToDisk(flushToDisk);
}

void TDataFile::MarkChanged() {
  ++FHeader.ChangeCount;
  FHeaderChanged = true;
}

void TDataFile::EmptyDataFile() {
  FRecords.Discard();
  BeginAccess();
  try {
    Seek(kSeekFromStart, static_cast<std::int64_t>(kDataHeaderSize) + DescriptorsSize());
    WriteBuffer(nullptr, 0);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  FHeader.ChangeCount = 0;
  FHeader.FirstFree = 0;
  FHeader.NextRecordNo = 1;
  FHeader.LastAutoInc = 0;
  FHeaderChanged = true;
}

// --- Records -------------------------------------------------------------------------------

TRecord* TDataFile::GetRecord(std::int32_t n, TTravel travel, bool readAhead) {
  if (n <= 0 || n > FHeader.NextRecordNo) Raise(codes::kRecordBuffersCorrupt);
  if (n == FHeader.NextRecordNo) return AppendRecord();
  if (TRecord* hit = FRecords.Find(n)) return hit;
  ReadRecordRun(n, travel, readAhead);
  TRecord* record = FRecords.Peek(n);
  if (record == nullptr || record->Number != n) Raise(codes::kRecordBuffersCorrupt);
  return record;
}

TRecord* TDataFile::AppendRecord() {
  const std::int64_t n = FHeader.NextRecordNo;
  const std::int64_t end = static_cast<std::int64_t>(kDataHeaderSize) + DescriptorsSize() +
                           n * static_cast<std::int64_t>(FHeader.RecordSize);
  if (n > kMaxRecordSlots || end > kMaxDataFileSize) Raise(codes::kTableFull);
  TRecord* record = FRecords.MakeEntry(static_cast<std::int32_t>(n));
  // A new slot must reach the file even if its caller never changes it, or the file would
  // end short of NextRecordNo.
  FRecords.MarkChanged(record);
  ++FHeader.NextRecordNo;
  FHeaderChanged = true;
  return record;
}

// Reads the run of records around n in one read and caches what it may; n ends up cached and
// pinned (as the most recent entry).
void TDataFile::ReadRecordRun(std::int32_t n, TTravel travel, bool readAhead) {
  const std::int64_t last = static_cast<std::int64_t>(FHeader.NextRecordNo) - 1;
  const std::int64_t count = readAhead ? static_cast<std::int64_t>(FReadAheadCount) : 1;
  std::int64_t first = n;
  std::int64_t end = n;  // inclusive
  if (travel == TTravel::Forward) {
    end = std::min<std::int64_t>(last, static_cast<std::int64_t>(n) + count - 1);
  } else {
    first = std::max<std::int64_t>(1, static_cast<std::int64_t>(n) - count + 1);
  }
  const std::size_t recordSize = FHeader.RecordSize;
  const auto runLength = static_cast<std::size_t>(end - first + 1);
  // Room for n is made before the read: making room may write changed records back, and the
  // run must see those writes.
  TRecord* target = FRecords.MakeEntry(n);
  std::vector<std::uint8_t> run(runLength * recordSize);
  // Slots appended but not written back yet may lie past the end of the file: the run is
  // read short and only whole records that came back are used. Record n itself must be there.
  std::int64_t got = 0;
  BeginAccess();
  try {
    Seek(kSeekFromStart, RecordPosition(static_cast<std::int32_t>(first)));
    got = ReadBuffer(run.data(), static_cast<std::int64_t>(run.size()), true);
  } catch (...) {
    EndAccess();
    FRecords.Remove(target);
    FRecords.Release(target);
    throw;
  }
  EndAccess();
  end = std::min<std::int64_t>(end, first + got / static_cast<std::int64_t>(recordSize) - 1);
  if (end < n) {
    FRecords.Remove(target);
    FRecords.Release(target);
    Raise(codes::kReadError);
  }
  auto fill = [&](TRecord* record, std::int64_t number) {
    const auto* image = run.data() + static_cast<std::size_t>(number - first) * recordSize;
    std::copy(image, image + recordSize, record->Image.begin());
    if (Encrypted()) Scramble(record->Image, kDataScrambleLow, kDataScrambleHigh);
  };
  fill(target, n);
  // Records cached when the run was read are left as they are: the cache is at least as new as
  // the file, and one of them written back and evicted while room is made below would
  // otherwise come back with the run's older bytes.
  std::vector<bool> cachedAtRead(runLength);
  for (std::int64_t number = first; number <= end; ++number) {
    cachedAtRead[static_cast<std::size_t>(number - first)] =
        FRecords.Peek(static_cast<std::int32_t>(number)) != nullptr;
  }
  for (std::int64_t number = first; number <= end; ++number) {
    if (number == n || cachedAtRead[static_cast<std::size_t>(number - first)]) continue;
    TRecord* other = FRecords.InsertReadAhead(static_cast<std::int32_t>(number));
    if (other == nullptr) break;  // no room without growing: the rest would find none either
    fill(other, number);
  }
  FRecords.Touch(target);
}

void TDataFile::CopyRecordImages(std::int32_t first, std::int32_t count,
                                 std::span<std::uint8_t> images) {
  const std::size_t recordSize = FHeader.RecordSize;
  if (first <= 0 || count <= 0 || static_cast<std::int64_t>(first) + count > FHeader.NextRecordNo ||
      images.size() != static_cast<std::size_t>(count) * recordSize)
    Raise(codes::kRecordBuffersCorrupt);
  std::int64_t got = 0;
  BeginAccess();
  try {
    Seek(kSeekFromStart, RecordPosition(first));
    got = ReadBuffer(images.data(), static_cast<std::int64_t>(images.size()), true);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  // Slots appended but not written back yet lie past the end of the file; they are cached.
  const std::int64_t whole = got / static_cast<std::int64_t>(recordSize);
  const bool lookInCache = FRecords.HasChanges();
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t* image = images.data() + static_cast<std::size_t>(i) * recordSize;
    const TRecord* cached = lookInCache || i >= whole ? FRecords.Peek(first + i) : nullptr;
    if (cached != nullptr) {
      std::copy(cached->Image.begin(), cached->Image.end(), image);
    } else if (i >= whole) {
      Raise(codes::kReadError);
    } else if (Encrypted()) {
      Scramble(std::span<std::uint8_t>(image, recordSize), kDataScrambleLow, kDataScrambleHigh);
    }
  }
}

TRecord* TDataFile::NewRecordSlot() {
  if (FHeader.FirstFree == 0 || !FHasPrimaryIndex) return AppendRecord();
  const std::int32_t n = FHeader.FirstFree;
  if (n < 0 || n >= FHeader.NextRecordNo) Raise(codes::kHeaderCorrupt);
  TRecord* record = GetRecord(n, TTravel::Forward, false);
  const std::int32_t next = RecordNoOrNextFree(record->Image);
  if (!IsDeleted(record->Image) || next < 0 || next >= FHeader.NextRecordNo || next == n) {
    FRecords.Release(record);
    Raise(codes::kHeaderCorrupt);
  }
  FHeader.FirstFree = next;
  FHeaderChanged = true;
  FRecords.MarkChanged(record);
  return record;
}

void TDataFile::DeleteRecordSlot(TRecord* record) {
  SetDeleted(record->Image, true);
  SetRecordNoOrNextFree(record->Image, FHasPrimaryIndex ? FHeader.FirstFree : 0);
  FHeader.FirstFree = record->Number;
  FHeaderChanged = true;
  FRecords.MarkChanged(record);
}

void TDataFile::WriteChangedRecords(bool flushToDisk) {
  FRecords.WriteBack();
  PushToDisk(flushToDisk);
}

void TDataFile::WriteRecordImages(std::int32_t first, std::span<const std::uint8_t> images) {
  const std::size_t recordSize = FHeader.RecordSize;
  if (FRecords.Count() != 0 || first <= 0 || first > FHeader.NextRecordNo ||
      images.size() % recordSize != 0)
    Raise(codes::kRecordBuffersCorrupt);
  if (images.empty()) return;
  std::vector<std::uint8_t> scrambled;
  std::span<const std::uint8_t> bytes = images;
  if (Encrypted()) {
    scrambled.assign(images.begin(), images.end());
    for (std::size_t at = 0; at < scrambled.size(); at += recordSize) {
      Scramble(std::span<std::uint8_t>(scrambled.data() + at, recordSize), kDataScrambleLow,
               kDataScrambleHigh);
    }
    bytes = scrambled;
  }
  BeginAccess();
  try {
    Seek(kSeekFromStart, RecordPosition(first));
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
}

void TDataFile::CutRecords(std::int32_t count) {
  if (FRecords.Count() != 0 || count < 0) Raise(codes::kRecordBuffersCorrupt);
  BeginAccess();
  try {
    Seek(kSeekFromStart, RecordPosition(count + 1));
    WriteBuffer(nullptr, 0);
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
  FHeader.NextRecordNo = count + 1;
  FHeader.FirstFree = 0;
  FHeaderChanged = true;
}

void TDataFile::WriteRecordRun(std::span<TRecord* const> run) {
  const std::size_t perPiece =
      std::max<std::size_t>(1, kMaxWriteRunBytes / std::max<std::size_t>(1, FHeader.RecordSize));
  for (std::size_t start = 0; start < run.size(); start += perPiece) {
    WriteRecordPiece(run.subspan(start, std::min(perPiece, run.size() - start)));
  }
}

void TDataFile::WriteRecordPiece(std::span<TRecord* const> piece) {
  const std::size_t recordSize = FHeader.RecordSize;
  std::vector<std::uint8_t> bytes(piece.size() * recordSize);
  for (std::size_t i = 0; i < piece.size(); ++i) {
    std::span<std::uint8_t> image(bytes.data() + i * recordSize, recordSize);
    std::copy_n(piece[i]->Image.begin(), recordSize, image.begin());
    if (Encrypted()) Scramble(image, kDataScrambleLow, kDataScrambleHigh);
  }
  BeginAccess();
  try {
    Seek(kSeekFromStart, RecordPosition(piece.front()->Number));
    WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  } catch (...) {
    EndAccess();
    throw;
  }
  EndAccess();
}

void TDataFile::SetTableLockQuery(TRecordCache::TLockQuery query) {
  FRecords.SetTableLockQuery(std::move(query));
}

// --- Header fields and descriptors ---------------------------------------------------------

void TDataFile::AlterTableInfo(std::string_view password, std::string_view description,
                               std::int16_t userMinorVersion, std::int16_t userMajorVersion,
                               std::int32_t lastAutoInc) {
  const bool scramble = Encrypted();
  SetTextArea(FHeader.Password, scramble ? password : std::string_view{}, scramble);
  SetTextArea(FHeader.Description, description, scramble);
  FHeader.UserMinorVersion = userMinorVersion;
  FHeader.UserMajorVersion = userMajorVersion;
  FHeader.LastAutoInc = lastAutoInc;
  FHeaderChanged = true;
}

std::uint32_t TDataFile::BlobBlockSize() const {
  const std::uint32_t size = FHeader.BlobBlockSize & 0xFFFF;
  return size == 0 ? kDefaultBlobBlockSize : size;
}

void TDataFile::SetLastAutoInc(std::int32_t value) {
  FHeader.LastAutoInc = value;
  FHeaderChanged = true;
}

void TDataFile::SetLastBlobChange(std::int32_t value) {
  FHeader.LastBlobChange = value;
  FHeaderChanged = true;
}

std::string TDataFile::Description() const {
  return UnscrambledText(FHeader.Description, Encrypted());
}

std::string HeaderPassword(const TDataHeader& header) {
  return UnscrambledText(header.Password, header.Encrypted == 1);
}

std::string TDataFile::Password() const {
  return HeaderPassword(FHeader);
}

const TFieldDescriptor* TDataFile::DescriptorByNumber(int n) const {
  if (n < 1 || static_cast<std::size_t>(n) > FDescriptors.size()) return nullptr;
  return &FDescriptors[static_cast<std::size_t>(n) - 1];
}

const TFieldDescriptor* TDataFile::DescriptorByName(std::string_view name) const {
  for (const TFieldDescriptor& field : FDescriptors) {
    if (EqualsIgnoringAsciiCase(field.FieldName, name)) return &field;
  }
  return nullptr;
}

void TDataFile::ReplaceDescriptorText(int n, std::string_view name, std::uint8_t subType,
                                      std::string_view description, bool required,
                                      std::string_view minValue, std::string_view maxValue,
                                      std::string_view defaultValue) {
  if (DescriptorByNumber(n) == nullptr) Raise(codes::kInvalidField);
  TFieldDescriptor& field = FDescriptors[static_cast<std::size_t>(n) - 1];
  field.FieldName = std::string(name.substr(0, kMaxFieldNameLength));
  field.FieldSubType = subType;
  field.FieldDescription = std::string(description.substr(0, kMaxFieldDescriptionLength));
  field.Required = required;
  field.MinValue = std::string(minValue.substr(0, kMaxFieldValueTextLength));
  field.MaxValue = std::string(maxValue.substr(0, kMaxFieldValueTextLength));
  field.DefaultValue = std::string(defaultValue.substr(0, kMaxFieldValueTextLength));
  FDescriptorsChanged = true;
}

// --- Structure check -----------------------------------------------------------------------

void TDataFile::CheckStructure() {
  if (FHeader.Version != kDataFileVersion) Raise(codes::kWrongVersion);
  if (FHeader.LanguageId != 0 && !LocaleInstalled(static_cast<std::uint16_t>(FHeader.LanguageId),
                                                  static_cast<std::uint16_t>(FHeader.SortId))) {
    Raise(codes::kLanguageNotInstalled);
  }
  std::size_t offset = kRecordHeaderSize;
  std::set<std::uint16_t> numbers;
  for (std::size_t i = 0; i < FDescriptors.size(); ++i) {
    TFieldDescriptor& field = FDescriptors[i];
    RecomputePhysicalSize(field);
    const bool autoInc = IsAutoIncrement(field.FieldType, field.FieldSubType);
    const bool badOffset =
        autoInc ? field.FieldOffset != kRowIdOffset : field.FieldOffset != offset;
    if (!FieldDefinitionIsSound(FDescriptors, i) || !numbers.insert(field.FieldNo).second ||
        badOffset || field.FieldNo != i + 1) {
      Raise(codes::kHeaderCorrupt);
    }
    if (!autoInc) offset += 1 + field.PhysicalSize;
  }
  if (offset != FHeader.RecordSize) Raise(codes::kHeaderCorrupt);
  // The BLOB file is opened, or not, by the count: one that disagrees with the fields would
  // leave every BLOB unreadable.
  if (static_cast<std::size_t>(FHeader.BlobFieldCount) != CountBlobFields(FDescriptors))
    Raise(codes::kHeaderCorrupt);
  const std::int64_t surplus =
      FileSize() - static_cast<std::int64_t>(kDataHeaderSize) - DescriptorsSize();
  const std::int64_t records = surplus > 0 ? surplus / FHeader.RecordSize : 0;
  if (surplus > 0 && surplus % FHeader.RecordSize != 0) Raise(codes::kHeaderCorrupt);
  if (records != static_cast<std::int64_t>(FHeader.NextRecordNo) - 1) Raise(codes::kHeaderCorrupt);
  if (FHeader.FirstFree < 0 || FHeader.FirstFree > records) Raise(codes::kHeaderCorrupt);
}

}  // namespace kura
