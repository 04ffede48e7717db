// Field definitions, field values and the field objects through which the application reads
// and writes the columns of a dataset's current row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kura {

// Every field type a result can carry: one per engine field type and subtype.
//   engine type 1  string           -> ftString (subtype 31: ftFixedChar)
//               2  date             -> ftDate
//               3  BLOB             -> ftBlob (subtypes 22 ftMemo, 24 ftFmtMemo, 26 ftGraphic,
//                                      28 ftTypedBinary)
//               4  boolean          -> ftBoolean
//               5  16-bit integer   -> ftSmallint
//               6  32-bit integer   -> ftInteger (subtype 29: ftAutoInc); 13 also ftInteger
//               7  float            -> ftFloat (subtype 21: ftCurrency)
//               8  packed decimal   -> ftBCD
//               9  bytes            -> ftBytes;  15 var-bytes -> ftVarBytes
//               10 time             -> ftTime;   11 timestamp -> ftDateTime
//               12 16-bit unsigned  -> ftWord
//               18, 19 64-bit       -> ftLargeint
//               20..23 structured   -> ftADT, ftArray, ftReference, ftDataSet
enum class TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftLargeint,
  ftFixedChar,
  ftDate,
  ftTime,
  ftDateTime,
  ftCurrency,
  ftBCD,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftFmtMemo,
  ftGraphic,
  ftTypedBinary,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet
};

// One column of a result: name, type and (for strings and bytes) the size in bytes; 0 means
// unbounded. Decimals is the scale of a BCD field.
struct TFieldDef {
  std::string Name;
  TFieldType DataType = TFieldType::ftUnknown;
  int Size = 0;
  int Decimals = 0;
};

// One value: a null flag and the value in its field's representation.
//   Integer: the integer types, ftBoolean (0 or 1), ftAutoInc, ftDate (days, day 1 being
//            0001-01-01) and ftTime (milliseconds since midnight);
//   Float:   ftFloat, ftCurrency, ftBCD and ftDateTime (milliseconds since 0001-01-01 00:00);
//   Text:    strings (the bytes as stored, code page 932 in the problem tables), bytes,
//            BLOBs (the whole contents) and the structured types.
struct TFieldValue {
  bool IsNull = true;
  std::int64_t Integer = 0;
  double Float = 0;
  std::string Text;

  static TFieldValue Null() { return {}; }
  static TFieldValue OfInteger(std::int64_t value) { return {false, value, 0, {}}; }
  static TFieldValue OfString(std::string value) { return {value.empty(), 0, 0, std::move(value)}; }
  bool operator==(const TFieldValue&) const = default;
};

// One row: a value per field, in field order.
using TRecord = std::vector<TFieldValue>;

// True for the types kept in TFieldValue::Integer.
bool IsIntegerType(TFieldType type);
// True for the types kept in TFieldValue::Float.
bool IsFloatType(TFieldType type);
// True for the types kept in TFieldValue::Text (strings, bytes, BLOBs, structured types).
bool IsTextType(TFieldType type);
// True for the BLOB types, whose values are also read and written as streams.
bool IsBlobType(TFieldType type);

// Conversions shared by fields and parameters. Both raise EDatabaseError for text that is not
// a number, or a number outside the range of the type.
TFieldValue ValueFromInteger(TFieldType type, std::int64_t value, std::string_view name);
TFieldValue ValueFromString(TFieldType type, std::string_view text, std::string_view name);
TFieldValue ValueFromFloat(TFieldType type, double value, std::string_view name);
// Readers: a null value reads as 0, "" or false.
std::int64_t ValueAsInteger(TFieldType type, const TFieldValue& value);
std::string ValueAsString(TFieldType type, const TFieldValue& value);
double ValueAsFloat(TFieldType type, const TFieldValue& value);

class TDataSet;

// A column of a dataset's current row (or of the row being edited or appended). Owned by its
// dataset and valid while the dataset stays open.
class TField {
 public:
  TField(TDataSet& dataSet, int index, TFieldDef def);

  const std::string& FieldName() const { return def_.Name; }
  TFieldType DataType() const { return def_.DataType; }
  int Size() const { return def_.Size; }
  // Position in the result, 0-based, in the order of "Select *".
  int Index() const { return index_; }
  TDataSet& DataSet() const { return data_set_; }

  // A read-only field refuses writes with "Field %s cannot be modified.".
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }

  // Readers: a null value reads as 0, "" or false; a string that is not a number raises.
  bool IsNull() const;
  std::int32_t AsInteger() const;
  std::string AsString() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TFieldValue Value() const;

  // Writers: only in edit or insert state ("Table is not in edit or insert mode." otherwise).
  // An empty string stores null; a number outside the type's range raises.
  void SetAsInteger(std::int64_t value);
  void SetAsString(std::string_view value);
  void SetAsFloat(double value);
  void SetAsBoolean(bool value);
  void Clear();
  void SetValue(const TFieldValue& value);

 private:
  TDataSet& data_set_;
  int index_;
  TFieldDef def_;
  bool read_only_ = false;
};

}  // namespace kura
