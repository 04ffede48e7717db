// Index descriptors and index keys of a Kura index file.
//
// Index descriptor, 120 bytes (one per index slot in the index file header):
//
// OFFSET  SIZE  DESCRIPTION
//      0    31  IndexName: length byte + up to 30 characters; empty for the primary index
//     31     2  KeyLength: bytes in one key (K)
//     33     1  Descending: 1 = the whole index is in descending order
//     34     1  CaseInsensitive: 1 = string parts of the key are upper-cased
//     35     1  Unique: 1 = keys are unique (always for the primary index)
//     36     1  Compression of leaf pages: 0 none, 1 duplicate bytes, 2 trailing bytes, 3 both
//     37     1  KeyFieldCount: 0..16
//     38    16  FieldDescending: per key field, 1 = that field sorts descending
//     54    32  KeyFields: up to 16 field numbers of 2 bytes, unused ones 0
//     86     4  RootPage (signed): root page number, 0 = empty index
//     90     4  FreePage (signed): first page of the index's free chain, 0 = none
//     94     2  zero
//     96     4  ParamPage (signed): the text index's parameter page, 0 elsewhere
//    100     1  UncountedIndex: 1 = branch entries carry no key counts
//    101     1  TemporaryIndex: 1 = pages in a temporary file, descriptor never written
//    102    18  zero
//    120        end
//
// Key of an index over fields f1..fk: per field one null byte (1 value, 0 NULL) and KeySize
// bytes of encoded value; a non-unique index appends the record's RowId (4 bytes). Value
// encodings make unsigned byte order equal value order:
//
//   string                    characters zero-padded to the stored size; upper-cased with
//                             the table locale when the index is case-insensitive
//   date, integer, time       4 bytes big-endian, top bit inverted
//   small integer             2 bytes big-endian, top bit inverted
//   boolean, word             2 bytes big-endian
//   float, money, timestamp   8 bytes: >= 0 big-endian bits with the top bit set; negative
//                             all 8 big-endian bytes inverted
//   packed decimal            fixed point in 1/10000 units (0 for precision 0), 8 bytes
//                             big-endian, top bit inverted
//   large integer             8 bytes big-endian, top bit inverted
//   others                    the stored bytes
//
// A descending field of a table without a locale has its null byte and value bytes inverted
// (a string keeps the last byte of its value area); with a locale nothing is inverted and
// the comparison negates instead.
//
// Invariants of a descriptor (checked by IndexDescriptorViolation):
//   1. KeyFieldCount <= 16 and KeyFields[0..count) are non-zero, the rest zero.
//   2. Compression <= 3.
//   3. RootPage, FreePage and ParamPage are each 0 or a page below NextPageNo.
//   4. The field parts of a key take at most 522 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/field_descriptor.h"
#include "storage/record_image.h"

namespace kura {

inline constexpr std::size_t kIndexDescriptorSize = 120;
inline constexpr std::size_t kMaxIndexNameLength = 30;
inline constexpr int kMaxKeyFields = 16;
// The field parts of a key (null bytes and values) may take at most this many bytes.
inline constexpr int kMaxKeyFieldBytes = 522;
// The RowId suffix of non-unique keys and the text index.
inline constexpr int kRowIdSuffixSize = 4;
// Largest key: the field parts plus the RowId suffix.
inline constexpr int kMaxKeyLength = kMaxKeyFieldBytes + kRowIdSuffixSize;

// Index slots of the index file header.
inline constexpr int kPrimaryIndexSlot = 0;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kSysDeletedSlot = 31;
inline constexpr int kSysTextSlot = 32;
inline constexpr int kIndexSlotCount = 33;
inline constexpr std::string_view kSysDeletedName = "Sys Deleted";
inline constexpr std::string_view kSysTextName = "Sys Text";
// "Sys Deleted": the Deleted byte and the RowId.
inline constexpr int kSysDeletedKeyLength = 1 + kRowIdSuffixSize;
// "Sys Text": 1, field number (2), word (61), RowId (4).
inline constexpr int kTextWordSize = 61;
inline constexpr int kMaxTextWordLength = 60;
inline constexpr int kSysTextKeyLength = 1 + 2 + kTextWordSize + kRowIdSuffixSize;

// Leaf page compression modes.
inline constexpr std::uint8_t kCompressNone = 0;
inline constexpr std::uint8_t kCompressDupBytes = 1;
inline constexpr std::uint8_t kCompressTrailBytes = 2;
inline constexpr std::uint8_t kCompressFull = 3;

struct TIndexDescriptor {
  std::string IndexName;
  std::uint16_t KeyLength = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
  bool Unique = false;
  std::uint8_t Compression = kCompressNone;
  std::uint8_t KeyFieldCount = 0;
  std::array<bool, kMaxKeyFields> FieldDescending{};
  std::array<std::uint16_t, kMaxKeyFields> KeyFields{};
  std::int32_t RootPage = 0;
  std::int32_t FreePage = 0;
  std::int32_t ParamPage = 0;
  bool UncountedIndex = false;
  bool TemporaryIndex = false;

  bool operator==(const TIndexDescriptor&) const = default;
};

// Writes the descriptor's 120 bytes; a name longer than 30 characters is cut.
void EncodeIndexDescriptor(const TIndexDescriptor& descriptor,
                           std::span<std::uint8_t, kIndexDescriptorSize> bytes);
// Reads a descriptor from its 120 bytes (a name length past its area is cut to the area).
TIndexDescriptor DecodeIndexDescriptor(std::span<const std::uint8_t, kIndexDescriptorSize> bytes);
// Whether a stored descriptor carries the TemporaryIndex flag, read without decoding the rest.
bool DescriptorMarkedTemporary(std::span<const std::uint8_t, kIndexDescriptorSize> bytes);

// The descriptors of the two system indexes every index file carries.
TIndexDescriptor SysDeletedDescriptor();
TIndexDescriptor SysTextDescriptor();

// The number of a slot's kind of key comparison.
enum class TKeyKind { Ordinary, SysDeleted, Text };

// One key field: where its value lies in the record and how it is encoded.
struct TKeyPart {
  TFieldDescriptor Field;
  int KeySize = 0;          // bytes after the null byte
  bool Descending = false;  // this field sorts descending (Descending of the index unset)
};

// Everything needed to build and compare the keys of one index.
struct TKeyFormat {
  TKeyKind Kind = TKeyKind::Ordinary;
  int KeyLength = 0;
  bool Unique = true;
  bool Descending = false;
  bool CaseInsensitive = false;
  TTableLocale Locale;
  std::vector<TKeyPart> Parts;
};

// The key length of an index over the fields: sum of (KeySize + 1), plus 4 when not unique.
int KeyLengthOf(std::span<const TFieldDescriptor> keyFields, bool unique);

// The key format of the index in `slot` with its descriptor, over the table's fields (field
// numbers index them from 1). Raises 8961 when a key field number names no field, the field
// is a BLOB or the field parts pass 522 bytes.
TKeyFormat MakeKeyFormat(int slot, const TIndexDescriptor& descriptor,
                         std::span<const TFieldDescriptor> tableFields, TTableLocale locale);

// Encodes one field value (its stored bytes, little-endian as in the record) into `out` of
// KeySize bytes, after the null byte.
void EncodeKeyValue(const TKeyPart& part, std::span<const std::uint8_t> stored, TTableLocale locale,
                    bool caseInsensitive, std::span<std::uint8_t> out);

// Builds the key of a record image into `key` (KeyLength bytes): each field's null byte and
// value, the inversion of descending fields without a locale, and the RowId suffix of a
// non-unique index. "Sys Deleted" keys are the Deleted byte and the RowId.
void BuildKey(const TKeyFormat& format, std::span<const std::uint8_t> record,
              std::span<std::uint8_t> key);

// Writes a RowId as 4 bytes big-endian with the top bit inverted.
void PutRowIdSuffix(std::uint8_t* p, std::int32_t rowId);
std::int32_t GetRowIdSuffix(const std::uint8_t* p);

// The text index key of one word (at most 60 characters, upper-cased here with the locale).
void BuildTextKey(std::uint16_t fieldNo, std::string_view word, std::int32_t rowId,
                  TTableLocale locale, std::span<std::uint8_t, kSysTextKeyLength> key);

// Unsigned byte comparison of two runs of `length` bytes: negative, zero or positive.
int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t length);

// Compares two keys of the format: negative, zero or positive.
int CompareKeys(const TKeyFormat& format, const std::uint8_t* a, const std::uint8_t* b);

// Checks invariants 1, 2 and 4 of a descriptor, and invariant 3 against nextPageNo; answers
// an empty string when they hold, else the first violation.
std::string IndexDescriptorViolation(const TIndexDescriptor& descriptor, std::int32_t nextPageNo);

}  // namespace kura
