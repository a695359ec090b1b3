// The date and time types' conversions, the date functions (dateadd,
// datediff, datepart, datename, eomonth, the fromparts family, isdate, the
// clocks) and uniqueidentifier's conversions and newid().
#include <iterator>
#include <random>

#include "date_parts.h"
#include "functions_internal.h"
#include "temporal.h"

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

std::string GuidText(std::string_view wire) {
  if (wire.size() != 16) return std::string();
  return function_detail::GuidTextFromWire(wire);
}

std::string GuidWire(std::string_view key) {
  return function_detail::GuidWireFromKey(key);
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

Message NotAllowed(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(529, 2, 16,
                     "Explicit conversion from data type " + TypeName(from.id) + " to " +
                         TypeName(to.id) + " is not allowed.");
}

bool InRange(const WideTime& w) {
  return w.days >= 0 && w.days <= kMaxWideDays;
}

// datetimeoffset: the local time and the UTC instant both in range.
bool OffsetInRange(const WideTime& w) {
  return InRange(w) &&
         InRange(Normalize(w.days, w.units - int64_t{w.offset} * 60 * kUnitsPerSecond));
}

}  // namespace

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
    throw Failure{MakeMessage(281, 1, 16,
                              std::to_string(style) +
                                  " is not a valid style number when converting from " +
                                  TypeName(from.id) + " to a character string.")};
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

// ---- uniqueidentifier -------------------------------------------------------

namespace {

// The order of the wire bytes in the stored key: uniqueidentifier values
// sort by their last six bytes first, then bytes 8-9, 6-7, 4-5 and 0-3.
constexpr int kGuidOrder[16] = {10, 11, 12, 13, 14, 15, 8, 9, 6, 7, 4, 5, 0, 1, 2, 3};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string GuidKeyFromWire(std::string_view wire) {
  std::string key(16, '\0');
  for (int k = 0; k < 16; ++k)
    key[static_cast<size_t>(k)] = wire[static_cast<size_t>(kGuidOrder[k])];
  return key;
}

std::string GuidWireFromKey(std::string_view key) {
  std::string wire(16, '\0');
  if (key.size() != 16) return wire;
  for (int k = 0; k < 16; ++k)
    wire[static_cast<size_t>(kGuidOrder[k])] = key[static_cast<size_t>(k)];
  return wire;
}

// "6F9619FF-8B86-D011-B42D-00C04FC964FF": the first three groups are
// little-endian numbers on the wire, the last two bytes as written.
std::optional<std::string> GuidWireFromText(std::string_view text) {
  // Only the first 36 characters count, as on SQL Server; braces may
  // surround them.
  std::string_view s = text;
  if (!s.empty() && s[0] == '{') {
    if (s.size() < 38 || s[37] != '}') return std::nullopt;
    s = s.substr(1, 36);
  }
  if (s.size() < 36) return std::nullopt;
  s = s.substr(0, 36);
  uint8_t bytes[16];
  size_t at = 0;
  for (int k = 0; k < 16; ++k) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      if (s[at] != '-') return std::nullopt;
      ++at;
    }
    int hi = HexValue(s[at]), lo = HexValue(s[at + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[k] = static_cast<uint8_t>(hi * 16 + lo);
    at += 2;
  }
  static constexpr int kWireIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string wire(16, '\0');
  for (int k = 0; k < 16; ++k)
    wire[static_cast<size_t>(kWireIndex[k])] = static_cast<char>(bytes[k]);
  return wire;
}

std::string GuidTextFromWire(std::string_view wire) {
  static constexpr int kTextIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
    const auto b = static_cast<uint8_t>(wire[static_cast<size_t>(kTextIndex[k])]);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

void ConvertGuid(sqlite3_context* ctx, const Datum& d, const ColumnType& from,
                 const ColumnType& to) {
  std::string wire;
  switch (d.storage) {
    case Storage::kGuid:
      sqlite3_result_blob(ctx, d.s.data(), static_cast<int>(d.s.size()), SQLITE_TRANSIENT);
      return;
    case Storage::kText: {
      auto w = GuidWireFromText(Trim(d.s));
      if (!w) {
        throw Failure{MakeMessage(
            8169, 2, 16,
            "Conversion failed when converting from a character string to uniqueidentifier.")};
      }
      wire = *w;
      break;
    }
    case Storage::kBlob:
      wire = d.s;
      wire.resize(16, '\0');
      break;
    default:
      throw Failure{NotAllowed(from, to)};
  }
  std::string key = GuidKeyFromWire(wire);
  sqlite3_result_blob(ctx, key.data(), 16, SQLITE_TRANSIENT);
}

// newid(): a random (version 4) uniqueidentifier.
void NewIdFunc(sqlite3_context* ctx, int, sqlite3_value**) {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string wire(16, '\0');
  for (size_t k = 0; k < 16; k += 8) {
    uint64_t r = engine();
    for (size_t j = 0; j < 8; ++j) wire[k + j] = static_cast<char>(r >> (8 * j));
  }
  wire[7] = static_cast<char>((wire[7] & 0x0F) | 0x40);  // version 4 (data3's high byte)
  wire[8] = static_cast<char>((wire[8] & 0x3F) | 0x80);  // variant
  std::string key = GuidKeyFromWire(wire);
  sqlite3_result_blob(ctx, key.data(), 16, SQLITE_TRANSIENT);
}

// ---- the date functions -------------------------------------------------------

namespace {

// A date/time argument read as the function sees it: local time, or UTC
// for datetimeoffset (as datediff counts).
struct Moment {
  WideTime w;
  bool has_date = true;
  bool has_time = true;
};

Moment ReadMoment(sqlite3_value* v, const ColumnType& t) {
  Datum d = Read(v, t);
  Moment m;
  bool has_offset = false;
  m.w = ToWide(d, t, IntType(TypeId::kDateTime2), -1, &has_offset);
  m.has_date = t.id != TypeId::kTime;
  m.has_time = t.id != TypeId::kDate;
  return m;
}

int WeekdayIso(int64_t days) {  // 0001-01-01 was a Monday: 1 Monday .. 7 Sunday
  return static_cast<int>(days % 7) + 1;
}

int Weekday(int64_t days, int datefirst) {
  return ((WeekdayIso(days) - datefirst) % 7 + 7) % 7 + 1;
}

void Civil(int64_t days, int* y, int* m, int* d) {
  CivilFromDays(static_cast<int32_t>(days - kDays0001To1900), y, m, d);
}

int64_t DaysOf(int y, int m, int d) {
  return DaysFromCivil(y, m, d) + kDays0001To1900;
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
      case DatePart::kNanosecond:
        units = static_cast<__int128>(n) / 100;
        break;
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
  sqlite3_result_int(ctx, ParseDateTime(ValueText(argv[0])).has_value() ? 1 : 0);
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

}  // namespace function_detail
}  // namespace tdslite::sql
