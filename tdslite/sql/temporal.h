// The date and time types of 100-nanosecond precision (date, time(n),
// datetime2(n), datetimeoffset(n)): their calendar from 0001-01-01 to
// 9999-12-31, the text forms they read and write, and how each is kept in
// SQLite. datetime and smalldatetime keep their own rules (values.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tdslite/common/types.h"
#include "values.h"

namespace tdslite::sql {

constexpr int64_t kUnitsPerSecond = 10000000;   // 100 ns units
constexpr int64_t kUnitsPerDay = 864000000000;  // in 24 hours
constexpr int64_t kDays0001To1900 = 693595;     // 0001-01-01 .. 1900-01-01
constexpr int64_t kMaxWideDays = 3652058;       // 9999-12-31
constexpr int kMinOffsetMinutes = -14 * 60;     // datetimeoffset's range
constexpr int kMaxOffsetMinutes = 14 * 60;

// A moment as the wide types see it: local date and time, and for
// datetimeoffset the offset of that local time from UTC.
struct WideTime {
  int64_t days = kDays0001To1900;  // since 0001-01-01
  int64_t units = 0;               // 100 ns units since midnight
  int offset = 0;                  // minutes east of UTC
};

// A date/time literal taken apart.
struct DateText {
  int y = 1900, m = 1, d = 1;
  int64_t units = 0;
  bool has_date = false;
  bool has_time = false;
  bool has_offset = false;
  int offset = 0;
};
enum class DateParse { kOk, kSyntax, kRange };
// Parses the literal forms SQL Server reads for the date and time types
// (us_english): ISO dates (2024-03-05, 20240305), numeric dates in `order`,
// month names, a time (hh:mi[:ss[.fffffff]] [AM|PM]) and an offset (+hh:mi,
// Z). kRange: well formed, but no such date or offset.
DateParse ParseDateText(std::string_view text, DateOrder order, DateText* out);

// Carries units beyond a day into days (either way).
WideTime Normalize(int64_t days, int64_t units, int offset = 0);
// Rounds 100 ns units to `scale` fractional digits (half up).
int64_t RoundUnits(int64_t units, int scale);

// SQLite keeps date as days, time as units and datetime2 as
// days * kUnitsPerDay + units: one integer that sorts as the values do.
int64_t PackWide(TypeId id, const WideTime& w);
WideTime UnpackWide(TypeId id, int64_t stored);
// datetimeoffset is kept as text: 19 digits of the UTC instant (sorting and
// comparing as the values do), then the offset as +hhmm.
std::string OffsetKey(const WideTime& local);
// The local time and offset of a key; nullopt for text that is not one.
std::optional<WideTime> FromOffsetKey(std::string_view key);
// The UTC instant of a key (what comparisons use).
std::string_view OffsetKeyInstant(std::string_view key);

// datetime's ticks and back (rounded to 1/300 s).
WideTime FromDateTimeSerial(int64_t serial);
int64_t ToDateTimeSerial(const WideTime& w);

// The text of a value: the form CAST writes (style -1) or a CONVERT style.
// nullopt: the style does not apply to the type (error 281).
std::optional<std::string> FormatWide(TypeId id, int scale, const WideTime& w, int style);
// The length of that text in style -1, the nvarchar length older clients get.
int WideTextLength(TypeId id, int scale);

// Now, local time with its offset (utc: UTC, offset 0).
WideTime NowWide(bool utc);

// uniqueidentifier: the text of its 16 wire bytes, and the wire bytes of
// the key SQLite keeps (16 bytes in sort order).
std::string GuidText(std::string_view wire);
std::string GuidWire(std::string_view key);

// A stored date or time value as a row carries it (see Value): `stored` is
// SQLite's integer (date, time, datetime2) or text (datetimeoffset).
void WideValue(TypeId id, int scale, int64_t stored, std::string_view key, int64_t* i,
               int16_t* offset, std::string* text);

// Days in a month of a year (1..12).
int DaysInMonth(int y, int m);

}  // namespace tdslite::sql
