// The field descriptor of a Kura table, in memory and as its 768 bytes in the data file.
//
// OFFSET  SIZE  DESCRIPTION
//      0     2  FieldNo: 1-based position of the descriptor
//      2    31  FieldName: length byte + up to 30 characters
//     33    51  FieldDescription: length byte + up to 50 characters
//     84     1  FieldType: type code (field_types.h), never 0
//     85     1  FieldSubType
//     86     1  FieldSize: declared size (1..250 for types 1, 9 and 15, else 0)
//     87     1  FieldDecimals: digits after the point for packed decimals, else 0
//     88     1  PhysicalSize: stored size (recomputed on reading)
//     89     1  PhysicalDecimals: copy of FieldDecimals
//     90     2  FieldOffset: offset of the field's slot in the record (5 for auto-increment)
//     92     1  Required: 1 = a value must be given
//     93     1  CharCase: 0 unchanged, 1 stored lower case, 2 stored upper case
//     94    51  MinValue: length byte + up to 50 characters, in the text form of values
//    145    51  MaxValue
//    196    51  DefaultValue
//    247     1  Computed: 1 for a result column computed by an expression
//    248   520  zero on disk
//    768        end
//
// A length byte larger than its area allows is cut to the area when read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kura {

inline constexpr std::size_t kFieldDescriptorSize = 768;
inline constexpr std::size_t kMaxFieldNameLength = 30;
inline constexpr std::size_t kMaxFieldDescriptionLength = 50;
inline constexpr std::size_t kMaxFieldValueTextLength = 50;

// Character case settings of string fields.
inline constexpr std::uint8_t kCharCaseNoChange = 0;
inline constexpr std::uint8_t kCharCaseLower = 1;
inline constexpr std::uint8_t kCharCaseUpper = 2;

struct TFieldDescriptor {
  std::uint16_t FieldNo = 0;
  std::string FieldName;
  std::string FieldDescription;
  std::uint8_t FieldType = 0;
  std::uint8_t FieldSubType = 0;
  std::uint8_t FieldSize = 0;
  std::uint8_t FieldDecimals = 0;
  // Stored size after the null indicator; wider than its byte on disk so that a hostile
  // declared size cannot wrap it.
  std::uint16_t PhysicalSize = 0;
  std::uint8_t PhysicalDecimals = 0;
  std::uint16_t FieldOffset = 0;
  bool Required = false;
  std::uint8_t CharCase = kCharCaseNoChange;
  std::string MinValue;
  std::string MaxValue;
  std::string DefaultValue;
  bool Computed = false;
};

// A descriptor of a field to be defined (a table's, or a cursor's calculated one).
TFieldDescriptor MakeFieldDescriptor(std::string name, std::uint8_t type, std::uint8_t size = 0,
                                     std::uint8_t subType = 0, std::uint8_t decimals = 0);

// Writes the descriptor's 768 bytes; texts longer than their areas are cut.
void EncodeFieldDescriptor(const TFieldDescriptor& descriptor,
                           std::span<std::uint8_t, kFieldDescriptorSize> bytes);

// Reads a descriptor from its 768 bytes, recomputing the physical size and decimals from
// type and declared size.
TFieldDescriptor DecodeFieldDescriptor(std::span<const std::uint8_t, kFieldDescriptorSize> bytes);

// Recomputes the physical size and decimals of the descriptor from its type and declared size.
void RecomputePhysicalSize(TFieldDescriptor& descriptor);

// Whether field i of a field list is sound: a valid name not used by an earlier field
// (blanks and ASCII case aside), a type, a size only where the type takes one (strings and
// bytes, at most the largest declared size), decimals only for BCD, and validity texts that
// convert to the type. Creating and opening a table, and a cursor's own field list, apply the
// same rules.
// The number of BLOB fields (type 3) among the fields.
std::size_t CountBlobFields(std::span<const TFieldDescriptor> fields);
// Whether a field of the type declares its size (strings and byte fields).
bool HasDeclaredSize(std::uint8_t type);
// Whether a field or index name may start with the byte: a letter, "_" or a byte 128..254.
bool ValidFirstNameByte(unsigned char c);
bool FieldDefinitionIsSound(std::span<const TFieldDescriptor> fields, std::size_t i);
// The name part of that check: not empty, at most 30 characters, starting with a letter, "_"
// or a byte 128..254, and not the name of an earlier field.
bool FieldNameIsSound(std::span<const TFieldDescriptor> fields, std::size_t i);

// Numbers the fields 1..n, recomputes their physical sizes and lays out their slots: the
// auto-increment field at offset 5, every other field right after the previous slot starting
// at 9. Answers the record size, 9 + the sum of (1 + stored size) over the slotted fields.
std::size_t LayoutFields(std::span<TFieldDescriptor> fields);

}  // namespace kura
