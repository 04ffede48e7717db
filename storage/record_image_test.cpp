#include "storage/record_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/engine_error.h"
#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

TFieldDescriptor Field(std::string name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t subType = 0) {
  TFieldDescriptor field;
  field.FieldName = std::move(name);
  field.FieldType = type;
  field.FieldSubType = subType;
  field.FieldSize = size;
  return field;
}

// A table of one field of each interesting kind, laid out, with a zeroed record.
class RecordFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fields = {Field("N", kFieldTypeInteger),
              Field("NAME", kFieldTypeString, 10),
              Field("ID", kFieldTypeInteger, 0, kSubTypeAutoInc),
              Field("SHORT", kFieldTypeString, 5),
              Field("OK", kFieldTypeBoolean),
              Field("PIC", kFieldTypeBlob, 0, kSubTypeGraphic),
              Field("UP", kFieldTypeString, 8),
              Field("TOTAL", kFieldTypeBcd, 0)};
    fields[6].CharCase = kCharCaseUpper;
    record.resize(LayoutFields(fields));
  }

  const TFieldDescriptor& F(const char* name) {
    for (const auto& field : fields) {
      if (field.FieldName == name) return field;
    }
    throw std::logic_error(name);
  }

  void SetText(const char* name, const char* text, TTableLocale locale = {}) {
    SetField(record, F(name), text, false, locale);
  }

  // The string read back, or "<NULL>".
  std::string GetText(const char* name) {
    std::vector<std::uint8_t> value(F(name).PhysicalSize);
    if (GetField(record, F(name), value)) return "<NULL>";
    return reinterpret_cast<const char*>(value.data());
  }

  void ExpectInvariants() { EXPECT_EQ(RecordInvariantViolation(record, fields), ""); }

  std::vector<TFieldDescriptor> fields;
  std::vector<std::uint8_t> record;
};

TEST(RecordLayoutTest, IntegerCharAutoIncRecordIs26Bytes) {
  std::vector<TFieldDescriptor> fields = {Field("A", kFieldTypeInteger),
                                          Field("B", kFieldTypeString, 10),
                                          Field("C", kFieldTypeInteger, 0, kSubTypeAutoInc)};
  EXPECT_EQ(LayoutFields(fields), 26u);  // 9 + (1 + 4) + (1 + 11)
  EXPECT_EQ(fields[0].FieldOffset, 9);
  EXPECT_EQ(fields[1].FieldOffset, 14);
  EXPECT_EQ(fields[2].FieldOffset, 5);
  EXPECT_EQ(fields[1].PhysicalSize, 11);
  EXPECT_EQ(fields[2].FieldNo, 3);
}

TEST(RecordLayoutTest, StoredAndKeySizesFollowTheType) {
  struct Case {
    std::uint8_t type;
    int declared;
    int stored;
  };
  const Case cases[] = {{1, 250, 251}, {2, 0, 4},   {3, 0, 8},   {4, 0, 2},  {5, 0, 2},  {6, 0, 4},
                        {7, 0, 8},     {8, 0, 34},  {9, 17, 17}, {10, 0, 4}, {11, 0, 8}, {12, 0, 2},
                        {13, 0, 4},    {14, 0, 10}, {15, 3, 3},  {18, 0, 8}};
  for (const Case& c : cases) {
    EXPECT_EQ(StoredSize(c.type, c.declared), c.stored) << int(c.type);
    int key = KeySize(Field("F", c.type, static_cast<std::uint8_t>(c.declared)));
    EXPECT_EQ(key, c.type == kFieldTypeBcd ? 8 : c.stored) << int(c.type);
  }
}

TEST(FieldDescriptorTest, RoundTripsThrough768Bytes) {
  TFieldDescriptor field = Field("GoName", kFieldTypeString, 40);
  field.FieldNo = 3;
  field.FieldDescription = "problem title";
  field.FieldOffset = 77;
  field.Required = true;
  field.CharCase = kCharCaseLower;
  field.MinValue = "a";
  field.DefaultValue = std::string(60, 'x');  // cut to 50 characters
  RecomputePhysicalSize(field);
  std::array<std::uint8_t, kFieldDescriptorSize> bytes;
  EncodeFieldDescriptor(field, bytes);
  EXPECT_EQ(bytes[84], kFieldTypeString);
  EXPECT_EQ(bytes[88], 41);
  EXPECT_EQ(GetU16LE(&bytes[90]), 77);
  EXPECT_EQ(bytes[196], 50);
  TFieldDescriptor back = DecodeFieldDescriptor(bytes);
  EXPECT_EQ(back.FieldName, "GoName");
  EXPECT_EQ(back.FieldDescription, "problem title");
  EXPECT_EQ(back.FieldNo, 3);
  EXPECT_TRUE(back.Required);
  EXPECT_EQ(back.CharCase, kCharCaseLower);
  EXPECT_EQ(back.MinValue, "a");
  EXPECT_EQ(back.DefaultValue, std::string(50, 'x'));
}

TEST(FieldDescriptorTest, HostileBytesAreCutNotTrusted) {
  std::array<std::uint8_t, kFieldDescriptorSize> bytes{};
  bytes[2] = 200;  // name length beyond its 30 characters
  bytes[84] = kFieldTypeString;
  bytes[86] = 255;  // declared size beyond 250
  bytes[88] = 3;    // physical size that does not match
  TFieldDescriptor field = DecodeFieldDescriptor(bytes);
  EXPECT_EQ(field.FieldName.size(), kMaxFieldNameLength);
  EXPECT_EQ(field.PhysicalSize, 256);  // recomputed, and wide enough not to wrap
}

TEST_F(RecordFixture, StringsAreCutTrimmedAndEmptyMeansNull) {
  struct Case {
    const char* field;
    const char* given;
    const char* readBack;
  };
  const Case cases[] = {
      {"NAME", "abc   ", "abc"},      {"NAME", "   ", "<NULL>"},  {"NAME", "", "<NULL>"},
      {"SHORT", "abcdefgh", "abcde"}, {"SHORT", "ab   cd", "ab"},  // cut to "ab   ", then trimmed
      {"UP", "go Move ", "GO MOVE"},
  };
  for (const Case& c : cases) {
    SetText(c.field, c.given);
    EXPECT_EQ(GetText(c.field), c.readBack) << c.field << " <- '" << c.given << "'";
    ExpectInvariants();
  }
  // The slot holds the characters, a terminator and zeros.
  SetText("NAME", "abc   ");
  const std::uint8_t* slot = &record[F("NAME").FieldOffset];
  EXPECT_EQ(slot[0], 1);
  EXPECT_EQ(std::memcmp(slot + 1, "abc\0\0\0\0\0\0\0\0", 11), 0);
}

TEST_F(RecordFixture, JapaneseTextIsNeverCutInsideACharacter) {
  // "aゴラ" is 5 bytes; a CHAR(5) keeps it, "aaゴラ" (6 bytes) loses the whole ラ.
  SetText("SHORT", "a\x83\x53\x83\x89");
  EXPECT_EQ(GetText("SHORT"), "a\x83\x53\x83\x89");
  SetText("SHORT", "aa\x83\x53\x83\x89");
  EXPECT_EQ(GetText("SHORT"), "aa\x83\x53");
  // Upper case under language 0 leaves the characters whole (ソ = 0x83 0x5C, 院 = 0x88 0x61).
  SetText("UP", "go\x83\x5C\x88\x61");
  EXPECT_EQ(GetText("UP"), "GO\x83\x5C\x88\x61");
}

TEST_F(RecordFixture, CharacterCaseUsesTheTableLocale) {
  SetText("UP", "m\xFCller", {0x0407, 0});  // Windows-1252 ü
  EXPECT_EQ(GetText("UP"), "M\xDCLLER");
}

TEST_F(RecordFixture, BooleansAreNormalisedAndNullZeroesTheSlot) {
  std::uint8_t seven[2] = {7, 0};
  SetField(record, F("OK"), seven, false, {});
  std::uint8_t value[2];
  EXPECT_FALSE(GetField(record, F("OK"), value));
  EXPECT_EQ(GetU16LE(value), 1);
  ExpectInvariants();

  std::uint8_t number[4];
  PutI32LE(number, -42);
  SetField(record, F("N"), number, false, {});
  EXPECT_FALSE(GetField(record, F("N"), number));
  EXPECT_EQ(GetI32LE(number), -42);
  SetField(record, F("N"), nullptr, false, {});
  EXPECT_TRUE(GetField(record, F("N"), number));
  EXPECT_EQ(GetI32LE(number), 0);
  const std::uint8_t* slot = &record[F("N").FieldOffset];
  EXPECT_EQ(std::vector<std::uint8_t>(slot, slot + 5), std::vector<std::uint8_t>(5, 0));
  ExpectInvariants();
}

TEST_F(RecordFixture, BlobReferenceTracksItsFirstBlock) {
  const TFieldDescriptor& pic = F("PIC");
  std::uint8_t reference[8];
  PutI32LE(reference, 12);
  PutI32LE(reference + 4, 99);  // the change number is not SetField's to write
  SetField(record, pic, reference, false, {});
  PutI32LE(&record[pic.FieldOffset + 5], 7);  // as the BLOB file stores it
  std::uint8_t value[8];
  EXPECT_FALSE(GetField(record, pic, value));
  EXPECT_EQ(GetI32LE(value), 12);
  EXPECT_EQ(GetI32LE(value + 4), 0);  // only the first block number is read
  PutI32LE(reference, 0);
  SetField(record, pic, reference, false, {});
  EXPECT_TRUE(GetField(record, pic, value));
  SetField(record, pic, nullptr, false, {});
  EXPECT_EQ(GetI32LE(&record[pic.FieldOffset + 5]), 7);  // the change number stays
  ExpectInvariants();
}

TEST_F(RecordFixture, AutoIncrementFieldIsTheRowId) {
  const TFieldDescriptor& id = F("ID");
  std::uint8_t value[4];
  PutI32LE(value, 321);
  SetField(record, id, value, false, {});
  EXPECT_EQ(RowId(record), 321);
  SetField(record, id, nullptr, false, {});  // ignored
  PutI32LE(value, 0);
  EXPECT_FALSE(GetField(record, id, value));
  EXPECT_EQ(GetI32LE(value), 321);
}

TEST_F(RecordFixture, ComputedFieldsChangeOnlyWhenForced) {
  TFieldDescriptor computed = F("N");
  computed.Computed = true;
  std::uint8_t value[4];
  PutI32LE(value, 5);
  SetField(record, computed, value, false, {});
  EXPECT_TRUE(GetField(record, computed));
  SetField(record, computed, value, true, {});
  EXPECT_FALSE(GetField(record, computed));
}

TEST_F(RecordFixture, DamagedDescriptorRaisesInsteadOfOverrunning) {
  TFieldDescriptor damaged = F("NAME");
  damaged.FieldOffset = static_cast<std::uint16_t>(record.size() - 2);
  EXPECT_THROW(SetField(record, damaged, "abc", false, {}), EKuraEngineError);
  EXPECT_THROW(GetField(record, damaged), EKuraEngineError);
  damaged.FieldOffset = 2;  // inside the record header
  EXPECT_THROW(GetField(record, damaged), EKuraEngineError);
}

TEST(RecordFloatTest, NumbersThatAreNotFiniteAreNeverStored) {
  struct Case {
    double value;
    std::uint16_t code;
  };
  const Case kCases[] = {{std::numeric_limits<double>::infinity(), 9731},
                         {-std::numeric_limits<double>::infinity(), 9730},
                         {std::numeric_limits<double>::quiet_NaN(), 9731}};
  for (std::uint8_t type : {kFieldTypeFloat, kFieldTypeTimestamp}) {
    std::vector<TFieldDescriptor> fields = {Field("AMOUNT", type)};
    std::vector<std::uint8_t> record(LayoutFields(fields));
    std::uint8_t bytes[8];
    PutF64LE(bytes, 2.5);
    SetField(record, fields[0], bytes, false, {});
    for (const Case& c : kCases) {
      SCOPED_TRACE(testing::Message() << "type " << int(type) << " value " << c.value);
      PutF64LE(bytes, c.value);
      try {
        SetField(record, fields[0], bytes, false, {});
        ADD_FAILURE() << "stored";
      } catch (const EKuraEngineError& error) {
        EXPECT_EQ(error.ErrorCode, c.code);
        EXPECT_NE(std::string(error.what()).find("AMOUNT"), std::string::npos) << error.what();
      }
      std::uint8_t value[8];
      EXPECT_FALSE(GetField(record, fields[0], value));
      EXPECT_EQ(GetF64LE(value), 2.5) << "the stored value stays";
    }
  }
}

TEST(RowNumberTest, InitRecordAssignsAndWraps) {
  std::vector<std::uint8_t> record(26, 0xEE);
  std::int32_t last = 41;
  InitRecord(record, 17, true, last);
  EXPECT_EQ(last, 42);
  EXPECT_EQ(RowId(record), 42);
  EXPECT_EQ(RecordNoOrNextFree(record), 17);
  EXPECT_FALSE(IsDeleted(record));
  EXPECT_EQ(record[25], 0);

  InitRecord(record, 18, false, last);
  EXPECT_EQ(last, 42);
  EXPECT_EQ(RowId(record), 0);

  last = kMaxRowId;
  InitRecord(record, 19, true, last);
  EXPECT_EQ(RowId(record), 1);
  EXPECT_EQ(NextRowId(-5), 1);  // a damaged counter restarts instead of handing out -4
}

TEST(RowNumberTest, KeptRowNumbersOnlyRaiseTheCounter) {
  std::int32_t last = 100;
  KeepRowId(50, last);
  EXPECT_EQ(last, 100);
  KeepRowId(500, last);
  EXPECT_EQ(last, 500);
}

}  // namespace
}  // namespace kura
