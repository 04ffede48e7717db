#include "storage/field_values.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "storage/field_types.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

// --- Calendar arithmetic ------------------------------------------------------------------

// Days from 1970-01-01 to the civil date (proleptic Gregorian), valid for every year here.
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

TDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  TDate date;
  date.Day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  date.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.Year = static_cast<int>(yearOfEra + era * 400 + (date.Month <= 2 ? 1 : 0));
  return date;
}

// Day number 1 is 0001-01-01, which lies 719162 days before 1970-01-01.
constexpr std::int64_t kDayNumberOf19700101 = 719163;

// --- Text scanning ------------------------------------------------------------------------

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; };
           return up(x) == up(y);
         });
}

// Reads 1..maxDigits decimal digits at the front of text.
std::optional<int> TakeNumber(std::string_view& text, std::size_t maxDigits) {
  std::size_t count = 0;
  while (count < text.size() && count < maxDigits && text[count] >= '0' && text[count] <= '9') {
    ++count;
  }
  if (count == 0 || (count < text.size() && text[count] >= '0' && text[count] <= '9')) {
    return std::nullopt;
  }
  int value = 0;
  std::from_chars(text.data(), text.data() + count, value);
  text.remove_prefix(count);
  return value;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

std::string TwoDigits(int value) {
  return std::string(1, char('0' + value / 10)) + char('0' + value % 10);
}

[[noreturn]] void RaiseConvert(std::string_view text, const char* what) {
  throw EConvertError("'" + std::string(text) + "' is not a valid " + what);
}

// --- Packed decimal digits ----------------------------------------------------------------

constexpr std::size_t kBcdPrecisionOffset = 0;
constexpr std::size_t kBcdSignScaleOffset = 1;
constexpr std::size_t kBcdDigitsOffset = 2;
constexpr std::uint8_t kBcdNegative = 0x80;
constexpr std::uint8_t kBcdScaleMask = 0x3F;

// A decimal as its digit characters, the count of them after the point, and its sign.
struct TDecimalDigits {
  std::string Digits;
  int Scale = 0;
  bool Negative = false;
};

// Removes leading zeros of the integer part (keeping every fraction digit).
void StripLeadingZeros(TDecimalDigits& d) {
  std::size_t integerDigits = d.Digits.size() - static_cast<std::size_t>(d.Scale);
  std::size_t zeros = 0;
  while (zeros < integerDigits && d.Digits[zeros] == '0') ++zeros;
  d.Digits.erase(0, zeros);
}

// Brings the digits to the scale: appends zeros, or rounds half away from zero.
void Rescale(TDecimalDigits& d, int scale) {
  if (scale >= d.Scale) {
    d.Digits.append(static_cast<std::size_t>(scale - d.Scale), '0');
  } else {
    std::size_t keep = d.Digits.size() - static_cast<std::size_t>(d.Scale - scale);
    bool roundUp = d.Digits[keep] >= '5';
    d.Digits.erase(keep);
    for (std::size_t i = keep; roundUp && i > 0; --i) {
      if (d.Digits[i - 1] == '9') {
        d.Digits[i - 1] = '0';
      } else {
        ++d.Digits[i - 1];
        roundUp = false;
      }
    }
    if (roundUp) d.Digits.insert(d.Digits.begin(), '1');
  }
  d.Scale = scale;
}

std::optional<TBcd> PackDigits(TDecimalDigits d, int scale) {
  if (scale < 0 || scale > kBcdMaxScale) return std::nullopt;
  Rescale(d, scale);
  StripLeadingZeros(d);
  TBcd bcd{};
  bool zero = std::all_of(d.Digits.begin(), d.Digits.end(), [](char c) { return c == '0'; });
  bcd[kBcdSignScaleOffset] = static_cast<std::uint8_t>(scale);
  if (zero) return bcd;
  if (d.Digits.size() > static_cast<std::size_t>(kBcdMaxDigits)) return std::nullopt;
  bcd[kBcdPrecisionOffset] = static_cast<std::uint8_t>(d.Digits.size());
  if (d.Negative) bcd[kBcdSignScaleOffset] |= kBcdNegative;
  for (std::size_t i = 0; i < d.Digits.size(); ++i) {
    auto digit = static_cast<std::uint8_t>(d.Digits[i] - '0');
    bcd[kBcdDigitsOffset + i / 2] |= (i % 2 == 0) ? std::uint8_t(digit << 4) : digit;
  }
  return bcd;
}

// The digits of a stored packed decimal, with leading zeros added so that there is at least
// one integer digit; nullopt when the bytes are malformed.
std::optional<TDecimalDigits> UnpackDigits(std::span<const std::uint8_t, 34> bcd) {
  TDecimalDigits d;
  int precision = bcd[kBcdPrecisionOffset];
  d.Scale = bcd[kBcdSignScaleOffset] & kBcdScaleMask;
  d.Negative = (bcd[kBcdSignScaleOffset] & kBcdNegative) != 0;
  if (precision > kBcdMaxDigits) return std::nullopt;
  for (int i = 0; i < precision; ++i) {
    std::uint8_t packed = bcd[kBcdDigitsOffset + i / 2];
    int digit = (i % 2 == 0) ? packed >> 4 : packed & 0x0F;
    if (digit > 9) return std::nullopt;
    d.Digits.push_back(static_cast<char>('0' + digit));
  }
  if (d.Digits.size() < static_cast<std::size_t>(d.Scale) + 1) {
    d.Digits.insert(0, static_cast<std::size_t>(d.Scale) + 1 - d.Digits.size(), '0');
  }
  return d;
}

// --- Numbers ------------------------------------------------------------------------------

template <typename Integer>
std::optional<Integer> IntegerFromText(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  Integer value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> FloatFromText(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string FloatToText(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc{} ? std::string(buffer, end) : std::string("0");
}

template <typename Integer>
std::string IntegerToText(Integer value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, end);
}

std::vector<std::uint8_t> Bytes(std::size_t size) {
  return std::vector<std::uint8_t>(size, 0);
}

std::optional<double> TimestampDefault(std::string_view text, const TNow& now) {
  if (SameIgnoringCase(text, "CURRENT_TIMESTAMP")) return EncodeTimestamp(now.Date, now.Time);
  if (SameIgnoringCase(text, "CURRENT_DATE")) return EncodeTimestamp(now.Date, 0);
  if (SameIgnoringCase(text, "CURRENT_TIME")) return EncodeTimestamp(kTimeOnlyDay, now.Time);
  return TimestampFromText(text);
}

}  // namespace

// --- Calendar and clock -------------------------------------------------------------------

bool IsValidDate(const TDate& date) {
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (date.Year < 1 || date.Year > 9999 || date.Month < 1 || date.Month > 12) return false;
  bool leap = (date.Year % 4 == 0 && date.Year % 100 != 0) || date.Year % 400 == 0;
  int days = kDaysInMonth[date.Month - 1] + (date.Month == 2 && leap ? 1 : 0);
  return date.Day >= 1 && date.Day <= days;
}

std::int32_t EncodeDate(const TDate& date) {
  return static_cast<std::int32_t>(DaysFromCivil(date.Year, date.Month, date.Day) +
                                   kDayNumberOf19700101);
}

std::optional<TDate> DecodeDate(std::int32_t dayNumber) {
  if (dayNumber < 1 || dayNumber > kLastDay) return std::nullopt;
  return CivilFromDays(dayNumber - kDayNumberOf19700101);
}

std::optional<std::int32_t> EncodeTime(const TTime& t) {
  if (t.Hour < 0 || t.Hour > 23 || t.Minute < 0 || t.Minute > 59 || t.Second < 0 || t.Second > 59 ||
      t.Millisecond < 0 || t.Millisecond > 999) {
    return std::nullopt;
  }
  return ((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond;
}

std::optional<TTime> DecodeTime(std::int32_t ms) {
  if (ms < 0 || ms >= kMillisecondsPerDay) return std::nullopt;
  return TTime{ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000};
}

double EncodeTimestamp(std::int32_t dayNumber, std::int32_t milliseconds) {
  return static_cast<double>(dayNumber) * kMillisecondsPerDay + milliseconds;
}

std::optional<std::pair<std::int32_t, std::int32_t>> DecodeTimestamp(double timestamp) {
  if (!std::isfinite(timestamp)) return std::nullopt;
  double day = std::floor(timestamp / kMillisecondsPerDay);
  if (day < 1 || day > kLastDay) return std::nullopt;
  double ms = std::round(timestamp - day * kMillisecondsPerDay);
  auto dayNumber = static_cast<std::int32_t>(day);
  if (ms >= kMillisecondsPerDay) {  // rounding reached the next midnight
    ms -= kMillisecondsPerDay;
    ++dayNumber;
  }
  if (ms < 0) ms = 0;
  return std::pair{dayNumber, static_cast<std::int32_t>(ms)};
}

TNow CurrentLocalDateTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  TNow result;
  result.Date = EncodeDate({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
  result.Time = EncodeTime({local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                            static_cast<int>(ms.count())})
                    .value_or(0);
  return result;
}

// --- Packed decimals ----------------------------------------------------------------------

std::optional<TBcd> BcdFromFixed(std::int64_t units, int scale) {
  std::uint64_t magnitude =
      units < 0 ? std::uint64_t(0) - static_cast<std::uint64_t>(units) : std::uint64_t(units);
  TDecimalDigits d;
  d.Digits = IntegerToText(magnitude);
  d.Scale = 4;
  d.Negative = units < 0;
  if (d.Digits.size() < 5) d.Digits.insert(0, 5 - d.Digits.size(), '0');
  return PackDigits(std::move(d), scale);
}

std::optional<std::int64_t> BcdToFixed(std::span<const std::uint8_t, 34> bcd) {
  std::optional<TDecimalDigits> d = UnpackDigits(bcd);
  if (!d) return std::nullopt;
  std::size_t integerDigits = d->Digits.size() - static_cast<std::size_t>(d->Scale);
  // Units of 1/10000: the integer digits and the first four fraction digits.
  std::string units = d->Digits.substr(0, integerDigits + std::min(d->Scale, 4));
  units.append(static_cast<std::size_t>(4 - std::min(d->Scale, 4)), '0');
  constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
  unsigned __int128 value = 0;
  for (char c : units) {
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > kMax + 1) return std::nullopt;
  }
  if (!d->Negative && value > kMax) return std::nullopt;
  if (d->Negative) {
    return value == kMax + 1 ? std::numeric_limits<std::int64_t>::min()
                             : -static_cast<std::int64_t>(value);
  }
  return static_cast<std::int64_t>(value);
}

std::optional<TBcd> BcdFromText(std::string_view text, int scale) {
  text = TrimBlanks(text);
  TDecimalDigits d;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    d.Negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      d.Digits.push_back(c);
      if (point) ++d.Scale;
    } else {
      return std::nullopt;
    }
  }
  if (d.Digits.empty()) return std::nullopt;
  if (d.Digits.size() == static_cast<std::size_t>(d.Scale)) d.Digits.insert(0, 1, '0');
  return PackDigits(std::move(d), scale);
}

std::optional<std::string> BcdToText(std::span<const std::uint8_t, 34> bcd) {
  std::optional<TDecimalDigits> d = UnpackDigits(bcd);
  if (!d) return std::nullopt;
  std::size_t integerDigits = d->Digits.size() - static_cast<std::size_t>(d->Scale);
  std::string integer = d->Digits.substr(0, integerDigits);
  std::string fraction = d->Digits.substr(integerDigits);
  integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
  if (integer.empty()) integer.push_back('0');
  fraction.erase(fraction.find_last_not_of('0') + 1);
  bool zero = integer == "0" && fraction.empty();
  std::string text = (d->Negative && !zero) ? "-" + integer : integer;
  if (!fraction.empty()) text += "." + fraction;
  return text;
}

// --- Text forms ---------------------------------------------------------------------------

std::optional<std::int32_t> DateFromText(std::string_view text) {
  text = TrimBlanks(text);
  TDate date;
  auto year = TakeNumber(text, 4);
  if (!year || !TakeChar(text, '-')) return std::nullopt;
  auto month = TakeNumber(text, 2);
  if (!month || !TakeChar(text, '-')) return std::nullopt;
  auto day = TakeNumber(text, 2);
  if (!day || !text.empty()) return std::nullopt;
  date = {*year, *month, *day};
  if (!IsValidDate(date)) return std::nullopt;
  return EncodeDate(date);
}

std::optional<std::int32_t> TimeFromText(std::string_view text) {
  text = TrimBlanks(text);
  TTime time;
  auto hour = TakeNumber(text, 2);
  if (!hour || !TakeChar(text, ':')) return std::nullopt;
  auto minute = TakeNumber(text, 2);
  if (!minute) return std::nullopt;
  time = {*hour, *minute, 0, 0};
  if (TakeChar(text, ':')) {
    auto second = TakeNumber(text, 2);
    if (!second) return std::nullopt;
    time.Second = *second;
    if (TakeChar(text, '.')) {
      // Milliseconds are a plain count: ".5" is 5 ms, as the text form writes them.
      auto ms = TakeNumber(text, 3);
      if (!ms) return std::nullopt;
      time.Millisecond = *ms;
    }
  }
  text = TrimBlanks(text);
  if (!text.empty()) {
    bool pm = SameIgnoringCase(text, "PM");
    if (!pm && !SameIgnoringCase(text, "AM")) return std::nullopt;
    if (time.Hour < 1 || time.Hour > 12) return std::nullopt;
    time.Hour = time.Hour % 12 + (pm ? 12 : 0);
  }
  return EncodeTime(time);
}

std::optional<double> TimestampFromText(std::string_view text) {
  text = TrimBlanks(text);
  std::size_t blank = text.find(' ');
  std::string_view first = text.substr(0, blank);
  if (first.find(':') != std::string_view::npos) {
    // A time alone (also "01:05 PM", whose blank precedes the AM/PM mark).
    auto time = TimeFromText(text);
    if (!time) return std::nullopt;
    return EncodeTimestamp(kTimeOnlyDay, *time);
  }
  auto date = DateFromText(first);
  if (!date) return std::nullopt;
  if (blank == std::string_view::npos) return EncodeTimestamp(*date, 0);
  auto time = TimeFromText(text.substr(blank + 1));
  if (!time) return std::nullopt;
  return EncodeTimestamp(*date, *time);
}

std::string DateToText(std::int32_t dayNumber) {
  std::optional<TDate> date = DecodeDate(dayNumber);
  if (!date) throw EConvertError("Day number " + IntegerToText(dayNumber) + " is not a valid date");
  std::string year = IntegerToText(date->Year);
  year.insert(0, 4 - year.size(), '0');
  return year + "-" + TwoDigits(date->Month) + "-" + TwoDigits(date->Day);
}

std::string TimeToText(std::int32_t milliseconds, bool use24Hour) {
  std::optional<TTime> time = DecodeTime(milliseconds);
  if (!time) {
    throw EConvertError(IntegerToText(milliseconds) + " milliseconds is not a valid time");
  }
  int hour = time->Hour;
  if (!use24Hour) {
    hour %= 12;
    if (hour == 0) hour = 12;
  }
  std::string text = TwoDigits(hour) + ":" + TwoDigits(time->Minute);
  // Seconds and milliseconds appear whenever they are not zero, so that no part of the
  // value is lost; milliseconds take three digits so that ".050" is not read as half a second.
  // (Appended piece by piece: GCC 12 warns falsely about "literal" + std::string.)
  if (time->Second != 0 || time->Millisecond != 0) {
    text += ':';
    text += TwoDigits(time->Second);
  }
  if (time->Millisecond != 0) {
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(time->Millisecond));
    text += ms;
  }
  if (!use24Hour) text += time->Hour >= 12 ? " PM" : " AM";
  return text;
}

std::string TimestampToText(double timestamp, bool use24Hour) {
  auto parts = DecodeTimestamp(timestamp);
  if (!parts) throw EConvertError(FloatToText(timestamp) + " is not a valid date and time");
  return DateToText(parts->first) + " " + TimeToText(parts->second, use24Hour);
}

std::vector<std::uint8_t> ValueFromText(std::uint8_t fieldType, std::string_view text,
                                        int declaredSize, int scale, TNow now) {
  std::string_view trimmed = TrimBlanks(text);
  std::vector<std::uint8_t> value = Bytes(static_cast<std::size_t>(
      std::max(0, StoredSize(fieldType, std::clamp(declaredSize, 0, kMaxDeclaredSize)))));
  switch (fieldType) {
    case kFieldTypeString:
    case kFieldTypeBytes:
    case kFieldTypeVarBytes: {
      std::size_t capacity =
          static_cast<std::size_t>(std::clamp(declaredSize, 0, kMaxDeclaredSize));
      // A declared size of 0 leaves nothing to copy (and no buffer to copy into).
      std::size_t count = std::min(text.size(), capacity);
      if (count > 0) std::memcpy(value.data(), text.data(), count);
      return value;
    }
    case kFieldTypeDate: {
      auto date = SameIgnoringCase(trimmed, "CURRENT_DATE") ? now.Date : DateFromText(trimmed);
      if (!date) RaiseConvert(text, "date");
      PutI32LE(value.data(), *date);
      return value;
    }
    case kFieldTypeTime: {
      auto time = SameIgnoringCase(trimmed, "CURRENT_TIME") ? now.Time : TimeFromText(trimmed);
      if (!time) RaiseConvert(text, "time");
      PutI32LE(value.data(), *time);
      return value;
    }
    case kFieldTypeTimestamp: {
      auto timestamp = TimestampDefault(trimmed, now);
      if (!timestamp) RaiseConvert(text, "date and time");
      PutF64LE(value.data(), *timestamp);
      return value;
    }
    case kFieldTypeBoolean: {
      bool isTrue = SameIgnoringCase(trimmed, "TRUE");
      if (!isTrue && !SameIgnoringCase(trimmed, "FALSE")) RaiseConvert(text, "boolean");
      PutU16LE(value.data(), isTrue ? 1 : 0);
      return value;
    }
    case kFieldTypeSmallInt: {
      auto number = IntegerFromText<std::int16_t>(text);
      if (!number) RaiseConvert(text, "integer");
      PutI16LE(value.data(), *number);
      return value;
    }
    case kFieldTypeInteger: {
      auto number = IntegerFromText<std::int32_t>(text);
      if (!number) RaiseConvert(text, "integer");
      PutI32LE(value.data(), *number);
      return value;
    }
    case kFieldTypeWord: {
      auto number = IntegerFromText<std::uint16_t>(text);
      if (!number || trimmed.starts_with('-')) RaiseConvert(text, "integer");
      PutU16LE(value.data(), *number);
      return value;
    }
    case kFieldTypeLargeInt: {
      auto number = IntegerFromText<std::int64_t>(text);
      if (!number) RaiseConvert(text, "integer");
      PutI64LE(value.data(), *number);
      return value;
    }
    case kFieldTypeFloat: {
      auto number = FloatFromText(text);
      if (!number) RaiseConvert(text, "number");
      PutF64LE(value.data(), *number);
      return value;
    }
    case kFieldTypeBcd: {
      auto bcd = BcdFromText(text, scale);
      if (!bcd) RaiseConvert(text, "number");
      std::copy(bcd->begin(), bcd->end(), value.begin());
      return value;
    }
    default:
      throw EConvertError("Fields of type " + IntegerToText(int(fieldType)) + " have no text form");
  }
}

std::string ValueToText(std::uint8_t fieldType, std::span<const std::uint8_t> value,
                        bool use24Hour) {
  auto need = [&](std::size_t size) {
    if (value.size() < size) throw EConvertError("Value too short for its field type");
  };
  switch (fieldType) {
    case kFieldTypeString: {
      auto end = std::find(value.begin(), value.end(), 0);
      return std::string(value.begin(), end);
    }
    case kFieldTypeBytes:
    case kFieldTypeVarBytes:
      return std::string(value.begin(), value.end());
    case kFieldTypeDate:
      need(4);
      return DateToText(GetI32LE(value.data()));
    case kFieldTypeTime:
      need(4);
      return TimeToText(GetI32LE(value.data()), use24Hour);
    case kFieldTypeTimestamp:
      need(8);
      return TimestampToText(GetF64LE(value.data()), use24Hour);
    case kFieldTypeBoolean:
      need(2);
      return GetU16LE(value.data()) != 0 ? "TRUE" : "FALSE";
    case kFieldTypeSmallInt:
      need(2);
      return IntegerToText(GetI16LE(value.data()));
    case kFieldTypeInteger:
      need(4);
      return IntegerToText(GetI32LE(value.data()));
    case kFieldTypeWord:
      need(2);
      return IntegerToText(GetU16LE(value.data()));
    case kFieldTypeLargeInt:
      need(8);
      return IntegerToText(GetI64LE(value.data()));
    case kFieldTypeFloat: {
      need(8);
      const double number = GetF64LE(value.data());
      // "nan" and "inf" would not read back: a non-finite number has no text form.
      if (!std::isfinite(number))
        throw EConvertError("A number that is not finite has no text form");
      return FloatToText(number);
    }
    case kFieldTypeBcd: {
      need(kBcdStoredSize);
      auto text = BcdToText(value.first<kBcdStoredSize>());
      if (!text) throw EConvertError("Malformed packed decimal value");
      return *text;
    }
    default:
      throw EConvertError("Fields of type " + IntegerToText(int(fieldType)) + " have no text form");
  }
}

}  // namespace kura
