// Query parameters and the scanner that finds them in SQL text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/field.h"

namespace kura {

// One named parameter. DataType stays ftUnknown until a value is assigned; opening a query
// with such a parameter raises "No value for parameter '%s'".
class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  bool IsNull() const { return value_.IsNull; }
  const TFieldValue& Value() const { return value_; }

  // Setting a value also sets the type. A string is kept as given (bytes).
  void SetAsInteger(std::int64_t value);
  void SetAsString(std::string_view value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  // Typed null: the parameter runs as null.
  void Clear() { value_ = TFieldValue::Null(); }
  void Assign(TFieldType type, const TFieldValue& value);

  std::int32_t AsInteger() const;
  std::string AsString() const;

 private:
  std::string name_;
  TFieldType data_type_ = TFieldType::ftUnknown;
  TFieldValue value_;
};

// Parameters in the order in which their names first occur in the text.
class TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // By position; raises "List index out of bounds (%d)".
  TParam& Items(int index);
  const TParam& Items(int index) const;
  TParam& operator[](int index) { return Items(index); }
  // By name without regard to case; ParamByName raises "Parameter '%s' not found".
  TParam* FindParam(std::string_view name);
  TParam& ParamByName(std::string_view name);
  void Clear() { items_.clear(); }
  TParam& Add(std::string name);
  std::vector<TParam>::const_iterator begin() const { return items_.begin(); }
  std::vector<TParam>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<TParam> items_;
};

// What scanning SQL text for parameters yields.
struct TParsedParams {
  std::string ProcessedText;             // every ":name" replaced by "?"
  std::vector<std::string> Names;        // distinct names, in order of first occurrence
  std::vector<std::string> MarkerNames;  // the name behind each "?", in text order
};

// A parameter is a colon followed by a name of letters, digits and underscores (or a
// double-quoted name). Colons inside quoted strings, and "::", are text, not parameters.
TParsedParams ParseSqlParams(std::string_view text);

}  // namespace kura
