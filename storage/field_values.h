// Values of Kura fields: the calendar and clock encodings, packed decimals, and the one
// locale-independent text form used for default, minimum and maximum values.
//
//   date       signed 32-bit day number, 0001-01-01 = day 1 (proleptic Gregorian)
//   time       signed 32-bit milliseconds since midnight, 0..86 399 999
//   timestamp  IEEE 754 double: day number x 86 400 000 + milliseconds since midnight
//   packed decimal, 34 bytes:
//     OFFSET  SIZE  DESCRIPTION
//          0     1  precision: number of digits held; 0 = the value zero
//          1     1  sign and scale: bit 7 = negative, bits 0-5 = digits after the point
//          2    32  the digits, two per byte, high nibble first, most significant first
//
// Text forms: dates "YYYY-MM-DD"; times "hh:mm[:ss[.mmm]]" with " AM"/" PM" in 12-hour form;
// timestamps "<date> <time>"; booleans "TRUE"/"FALSE"; numbers with "." as the decimal
// separator whatever the system locale.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kura {

// Raised when a text does not convert to a value of the wanted type.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::int32_t kMillisecondsPerDay = 86'400'000;  // 24 x 60 x 60 x 1000
// Day number of 1899-12-30, the day a time of day alone stands on in a timestamp.
inline constexpr std::int32_t kTimeOnlyDay = 693'594;
// Day number of 9999-12-31, the last day with a four-digit year.
inline constexpr std::int32_t kLastDay = 3'652'059;

// --- Calendar and clock -------------------------------------------------------------------

struct TDate {
  int Year = 1;
  int Month = 1;
  int Day = 1;
};

struct TTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

// True for a day of a year 1..9999 that the Gregorian calendar has.
bool IsValidDate(const TDate& date);
// The day number of a valid date.
std::int32_t EncodeDate(const TDate& date);
// The date of a day number 1..kLastDay; nullopt outside that range.
std::optional<TDate> DecodeDate(std::int32_t dayNumber);

// Milliseconds since midnight of a valid time (hours 0..23); nullopt for an invalid time.
std::optional<std::int32_t> EncodeTime(const TTime& time);
// The time of 0..86 399 999 milliseconds; nullopt outside that range.
std::optional<TTime> DecodeTime(std::int32_t milliseconds);

double EncodeTimestamp(std::int32_t dayNumber, std::int32_t milliseconds);
// Splits a timestamp into day number and milliseconds; nullopt when it is not finite or its
// day lies outside 1..kLastDay.
std::optional<std::pair<std::int32_t, std::int32_t>> DecodeTimestamp(double timestamp);

// The local date and time of a moment, as the CURRENT_* defaults use it.
struct TNow {
  std::int32_t Date = 0;  // day number
  std::int32_t Time = 0;  // milliseconds since midnight
};
TNow CurrentLocalDateTime();

// --- Packed decimals ----------------------------------------------------------------------

inline constexpr int kBcdMaxDigits = 64;  // 32 bytes x 2 digits
inline constexpr int kBcdMaxScale = 63;   // six bits
// Fixed-point values count units of 1/10000.
inline constexpr std::int64_t kFixedPointUnit = 10'000;

using TBcd = std::array<std::uint8_t, 34>;

// The packed decimal of a fixed-point value with the given scale (digits after the point,
// 0..63); a scale below 4 rounds half away from zero. Nullopt when the digits do not fit.
std::optional<TBcd> BcdFromFixed(std::int64_t units, int scale);
// The fixed-point value of a packed decimal (digits past the fourth decimal are dropped);
// nullopt for a malformed decimal or one outside the 64-bit range.
std::optional<std::int64_t> BcdToFixed(std::span<const std::uint8_t, 34> bcd);
// The packed decimal of a decimal text ("-12.5", blanks around allowed) with the given
// scale, rounding half away from zero; nullopt when the text is not a number or too long.
std::optional<TBcd> BcdFromText(std::string_view text, int scale);
// The decimal text of a packed decimal without trailing fraction zeros ("-12.5", "0");
// nullopt for a malformed decimal.
std::optional<std::string> BcdToText(std::span<const std::uint8_t, 34> bcd);

// --- Text forms ---------------------------------------------------------------------------

std::optional<std::int32_t> DateFromText(std::string_view text);
std::optional<std::int32_t> TimeFromText(std::string_view text);
std::optional<double> TimestampFromText(std::string_view text);
std::string DateToText(std::int32_t dayNumber);
std::string TimeToText(std::int32_t milliseconds, bool use24Hour);
std::string TimestampToText(double timestamp, bool use24Hour);

// Converts a text to the stored bytes of a value of the type (StoredSize bytes, little-
// endian as in a record). `declaredSize` sizes strings and bytes, `scale` packed decimals.
// Dates accept "CURRENT_DATE", times "CURRENT_TIME", timestamps "CURRENT_TIMESTAMP",
// "CURRENT_DATE" (today at midnight) and "CURRENT_TIME" (the time on day 1899-12-30), taken
// from `now`. Raises EConvertError with "'<text>' is not a valid date" (time, date and time,
// boolean, integer, number) when the text does not convert, or when the type has no text
// form (BLOBs).
std::vector<std::uint8_t> ValueFromText(std::uint8_t fieldType, std::string_view text,
                                        int declaredSize = 0, int scale = 4,
                                        TNow now = CurrentLocalDateTime());

// The text form of a value given as its stored bytes; times in 12-hour form unless
// use24Hour. Raises EConvertError for a value that has no text form (a BLOB, a date outside
// the calendar, a float that is NaN or infinite, a malformed packed decimal, too few bytes),
// so that every text answered reads back through ValueFromText.
std::string ValueToText(std::uint8_t fieldType, std::span<const std::uint8_t> value,
                        bool use24Hour = false);

}  // namespace kura
