// Dates and times: the calendar, the literal forms SQL Server accepts and the
// convert() styles it writes. Declared in values.h.
#include <cmath>
#include <cstdio>
#include <ctime>

#include "date_cursor.h"
#include "temporal.h"
#include "values.h"

namespace tdslite::sql {

// Days from civil, after Howard Hinnant's algorithm, shifted to 1900-01-01.
int32_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy =
      (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t unix_days = static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
  return static_cast<int32_t>(unix_days + 25567);  // 1970-01-01 is day 25567
}

void CivilFromDays(int32_t days, int* y, int* m, int* d) {
  int64_t z = static_cast<int64_t>(days) - 25567 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

int64_t ToSerial(const DateTimeValue& dt) {
  return static_cast<int64_t>(dt.days) * kTicksPerDay + dt.ticks;
}

DateTimeValue FromSerial(int64_t serial) {
  DateTimeValue dt;
  int64_t days = serial / kTicksPerDay;
  int64_t ticks = serial % kTicksPerDay;
  if (ticks < 0) {
    ticks += kTicksPerDay;
    --days;
  }
  dt.days = static_cast<int32_t>(days);
  dt.ticks = static_cast<uint32_t>(ticks);
  return dt;
}

namespace {

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool ValidDate(int y, int m, int d) {
  return y >= 1753 && y <= 9999 && d >= 1 && d <= DaysInMonth(y, m);
}

// Parses "hh:mm[:ss[.fff|:fff]][AM|PM]" or "hAM". Answers false on bad syntax.
bool ParseTime(DateCursor& c, int64_t* ticks) {
  c.SkipBlanks();
  int h = 0, mi = 0, sec = 0;
  int64_t ms_ticks = 0;
  if (c.Number(2, &h) == 0) return false;
  bool has_minutes = false;
  if (c.Eat(':')) {
    has_minutes = true;
    if (c.Number(2, &mi) == 0) return false;
    if (c.Eat(':')) {
      if (c.Number(2, &sec) == 0) return false;
      bool dot = false;
      if ((dot = c.Eat('.')) || c.Eat(':')) {
        // Fraction: with '.', digits are a decimal fraction; with ':', milliseconds.
        size_t start = c.i;
        int64_t frac = 0;
        int digits = 0;
        while (c.i < c.s.size() && c.s[c.i] >= '0' && c.s[c.i] <= '9') {
          if (digits < 9) {
            frac = frac * 10 + (c.s[c.i] - '0');
            ++digits;
          }
          ++c.i;
        }
        if (c.i == start) return false;
        double ms;
        if (dot) {
          ms = static_cast<double>(frac) * 1000.0 / std::pow(10.0, digits);
        } else {
          if (digits > 3) return false;
          ms = static_cast<double>(frac);
        }
        ms_ticks = static_cast<int64_t>(std::llround(ms * 0.3));
      }
    }
  }
  c.SkipBlanks();
  if (c.i + 1 < c.s.size()) {
    char a = static_cast<char>(c.s[c.i] | 0x20);
    char b = static_cast<char>(c.s[c.i + 1] | 0x20);
    if ((a == 'a' || a == 'p') && b == 'm') {
      if (h < 1 || h > 12) return false;
      if (a == 'a' && h == 12) h = 0;
      if (a == 'p' && h != 12) h += 12;
      c.i += 2;
    } else if (!has_minutes) {
      return false;
    }
  } else if (!has_minutes) {
    return false;
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  *ticks = (static_cast<int64_t>(h) * 3600 + mi * 60 + sec) * 300 + ms_ticks;
  return true;
}

}  // namespace

DateOrder StyleDateOrder(int style) {
  switch (style % 100) {
    case 3:
    case 4:
    case 5:
      return DateOrder::kDmy;
    case 2:
    case 11:
      return DateOrder::kYmd;
    default:
      return DateOrder::kMdy;
  }
}

std::optional<int64_t> ParseDateTime(std::string_view text, DateOrder order, bool* out_of_range) {
  bool ignored = false;
  if (out_of_range == nullptr) out_of_range = &ignored;
  *out_of_range = false;
  DateCursor c{text, 0};
  c.SkipBlanks();
  if (c.AtEnd()) return int64_t{0};  // '' converts to 1900-01-01
  int y = 1900, m = 1, d = 1;
  int64_t ticks = 0;
  size_t save = c.i;
  int first = 0;
  int n = c.Number(8, &first);
  if (n == 8 && (c.i >= c.s.size() || c.s[c.i] == ' ' || c.s[c.i] == 'T')) {
    y = first / 10000;
    m = first / 100 % 100;
    d = first % 100;
  } else if (n == 4 && c.i < c.s.size() &&
             (c.s[c.i] == '-' || c.s[c.i] == '/' || c.s[c.i] == '.')) {
    char sep = c.s[c.i++];
    y = first;
    if (c.Number(2, &m) == 0 || !c.Eat(sep) || c.Number(2, &d) == 0) return std::nullopt;
  } else if ((n == 1 || n == 2) && c.i < c.s.size() &&
             (c.s[c.i] == '/' || c.s[c.i] == '-' || c.s[c.i] == '.')) {
    // mdy as us_english does, unless the style says otherwise.
    char sep = c.s[c.i++];
    int second, yn;
    if (c.Number(2, &second) == 0 || !c.Eat(sep) || (yn = c.Number(4, &y)) == 0) {
      return std::nullopt;
    }
    if (order == DateOrder::kYmd && yn == 2) {
      // yy.mm.dd: the first number is the year, the last the day.
      d = y;
      y = first;
      m = second;
    } else if (order == DateOrder::kDmy) {
      d = first;
      m = second;
    } else {
      m = first;
      d = second;
    }
    if (yn == 2) y += y < 50 ? 2000 : 1900;
  } else if (n == 0) {
    // "Jan 31 2024", "January 5, 2024"
    c.i = save;
    m = MonthByName(c);
    if (m == 0) {
      // A time alone: "13:45".
      c.i = save;
      if (!ParseTime(c, &ticks) || !c.OnlyBlanksLeft()) return std::nullopt;
      return ticks;
    }
    c.SkipBlanks();
    if (c.Number(2, &d) == 0) return std::nullopt;
    c.Eat(',');
    c.SkipBlanks();
    int yn = c.Number(4, &y);
    if (yn == 2) y += y < 50 ? 2000 : 1900;
    if (yn != 2 && yn != 4) return std::nullopt;
  } else if (n <= 2 && c.i < c.s.size() && c.s[c.i] == ':') {
    c.i = save;
    if (!ParseTime(c, &ticks) || !c.OnlyBlanksLeft()) return std::nullopt;
    return ticks;
  } else if (n <= 2) {
    // "31 Jan 2024"
    d = first;
    c.SkipBlanks();
    m = MonthByName(c);
    if (m == 0) return std::nullopt;
    c.SkipBlanks();
    int yn = c.Number(4, &y);
    if (yn == 2) y += y < 50 ? 2000 : 1900;
    if (yn != 2 && yn != 4) return std::nullopt;
  } else {
    return std::nullopt;
  }
  const bool iso = c.i < c.s.size() && (c.s[c.i] == 'T' || c.s[c.i] == 't');
  if (iso) ++c.i;
  if (!c.OnlyBlanksLeft()) {
    if (!ParseTime(c, &ticks)) return std::nullopt;
    // ISO 8601's zone designator for UTC: 2024-03-05T10:00:00Z.
    if (iso && c.i < c.s.size() && (c.s[c.i] == 'Z' || c.s[c.i] == 'z')) ++c.i;
    if (!c.OnlyBlanksLeft()) return std::nullopt;
  }
  if (!ValidDate(y, m, d)) {
    *out_of_range = true;
    return std::nullopt;
  }
  int64_t serial = static_cast<int64_t>(DaysFromCivil(y, m, d)) * kTicksPerDay + ticks;
  if (serial >= (static_cast<int64_t>(kMaxDateTimeDays) + 1) * kTicksPerDay) {
    *out_of_range = true;
    return std::nullopt;
  }
  return serial;
}

std::optional<int64_t> ToSmallDateTime(int64_t serial) {
  DateTimeValue dt = FromSerial(serial);
  // 30 seconds and more (29.999 and up, which datetime stores as 30) round up.
  int64_t minutes = (static_cast<int64_t>(dt.ticks) + 9000) / 18000;
  int64_t total = static_cast<int64_t>(dt.days) * 1440 + minutes;
  if (total < 0 || total >= (static_cast<int64_t>(kMaxSmallDateTimeDays) + 1) * 1440) {
    return std::nullopt;
  }
  return total / 1440 * kTicksPerDay + total % 1440 * 18000;
}

// Days from 0001-01-01 (proleptic Gregorian) to 1900-01-01, and to the
// first day of the Hijri calendar.
constexpr int64_t kDaysTo1900 = 693595;
constexpr int64_t kHijriEpoch = 227013;
// The Hijri months as SQL Server names them in style 130 (Arabic script).
constexpr const char* kHijriMonthNames[12] = {
    "\u0645\u062d\u0631\u0645",
    "\u0635\u0641\u0631",
    "\u0631\u0628\u064a\u0639 \u0627\u0644\u0627\u0648\u0644",
    "\u0631\u0628\u064a\u0639 \u0627\u0644\u062b\u0627\u0646\u064a",
    "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u0627\u0648\u0644\u0649",
    "\u062c\u0645\u0627\u062f\u0649 \u0627\u0644\u062b\u0627\u0646\u064a\u0629",
    "\u0631\u062c\u0628",
    "\u0634\u0639\u0628\u0627\u0646",
    "\u0631\u0645\u0636\u0627\u0646",
    "\u0634\u0648\u0627\u0644",
    "\u0630\u0648 \u0627\u0644\u0642\u0639\u062f\u0629",
    "\u0630\u0648 \u0627\u0644\u062d\u062c\u0629"};

std::optional<std::string> FormatDateTime(int64_t serial, int style, bool small) {
  DateTimeValue dt = FromSerial(serial);
  int y, m, d;
  CivilFromDays(dt.days, &y, &m, &d);
  int64_t ms_total = (static_cast<int64_t>(dt.ticks) * 10 + 1) / 3;
  int h = static_cast<int>(ms_total / 3600000);
  int mi = static_cast<int>(ms_total / 60000 % 60);
  int s = static_cast<int>(ms_total / 1000 % 60);
  int ms = static_cast<int>(ms_total % 1000);
  if (small) {
    s = 0;
    ms = 0;
  }
  int h12 = h % 12 == 0 ? 12 : h % 12;
  const char* ampm = h < 12 ? "AM" : "PM";
  const char* mon = kMonthNames[(m - 1) % 12];
  char buf[64];
  const bool century = style >= 100 || style == 0 || style == 9 || style == 13 || style == 20 ||
                       style == 21 || style == 23 || style == 25;
  int yy = century ? y : y % 100;
  const char* yf = century ? "%04d" : "%02d";
  // The numeric date styles: day, month and year in one of three orders,
  // with one separator.
  static constexpr struct {
    int style;
    DateOrder order;
    const char* sep;
  } kNumericDates[] = {{1, DateOrder::kMdy, "/"},  {2, DateOrder::kYmd, "."},
                       {3, DateOrder::kDmy, "/"},  {4, DateOrder::kDmy, "."},
                       {5, DateOrder::kDmy, "-"},  {10, DateOrder::kMdy, "-"},
                       {11, DateOrder::kYmd, "/"}, {12, DateOrder::kYmd, ""}};
  for (const auto& n : kNumericDates) {
    if (style != n.style && style != n.style + 100) continue;
    char year[16];
    std::snprintf(year, sizeof year, yf, yy);
    if (n.order == DateOrder::kYmd) {
      std::snprintf(buf, sizeof buf, "%s%s%02d%s%02d", year, n.sep, m, n.sep, d);
    } else {
      const int first = n.order == DateOrder::kMdy ? m : d;
      const int second = n.order == DateOrder::kMdy ? d : m;
      std::snprintf(buf, sizeof buf, "%02d%s%02d%s%s", first, n.sep, second, n.sep, year);
    }
    return std::string(buf);
  }
  switch (style) {
    case 0:
    case 100:
      std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", mon, d, y, h12, mi, ampm);
      return std::string(buf);
    case 6:
    case 106:
      std::snprintf(buf, sizeof buf, century ? "%02d %s %04d" : "%02d %s %02d", d, mon, yy);
      return std::string(buf);
    case 7:
    case 107:
      std::snprintf(buf, sizeof buf, century ? "%s %02d, %04d" : "%s %02d, %02d", mon, d, yy);
      return std::string(buf);
    case 8:
    case 24:
    case 108:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
      return std::string(buf);
    case 9:
    case 109:
      std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d:%02d:%03d%s", mon, d, y, h12, mi, s, ms,
                    ampm);
      return std::string(buf);
    case 13:
    case 113:
      std::snprintf(buf, sizeof buf, "%02d %s %04d %02d:%02d:%02d:%03d", d, mon, y, h, mi, s, ms);
      return std::string(buf);
    case 14:
    case 114:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", h, mi, s, ms);
      return std::string(buf);
    case 20:
    case 120:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, h, mi, s);
      return std::string(buf);
    case 21:
    case 25:
    case 121:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, h, mi, s, ms);
      return std::string(buf);
    case 22:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %2d:%02d:%02d %s", m, d, y % 100, h12, mi, s,
                    ampm);
      return std::string(buf);
    case 23:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
      return std::string(buf);
    case 130:
    case 131: {
      // The Hijri date by the tabular (Kuwaiti) calendar: 30-year cycles of
      // 10631 days, day 0 being 1 Muharram 1 (16 July 622, Julian).
      int64_t n = static_cast<int64_t>(dt.days) + kDaysTo1900 - kHijriEpoch;
      if (n < 0) return std::nullopt;
      auto leap = [](int64_t year) { return (year * 11 + 14) % 30 < 11; };
      int64_t hy = n / 10631 * 30;
      int64_t rest = n % 10631;
      for (int64_t k = 1; k <= 30; ++k) {
        int64_t length = leap(k) ? 355 : 354;
        if (rest < length) {
          hy += k;
          break;
        }
        rest -= length;
      }
      int hm = 1;
      for (; hm <= 12; ++hm) {
        int64_t length = hm % 2 == 1 || (hm == 12 && leap(hy)) ? 30 : 29;
        if (rest < length) break;
        rest -= length;
      }
      const int hd = static_cast<int>(rest) + 1;
      if (style == 131) {
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %2d:%02d:%02d:%03d%s", hd, hm,
                      static_cast<int>(hy), h12, mi, s, ms, ampm);
        return std::string(buf);
      }
      std::string out;
      std::snprintf(buf, sizeof buf, "%02d ", hd);
      out += buf;
      out += kHijriMonthNames[hm - 1];
      std::snprintf(buf, sizeof buf, " %04d %2d:%02d:%02d:%03d%s", static_cast<int>(hy), h12, mi, s,
                    ms, ampm);
      out += buf;
      return out;
    }
    case 126:
    case 127:
      if (ms == 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d, h, mi, s);
      } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d, h, mi, s, ms);
      }
      return std::string(buf);
    default:
      return std::nullopt;
  }
}

std::optional<int64_t> ParseWaitTime(std::string_view text) {
  // A blank string converts to datetime's zero, but is no time.
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return std::nullopt;
  const std::optional<int64_t> serial = ParseDateTime(text);
  if (!serial || *serial < 0 || *serial >= kTicksPerDay) return std::nullopt;
  return *serial * 10 / 3;
}

std::string WaitTimeError(std::string_view text) {
  return "Incorrect time syntax in time string '" + std::string(text) + "' used with WAITFOR.";
}

int64_t CurrentDateTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  tm local{};
  localtime_r(&secs, &local);
  int32_t days = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  int64_t ms =
      (static_cast<int64_t>(local.tm_hour) * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 +
      ts.tv_nsec / 1000000;
  int64_t ticks = (ms * 3 + 5) / 10;
  return static_cast<int64_t>(days) * kTicksPerDay + ticks;
}

}  // namespace tdslite::sql
