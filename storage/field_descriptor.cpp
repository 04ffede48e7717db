#include "storage/field_descriptor.h"

#include <algorithm>
#include <cstring>

#include "storage/ascii_case.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

constexpr std::size_t kFieldNoOffset = 0;
constexpr std::size_t kFieldNameOffset = 2;
constexpr std::size_t kFieldDescriptionOffset = 33;  // 2 + (1 + 30)
constexpr std::size_t kFieldTypeOffset = 84;         // 33 + (1 + 50)
constexpr std::size_t kFieldSubTypeOffset = 85;
constexpr std::size_t kFieldSizeOffset = 86;
constexpr std::size_t kFieldDecimalsOffset = 87;
constexpr std::size_t kPhysicalSizeOffset = 88;
constexpr std::size_t kPhysicalDecimalsOffset = 89;
constexpr std::size_t kFieldOffsetOffset = 90;
constexpr std::size_t kRequiredOffset = 92;
constexpr std::size_t kCharCaseOffset = 93;
constexpr std::size_t kMinValueOffset = 94;
constexpr std::size_t kMaxValueOffset = 145;      // 94 + (1 + 50)
constexpr std::size_t kDefaultValueOffset = 196;  // 145 + (1 + 50)
constexpr std::size_t kComputedOffset = 247;      // 196 + (1 + 50)
static_assert(kComputedOffset + 1 + 520 == kFieldDescriptorSize);

void PutText(std::uint8_t* area, const std::string& text, std::size_t capacity) {
  std::size_t length = std::min(text.size(), capacity);
  area[0] = static_cast<std::uint8_t>(length);
  std::memcpy(area + 1, text.data(), length);
}

std::string GetText(const std::uint8_t* area, std::size_t capacity) {
  std::size_t length = std::min<std::size_t>(area[0], capacity);
  return std::string(reinterpret_cast<const char*>(area + 1), length);
}

std::string_view TrimmedBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Whether a validity text converts to the field's type (strings and bytes always do).
bool ConvertibleText(const TFieldDescriptor& field, const std::string& text) {
  if (text.empty() || field.FieldType == kFieldTypeString || HasDeclaredSize(field.FieldType))
    return true;
  try {
    ValueFromText(field.FieldType, text, field.FieldSize, field.FieldDecimals);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::size_t CountBlobFields(std::span<const TFieldDescriptor> fields) {
  return static_cast<std::size_t>(
      std::count_if(fields.begin(), fields.end(),
                    [](const TFieldDescriptor& f) { return f.FieldType == kFieldTypeBlob; }));
}

bool HasDeclaredSize(std::uint8_t type) {
  return type == kFieldTypeString || type == kFieldTypeBytes || type == kFieldTypeVarBytes;
}

bool ValidFirstNameByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

bool FieldNameIsSound(std::span<const TFieldDescriptor> fields, std::size_t i) {
  const TFieldDescriptor& field = fields[i];
  const std::string_view name = TrimmedBlanks(field.FieldName);
  if (field.FieldName.empty() || field.FieldName.size() > kMaxFieldNameLength ||
      !ValidFirstNameByte(static_cast<unsigned char>(field.FieldName[0])))
    return false;
  for (std::size_t j = 0; j < i; ++j) {
    if (EqualsIgnoringAsciiCase(TrimmedBlanks(fields[j].FieldName), name)) return false;
  }
  return true;
}

// Creating and opening a table apply the same rules, so a table that could be created can
// always be opened again.
bool FieldDefinitionIsSound(std::span<const TFieldDescriptor> fields, std::size_t i) {
  const TFieldDescriptor& field = fields[i];
  if (!FieldNameIsSound(fields, i)) return false;
  const bool badSize =
      HasDeclaredSize(field.FieldType) ? field.FieldSize > kMaxDeclaredSize : field.FieldSize != 0;
  const bool badValues = !ConvertibleText(field, field.MinValue) ||
                         !ConvertibleText(field, field.MaxValue) ||
                         !ConvertibleText(field, field.DefaultValue);
  const bool badDecimals = field.FieldDecimals != 0 && field.FieldType != kFieldTypeBcd;
  return field.FieldType != 0 && !badSize && !badValues && !badDecimals;
}

TFieldDescriptor MakeFieldDescriptor(std::string name, std::uint8_t type, std::uint8_t size,
                                     std::uint8_t subType, std::uint8_t decimals) {
  TFieldDescriptor field;
  field.FieldName = std::move(name);
  field.FieldType = type;
  field.FieldSize = size;
  field.FieldSubType = subType;
  field.FieldDecimals = decimals;
  return field;
}

void EncodeFieldDescriptor(const TFieldDescriptor& d,
                           std::span<std::uint8_t, kFieldDescriptorSize> bytes) {
  std::uint8_t* p = bytes.data();
  std::memset(p, 0, kFieldDescriptorSize);
  PutU16LE(p + kFieldNoOffset, d.FieldNo);
  PutText(p + kFieldNameOffset, d.FieldName, kMaxFieldNameLength);
  PutText(p + kFieldDescriptionOffset, d.FieldDescription, kMaxFieldDescriptionLength);
  p[kFieldTypeOffset] = d.FieldType;
  p[kFieldSubTypeOffset] = d.FieldSubType;
  p[kFieldSizeOffset] = d.FieldSize;
  p[kFieldDecimalsOffset] = d.FieldDecimals;
  p[kPhysicalSizeOffset] = static_cast<std::uint8_t>(d.PhysicalSize);
  p[kPhysicalDecimalsOffset] = d.PhysicalDecimals;
  PutU16LE(p + kFieldOffsetOffset, d.FieldOffset);
  p[kRequiredOffset] = d.Required ? 1 : 0;
  p[kCharCaseOffset] = d.CharCase;
  PutText(p + kMinValueOffset, d.MinValue, kMaxFieldValueTextLength);
  PutText(p + kMaxValueOffset, d.MaxValue, kMaxFieldValueTextLength);
  PutText(p + kDefaultValueOffset, d.DefaultValue, kMaxFieldValueTextLength);
  p[kComputedOffset] = d.Computed ? 1 : 0;
}

TFieldDescriptor DecodeFieldDescriptor(std::span<const std::uint8_t, kFieldDescriptorSize> bytes) {
  const std::uint8_t* p = bytes.data();
  TFieldDescriptor d;
  d.FieldNo = GetU16LE(p + kFieldNoOffset);
  d.FieldName = GetText(p + kFieldNameOffset, kMaxFieldNameLength);
  d.FieldDescription = GetText(p + kFieldDescriptionOffset, kMaxFieldDescriptionLength);
  d.FieldType = p[kFieldTypeOffset];
  d.FieldSubType = p[kFieldSubTypeOffset];
  d.FieldSize = p[kFieldSizeOffset];
  d.FieldDecimals = p[kFieldDecimalsOffset];
  d.FieldOffset = GetU16LE(p + kFieldOffsetOffset);
  d.Required = p[kRequiredOffset] != 0;
  d.CharCase = p[kCharCaseOffset];
  d.MinValue = GetText(p + kMinValueOffset, kMaxFieldValueTextLength);
  d.MaxValue = GetText(p + kMaxValueOffset, kMaxFieldValueTextLength);
  d.DefaultValue = GetText(p + kDefaultValueOffset, kMaxFieldValueTextLength);
  d.Computed = p[kComputedOffset] != 0;
  RecomputePhysicalSize(d);
  return d;
}

void RecomputePhysicalSize(TFieldDescriptor& d) {
  d.PhysicalSize = static_cast<std::uint16_t>(StoredSize(d.FieldType, d.FieldSize));
  d.PhysicalDecimals = d.FieldDecimals;
}

std::size_t LayoutFields(std::span<TFieldDescriptor> fields) {
  std::size_t offset = kRecordHeaderSize;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDescriptor& field = fields[i];
    field.FieldNo = static_cast<std::uint16_t>(i + 1);
    RecomputePhysicalSize(field);
    if (IsAutoIncrement(field.FieldType, field.FieldSubType)) {
      field.FieldOffset = kRowIdOffset;
      continue;
    }
    // Offsets past 65535 only occur in records too large to create; the caller rejects
    // those by the answered size.
    field.FieldOffset = static_cast<std::uint16_t>(offset);
    offset += 1 + field.PhysicalSize;
  }
  return offset;
}

}  // namespace kura
