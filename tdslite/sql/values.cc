#include "values.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "tdslite/common/text.h"

namespace tdslite::sql {

Int128 Pow10(int n) {
  Int128 v = 1;
  for (int i = 0; i < n && i < 38; ++i) v *= 10;
  return v;
}

int DigitCount(Int128 v) {
  if (v < 0) v = -v;
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

std::optional<Int128> ParseScaled(std::string_view text, int scale, bool allow_exponent) {
  size_t i = 0;
  const size_t n = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < n && blank(text[i])) ++i;
  size_t end = n;
  while (end > i && blank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Collect all digits and the position of the point; 77 digits bound the work.
  std::string digits;
  int frac_digits = 0;
  bool point = false;
  bool any = false;
  while (i < end) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (!(digits.empty() && c == '0')) digits.push_back(c);
      if (point) ++frac_digits;
      if (digits.size() > 80) return std::nullopt;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    ++i;
  }
  if (!any) return std::nullopt;
  int exponent = 0;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    if (!allow_exponent) return std::nullopt;
    ++i;
    bool eneg = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
      eneg = text[i] == '-';
      ++i;
    }
    int e = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
      e = e * 10 + (text[i] - '0');
      if (e > 400) return std::nullopt;
      ++i;
    }
    exponent = eneg ? -e : e;
  }
  if (i != end) return std::nullopt;
  // value = digits * 10^(exponent - frac_digits); want value * 10^scale.
  int shift = exponent - frac_digits + scale;
  if (digits.empty()) return Int128(0);
  if (shift >= 0) {
    if (static_cast<int>(digits.size()) + shift > 38) return std::nullopt;
    Int128 v = 0;
    for (char c : digits) v = v * 10 + (c - '0');
    v *= Pow10(shift);
    return negative ? -v : v;
  }
  // Drop -shift digits with rounding.
  int drop = -shift;
  if (drop > static_cast<int>(digits.size())) return Int128(0);
  size_t keep = digits.size() - static_cast<size_t>(drop);
  if (keep > 38) return std::nullopt;
  Int128 v = 0;
  for (size_t k = 0; k < keep; ++k) v = v * 10 + (digits[k] - '0');
  if (digits[keep] >= '5') v += 1;
  if (DigitCount(v) > 38) return std::nullopt;
  return negative ? -v : v;
}

std::string FormatScaled(Int128 value, int scale) {
  bool negative = value < 0;
  // The magnitude of the most negative 128-bit value never occurs: values
  // are limited to 38 digits.
  Int128 mag = negative ? -value : value;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  if (scale > 0) {
    while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - scale, '.');
  }
  if (negative) digits.insert(digits.begin(), '-');
  return digits;
}

Int128 Rescale(Int128 value, int from_scale, int to_scale) {
  if (to_scale >= from_scale) return value * Pow10(to_scale - from_scale);
  Int128 div = Pow10(from_scale - to_scale);
  Int128 q = value / div;
  Int128 r = value % div;
  if (r < 0) r = -r;
  if (r * 2 >= div) q += value < 0 ? -1 : 1;
  return q;
}

bool ParseCanonical(std::string_view text, Int128* value, int* scale) {
  size_t point = text.find('.');
  int s = point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
  auto v = ParseScaled(text, s, false);
  if (!v) return false;
  *value = *v;
  *scale = s;
  return true;
}

std::string FormatFloat(double value, bool real) {
  (void)real;
  if (value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", value);
  std::string s(buf);
  // Windows-style three-digit exponent, as SQL Server prints it.
  size_t e = s.find('e');
  if (e != std::string::npos && e + 2 < s.size()) {
    std::string mant = s.substr(0, e + 2);
    std::string exp = s.substr(e + 2);
    while (exp.size() < 3) exp.insert(exp.begin(), '0');
    s = mant + exp;
  }
  return s;
}

std::string FormatMoney(int64_t units, int style) {
  if (style == 2) return FormatScaled(units, 4);
  std::string s = FormatScaled(Rescale(units, 4, 2), 2);
  if (style != 1) return s;
  const size_t digits = s[0] == '-' ? 1 : 0;
  for (size_t at = s.size() - 3; at > digits + 3; at -= 3) s.insert(at - 3, 1, ',');
  return s;
}

namespace {

// Code page 1252's 0x80..0x9F; the five it leaves undefined map to the C1
// controls of the same number, as the server's conversion does.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes one UTF-8 sequence at s[*i] (an invalid byte stands for itself).
char32_t NextCodePoint(std::string_view s, size_t* i) {
  const unsigned char c = static_cast<unsigned char>(s[*i]);
  int len = c < 0x80             ? 1
            : (c & 0xE0) == 0xC0 ? 2
            : (c & 0xF0) == 0xE0 ? 3
            : (c & 0xF8) == 0xF0 ? 4
                                 : 0;
  if (len == 0 || *i + static_cast<size_t>(len) > s.size()) {
    ++*i;
    return c;
  }
  char32_t cp = len == 1 ? c : c & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[*i + static_cast<size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++*i;
      return c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  *i += static_cast<size_t>(len);
  return cp;
}

}  // namespace

std::string ToCodePage(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextCodePoint(utf8, &i);
    char byte = '?';
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      byte = static_cast<char>(cp);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == cp) byte = static_cast<char>(0x80 + k);
      }
    }
    out.push_back(byte);
  }
  return out;
}

std::string FromCodePage(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    AppendUtf8(&out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  }
  return out;
}

int64_t Utf16Length(std::string_view s) {
  int64_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) n += (c & 0xF8) == 0xF0 ? 2 : 1;
  }
  return n;
}

size_t Utf16Offset(std::string_view s, int64_t units) {
  int64_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;
    seen += (c & 0xF8) == 0xF0 ? 2 : 1;
    if (seen > units) return i;
  }
  return s.size();
}

int64_t Utf8Length(std::string_view s) {
  int64_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

size_t Utf8Offset(std::string_view s, int64_t chars) {
  if (chars <= 0) return 0;
  int64_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (seen == chars) return i;
      ++seen;
    }
  }
  return s.size();
}

}  // namespace tdslite::sql
