#include "engine/record_validation.h"

#include <optional>
#include <vector>

#include "base/engine_codes.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

// -1, 0 or 1, or nullopt when the type has no order or a value does not read as one.
using TOrder = std::optional<int>;

template <typename T>
int Compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

TOrder CompareNumbers(std::uint8_t type, const std::uint8_t* a, const std::uint8_t* b) {
  switch (type) {
    case kFieldTypeSmallInt:
      return Compare3(GetI16LE(a), GetI16LE(b));
    case kFieldTypeWord:
      return Compare3(GetU16LE(a), GetU16LE(b));
    case kFieldTypeDate:
    case kFieldTypeTime:
    case kFieldTypeInteger:
      return Compare3(GetI32LE(a), GetI32LE(b));
    case kFieldTypeLargeInt:
      return Compare3(GetI64LE(a), GetI64LE(b));
    case kFieldTypeFloat:
    case kFieldTypeTimestamp: {
      const double x = GetF64LE(a);
      const double y = GetF64LE(b);
      if (x != x || y != y) return std::nullopt;  // NaN has no place in the order
      return Compare3(x, y);
    }
    case kFieldTypeBcd: {
      const auto x = BcdToFixed(std::span<const std::uint8_t, 34>(a, 34));
      const auto y = BcdToFixed(std::span<const std::uint8_t, 34>(b, 34));
      if (!x || !y) return std::nullopt;
      return Compare3(*x, *y);
    }
    default:
      return std::nullopt;
  }
}

bool Ordered(const TFieldDescriptor& field) {
  switch (field.FieldType) {
    case kFieldTypeBoolean:
    case kFieldTypeBlob:
    case kFieldTypeBytes:
    case kFieldTypeVarBytes:
    case kFieldTypeUnused13:
    case kFieldTypeUnused14:
      return false;
    default:
      return true;
  }
}

// The value compared with a bound text: negative when below it, positive when above.
TOrder CompareWithBound(const TFieldDescriptor& field, const std::vector<std::uint8_t>& value,
                        const std::string& bound, TTableLocale locale) {
  if (field.FieldType == kFieldTypeString) {
    return CompareLocaleStrings(locale.LanguageId, locale.SortId,
                                reinterpret_cast<const char*>(value.data()), false, 0,
                                bound.c_str());
  }
  std::vector<std::uint8_t> limit;
  try {
    limit = ValueFromText(field.FieldType, bound, field.FieldSize, field.FieldDecimals);
  } catch (const EConvertError&) {
    return std::nullopt;  // an unreadable bound checks nothing
  }
  if (limit.size() < field.PhysicalSize) return std::nullopt;
  return CompareNumbers(field.FieldType, value.data(), limit.data());
}

}  // namespace

TValidationFailure CheckRecordValues(std::span<const std::uint8_t> record,
                                     std::span<const TFieldDescriptor> fields,
                                     TTableLocale locale) {
  for (const TFieldDescriptor& field : fields) {
    if (field.Computed) continue;
    const bool bounded = !field.MinValue.empty() || !field.MaxValue.empty();
    if (!field.Required && !bounded) continue;
    // One byte more than the slot: a string read this way always ends in a zero.
    std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
    const bool isNull = GetField(record, field, value);
    if (field.Required && isNull) return {codes::kValueRequired, field.FieldName};
    // A NULL has no value to compare: only Required refuses it.
    if (isNull || !bounded || !Ordered(field)) continue;
    if (!field.MinValue.empty()) {
      const TOrder order = CompareWithBound(field, value, field.MinValue, locale);
      if (order && *order < 0) return {codes::kBelowMinimum, field.FieldName};
    }
    if (!field.MaxValue.empty()) {
      const TOrder order = CompareWithBound(field, value, field.MaxValue, locale);
      if (order && *order > 0) return {codes::kAboveMaximum, field.FieldName};
    }
  }
  return {};
}

void StoreFieldDefaults(std::span<std::uint8_t> record, std::span<const TFieldDescriptor> fields,
                        TTableLocale locale, TNow now) {
  for (const TFieldDescriptor& field : fields) {
    if (field.DefaultValue.empty() || field.Computed || field.FieldSubType == kSubTypeAutoInc ||
        field.FieldType == kFieldTypeBlob)
      continue;
    std::vector<std::uint8_t> value;
    try {
      value = ValueFromText(field.FieldType, field.DefaultValue, field.FieldSize,
                            field.FieldDecimals, now);
    } catch (const EConvertError&) {
      continue;
    }
    SetField(record, field, value.data(), true, locale);
  }
}

}  // namespace kura
