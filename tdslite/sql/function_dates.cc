// The date and time types' conversions (date, time, datetime2,
// datetimeoffset), and the datepart names.
#include "date_functions_internal.h"

namespace tdslite::sql {

std::optional<DatePart> FindDatePart(std::string_view name) {
  struct Entry {
    const char* name;
    DatePart part;
  };
  static constexpr Entry kParts[] = {
      {"year", DatePart::kYear},       {"yy", DatePart::kYear},
      {"yyyy", DatePart::kYear},       {"quarter", DatePart::kQuarter},
      {"qq", DatePart::kQuarter},      {"q", DatePart::kQuarter},
      {"month", DatePart::kMonth},     {"mm", DatePart::kMonth},
      {"m", DatePart::kMonth},         {"dayofyear", DatePart::kDayOfYear},
      {"dy", DatePart::kDayOfYear},    {"y", DatePart::kDayOfYear},
      {"day", DatePart::kDay},         {"dd", DatePart::kDay},
      {"d", DatePart::kDay},           {"week", DatePart::kWeek},
      {"wk", DatePart::kWeek},         {"ww", DatePart::kWeek},
      {"weekday", DatePart::kWeekday}, {"dw", DatePart::kWeekday},
      {"w", DatePart::kWeekday},       {"hour", DatePart::kHour},
      {"hh", DatePart::kHour},         {"minute", DatePart::kMinute},
      {"mi", DatePart::kMinute},       {"n", DatePart::kMinute},
      {"second", DatePart::kSecond},   {"ss", DatePart::kSecond},
      {"s", DatePart::kSecond},        {"millisecond", DatePart::kMillisecond},
      {"ms", DatePart::kMillisecond},  {"microsecond", DatePart::kMicrosecond},
      {"mcs", DatePart::kMicrosecond}, {"nanosecond", DatePart::kNanosecond},
      {"ns", DatePart::kNanosecond},   {"tzoffset", DatePart::kTzOffset},
      {"tz", DatePart::kTzOffset},     {"iso_week", DatePart::kIsoWeek},
      {"isowk", DatePart::kIsoWeek},   {"isoww", DatePart::kIsoWeek},
  };
  for (const Entry& e : kParts) {
    if (name == e.name) return e.part;
  }
  return std::nullopt;
}

const char* DatePartName(DatePart part) {
  static constexpr const char* kNames[] = {"year",       "quarter",  "month",       "dayofyear",
                                           "day",        "week",     "weekday",     "hour",
                                           "minute",     "second",   "millisecond", "microsecond",
                                           "nanosecond", "tzoffset", "iso_week"};
  const int k = static_cast<int>(part);
  return k >= 0 && k < static_cast<int>(std::size(kNames)) ? kNames[k] : "?";
}

void WideValue(TypeId id, int scale, int64_t stored, std::string_view key, int64_t* i,
               int16_t* offset, std::string* text) {
  WideTime w;
  if (id == TypeId::kDateTimeOffset) {
    w = FromOffsetKey(key).value_or(WideTime{});
    // The wire carries the UTC date and time with the offset.
    WideTime utc = Normalize(w.days, w.units - int64_t{w.offset} * 60 * kUnitsPerSecond);
    *i = PackWide(TypeId::kDateTime2, utc);
    *offset = static_cast<int16_t>(w.offset);
  } else {
    w = UnpackWide(id, stored);
    *i = stored;
    *offset = 0;
  }
  *text = FormatWide(id, scale, w, -1).value_or(std::string());
}

namespace function_detail {

namespace {

Message OutOfRange(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(242, 3, 16,
                     "The conversion of a " + TypeName(from.id) + " data type to a " +
                         TypeName(to.id) + " data type resulted in an out-of-range value.");
}

Message BadDateText() {
  return MakeMessage(241, 1, 16,
                     "Conversion failed when converting date and/or time from character string.");
}

bool InRange(const WideTime& w) {
  return w.days >= 0 && w.days <= kMaxWideDays;
}

}  // namespace

Message NotAllowed(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(529, 2, 16,
                     "Explicit conversion from data type " + TypeName(from.id) + " to " +
                         TypeName(to.id) + " is not allowed.");
}

// datetimeoffset: the local time and the UTC instant both in range.
bool OffsetInRange(const WideTime& w) {
  return InRange(w) &&
         InRange(Normalize(w.days, w.units - int64_t{w.offset} * 60 * kUnitsPerSecond));
}

// The value of a datum of a date or time type (or a string) as local time and
// offset. *has_offset: the value carried one (datetimeoffset, or text with
// an offset).
WideTime ToWide(const Datum& d, const ColumnType& from, const ColumnType& to, int style,
                bool* has_offset) {
  *has_offset = false;
  switch (d.storage) {
    case Storage::kDateTicks:
      return FromDateTimeSerial(d.i);
    case Storage::kWideTime:
      return UnpackWide(from.id, d.i);
    case Storage::kOffsetText: {
      auto w = FromOffsetKey(d.s);
      if (!w) throw Failure{BadDateText()};
      *has_offset = true;
      return *w;
    }
    case Storage::kText: {
      DateText t;
      switch (ParseDateText(d.s, StyleDateOrder(style < 0 ? 0 : style), &t)) {
        case DateParse::kSyntax:
          throw Failure{BadDateText()};
        case DateParse::kRange:  // no such date: the text does not convert
          throw Failure{BadDateText()};
        case DateParse::kOk:
          break;
      }
      if (t.has_offset && to.id != TypeId::kDateTimeOffset && to.id != TypeId::kDateTime2 &&
          to.id != TypeId::kDate && to.id != TypeId::kTime) {
        throw Failure{BadDateText()};
      }
      *has_offset = t.has_offset;
      return Normalize(DaysFromCivil(t.y, t.m, t.d) + kDays0001To1900, t.units, t.offset);
    }
    default:
      throw Failure{NotAllowed(from, to)};
  }
}

// Converts to date, time, datetime2 or datetimeoffset and sets the result.
void ConvertWide(sqlite3_context* ctx, const Datum& d, const ColumnType& from, const ColumnType& to,
                 int style) {
  // time has no date: it converts only to and from time, datetime2 and the
  // strings (SQL Server refuses time -> date and date -> time).
  if ((from.id == TypeId::kTime && to.id == TypeId::kDate) ||
      (from.id == TypeId::kDate && to.id == TypeId::kTime)) {
    throw Failure{NotAllowed(from, to)};
  }
  bool has_offset = false;
  WideTime w = ToWide(d, from, to, style, &has_offset);
  if (from.id == TypeId::kTime) w.days = kDays0001To1900;
  const int scale = HasScale(to.id) ? to.scale : 0;
  switch (to.id) {
    case TypeId::kDate:
      if (!InRange(w)) throw Failure{OutOfRange(from, to)};
      sqlite3_result_int64(ctx, w.days);
      return;
    case TypeId::kTime:
      // Rounding past midnight wraps, as the clock does.
      sqlite3_result_int64(ctx, RoundUnits(w.units, scale) % kUnitsPerDay);
      return;
    case TypeId::kDateTime2: {
      WideTime r = Normalize(w.days, RoundUnits(w.units, scale));
      if (!InRange(r)) throw Failure{OutOfRange(from, to)};
      sqlite3_result_int64(ctx, PackWide(to.id, r));
      return;
    }
    default: {
      WideTime r = Normalize(w.days, RoundUnits(w.units, scale), has_offset ? w.offset : 0);
      if (!OffsetInRange(r)) throw Failure{OutOfRange(from, to)};
      ResultText(ctx, OffsetKey(r));
      return;
    }
  }
}

Message StyleNotValid(int style, const ColumnType& from) {
  return MakeMessage(281, 1, 16,
                     std::to_string(style) + " is not a valid style number when converting from " +
                         TypeName(from.id) + " to a character string.");
}

std::string WideText(const Datum& d, const ColumnType& from, int style) {
  WideTime w;
  if (d.storage == Storage::kOffsetText) {
    auto k = FromOffsetKey(d.s);
    if (!k) return d.s;
    w = *k;
  } else {
    w = UnpackWide(from.id, d.i);
  }
  auto s = FormatWide(from.id, HasScale(from.id) ? from.scale : 0, w, style);
  if (!s) {
    throw Failure{StyleNotValid(style, from)};
  }
  return *s;
}

int64_t WideToDateTime(const Datum& d, const ColumnType& from, const ColumnType& to) {
  if (from.id == TypeId::kTime) {
    // time converts to datetime on 1900-01-01.
    return ToDateTimeSerial(Normalize(kDays0001To1900, UnpackWide(from.id, d.i).units));
  }
  bool has_offset = false;
  return ToDateTimeSerial(ToWide(d, from, to, -1, &has_offset));
}

}  // namespace function_detail
}  // namespace tdslite::sql
