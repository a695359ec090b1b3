#include "temporal.h"

#include <cstdio>
#include <ctime>

#include "date_cursor.h"

namespace tdslite::sql {

namespace {

bool Leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// hh:mi[:ss[.fffffff | :mmm]] [AM|PM], or h AM.
bool ParseClock(DateCursor& c, int64_t* units) {
  int h = 0, mi = 0, sec = 0;
  int64_t frac = 0;
  if (c.Number(2, &h) == 0) return false;
  bool minutes = false;
  if (c.Eat(':')) {
    minutes = true;
    if (c.Number(2, &mi) == 0) return false;
    if (c.Eat(':')) {
      if (c.Number(2, &sec) == 0) return false;
      if (c.Eat('.')) {
        int digits = 0;
        while (c.IsDigit()) {
          if (++digits > 7) return false;
          frac = frac * 10 + (c.Peek() - '0');
          ++c.i;
        }
        if (digits == 0) return false;
        for (int k = digits; k < 7; ++k) frac *= 10;
      } else if (c.Eat(':')) {
        int ms = 0;
        if (c.Number(3, &ms) == 0) return false;
        frac = int64_t{ms} * 10000;
      }
    }
  }
  size_t save = c.i;
  c.SkipBlanks();
  if (c.i + 1 < c.s.size() && ((c.s[c.i] | 0x20) == 'a' || (c.s[c.i] | 0x20) == 'p') &&
      (c.s[c.i + 1] | 0x20) == 'm') {
    if (h < 1 || h > 12) return false;
    const bool pm = (c.s[c.i] | 0x20) == 'p';
    if (h == 12) h = 0;
    if (pm) h += 12;
    c.i += 2;
  } else {
    c.i = save;
    if (!minutes) return false;
  }
  if (h > 23 || mi > 59 || sec > 59) return false;
  *units = (int64_t{h} * 3600 + mi * 60 + sec) * kUnitsPerSecond + frac;
  return true;
}

// +hh:mi, -hh:mi, +hhmi or Z.
bool ParseOffset(DateCursor& c, DateText* out) {
  if (c.Peek() == 'Z' || c.Peek() == 'z') {
    ++c.i;
    out->has_offset = true;
    out->offset = 0;
    return true;
  }
  if (c.Peek() != '+' && c.Peek() != '-') return false;
  const bool negative = c.Peek() == '-';
  ++c.i;
  c.SkipBlanks();
  int h = 0, mi = 0;
  int n = c.Number(2, &h);
  if (n == 0) return false;
  if (c.Eat(':')) {
    if (c.Number(2, &mi) != 2) return false;
  } else if (n == 2 && c.IsDigit()) {
    if (c.Number(2, &mi) != 2) return false;
  }
  out->has_offset = true;
  out->offset = (negative ? -1 : 1) * (h * 60 + mi);
  return true;
}

// The date part at the cursor; false when there is none that reads.
bool ParseDatePart(DateCursor& c, DateOrder order, DateText* out) {
  size_t save = c.i;
  int first = 0;
  int n = c.Number(8, &first);
  auto two_digit = [](int* y) { *y += *y < 50 ? 2000 : 1900; };
  if (n == 8 && (c.AtEnd() || c.Peek() == ' ' || c.Peek() == 'T' || c.Peek() == 't')) {
    out->y = first / 10000;
    out->m = first / 100 % 100;
    out->d = first % 100;
    return true;
  }
  if (n == 6 && (c.AtEnd() || c.Peek() == ' ')) {  // yymmdd
    out->y = first / 10000;
    two_digit(&out->y);
    out->m = first / 100 % 100;
    out->d = first % 100;
    return true;
  }
  if (n == 4 && (c.Peek() == '-' || c.Peek() == '/' || c.Peek() == '.')) {
    const char sep = c.s[c.i++];
    out->y = first;
    if (c.Number(2, &out->m) == 0 || !c.Eat(sep) || c.Number(2, &out->d) == 0) return false;
    return true;
  }
  if ((n == 1 || n == 2) && (c.Peek() == '/' || c.Peek() == '-' || c.Peek() == '.')) {
    const char sep = c.s[c.i++];
    int second = 0, third = 0, yn = 0;
    if (c.Number(2, &second) == 0 || !c.Eat(sep) || (yn = c.Number(4, &third)) == 0) {
      return false;
    }
    if (yn != 2 && yn != 4) return false;
    if (order == DateOrder::kYmd && yn == 2) {
      out->y = first;
      out->m = second;
      out->d = third;
      two_digit(&out->y);
      return true;
    }
    out->y = third;
    if (order == DateOrder::kDmy) {
      out->d = first;
      out->m = second;
    } else {
      out->m = first;
      out->d = second;
    }
    if (yn == 2) two_digit(&out->y);
    return true;
  }
  if (n == 0) {
    // Mar 5 2024, March 5, 2024
    out->m = MonthByName(c);
    if (out->m == 0) {
      c.i = save;
      return false;
    }
    c.SkipBlanks();
    if (c.Number(2, &out->d) == 0) return false;
    c.Eat(',');
    c.SkipBlanks();
    int yn = c.Number(4, &out->y);
    if (yn == 2) two_digit(&out->y);
    return yn == 2 || yn == 4;
  }
  if (n <= 2 && c.Peek() != ':') {
    // 5 Mar 2024
    out->d = first;
    c.SkipBlanks();
    out->m = MonthByName(c);
    if (out->m == 0) return false;
    c.SkipBlanks();
    int yn = c.Number(4, &out->y);
    if (yn == 2) two_digit(&out->y);
    return yn == 2 || yn == 4;
  }
  c.i = save;
  return false;
}

}  // namespace

int MonthByName(DateCursor& c) {
  static constexpr const char* kShort[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                           "jul", "aug", "sep", "oct", "nov", "dec"};
  static constexpr const char* kFull[] = {"january",   "february", "march",    "april",
                                          "may",       "june",     "july",     "august",
                                          "september", "october",  "november", "december"};
  std::string word;
  while (c.i < c.s.size() && (c.s[c.i] | 0x20) >= 'a' && (c.s[c.i] | 0x20) <= 'z' &&
         word.size() < 16) {
    word.push_back(static_cast<char>(c.s[c.i] | 0x20));
    ++c.i;
  }
  for (int m = 0; m < 12; ++m) {
    if (word == kShort[m] || word == kFull[m]) return m + 1;
  }
  return 0;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && Leap(y) ? 29 : kDays[m - 1];
}

DateParse ParseDateText(std::string_view text, DateOrder order, DateText* out) {
  *out = DateText{};
  DateCursor c{text, 0};
  c.SkipBlanks();
  if (c.AtEnd()) return DateParse::kOk;  // '' is 1900-01-01 00:00
  size_t save = c.i;
  if (ParseDatePart(c, order, out)) {
    out->has_date = true;
    if (c.Peek() == 'T' || c.Peek() == 't') {
      ++c.i;
      if (!ParseClock(c, &out->units)) return DateParse::kSyntax;
      out->has_time = true;
    } else {
      c.SkipBlanks();
      if (c.IsDigit()) {
        if (!ParseClock(c, &out->units)) return DateParse::kSyntax;
        out->has_time = true;
      }
    }
  } else {
    c.i = save;
    if (!ParseClock(c, &out->units)) return DateParse::kSyntax;
    out->has_time = true;
    // A date may follow the time: 10:00 2024-03-05.
    c.SkipBlanks();
    if (!c.AtEnd() && c.Peek() != '+' && c.Peek() != '-' && c.Peek() != 'Z' && c.Peek() != 'z') {
      if (!ParseDatePart(c, order, out)) return DateParse::kSyntax;
      out->has_date = true;
    }
  }
  c.SkipBlanks();
  if (!c.AtEnd()) {
    if (!ParseOffset(c, out)) return DateParse::kSyntax;
    c.SkipBlanks();
    if (!c.AtEnd()) return DateParse::kSyntax;
  }
  if (out->y < 1 || out->y > 9999 || out->d < 1 || out->d > DaysInMonth(out->y, out->m)) {
    return DateParse::kRange;
  }
  if (out->offset < kMinOffsetMinutes || out->offset > kMaxOffsetMinutes) return DateParse::kRange;
  return DateParse::kOk;
}

WideTime Normalize(int64_t days, int64_t units, int offset) {
  WideTime w;
  int64_t carry = units / kUnitsPerDay;
  units %= kUnitsPerDay;
  if (units < 0) {
    units += kUnitsPerDay;
    --carry;
  }
  w.days = days + carry;
  w.units = units;
  w.offset = offset;
  return w;
}

int64_t RoundUnits(int64_t units, int scale) {
  if (scale >= 7) return units;
  int64_t step = 1;
  for (int k = scale; k < 7; ++k) step *= 10;
  return (units + step / 2) / step * step;
}

int64_t PackWide(TypeId id, const WideTime& w) {
  switch (id) {
    case TypeId::kDate:
      return w.days;
    case TypeId::kTime:
      return w.units;
    default:
      return w.days * kUnitsPerDay + w.units;
  }
}

WideTime UnpackWide(TypeId id, int64_t stored) {
  switch (id) {
    case TypeId::kDate:
      return Normalize(stored, 0);
    case TypeId::kTime:
      return Normalize(kDays0001To1900, stored);
    default:
      return Normalize(0, stored);
  }
}

std::string OffsetKey(const WideTime& local) {
  // One day of bias keeps 0001-01-01 00:00 +14:00 (before day 0 in UTC)
  // positive.
  const int64_t utc = local.days * kUnitsPerDay + local.units -
                      int64_t{local.offset} * 60 * kUnitsPerSecond + kUnitsPerDay;
  const int magnitude = local.offset < 0 ? -local.offset : local.offset;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%019lld%c%02d%02d", static_cast<long long>(utc),
                local.offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return buf;
}

std::optional<WideTime> FromOffsetKey(std::string_view key) {
  if (key.size() != 24) return std::nullopt;
  int64_t utc = 0;
  for (size_t k = 0; k < 19; ++k) {
    if (key[k] < '0' || key[k] > '9') return std::nullopt;
    utc = utc * 10 + (key[k] - '0');
  }
  int digits[4];
  for (size_t k = 0; k < 4; ++k) {
    const char ch = key[20 + k];
    if (ch < '0' || ch > '9') return std::nullopt;
    digits[k] = ch - '0';
  }
  int offset = (digits[0] * 10 + digits[1]) * 60 + digits[2] * 10 + digits[3];
  if (key[19] == '-') offset = -offset;
  const int64_t local = utc - kUnitsPerDay + int64_t{offset} * 60 * kUnitsPerSecond;
  return Normalize(0, local, offset);
}

std::string_view OffsetKeyInstant(std::string_view key) {
  return key.substr(0, 19);
}

WideTime FromDateTimeSerial(int64_t serial) {
  DateTimeValue dt = FromSerial(serial);
  // 1/300 s ticks to 100 ns units, rounded: .997 is .9966667.
  const int64_t units = (int64_t{dt.ticks} * 100000 + 1) / 3;
  return Normalize(dt.days + kDays0001To1900, units);
}

int64_t ToDateTimeSerial(const WideTime& w) {
  const int64_t ticks = (w.units * 3 + 50000) / 100000;
  return (w.days - kDays0001To1900) * kTicksPerDay + ticks;
}

namespace {

std::string Fraction(int64_t units, int scale) {
  if (scale <= 0) return "";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%07lld", static_cast<long long>(units % kUnitsPerSecond));
  return "." + std::string(buf, static_cast<size_t>(scale));
}

std::string Canonical(TypeId id, int scale, const WideTime& w, char separator) {
  int y, m, d;
  CivilFromDays(static_cast<int32_t>(w.days - kDays0001To1900), &y, &m, &d);
  const int64_t secs = w.units / kUnitsPerSecond;
  char date[32], clock[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, m, d);
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  const std::string time = clock + Fraction(w.units, scale);
  switch (id) {
    case TypeId::kDate:
      return date;
    case TypeId::kTime:
      return time;
    case TypeId::kDateTimeOffset: {
      const int magnitude = w.offset < 0 ? -w.offset : w.offset;
      char off[32];
      std::snprintf(off, sizeof off, " %c%02d:%02d", w.offset < 0 ? '-' : '+', magnitude / 60,
                    magnitude % 60);
      return std::string(date) + separator + time + off;
    }
    default:
      return std::string(date) + separator + time;
  }
}

}  // namespace

std::optional<std::string> FormatWide(TypeId id, int scale, const WideTime& w, int style) {
  if (style < 0 || style == 21 || style == 25 || style == 121) return Canonical(id, scale, w, ' ');
  if (style == 126 || style == 127) {
    std::string s = Canonical(id, scale, w, 'T');
    if (style == 127 && id == TypeId::kDateTimeOffset && w.offset == 0) {
      s.resize(s.size() - 7);
      s += "Z";
    }
    return s;
  }
  // The other styles write as datetime does, with this type's fraction.
  const int64_t serial = (w.days - kDays0001To1900) * kTicksPerDay + w.units * 3 / 100000;
  auto text = FormatDateTime(serial, style, false);
  if (!text) return std::nullopt;
  std::string s = *text;
  // Styles with milliseconds: 9, 13, 14, 130, 131 (":mmm") and their 1xx forms.
  const int base = style % 100;
  if (base == 9 || base == 13 || base == 14 || base == 30 || base == 31) {
    const size_t at = s.find(':', s.find(':', s.find(':') + 1) + 1);
    if (at != std::string::npos && at + 4 <= s.size()) {
      std::string frac = Fraction(w.units, scale);
      if (!frac.empty()) frac[0] = ':';
      s.replace(at, 4, frac);
    }
  }
  if (id == TypeId::kDate) {
    // A date writes no time of day.
    switch (style) {
      case 0:
      case 100:
      case 9:
      case 109:
      case 13:
      case 113:
        s.resize(11);
        break;
      case 20:
      case 120:
        s.resize(10);
        break;
      case 22:
        s.resize(8);
        break;
      case 8:
      case 24:
      case 108:
      case 14:
      case 114:
        return std::nullopt;
      default:
        break;
    }
  }
  return s;
}

int WideTextLength(TypeId id, int scale) {
  const int fraction = scale > 0 ? scale + 1 : 0;
  switch (id) {
    case TypeId::kDate:
      return 10;
    case TypeId::kTime:
      return 8 + fraction;
    case TypeId::kDateTime2:
      return 19 + fraction;
    default:
      return 26 + fraction;
  }
}

WideTime NowWide(bool utc) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t secs = ts.tv_sec;
  tm parts{};
  int offset = 0;
  if (utc) {
    gmtime_r(&secs, &parts);
  } else {
    localtime_r(&secs, &parts);
    offset = static_cast<int>(parts.tm_gmtoff / 60);
  }
  const int64_t days =
      DaysFromCivil(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday) + kDays0001To1900;
  const int64_t units =
      (int64_t{parts.tm_hour} * 3600 + parts.tm_min * 60 + parts.tm_sec) * kUnitsPerSecond +
      ts.tv_nsec / 100;
  return Normalize(days, units, offset);
}

}  // namespace tdslite::sql
