// The dateparts of dateadd, datediff, datepart and datename: their names and
// abbreviations, shared by the compiler (which checks them) and the SQL
// functions (which get the part as its number).
#pragma once

#include <optional>
#include <string_view>

namespace tdslite::sql {

enum class DatePart : int {
  kYear,
  kQuarter,
  kMonth,
  kDayOfYear,
  kDay,
  kWeek,
  kWeekday,
  kHour,
  kMinute,
  kSecond,
  kMillisecond,
  kMicrosecond,
  kNanosecond,
  kTzOffset,
  kIsoWeek,
};

// The part a name or abbreviation (lower case) stands for.
std::optional<DatePart> FindDatePart(std::string_view name);
// The part's name as SQL Server's messages write it ("hour").
const char* DatePartName(DatePart part);

}  // namespace tdslite::sql
