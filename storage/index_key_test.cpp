// Index keys: the encodings of every field type, descending fields, the RowId suffix, and the
// comparison rules with and without a locale.
#include "storage/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/field_values.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

TFieldDescriptor Field(std::uint8_t type, std::uint8_t size = 0, std::uint8_t subType = 0) {
  TFieldDescriptor f;
  f.FieldName = "F";
  f.FieldType = type;
  f.FieldSubType = subType;
  f.FieldSize = size;
  f.FieldDecimals = type == kFieldTypeBcd ? 2 : 0;
  return f;
}

// A one-table fixture: the fields, their layout and a record image to fill.
struct TTable {
  explicit TTable(std::vector<TFieldDescriptor> f) : Fields(std::move(f)) {
    RecordSize = LayoutFields(Fields);
    Record.assign(RecordSize, 0);
  }
  TKeyFormat Format(std::vector<int> fieldNos, bool unique, bool descending = false,
                    std::vector<bool> fieldDescending = {}, TTableLocale locale = {},
                    bool caseInsensitive = false) {
    TIndexDescriptor d;
    d.Unique = unique;
    d.Descending = descending;
    d.CaseInsensitive = caseInsensitive;
    d.KeyFieldCount = static_cast<std::uint8_t>(fieldNos.size());
    std::vector<TFieldDescriptor> keyFields;
    for (std::size_t i = 0; i < fieldNos.size(); ++i) {
      d.KeyFields[i] = static_cast<std::uint16_t>(fieldNos[i]);
      d.FieldDescending[i] = i < fieldDescending.size() && fieldDescending[i];
      keyFields.push_back(Fields[fieldNos[i] - 1]);
    }
    d.KeyLength = static_cast<std::uint16_t>(KeyLengthOf(keyFields, unique));
    return MakeKeyFormat(1, d, Fields, locale);
  }
  void Set(int fieldNo, const void* value, TTableLocale locale = {}) {
    SetField(Record, Fields[fieldNo - 1], value, false, locale);
  }
  std::vector<std::uint8_t> Key(const TKeyFormat& format) {
    std::vector<std::uint8_t> key(format.KeyLength);
    BuildKey(format, Record, key);
    return key;
  }
  std::vector<TFieldDescriptor> Fields;
  std::size_t RecordSize = 0;
  std::vector<std::uint8_t> Record;
};

std::vector<std::uint8_t> LE32(std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  PutI32LE(b.data(), v);
  return b;
}
std::vector<std::uint8_t> LE64F(double v) {
  std::vector<std::uint8_t> b(8);
  PutF64LE(b.data(), v);
  return b;
}

TEST(IndexKey, IntegerKeyOfNonUniqueIndexCarriesRowIdSuffix) {
  TTable t({Field(kFieldTypeInteger)});
  TKeyFormat format = t.Format({1}, false);
  EXPECT_EQ(format.KeyLength, 9);
  t.Set(1, LE32(-1).data());
  SetRowId(t.Record, 7);
  std::vector<std::uint8_t> expected = {0x01, 0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x07};
  EXPECT_EQ(t.Key(format), expected);
  EXPECT_EQ(GetRowIdSuffix(expected.data() + 5), 7);
}

// Values in ascending order per type: their keys must be in strictly ascending byte order.
TEST(IndexKey, EveryTypeOrdersByUnsignedBytes) {
  struct TCase {
    std::uint8_t Type;
    std::vector<std::vector<std::uint8_t>> Ascending;
  };
  auto le16 = [](int v) {
    std::vector<std::uint8_t> b(2);
    PutU16LE(b.data(), static_cast<std::uint16_t>(v));
    return b;
  };
  auto le64 = [](std::int64_t v) {
    std::vector<std::uint8_t> b(8);
    PutI64LE(b.data(), v);
    return b;
  };
  auto bcd = [](const char* text) {
    auto v = BcdFromText(text, 2);
    return std::vector<std::uint8_t>(v->begin(), v->end());
  };
  std::vector<TCase> cases = {
      {kFieldTypeInteger, {LE32(INT32_MIN), LE32(-5), LE32(-1), LE32(0), LE32(1), LE32(INT32_MAX)}},
      {kFieldTypeDate, {LE32(1), LE32(693594), LE32(700000)}},
      {kFieldTypeTime, {LE32(0), LE32(43200000), LE32(86399999)}},
      {kFieldTypeSmallInt, {le16(-32768), le16(-1), le16(0), le16(1), le16(32767)}},
      {kFieldTypeWord, {le16(0), le16(1), le16(255), le16(256), le16(65535)}},
      {kFieldTypeBoolean, {le16(0), le16(1)}},
      {kFieldTypeFloat,
       {LE64F(-1e300), LE64F(-3.0), LE64F(-0.5), LE64F(0.0), LE64F(1.0), LE64F(2.5), LE64F(1e300)}},
      {kFieldTypeTimestamp, {LE64F(-1.0), LE64F(0.0), LE64F(6e13)}},
      {kFieldTypeLargeInt, {le64(INT64_MIN), le64(-2), le64(0), le64(INT64_MAX)}},
      {kFieldTypeBcd, {bcd("-12.5"), bcd("-0.01"), bcd("0"), bcd("0.01"), bcd("3"), bcd("12.5")}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int{c.Type});
    TTable t({Field(c.Type)});
    TKeyFormat format = t.Format({1}, true);
    std::vector<std::uint8_t> previous;
    for (const auto& value : c.Ascending) {
      t.Set(1, value.data());
      std::vector<std::uint8_t> key = t.Key(format);
      EXPECT_EQ(key[0], 1);
      if (!previous.empty()) {
        EXPECT_LT(CompareKeys(format, previous.data(), key.data()), 0);
      }
      previous = key;
    }
  }
}

TEST(IndexKey, FloatEncodingsOfTheExamples) {
  TTable t({Field(kFieldTypeFloat)});
  TKeyFormat format = t.Format({1}, true);
  auto keyOf = [&](double v) {
    t.Set(1, LE64F(v).data());
    return t.Key(format);
  };
  auto k25 = keyOf(2.5), km3 = keyOf(-3.0), k1 = keyOf(1.0);
  EXPECT_GT(CompareKeys(format, k25.data(), km3.data()), 0);
  EXPECT_GT(CompareKeys(format, k25.data(), k1.data()), 0);
  EXPECT_EQ(k1[1], 0xBF);   // 3F F0 ... with the top bit set
  EXPECT_EQ(km3[1], 0x3F);  // C0 08 ... inverted
}

TEST(IndexKey, NullSortsFirstAndLastWhenDescending) {
  TTable t({Field(kFieldTypeInteger)});
  for (bool descending : {false, true}) {
    TKeyFormat format = t.Format({1}, true, descending);
    t.Set(1, nullptr);
    auto nullKey = t.Key(format);
    EXPECT_EQ(nullKey, std::vector<std::uint8_t>(5, 0));
    t.Set(1, LE32(INT32_MIN).data());
    auto minKey = t.Key(format);
    int order = CompareKeys(format, nullKey.data(), minKey.data());
    EXPECT_EQ(order < 0, !descending);
  }
}

TEST(IndexKey, DescendingFieldWithoutLocaleIsInvertedExceptStringTerminator) {
  TTable t({Field(kFieldTypeString, 3), Field(kFieldTypeInteger)});
  TKeyFormat format = t.Format({1, 2}, true, false, {true, false});
  EXPECT_EQ(format.KeyLength, 1 + 4 + 1 + 4);
  t.Set(1, "ab");
  t.Set(2, LE32(0).data());
  auto key = t.Key(format);
  std::vector<std::uint8_t> expected = {0xFE, 0x9E, 0x9D, 0xFF, 0x00, 0x01, 0x80, 0, 0, 0};
  EXPECT_EQ(key, expected);
  t.Set(1, "b");
  auto keyB = t.Key(format);
  EXPECT_LT(CompareKeys(format, keyB.data(), key.data()), 0);  // "b" before "ab" descending
}

TEST(IndexKey, CaseInsensitiveStringsAreUpperCased) {
  TTable t({Field(kFieldTypeString, 10)});
  TKeyFormat format = t.Format({1}, true, false, {}, {}, true);
  t.Set(1, "abc");
  auto key = t.Key(format);
  EXPECT_EQ(std::memcmp(key.data() + 1, "ABC\0\0", 5), 0);
  EXPECT_EQ(key.size(), 12U);
}

TEST(IndexKey, LocaleComparesStringsFieldByFieldAndNegatesDescending) {
  const TTableLocale german{0x0407, 0};
  if (!LocaleInstalled(german.LanguageId, german.SortId)) GTEST_SKIP() << "no German collation";
  TTable t({Field(kFieldTypeString, 10), Field(kFieldTypeInteger)});
  TKeyFormat format = t.Format({1, 2}, false, false, {false, true}, german);
  auto keyOf = [&](const char* s, int v, int rowId) {
    t.Set(1, s, german);
    t.Set(2, LE32(v).data());
    SetRowId(t.Record, rowId);
    return t.Key(format);
  };
  auto b = keyOf("b", 1, 1), aUpper = keyOf("B", 1, 1), a = keyOf("a", 1, 1);
  EXPECT_LT(CompareKeys(format, a.data(), b.data()), 0);
  EXPECT_LT(CompareKeys(format, a.data(), aUpper.data()), 0);
  // The integer field is descending: nothing inverted, the comparison negates.
  auto a2 = keyOf("a", 2, 1);
  EXPECT_EQ(a2[1 + 11 + 1], 0x80);
  EXPECT_LT(CompareKeys(format, a2.data(), a.data()), 0);
  auto a2row9 = keyOf("a", 2, 9);
  EXPECT_LT(CompareKeys(format, a2.data(), a2row9.data()), 0);
}

TEST(IndexKey, SystemKeys) {
  TTable t({Field(kFieldTypeInteger)});
  TKeyFormat deleted = MakeKeyFormat(kSysDeletedSlot, SysDeletedDescriptor(), t.Fields, {});
  SetRowId(t.Record, 3);
  auto live3 = t.Key(deleted);
  EXPECT_EQ(live3, (std::vector<std::uint8_t>{0, 0x80, 0, 0, 3}));
  SetDeleted(t.Record, true);
  SetRowId(t.Record, 1);
  auto deleted1 = t.Key(deleted);
  EXPECT_LT(CompareKeys(deleted, live3.data(), deleted1.data()), 0);

  TKeyFormat text = MakeKeyFormat(kSysTextSlot, SysTextDescriptor(), t.Fields, {});
  std::array<std::uint8_t, kSysTextKeyLength> k1{}, k2{};
  BuildTextKey(2, "go", 5, {}, k1);
  EXPECT_EQ(k1[0], 1);
  EXPECT_EQ(k1[2], 2);
  EXPECT_EQ(std::memcmp(k1.data() + 3, "GO\0", 3), 0);
  EXPECT_EQ(GetRowIdSuffix(k1.data() + 64), 5);
  BuildTextKey(2, "GOBAN", 1, {}, k2);
  EXPECT_LT(CompareKeys(text, k1.data(), k2.data()), 0);
}

TEST(IndexKey, DescriptorRoundTripsAndBadFormatsAreRefused) {
  TIndexDescriptor d = SysTextDescriptor();
  d.KeyFieldCount = 2;
  d.KeyFields[0] = 3;
  d.KeyFields[1] = 1;
  d.FieldDescending[1] = true;
  d.RootPage = 7;
  d.FreePage = 9;
  std::array<std::uint8_t, kIndexDescriptorSize> bytes{};
  EncodeIndexDescriptor(d, bytes);
  EXPECT_EQ(bytes[0], 8);
  EXPECT_EQ(DecodeIndexDescriptor(bytes), d);
  EXPECT_EQ(IndexDescriptorViolation(d, 10), "");
  EXPECT_NE(IndexDescriptorViolation(d, 9), "");

  TTable t({Field(kFieldTypeInteger), Field(kFieldTypeBlob, 0, kSubTypeMemo)});
  TIndexDescriptor blob;
  blob.KeyFieldCount = 1;
  blob.KeyFields[0] = 2;
  blob.Unique = true;
  blob.KeyLength = 9;
  TIndexDescriptor missing = blob;
  missing.KeyFields[0] = 5;
  TIndexDescriptor wrongLength = blob;
  wrongLength.KeyFields[0] = 1;
  wrongLength.KeyLength = 6;
  for (const TIndexDescriptor& bad : {blob, missing, wrongLength}) {
    try {
      MakeKeyFormat(1, bad, t.Fields, {});
      ADD_FAILURE();
    } catch (const EKuraEngineError& e) {
      EXPECT_EQ(e.ErrorCode, codes::kHeaderCorrupt);
    }
  }
}

}  // namespace
}  // namespace kura
