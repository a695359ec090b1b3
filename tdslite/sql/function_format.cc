// format(value, pattern[, culture]): the numeric and date patterns of the
// en-US culture, standard (N2, D5, C, P, F, E, X, d, D, t, T, ...) and
// custom (#,##0.00, ###-##-####, yyyy-MM-dd HH:mm, ...). A pattern it
// cannot apply answers NULL, as SQL Server does.
#include <cstdio>
#include <optional>

#include "functions_internal.h"

namespace tdslite::sql {
namespace function_detail {

namespace {

constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
constexpr const char* kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

// A number as decimal digits: negative, the digits, and how many of them
// follow the point.
struct Digits {
  bool negative = false;
  std::string digits;  // without leading zeros (at least one digit before the point)
  int scale = 0;
};

std::optional<Digits> ParseDigits(std::string_view s) {
  Digits d;
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
  bool point = false;
  for (; i < s.size(); ++i) {
    if (s[i] == '.' && !point) {
      point = true;
    } else if (s[i] >= '0' && s[i] <= '9') {
      d.digits += s[i];
      if (point) ++d.scale;
    } else {
      return std::nullopt;
    }
  }
  if (d.digits.empty()) return std::nullopt;
  if (d.digits.size() > 400) return std::nullopt;
  return d;
}

// Rounds half away from zero to `scale` places.
Digits Round(Digits d, int scale) {
  if (d.scale <= scale) {
    d.digits.append(static_cast<size_t>(scale - d.scale), '0');
    d.scale = scale;
    return d;
  }
  const size_t keep = d.digits.size() - static_cast<size_t>(d.scale - scale);
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  d.scale = scale;
  if (up) {
    size_t k = d.digits.size();
    while (k > 0 && d.digits[k - 1] == '9') d.digits[--k] = '0';
    if (k == 0) {
      d.digits.insert(d.digits.begin(), '1');
    } else {
      ++d.digits[k - 1];
    }
  }
  if (d.digits.empty()) d.digits = "0";
  return d;
}

std::string IntegerPart(const Digits& d) {
  std::string s = d.digits.substr(0, d.digits.size() - static_cast<size_t>(d.scale));
  size_t nz = s.find_first_not_of('0');
  return nz == std::string::npos ? "" : s.substr(nz);
}

std::string FractionPart(const Digits& d) {
  return d.digits.substr(d.digits.size() - static_cast<size_t>(d.scale));
}

bool IsZero(const Digits& d) {
  return d.digits.find_first_not_of('0') == std::string::npos;
}

std::string Group(const std::string& integer) {
  std::string out;
  const size_t n = integer.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += integer[i];
  }
  return out;
}

Digits Shift(Digits d, int places) {  // multiply by 10^places
  if (d.scale >= places) {
    d.scale -= places;
  } else {
    d.digits.append(static_cast<size_t>(places - d.scale), '0');
    d.scale = 0;
  }
  return d;
}

// N, F, C, P, D, E, G, X
std::optional<std::string> StandardNumber(char letter, int precision, Digits d, bool integral) {
  const char upper = static_cast<char>(letter & ~0x20);
  auto fixed = [&](int places, bool group) {
    Digits r = Round(d, places);
    std::string i = IntegerPart(r);
    if (i.empty()) i = "0";
    std::string s = group ? Group(i) : i;
    if (places > 0) s += "." + FractionPart(r);
    return std::make_pair(s, !IsZero(r) && r.negative);
  };
  switch (upper) {
    case 'N':
    case 'F': {
      auto [s, neg] = fixed(precision < 0 ? 2 : precision, upper == 'N');
      return (neg ? "-" : "") + s;
    }
    case 'C': {
      auto [s, neg] = fixed(precision < 0 ? 2 : precision, true);
      return neg ? "($" + s + ")" : "$" + s;
    }
    case 'P': {
      d = Shift(d, 2);
      auto [p, pneg] = fixed(precision < 0 ? 2 : precision, true);
      return (pneg ? "-" : "") + p + " %";
    }
    case 'D': {
      if (!integral) return std::nullopt;
      std::string i = IntegerPart(d);
      if (i.empty()) i = "0";
      if (precision > 0 && static_cast<int>(i.size()) < precision) {
        i.insert(0, static_cast<size_t>(precision) - i.size(), '0');
      }
      return (d.negative && !IsZero(d) ? "-" : "") + i;
    }
    case 'X': {
      if (!integral) return std::nullopt;
      std::string i = IntegerPart(d);
      unsigned long long v = i.empty() ? 0 : std::stoull(i);
      if (d.negative) v = static_cast<unsigned long long>(-static_cast<long long>(v));
      char buf[32];
      std::snprintf(buf, sizeof buf, letter == 'X' ? "%llX" : "%llx", v);
      std::string s = buf;
      if (d.negative && s.size() > 8 && v <= 0xFFFFFFFFull) s = s.substr(s.size() - 8);
      if (precision > 0 && static_cast<int>(s.size()) < precision) {
        s.insert(0, static_cast<size_t>(precision) - s.size(), '0');
      }
      return s;
    }
    case 'E': {
      const int places = precision < 0 ? 6 : precision;
      std::string all = d.digits;
      size_t nz = all.find_first_not_of('0');
      int exponent = 0;
      Digits m;
      m.negative = d.negative;
      if (nz == std::string::npos) {
        m.digits = "0";
      } else {
        exponent = static_cast<int>(all.size() - nz) - 1 - d.scale;
        m.digits = all.substr(nz);
        m.scale = static_cast<int>(m.digits.size()) - 1;
      }
      Digits r = Round(m, places);
      if (IntegerPart(r).size() > 1) {  // 9.99 rounded up to 10.0
        ++exponent;
        r.digits.pop_back();
      }
      std::string s = IntegerPart(r).empty() ? "0" : IntegerPart(r);
      if (places > 0) s += "." + FractionPart(r);
      char buf[16];
      std::snprintf(buf, sizeof buf, "%c%c%03d", letter == 'e' ? 'e' : 'E',
                    exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
      return (r.negative && !IsZero(r) ? "-" : "") + s + buf;
    }
    case 'G': {
      // The shortest form of the value itself.
      Digits r = d;
      std::string i = IntegerPart(r), f = FractionPart(r);
      while (!f.empty() && f.back() == '0') f.pop_back();
      if (i.empty()) i = "0";
      return (r.negative && !IsZero(r) ? "-" : "") + i + (f.empty() ? "" : "." + f);
    }
    default:
      return std::nullopt;
  }
}

// A custom numeric pattern: 0 and # digits, . , % literals 'x' "x" \x.
std::optional<std::string> CustomNumber(std::string_view pattern, Digits d) {
  // Sections: positive;negative;zero.
  std::vector<std::string> sections(1);
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      sections.back() += c;
      sections.back() += pattern[++i];
    } else if (c == '\'' || c == '"') {
      size_t end = pattern.find(c, i + 1);
      if (end == std::string_view::npos) end = pattern.size() - 1;
      sections.back() += pattern.substr(i, end - i + 1);
      i = end;
    } else if (c == ';') {
      sections.emplace_back();
    } else {
      sections.back() += c;
    }
  }
  std::string fmt = sections[0];
  bool sign = d.negative;
  if (d.negative && sections.size() > 1 && !sections[1].empty()) {
    fmt = sections[1];
    sign = false;
  }
  // The pattern's shape.
  int int_places = 0, frac_places = 0, frac_zeros = 0, first_zero = -1;
  bool point = false, group = false, percent = false;
  int last_int_placeholder = -1;
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c == '\\') {
      ++i;
    } else if (c == '\'' || c == '"') {
      size_t end = fmt.find(c, i + 1);
      i = end == std::string::npos ? fmt.size() : end;
    } else if (c == '0' || c == '#') {
      if (point) {
        ++frac_places;
        if (c == '0') frac_zeros = frac_places;
      } else {
        ++int_places;
        if (c == '0' && first_zero < 0) first_zero = int_places;
        last_int_placeholder = static_cast<int>(i);
      }
    } else if (c == '.') {
      point = true;
    } else if (c == ',' && !point && last_int_placeholder >= 0) {
      group = true;
    } else if (c == '%') {
      percent = true;
    }
  }
  if (percent) d = Shift(d, 2);
  Digits r = Round(d, frac_places);
  std::string integer = IntegerPart(r);
  const int min_int = first_zero < 0 ? 0 : int_places - first_zero + 1;
  if (static_cast<int>(integer.size()) < min_int) {
    integer.insert(0, static_cast<size_t>(min_int) - integer.size(), '0');
  }
  if (group) integer = Group(integer);
  std::string fraction = FractionPart(r);
  // Optional fraction digits drop trailing zeros.
  while (static_cast<int>(fraction.size()) > frac_zeros && !fraction.empty() &&
         fraction.back() == '0') {
    fraction.pop_back();
  }
  // Lay the integer digits into the placeholders from the right.
  std::string out;
  int placeholders_left = int_places;
  size_t next = 0;  // next digit of `integer` to place
  const size_t extra = integer.size() > static_cast<size_t>(int_places)
                           ? integer.size() - static_cast<size_t>(int_places)
                           : 0;
  size_t frac_next = 0;
  point = false;
  bool any_point = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c == '\\' && i + 1 < fmt.size()) {
      out += fmt[++i];
    } else if (c == '\'' || c == '"') {
      size_t end = fmt.find(c, i + 1);
      if (end == std::string::npos) end = fmt.size();
      out += fmt.substr(i + 1, end - i - 1);
      i = end;
    } else if ((c == '0' || c == '#') && !point) {
      // The leftmost placeholder takes the digits beyond the pattern's.
      if (placeholders_left == int_places) {
        out += integer.substr(0, extra);
        next = extra;
      }
      const size_t have = integer.size() - next;
      if (static_cast<int>(have) >= placeholders_left) {
        out += integer[next++];
        if (group) {
          while (next < integer.size() && integer[next] == ',') out += integer[next++];
        }
      }
      --placeholders_left;
    } else if ((c == '0' || c == '#') && point) {
      if (frac_next < fraction.size()) out += fraction[frac_next++];
    } else if (c == '.') {
      point = true;
      if (!fraction.empty()) {
        out += '.';
        any_point = true;
      }
    } else if (c == ',' && !point) {
      // grouping is done by the digits
    } else {
      out += c;
    }
  }
  (void)any_point;
  if (sign && !IsZero(r)) out.insert(0, "-");
  return out;
}

struct When {
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  std::string fraction;  // digits after the seconds' point
};

// yyyy-mm-dd[ hh:mi:ss[.fff...]]
std::optional<When> ParseWhen(std::string_view s) {
  When w;
  int consumed = 0;
  const std::string text(s);
  if (std::sscanf(text.c_str(), "%d-%d-%d%n", &w.year, &w.month, &w.day, &consumed) != 3) {
    return std::nullopt;
  }
  size_t i = static_cast<size_t>(consumed);
  if (i < text.size() && (text[i] == ' ' || text[i] == 'T')) {
    int used = 0;
    if (std::sscanf(text.c_str() + i + 1, "%d:%d:%d%n", &w.hour, &w.minute, &w.second, &used) !=
        3) {
      return std::nullopt;
    }
    i += 1 + static_cast<size_t>(used);
    if (i < text.size() && text[i] == '.') {
      ++i;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') w.fraction += text[i++];
    }
  }
  if (w.month < 1 || w.month > 12 || w.day < 1 || w.day > 31) return std::nullopt;
  return w;
}

int Weekday(const When& w) {  // 0 = Sunday
  int y = w.year, m = w.month;
  if (m < 3) {
    m += 12;
    --y;
  }
  const int k = y % 100, j = y / 100;
  const int h = (w.day + 13 * (m + 1) / 5 + k + k / 4 + j / 4 + 5 * j) % 7;  // 0 = Saturday
  return (h + 6) % 7;
}

std::string Pad(int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  return buf;
}

std::optional<std::string> CustomDate(std::string_view f, const When& w) {
  std::string out;
  for (size_t i = 0; i < f.size();) {
    const char c = f[i];
    size_t n = 1;
    while (i + n < f.size() && f[i + n] == c) ++n;
    switch (c) {
      case 'y':
        out += n == 1   ? std::to_string(w.year % 100)
               : n == 2 ? Pad(w.year % 100, 2)
                        : Pad(w.year, static_cast<int>(n));
        break;
      case 'M':
        out += n == 1   ? std::to_string(w.month)
               : n == 2 ? Pad(w.month, 2)
               : n == 3 ? std::string(kMonths[w.month - 1]).substr(0, 3)
                        : kMonths[w.month - 1];
        break;
      case 'd':
        out += n == 1   ? std::to_string(w.day)
               : n == 2 ? Pad(w.day, 2)
               : n == 3 ? std::string(kDays[Weekday(w)]).substr(0, 3)
                        : kDays[Weekday(w)];
        break;
      case 'H':
        out += n == 1 ? std::to_string(w.hour) : Pad(w.hour, 2);
        break;
      case 'h': {
        const int h12 = w.hour % 12 == 0 ? 12 : w.hour % 12;
        out += n == 1 ? std::to_string(h12) : Pad(h12, 2);
        break;
      }
      case 'm':
        out += n == 1 ? std::to_string(w.minute) : Pad(w.minute, 2);
        break;
      case 's':
        out += n == 1 ? std::to_string(w.second) : Pad(w.second, 2);
        break;
      case 'f':
      case 'F': {
        if (n > 7) return std::nullopt;
        std::string frac = w.fraction;
        frac.resize(n, '0');
        if (c == 'F') {
          while (!frac.empty() && frac.back() == '0') frac.pop_back();
          if (frac.empty() && !out.empty() && out.back() == '.') out.pop_back();
        }
        out += frac;
        break;
      }
      case 't':
        out += n == 1 ? (w.hour < 12 ? "A" : "P") : (w.hour < 12 ? "AM" : "PM");
        break;
      case '\\':
        if (i + 1 < f.size()) out += f[i + 1];
        i += 2;
        continue;
      case '\'':
      case '"': {
        size_t end = f.find(c, i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        out += f.substr(i + 1, end - i - 1);
        i = end + 1;
        continue;
      }
      default:
        out.append(n, c);
    }
    i += n;
  }
  return out;
}

std::optional<std::string> FormatDate(std::string_view pattern, const When& w) {
  if (pattern.size() == 1) {
    switch (pattern[0]) {
      case 'd':
        return CustomDate("M/d/yyyy", w);
      case 'D':
        return CustomDate("dddd, MMMM d, yyyy", w);
      case 't':
        return CustomDate("h:mm tt", w);
      case 'T':
        return CustomDate("h:mm:ss tt", w);
      case 'f':
        return CustomDate("dddd, MMMM d, yyyy h:mm tt", w);
      case 'F':
        return CustomDate("dddd, MMMM d, yyyy h:mm:ss tt", w);
      case 'g':
        return CustomDate("M/d/yyyy h:mm tt", w);
      case 'G':
        return CustomDate("M/d/yyyy h:mm:ss tt", w);
      case 'M':
      case 'm':
        return CustomDate("MMMM d", w);
      case 'Y':
      case 'y':
        return CustomDate("MMMM yyyy", w);
      case 's':
        return CustomDate("yyyy-MM-dd'T'HH:mm:ss", w);
      case 'u':
        return CustomDate("yyyy-MM-dd HH:mm:ss'Z'", w);
      case 'o':
      case 'O':
        return CustomDate("yyyy-MM-dd'T'HH:mm:ss.fffffff", w);
      default:
        return std::nullopt;  // not a standard pattern
    }
  }
  return CustomDate(pattern, w);
}

}  // namespace

// tds_format(value, kind, pattern): kind 'i' integer, 'n' exact number as
// text, 'f' float, 'w' a date and time as yyyy-mm-dd hh:mi:ss.fff.
void FormatFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (AnyNull(3, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  const std::string kind = ValueText(argv[1]);
  const std::string pattern = ValueText(argv[2]);
  if (pattern.empty() || pattern.size() > 4000) {
    sqlite3_result_null(ctx);
    return;
  }
  std::optional<std::string> out;
  if (kind == "w") {
    if (auto w = ParseWhen(ValueText(argv[0]))) out = FormatDate(pattern, *w);
  } else {
    std::string text;
    if (kind == "f") {
      char buf[64];
      // 15 significant digits, as the float is printed for formatting.
      std::snprintf(buf, sizeof buf, "%.15g", sqlite3_value_double(argv[0]));
      text = buf;
      if (text.find_first_of("eE") != std::string::npos || text.find("inf") != std::string::npos ||
          text.find("nan") != std::string::npos) {
        std::snprintf(buf, sizeof buf, "%.6f", sqlite3_value_double(argv[0]));
        text = buf;
      }
    } else {
      text = ValueText(argv[0]);
    }
    auto d = ParseDigits(text);
    if (d) {
      const char first = pattern[0];
      const bool standard = pattern.size() <= 3 &&
                            std::isalpha(static_cast<unsigned char>(first)) &&
                            pattern.find_first_not_of("0123456789", 1) == std::string::npos;
      if (standard) {
        const int precision = pattern.size() > 1 ? std::stoi(pattern.substr(1)) : -1;
        out = StandardNumber(first, precision, *d, kind == "i");
      } else {
        out = CustomNumber(pattern, *d);
      }
    }
  }
  if (!out) {
    sqlite3_result_null(ctx);
    return;
  }
  ResultText(ctx, *out);
}

}  // namespace function_detail
}  // namespace tdslite::sql
