#include "storage/field_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

// 2024-03-05 13:05:07.250, fixed so that the CURRENT_* defaults are checkable.
const TNow kNow{EncodeDate({2024, 3, 5}), 47'107'250};

std::string RoundTrip(std::uint8_t type, const std::string& text, bool use24Hour = false) {
  return ValueToText(type, ValueFromText(type, text, 0, 4, kNow), use24Hour);
}

TEST(CalendarTest, DayNumbersCountFromTheFirstOfJanuaryOfYearOne) {
  struct Case {
    TDate date;
    std::int32_t day;
  };
  const Case cases[] = {{{1, 1, 1}, 1},
                        {{1899, 12, 30}, 693594},
                        {{1970, 1, 1}, 719163},
                        {{2000, 2, 29}, 730179},
                        {{9999, 12, 31}, kLastDay}};
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.date), c.day) << c.date.Year;
    auto back = DecodeDate(c.day);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Year, c.date.Year);
    EXPECT_EQ(back->Month, c.date.Month);
    EXPECT_EQ(back->Day, c.date.Day);
  }
  EXPECT_FALSE(DecodeDate(0));
  EXPECT_FALSE(DecodeDate(kLastDay + 1));
  EXPECT_EQ(EncodeTime({12, 0, 0, 0}), 43'200'000);
  EXPECT_FALSE(EncodeTime({24, 0, 0, 0}));
  EXPECT_FALSE(DecodeTime(kMillisecondsPerDay));
}

TEST(TextFormTest, DatesTimesAndTimestamps) {
  struct Case {
    std::uint8_t type;
    const char* text;
    bool use24Hour;
    const char* expected;
  };
  const Case cases[] = {
      {kFieldTypeDate, "2024-03-05", false, "2024-03-05"},
      {kFieldTypeDate, "1-1-1", false, "0001-01-01"},
      {kFieldTypeDate, "2000-02-29", false, "2000-02-29"},
      {kFieldTypeTime, "13:05", false, "01:05 PM"},
      {kFieldTypeTime, "13:05:00.000", false, "01:05 PM"},
      {kFieldTypeTime, "13:05:07.250", false, "01:05:07.250 PM"},
      {kFieldTypeTime, "00:30", false, "12:30 AM"},
      {kFieldTypeTime, "12:00", false, "12:00 PM"},
      {kFieldTypeTime, "12:30 am", false, "12:30 AM"},
      {kFieldTypeTime, "01:05:07.250 PM", true, "13:05:07.250"},
      {kFieldTypeTime, "10:00:00.050", true, "10:00:00.050"},  // 50 ms, not half a second
      {kFieldTypeTime, "10:00:00.5", true, "10:00:00.005"},    // a plain count of ms
      {kFieldTypeTime, "08:15:00.5", false, "08:15:00.005 AM"},
      {kFieldTypeTimestamp, "2024-03-05 13:05:07.250", false, "2024-03-05 01:05:07.250 PM"},
      {kFieldTypeTimestamp, "2024-03-05 01:05 PM", true, "2024-03-05 13:05"},
      {kFieldTypeTimestamp, "2024-03-05", true, "2024-03-05 00:00"},
      {kFieldTypeTimestamp, "13:05", true, "1899-12-30 13:05"},
      {kFieldTypeTimestamp, "01:05 PM", true, "1899-12-30 13:05"},
      {kFieldTypeDate, "current_date", false, "2024-03-05"},
      {kFieldTypeTime, "CURRENT_TIME", false, "01:05:07.250 PM"},
      {kFieldTypeTimestamp, "CURRENT_TIMESTAMP", true, "2024-03-05 13:05:07.250"},
      {kFieldTypeTimestamp, "CURRENT_DATE", true, "2024-03-05 00:00"},
      {kFieldTypeTimestamp, "CURRENT_TIME", true, "1899-12-30 13:05:07.250"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundTrip(c.type, c.text, c.use24Hour), c.expected) << c.text;
  }
  std::vector<std::uint8_t> noon = ValueFromText(kFieldTypeTime, "12:00", 0, 4, kNow);
  EXPECT_EQ(GetI32LE(noon.data()), 43'200'000);
  std::vector<std::uint8_t> day = ValueFromText(kFieldTypeDate, "1899-12-30", 0, 4, kNow);
  EXPECT_EQ(GetI32LE(day.data()), 693594);
}

TEST(TextFormTest, BooleansAndNumbersAreLocaleIndependent) {
  struct Case {
    std::uint8_t type;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {kFieldTypeBoolean, "true", "TRUE"},
      {kFieldTypeBoolean, " False ", "FALSE"},
      {kFieldTypeSmallInt, "-32768", "-32768"},
      {kFieldTypeInteger, "+2147483647", "2147483647"},
      {kFieldTypeWord, "65535", "65535"},
      {kFieldTypeLargeInt, "-9223372036854775808", "-9223372036854775808"},
      {kFieldTypeFloat, "1.5", "1.5"},
      {kFieldTypeFloat, "-0.125", "-0.125"},
      {kFieldTypeFloat, "2.5e3", "2500"},
      {kFieldTypeBcd, "12.5", "12.5"},
      {kFieldTypeBcd, "-0.0001", "-0.0001"},
      {kFieldTypeBcd, "007", "7"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundTrip(c.type, c.text), c.expected) << c.text;
  }
  std::vector<std::uint8_t> name = ValueFromText(kFieldTypeString, "abcdef", 4, 0, kNow);
  EXPECT_EQ(name, (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 0}));
  // A declared size of 0 holds no bytes of the text (nothing is copied into nothing).
  for (std::uint8_t type : {kFieldTypeString, kFieldTypeBytes, kFieldTypeVarBytes}) {
    std::vector<std::uint8_t> none = ValueFromText(type, "abc", 0, 0, kNow);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](std::uint8_t b) { return b == 0; }))
        << int(type);
    EXPECT_EQ(ValueFromText(type, "", 0, 0, kNow), none) << int(type);
  }
  for (const char* notFinite : {"inf", "-inf", "infinity", "-nan", "NaN"}) {
    EXPECT_THROW(ValueFromText(kFieldTypeFloat, notFinite, 0, 4, kNow), EConvertError) << notFinite;
  }
}

TEST(TextFormTest, EveryBadTextRaisesTheMessageOfItsType) {
  struct Case {
    std::uint8_t type;
    const char* text;
    const char* kind;
  };
  const Case cases[] = {
      {kFieldTypeDate, "", "date"},
      {kFieldTypeDate, "2023-02-29", "date"},
      {kFieldTypeDate, "2024-13-01", "date"},
      {kFieldTypeDate, "0000-01-01", "date"},
      {kFieldTypeDate, "12345-01-01", "date"},
      {kFieldTypeDate, "2024/03/05", "date"},
      {kFieldTypeDate, "2024-03-05x", "date"},
      {kFieldTypeDate, "CURRENT_TIME", "date"},
      {kFieldTypeTime, "24:00", "time"},
      {kFieldTypeTime, "12:60", "time"},
      {kFieldTypeTime, "13:05 PM", "time"},
      {kFieldTypeTime, "00:30 AM", "time"},
      {kFieldTypeTime, "10:00:61", "time"},
      {kFieldTypeTime, "10:00:00.1000", "time"},
      {kFieldTypeTime, "10", "time"},
      {kFieldTypeTime, "10:00 XM", "time"},
      {kFieldTypeTimestamp, "2024-03-05 25:00", "date and time"},
      {kFieldTypeTimestamp, "2024-02-30 10:00", "date and time"},
      {kFieldTypeTimestamp, "noon", "date and time"},
      {kFieldTypeBoolean, "yes", "boolean"},
      {kFieldTypeBoolean, "1", "boolean"},
      {kFieldTypeSmallInt, "32768", "integer"},
      {kFieldTypeInteger, "12abc", "integer"},
      {kFieldTypeInteger, "1.5", "integer"},
      {kFieldTypeWord, "-1", "integer"},
      {kFieldTypeLargeInt, "9223372036854775808", "integer"},
      {kFieldTypeFloat, "1,5", "number"},  // the comma is never a decimal separator
      {kFieldTypeFloat, "nan", "number"},
      {kFieldTypeBcd, "1.2.3", "number"},
      {kFieldTypeBcd, "-", "number"},
  };
  for (const Case& c : cases) {
    std::string expected(1, '\'');  // built in place: GCC 12 warns falsely about "'" + string
    expected += c.text;
    expected += "' is not a valid ";
    expected += c.kind;
    try {
      ValueFromText(c.type, c.text, 0, 4, kNow);
      ADD_FAILURE() << "no error for '" << c.text << "'";
    } catch (const EConvertError& error) {
      EXPECT_EQ(std::string(error.what()), expected);
    }
  }
  EXPECT_THROW(ValueFromText(kFieldTypeBlob, "x"), EConvertError);
}

TEST(TextFormTest, ValuesWithoutATextFormRaise) {
  std::vector<std::uint8_t> zero(8, 0);
  EXPECT_THROW(ValueToText(kFieldTypeDate, zero), EConvertError);  // day 0
  std::vector<std::uint8_t> nan(8);
  PutF64LE(nan.data(), std::numeric_limits<double>::quiet_NaN());
  EXPECT_THROW(ValueToText(kFieldTypeTimestamp, nan), EConvertError);
  // A float has a text form only when that text reads back: never for NaN or an infinity.
  for (double notFinite :
       {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    std::vector<std::uint8_t> stored(8);
    PutF64LE(stored.data(), notFinite);
    EXPECT_THROW(ValueToText(kFieldTypeFloat, stored), EConvertError) << notFinite;
  }
  EXPECT_THROW(ValueToText(kFieldTypeInteger, std::vector<std::uint8_t>(2)), EConvertError);
  EXPECT_THROW(ValueToText(kFieldTypeBlob, zero), EConvertError);
}

TEST(PackedDecimalTest, FixedPointValuesRoundTrip) {
  const std::int64_t values[] = {0,
                                 -1,  // -0.0001
                                 10'000,
                                 123'456'789'012'345'678,  // 12345678901234.5678
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
  for (std::int64_t units : values) {
    auto bcd = BcdFromFixed(units, 4);
    ASSERT_TRUE(bcd) << units;
    EXPECT_EQ(BcdToFixed(*bcd), units) << units;
  }
  auto big = BcdFromFixed(123'456'789'012'345'678, 4);
  EXPECT_EQ((*big)[0], 18);    // digits held
  EXPECT_EQ((*big)[1], 4);     // positive, scale 4
  EXPECT_EQ((*big)[2], 0x12);  // high nibble first
  EXPECT_EQ((*big)[10], 0x78);
  EXPECT_EQ(BcdToText(*big), "12345678901234.5678");
  auto tiny = BcdFromFixed(-1, 4);
  EXPECT_EQ((*tiny)[1], 0x84);  // negative, scale 4
  EXPECT_EQ(BcdToText(*tiny), "-0.0001");
  auto zero = BcdFromFixed(0, 2);
  EXPECT_EQ((*zero)[0], 0);  // precision 0 means zero
  EXPECT_EQ(BcdToText(*zero), "0");
}

TEST(PackedDecimalTest, ScaleRoundsAndLimitsHold) {
  EXPECT_EQ(BcdToText(*BcdFromFixed(12'550, 2)), "1.26");  // 1.255 rounds away from zero
  EXPECT_EQ(BcdToText(*BcdFromFixed(-12'550, 2)), "-1.26");
  EXPECT_EQ(BcdToFixed(*BcdFromText("1.99999", 4)), 20'000);
  EXPECT_EQ(BcdToFixed(*BcdFromText("9.99995", 4)), 100'000);  // carry into a new digit
  // The largest precision: 64 digits fit, 65 do not.
  std::string digits64(64, '9');
  auto largest = BcdFromText(digits64, 0);
  ASSERT_TRUE(largest);
  EXPECT_EQ((*largest)[0], 64);
  EXPECT_EQ(BcdToText(*largest), digits64);
  EXPECT_FALSE(BcdToFixed(*largest));  // beyond the 64-bit fixed-point range
  EXPECT_FALSE(BcdFromText(std::string(65, '9'), 0));
  EXPECT_FALSE(BcdFromText("1", 64));  // scale needs six bits
  // Malformed stored bytes are refused, not decoded.
  TBcd bad{};
  bad[0] = 2;
  bad[2] = 0xA1;
  EXPECT_FALSE(BcdToFixed(bad));
  EXPECT_FALSE(BcdToText(bad));
  bad[0] = 65;
  bad[2] = 0x11;
  EXPECT_FALSE(BcdToText(bad));
}

}  // namespace
}  // namespace kura
