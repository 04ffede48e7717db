#include "app/common/date_time.h"

#include <cstdio>
#include <ctime>

namespace goramina {
namespace {

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

bool StartsWith(const std::string& s, size_t at, const char* prefix) {
  return s.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Length of the run of `c` at `at` (case-insensitive for letters).
size_t RunLength(const std::string& s, size_t at, char c) {
  size_t n = 0;
  while (at + n < s.size() && (s[at + n] | 0x20) == c) ++n;
  return n;
}

}  // namespace

TDateTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return TDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string FormatDateTime(const std::string& pattern, const TDateTime& t) {
  const bool twelveHour =
      pattern.find("AM/PM") != std::string::npos || pattern.find("am/pm") != std::string::npos;
  int hour = t.hour;
  if (twelveHour) hour = t.hour % 12 == 0 ? 12 : t.hour % 12;
  std::string out;
  bool afterHour = false;
  for (size_t i = 0; i < pattern.size();) {
    const char c = pattern[i];
    const char lower = static_cast<char>(c | 0x20);
    if (c == '"' || c == '\'') {
      const size_t end = pattern.find(c, i + 1);
      const size_t stop = end == std::string::npos ? pattern.size() : end;
      out += pattern.substr(i + 1, stop - i - 1);
      i = stop == pattern.size() ? stop : stop + 1;
      continue;
    }
    if (StartsWith(pattern, i, "AM/PM") || StartsWith(pattern, i, "am/pm")) {
      const bool pm = t.hour >= 12;
      out += c == 'A' ? (pm ? "PM" : "AM") : (pm ? "pm" : "am");
      i += 5;
      continue;
    }
    const size_t run = (lower >= 'a' && lower <= 'z') ? RunLength(pattern, i, lower) : 0;
    if (lower == 'y' && run > 0) {
      out += run >= 4 ? Digits(t.year, 4) : Digits(t.year % 100, 2);
    } else if (lower == 'm' && run > 0) {
      const int value = afterHour ? t.minute : t.month;
      out += run >= 2 ? Digits(value, 2) : std::to_string(value);
      afterHour = false;
    } else if (lower == 'd' && run > 0) {
      out += run >= 2 ? Digits(t.day, 2) : std::to_string(t.day);
    } else if (lower == 'h' && run > 0) {
      out += run >= 2 ? Digits(hour, 2) : std::to_string(hour);
      afterHour = true;
    } else if (lower == 'n' && run > 0) {
      out += run >= 2 ? Digits(t.minute, 2) : std::to_string(t.minute);
      afterHour = false;
    } else if (lower == 's' && run > 0) {
      out += run >= 2 ? Digits(t.second, 2) : std::to_string(t.second);
    } else {
      out += c;
      i += 1;
      continue;
    }
    i += run;
  }
  return out;
}

}  // namespace goramina
