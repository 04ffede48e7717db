#include "app/common/date_time.h"

#include <gtest/gtest.h>

namespace goramina {
namespace {

TEST(FormatDateTime, ClockPatternAndOtherElements) {
  struct Case {
    const char* pattern;
    TDateTime time;
    const char* expected;
  };
  const Case cases[] = {
      {"mm/dd  hh:mm AM/PM", {2024, 12, 8, 21, 5, 0}, "12/08  09:05 PM"},
      {"mm/dd  hh:mm AM/PM", {2024, 1, 2, 0, 7, 0}, "01/02  12:07 AM"},    // midnight
      {"mm/dd  hh:mm AM/PM", {2024, 7, 30, 12, 0, 0}, "07/30  12:00 PM"},  // noon
      {"mm/dd  hh:mm AM/PM", {2024, 7, 30, 11, 59, 0}, "07/30  11:59 AM"},
      {"yyyy-mm-dd hh:nn:ss", {2009, 3, 4, 17, 8, 9}, "2009-03-04 17:08:09"},
      {"yy/m/d h:n am/pm", {2009, 3, 4, 17, 8, 9}, "09/3/4 5:8 pm"},
      {"\"mm\" mm", {2009, 3, 4, 17, 8, 9}, "mm 03"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.pattern, c.time), c.expected) << c.pattern;
  }
}

}  // namespace
}  // namespace goramina
