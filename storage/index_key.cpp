#include "storage/index_key.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kKeyLengthOffset = 31;
constexpr std::size_t kDescendingOffset = 33;
constexpr std::size_t kCaseInsensitiveOffset = 34;
constexpr std::size_t kUniqueOffset = 35;
constexpr std::size_t kCompressionOffset = 36;
constexpr std::size_t kKeyFieldCountOffset = 37;
constexpr std::size_t kFieldDescendingOffset = 38;
constexpr std::size_t kKeyFieldsOffset = 54;
constexpr std::size_t kRootPageOffset = 86;
constexpr std::size_t kFreePageOffset = 90;
constexpr std::size_t kParamPageOffset = 96;
constexpr std::size_t kUncountedOffset = 100;
constexpr std::size_t kTemporaryOffset = 101;

constexpr std::uint64_t kTopBit64 = 0x8000'0000'0000'0000ULL;
// Largest stored size of a field value (a CHAR(250) with its terminator).
constexpr std::size_t kMaxStoredSize = 251;

void PutSignedBE(std::uint8_t* p, std::int64_t value, int width) {
  const std::uint64_t top = std::uint64_t{1} << (8 * width - 1);
  PutUnsignedBE(p, static_cast<std::uint64_t>(value) ^ top, width);
}

void EncodeFloat(std::uint8_t* p, double value) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if (value >= 0) {
    bits |= kTopBit64;
  } else {
    bits = ~bits;
  }
  PutUnsignedBE(p, bits, 8);
}

void EncodeString(const TKeyPart& part, std::span<const std::uint8_t> stored, TTableLocale locale,
                  bool caseInsensitive, std::span<std::uint8_t> out) {
  std::array<char, kMaxStoredSize + 1> text{};
  std::size_t size = std::min({out.size(), stored.size(), kMaxStoredSize});
  std::size_t length = 0;
  while (length < size && stored[length] != 0) ++length;
  std::memcpy(text.data(), stored.data(), length);
  if (caseInsensitive) UpperCaseLocale(locale.LanguageId, locale.SortId, text.data());
  std::fill(out.begin(), out.end(), 0);
  std::memcpy(out.data(), text.data(), length);
  (void)part;
}

void EncodeOrdinaryKey(const TKeyFormat& format, std::span<const std::uint8_t> record,
                       std::span<std::uint8_t> key) {
  std::size_t pos = 0;
  for (const TKeyPart& part : format.Parts) {
    std::array<std::uint8_t, kMaxStoredSize> stored{};
    bool isNull = GetField(record, part.Field, stored);
    std::uint8_t* start = key.data() + pos;
    start[0] = isNull ? 0 : 1;
    std::span<std::uint8_t> value(start + 1, static_cast<std::size_t>(part.KeySize));
    if (isNull) {
      std::fill(value.begin(), value.end(), 0);
    } else {
      std::size_t storedSize = part.Field.FieldType == kFieldTypeBcd
                                   ? static_cast<std::size_t>(kBcdStoredSize)
                                   : static_cast<std::size_t>(part.KeySize);
      EncodeKeyValue(part, std::span(stored.data(), std::min(storedSize, stored.size())),
                     format.Locale, format.CaseInsensitive, value);
    }
    bool invert = part.Descending && !format.Descending &&
                  format.Locale.LanguageId == kAnsiStandardLanguageId;
    if (invert) {
      std::size_t count = 1 + static_cast<std::size_t>(part.KeySize);
      if (part.Field.FieldType == kFieldTypeString) --count;  // the terminator stays
      for (std::size_t i = 0; i < count; ++i) start[i] = static_cast<std::uint8_t>(~start[i]);
    }
    pos += 1 + static_cast<std::size_t>(part.KeySize);
  }
  if (!format.Unique) {
    PutRowIdSuffix(key.data() + pos, RowId(record));
    pos += kRowIdSuffixSize;
  }
  std::fill(key.begin() + static_cast<std::ptrdiff_t>(pos), key.end(), 0);
}

// The comparison of a table with a locale, field by field.
int CompareFieldByField(const TKeyFormat& format, const std::uint8_t* a, const std::uint8_t* b) {
  std::size_t pos = 0;
  const std::size_t length = static_cast<std::size_t>(format.KeyLength);
  for (const TKeyPart& part : format.Parts) {
    if (pos >= length) return 0;
    std::size_t width = std::min<std::size_t>(1 + part.KeySize, length - pos);
    int result = 0;
    if (part.Field.FieldType == kFieldTypeString) {
      result = int{a[pos]} - int{b[pos]};
      if (result == 0 && width > 1) {
        result = CompareLocaleStrings(format.Locale.LanguageId, format.Locale.SortId,
                                      reinterpret_cast<const char*>(a + pos + 1), false, width - 1,
                                      reinterpret_cast<const char*>(b + pos + 1));
      }
    } else {
      result = CompareBytes(a + pos, b + pos, width);
    }
    if (result != 0) return (format.Descending || part.Descending) ? -result : result;
    pos += width;
  }
  if (pos >= length) return 0;
  int rest = CompareBytes(a + pos, b + pos, length - pos);
  return format.Descending ? -rest : rest;
}

int CompareTextKeys(const TKeyFormat& format, const std::uint8_t* a, const std::uint8_t* b) {
  constexpr std::size_t kHeadSize = 3;
  int result = CompareBytes(a, b, kHeadSize);
  if (result != 0) return result;
  result = CompareLocaleStrings(format.Locale.LanguageId, format.Locale.SortId,
                                reinterpret_cast<const char*>(a + kHeadSize), false, kTextWordSize,
                                reinterpret_cast<const char*>(b + kHeadSize));
  if (result != 0) return result;
  constexpr std::size_t kTail = kHeadSize + kTextWordSize;
  return CompareBytes(a + kTail, b + kTail, kRowIdSuffixSize);
}

std::string ReadShortText(const std::uint8_t* p, std::size_t area) {
  std::size_t length = std::min<std::size_t>(p[0], area - 1);
  return std::string(reinterpret_cast<const char*>(p + 1), length);
}

}  // namespace

// --- Descriptors ---------------------------------------------------------------------------

void EncodeIndexDescriptor(const TIndexDescriptor& d,
                           std::span<std::uint8_t, kIndexDescriptorSize> bytes) {
  std::fill(bytes.begin(), bytes.end(), 0);
  std::uint8_t* p = bytes.data();
  std::size_t nameLength = std::min(d.IndexName.size(), kMaxIndexNameLength);
  p[kNameOffset] = static_cast<std::uint8_t>(nameLength);
  std::memcpy(p + kNameOffset + 1, d.IndexName.data(), nameLength);
  PutU16LE(p + kKeyLengthOffset, d.KeyLength);
  p[kDescendingOffset] = d.Descending ? 1 : 0;
  p[kCaseInsensitiveOffset] = d.CaseInsensitive ? 1 : 0;
  p[kUniqueOffset] = d.Unique ? 1 : 0;
  p[kCompressionOffset] = d.Compression;
  p[kKeyFieldCountOffset] = d.KeyFieldCount;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    p[kFieldDescendingOffset + i] = d.FieldDescending[i] ? 1 : 0;
    PutU16LE(p + kKeyFieldsOffset + 2 * i, d.KeyFields[i]);
  }
  PutI32LE(p + kRootPageOffset, d.RootPage);
  PutI32LE(p + kFreePageOffset, d.FreePage);
  PutI32LE(p + kParamPageOffset, d.ParamPage);
  p[kUncountedOffset] = d.UncountedIndex ? 1 : 0;
  p[kTemporaryOffset] = d.TemporaryIndex ? 1 : 0;
}

bool DescriptorMarkedTemporary(std::span<const std::uint8_t, kIndexDescriptorSize> bytes) {
  return bytes[kTemporaryOffset] != 0;
}

TIndexDescriptor DecodeIndexDescriptor(std::span<const std::uint8_t, kIndexDescriptorSize> bytes) {
  const std::uint8_t* p = bytes.data();
  TIndexDescriptor d;
  d.IndexName = ReadShortText(p + kNameOffset, kMaxIndexNameLength + 1);
  d.KeyLength = GetU16LE(p + kKeyLengthOffset);
  d.Descending = p[kDescendingOffset] != 0;
  d.CaseInsensitive = p[kCaseInsensitiveOffset] != 0;
  d.Unique = p[kUniqueOffset] != 0;
  d.Compression = p[kCompressionOffset];
  d.KeyFieldCount = p[kKeyFieldCountOffset];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.FieldDescending[i] = p[kFieldDescendingOffset + i] != 0;
    d.KeyFields[i] = GetU16LE(p + kKeyFieldsOffset + 2 * i);
  }
  d.RootPage = GetI32LE(p + kRootPageOffset);
  d.FreePage = GetI32LE(p + kFreePageOffset);
  d.ParamPage = GetI32LE(p + kParamPageOffset);
  d.UncountedIndex = p[kUncountedOffset] != 0;
  d.TemporaryIndex = p[kTemporaryOffset] != 0;
  return d;
}

TIndexDescriptor SysDeletedDescriptor() {
  TIndexDescriptor d;
  d.IndexName = std::string(kSysDeletedName);
  d.KeyLength = kSysDeletedKeyLength;
  d.Unique = true;
  d.Compression = kCompressNone;
  return d;
}

TIndexDescriptor SysTextDescriptor() {
  TIndexDescriptor d;
  d.IndexName = std::string(kSysTextName);
  d.KeyLength = kSysTextKeyLength;
  d.Unique = true;
  d.Compression = kCompressFull;
  d.UncountedIndex = true;
  return d;
}

std::string IndexDescriptorViolation(const TIndexDescriptor& d, std::int32_t nextPageNo) {
  if (d.KeyFieldCount > kMaxKeyFields) return "more than 16 key fields";
  for (int i = 0; i < kMaxKeyFields; ++i) {
    bool used = i < d.KeyFieldCount;
    if (used && d.KeyFields[i] == 0) return "a key field number is 0";
    if (!used && d.KeyFields[i] != 0) return "a key field number past the field count";
  }
  if (d.Compression > kCompressFull) return "unknown compression mode";
  if (d.KeyLength > kMaxKeyLength) return "key longer than 526 bytes";
  for (std::int32_t page : {d.RootPage, d.FreePage, d.ParamPage}) {
    if (page < 0 || page >= std::max(nextPageNo, 1)) return "a page number past NextPageNo";
  }
  return {};
}

// --- Keys ----------------------------------------------------------------------------------

int KeyLengthOf(std::span<const TFieldDescriptor> keyFields, bool unique) {
  int length = 0;
  for (const TFieldDescriptor& f : keyFields) length += KeySize(f) + 1;
  return length + (unique ? 0 : kRowIdSuffixSize);
}

TKeyFormat MakeKeyFormat(int slot, const TIndexDescriptor& descriptor,
                         std::span<const TFieldDescriptor> tableFields, TTableLocale locale) {
  TKeyFormat format;
  format.KeyLength = descriptor.KeyLength;
  format.Unique = descriptor.Unique;
  format.Descending = descriptor.Descending;
  format.CaseInsensitive = descriptor.CaseInsensitive;
  format.Locale = locale;
  if (slot == kSysDeletedSlot) {
    format.Kind = TKeyKind::SysDeleted;
    format.KeyLength = kSysDeletedKeyLength;
    format.Unique = true;
    format.Descending = false;
    return format;
  }
  if (slot == kSysTextSlot) {
    format.Kind = TKeyKind::Text;
    format.KeyLength = kSysTextKeyLength;
    format.Unique = true;
    format.Descending = false;
    return format;
  }
  if (descriptor.KeyFieldCount > kMaxKeyFields) RaiseEngineError(codes::kHeaderCorrupt);
  int fieldBytes = 0;
  for (int i = 0; i < descriptor.KeyFieldCount; ++i) {
    std::uint16_t number = descriptor.KeyFields[i];
    if (number == 0 || number > tableFields.size()) RaiseEngineError(codes::kHeaderCorrupt);
    const TFieldDescriptor& field = tableFields[number - 1];
    if (field.FieldType == kFieldTypeBlob) RaiseEngineError(codes::kHeaderCorrupt);
    TKeyPart part{field, KeySize(field), descriptor.FieldDescending[i]};
    fieldBytes += part.KeySize + 1;
    format.Parts.push_back(part);
  }
  if (fieldBytes > kMaxKeyFieldBytes) RaiseEngineError(codes::kHeaderCorrupt);
  int expected = fieldBytes + (descriptor.Unique ? 0 : kRowIdSuffixSize);
  if (expected != descriptor.KeyLength) RaiseEngineError(codes::kHeaderCorrupt);
  return format;
}

void EncodeKeyValue(const TKeyPart& part, std::span<const std::uint8_t> stored, TTableLocale locale,
                    bool caseInsensitive, std::span<std::uint8_t> out) {
  std::array<std::uint8_t, kMaxStoredSize> value{};
  std::copy_n(stored.begin(), std::min(stored.size(), value.size()), value.begin());
  std::uint8_t* p = out.data();
  switch (part.Field.FieldType) {
    case kFieldTypeString:
      EncodeString(part, stored, locale, caseInsensitive, out);
      return;
    case kFieldTypeDate:
    case kFieldTypeInteger:
    case kFieldTypeTime:
      if (out.size() >= 4) PutSignedBE(p, GetI32LE(value.data()), 4);
      return;
    case kFieldTypeSmallInt:
      if (out.size() >= 2) PutSignedBE(p, GetI16LE(value.data()), 2);
      return;
    case kFieldTypeBoolean:
    case kFieldTypeWord:
      if (out.size() >= 2) PutUnsignedBE(p, GetU16LE(value.data()), 2);
      return;
    case kFieldTypeFloat:
    case kFieldTypeTimestamp:
      if (out.size() >= 8) EncodeFloat(p, GetF64LE(value.data()));
      return;
    case kFieldTypeBcd: {
      std::int64_t units = 0;
      if (value[0] != 0) {
        std::span<const std::uint8_t, kBcdStoredSize> bcd(value.data(), kBcdStoredSize);
        units = BcdToFixed(bcd).value_or(0);
      }
      if (out.size() >= 8) PutSignedBE(p, units, 8);
      return;
    }
    case kFieldTypeLargeInt:
      if (out.size() >= 8) PutSignedBE(p, GetI64LE(value.data()), 8);
      return;
    default:
      std::copy_n(value.begin(), std::min(out.size(), value.size()), out.begin());
      return;
  }
}

void BuildKey(const TKeyFormat& format, std::span<const std::uint8_t> record,
              std::span<std::uint8_t> key) {
  if (key.size() < static_cast<std::size_t>(format.KeyLength)) {
    RaiseEngineError(codes::kIndexPagesCorrupt);
  }
  if (format.Kind == TKeyKind::SysDeleted) {
    key[0] = IsDeleted(record) ? 1 : 0;
    PutRowIdSuffix(key.data() + 1, RowId(record));
    return;
  }
  EncodeOrdinaryKey(format, record, key.first(static_cast<std::size_t>(format.KeyLength)));
}

void PutRowIdSuffix(std::uint8_t* p, std::int32_t rowId) {
  PutSignedBE(p, rowId, kRowIdSuffixSize);
}

std::int32_t GetRowIdSuffix(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(GetUnsignedBE(p, 4)) ^ 0x8000'0000U);
}

void BuildTextKey(std::uint16_t fieldNo, std::string_view word, std::int32_t rowId,
                  TTableLocale locale, std::span<std::uint8_t, kSysTextKeyLength> key) {
  std::fill(key.begin(), key.end(), 0);
  key[0] = 1;
  PutUnsignedBE(key.data() + 1, fieldNo, 2);
  std::array<char, kTextWordSize + 1> text{};
  std::size_t length = std::min<std::size_t>(word.size(), kMaxTextWordLength);
  length = std::min(
      length, static_cast<std::size_t>(std::find(word.begin(), word.end(), '\0') - word.begin()));
  std::memcpy(text.data(), word.data(), length);
  UpperCaseLocale(locale.LanguageId, locale.SortId, text.data());
  std::memcpy(key.data() + 3, text.data(), length);
  PutRowIdSuffix(key.data() + 3 + kTextWordSize, rowId);
}

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  if (length == 0) return 0;  // the keys of an empty key area may have no bytes at all
  int result = std::memcmp(a, b, length);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

int CompareKeys(const TKeyFormat& format, const std::uint8_t* a, const std::uint8_t* b) {
  const std::size_t length = static_cast<std::size_t>(format.KeyLength);
  switch (format.Kind) {
    case TKeyKind::SysDeleted:
      return CompareBytes(a, b, length);
    case TKeyKind::Text:
      return CompareTextKeys(format, a, b);
    case TKeyKind::Ordinary:
      break;
  }
  if (format.Locale.LanguageId == kAnsiStandardLanguageId) {
    int result = CompareBytes(a, b, length);
    return format.Descending ? -result : result;
  }
  return CompareFieldByField(format, a, b);
}

}  // namespace kura
