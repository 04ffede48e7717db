// Calculated fields computed by real expressions on a real table through a cursor: arithmetic
// over two fields, string concatenation, NULL propagation, conversion to the field's type,
// memo references read from the BLOB file, and expressions that are refused.
#include "sql/calculated_field_evaluator.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/engine_codes.h"
#include "engine/cursor_test_support.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/table_test_support.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/file_test_support.h"

namespace kura {
namespace {

using testing::ChangeRecord;
using testing::RaisedCode;
using testing::StoreBlob;
using testing::TEngineSandbox;
using testing::TScratchFolder;

using TBuffer = std::vector<std::uint8_t>;

// The table: ID, A (integer), S and T (CHAR(10)), NOTE (memo).
constexpr int kFieldA = 2;
constexpr int kFieldS = 3;
constexpr int kFieldNote = 5;

// A calculated field's value in a buffer in its text form, or "NULL".
std::string TextOf(const TDataCursor& cursor, std::span<const std::uint8_t> record, int fieldNo) {
  const TFieldDescriptor& field = cursor.GetFieldDesc(fieldNo).Descriptor;
  std::vector<std::uint8_t> value(static_cast<std::size_t>(field.PhysicalSize) + 1, 0);
  if (GetField(record, field, value)) return "NULL";
  return ValueToText(field.FieldType, value);
}

class ExpressionFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox = std::make_unique<TEngineSandbox>(folder.Path());
    TTableDefinition definition;
    definition.Fields = {MakeFieldDescriptor("ID", kFieldTypeInteger),
                         MakeFieldDescriptor("A", kFieldTypeInteger),
                         MakeFieldDescriptor("S", kFieldTypeString, 10),
                         MakeFieldDescriptor("T", kFieldTypeString, 10),
                         MakeFieldDescriptor("NOTE", kFieldTypeBlob, 0, kSubTypeMemo)};
    TDataDirectory& directory = sandbox->Directory();
    directory.CloseTable(directory.CreateTable("E", false, definition, false));
    cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("E");
    cursor->Open();
    // Row 1: A 5, S "ab", T "cd", NOTE "hello world"; row 2: everything but ID and T NULL.
    testing::AppendRecords(*cursor->Table(), 2);
    Set(1, kFieldA, "5");
    Set(1, kFieldS, "ab");
    Set(1, 4, "cd");
    Set(2, 4, "x");
    StoreBlob(*cursor->Table(), 1, kFieldNote, "hello world");
  }

  void Set(std::int32_t n, int fieldNo, const std::string& text) {
    ChangeRecord(*cursor->Table(), n, [&](std::span<std::uint8_t> image) {
      const TFieldDescriptor& field = *cursor->Table()->Data().DescriptorByNumber(fieldNo);
      std::vector<std::uint8_t> bytes =
          ValueFromText(field.FieldType, text, field.FieldSize, field.FieldDecimals);
      bytes.push_back(0);
      SetField(image, field, bytes.data(), false, {});
    });
  }

  // The table's five fields, then the calculated ones.
  static std::vector<TCursorFieldDefinition> WithCalculated(
      const std::vector<TCursorFieldDefinition>& calculated) {
    std::vector<TCursorFieldDefinition> fields;
    for (int n = 1; n <= 5; ++n) {
      TCursorFieldDefinition table;
      table.TableFieldNo = n;
      fields.push_back(table);
    }
    fields.insert(fields.end(), calculated.begin(), calculated.end());
    return fields;
  }

  static TCursorFieldDefinition Calc(const std::string& name, const TFieldDescriptor& type,
                                     const std::string& expression) {
    TCursorFieldDefinition definition;
    definition.Descriptor = type;
    definition.Descriptor.FieldName = name;
    definition.Expression = expression;
    return definition;
  }

  // The value of a single calculated field on rows 1 and 2.
  std::vector<std::string> Values(const TFieldDescriptor& type, const std::string& expression) {
    SetCalculatedFieldExpressions(*cursor, WithCalculated({Calc("C", type, expression)}));
    std::vector<std::string> values;
    TBuffer buffer(cursor->RecordSize());
    cursor->First();
    while (cursor->GetNextRecord(buffer) == 0) values.push_back(TextOf(*cursor, buffer, 6));
    return values;
  }

  TScratchFolder folder;
  std::unique_ptr<TEngineSandbox> sandbox;
  std::unique_ptr<TDataCursor> cursor;
};

TEST_F(ExpressionFieldsTest, ExpressionsOverTheRecordGiveTheFieldsValue) {
  struct TCase {
    TFieldDescriptor Type;
    const char* Expression;
    std::vector<std::string> Expected;  // rows 1 and 2
  };
  const TFieldDescriptor integer = MakeFieldDescriptor("", kFieldTypeInteger);
  const TFieldDescriptor text10 = MakeFieldDescriptor("", kFieldTypeString, 10);
  const std::vector<TCase> cases = {
      {integer, "ID + A", {"6", "NULL"}},
      {integer, "A * 3 - ID", {"14", "NULL"}},
      {integer, "A / 0", {"NULL", "NULL"}},
      {MakeFieldDescriptor("", kFieldTypeFloat), "A / 2", {"2.5", "NULL"}},
      {integer, "A / 2", {"2", "NULL"}},  // 2.5 stored as an integer
      {text10, "S || T", {"abcd", "x"}},
      {text10, "UPPER(S || '-' || T)", {"AB-CD", "-X"}},
      {MakeFieldDescriptor("", kFieldTypeString, 3),
       "T || 'yz12'",
       {"cdy", "xyz"}},  // cut to the size
      {MakeFieldDescriptor("", kFieldTypeBoolean), "A > 4", {"TRUE", "FALSE"}},
      {MakeFieldDescriptor("", kFieldTypeBoolean), "S IS NULL", {"FALSE", "TRUE"}},
      {MakeFieldDescriptor("", kFieldTypeBcd, 0, 0, 2), "A + 0.255", {"5.25", "NULL"}},
      {integer, "'12' || S", {"NULL", "12"}},  // "12ab" is no integer
      {MakeFieldDescriptor("", kFieldTypeString, 20), "NOTE", {"hello world", "NULL"}},
      {integer, "LENGTH(NOTE)", {"11", "NULL"}},
      {MakeFieldDescriptor("", kFieldTypeBoolean), "NOTE LIKE '%world'", {"TRUE", "FALSE"}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Values(c.Type, c.Expression), c.Expected) << c.Expression;
  }
}

TEST_F(ExpressionFieldsTest, LaterFieldsSeeEarlierOnesAndSetFieldRecomputes) {
  SetCalculatedFieldExpressions(
      *cursor,
      WithCalculated(
          {Calc("SUM1", MakeFieldDescriptor("", kFieldTypeInteger), "ID + A"),
           Calc("NEXT", MakeFieldDescriptor("", kFieldTypeInteger), "sum1 * 10"),
           Calc("LABEL", MakeFieldDescriptor("", kFieldTypeString, 12), "S || ':' || T")}));
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  EXPECT_EQ(TextOf(*cursor, buffer, 7), "60");
  EXPECT_EQ(TextOf(*cursor, buffer, 8), "ab:cd");

  std::vector<std::uint8_t> a = ValueFromText(kFieldTypeInteger, "-1", 0, 0);
  cursor->SetField(kFieldA, buffer, a.data());
  EXPECT_EQ(TextOf(*cursor, buffer, 6), "0");
  EXPECT_EQ(TextOf(*cursor, buffer, 7), "0");
  cursor->SetField(kFieldS, buffer, nullptr);
  EXPECT_EQ(TextOf(*cursor, buffer, 8), ":cd");
  cursor->SetField(kFieldA, buffer, nullptr);
  EXPECT_EQ(TextOf(*cursor, buffer, 6), "NULL");
  EXPECT_EQ(TextOf(*cursor, buffer, 7), "NULL");

  // A clone evaluates the same expressions on its own.
  auto clone = cursor->Clone();
  TBuffer other(clone->RecordSize());
  ASSERT_EQ(clone->GetCurrentRecord(other), 0);
  EXPECT_EQ(TextOf(*clone, other, 7), "60");
}

// Random SetField sequences on a record buffer, NULLs included, checked after every change
// against the same formulas computed here.
TEST_F(ExpressionFieldsTest, RandomChangesAgreeWithAPlainModel) {
  SetCalculatedFieldExpressions(
      *cursor,
      WithCalculated({Calc("SUM1", MakeFieldDescriptor("", kFieldTypeInteger), "ID + A * 2"),
                      Calc("JOIN1", MakeFieldDescriptor("", kFieldTypeString, 12), "S || '/' || T"),
                      Calc("BIG", MakeFieldDescriptor("", kFieldTypeBoolean), "A > ID")}));
  TBuffer buffer(cursor->RecordSize());
  cursor->First();
  ASSERT_EQ(cursor->GetNextRecord(buffer), 0);
  std::optional<std::int32_t> id = 1;
  std::optional<std::int32_t> a = 5;
  std::string s = "ab";
  std::string t = "cd";
  std::mt19937 random(4242);
  const auto randomText = [&] {
    std::string text;
    for (std::size_t n = random() % 8; n > 0; --n) text += static_cast<char>('a' + random() % 26);
    return text;
  };
  for (int step = 0; step < 400; ++step) {
    const int field = 1 + static_cast<int>(random() % 4);
    const bool null = random() % 5 == 0;
    if (field <= 2) {
      const std::int32_t value = static_cast<std::int32_t>(random() % 2001) - 1000;
      std::vector<std::uint8_t> bytes =
          ValueFromText(kFieldTypeInteger, std::to_string(value), 0, 0);
      cursor->SetField(field, buffer, null ? nullptr : bytes.data());
      (field == 1 ? id : a) = null ? std::nullopt : std::optional<std::int32_t>(value);
    } else {
      const std::string text = null ? std::string() : randomText();
      cursor->SetField(field, buffer, null ? nullptr : text.c_str());
      (field == 3 ? s : t) = text;  // an empty string is NULL: it joins as nothing
    }
    const std::string sum = id && a ? std::to_string(*id + *a * 2) : "NULL";
    const std::string joined = (s + "/" + t).substr(0, 12);
    // Two-valued logic: a comparison with NULL is FALSE.
    const std::string big = id && a && *a > *id ? "TRUE" : "FALSE";
    ASSERT_EQ(TextOf(*cursor, buffer, 6), sum) << "step " << step;
    ASSERT_EQ(TextOf(*cursor, buffer, 7), joined) << "step " << step;
    ASSERT_EQ(TextOf(*cursor, buffer, 8), big) << "step " << step;
  }
}

TEST_F(ExpressionFieldsTest, RefusedExpressionsLeaveTheFieldListAsItWas) {
  SetCalculatedFieldExpressions(
      *cursor, WithCalculated({Calc("K", MakeFieldDescriptor("", kFieldTypeInteger), "ID")}));
  const std::uint16_t size = cursor->RecordSize();
  for (const char* expression : {"ID +", "NOPE + 1", "ID 5", "S + 1)", "(((", "SUM(ID)", "?"}) {
    EXPECT_EQ(
        RaisedCode([&] {
          SetCalculatedFieldExpressions(
              *cursor,
              WithCalculated({Calc("X", MakeFieldDescriptor("", kFieldTypeInteger), expression)}));
        }),
        codes::kSqlError)
        << expression;
    EXPECT_EQ(cursor->FieldCount(), 6) << expression;
    EXPECT_EQ(cursor->RecordSize(), size) << expression;
    EXPECT_EQ(cursor->GetFieldDesc(6).Descriptor.FieldName, "K") << expression;
  }
  // A filter's code when asked for.
  EXPECT_EQ(RaisedCode([&] {
              SetCalculatedFieldExpressions(
                  *cursor,
                  WithCalculated({Calc("X", MakeFieldDescriptor("", kFieldTypeInteger), "ID +")}),
                  codes::kFilterError);
            }),
            codes::kFilterError);
}

}  // namespace
}  // namespace kura
