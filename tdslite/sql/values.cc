#include "values.h"

#include <cmath>
#include <cstdio>
#include <ctime>

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

std::string FormatMoney(int64_t units) {
  Int128 v = Rescale(units, 4, 2);
  return FormatScaled(v, 2);
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
