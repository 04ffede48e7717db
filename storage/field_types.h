// Field type and sub-type codes of Kura tables and the bytes each type occupies in a record.
//
//   type  sub-type                 kind                                 stored size
//   1     0 / 31 / 32              character string, zero-terminated    n + 1 (1 <= n <= 250)
//   2     0                        date                                 4
//   3     0, 22-28, 33, 34         BLOB reference                       8
//   4     0                        boolean                              2
//   5     0                        16-bit signed integer                2
//   6     0 / 29                   32-bit signed integer / auto-inc     4
//   7     0 / 21                   64-bit float / money                 8
//   8     0                        packed decimal                       34
//   9     0                        fixed-length bytes                   n (1 <= n <= 250)
//   10    0                        time of day                          4
//   11    0                        date and time                        8
//   12    0                        16-bit unsigned integer              2
//   13, 14                         never created; sizes 4 and 10
//   15    0                        variable bytes                       n (1 <= n <= 250)
//   18    0                        64-bit signed integer                8
#pragma once

#include <cstdint>

namespace kura {

inline constexpr std::uint8_t kFieldTypeString = 1;
inline constexpr std::uint8_t kFieldTypeDate = 2;
inline constexpr std::uint8_t kFieldTypeBlob = 3;
inline constexpr std::uint8_t kFieldTypeBoolean = 4;
inline constexpr std::uint8_t kFieldTypeSmallInt = 5;
inline constexpr std::uint8_t kFieldTypeInteger = 6;
inline constexpr std::uint8_t kFieldTypeFloat = 7;
inline constexpr std::uint8_t kFieldTypeBcd = 8;
inline constexpr std::uint8_t kFieldTypeBytes = 9;
inline constexpr std::uint8_t kFieldTypeTime = 10;
inline constexpr std::uint8_t kFieldTypeTimestamp = 11;
inline constexpr std::uint8_t kFieldTypeWord = 12;
inline constexpr std::uint8_t kFieldTypeUnused13 = 13;
inline constexpr std::uint8_t kFieldTypeUnused14 = 14;
inline constexpr std::uint8_t kFieldTypeVarBytes = 15;
inline constexpr std::uint8_t kFieldTypeLargeInt = 18;

inline constexpr std::uint8_t kSubTypeNone = 0;
inline constexpr std::uint8_t kSubTypeMoney = 21;
inline constexpr std::uint8_t kSubTypeMemo = 22;
inline constexpr std::uint8_t kSubTypeBinaryBlob = 23;
inline constexpr std::uint8_t kSubTypeFormattedMemo = 24;
inline constexpr std::uint8_t kSubTypeOleObject = 25;
inline constexpr std::uint8_t kSubTypeGraphic = 26;
inline constexpr std::uint8_t kSubTypeOleObject2 = 27;
inline constexpr std::uint8_t kSubTypeTypedBinary = 28;
inline constexpr std::uint8_t kSubTypeAutoInc = 29;
inline constexpr std::uint8_t kSubTypeFixedChar = 31;
inline constexpr std::uint8_t kSubTypeWideString = 32;
inline constexpr std::uint8_t kSubTypeServerBlob2 = 33;
inline constexpr std::uint8_t kSubTypeServerBlob1 = 34;

// Longest declared size of a string or bytes field.
inline constexpr int kMaxDeclaredSize = 250;
// Stored size of a packed decimal: precision (1) + sign-and-scale (1) + 32 digit bytes.
inline constexpr int kBcdStoredSize = 1 + 1 + 32;
// A packed decimal contributes its value as fixed point with 4 decimals (8 bytes) to a key.
inline constexpr int kBcdKeySize = 8;

// The bytes a field of the type and declared size occupies after its null indicator. The
// physical size of a descriptor is always recomputed with this, never taken from a file.
constexpr int StoredSize(std::uint8_t fieldType, int declaredSize) {
  switch (fieldType) {
    case kFieldTypeString:
      return declaredSize + 1;
    case kFieldTypeDate:
    case kFieldTypeInteger:
    case kFieldTypeTime:
    case kFieldTypeUnused13:
      return 4;
    case kFieldTypeBlob:
    case kFieldTypeFloat:
    case kFieldTypeTimestamp:
    case kFieldTypeLargeInt:
      return 8;
    case kFieldTypeBoolean:
    case kFieldTypeSmallInt:
    case kFieldTypeWord:
      return 2;
    case kFieldTypeBcd:
      return kBcdStoredSize;
    case kFieldTypeUnused14:
      return 10;
    default:
      return declaredSize;
  }
}

// True for the auto-increment field, which has no slot of its own: its value is the RowId.
constexpr bool IsAutoIncrement(std::uint8_t fieldType, std::uint8_t subType) {
  return fieldType == kFieldTypeInteger && subType == kSubTypeAutoInc;
}

}  // namespace kura
