// A cursor's open BLOB buffers; the rules are at the head of cursor_blobs.h.
#include "engine/cursor_blobs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_table.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

// Null indicator, first-block number, change number.
constexpr std::size_t kBlobSlotSize = 1 + 4 + 4;

// The slot of a BLOB field, checked against the record so that a damaged descriptor or a
// short buffer raises instead of touching foreign memory.
template <typename Byte>
std::span<Byte> BlobSlot(const TFieldDescriptor& field, std::span<Byte> record) {
  if (field.FieldType != kFieldTypeBlob || field.FieldOffset < kRecordHeaderSize ||
      field.FieldOffset + kBlobSlotSize > record.size()) {
    RaiseEngineError(codes::kRecordBuffersCorrupt, {}, {}, {}, {}, field.FieldName);
  }
  return record.subspan(field.FieldOffset, kBlobSlotSize);
}

bool IsBlobField(const TFieldDescriptor& field) {
  return field.FieldType == kFieldTypeBlob;
}

// Whether a buffer may grow to size bytes.
bool FitsValue(std::uint64_t size) {
  return size <= static_cast<std::uint64_t>(kMaxBlobValueSize);
}

// Checks, before anything is written, that every old chain is whole and carries its change
// number (8708 / 8963 from the chains), and that no block belongs to two of them: two slots
// naming one chain would otherwise have it rewritten twice or freed under the other.
void CheckOldChains(TDataTable& table, std::span<TBlobBuffer* const> buffers) {
  std::unordered_set<std::int32_t> seen;
  for (const TBlobBuffer* buffer : buffers) {
    if (buffer->FirstBlock == 0) continue;
    for (std::int32_t block :
         table.Blob().Chains().ValueBlocks(buffer->FirstBlock, buffer->BlobChange)) {
      if (!seen.insert(block).second)
        RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
    }
  }
}

// Stores the values of one record under one new change number, which the data header keeps
// as its LastBlobChange; answers the number.
std::int32_t WriteRecordValues(TDataTable& table, std::span<TBlobBuffer* const> buffers) {
  CheckOldChains(table, buffers);
  TDataFile& data = table.Data();
  const std::int32_t newChange = NextBlobChange(data.LastBlobChange());
  // Taken before the first write, so that a number half-used by a failed write is never
  // handed out again.
  data.SetLastBlobChange(newChange);
  for (TBlobBuffer* buffer : buffers) table.Blob().WriteBlob(*buffer, newChange);
  return newChange;
}

}  // namespace

// --- Slot helpers -----------------------------------------------------------------------

std::int32_t BlobSlotFirstBlock(const TFieldDescriptor& field,
                                std::span<const std::uint8_t> record) {
  return GetI32LE(BlobSlot(field, record).data() + 1);
}

std::int32_t BlobSlotChange(const TFieldDescriptor& field, std::span<const std::uint8_t> record) {
  return GetI32LE(BlobSlot(field, record).data() + 5);
}

void SetBlobSlot(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                 std::int32_t firstBlock, bool hasValue) {
  std::span<std::uint8_t> slot = BlobSlot(field, record);
  slot[0] = hasValue ? 1 : 0;
  PutI32LE(slot.data() + 1, firstBlock);
}

void SetBlobSlotChange(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                       std::int32_t change) {
  PutI32LE(BlobSlot(field, record).data() + 5, change);
}

// --- The list ---------------------------------------------------------------------------

TCursorBlobs::TCursorBlobs() = default;
TCursorBlobs::~TCursorBlobs() = default;

const TCursorBlob* TCursorBlobs::Find(std::int32_t handle) const {
  for (const auto& blob : FBlobs)
    if (blob->Handle == handle) return blob.get();
  return nullptr;
}

TCursorBlob* TCursorBlobs::FindMutable(std::int32_t handle) {
  return const_cast<TCursorBlob*>(std::as_const(*this).Find(handle));
}

const TCursorBlob* TCursorBlobs::InSlot(const TFieldDescriptor& field,
                                        std::span<const std::uint8_t> record) const {
  const std::int32_t value = BlobSlotFirstBlock(field, record);
  if (value >= 0) return nullptr;
  const TCursorBlob* blob = Find(value);
  // A handle copied into another field's slot is not that field's buffer.
  if (blob == nullptr || blob->Buffer.FieldNo != field.FieldNo) return nullptr;
  return blob;
}

TCursorBlob* TCursorBlobs::InSlot(const TFieldDescriptor& field,
                                  std::span<const std::uint8_t> record) {
  return const_cast<TCursorBlob*>(std::as_const(*this).InSlot(field, record));
}

std::int32_t TCursorBlobs::NextHandle() {
  // -1, -2, ... and round again after the most negative value, skipping handles in use (at
  // most 128 are, so the search ends).
  do {
    FLastHandle = FLastHandle >= 0 || FLastHandle == std::numeric_limits<std::int32_t>::min()
                      ? -1
                      : FLastHandle - 1;
  } while (Find(FLastHandle) != nullptr);
  return FLastHandle;
}

void TCursorBlobs::Release(const TCursorBlob* blob) {
  std::erase_if(FBlobs, [blob](const auto& entry) { return entry.get() == blob; });
}

bool TCursorBlobs::AnyModified() const {
  return std::any_of(FBlobs.begin(), FBlobs.end(),
                     [](const auto& blob) { return blob->Buffer.Modified; });
}

// --- Opening, reading, writing, closing --------------------------------------------------

std::uint16_t TCursorBlobs::Open(TDataTable& table, const TFieldDescriptor& field,
                                 std::span<std::uint8_t> record, std::int32_t recordNo,
                                 TBlobOpenMode mode, bool releaseAfterPost, std::uint32_t& size) {
  size = 0;
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  const std::int32_t slotValue = BlobSlotFirstBlock(field, record);
  if (slotValue < 0) {
    TCursorBlob* blob = InSlot(field, record);
    if (blob == nullptr) return codes::kInvalidBlobOffset;
    ++blob->UseCount;
    if (mode == TBlobOpenMode::ReadWrite) {
      blob->Mode = TBlobOpenMode::ReadWrite;
      blob->ReleaseAfterPost = releaseAfterPost;
    }
    size = static_cast<std::uint32_t>(blob->Buffer.Data.size());
    return 0;
  }
  if (OpenCount() >= kMaxOpenBlobs) return codes::kTooManyOpenBlobs;
  auto blob = std::make_unique<TCursorBlob>();
  blob->RecordNo = recordNo;
  blob->Mode = mode;
  blob->ReleaseAfterPost = mode == TBlobOpenMode::ReadWrite && releaseAfterPost;
  blob->UseCount = 1;
  blob->Buffer.FieldNo = field.FieldNo;
  blob->Buffer.FirstBlock = slotValue;
  blob->Buffer.BlobChange = BlobSlotChange(field, record);
  if (slotValue != 0) {
    if (!table.HasBlobFields()) RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
    table.Blob().ReadBlob(blob->Buffer);
  }
  blob->Handle = NextHandle();
  SetBlobSlot(field, record, blob->Handle, !blob->Buffer.Data.empty());
  size = static_cast<std::uint32_t>(blob->Buffer.Data.size());
  FBlobs.push_back(std::move(blob));
  return 0;
}

std::uint16_t TCursorBlobs::Read(const TFieldDescriptor& field,
                                 std::span<const std::uint8_t> record, std::uint32_t offset,
                                 std::uint32_t count, std::uint8_t* target, std::uint32_t& copied) {
  copied = 0;
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  const TCursorBlob* blob = InSlot(field, record);
  if (blob == nullptr) return codes::kInvalidBlobHandle;
  const std::vector<std::uint8_t>& data = blob->Buffer.Data;
  if (offset < data.size()) {
    copied = static_cast<std::uint32_t>(std::min<std::size_t>(count, data.size() - offset));
    if (copied > 0) std::memcpy(target, data.data() + offset, copied);
  }
  return copied < count ? codes::kEndOfBlob : 0;
}

std::uint16_t TCursorBlobs::Write(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                                  std::uint32_t offset, std::uint32_t count,
                                  const std::uint8_t* source) {
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  TCursorBlob* blob = InSlot(field, record);
  if (blob == nullptr) return codes::kInvalidBlobHandle;
  if (blob->Mode != TBlobOpenMode::ReadWrite) return codes::kAccessDenied;
  const std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
  if (!FitsValue(end)) return codes::kInvalidBlobLength;
  std::vector<std::uint8_t>& data = blob->Buffer.Data;
  if (end > data.size()) data.resize(static_cast<std::size_t>(end), 0);
  if (count > 0) std::memcpy(data.data() + offset, source, count);
  blob->Buffer.Modified = true;
  SetBlobSlot(field, record, blob->Handle, !data.empty());
  return 0;
}

std::uint16_t TCursorBlobs::Truncate(const TFieldDescriptor& field, std::span<std::uint8_t> record,
                                     std::uint32_t newSize) {
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  TCursorBlob* blob = InSlot(field, record);
  if (blob == nullptr) return codes::kInvalidBlobHandle;
  if (blob->Mode != TBlobOpenMode::ReadWrite) return codes::kAccessDenied;
  if (!FitsValue(newSize)) return codes::kInvalidBlobLength;
  blob->Buffer.Data.resize(newSize, 0);
  blob->Buffer.Modified = true;
  SetBlobSlot(field, record, blob->Handle, newSize != 0);
  return 0;
}

std::uint16_t TCursorBlobs::GetSize(const TFieldDescriptor& field,
                                    std::span<const std::uint8_t> record,
                                    std::uint32_t& size) const {
  size = 0;
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  const TCursorBlob* blob = InSlot(field, record);
  if (blob == nullptr) return codes::kInvalidBlobHandle;
  size = static_cast<std::uint32_t>(blob->Buffer.Data.size());
  return 0;
}

std::uint16_t TCursorBlobs::Close(const TFieldDescriptor& field, std::span<std::uint8_t> record) {
  if (!IsBlobField(field)) return codes::kInvalidBlobField;
  TCursorBlob* blob = InSlot(field, record);
  if (blob == nullptr) return codes::kInvalidBlobHandle;
  if (blob->UseCount > 0) --blob->UseCount;
  // A modified value waits for the post (or FreeAll) with its handle in the slot.
  if (blob->UseCount > 0 || blob->Buffer.Modified) return 0;
  SetBlobSlot(field, record, blob->Buffer.FirstBlock, blob->Buffer.FirstBlock != 0);
  Release(blob);
  return 0;
}

void TCursorBlobs::FreeAll(bool onlyReleaseAfterPost) {
  if (!onlyReleaseAfterPost) {
    FBlobs.clear();
    return;
  }
  std::erase_if(FBlobs, [](const auto& blob) { return blob->ReleaseAfterPost; });
}

// --- The post, the delete and copies ------------------------------------------------------

bool TCursorBlobs::WriteModified(TDataTable& table, std::span<const TFieldDescriptor> fields,
                                 std::span<std::uint8_t> record) {
  // Every modified buffer must be open in this record buffer.
  std::vector<std::pair<const TFieldDescriptor*, TCursorBlob*>> posted;
  std::vector<std::pair<const TFieldDescriptor*, TCursorBlob*>> unmodified;
  for (const TFieldDescriptor& field : fields) {
    if (!IsBlobField(field)) continue;
    TCursorBlob* blob = InSlot(field, record);
    if (blob != nullptr) {
      (blob->Buffer.Modified ? posted : unmodified).emplace_back(&field, blob);
    } else if (BlobSlotFirstBlock(field, record) < 0) {
      // A handle no buffer answers to (freed, or another cursor's) would be stored as a
      // block number.
      RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
    }
  }
  const auto modifiedCount = std::count_if(FBlobs.begin(), FBlobs.end(),
                                           [](const auto& blob) { return blob->Buffer.Modified; });
  if (static_cast<std::size_t>(modifiedCount) != posted.size())
    RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
  // Unmodified buffers stay open, but the record must carry real first-block numbers.
  for (auto [field, blob] : unmodified)
    SetBlobSlot(*field, record, blob->Buffer.FirstBlock, blob->Buffer.FirstBlock != 0);
  if (posted.empty()) return false;

  std::vector<TBlobBuffer*> buffers;
  for (auto [field, blob] : posted) buffers.push_back(&blob->Buffer);
  const std::int32_t newChange = WriteRecordValues(table, buffers);
  for (auto [field, blob] : posted) {
    SetBlobSlot(*field, record, blob->Buffer.FirstBlock, blob->Buffer.FirstBlock != 0);
    SetBlobSlotChange(*field, record, newChange);
    Release(blob);
  }
  return true;
}

bool TCursorBlobs::EmptyRecordBlobs(TDataTable& table, std::span<const TFieldDescriptor> fields,
                                    std::span<std::uint8_t> storedRecord, std::int32_t recordNo) {
  std::erase_if(FBlobs, [recordNo](const auto& blob) { return blob->RecordNo == recordNo; });
  std::vector<const TFieldDescriptor*> stored;
  std::vector<TBlobBuffer> values;
  for (const TFieldDescriptor& field : fields) {
    if (!IsBlobField(field)) continue;
    const std::int32_t first = BlobSlotFirstBlock(field, storedRecord);
    if (first == 0) continue;
    // A stored record never holds a handle.
    if (first < 0) RaiseTableError(codes::kBlobBuffersCorrupt, table.TableName());
    TBlobBuffer value;
    value.FieldNo = field.FieldNo;
    value.FirstBlock = first;
    value.BlobChange = BlobSlotChange(field, storedRecord);
    value.Modified = true;
    stored.push_back(&field);
    values.push_back(std::move(value));
  }
  if (values.empty()) return false;
  std::vector<TBlobBuffer*> buffers;
  for (TBlobBuffer& value : values) buffers.push_back(&value);
  const std::int32_t newChange = WriteRecordValues(table, buffers);
  for (const TFieldDescriptor* field : stored) {
    SetBlobSlot(*field, storedRecord, 0, false);
    SetBlobSlotChange(*field, storedRecord, newChange);
  }
  return true;
}

void TCursorBlobs::CopyStoredBlobs(TDataTable& table, std::span<const TFieldDescriptor> fields,
                                   std::span<std::uint8_t> record, std::int32_t recordNo) {
  std::vector<std::pair<const TFieldDescriptor*, std::unique_ptr<TCursorBlob>>> copies;
  for (const TFieldDescriptor& field : fields) {
    if (!IsBlobField(field) || BlobSlotFirstBlock(field, record) <= 0) continue;
    if (OpenCount() + static_cast<int>(copies.size()) >= kMaxOpenBlobs)
      RaiseTableError(codes::kTooManyOpenBlobs, table.TableName());
    auto blob = std::make_unique<TCursorBlob>();
    blob->RecordNo = recordNo;
    blob->Mode = TBlobOpenMode::ReadWrite;
    blob->ReleaseAfterPost = true;
    blob->Buffer.FieldNo = field.FieldNo;
    blob->Buffer.FirstBlock = BlobSlotFirstBlock(field, record);
    blob->Buffer.BlobChange = BlobSlotChange(field, record);
    table.Blob().ReadBlob(blob->Buffer);
    // The copy is a new value of the new record: no chain of its own yet.
    blob->Buffer.FirstBlock = 0;
    blob->Buffer.BlobChange = 0;
    blob->Buffer.Modified = true;
    copies.emplace_back(&field, std::move(blob));
  }
  // Nothing failed: the copies take their slots.
  for (auto& [field, blob] : copies) {
    blob->Handle = NextHandle();
    SetBlobSlot(*field, record, blob->Handle, !blob->Buffer.Data.empty());
    SetBlobSlotChange(*field, record, 0);
    FBlobs.push_back(std::move(blob));
  }
}

std::vector<TModifiedBlobText> TCursorBlobs::ModifiedTexts(
    std::span<const TFieldDescriptor> fields, std::span<const std::uint8_t> record) const {
  std::vector<TModifiedBlobText> texts;
  for (const TFieldDescriptor& field : fields) {
    if (!IsBlobField(field)) continue;
    if (const TCursorBlob* blob = ModifiedBuffer(field, record))
      texts.push_back({field.FieldNo, blob->Buffer.Data});
  }
  return texts;
}

const TCursorBlob* TCursorBlobs::ModifiedBuffer(const TFieldDescriptor& field,
                                                std::span<const std::uint8_t> record) const {
  if (!IsBlobField(field)) return nullptr;
  const TCursorBlob* blob = InSlot(field, record);
  return blob != nullptr && blob->Buffer.Modified ? blob : nullptr;
}

}  // namespace kura
