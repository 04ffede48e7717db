#include "storage/field_descriptor.h"

#include <algorithm>
#include <cstring>

#include "storage/field_types.h"
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

}  // namespace

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
