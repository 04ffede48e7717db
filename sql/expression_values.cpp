#include "sql/expression_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "sql/expression_text.h"
#include "storage/collation.h"
#include "storage/dbcs.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {

void CheckComputedLength(std::size_t length) {
  if (length > kMaxComputedStringLength) RaiseEngineError(codes::kOutOfMemory);
}

// --- Type classes ---------------------------------------------------------------------------

bool IsIntegerType(std::uint8_t type) {
  return type == kFieldTypeSmallInt || type == kFieldTypeInteger || type == kFieldTypeWord ||
         type == kFieldTypeLargeInt;
}

bool IsNumericType(std::uint8_t type) {
  return IsIntegerType(type) || type == kFieldTypeFloat || type == kFieldTypeBcd;
}

bool IsDateTimeType(std::uint8_t type) {
  return type == kFieldTypeDate || type == kFieldTypeTime || type == kFieldTypeTimestamp;
}

bool IsStringLike(std::uint8_t type, std::uint8_t subType) {
  return type == kFieldTypeString || (type == kFieldTypeBlob && subType == kSubTypeMemo);
}

std::int32_t FixedSizeOf(std::uint8_t type) {
  switch (type) {
    case kFieldTypeString:
    case kFieldTypeBytes:
    case kFieldTypeVarBytes:
    case kUntyped:
      return 0;
    default:
      return StoredSize(type, 0);
  }
}

// --- Storing values -------------------------------------------------------------------------

namespace {

void SetTyped(TExpToken& node, std::uint8_t type, std::int32_t size) {
  node.FDataType = type;
  node.FDataSize = size;
  node.FIsNull = 0;
  node.Reserve(static_cast<std::size_t>(size) + 1);
}

}  // namespace

void SetInt32(TExpToken& node, std::int32_t value) {
  SetTyped(node, kFieldTypeInteger, 4);
  PutI32LE(node.Data(), value);
}

void SetInt64(TExpToken& node, std::int64_t value) {
  SetTyped(node, kFieldTypeLargeInt, 8);
  PutI64LE(node.Data(), value);
}

void SetFloat(TExpToken& node, double value) {
  SetTyped(node, kFieldTypeFloat, 8);
  PutF64LE(node.Data(), value);
}

void SetBoolean(TExpToken& node, bool value) {
  SetTyped(node, kFieldTypeBoolean, 2);
  PutU16LE(node.Data(), value ? 1 : 0);
}

void SetDate(TExpToken& node, std::int32_t day) {
  SetTyped(node, kFieldTypeDate, 4);
  PutI32LE(node.Data(), day);
}

void SetTime(TExpToken& node, std::int32_t milliseconds) {
  SetTyped(node, kFieldTypeTime, 4);
  PutI32LE(node.Data(), milliseconds);
}

void SetTimestamp(TExpToken& node, double milliseconds) {
  SetTyped(node, kFieldTypeTimestamp, 8);
  PutF64LE(node.Data(), milliseconds);
}

void SetString(TExpToken& node, std::string_view text) {
  text = text.substr(0, text.find('\0'));
  SetTyped(node, kFieldTypeString, static_cast<std::int32_t>(text.size() + 1));
  std::memcpy(node.Data(), text.data(), text.size());
  node.Data()[text.size()] = 0;
  node.FIsNull = text.empty() ? 1 : 0;
}

bool SetFixed(TExpToken& node, std::int64_t units, std::uint8_t scale) {
  std::optional<TBcd> bcd = BcdFromFixed(units, scale);
  SetTyped(node, kFieldTypeBcd, kBcdStoredSize);
  node.FScale = scale;
  if (!bcd) {
    SetNullValue(node);
    return false;
  }
  std::memcpy(node.Data(), bcd->data(), bcd->size());
  return true;
}

void StoreInteger(TExpToken& node, std::int64_t value) {
  std::uint8_t type = node.FDataType;
  SetTyped(node, type, FixedSizeOf(type));
  switch (type) {
    case kFieldTypeSmallInt:
    case kFieldTypeWord:
    case kFieldTypeBoolean:
      PutU16LE(node.Data(), static_cast<std::uint16_t>(value));
      break;
    case kFieldTypeLargeInt:
      PutI64LE(node.Data(), value);
      break;
    default:
      PutU32LE(node.Data(), static_cast<std::uint32_t>(value));
      break;
  }
}

bool FitsIntegerType(std::uint8_t type, std::int64_t value) {
  switch (type) {
    case kFieldTypeSmallInt:
      return value >= std::numeric_limits<std::int16_t>::min() &&
             value <= std::numeric_limits<std::int16_t>::max();
    case kFieldTypeWord:
      return value >= 0 && value <= std::numeric_limits<std::uint16_t>::max();
    case kFieldTypeLargeInt:
    case kFieldTypeBoolean:
      return true;
    default:
      return value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max();
  }
}

void RaiseIntegerOverflow(const TExpToken& expression, std::uint8_t type, std::uint8_t subType) {
  std::string message = "Integer overflow: '" + ExpressionText(expression) + "' does not fit in " +
                        std::string(TypeName(type, subType));
  RaiseEngineError(codes::kSqlError, {}, {}, {}, {}, {}, {}, message);
}

void StoreCheckedInteger(TExpToken& node, std::int64_t value, const TExpToken& expression) {
  if (!FitsIntegerType(node.FDataType, value))
    RaiseIntegerOverflow(expression, node.FDataType, node.FSubType);
  StoreInteger(node, value);
}

void SetNullValue(TExpToken& node) {
  node.FIsNull = 1;
  std::size_t size = node.FDataSize > 0 ? static_cast<std::size_t>(node.FDataSize) : 1;
  node.Reserve(size);
  node.ZeroValue(size);
}

void CopyValue(const TExpToken& source, TExpToken& target) {
  target.FDataType = source.FDataType;
  target.FSubType = source.FSubType;
  target.FDataSize = source.FDataSize;
  target.FScale = source.FScale;
  target.FIsNull = source.FIsNull;
  std::size_t size = source.FDataSize > 0 ? static_cast<std::size_t>(source.FDataSize) : 0;
  size = std::min(size, source.FData.size());
  target.Reserve(size + 1);
  std::memcpy(target.Data(), source.Data(), size);
  target.Data()[size] = 0;
}

// --- Reading values -------------------------------------------------------------------------

std::int64_t ReadInteger(const TExpToken& node) {
  const std::uint8_t* p = node.Data();
  switch (node.FDataType) {
    case kFieldTypeSmallInt:
      return GetI16LE(p);
    case kFieldTypeWord:
    case kFieldTypeBoolean:
      return GetU16LE(p);
    case kFieldTypeLargeInt:
      return GetI64LE(p);
    case kFieldTypeFloat:
    case kFieldTypeTimestamp: {
      double value = GetF64LE(p);
      constexpr double kLimit = 9.2e18;
      if (!(std::fabs(value) < kLimit)) return 0;
      return static_cast<std::int64_t>(value);
    }
    case kFieldTypeBcd:
      return ReadFixed(node) / kFixedPointUnit;
    default:
      return GetI32LE(p);
  }
}

double ReadFloat(const TExpToken& node) {
  if (node.FDataType == kFieldTypeFloat || node.FDataType == kFieldTypeTimestamp) {
    return GetF64LE(node.Data());
  }
  return static_cast<double>(ReadNumber(node));
}

std::int64_t ReadFixed(const TExpToken& node) {
  if (node.FDataType != kFieldTypeBcd) {
    long double value = ReadNumber(node) * kFixedPointUnit;
    constexpr long double kLimit = 9.2e18L;
    if (!(std::fabs(value) < kLimit)) return 0;
    return static_cast<std::int64_t>(value);
  }
  std::optional<std::int64_t> fixed =
      BcdToFixed(std::span<const std::uint8_t, 34>(node.Data(), kBcdStoredSize));
  return fixed.value_or(0);
}

long double ReadNumber(const TExpToken& node) {
  switch (node.FDataType) {
    case kFieldTypeFloat:
    case kFieldTypeTimestamp:
      return GetF64LE(node.Data());
    case kFieldTypeBcd:
      return static_cast<long double>(ReadFixed(node)) / kFixedPointUnit;
    default:
      return static_cast<long double>(ReadInteger(node));
  }
}

std::string_view ReadString(const TExpToken& node) {
  const char* chars = node.Chars();
  std::size_t limit = node.FDataSize > 0 ? static_cast<std::size_t>(node.FDataSize) : 0;
  limit = std::min(limit, node.FData.size());
  return std::string_view(chars, strnlen(chars, limit));
}

std::string_view TypeName(std::uint8_t type, std::uint8_t subType) {
  switch (type) {
    case kUntyped:
      return "untyped";
    case kFieldTypeString:
      return "string";
    case kFieldTypeDate:
      return "date";
    case kFieldTypeBlob:
      return subType == kSubTypeMemo ? "memo" : "blob";
    case kFieldTypeBoolean:
      return "boolean";
    case kFieldTypeSmallInt:
      return "smallint";
    case kFieldTypeInteger:
      return subType == kSubTypeAutoInc ? "autoinc" : "integer";
    case kFieldTypeFloat:
      return subType == kSubTypeMoney ? "money" : "float";
    case kFieldTypeBcd:
      return "bcd";
    case kFieldTypeBytes:
      return "bytes";
    case kFieldTypeTime:
      return "time";
    case kFieldTypeTimestamp:
      return "timestamp";
    case kFieldTypeWord:
      return "word";
    case kFieldTypeLargeInt:
      return "largeint";
    default:
      return "unknown";
  }
}

namespace {

std::string FloatText(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

std::string HexText(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

std::string ValueText(const TExpToken& node) {
  if (node.FIsNull) return "NULL";
  switch (node.FDataType) {
    case kFieldTypeString:
      return std::string(ReadString(node));
    case kFieldTypeBlob:
      if (node.FSubType == kSubTypeMemo) return std::string(ReadString(node));
      return HexText(node.Data(), static_cast<std::size_t>(std::max(node.FDataSize, 0)));
    case kFieldTypeBytes:
    case kFieldTypeVarBytes:
      return HexText(node.Data(), static_cast<std::size_t>(std::max(node.FDataSize, 0)));
    case kFieldTypeFloat:
      return FloatText(GetF64LE(node.Data()));
    case kFieldTypeBoolean:
      return GetU16LE(node.Data()) != 0 ? "TRUE" : "FALSE";
    case kFieldTypeSmallInt:
    case kFieldTypeInteger:
    case kFieldTypeWord:
    case kFieldTypeLargeInt:
      return std::to_string(ReadInteger(node));
    case kUntyped:
      return "";
    default:
      try {
        return ValueToText(node.FDataType,
                           std::span<const std::uint8_t>(node.Data(), FixedSizeOf(node.FDataType)),
                           true);
      } catch (const EConvertError&) {
        return "";
      }
  }
}

// --- Conversion -----------------------------------------------------------------------------

namespace {

// A number's decimal text (full stop as separator).
std::string NumberText(const TExpToken& node) {
  if (node.FDataType == kFieldTypeFloat) return FloatText(GetF64LE(node.Data()));
  if (node.FDataType == kFieldTypeBcd) {
    auto text = BcdToText(std::span<const std::uint8_t, 34>(node.Data(), kBcdStoredSize));
    return text.value_or("0");
  }
  return std::to_string(ReadInteger(node));
}

// The text a value converts to as a string; false for a value without one.
bool TextOf(const TExpToken& node, std::string& text) {
  std::uint8_t type = node.FDataType;
  if (IsStringLike(type, node.FSubType)) {
    text.assign(ReadString(node));
  } else if (IsNumericType(type)) {
    text = NumberText(node);
  } else if (type == kFieldTypeBoolean) {
    text = GetU16LE(node.Data()) != 0 ? "TRUE" : "FALSE";
  } else if (IsDateTimeType(type)) {
    try {
      text = ValueToText(type, std::span<const std::uint8_t>(node.Data(), FixedSizeOf(type)));
    } catch (const EConvertError&) {
      return false;
    }
  } else {
    // Bytes and BLOBs: their bytes as they are.
    std::size_t size = static_cast<std::size_t>(std::max(node.FDataSize, 0));
    text.assign(reinterpret_cast<const char*>(node.Data()), std::min(size, node.FData.size()));
    text = text.substr(0, text.find('\0'));
  }
  return true;
}

// Integer, float or BCD from text; false when the text is no number.
bool NumberFromText(std::string_view text, std::uint8_t type, std::uint8_t scale,
                    TExpToken& target) {
  try {
    std::vector<std::uint8_t> bytes = ValueFromText(type, text, 0, scale);
    target.Reserve(bytes.size() + 1);
    std::memcpy(target.Data(), bytes.data(), bytes.size());
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

bool DoubleToInteger(long double value, std::int64_t& result) {
  constexpr long double kLimit = 9.2e18L;
  if (!(std::fabs(value) < kLimit)) return false;
  result = static_cast<std::int64_t>(value);  // truncation toward zero
  return true;
}

bool ToInteger(const TExpToken& source, std::int64_t& result) {
  std::uint8_t type = source.FDataType;
  if (type == kFieldTypeFloat) return DoubleToInteger(GetF64LE(source.Data()), result);
  if (type == kFieldTypeBcd) {
    result = ReadFixed(source) / kFixedPointUnit;
    return true;
  }
  if (IsIntegerType(type) || type == kFieldTypeBoolean) {
    result = ReadInteger(source);
    if (type == kFieldTypeBoolean) result = result != 0 ? 1 : 0;
    return true;
  }
  return false;
}

bool ConvertToNumber(const TExpToken& source, TExpToken& target, const TExpToken* expression) {
  std::uint8_t type = target.FDataType;
  if (IsStringLike(source.FDataType, source.FSubType)) {
    std::string text(ReadString(source));
    return NumberFromText(text, type, target.FScale, target);
  }
  if (source.FDataType == kFieldTypeBytes || source.FDataType == kFieldTypeVarBytes) {
    std::memcpy(target.Data(), source.Data(),
                std::min<std::size_t>(FixedSizeOf(type), std::max(source.FDataSize, 0)));
    return true;
  }
  if (type == kFieldTypeFloat) {
    if (!IsNumericType(source.FDataType) && source.FDataType != kFieldTypeBoolean) return false;
    PutF64LE(target.Data(), static_cast<double>(ReadNumber(source)));
    return true;
  }
  if (type == kFieldTypeBcd) {
    if (!IsNumericType(source.FDataType) && source.FDataType != kFieldTypeBoolean) return false;
    std::int64_t units = 0;
    if (source.FDataType == kFieldTypeBcd) {
      units = ReadFixed(source);
    } else if (source.FDataType == kFieldTypeFloat) {
      if (!DoubleToInteger(static_cast<long double>(GetF64LE(source.Data())) * kFixedPointUnit,
                           units)) {
        return false;
      }
    } else {
      std::int64_t whole = ReadInteger(source);
      if (source.FDataType == kFieldTypeBoolean) whole = whole != 0 ? 1 : 0;
      constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / kFixedPointUnit;
      if (whole > kMaxWhole || whole < -kMaxWhole) return false;
      units = whole * kFixedPointUnit;
    }
    return SetFixed(target, units, target.FScale);
  }
  std::int64_t value = 0;
  if (!ToInteger(source, value)) return false;
  if (type == kFieldTypeBoolean) value = value != 0 ? 1 : 0;
  if (!FitsIntegerType(type, value)) {
    // No low bits of a number that does not fit: name what overflowed.
    TExpTokenPtr shown;
    if (expression == nullptr) {
      shown = NewToken();
      shown->FKind = kNodeConstant;
      shown->FText = ValueText(source);
      expression = shown.get();
    }
    RaiseIntegerOverflow(*expression, type, target.FSubType);
  }
  StoreInteger(target, value);
  return true;
}

bool ConvertToDateTime(const TExpToken& source, TExpToken& target) {
  std::uint8_t from = source.FDataType;
  std::uint8_t to = target.FDataType;
  if (IsStringLike(from, source.FSubType)) {
    std::string text(ReadString(source));
    if (to == kFieldTypeDate) {
      auto day = DateFromText(text);
      if (!day) return false;
      PutI32LE(target.Data(), *day);
    } else if (to == kFieldTypeTime) {
      auto time = TimeFromText(text);
      if (!time) return false;
      PutI32LE(target.Data(), *time);
    } else {
      auto stamp = TimestampFromText(text);
      if (!stamp) {
        auto day = DateFromText(text);
        if (!day) return false;
        stamp = EncodeTimestamp(*day, 0);
      }
      PutF64LE(target.Data(), *stamp);
    }
    return true;
  }
  if (from == kFieldTypeBytes || from == kFieldTypeVarBytes) {
    std::memcpy(target.Data(), source.Data(),
                std::min<std::size_t>(FixedSizeOf(to), std::max(source.FDataSize, 0)));
    return true;
  }
  std::int32_t day = 0;
  std::int32_t time = 0;
  if (from == kFieldTypeDate) {
    day = GetI32LE(source.Data());
  } else if (from == kFieldTypeTime) {
    day = kTimeOnlyDay;
    time = GetI32LE(source.Data());
  } else if (from == kFieldTypeTimestamp) {
    auto parts = DecodeTimestamp(GetF64LE(source.Data()));
    if (!parts) return false;
    day = parts->first;
    time = parts->second;
  } else {
    return false;
  }
  if (to == kFieldTypeDate) {
    if (from == kFieldTypeTime) return false;
    PutI32LE(target.Data(), day);
  } else if (to == kFieldTypeTime) {
    if (from == kFieldTypeDate) return false;
    PutI32LE(target.Data(), time);
  } else {
    PutF64LE(target.Data(), EncodeTimestamp(day, time));
  }
  return true;
}

bool ConvertToBoolean(const TExpToken& source, TExpToken& target) {
  if (IsStringLike(source.FDataType, source.FSubType)) {
    std::string text(ReadString(source));
    return NumberFromText(text, kFieldTypeBoolean, 0, target);
  }
  return ConvertToNumber(source, target, nullptr);
}

bool ConvertToText(const TExpToken& source, std::int32_t targetSize, TExpToken& target) {
  std::string text;
  if (!TextOf(source, text)) return false;
  if (targetSize > 0 && text.size() + 1 > static_cast<std::size_t>(targetSize)) {
    // Cut to the size without splitting a double-byte character.
    text.resize(CharacterPrefixLength(kAnsiStandardLanguageId, text.c_str(),
                                      static_cast<std::size_t>(targetSize - 1)));
  }
  std::uint8_t subType = target.FSubType;
  std::uint8_t type = target.FDataType;
  SetString(target, text);
  target.FDataType = type;
  target.FSubType = subType;
  if (type == kFieldTypeString && targetSize > 0) target.FDataSize = targetSize;
  return true;
}

bool ConvertToBytes(const TExpToken& source, std::int32_t targetSize, TExpToken& target) {
  std::size_t size = static_cast<std::size_t>(std::max(source.FDataSize, 0));
  if (IsStringLike(source.FDataType, source.FSubType)) size = ReadString(source).size();
  std::size_t wanted = targetSize > 0 ? static_cast<std::size_t>(targetSize) : size;
  target.Reserve(wanted + 1);
  target.ZeroValue(wanted + 1);
  std::memcpy(target.Data(), source.Data(), std::min({size, wanted, source.FData.size()}));
  target.FDataSize = static_cast<std::int32_t>(wanted);
  return true;
}

}  // namespace

bool ConvertValue(const TExpToken& source, std::uint8_t targetType, std::uint8_t targetSubType,
                  std::int32_t targetSize, std::uint8_t targetScale, TExpToken& target,
                  const TExpToken* expression) {
  // The source may be the target itself: work from a copy of its value.
  TExpTokenPtr copy;
  const TExpToken* from = &source;
  if (&source == &target) {
    copy = NewToken();
    CopyValue(source, *copy);
    from = copy.get();
  }
  target.FDataType = targetType;
  target.FSubType = targetSubType;
  target.FScale = targetScale;
  std::int32_t fixed = FixedSizeOf(targetType);
  target.FDataSize = fixed > 0 ? fixed : (targetSize > 0 ? targetSize : from->FDataSize);
  target.Reserve(static_cast<std::size_t>(std::max(target.FDataSize, 1)) + 1);
  target.ZeroValue(static_cast<std::size_t>(std::max(target.FDataSize, 1)) + 1);
  target.FIsNull = 0;
  if (from->FIsNull || from->FDataType == kUntyped) {
    SetNullValue(target);
    return true;
  }
  bool converted = false;
  switch (targetType) {
    case kFieldTypeString:
      converted = ConvertToText(*from, targetSize, target);
      break;
    case kFieldTypeBlob:
      if (targetSubType == kSubTypeMemo || IsStringLike(from->FDataType, from->FSubType)) {
        converted = ConvertToText(*from, 0, target);
      } else {
        converted = ConvertToBytes(*from, 0, target);
      }
      break;
    case kFieldTypeBytes:
    case kFieldTypeVarBytes:
      converted = ConvertToBytes(*from, targetSize, target);
      break;
    case kFieldTypeDate:
    case kFieldTypeTime:
    case kFieldTypeTimestamp:
      converted = ConvertToDateTime(*from, target);
      break;
    case kFieldTypeBoolean:
      converted = ConvertToBoolean(*from, target);
      break;
    default:
      converted = IsNumericType(targetType) && ConvertToNumber(*from, target, expression);
      break;
  }
  if (!converted) SetNullValue(target);
  return converted;
}

// --- Strings --------------------------------------------------------------------------------

int CompareStrings(TEvalLocale locale, const char* first, bool caseInsensitive,
                   std::int32_t partialLength, const char* second) {
  std::size_t length = partialLength > 0 ? static_cast<std::size_t>(partialLength) : 0;
  if (length > 0 && locale.LanguageId == kAnsiStandardLanguageId) {
    // n characters: widen the byte count by the double-byte characters among the first n.
    std::string_view text(first != nullptr ? first : "");
    std::size_t bytes = 0;
    for (std::size_t chars = 0; chars < length && bytes < text.size(); ++chars) {
      bytes += CharacterWidthAt(locale.LanguageId, text, bytes);
    }
    length = std::max(length, bytes);
  }
  return CompareLocaleStrings(locale.LanguageId, locale.SortId, first, caseInsensitive, length,
                              second);
}

namespace {

bool SameCharacter(TEvalLocale locale, std::string_view a, std::string_view b) {
  if (locale.LanguageId == kAnsiStandardLanguageId || a.size() != 1 || b.size() != 1) return a == b;
  return CompareLocaleStrings(locale.LanguageId, locale.SortId, a.data(), false, 1, b.data()) == 0;
}

// Whether the text holds a byte that starts a double-byte character: byte-wise matching
// could then match inside one.
bool HasLeadByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return IsCp932LeadByte(static_cast<unsigned char>(c)); });
}

// '%word%' in the byte-compared locale, where neither side has double-byte characters: the
// word occurs anywhere in the value. Answers -1 where the general matching must decide.
int MatchContains(TEvalLocale locale, std::string_view value, std::string_view pattern) {
  if (locale.LanguageId != kAnsiStandardLanguageId || pattern.size() < 2 ||
      pattern.front() != '%' || pattern.back() != '%')
    return -1;
  const std::string_view word = pattern.substr(1, pattern.size() - 2);
  if (word.find_first_of("%_") != std::string_view::npos || HasLeadByte(word) || HasLeadByte(value))
    return -1;
  return value.find(word) != std::string_view::npos ? 1 : 0;
}

}  // namespace

bool MatchLike(TEvalLocale locale, std::string_view value, std::string_view pattern) {
  if (const int contains = MatchContains(locale, value, pattern); contains >= 0) return contains;
  const std::uint16_t language = locale.LanguageId;
  // Single-byte characters are compared as bytes where the locale compares them so (the
  // common case, checked once per character without building views).
  const bool byteSame = language == kAnsiStandardLanguageId;
  const auto isOnly = [](std::string_view c, char wildcard) {
    return c.size() == 1 && c[0] == wildcard;
  };
  std::size_t s = 0;
  std::size_t p = 0;
  // After a "%": the pattern position behind it and the value position it was tried at.
  bool sawPercent = false;
  std::size_t savedP = 0;
  std::size_t savedS = 0;
  while (s < value.size()) {
    if (p < pattern.size()) {
      const std::size_t patternWidth = CharacterWidthAt(language, pattern, p);
      const std::string_view c = pattern.substr(p, patternWidth);
      if (isOnly(c, '%')) {
        ++p;
        if (p == pattern.size()) return true;  // a trailing "%" takes the rest
        sawPercent = true;
        savedP = p;
        savedS = s;
        continue;
      }
      const std::size_t valueWidth = CharacterWidthAt(language, value, s);
      const std::string_view v = value.substr(s, valueWidth);
      const bool same =
          byteSame && c.size() == 1 && v.size() == 1 ? c[0] == v[0] : SameCharacter(locale, c, v);
      if (isOnly(c, '_') || same) {
        s += valueWidth;
        p += patternWidth;
        continue;
      }
    }
    // A mismatch: the last "%" takes one more character, or nothing matches.
    if (!sawPercent) return false;
    savedS += CharacterWidthAt(language, value, savedS);
    s = savedS;
    p = savedP;
  }
  // The value is used up: what is left of the pattern must match nothing, "%"s only.
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

TExpTokenPtr NewResultOf(const TExpToken& node) {
  TExpTokenPtr result = NewToken();
  result->FKind = kNodeConstant;
  result->FDataType = node.FDataType;
  result->FSubType = node.FSubType;
  result->FScale = node.FScale;
  const std::int32_t fixed = FixedSizeOf(node.FDataType);
  result->FDataSize = fixed > 0 ? fixed : 1;
  result->Reserve(static_cast<std::size_t>(result->FDataSize) + 1);
  return result;
}

TExpTokenPtr NullResultOf(const TExpToken& node) {
  TExpTokenPtr result = NewResultOf(node);
  SetNullValue(*result);
  return result;
}

}  // namespace kura
