#include "engine/search_key.h"

#include <algorithm>

#include "storage/collation.h"
#include "storage/field_types.h"

namespace kura {
namespace {

int FieldCountUsed(const TKeyFormat& format, int fieldCount) {
  const int parts = static_cast<int>(format.Parts.size());
  return fieldCount > 0 && fieldCount < parts ? fieldCount : parts;
}

// Where byte `offset` of a key lies: its part (null when in the RowId suffix) and whether it
// is a value byte of that part.
struct TKeyByte {
  const TKeyPart* Part = nullptr;
  bool ValueByte = false;
};

TKeyByte LocateByte(const TKeyFormat& format, int offset) {
  int start = 0;
  for (const TKeyPart& part : format.Parts) {
    const int end = start + 1 + part.KeySize;
    if (offset < end) return {&part, offset > start};
    start = end;
  }
  return {};
}

}  // namespace

int LeadingKeyLength(const TKeyFormat& format, int fieldCount, int partialLength) {
  const int used = FieldCountUsed(format, fieldCount);
  int length = 0;
  for (int i = 0; i < used; ++i) {
    const TKeyPart& part = format.Parts[static_cast<std::size_t>(i)];
    const bool partialString =
        i == used - 1 && partialLength > 0 && part.Field.FieldType == kFieldTypeString;
    length += 1 + (partialString ? std::min(partialLength, part.KeySize) : part.KeySize);
  }
  return std::min(length, format.KeyLength);
}

bool IsPartialLookup(const TKeyFormat& format, int fieldCount, int partialLength) {
  const int parts = static_cast<int>(format.Parts.size());
  return (fieldCount > 0 && fieldCount < parts) || partialLength > 0 || !format.Unique;
}

void PadKey(const TKeyFormat& format, std::span<std::uint8_t> key, int from, bool highest) {
  const bool locale = format.Locale.LanguageId != kAnsiStandardLanguageId;
  const auto& order = CharOrderMap(format.Locale.LanguageId, format.Locale.SortId);
  const int end = std::min<int>(format.KeyLength, static_cast<int>(key.size()));
  for (int offset = std::max(from, 0); offset < end; ++offset) {
    TKeyByte where = LocateByte(format, offset);
    bool negated = format.Descending;
    if (where.Part != nullptr && locale && where.Part->Descending) negated = true;
    const bool high = highest != negated;
    std::uint8_t value = high ? 0xFF : 0x00;
    if (locale && where.ValueByte && where.Part->Field.FieldType == kFieldTypeString) {
      value = high ? order[255] : order[0];
    }
    key[static_cast<std::size_t>(offset)] = value;
  }
}

std::vector<std::uint8_t> RangeLimitKey(const TKeyFormat& format,
                                        std::span<const std::uint8_t> given, int fieldCount,
                                        bool highest) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(format.KeyLength), 0);
  if (given.empty()) {
    PadKey(format, key, 0, highest);
    return key;
  }
  std::copy_n(given.begin(), std::min(given.size(), key.size()), key.begin());
  const int parts = static_cast<int>(format.Parts.size());
  const bool allFields = fieldCount <= 0 || fieldCount >= parts;
  if (!allFields || !format.Unique)
    PadKey(format, key, LeadingKeyLength(format, fieldCount), highest);
  return key;
}

}  // namespace kura
