// Exact value arithmetic for the types SQLite has no notion of: decimals as
// 128-bit scaled integers, money as 1/10000 units, datetimes as 1/300 s ticks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tdslite/common/result_sink.h"
#include "tdslite/common/types.h"

namespace tdslite::sql {

using Int128 = __int128;

constexpr int64_t kTicksPerDay = 25920000;        // 1/300 s ticks in 24 hours
constexpr int32_t kMinDateTimeDays = -53690;      // 1753-01-01
constexpr int32_t kMaxDateTimeDays = 2958463;     // 9999-12-31
constexpr int32_t kMaxSmallDateTimeDays = 65535;  // 2079-06-06

Int128 Pow10(int n);  // n in 0..38
// Number of decimal digits of |v| (0 has 1).
int DigitCount(Int128 v);

// Parses a decimal number ("-12.5", " 3 ", ".5", "1e3" when allow_exponent).
// Answers the unscaled value at `scale`, rounding half away from zero, or
// nullopt when the text is not a number or does not fit 38 digits.
std::optional<Int128> ParseScaled(std::string_view text, int scale, bool allow_exponent);
// The text of an unscaled value: "-12.50", "0.05", "7".
std::string FormatScaled(Int128 value, int scale);
// Changes the scale of an unscaled value, rounding half away from zero.
Int128 Rescale(Int128 value, int from_scale, int to_scale);
// Parses the canonical text FormatScaled writes; answers the scale it had.
bool ParseCanonical(std::string_view text, Int128* value, int* scale);

// Datetimes: ticks since 1900-01-01 00:00 as one sortable integer
// (days * kTicksPerDay + ticks of the day).
int64_t ToSerial(const DateTimeValue& dt);
DateTimeValue FromSerial(int64_t serial);
int32_t DaysFromCivil(int y, int m, int d);
void CivilFromDays(int32_t days, int* y, int* m, int* d);
// Parses the date/time literal forms SQL Server accepts for datetime in
// us_english. nullopt: not a date (message 241), or, with *out_of_range
// set, a date that is well formed but does not exist or is beyond datetime's
// range (message 242). `order` is how numeric dates read: month first
// (mdy, the default), day first (dmy, styles 3, 4, 5 and 103, 104, 105) or
// year first with a two-digit year (ymd, styles 2 and 11).
enum class DateOrder { kMdy, kDmy, kYmd };
std::optional<int64_t> ParseDateTime(std::string_view text, DateOrder order = DateOrder::kMdy,
                                     bool* out_of_range = nullptr);
// The order a CONVERT style reads numeric dates in.
DateOrder StyleDateOrder(int style);
// Rounds to the minute as smalldatetime does; nullopt outside its range.
std::optional<int64_t> ToSmallDateTime(int64_t serial);
// convert(varchar, datetime, style). nullopt: the style is not valid (281).
std::optional<std::string> FormatDateTime(int64_t serial, int style, bool small);
// The local time now, as datetime ticks.
int64_t CurrentDateTime();
// WAITFOR's time string: a time of day in any form datetime reads, without a
// date (or with 1900-01-01's), as milliseconds since midnight; nullopt when
// it is none (message 148, worded by WaitTimeError).
std::optional<int64_t> ParseWaitTime(std::string_view text);
std::string WaitTimeError(std::string_view text);

// float -> varchar the way SQL Server's style 0 does (at most 6 significant
// digits, scientific notation with a 3-digit exponent beyond that).
std::string FormatFloat(double value, bool real);
// money -> varchar: style 0 two decimals, rounded; 1 the same with
// thousands separators; 2 four decimals.
std::string FormatMoney(int64_t units, int style = 0);

// Counts the UTF-8 characters of a string (invalid bytes count one each).
int64_t Utf8Length(std::string_view s);
// The byte offset of character `chars` (clamped to the end).
size_t Utf8Offset(std::string_view s, int64_t chars);
// The length in UTF-16 code units, nchar and nvarchar's measure: a
// character beyond U+FFFF counts two.
int64_t Utf16Length(std::string_view s);
// The byte offset after the most whole characters that fit `units` UTF-16
// code units (a character is never split).
size_t Utf16Offset(std::string_view s, int64_t units);
// Single-byte text in the server's code page (1252) and back. A character
// the code page lacks becomes '?', as on the server.
std::string ToCodePage(std::string_view utf8);
std::string FromCodePage(std::string_view bytes);

}  // namespace tdslite::sql
