// Calendar time and its formatting with the toolkit's date-time patterns.
#pragma once

#include <string>

namespace goramina {

struct TDateTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
};

// The local time now.
TDateTime LocalNow();

// Formats with a pattern of these elements; everything else is copied as it stands, and text
// in double or single quotes is copied without its quotes:
//   yyyy, yy   year with four or two digits
//   mm, m      month with two digits or without leading zero; directly after an hour element
//              (hh, h) they are the minutes instead
//   dd, d      day
//   hh, h      hour; 12-hour clock when the pattern holds AM/PM or am/pm
//   nn, n      minutes
//   ss, s      seconds
//   AM/PM, am/pm   "AM" / "PM" (or lower case) by the hour
// Example: "mm/dd  hh:mm AM/PM" gives "12/08  09:05 PM" for 8 December 21:05.
std::string FormatDateTime(const std::string& pattern, const TDateTime& time);

}  // namespace goramina
