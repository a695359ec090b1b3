// Dates made and read whole: the fromparts family, isdate, the clocks, offsets.
#include "date_functions_internal.h"

namespace tdslite::sql::function_detail {

// tds_fromparts(type, a, b, c, d, e, f, g): datefromparts (y, m, d),
// datetimefromparts (y, m, d, h, mi, s, ms), datetime2fromparts (y, m, d, h,
// mi, s, fractions), smalldatetimefromparts (y, m, d, h, mi) and
// timefromparts (h, mi, s, fractions); unused arguments are 0. The type
// carries the precision of datetime2 and time.
void FromPartsFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[0]));
  for (int k = 1; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  int64_t v[7] = {0, 0, 0, 0, 0, 0, 0};
  for (int k = 1; k < argc && k <= 7; ++k) v[k - 1] = sqlite3_value_int64(argv[k]);
  const Message bad = MakeMessage(289, 1, 16,
                                  "Cannot construct data type " + TypeName(t.id) +
                                      ", some of the arguments have values which are not valid.");
  int64_t y = 1900, mo = 1, d = 1, h = 0, mi = 0, s = 0, frac_units = 0;
  bool ok = true;
  if (t.id == TypeId::kTime) {
    h = v[0];
    mi = v[1];
    s = v[2];
    int64_t step = 1;
    for (int k = t.scale; k < 7; ++k) step *= 10;
    ok = v[3] >= 0 && v[3] < kUnitsPerSecond / step;
    if (ok) frac_units = v[3] * step;
  } else {
    y = v[0];
    mo = v[1];
    d = v[2];
    h = v[3];
    mi = v[4];
    s = v[5];
    if (t.id == TypeId::kDateTime) {
      ok = v[6] >= 0 && v[6] <= 999;
      if (ok) frac_units = v[6] * 10000;
    } else if (t.id == TypeId::kDateTime2) {
      int64_t step = 1;
      for (int k = t.scale; k < 7; ++k) step *= 10;
      ok = v[6] >= 0 && v[6] < kUnitsPerSecond / step;
      if (ok) frac_units = v[6] * step;
    }
  }
  const int64_t min_year = IsDateType(t.id) ? (t.id == TypeId::kDateTime ? 1753 : 1900) : 1;
  ok = ok && y >= min_year && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 &&
       d <= DaysInMonth(static_cast<int>(y), static_cast<int>(mo)) && h >= 0 && h <= 23 &&
       mi >= 0 && mi <= 59 && s >= 0 && s <= 59;
  if (!ok) {
    Fail(ctx, bad);
    return;
  }
  WideTime w = Normalize(DaysOf(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d)),
                         (h * 3600 + mi * 60 + s) * kUnitsPerSecond + frac_units);
  switch (t.id) {
    case TypeId::kDateTime:
    case TypeId::kSmallDateTime: {
      int64_t serial = ToDateTimeSerial(w);
      if (t.id == TypeId::kSmallDateTime) {
        auto small = ToSmallDateTime(serial);
        if (!small) {
          Fail(ctx, bad);
          return;
        }
        serial = *small;
      }
      sqlite3_result_int64(ctx, serial);
      return;
    }
    default:
      sqlite3_result_int64(ctx, PackWide(t.id, w));
      return;
  }
}

// tds_isdate(text): 1 when the text converts to datetime.
void IsDateFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_int(ctx, 0);
    return;
  }
  // '' converts to 1900-01-01, but is no date to isdate().
  const std::string text = ValueText(argv[0]);
  sqlite3_result_int(ctx, !IsBlank(text) && ParseDateTime(text).has_value() ? 1 : 0);
}

// tds_now(type): sysdatetime(), sysutcdatetime(), sysdatetimeoffset() and
// getutcdate(), by the type they answer in (the UTC ones with scale 1).
void NowFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[0]));
  const bool utc = sqlite3_value_int(argv[1]) != 0;
  WideTime w = NowWide(utc);
  switch (t.id) {
    case TypeId::kDateTime:
      sqlite3_result_int64(ctx, ToDateTimeSerial(w));
      return;
    case TypeId::kDateTimeOffset:
      ResultText(ctx, OffsetKey(w));
      return;
    default:
      sqlite3_result_int64(ctx, PackWide(t.id, w));
      return;
  }
}

// tds_offset(value, type, offset text or minutes, keep local):
// switchoffset() (the same instant at another offset) and
// todatetimeoffset() (the same local time with an offset).
void OffsetFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  const bool keep_local = sqlite3_value_int(argv[3]) != 0;
  try {
    int offset = 0;
    if (sqlite3_value_type(argv[2]) == SQLITE_TEXT) {
      DateText parsed;
      std::string text = Trim(ValueText(argv[2]));
      if (ParseDateText("00:00 " + text, DateOrder::kMdy, &parsed) != DateParse::kOk ||
          !parsed.has_offset) {
        throw Failure{MakeMessage(
            9812, 1, 16,
            "The timezone provided to builtin function " +
                std::string(keep_local ? "todatetimeoffset" : "switchoffset") + " is invalid.")};
      }
      offset = parsed.offset;
    } else {
      const int64_t minutes = sqlite3_value_int64(argv[2]);
      if (minutes < kMinOffsetMinutes || minutes > kMaxOffsetMinutes) {
        throw Failure{MakeMessage(
            9812, 1, 16,
            "The timezone provided to builtin function " +
                std::string(keep_local ? "todatetimeoffset" : "switchoffset") + " is invalid.")};
      }
      offset = static_cast<int>(minutes);
    }
    Moment mo = ReadMoment(argv[0], t);
    WideTime w = mo.w;
    if (!keep_local) {
      w = Normalize(w.days, w.units + int64_t{offset - w.offset} * 60 * kUnitsPerSecond);
    }
    w.offset = offset;
    if (!OffsetInRange(w)) {
      throw Failure{MakeMessage(517, 1, 16,
                                "Adding a value to a 'datetimeoffset' column caused an overflow.")};
    }
    ResultText(ctx, OffsetKey(w));
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// Compares datetimeoffset keys by their UTC instant only.
int CompareOffsetKeys(void*, int na, const void* pa, int nb, const void* pb) {
  std::string_view a(static_cast<const char*>(pa), static_cast<size_t>(na));
  std::string_view b(static_cast<const char*>(pb), static_cast<size_t>(nb));
  return OffsetKeyInstant(a).compare(OffsetKeyInstant(b));
}

}  // namespace tdslite::sql::function_detail
