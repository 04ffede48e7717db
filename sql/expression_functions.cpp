// The functions of the evaluator: strings, EXTRACT, CAST, IF, COALESCE, IFNULL, ABS, ROUND,
// text search and auto-increment values.
#include "sql/expression_functions.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "storage/collation.h"
#include "storage/dbcs.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {

namespace {

// A string result of the node's type (string or memo); empty text is NULL.
TExpTokenPtr TextResult(const TExpToken& node, std::string_view text) {
  TExpTokenPtr result = NewResultOf(node);
  SetString(*result, text);
  result->FDataType = node.FDataType == kFieldTypeBlob ? kFieldTypeBlob : kFieldTypeString;
  result->FSubType = node.FSubType;
  return result;
}

// Byte offsets of the character starts of text under the language, plus text.size().
void CharacterStarts(std::uint16_t language, std::string_view text,
                     std::vector<std::size_t>& starts) {
  starts.clear();
  for (std::size_t i = 0; i < text.size(); i += CharacterWidthAt(language, text, i))
    starts.push_back(i);
  starts.push_back(text.size());
}

// Byte offset of the first occurrence of what in text at or after from, starting on a
// character boundary; npos when absent.
std::size_t FindAtBoundary(std::uint16_t language, std::string_view text, std::string_view what,
                           std::size_t from) {
  if (what.empty()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size();
       i += CharacterWidthAt(language, text, i)) {
    if (text.compare(i, what.size(), what) == 0) return i;
  }
  return std::string_view::npos;
}

TExpTokenPtr CaseMapped(const TExpToken& node, const TExpToken& value, TEvalLocale locale) {
  if (value.FIsNull) return NullResultOf(node);
  std::string text(ReadString(value));
  if (node.FOperator == opUpper) {
    UpperCaseLocale(locale.LanguageId, locale.SortId, text.data());
  } else {
    LowerCaseLocale(locale.LanguageId, locale.SortId, text.data());
  }
  return TextResult(node, text);
}

TExpTokenPtr Substring(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr start = context.Evaluate(*node.FArgs[1]);
  TExpTokenPtr length = node.FArgs.size() > 2 ? context.Evaluate(*node.FArgs[2]) : nullptr;
  if (value->FIsNull || start->FIsNull || (length && length->FIsNull)) return NullResultOf(node);
  std::string_view text = ReadString(*value);
  thread_local std::vector<std::size_t> starts;
  CharacterStarts(context.Locale.LanguageId, text, starts);
  std::int64_t count = static_cast<std::int64_t>(starts.size()) - 1;
  std::int64_t first = std::max<std::int64_t>(ReadInteger(*start), 1);
  std::int64_t wanted = length ? ReadInteger(*length) : count - first + 1;
  wanted = std::max<std::int64_t>(wanted, 0);
  if (first > count || wanted == 0) return NullResultOf(node);
  std::int64_t last = std::min(count, first - 1 + wanted);
  std::size_t from = starts[first - 1];
  std::size_t to = starts[last];
  return TextResult(node, text.substr(from, to - from));
}

TExpTokenPtr Replace(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr search = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr replacement = context.Evaluate(*node.FArgs[1]);
  TExpTokenPtr value = context.Evaluate(*node.FArgs[2]);
  if (value->FIsNull) return NullResultOf(node);
  std::string_view text = ReadString(*value);
  std::string_view a = ReadString(*search);
  std::string_view b = ReadString(*replacement);
  if (a.empty() || a == b) return TextResult(node, text);
  std::string out;
  std::size_t position = 0;
  for (;;) {
    std::size_t found = FindAtBoundary(context.Locale.LanguageId, text, a, position);
    if (found == std::string_view::npos) break;
    CheckComputedLength(out.size() + (found - position) + b.size());
    out.append(text.substr(position, found - position));
    out.append(b);
    position = found + a.size();
  }
  out.append(text.substr(position));
  return TextResult(node, out);
}

TExpTokenPtr PosOrOccurs(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr search = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr value = context.Evaluate(*node.FArgs[1]);
  TExpTokenPtr result = NewResultOf(node);
  std::string_view text = ReadString(*value);
  std::string_view a = ReadString(*search);
  std::uint16_t language = context.Locale.LanguageId;
  std::int32_t answer = 0;
  if (!value->FIsNull && !a.empty()) {
    if (node.FOperator == opPos) {
      std::size_t found = FindAtBoundary(language, text, a, 0);
      if (found != std::string_view::npos) {
        answer = static_cast<std::int32_t>(CharacterCount(language, text.substr(0, found)) + 1);
      }
    } else {
      for (std::size_t at = FindAtBoundary(language, text, a, 0); at != std::string_view::npos;
           at = FindAtBoundary(language, text, a, at + a.size())) {
        ++answer;
      }
    }
  }
  SetInt32(*result, answer);
  return result;
}

TExpTokenPtr Trim(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr character = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr value = context.Evaluate(*node.FArgs[1]);
  if (value->FIsNull) return NullResultOf(node);
  std::string_view text = ReadString(*value);
  std::string_view c = ReadString(*character);
  if (c.size() == 1) {
    if (node.FOperator != opTrimTrailing) {
      while (!text.empty() && text.front() == c[0]) text.remove_prefix(1);
    }
    if (node.FOperator != opTrimLeading) {
      while (!text.empty() && text.back() == c[0]) text.remove_suffix(1);
    }
  }
  return TextResult(node, text);
}

// --- Dates and times ------------------------------------------------------------------------

// 1 = Monday ... 7 = Sunday; day 1 (0001-01-01) was a Monday.
int DayOfWeek(std::int32_t day) {
  return static_cast<int>(((static_cast<std::int64_t>(day) - 1) % 7 + 7) % 7) + 1;
}

int DayOfYear(std::int32_t day, int year) {
  return static_cast<int>(day - EncodeDate({year, 1, 1}) + 1);
}

// ISO 8601 week: the week of the Thursday of the date's Monday-based week.
int IsoWeek(std::int32_t day) {
  std::int32_t thursday = day + (4 - DayOfWeek(day));
  auto date = DecodeDate(thursday);
  if (!date) return 0;
  return (DayOfYear(thursday, date->Year) - 1) / 7 + 1;
}

TExpTokenPtr Extract(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr result = NewResultOf(node);
  if (value->FIsNull || value->FDataType == kUntyped) {
    SetInt32(*result, 0);
    SetNullValue(*result);
    return result;
  }
  std::int32_t day = 0;
  std::int32_t time = 0;
  bool hasDate = true;
  bool hasTime = true;
  switch (value->FDataType) {
    case kFieldTypeDate:
      day = static_cast<std::int32_t>(ReadInteger(*value));
      hasTime = false;
      break;
    case kFieldTypeTime:
      day = kTimeOnlyDay;
      time = static_cast<std::int32_t>(ReadInteger(*value));
      hasDate = false;
      break;
    default: {
      auto parts = DecodeTimestamp(ReadFloat(*value));
      if (!parts) {
        SetInt32(*result, 0);
        SetNullValue(*result);
        return result;
      }
      day = parts->first;
      time = parts->second;
    }
  }
  auto date = DecodeDate(day);
  auto clock = DecodeTime(time);
  std::int32_t answer = 0;
  switch (node.FOperator) {
    case opExtractYear:
      answer = hasDate && date ? date->Year : 0;
      break;
    case opExtractMonth:
      answer = hasDate && date ? date->Month : 0;
      break;
    case opExtractDay:
      answer = hasDate && date ? date->Day : 0;
      break;
    case opExtractHour:
      answer = hasTime && clock ? clock->Hour : 0;
      break;
    case opExtractMinute:
      answer = hasTime && clock ? clock->Minute : 0;
      break;
    case opExtractSecond:
      answer = hasTime && clock ? clock->Second : 0;
      break;
    case opExtractDayOfWeek:
      answer = DayOfWeek(day);
      break;
    case opExtractDayOfYear:
      answer = date ? DayOfYear(day, date->Year) : 0;
      break;
    default:
      answer = IsoWeek(day);
      break;
  }
  SetInt32(*result, answer);
  return result;
}

// --- Numbers --------------------------------------------------------------------------------

TExpTokenPtr Abs(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
  TExpTokenPtr result = NewResultOf(node);
  CopyValue(*value, *result);
  if (value->FIsNull) return result;
  switch (value->FDataType) {
    case kFieldTypeFloat:
      PutF64LE(result->Data(), std::fabs(ReadFloat(*value)));
      break;
    case kFieldTypeBcd: {
      std::int64_t units = ReadFixed(*value);
      SetFixed(*result, units < 0 ? -units : units, value->FScale);
      break;
    }
    case kFieldTypeLargeInt: {
      std::int64_t v = ReadInteger(*value);
      if (v == std::numeric_limits<std::int64_t>::min())
        RaiseIntegerOverflow(node, value->FDataType, value->FSubType);
      PutI64LE(result->Data(), v < 0 ? -v : v);
      break;
    }
    default: {
      // ABS keeps the argument's type: ABS(-32768) is no 16-bit value.
      std::int64_t v = ReadInteger(*value);
      StoreCheckedInteger(*result, v < 0 ? -v : v, node);
      break;
    }
  }
  return result;
}

TExpTokenPtr Round(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
  std::int64_t digits = 0;
  if (node.FArgs.size() > 1) {
    TExpTokenPtr places = context.Evaluate(*node.FArgs[1]);
    digits = std::clamp<std::int64_t>(ReadInteger(*places), 0, 32);
  }
  TExpTokenPtr result = NewResultOf(node);
  CopyValue(*value, *result);
  if (value->FIsNull) return result;
  if (value->FDataType == kFieldTypeFloat) {
    double x = ReadFloat(*value);
    if (x != 0.0) {
      // x / 0.1^d written as x * 10^d, which is exact for the powers of ten a double holds.
      double scale = std::pow(10.0, static_cast<double>(digits));
      double rounded = std::trunc(x * scale + (x > 0 ? 0.5 : -0.5)) / scale;
      if (std::isfinite(rounded)) x = rounded;
    }
    PutF64LE(result->Data(), x);
  } else if (value->FDataType == kFieldTypeBcd) {
    std::int64_t units = ReadFixed(*value);
    if (digits < 4) {
      std::int64_t unit = 1;
      for (std::int64_t i = digits; i < 4; ++i) unit *= 10;
      std::int64_t magnitude = units < 0 ? -(units / unit * unit) : units / unit * unit;
      std::int64_t rest = units < 0 ? -(units % unit) : units % unit;
      if (rest * 2 >= unit) magnitude += unit;
      units = units < 0 ? -magnitude : magnitude;
    }
    SetFixed(*result, units, value->FScale);
  }
  return result;
}

// --- Choices --------------------------------------------------------------------------------

TExpTokenPtr Converted(const TExpToken& node, const TExpToken& value) {
  TExpTokenPtr result = NewResultOf(node);
  ConvertValue(value, node.FDataType, node.FSubType, node.FDataSize, node.FScale, *result, &node);
  if (result->FDataType == kFieldTypeString && !result->FIsNull) {
    result->FDataSize = static_cast<std::int32_t>(ReadString(*result).size() + 1);
  }
  return result;
}

TExpTokenPtr Choice(const TExpToken& node, TFunctionContext& context) {
  const TExpToken* chosen = nullptr;
  if (node.FOperator == opIf) {
    TExpTokenPtr condition = context.Evaluate(*node.FArgs[0]);
    chosen = IsTrue(*condition) ? node.FArgs[1] : node.FArgs[2];
  } else if (node.FOperator == opIfNull) {
    TExpTokenPtr tested = context.Evaluate(*node.FArgs[0]);
    chosen = tested->FIsNull ? node.FArgs[1] : node.FArgs[2];
  } else {
    for (const TExpToken* arg : node.FArgs) {
      TExpTokenPtr value = context.Evaluate(*arg);
      if (!value->FIsNull) return Converted(node, *value);
    }
    return NullResultOf(node);
  }
  TExpTokenPtr value = context.Evaluate(*chosen);
  return Converted(node, *value);
}

TExpTokenPtr TextSearch(const TExpToken& node, TFunctionContext& context) {
  TExpTokenPtr words = context.Evaluate(*node.FArgs[0]);
  bool count = node.FOperator == opTextOccurs;
  std::int32_t answer = 0;
  if (context.Fetcher != nullptr) {
    answer = context.Fetcher->TextSearch(context.Record, *node.FArgs[1], ReadString(*words), count);
  }
  TExpTokenPtr result = NewResultOf(node);
  if (count) {
    SetInt32(*result, answer);
  } else {
    SetBoolean(*result, answer != 0);
  }
  return result;
}

}  // namespace

TExpTokenPtr EvaluateFunction(const TExpToken& node, TFunctionContext& context) {
  switch (node.FOperator) {
    case opUpper:
    case opLower: {
      TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
      return CaseMapped(node, *value, context.Locale);
    }
    case opLength: {
      TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
      TExpTokenPtr result = NewResultOf(node);
      SetInt32(*result, static_cast<std::int32_t>(ReadString(*value).size()));
      if (value->FIsNull) SetNullValue(*result);
      return result;
    }
    case opSubstring:
      return Substring(node, context);
    case opReplace:
      return Replace(node, context);
    case opPos:
    case opOccurs:
      return PosOrOccurs(node, context);
    case opTrimLeading:
    case opTrimTrailing:
    case opTrimBoth:
      return Trim(node, context);
    case opCast: {
      TExpTokenPtr value = context.Evaluate(*node.FArgs[0]);
      return Converted(node, *value);
    }
    case opAbs:
      return Abs(node, context);
    case opRound:
      return Round(node, context);
    case opIf:
    case opIfNull:
    case opCoalesce:
      return Choice(node, context);
    case opTextSearch:
    case opTextOccurs:
      return TextSearch(node, context);
    case opLastAutoInc:
    case opIdentCurrent: {
      TExpTokenPtr table = context.Evaluate(*node.FArgs[0]);
      TExpTokenPtr result = NewResultOf(node);
      std::int32_t value =
          context.Fetcher != nullptr ? context.Fetcher->LastAutoInc(ReadString(*table)) : 0;
      SetInt32(*result, value);
      return result;
    }
    default:
      break;
  }
  if (node.FOperator >= opExtractYear && node.FOperator <= opExtractSecond) {
    return Extract(node, context);
  }
  // Aggregates answer their argument's value; the grouping step accumulates.
  const TExpToken& arg = *node.FArgs[0];
  if (node.FOperator == opCount) {
    TExpTokenPtr result = NewResultOf(node);
    bool counted = arg.FKind == kNodeColumn && arg.FColumnName == "*";
    if (!counted) counted = !context.Evaluate(arg)->FIsNull;
    SetInt32(*result, counted ? 1 : 0);
    return result;
  }
  TExpTokenPtr value = context.Evaluate(arg);
  return Converted(node, *value);
}

}  // namespace kura
