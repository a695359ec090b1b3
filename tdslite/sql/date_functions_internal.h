// What the date and time function files share (function_dates.cc,
// function_date_parts.cc, function_date_build.cc, function_guid.cc).
#pragma once

#include "date_parts.h"
#include "functions_internal.h"
#include "temporal.h"

namespace tdslite::sql::function_detail {

// The value of a datum of a date or time type (or a string) as local time and
// offset. *has_offset: the value carried one (datetimeoffset, or text with
// an offset).
WideTime ToWide(const Datum& d, const ColumnType& from, const ColumnType& to, int style,
                bool* has_offset);
Message NotAllowed(const ColumnType& from, const ColumnType& to);
// datetimeoffset: the local time and the UTC instant both in range.
bool OffsetInRange(const WideTime& w);

// A date/time argument read as the function sees it: local time, or UTC
// for datetimeoffset (as datediff counts).
struct Moment {
  WideTime w;
  bool has_date = true;
  bool has_time = true;
};

Moment ReadMoment(sqlite3_value* v, const ColumnType& t);
// The day number (from 0001-01-01) of a date.
int64_t DaysOf(int y, int m, int d);

}  // namespace tdslite::sql::function_detail
