#include "dataset/field.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/database_error.h"
#include "dataset/data_set.h"

namespace kura {
namespace {

struct Range {
  std::int64_t low, high;
};

Range RangeOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftSmallint:
      return {-32768, 32767};
    case TFieldType::ftWord:
      return {0, 65535};
    case TFieldType::ftBoolean:
      return {0, 1};
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
    case TFieldType::ftDate:
      return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    case TFieldType::ftTime:
      return {0, 86'399'999};
    default:
      return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EDatabaseError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

bool IsIntegerType(TFieldType type) {
  switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
      return true;
    default:
      return false;
  }
}

bool IsFloatType(TFieldType type) {
  return type == TFieldType::ftFloat || type == TFieldType::ftCurrency ||
         type == TFieldType::ftBCD || type == TFieldType::ftDateTime;
}

bool IsTextType(TFieldType type) {
  return type != TFieldType::ftUnknown && !IsIntegerType(type) && !IsFloatType(type);
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftTypedBinary:
      return true;
    default:
      return false;
  }
}

TFieldValue ValueFromInteger(TFieldType type, std::int64_t value, std::string_view name) {
  if (IsTextType(type)) return TFieldValue::OfString(std::to_string(value));
  if (IsFloatType(type)) return {false, 0, static_cast<double>(value), {}};
  if (type == TFieldType::ftBoolean) return TFieldValue::OfInteger(value != 0);
  Range range = RangeOf(type);
  if (value < range.low || value > range.high)
    throw EDatabaseError(std::to_string(value) + " is not a valid value for field '" +
                         std::string(name) + "'. The allowed range is " +
                         std::to_string(range.low) + " to " + std::to_string(range.high));
  return TFieldValue::OfInteger(value);
}

TFieldValue ValueFromString(TFieldType type, std::string_view text, std::string_view name) {
  if (IsTextType(type) || type == TFieldType::ftUnknown)
    return TFieldValue::OfString(std::string(text));
  std::string_view number = Trim(text);
  if (number.empty()) return TFieldValue::Null();
  if (IsFloatType(type)) {
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size())
      throw EDatabaseError("'" + std::string(text) + "' is not a valid floating point value");
    return {false, 0, value, {}};
  }
  if (type == TFieldType::ftBoolean) {
    if (number == "True" || number == "true" || number == "1") return TFieldValue::OfInteger(1);
    if (number == "False" || number == "false" || number == "0") return TFieldValue::OfInteger(0);
    throw EDatabaseError("'" + std::string(text) + "' is not a valid boolean value");
  }
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) RaiseNotInteger(text);
  return ValueFromInteger(type, value, name);
}

TFieldValue ValueFromFloat(TFieldType type, double value, std::string_view name) {
  if (IsFloatType(type)) return {false, 0, value, {}};
  if (IsTextType(type)) return ValueFromString(type, std::to_string(value), name);
  if (!std::isfinite(value) || std::fabs(value) > 9.2e18)
    throw EDatabaseError("Value is out of range for field '" + std::string(name) + "'");
  return ValueFromInteger(type, std::llround(value), name);
}

std::int64_t ValueAsInteger(TFieldType type, const TFieldValue& value) {
  if (value.IsNull) return 0;
  if (IsFloatType(type)) return std::llround(value.Float);
  if (IsTextType(type)) {
    std::string_view number = Trim(value.Text);
    if (number.empty()) return 0;
    std::int64_t result = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), result);
    if (error != std::errc() || end != number.data() + number.size()) RaiseNotInteger(value.Text);
    return result;
  }
  return value.Integer;
}

std::string ValueAsString(TFieldType type, const TFieldValue& value) {
  if (value.IsNull) return {};
  if (IsTextType(type) || type == TFieldType::ftUnknown) return value.Text;
  if (type == TFieldType::ftBoolean) return value.Integer ? "True" : "False";
  if (IsFloatType(type)) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value.Float);
    return error == std::errc() ? std::string(buffer, end) : std::string();
  }
  return std::to_string(value.Integer);
}

double ValueAsFloat(TFieldType type, const TFieldValue& value) {
  if (value.IsNull) return 0;
  if (IsFloatType(type)) return value.Float;
  return static_cast<double>(ValueAsInteger(type, value));
}

TField::TField(TDataSet& dataSet, int index, TFieldDef def)
    : data_set_(dataSet), index_(index), def_(std::move(def)) {}

TFieldValue TField::Value() const {
  return data_set_.GetFieldValue(index_);
}
bool TField::IsNull() const {
  return Value().IsNull;
}

std::int32_t TField::AsInteger() const {
  std::int64_t value = ValueAsInteger(def_.DataType, Value());
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw EDatabaseError("Value of field '" + def_.Name + "' does not fit an integer");
  return static_cast<std::int32_t>(value);
}

std::string TField::AsString() const {
  return ValueAsString(def_.DataType, Value());
}
double TField::AsFloat() const {
  return ValueAsFloat(def_.DataType, Value());
}
bool TField::AsBoolean() const {
  return ValueAsInteger(def_.DataType, Value()) != 0;
}

void TField::SetAsInteger(std::int64_t value) {
  data_set_.CheckFieldWritable(*this);
  SetValue(ValueFromInteger(def_.DataType, value, def_.Name));
}

void TField::SetAsString(std::string_view value) {
  data_set_.CheckFieldWritable(*this);
  SetValue(ValueFromString(def_.DataType, value, def_.Name));
}

void TField::SetAsFloat(double value) {
  data_set_.CheckFieldWritable(*this);
  SetValue(ValueFromFloat(def_.DataType, value, def_.Name));
}

void TField::SetAsBoolean(bool value) {
  SetAsInteger(value ? 1 : 0);
}
void TField::Clear() {
  SetValue(TFieldValue::Null());
}
void TField::SetValue(const TFieldValue& value) {
  data_set_.SetFieldValue(*this, value);
}

}  // namespace kura
