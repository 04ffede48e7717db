#include "storage/record_image.h"

#include <algorithm>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

int SlotSize(const TFieldDescriptor& field) {
  return StoredSize(field.FieldType, field.FieldSize);
}

// The slot (indicator and stored bytes) of a slotted field, checked against the record so
// that a damaged descriptor raises an engine error instead of touching foreign memory.
template <typename Byte>
std::span<Byte> SlotOf(std::span<Byte> record, const TFieldDescriptor& field) {
  std::size_t size = 1 + static_cast<std::size_t>(SlotSize(field));
  if (field.FieldOffset < kRecordHeaderSize || field.FieldOffset + size > record.size()) {
    RaiseEngineError(codes::kHeaderCorrupt, {}, {}, {}, {}, field.FieldName);
  }
  return record.subspan(field.FieldOffset, size);
}

void RequireHeader(std::size_t recordSize) {
  if (recordSize < kRecordHeaderSize) RaiseEngineError(codes::kHeaderCorrupt);
}

void StoreString(std::span<std::uint8_t> slot, const TFieldDescriptor& field, const char* text,
                 TTableLocale locale) {
  std::size_t length = CharacterPrefixLength(locale.LanguageId, text, field.FieldSize);
  while (length > 0 && text[length - 1] == ' ') --length;
  std::string stored(text, length);  // keeps its own terminator for the case mapping
  if (field.CharCase == kCharCaseLower) {
    LowerCaseLocale(locale.LanguageId, locale.SortId, stored.data());
  } else if (field.CharCase == kCharCaseUpper) {
    UpperCaseLocale(locale.LanguageId, locale.SortId, stored.data());
  }
  std::fill(slot.begin(), slot.end(), 0);
  std::memcpy(slot.data() + 1, stored.data(), stored.size());
  slot[0] = stored.empty() ? 0 : 1;
}

void StoreNull(std::span<std::uint8_t> slot, const TFieldDescriptor& field) {
  std::size_t cleared = field.FieldType == kFieldTypeBlob ? kBlobFirstBlockSize : slot.size() - 1;
  slot[0] = 0;
  std::fill_n(slot.begin() + 1, cleared, 0);
}

}  // namespace

bool IsDeleted(std::span<const std::uint8_t> record) {
  RequireHeader(record.size());
  return record[kDeletedOffset] != 0;
}

std::int32_t RecordNoOrNextFree(std::span<const std::uint8_t> record) {
  RequireHeader(record.size());
  return GetI32LE(record.data() + kRecordNoOffset);
}

std::int32_t RowId(std::span<const std::uint8_t> record) {
  RequireHeader(record.size());
  return GetI32LE(record.data() + kRowIdOffset);
}

void SetDeleted(std::span<std::uint8_t> record, bool deleted) {
  RequireHeader(record.size());
  record[kDeletedOffset] = deleted ? 1 : 0;
}

void SetRecordNoOrNextFree(std::span<std::uint8_t> record, std::int32_t number) {
  RequireHeader(record.size());
  PutI32LE(record.data() + kRecordNoOffset, number);
}

void SetRowId(std::span<std::uint8_t> record, std::int32_t rowId) {
  RequireHeader(record.size());
  PutI32LE(record.data() + kRowIdOffset, rowId);
}

int KeySize(const TFieldDescriptor& field) {
  return field.FieldType == kFieldTypeBcd ? kBcdKeySize : SlotSize(field);
}

bool GetField(std::span<const std::uint8_t> record, const TFieldDescriptor& field,
              std::span<std::uint8_t> value) {
  std::fill(value.begin(), value.end(), 0);
  if (IsAutoIncrement(field.FieldType, field.FieldSubType)) {
    RequireHeader(record.size());
    std::size_t count = std::min<std::size_t>(value.size(), 4);
    std::copy_n(record.data() + kRowIdOffset, count, value.data());
    return false;
  }
  std::span<const std::uint8_t> slot = SlotOf(record, field);
  std::size_t available = field.FieldType == kFieldTypeBlob ? kBlobFirstBlockSize : slot.size() - 1;
  std::size_t count = std::min(value.size(), available);
  std::copy_n(slot.data() + 1, count, value.data());
  return slot[0] == 0;
}

void SetField(std::span<std::uint8_t> record, const TFieldDescriptor& field, const void* value,
              bool force, TTableLocale locale) {
  if (field.Computed && !force) return;
  const auto* bytes = static_cast<const std::uint8_t*>(value);
  if (IsAutoIncrement(field.FieldType, field.FieldSubType)) {
    if (bytes != nullptr) SetRowId(record, GetI32LE(bytes));
    return;
  }
  std::span<std::uint8_t> slot = SlotOf(record, field);
  if (bytes == nullptr) {
    StoreNull(slot, field);
    return;
  }
  switch (field.FieldType) {
    case kFieldTypeString:
      StoreString(slot, field, static_cast<const char*>(value), locale);
      return;
    case kFieldTypeBlob: {
      std::int32_t firstBlock = GetI32LE(bytes);
      slot[0] = firstBlock != 0 ? 1 : 0;
      PutI32LE(slot.data() + 1, firstBlock);
      return;
    }
    case kFieldTypeBoolean:
      slot[0] = 1;
      PutU16LE(slot.data() + 1, GetU16LE(bytes) != 0 ? 1 : 0);
      return;
    default:
      slot[0] = 1;
      std::memcpy(slot.data() + 1, bytes, slot.size() - 1);
      return;
  }
}

std::int32_t NextRowId(std::int32_t lastRowId) {
  return (lastRowId >= kMaxRowId || lastRowId < 0) ? 1 : lastRowId + 1;
}

void InitRecord(std::span<std::uint8_t> record, std::int32_t recordNo, bool assignRowId,
                std::int32_t& lastRowId) {
  RequireHeader(record.size());
  std::fill(record.begin(), record.end(), 0);
  SetRecordNoOrNextFree(record, recordNo);
  if (assignRowId) {
    lastRowId = NextRowId(lastRowId);
    SetRowId(record, lastRowId);
  }
}

void KeepRowId(std::int32_t givenRowId, std::int32_t& lastRowId) {
  lastRowId = std::max(lastRowId, givenRowId);
}

std::string RecordInvariantViolation(std::span<const std::uint8_t> record,
                                     std::span<const TFieldDescriptor> fields) {
  if (record.size() < kRecordHeaderSize) return "record shorter than its header";
  if (record[kDeletedOffset] > 1) return "1: deleted byte is neither 0 nor 1";
  for (const TFieldDescriptor& field : fields) {
    if (IsAutoIncrement(field.FieldType, field.FieldSubType)) continue;
    std::size_t size = 1 + static_cast<std::size_t>(SlotSize(field));
    if (field.FieldOffset + size > record.size()) return field.FieldName + ": slot outside record";
    std::span<const std::uint8_t> slot = record.subspan(field.FieldOffset, size);
    std::span<const std::uint8_t> stored = slot.subspan(1);
    if (field.FieldType == kFieldTypeBlob) stored = stored.first(kBlobFirstBlockSize);
    bool allZero = std::all_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b == 0; });
    if (slot[0] == 0 && !allZero) return "2: " + field.FieldName + " is NULL with stored bytes";
    if (field.FieldType == kFieldTypeBoolean && GetU16LE(stored.data()) > 1) {
      return "3: " + field.FieldName + " holds a boolean other than 0 or 1";
    }
    if (field.FieldType == kFieldTypeString) {
      if (std::find(stored.begin(), stored.end(), 0) == stored.end()) {
        return "4: " + field.FieldName + " has no terminator";
      }
      if ((slot[0] != 0) != (stored[0] != 0)) return "4: " + field.FieldName + " indicator";
    }
    if (field.FieldType == kFieldTypeBlob && (slot[0] != 0) == allZero) {
      return "5: " + field.FieldName + " indicator disagrees with its first block";
    }
  }
  return {};
}

}  // namespace kura
