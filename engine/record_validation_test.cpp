// Validity checks and defaults over record images of every ordered type, without a table.
#include "engine/record_validation.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/engine_codes.h"
#include "engine/modify_test_support.h"
#include "engine/table_test_support.h"
#include "storage/field_types.h"

namespace kura {
namespace {

// One field of the given type with bounds, laid out alone in a record.
struct TOneField {
  TOneField(std::uint8_t type, std::string min, std::string max, std::uint8_t size = 0)
      : field(testing::MakeField("F", type, size)) {
    field.FieldDecimals = type == kFieldTypeBcd ? 2 : 0;
    field.MinValue = std::move(min);
    field.MaxValue = std::move(max);
    std::vector<TFieldDescriptor> fields{field};
    record.assign(LayoutFields(fields), 0);
    field = fields[0];
  }
  std::uint16_t Check(const std::string& text) {
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    const std::vector<std::uint8_t> value =
        ValueFromText(field.FieldType, text, field.FieldSize, field.FieldDecimals);
    SetField(record, field, value.data(), true, {});
    return CheckRecordValues(record, std::span(&field, 1), {}).Code;
  }
  TFieldDescriptor field;
  std::vector<std::uint8_t> record;
};

TEST(RecordValidationTest, BoundsCompareByType) {
  struct TCase {
    std::uint8_t Type;
    const char* Min;
    const char* Max;
    const char* Value;
    std::uint16_t Code;
  } cases[] = {
      {kFieldTypeInteger, "10", "", "9", codes::kBelowMinimum},
      {kFieldTypeInteger, "10", "", "10", 0},
      {kFieldTypeInteger, "-5", "5", "-6", codes::kBelowMinimum},
      {kFieldTypeInteger, "-5", "5", "6", codes::kAboveMaximum},
      {kFieldTypeSmallInt, "-300", "", "-301", codes::kBelowMinimum},
      {kFieldTypeWord, "", "60000", "60001", codes::kAboveMaximum},
      {kFieldTypeWord, "", "60000", "60000", 0},
      {kFieldTypeLargeInt, "", "5000000000", "5000000001", codes::kAboveMaximum},
      {kFieldTypeFloat, "0.5", "", "0.25", codes::kBelowMinimum},
      {kFieldTypeFloat, "0.5", "", "0.5", 0},
      {kFieldTypeBcd, "1.25", "", "1.24", codes::kBelowMinimum},
      {kFieldTypeBcd, "1.25", "", "-3", codes::kBelowMinimum},
      {kFieldTypeBcd, "1.25", "", "1.25", 0},
      {kFieldTypeDate, "2000-01-01", "", "1999-12-31", codes::kBelowMinimum},
      {kFieldTypeDate, "2000-01-01", "2000-12-31", "2001-01-01", codes::kAboveMaximum},
      {kFieldTypeTime, "08:00", "", "07:59:59", codes::kBelowMinimum},
      {kFieldTypeTimestamp, "", "2000-01-01 12:00", "2000-01-01 12:00:01", codes::kAboveMaximum},
      {kFieldTypeBoolean, "TRUE", "", "FALSE", 0},  // booleans are never out of bounds
  };
  for (const TCase& c : cases) {
    TOneField one(c.Type, c.Min, c.Max);
    EXPECT_EQ(one.Check(c.Value), c.Code) << int(c.Type) << " " << c.Value;
  }
}

TEST(RecordValidationTest, StringsCompareCaseSensitively) {
  TOneField one(kFieldTypeString, "B", "M", 10);
  EXPECT_EQ(one.Check("A"), codes::kBelowMinimum);
  EXPECT_EQ(one.Check("B"), 0);
  EXPECT_EQ(one.Check("Lz"), 0);
  EXPECT_EQ(one.Check("a"), codes::kAboveMaximum);  // byte order: lower case after "M"
}

// A NULL has no value to compare with a bound: a nullable field with a minimum of 10 takes
// NULL, and only Required refuses it (with its own code, whatever the bounds).
TEST(RecordValidationTest, BoundsApplyToValuesOnlyAndRequiredAloneRefusesNull) {
  struct TCase {
    std::uint8_t Type;
    const char* Min;
    const char* Max;
    std::uint8_t Size;
  } cases[] = {
      {kFieldTypeInteger, "10", "", 0},  {kFieldTypeInteger, "", "-10", 0},
      {kFieldTypeSmallInt, "1", "5", 0}, {kFieldTypeWord, "7", "", 0},
      {kFieldTypeLargeInt, "1", "", 0},  {kFieldTypeFloat, "0.5", "", 0},
      {kFieldTypeBcd, "1.25", "", 0},    {kFieldTypeDate, "2000-01-01", "", 0},
      {kFieldTypeTime, "08:00", "", 0},  {kFieldTypeTimestamp, "2000-01-01 12:00", "", 0},
      {kFieldTypeString, "B", "M", 10},
  };
  for (const TCase& c : cases) {
    TOneField one(c.Type, c.Min, c.Max, c.Size);
    std::fill(one.record.begin(), one.record.end(), std::uint8_t{0});  // every field NULL
    EXPECT_EQ(CheckRecordValues(one.record, std::span(&one.field, 1), {}).Code, 0) << int(c.Type);
    one.field.Required = true;
    const TValidationFailure failure = CheckRecordValues(one.record, std::span(&one.field, 1), {});
    EXPECT_EQ(failure.Code, codes::kValueRequired) << int(c.Type);
    EXPECT_EQ(failure.FieldName, "F");
  }
  // A stored zero is a value and still meets the bound.
  TOneField zero(kFieldTypeInteger, "10", "");
  EXPECT_EQ(zero.Check("0"), codes::kBelowMinimum);
}

TEST(RecordValidationTest, DefaultsTakeTheCurrentMomentAndConvertTexts) {
  std::vector<TFieldDescriptor> fields(5);
  const struct {
    std::uint8_t Type;
    const char* Default;
  } defaults[] = {{kFieldTypeDate, "Current_Date"},
                  {kFieldTypeTime, "CURRENT_TIME"},
                  {kFieldTypeTimestamp, "CURRENT_DATE"},
                  {kFieldTypeString, "hello"},
                  {kFieldTypeBcd, "2.5"}};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    fields[i].FieldName = testing::Numbered("F", static_cast<std::int64_t>(i));
    fields[i].FieldType = defaults[i].Type;
    fields[i].FieldSize = defaults[i].Type == kFieldTypeString ? 10 : 0;
    fields[i].FieldDecimals = defaults[i].Type == kFieldTypeBcd ? 2 : 0;
    fields[i].DefaultValue = defaults[i].Default;
  }
  std::vector<std::uint8_t> record(LayoutFields(fields), 0);
  const TNow now{738000, 3'600'000};
  StoreFieldDefaults(record, fields, {}, now);
  const auto stored = [&](int i, std::size_t size) {
    std::vector<std::uint8_t> value(size + 1, 0);
    EXPECT_FALSE(GetField(record, fields[static_cast<std::size_t>(i)], value)) << i;
    value.resize(size);
    return value;
  };
  EXPECT_EQ(stored(0, 4), ValueFromText(kFieldTypeDate, "CURRENT_DATE", 0, 0, now));
  EXPECT_EQ(stored(1, 4), ValueFromText(kFieldTypeTime, "CURRENT_TIME", 0, 0, now));
  EXPECT_EQ(stored(2, 8), ValueFromText(kFieldTypeTimestamp, "CURRENT_DATE", 0, 0, now));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored(3, 11).data())), "hello");
  EXPECT_EQ(stored(4, 34), ValueFromText(kFieldTypeBcd, "2.5", 0, 2));
}

}  // namespace
}  // namespace kura
