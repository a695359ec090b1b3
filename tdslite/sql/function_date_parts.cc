// Date functions by datepart: datepart, datename, dateadd, datediff, eomonth.
#include <iterator>

#include "date_functions_internal.h"

namespace tdslite::sql::function_detail {

int64_t DaysOf(int y, int m, int d) {
  return DaysFromCivil(y, m, d) + kDays0001To1900;
}

Moment ReadMoment(sqlite3_value* v, const ColumnType& t) {
  Datum d = Read(v, t);
  Moment m;
  bool has_offset = false;
  m.w = ToWide(d, t, IntType(TypeId::kDateTime2), -1, &has_offset);
  m.has_date = t.id != TypeId::kTime;
  m.has_time = t.id != TypeId::kDate;
  return m;
}

namespace {

int WeekdayIso(int64_t days) {  // 0001-01-01 was a Monday: 1 Monday .. 7 Sunday
  return static_cast<int>(days % 7) + 1;
}

int Weekday(int64_t days, int datefirst) {
  return ((WeekdayIso(days) - datefirst) % 7 + 7) % 7 + 1;
}

void Civil(int64_t days, int* y, int* m, int* d) {
  CivilFromDays(static_cast<int32_t>(days - kDays0001To1900), y, m, d);
}

int IsoWeek(int64_t days) {
  int y, m, d;
  Civil(days, &y, &m, &d);
  // The ISO week of a day is the week of its Thursday.
  const int64_t thursday = days - WeekdayIso(days) + 4;
  int ty, tm, td;
  Civil(thursday, &ty, &tm, &td);
  return static_cast<int>((thursday - DaysOf(ty, 1, 1)) / 7 + 1);
}

Message PartNotSupported(DatePart part, const char* function, const ColumnType& t) {
  return MakeMessage(9810, 1, 16,
                     std::string("The datepart ") + DatePartName(part) +
                         " is not supported by date function " + function + " for data type " +
                         TypeName(t.id) + ".");
}

bool IsTimePart(DatePart p) {
  return p == DatePart::kHour || p == DatePart::kMinute || p == DatePart::kSecond ||
         p == DatePart::kMillisecond || p == DatePart::kMicrosecond || p == DatePart::kNanosecond;
}

int64_t PartValue(DatePart part, const Moment& mo, const ColumnType& t, int datefirst,
                  const char* function) {
  if ((t.id == TypeId::kDate && IsTimePart(part)) ||
      (part == DatePart::kTzOffset && t.id != TypeId::kDateTimeOffset &&
       t.id != TypeId::kDateTime2) ||
      (t.id == TypeId::kTime && !IsTimePart(part))) {
    throw Failure{PartNotSupported(part, function, t)};
  }
  const WideTime& w = mo.w;
  int y, m, d;
  Civil(w.days, &y, &m, &d);
  switch (part) {
    case DatePart::kYear:
      return y;
    case DatePart::kQuarter:
      return (m - 1) / 3 + 1;
    case DatePart::kMonth:
      return m;
    case DatePart::kDayOfYear:
      return w.days - DaysOf(y, 1, 1) + 1;
    case DatePart::kDay:
      return d;
    case DatePart::kWeek: {
      const int64_t jan1 = DaysOf(y, 1, 1);
      return (w.days - jan1 + Weekday(jan1, datefirst) - 1) / 7 + 1;
    }
    case DatePart::kWeekday:
      return Weekday(w.days, datefirst);
    case DatePart::kHour:
      return w.units / (3600 * kUnitsPerSecond);
    case DatePart::kMinute:
      return w.units / (60 * kUnitsPerSecond) % 60;
    case DatePart::kSecond:
      return w.units / kUnitsPerSecond % 60;
    case DatePart::kMillisecond:
      return w.units / 10000 % 1000;
    case DatePart::kMicrosecond:
      return w.units / 10 % 1000000;
    case DatePart::kNanosecond:
      return w.units % kUnitsPerSecond * 100;
    case DatePart::kTzOffset:
      return w.offset;
    case DatePart::kIsoWeek:
      return IsoWeek(w.days);
  }
  return 0;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

// tds_datepart2(part, value, type, datefirst): datepart().
void DatePart2Func(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto part = static_cast<DatePart>(sqlite3_value_int(argv[0]));
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[2]));
  try {
    Moment mo = ReadMoment(argv[1], t);
    sqlite3_result_int64(ctx, PartValue(part, mo, t, sqlite3_value_int(argv[3]), "datepart"));
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_datename(part, value, type, datefirst): datename().
void DateNameFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  static constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                            "May",       "June",     "July",     "August",
                                            "September", "October",  "November", "December"};
  static constexpr const char* kDays[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                          "Friday", "Saturday", "Sunday"};
  const auto part = static_cast<DatePart>(sqlite3_value_int(argv[0]));
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[2]));
  try {
    Moment mo = ReadMoment(argv[1], t);
    const int64_t v = PartValue(part, mo, t, sqlite3_value_int(argv[3]), "datename");
    if (part == DatePart::kMonth) {
      ResultText(ctx, kMonths[v - 1]);
    } else if (part == DatePart::kWeekday) {
      ResultText(ctx, kDays[WeekdayIso(mo.w.days) - 1]);
    } else if (part == DatePart::kTzOffset) {
      const int64_t magnitude = v < 0 ? -v : v;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%c%02d:%02d", v < 0 ? '-' : '+',
                    static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
      ResultText(ctx, buf);
    } else {
      ResultText(ctx, std::to_string(v));
    }
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_dateadd(part, number, value, type): dateadd().
void DateAddFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto part = static_cast<DatePart>(sqlite3_value_int(argv[0]));
  const int64_t n = sqlite3_value_int64(argv[1]);
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[3]));
  try {
    if ((t.id == TypeId::kDate && IsTimePart(part)) ||
        (t.id == TypeId::kTime && !IsTimePart(part))) {
      throw Failure{PartNotSupported(part, "dateadd", t)};
    }
    Datum d = Read(argv[2], t);
    bool has_offset = false;
    WideTime w = ToWide(d, t, t, -1, &has_offset);
    auto overflow = [&]() {
      return Failure{MakeMessage(
          517, 1, 16, "Adding a value to a '" + TypeName(t.id) + "' column caused an overflow.")};
    };
    // n is an int: no product below overflows 64 bits.
    auto add_months = [&](int64_t months) {
      int y, m, dd;
      Civil(w.days, &y, &m, &dd);
      const int64_t total = int64_t{y} * 12 + (m - 1) + months;
      if (total < 12 || total > 9999 * 12 + 11) throw overflow();
      const int ny = static_cast<int>(total / 12), nm = static_cast<int>(total % 12 + 1);
      w.days = DaysOf(ny, nm, std::min(dd, DaysInMonth(ny, nm)));
    };
    __int128 units = 0;  // a time of day to add
    switch (part) {
      case DatePart::kYear:
        add_months(n * 12);
        break;
      case DatePart::kQuarter:
        add_months(n * 3);
        break;
      case DatePart::kMonth:
        add_months(n);
        break;
      case DatePart::kDayOfYear:
      case DatePart::kDay:
      case DatePart::kWeekday:
        w.days += n;
        break;
      case DatePart::kWeek:
        w.days += n * 7;
        break;
      case DatePart::kHour:
        units = static_cast<__int128>(n) * 3600 * kUnitsPerSecond;
        break;
      case DatePart::kMinute:
        units = static_cast<__int128>(n) * 60 * kUnitsPerSecond;
        break;
      case DatePart::kSecond:
        units = static_cast<__int128>(n) * kUnitsPerSecond;
        break;
      case DatePart::kMillisecond:
        units = static_cast<__int128>(n) * 10000;
        break;
      case DatePart::kMicrosecond:
        units = static_cast<__int128>(n) * 10;
        break;
      case DatePart::kNanosecond: {
        // To the nearest 100 ns, half away from zero: 49 ns adds nothing, 50 ns one unit.
        const __int128 ns = n;
        units = ns >= 0 ? (ns + 50) / 100 : -((-ns + 50) / 100);
        break;
      }
      default:
        throw Failure{MakeMessage(9810, 1, 16,
                                  std::string("The datepart ") + DatePartName(part) +
                                      " is not supported by date function dateadd for data type " +
                                      TypeName(t.id) + ".")};
    }
    const __int128 total = static_cast<__int128>(w.days) * kUnitsPerDay + w.units + units;
    if (t.id == TypeId::kTime) {
      __int128 u = total % kUnitsPerDay;
      if (u < 0) u += kUnitsPerDay;
      w.units = static_cast<int64_t>(u);
    } else {
      if (total < 0 || total >= static_cast<__int128>(kMaxWideDays + 1) * kUnitsPerDay) {
        throw overflow();
      }
      w = Normalize(0, static_cast<int64_t>(total), w.offset);
    }
    switch (StorageOf(t.id)) {
      case Storage::kDateTicks: {
        int64_t serial = ToDateTimeSerial(w);
        if (t.id == TypeId::kSmallDateTime) {
          auto s = ToSmallDateTime(serial);
          if (!s) throw overflow();
          serial = *s;
        }
        const int64_t lo = static_cast<int64_t>(kMinDateTimeDays) * kTicksPerDay;
        const int64_t hi = (static_cast<int64_t>(kMaxDateTimeDays) + 1) * kTicksPerDay;
        if (serial < lo || serial >= hi) throw overflow();
        sqlite3_result_int64(ctx, serial);
        return;
      }
      case Storage::kOffsetText:
        if (!OffsetInRange(w)) throw overflow();
        ResultText(ctx, OffsetKey(w));
        return;
      default:
        sqlite3_result_int64(ctx, PackWide(t.id, w));
        return;
    }
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_datediff(part, a, type a, b, type b, big): datediff() and datediff_big().
void DateDiffFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[3]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto part = static_cast<DatePart>(sqlite3_value_int(argv[0]));
  const ColumnType ta = UnpackType(sqlite3_value_int64(argv[2]));
  const ColumnType tb = UnpackType(sqlite3_value_int64(argv[4]));
  const bool big = sqlite3_value_int(argv[5]) != 0;
  try {
    if (part == DatePart::kTzOffset || part == DatePart::kIsoWeek) {
      throw Failure{MakeMessage(9810, 1, 16,
                                std::string("The datepart ") + DatePartName(part) +
                                    " is not supported by date function datediff for data type " +
                                    TypeName(ta.id) + ".")};
    }
    Moment a = ReadMoment(argv[1], ta);
    Moment b = ReadMoment(argv[3], tb);
    // datetimeoffset values count in UTC.
    auto utc = [](Moment& m, const ColumnType& t) {
      if (t.id == TypeId::kDateTimeOffset) {
        m.w = Normalize(m.w.days, m.w.units - int64_t{m.w.offset} * 60 * kUnitsPerSecond);
      }
    };
    utc(a, ta);
    utc(b, tb);
    int ya, ma, da, yb, mb, db;
    Civil(a.w.days, &ya, &ma, &da);
    Civil(b.w.days, &yb, &mb, &db);
    const __int128 ua = static_cast<__int128>(a.w.days) * kUnitsPerDay + a.w.units;
    const __int128 ub = static_cast<__int128>(b.w.days) * kUnitsPerDay + b.w.units;
    auto floor_units = [&](int64_t step) {
      return static_cast<__int128>(FloorDiv(static_cast<int64_t>(ub), step)) -
             FloorDiv(static_cast<int64_t>(ua), step);
    };
    __int128 r = 0;
    switch (part) {
      case DatePart::kYear:
        r = yb - ya;
        break;
      case DatePart::kQuarter:
        r = (int64_t{yb} * 4 + (mb - 1) / 3) - (int64_t{ya} * 4 + (ma - 1) / 3);
        break;
      case DatePart::kMonth:
        r = (int64_t{yb} * 12 + mb) - (int64_t{ya} * 12 + ma);
        break;
      case DatePart::kDayOfYear:
      case DatePart::kDay:
      case DatePart::kWeekday:
        r = b.w.days - a.w.days;
        break;
      case DatePart::kWeek:  // Sunday starts the week, whatever datefirst says
        r = FloorDiv(b.w.days + 1, 7) - FloorDiv(a.w.days + 1, 7);
        break;
      case DatePart::kHour:
        r = floor_units(3600 * kUnitsPerSecond);
        break;
      case DatePart::kMinute:
        r = floor_units(60 * kUnitsPerSecond);
        break;
      case DatePart::kSecond:
        r = floor_units(kUnitsPerSecond);
        break;
      case DatePart::kMillisecond:
        r = floor_units(10000);
        break;
      case DatePart::kMicrosecond:
        r = floor_units(10);
        break;
      case DatePart::kNanosecond:
        r = (ub - ua) * 100;
        break;
      default:
        break;
    }
    const __int128 limit = big ? static_cast<__int128>(INT64_MAX) : INT32_MAX;
    if (r > limit || r < -limit - 1) {
      throw Failure{MakeMessage(
          535, 0, 16,
          std::string("The ") + (big ? "datediff_big" : "datediff") +
              " function resulted in an overflow. The number of dateparts separating two date/time "
              "instances is too large. Try to use " +
              (big ? "datediff_big" : "datediff") + " with a less precise datepart.")};
    }
    sqlite3_result_int64(ctx, static_cast<int64_t>(r));
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_eomonth(value, type, months): the last day of the month, as date.
void EoMonthFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  try {
    Moment mo = ReadMoment(argv[0], t);
    int y, m, d;
    Civil(mo.w.days, &y, &m, &d);
    const int64_t total = int64_t{y} * 12 + (m - 1) + sqlite3_value_int64(argv[2]);
    if (total < 12 || total > 9999 * 12 + 11) {
      throw Failure{
          MakeMessage(517, 1, 16, "Adding a value to a 'date' column caused an overflow.")};
    }
    const int ny = static_cast<int>(total / 12), nm = static_cast<int>(total % 12 + 1);
    sqlite3_result_int64(ctx, DaysOf(ny, nm, DaysInMonth(ny, nm)));
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

}  // namespace tdslite::sql::function_detail
