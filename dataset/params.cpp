#include "dataset/params.h"

#include <cctype>
#include <limits>

#include "base/database_error.h"
#include "storage/ascii_case.h"

namespace kura {
namespace {

bool IsNameChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || u >= 0x80;  // bytes of multibyte names count too
}

// Copies a quoted string or identifier starting at text[i] (the quote) to out; answers the
// index after it. An unterminated quote runs to the end of the text.
std::size_t CopyQuoted(std::string_view text, std::size_t i, std::string& out) {
  const char quote = text[i];
  out += quote;
  for (++i; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == quote) return i + 1;
  }
  return i;
}

}  // namespace

void TParam::Assign(TFieldType type, const TFieldValue& value) {
  data_type_ = type;
  value_ = value;
}

void TParam::SetAsInteger(std::int64_t value) {
  Assign(TFieldType::ftInteger, TFieldValue::OfInteger(value));
}

void TParam::SetAsString(std::string_view value) {
  Assign(TFieldType::ftString, TFieldValue::OfString(std::string(value)));
}

void TParam::SetAsFloat(double value) {
  Assign(TFieldType::ftFloat, {false, 0, value, {}});
}

void TParam::SetAsBoolean(bool value) {
  Assign(TFieldType::ftBoolean, TFieldValue::OfInteger(value ? 1 : 0));
}

std::int32_t TParam::AsInteger() const {
  std::int64_t value = ValueAsInteger(data_type_, value_);
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw EDatabaseError("Value of parameter '" + name_ + "' does not fit an integer");
  return static_cast<std::int32_t>(value);
}

std::string TParam::AsString() const {
  return ValueAsString(data_type_, value_);
}

TParam& TParams::Items(int index) {
  if (index < 0 || index >= Count())
    throw EDatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return items_[static_cast<std::size_t>(index)];
}

const TParam& TParams::Items(int index) const {
  return const_cast<TParams*>(this)->Items(index);
}

TParam* TParams::FindParam(std::string_view name) {
  for (TParam& param : items_)
    if (EqualsIgnoringAsciiCase(param.Name(), name)) return &param;
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) {
  TParam* param = FindParam(name);
  if (!param) throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
  return *param;
}

TParam& TParams::Add(std::string name) {
  items_.emplace_back(std::move(name));
  return items_.back();
}

TParsedParams ParseSqlParams(std::string_view text) {
  TParsedParams parsed;
  std::string& out = parsed.ProcessedText;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      i = CopyQuoted(text, i, out);
      continue;
    }
    if (c != ':') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {  // "::" is a literal colon
      out += "::";
      i += 2;
      continue;
    }
    std::string name;
    std::size_t end = i + 1;
    if (end < text.size() && text[end] == '"') {
      const std::size_t close = text.find('"', end + 1);
      if (close != std::string_view::npos) {
        name = std::string(text.substr(end + 1, close - end - 1));
        end = close + 1;
      }
    } else {
      while (end < text.size() && IsNameChar(text[end])) ++end;
      name = std::string(text.substr(i + 1, end - i - 1));
    }
    if (name.empty()) {  // a lone colon stays text
      out += c;
      ++i;
      continue;
    }
    out += '?';
    parsed.MarkerNames.push_back(name);
    bool seen = false;
    for (const std::string& known : parsed.Names)
      seen = seen || EqualsIgnoringAsciiCase(known, name);
    if (!seen) parsed.Names.push_back(name);
    i = end;
  }
  return parsed;
}

}  // namespace kura
