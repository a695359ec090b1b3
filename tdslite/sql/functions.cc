#include "functions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "tdslite/common/text_pointer.h"
#include "types.h"
#include "values.h"

namespace tdslite::sql {

std::string EncodeError(int number, int state, int severity, std::string_view text) {
  return "\x01tds|" + std::to_string(number) + "|" + std::to_string(state) + "|" +
         std::to_string(severity) + "|" + std::string(text);
}

bool DecodeError(std::string_view m, Message* out) {
  if (m.rfind("\x01tds|", 0) != 0) return false;
  m.remove_prefix(5);
  int fields[3] = {0, 0, 0};
  for (int& f : fields) {
    size_t bar = m.find('|');
    if (bar == std::string_view::npos) return false;
    f = std::atoi(std::string(m.substr(0, bar)).c_str());
    m.remove_prefix(bar + 1);
  }
  out->number = fields[0];
  out->state = static_cast<uint8_t>(fields[1]);
  out->severity = static_cast<uint8_t>(fields[2]);
  out->text = std::string(m);
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

namespace {

// One value taken out of SQLite, in the shape its SQL Server type implies.
struct Datum {
  bool null = true;
  Storage storage = Storage::kInteger;
  int64_t i = 0;  // integers, money units, datetime serial
  double f = 0;
  Int128 dec = 0;
  int scale = 0;
  std::string s;  // text or bytes
};

struct Failure {
  Message msg;
};

Message Error(int number, int state, int severity, std::string text) {
  Message m;
  m.number = number;
  m.state = static_cast<uint8_t>(state);
  m.severity = static_cast<uint8_t>(severity);
  m.text = std::move(text);
  return m;
}

std::string ValueText(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  int n = sqlite3_value_bytes(v);
  return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p), n);
}

std::string ValueBlob(sqlite3_value* v) {
  const void* p = sqlite3_value_blob(v);
  int n = sqlite3_value_bytes(v);
  return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
}

// Reads a value of SQL Server type `t` from SQLite.
Datum Read(sqlite3_value* v, const ColumnType& t) {
  Datum d;
  d.storage = StorageOf(t.id);
  if (sqlite3_value_type(v) == SQLITE_NULL) return d;
  d.null = false;
  switch (d.storage) {
    case Storage::kInteger:
    case Storage::kMoney:
    case Storage::kDateTicks:
      if (sqlite3_value_type(v) == SQLITE_FLOAT) {
        d.i = static_cast<int64_t>(std::llround(sqlite3_value_double(v)));
      } else {
        d.i = sqlite3_value_int64(v);
      }
      break;
    case Storage::kReal:
      d.f = sqlite3_value_double(v);
      break;
    case Storage::kDecimalText: {
      if (sqlite3_value_type(v) == SQLITE_INTEGER) {
        d.dec = sqlite3_value_int64(v);
        d.scale = 0;
      } else if (!ParseCanonical(ValueText(v), &d.dec, &d.scale)) {
        d.dec = 0;
        d.scale = 0;
      }
      break;
    }
    case Storage::kText:
      d.s = ValueText(v);
      break;
    case Storage::kBlob:
      d.s = ValueBlob(v);
      break;
  }
  return d;
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void Fail(sqlite3_context* ctx, const Message& m) {
  std::string e = EncodeError(m.number, m.state, m.severity, m.text);
  sqlite3_result_error(ctx, e.data(), static_cast<int>(e.size()));
}

Message Overflow(const ColumnType& to) {
  return Error(
      8115, 2, 16,
      "Arithmetic overflow error converting expression to data type " + TypeName(to.id) + ".");
}

bool IntegerFits(int64_t v, TypeId id) {
  switch (id) {
    case TypeId::kTinyInt:
      return v >= 0 && v <= 255;
    case TypeId::kSmallInt:
      return v >= -32768 && v <= 32767;
    case TypeId::kInt:
      return v >= INT32_MIN && v <= INT32_MAX;
    default:
      return true;
  }
}

// 922,337,203,685,477.5807 is the largest money; smallmoney is +-214,748.3647.
bool MoneyFits(Int128 units, TypeId id) {
  if (id == TypeId::kSmallMoney) return units >= INT32_MIN && units <= INT32_MAX;
  return units >= std::numeric_limits<int64_t>::min() &&
         units <= std::numeric_limits<int64_t>::max();
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (c != ' ') return false;
  }
  return true;
}

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\n' || s[a] == '\r')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\n' || s[b - 1] == '\r'))
    --b;
  return std::string(s.substr(a, b - a));
}

std::string Utf16Le(std::string_view utf8) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    int len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    if (i + static_cast<size_t>(len) > utf8.size()) {
      cp = '?';
      len = 1;
    } else {
      for (int k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += static_cast<size_t>(len);
    auto put = [&](uint32_t u) {
      out.push_back(static_cast<char>(u & 0xFF));
      out.push_back(static_cast<char>((u >> 8) & 0xFF));
    };
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

// The text of a value for conversion to a string type.
std::string AsText(const Datum& d, const ColumnType& from, int style) {
  switch (d.storage) {
    case Storage::kInteger:
      return std::to_string(d.i);
    case Storage::kMoney:
      return FormatMoney(d.i);
    case Storage::kReal:
      return FormatFloat(d.f, from.id == TypeId::kReal);
    case Storage::kDecimalText:
      return FormatScaled(d.dec, d.scale);
    case Storage::kDateTicks: {
      auto s = FormatDateTime(d.i, style < 0 ? 0 : style, from.id == TypeId::kSmallDateTime);
      if (!s) {
        throw Failure{Error(281, 1, 16,
                            std::to_string(style) +
                                " is not a valid style number when converting from " +
                                TypeName(from.id) + " to a character string.")};
      }
      return *s;
    }
    case Storage::kText:
    case Storage::kBlob:
      return d.s;
  }
  return d.s;
}

Message ConversionFailed(const ColumnType& from, const std::string& text, const ColumnType& to) {
  return Error(245, 1, 16,
               "Conversion failed when converting the " + TypeName(from.id) + " value '" + text +
                   "' to data type " + TypeName(to.id) + ".");
}

int64_t ToInteger(const Datum& d, const ColumnType& from, const ColumnType& to) {
  switch (d.storage) {
    case Storage::kInteger:
      return d.i;
    case Storage::kMoney:
      return static_cast<int64_t>(Rescale(d.i, 4, 0));
    case Storage::kReal: {
      double t = std::trunc(d.f);
      if (!(t >= -9.2e18 && t <= 9.2e18)) throw Failure{Overflow(to)};
      return static_cast<int64_t>(t);
    }
    case Storage::kDecimalText: {
      Int128 v = d.dec / Pow10(d.scale);  // truncates toward zero as SQL Server does
      if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min()) {
        throw Failure{Overflow(to)};
      }
      return static_cast<int64_t>(v);
    }
    case Storage::kDateTicks: {
      DateTimeValue dt = FromSerial(d.i);
      return dt.days + (dt.ticks >= kTicksPerDay / 2 ? 1 : 0);
    }
    case Storage::kText: {
      std::string t = Trim(d.s);
      if (to.id == TypeId::kBit) {
        if (EqualsIgnoreCase(t, "true")) return 1;
        if (EqualsIgnoreCase(t, "false")) return 0;
      }
      auto v = ParseScaled(t, 0, false);
      bool integral = !t.empty() && t.find('.') == std::string::npos;
      if (!v || !integral || *v > std::numeric_limits<int64_t>::max() ||
          *v < std::numeric_limits<int64_t>::min()) {
        if (v && integral) throw Failure{Overflow(to)};
        throw Failure{ConversionFailed(from, d.s, to)};
      }
      return static_cast<int64_t>(*v);
    }
    case Storage::kBlob: {
      int64_t v = 0;
      size_t n = d.s.size() > 8 ? 8 : d.s.size();
      for (size_t k = d.s.size() - n; k < d.s.size(); ++k) {
        v = (v << 8) | static_cast<unsigned char>(d.s[k]);
      }
      if (to.id == TypeId::kInt) v = static_cast<int32_t>(v);
      if (to.id == TypeId::kSmallInt) v = static_cast<int16_t>(v);
      if (to.id == TypeId::kTinyInt) v = static_cast<uint8_t>(v);
      return v;
    }
  }
  return 0;
}

double ToDouble(const Datum& d, const ColumnType& from, const ColumnType& to) {
  switch (d.storage) {
    case Storage::kInteger:
      return static_cast<double>(d.i);
    case Storage::kMoney:
      return static_cast<double>(d.i) / 10000.0;
    case Storage::kReal:
      return d.f;
    case Storage::kDecimalText:
      return std::strtod(FormatScaled(d.dec, d.scale).c_str(), nullptr);
    case Storage::kDateTicks:
      return static_cast<double>(d.i) / static_cast<double>(kTicksPerDay);
    case Storage::kText: {
      std::string t = Trim(d.s);
      char* end = nullptr;
      double v = std::strtod(t.c_str(), &end);
      if (t.empty() || end == nullptr || *end != '\0' || std::isnan(v) || std::isinf(v) ||
          t.find_first_of("xXnN") != std::string::npos) {
        throw Failure{Error(
            8114, 5, 16,
            "Error converting data type " + TypeName(from.id) + " to " + TypeName(to.id) + ".")};
      }
      return v;
    }
    case Storage::kBlob:
      throw Failure{Error(529, 2, 16,
                          "Explicit conversion from data type " + TypeName(from.id) + " to " +
                              TypeName(to.id) + " is not allowed.")};
  }
  return 0;
}

// The unscaled value at `scale`.
Int128 ToScaled(const Datum& d, const ColumnType& from, const ColumnType& to, int scale) {
  switch (d.storage) {
    case Storage::kInteger:
      return Int128(d.i) * Pow10(scale);
    case Storage::kMoney:
      return Rescale(d.i, 4, scale);
    case Storage::kDecimalText:
      return Rescale(d.dec, d.scale, scale);
    case Storage::kReal: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", d.f);
      auto v = ParseScaled(buf, scale, true);
      if (!v) throw Failure{Overflow(to)};
      return *v;
    }
    case Storage::kDateTicks:
      return Int128(d.i) * Pow10(scale) / kTicksPerDay;
    case Storage::kText: {
      std::string t = Trim(d.s);
      if (IsMoneyType(to.id)) {
        // money accepts a currency sign and thousands separators.
        std::string clean;
        for (char c : t) {
          if (c != ',' && c != '$') clean.push_back(c);
        }
        auto v = ParseScaled(clean, scale, false);
        if (!v) {
          throw Failure{Error(235, 0, 16,
                              "Cannot convert a char value to money. The char value has incorrect "
                              "syntax.")};
        }
        return *v;
      }
      auto v = ParseScaled(t, scale, false);
      if (!v) {
        throw Failure{Error(
            8114, 5, 16,
            "Error converting data type " + TypeName(from.id) + " to " + TypeName(to.id) + ".")};
      }
      return *v;
    }
    case Storage::kBlob:
      throw Failure{Overflow(to)};
  }
  return 0;
}

int64_t ToDateTime(const Datum& d, const ColumnType& from, const ColumnType& to) {
  int64_t serial = 0;
  switch (d.storage) {
    case Storage::kDateTicks:
      serial = d.i;
      break;
    case Storage::kInteger:
      serial = d.i * kTicksPerDay;
      break;
    case Storage::kReal:
      serial = static_cast<int64_t>(std::llround(d.f * kTicksPerDay));
      break;
    case Storage::kDecimalText:
    case Storage::kMoney: {
      Int128 scaled = d.storage == Storage::kMoney ? Int128(d.i) : d.dec;
      int sc = d.storage == Storage::kMoney ? 4 : d.scale;
      serial = static_cast<int64_t>(scaled * kTicksPerDay / Pow10(sc));
      break;
    }
    case Storage::kText: {
      auto v = ParseDateTime(d.s);
      if (!v) {
        throw Failure{Error(241, 1, 16,
                            "Conversion failed when converting date and/or time from character "
                            "string.")};
      }
      serial = *v;
      break;
    }
    case Storage::kBlob:
      throw Failure{ConversionFailed(from, "binary", to)};
  }
  if (serial < static_cast<int64_t>(kMinDateTimeDays) * kTicksPerDay ||
      serial >= (static_cast<int64_t>(kMaxDateTimeDays) + 1) * kTicksPerDay) {
    throw Failure{Error(242, 3, 16,
                        "The conversion of a " + TypeName(from.id) + " data type to a " +
                            TypeName(to.id) + " data type resulted in an out-of-range value.")};
  }
  if (to.id == TypeId::kSmallDateTime) {
    auto s = ToSmallDateTime(serial);
    if (!s) {
      throw Failure{Error(242, 3, 16,
                          "The conversion of a " + TypeName(from.id) + " data type to a " +
                              TypeName(to.id) + " data type resulted in an out-of-range value.")};
    }
    serial = *s;
  }
  return serial;
}

Message Truncated() {
  return Error(8152, 14, 16, "String or binary data would be truncated.");
}

// Sets the SQLite result to `d` converted from `from` to `to`.
void Convert(sqlite3_context* ctx, const Datum& d, const ColumnType& from, const ColumnType& to,
             int style, bool assign) {
  if (d.null) {
    sqlite3_result_null(ctx);
    return;
  }
  switch (StorageOf(to.id)) {
    case Storage::kInteger: {
      int64_t v = ToInteger(d, from, to);
      if (to.id == TypeId::kBit) {
        v = v != 0 ? 1 : 0;
      } else if (!IntegerFits(v, to.id)) {
        if (to.id == TypeId::kTinyInt || to.id == TypeId::kSmallInt) {
          throw Failure{Error(220, 1, 16,
                              "Arithmetic overflow error for data type " + TypeName(to.id) +
                                  ", value = " + std::to_string(v) + ".")};
        }
        throw Failure{Overflow(to)};
      }
      sqlite3_result_int64(ctx, v);
      return;
    }
    case Storage::kReal: {
      double v = ToDouble(d, from, to);
      if (to.id == TypeId::kReal) v = static_cast<double>(static_cast<float>(v));
      sqlite3_result_double(ctx, v);
      return;
    }
    case Storage::kMoney: {
      Int128 v = ToScaled(d, from, to, 4);
      if (!MoneyFits(v, to.id)) throw Failure{Overflow(to)};
      sqlite3_result_int64(ctx, static_cast<int64_t>(v));
      return;
    }
    case Storage::kDecimalText: {
      Int128 v = ToScaled(d, from, to, to.scale);
      if (DigitCount(v) > to.precision - to.scale + to.scale ||
          (v != 0 && DigitCount(v) > to.precision)) {
        throw Failure{Error(8115, 2, 16,
                            "Arithmetic overflow error converting " + TypeName(from.id) +
                                " to data type numeric.")};
      }
      ResultText(ctx, FormatScaled(v, to.scale));
      return;
    }
    case Storage::kDateTicks:
      sqlite3_result_int64(ctx, ToDateTime(d, from, to));
      return;
    case Storage::kText: {
      std::string s;
      if (d.storage == Storage::kBlob) {
        s = d.s;
      } else {
        s = AsText(d, from, style);
      }
      if (!IsLobType(to.id)) {
        int64_t chars = Utf8Length(s);
        if (chars > to.length) {
          size_t cut = Utf8Offset(s, to.length);
          bool only_blanks = IsBlank(std::string_view(s).substr(cut));
          if (assign && !only_blanks) throw Failure{Truncated()};
          if (!assign && !only_blanks && d.storage != Storage::kText &&
              d.storage != Storage::kBlob && d.storage != Storage::kDateTicks) {
            // A number that does not fit the string shows as '*' (SQL Server's rule).
            s = "*";
          } else {
            s.resize(cut);
          }
          chars = Utf8Length(s);
        }
        if (to.id == TypeId::kChar || to.id == TypeId::kNChar) {
          s.append(static_cast<size_t>(to.length - chars), ' ');
        }
      }
      ResultText(ctx, s);
      return;
    }
    case Storage::kBlob: {
      std::string b;
      switch (d.storage) {
        case Storage::kText:
          b = IsUnicodeType(from.id) ? Utf16Le(d.s) : d.s;
          break;
        case Storage::kBlob:
          b = d.s;
          break;
        case Storage::kInteger:
        case Storage::kMoney:
        case Storage::kDateTicks: {
          int width = from.id == TypeId::kTinyInt || from.id == TypeId::kBit      ? 1
                      : from.id == TypeId::kSmallInt                              ? 2
                      : from.id == TypeId::kInt || from.id == TypeId::kSmallMoney ? 4
                                                                                  : 8;
          for (int k = width - 1; k >= 0; --k) {
            b.push_back(static_cast<char>((static_cast<uint64_t>(d.i) >> (8 * k)) & 0xFF));
          }
          break;
        }
        default:
          throw Failure{Error(529, 2, 16,
                              "Explicit conversion from data type " + TypeName(from.id) + " to " +
                                  TypeName(to.id) + " is not allowed.")};
      }
      if (!IsLobType(to.id)) {
        if (static_cast<int64_t>(b.size()) > to.length) {
          if (assign) throw Failure{Truncated()};
          b.resize(static_cast<size_t>(to.length));
        }
        if (to.id == TypeId::kBinary) b.append(static_cast<size_t>(to.length) - b.size(), '\0');
      }
      sqlite3_result_blob(ctx, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
      return;
    }
  }
}

// tds_cvt(value, from, to, style, assign)
void CvtFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 5) return;
  ColumnType from = UnpackType(sqlite3_value_int64(argv[1]));
  ColumnType to = UnpackType(sqlite3_value_int64(argv[2]));
  int style = sqlite3_value_type(argv[3]) == SQLITE_NULL ? -1 : sqlite3_value_int(argv[3]);
  bool assign = sqlite3_value_int(argv[4]) != 0;
  try {
    Convert(ctx, Read(argv[0], from), from, to, style, assign);
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

Message DivideByZero() {
  return Error(8134, 1, 16, "Divide by zero error encountered.");
}

// tds_op(op, a, b, result type): arithmetic on operands already in the
// result type's storage (decimals keep their own scale in their text).
void OpFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 4) return;
  std::string op = ValueText(argv[0]);
  ColumnType t = UnpackType(sqlite3_value_int64(argv[3]));
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const char o = op.empty() ? '+' : op[0];
  try {
    switch (StorageOf(t.id)) {
      case Storage::kInteger: {
        int64_t a = sqlite3_value_int64(argv[1]);
        int64_t b = sqlite3_value_int64(argv[2]);
        int64_t r = 0;
        bool overflow = false;
        switch (o) {
          case '+':
            overflow = __builtin_add_overflow(a, b, &r);
            break;
          case '-':
            overflow = __builtin_sub_overflow(a, b, &r);
            break;
          case '*':
            overflow = __builtin_mul_overflow(a, b, &r);
            break;
          case '/':
          case '%':
            if (b == 0) throw Failure{DivideByZero()};
            if (a == std::numeric_limits<int64_t>::min() && b == -1) {
              overflow = true;
            } else {
              r = o == '/' ? a / b : a % b;
            }
            break;
          case '&':
            r = a & b;
            break;
          case '|':
            r = a | b;
            break;
          case '^':
            r = a ^ b;
            break;
          default:
            break;
        }
        if (overflow || !IntegerFits(r, t.id)) throw Failure{Overflow(t)};
        sqlite3_result_int64(ctx, r);
        return;
      }
      case Storage::kReal: {
        double a = sqlite3_value_double(argv[1]);
        double b = sqlite3_value_double(argv[2]);
        double r = 0;
        switch (o) {
          case '+':
            r = a + b;
            break;
          case '-':
            r = a - b;
            break;
          case '*':
            r = a * b;
            break;
          case '/':
            if (b == 0) throw Failure{DivideByZero()};
            r = a / b;
            break;
          default:
            r = std::fmod(a, b);
            break;
        }
        if (std::isinf(r) || std::isnan(r)) {
          throw Failure{Error(
              8115, 2, 16, "Arithmetic overflow error converting expression to data type float.")};
        }
        sqlite3_result_double(ctx, t.id == TypeId::kReal ? static_cast<float>(r) : r);
        return;
      }
      case Storage::kMoney: {
        Int128 a = sqlite3_value_int64(argv[1]);
        Int128 b = sqlite3_value_int64(argv[2]);
        Int128 r = 0;
        switch (o) {
          case '+':
            r = a + b;
            break;
          case '-':
            r = a - b;
            break;
          case '*':
            r = Rescale(a * b, 8, 4);
            break;
          case '/':
            if (b == 0) throw Failure{DivideByZero()};
            r = Rescale(a * 100000000 / b, 4, 4);
            r = a * 10000 / b;
            break;
          default:
            if (b == 0) throw Failure{DivideByZero()};
            r = a % b;
            break;
        }
        if (!MoneyFits(r, t.id)) throw Failure{Overflow(t)};
        sqlite3_result_int64(ctx, static_cast<int64_t>(r));
        return;
      }
      case Storage::kDecimalText: {
        Int128 a = 0, b = 0;
        int sa = 0, sb = 0;
        if (!ParseCanonical(ValueText(argv[1]), &a, &sa) ||
            !ParseCanonical(ValueText(argv[2]), &b, &sb)) {
          throw Failure{Overflow(t)};
        }
        const int s = t.scale;
        Int128 r = 0;
        auto fits = [](Int128 v, int extra) { return DigitCount(v) + extra <= 38; };
        switch (o) {
          case '+':
          case '-': {
            int m = sa > sb ? sa : sb;
            if (!fits(a, m - sa) || !fits(b, m - sb)) throw Failure{Overflow(t)};
            Int128 x = a * Pow10(m - sa), y = b * Pow10(m - sb);
            r = Rescale(o == '+' ? x + y : x - y, m, s);
            break;
          }
          case '*': {
            Int128 product = 0;
            if (__builtin_mul_overflow(a, b, &product)) throw Failure{Overflow(t)};
            r = Rescale(product, sa + sb, s);
            break;
          }
          case '/': {
            if (b == 0) throw Failure{DivideByZero()};
            // a/b at scale s: a * 10^(s + sb - sa) / b, rounded; one extra digit for rounding.
            int k = s + sb - sa + 1;
            Int128 num = a;
            if (k >= 0) {
              if (!fits(a, k)) throw Failure{Overflow(t)};
              num = a * Pow10(k);
            } else {
              num = a / Pow10(-k);
            }
            Int128 q = num / b;
            r = Rescale(q, 1, 0);
            break;
          }
          default: {
            if (b == 0) throw Failure{DivideByZero()};
            int m = sa > sb ? sa : sb;
            Int128 x = a * Pow10(m - sa), y = b * Pow10(m - sb);
            r = Rescale(x % y, m, s);
            break;
          }
        }
        if (DigitCount(r) > t.precision || DigitCount(r) > 38) throw Failure{Overflow(t)};
        ResultText(ctx, FormatScaled(r, s));
        return;
      }
      default:
        sqlite3_result_null(ctx);
        return;
    }
  } catch (const Failure& f) {
    Fail(ctx, f.msg);
  }
}

// tds_neg(x, type)
void NegFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(-v, s));
      return;
    }
    case Storage::kReal:
      sqlite3_result_double(ctx, -sqlite3_value_double(argv[0]));
      return;
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      if (v == std::numeric_limits<int64_t>::min() || !IntegerFits(-v, t.id)) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, -v);
    }
  }
}

// Compares ignoring ASCII case and trailing blanks, as SQL Server's default
// case-insensitive collation does.
// Lower-cases a code point the way a case-insensitive collation folds it:
// ASCII, Latin-1, Greek and Cyrillic capitals.
uint32_t LowerCodePoint(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

uint32_t UpperCodePoint(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c < 0xE0) return c;
  if (c <= 0xFE && c != 0xF7) return c - 32;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

uint32_t NextCodePoint(std::string_view s, size_t* i);

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Compares ignoring case and trailing blanks, as SQL Server's default
// case-insensitive collation does.
int CompareCi(void*, int na, const void* pa, int nb, const void* pb) {
  std::string_view a(static_cast<const char*>(pa), static_cast<size_t>(na));
  std::string_view b(static_cast<const char*>(pb), static_cast<size_t>(nb));
  while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
  while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  size_t i = 0, k = 0;
  while (i < a.size() && k < b.size()) {
    uint32_t x = LowerCodePoint(NextCodePoint(a, &i));
    uint32_t y = LowerCodePoint(NextCodePoint(b, &k));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (k < b.size()) return -1;
  return 0;
}

// upper() and lower() with the collation's notion of case.
void CaseFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const bool upper = sqlite3_user_data(ctx) != nullptr;
  std::string s = ValueText(argv[0]);
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp = NextCodePoint(s, &i);
    AppendUtf8(&out, upper ? UpperCodePoint(cp) : LowerCodePoint(cp));
  }
  ResultText(ctx, out);
}

int CompareDecimal(void*, int na, const void* pa, int nb, const void* pb) {
  Int128 a = 0, b = 0;
  int sa = 0, sb = 0;
  ParseCanonical(std::string_view(static_cast<const char*>(pa), static_cast<size_t>(na)), &a, &sa);
  ParseCanonical(std::string_view(static_cast<const char*>(pb), static_cast<size_t>(nb)), &b, &sb);
  int m = sa > sb ? sa : sb;
  // Values with 38 digits and a smaller scale cannot be scaled up: compare
  // the integral parts first.
  Int128 ia = a / Pow10(sa), ib = b / Pow10(sb);
  if (ia != ib) return ia < ib ? -1 : 1;
  Int128 fa = (a % Pow10(sa)) * Pow10(m - sa), fb = (b % Pow10(sb)) * Pow10(m - sb);
  if (fa != fb) return fa < fb ? -1 : 1;
  return 0;
}

// Decodes one UTF-8 code point; advances *i.
uint32_t NextCodePoint(std::string_view s, size_t* i) {
  unsigned char c = static_cast<unsigned char>(s[*i]);
  int len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
  uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  if (*i + static_cast<size_t>(len) > s.size()) {
    ++*i;
    return c;
  }
  for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[*i + k]) & 0x3F);
  *i += static_cast<size_t>(len);
  return cp;
}

uint32_t Fold(uint32_t c) {
  return LowerCodePoint(c);
}

// For byte-wise searches in UTF-8: only ASCII letters fold.
uint32_t FoldAscii(uint32_t c) {
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// SQL Server LIKE: % _ [set] [^set] [a-z], case-insensitive, optional escape.
bool LikeMatch(const std::vector<uint32_t>& p, size_t pi, const std::vector<uint32_t>& s, size_t si,
               int64_t escape, int* budget) {
  while (pi < p.size()) {
    if (--*budget < 0) return false;
    uint32_t c = p[pi];
    if (escape >= 0 && c == static_cast<uint32_t>(escape) && pi + 1 < p.size()) {
      if (si >= s.size() || Fold(s[si]) != Fold(p[pi + 1])) return false;
      pi += 2;
      ++si;
      continue;
    }
    if (c == '%') {
      while (pi < p.size() && p[pi] == '%') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = si; k <= s.size(); ++k) {
        if (LikeMatch(p, pi, s, k, escape, budget)) return true;
        if (*budget < 0) return false;
      }
      return false;
    }
    if (si >= s.size()) return false;
    if (c == '_') {
      ++pi;
      ++si;
      continue;
    }
    if (c == '[') {
      size_t close = pi + 1;
      while (close < p.size() && p[close] != ']') ++close;
      if (close < p.size()) {
        size_t k = pi + 1;
        bool negate = k < close && p[k] == '^';
        if (negate) ++k;
        bool found = false;
        uint32_t ch = Fold(s[si]);
        while (k < close) {
          if (k + 2 < close && p[k + 1] == '-') {
            if (ch >= Fold(p[k]) && ch <= Fold(p[k + 2])) found = true;
            k += 3;
          } else {
            if (ch == Fold(p[k])) found = true;
            ++k;
          }
        }
        if (found == negate) return false;
        pi = close + 1;
        ++si;
        continue;
      }
    }
    if (Fold(c) != Fold(s[si])) return false;
    ++pi;
    ++si;
  }
  return si == s.size();
}

std::vector<uint32_t> CodePoints(std::string_view s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  while (i < s.size()) out.push_back(NextCodePoint(s, &i));
  return out;
}

void LikeFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
  }
  std::vector<uint32_t> s = CodePoints(ValueText(argv[0]));
  std::vector<uint32_t> p = CodePoints(ValueText(argv[1]));
  int64_t escape = -1;
  if (argc == 3) {
    std::vector<uint32_t> e = CodePoints(ValueText(argv[2]));
    if (e.size() != 1) {
      Fail(ctx, Error(506, 1, 16,
                      "The invalid escape character \"" + ValueText(argv[2]) +
                          "\" was specified in a LIKE predicate."));
      return;
    }
    escape = e[0];
  }
  // Pathological patterns ('%a%a%a...') are bounded rather than left to run.
  int budget = 10000000;
  sqlite3_result_int(ctx, LikeMatch(p, 0, s, 0, escape, &budget) ? 1 : 0);
}

void GetDateFunc(sqlite3_context* ctx, int, sqlite3_value**) {
  auto* fc = static_cast<FunctionContext*>(sqlite3_user_data(ctx));
  sqlite3_result_int64(ctx, fc->statement_time != 0 ? fc->statement_time : CurrentDateTime());
}

// tds_datalength(x, type)
void DataLengthFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  int64_t n = 0;
  switch (t.id) {
    case TypeId::kTinyInt:
    case TypeId::kBit:
      n = 1;
      break;
    case TypeId::kSmallInt:
      n = 2;
      break;
    case TypeId::kInt:
    case TypeId::kReal:
    case TypeId::kSmallMoney:
    case TypeId::kSmallDateTime:
      n = 4;
      break;
    case TypeId::kBigInt:
    case TypeId::kFloat:
    case TypeId::kMoney:
    case TypeId::kDateTime:
      n = 8;
      break;
    case TypeId::kDecimal:
    case TypeId::kNumeric:
      n = t.precision <= 9 ? 5 : t.precision <= 19 ? 9 : t.precision <= 28 ? 13 : 17;
      break;
    case TypeId::kNChar:
    case TypeId::kNVarChar:
    case TypeId::kNText:
      n = static_cast<int64_t>(Utf16Le(ValueText(argv[0])).size());
      break;
    case TypeId::kChar:
    case TypeId::kVarChar:
    case TypeId::kText:
      n = Utf8Length(ValueText(argv[0]));
      break;
    default:
      n = sqlite3_value_bytes(argv[0]);
      break;
  }
  sqlite3_result_int64(ctx, n);
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
  }
  return false;
}

// Substrings work on characters for text, on bytes for binary values.
void SubstringFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t length = sqlite3_value_int64(argv[2]);
  if (length < 0) {
    Fail(ctx, Error(537, 3, 16, "Invalid length parameter passed to the substring function."));
    return;
  }
  // Characters before position 1 count against the length.
  int64_t first = start < 1 ? 1 : start;
  int64_t last = start + length;  // exclusive
  if (start < 1 && length > 0 && start + length < 1) last = 1;
  int64_t count = last > first ? last - first : 0;
  if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
    std::string b = ValueBlob(argv[0]);
    int64_t n = static_cast<int64_t>(b.size());
    int64_t a = first - 1 > n ? n : first - 1;
    int64_t c = a + count > n ? n - a : count;
    sqlite3_result_blob(ctx, b.data() + a, static_cast<int>(c), SQLITE_TRANSIENT);
    return;
  }
  std::string s = ValueText(argv[0]);
  size_t a = Utf8Offset(s, first - 1);
  size_t b = Utf8Offset(s, first - 1 + count);
  if (b < a) b = a;
  sqlite3_result_text(ctx, s.data() + a, static_cast<int>(b - a), SQLITE_TRANSIENT);
}

void LeftRightFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  const bool right = sqlite3_user_data(ctx) != nullptr;
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    Fail(ctx, Error(536, 1, 16,
                    std::string("Invalid length parameter passed to the ") +
                        (right ? "right" : "left") + " function."));
    return;
  }
  std::string s = ValueText(argv[0]);
  int64_t len = Utf8Length(s);
  if (n > len) n = len;
  size_t a = right ? Utf8Offset(s, len - n) : 0;
  size_t b = right ? s.size() : Utf8Offset(s, n);
  sqlite3_result_text(ctx, s.data() + a, static_cast<int>(b - a), SQLITE_TRANSIENT);
}

// Finds `needle` in `hay` ignoring ASCII case, from byte `from`.
size_t FindCi(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    bool match = true;
    for (size_t k = 0; k < needle.size(); ++k) {
      if (FoldAscii(static_cast<unsigned char>(hay[i + k])) !=
          FoldAscii(static_cast<unsigned char>(needle[k]))) {
        match = false;
        break;
      }
    }
    if (match) return i;
  }
  return std::string_view::npos;
}

void ReplaceFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  std::string from = ValueText(argv[1]);
  std::string to = ValueText(argv[2]);
  if (from.empty()) {
    ResultText(ctx, s);
    return;
  }
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t at = FindCi(s, from, pos);
    if (at == std::string::npos) break;
    out.append(s, pos, at - pos);
    out += to;
    pos = at + from.size();
  }
  out.append(s, pos, std::string::npos);
  ResultText(ctx, out);
}

void CharIndexFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string needle = ValueText(argv[0]);
  std::string hay = ValueText(argv[1]);
  int64_t start = argc == 3 ? sqlite3_value_int64(argv[2]) : 1;
  if (start < 1) start = 1;
  size_t from = Utf8Offset(hay, start - 1);
  size_t at = FindCi(hay, needle, from);
  sqlite3_result_int64(
      ctx, at == std::string::npos ? 0 : Utf8Length(std::string_view(hay).substr(0, at)) + 1);
}

// tds_round(x, digits, truncate, type), tds_floor(x, type), tds_ceiling(x, type)
void RoundFunc(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t digits = sqlite3_value_int64(argv[1]);
  bool truncate = sqlite3_value_type(argv[2]) != SQLITE_NULL && sqlite3_value_int64(argv[2]) != 0;
  ColumnType t = UnpackType(sqlite3_value_int64(argv[argc - 1]));
  if (digits > 38) digits = 38;
  if (digits < -38) digits = -38;
  auto round_scaled = [&](Int128 v, int scale) -> Int128 {
    // Keep `digits` places after the point.
    int drop = scale - static_cast<int>(digits);
    if (drop <= 0) return v;
    if (drop > 38) return 0;
    Int128 p = Pow10(drop);
    Int128 q = v / p;
    Int128 r = v % p;
    if (!truncate) {
      if (r < 0) r = -r;
      if (r * 2 >= p) q += v < 0 ? -1 : 1;
    }
    return q * p;
  };
  switch (StorageOf(t.id)) {
    case Storage::kInteger: {
      Int128 v = round_scaled(sqlite3_value_int64(argv[0]), 0);
      if (!IntegerFits(static_cast<int64_t>(v), t.id)) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, static_cast<int64_t>(v));
      return;
    }
    case Storage::kMoney:
      sqlite3_result_int64(ctx,
                           static_cast<int64_t>(round_scaled(sqlite3_value_int64(argv[0]), 4)));
      return;
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      Int128 r = round_scaled(v, s);
      if (DigitCount(r) > 38) {
        Fail(ctx, Overflow(t));
        return;
      }
      ResultText(ctx, FormatScaled(Rescale(r, s, t.scale), t.scale));
      return;
    }
    default: {
      double v = sqlite3_value_double(argv[0]);
      double p = std::pow(10.0, static_cast<double>(digits));
      double r = truncate ? std::trunc(v * p) / p : std::round(v * p) / p;
      sqlite3_result_double(ctx, r);
    }
  }
}

void FloorCeilFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const bool ceiling = sqlite3_user_data(ctx) != nullptr;
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  auto adjust = [&](Int128 v, int scale) -> Int128 {
    Int128 p = Pow10(scale);
    Int128 q = v / p;
    Int128 r = v % p;
    if (r != 0 && ceiling && v > 0) q += 1;
    if (r != 0 && !ceiling && v < 0) q -= 1;
    return q;
  };
  switch (StorageOf(t.id)) {
    case Storage::kInteger:
      sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
      return;
    case Storage::kMoney:
      sqlite3_result_int64(ctx,
                           static_cast<int64_t>(adjust(sqlite3_value_int64(argv[0]), 4) * 10000));
      return;
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(adjust(v, s), 0));
      return;
    }
    default: {
      double v = sqlite3_value_double(argv[0]);
      sqlite3_result_double(ctx, ceiling ? std::ceil(v) : std::floor(v));
    }
  }
}

// tds_abs(x, type)
void AbsFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      ResultText(ctx, FormatScaled(v < 0 ? -v : v, s));
      return;
    }
    case Storage::kReal:
      sqlite3_result_double(ctx, std::fabs(sqlite3_value_double(argv[0])));
      return;
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      if (v < 0 && (v == std::numeric_limits<int64_t>::min() || !IntegerFits(-v, t.id))) {
        Fail(ctx, Overflow(t));
        return;
      }
      sqlite3_result_int64(ctx, v < 0 ? -v : v);
    }
  }
}

// tds_datepart('y'|'m'|'d', serial)
void DatePartFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string part = ValueText(argv[0]);
  DateTimeValue dt = FromSerial(sqlite3_value_int64(argv[1]));
  int y, m, d;
  CivilFromDays(dt.days, &y, &m, &d);
  sqlite3_result_int(ctx, part == "y" ? y : part == "m" ? m : d);
}

// Exact sum and average of decimal text values.
// SQLite hands out aggregate memory aligned for 8 bytes only, so the 128-bit
// sum is kept as bytes and copied in and out.
struct DecimalAccumulator {
  unsigned char sum[sizeof(Int128)];
  int scale;
  int64_t count;
  bool overflow;
};

Int128 LoadSum(const DecimalAccumulator& acc) {
  Int128 v;
  std::memcpy(&v, acc.sum, sizeof v);
  return v;
}

void StoreSum(DecimalAccumulator* acc, Int128 v) {
  std::memcpy(acc->sum, &v, sizeof v);
}

void DecimalStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  // Zero-filled on first use, which is a sum of 0 at scale 0.
  auto* acc =
      static_cast<DecimalAccumulator*>(sqlite3_aggregate_context(ctx, sizeof(DecimalAccumulator)));
  if (acc == nullptr || sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
  Int128 v;
  int s;
  if (!ParseCanonical(ValueText(argv[0]), &v, &s)) return;
  Int128 sum = LoadSum(*acc);
  if (s > acc->scale) {
    sum = Rescale(sum, acc->scale, s);
    acc->scale = s;
  } else if (s < acc->scale) {
    v = Rescale(v, s, acc->scale);
  }
  if (__builtin_add_overflow(sum, v, &sum) || DigitCount(sum) > 38) acc->overflow = true;
  StoreSum(acc, sum);
  ++acc->count;
}

void DecimalFinal(sqlite3_context* ctx) {
  auto* acc = static_cast<DecimalAccumulator*>(sqlite3_aggregate_context(ctx, 0));
  const bool average = sqlite3_user_data(ctx) != nullptr;
  if (acc == nullptr || acc->count == 0) {
    sqlite3_result_null(ctx);
    return;
  }
  if (acc->overflow) {
    Fail(ctx, Error(8115, 2, 16,
                    "Arithmetic overflow error converting expression to data type numeric."));
    return;
  }
  const Int128 sum = LoadSum(*acc);
  if (!average) {
    ResultText(ctx, FormatScaled(sum, acc->scale));
    return;
  }
  // SQL Server's avg of decimal(p,s) has scale max(s, 6).
  int scale = acc->scale < 6 ? 6 : acc->scale;
  Int128 num = Rescale(sum, acc->scale, scale);
  Int128 q = num / acc->count;
  ResultText(ctx, FormatScaled(q, scale));
}

void SpaceFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t n = sqlite3_value_int64(argv[0]);
  if (n < 0) {
    sqlite3_result_null(ctx);
    return;
  }
  if (n > 8000) n = 8000;
  ResultText(ctx, std::string(static_cast<size_t>(n), ' '));
}

void ReverseFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  std::vector<std::string> chars;
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    NextCodePoint(s, &i);
    chars.emplace_back(s.substr(start, i - start));
  }
  std::string out;
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) out += *it;
  ResultText(ctx, out);
}

// tds_sign(x, type)
void SignFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  ColumnType t = UnpackType(sqlite3_value_int64(argv[1]));
  int sign = 0;
  switch (StorageOf(t.id)) {
    case Storage::kDecimalText: {
      Int128 v;
      int s;
      if (!ParseCanonical(ValueText(argv[0]), &v, &s)) v = 0, s = 0;
      sign = v > 0 ? 1 : v < 0 ? -1 : 0;
      ResultText(ctx, FormatScaled(Int128(sign) * Pow10(t.scale), t.scale));
      return;
    }
    case Storage::kReal: {
      double v = sqlite3_value_double(argv[0]);
      sqlite3_result_double(ctx, v > 0 ? 1.0 : v < 0 ? -1.0 : 0.0);
      return;
    }
    case Storage::kMoney: {
      int64_t v = sqlite3_value_int64(argv[0]);
      sqlite3_result_int64(ctx, v > 0 ? 10000 : v < 0 ? -10000 : 0);
      return;
    }
    default: {
      int64_t v = sqlite3_value_int64(argv[0]);
      sqlite3_result_int64(ctx, v > 0 ? 1 : v < 0 ? -1 : 0);
    }
  }
}

void AsciiFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string s = ValueText(argv[0]);
  if (s.empty()) {
    sqlite3_result_null(ctx);
    return;
  }
  size_t i = 0;
  sqlite3_result_int64(ctx, NextCodePoint(s, &i));
}

void CharFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int64_t c = sqlite3_value_int64(argv[0]);
  const bool unicode = sqlite3_user_data(ctx) != nullptr;
  if (c < 0 || c > (unicode ? 0xFFFF : 255)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string out;
  uint32_t cp = static_cast<uint32_t>(c);
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
  ResultText(ctx, out);
}

// tds_textptr(rowid, table, column, length): the text pointer of a value,
// NULL for a NULL value (length NULL).
void TextPtrFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[3]) == SQLITE_NULL || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  auto text = [&](int i) {
    const unsigned char* p = sqlite3_value_text(argv[i]);
    return std::string(p != nullptr ? reinterpret_cast<const char*>(p) : "",
                       static_cast<size_t>(sqlite3_value_bytes(argv[i])));
  };
  std::string pointer = MakeTextPointer(sqlite3_value_int64(argv[0]), text(1), text(2));
  sqlite3_result_blob(ctx, pointer.data(), static_cast<int>(pointer.size()), SQLITE_TRANSIENT);
}

}  // namespace

bool RegisterFunctions(sqlite3* db, FunctionContext* context) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = SQLITE_OK;
  auto add = [&](const char* name, int args, void (*fn)(sqlite3_context*, int, sqlite3_value**),
                 void* data = nullptr, int f = SQLITE_UTF8 | SQLITE_DETERMINISTIC) {
    if (rc == SQLITE_OK)
      rc = sqlite3_create_function(db, name, args, f, data, fn, nullptr, nullptr);
  };
  static int marker = 1;
  add("tds_cvt", 5, CvtFunc);
  add("tds_op", 4, OpFunc);
  add("tds_neg", 2, NegFunc);
  add("tds_like", 2, LikeFunc);
  add("tds_like", 3, LikeFunc);
  add("tds_getdate", 0, GetDateFunc, context, SQLITE_UTF8);
  add("tds_datalength", 2, DataLengthFunc);
  add("tds_textptr", 4, TextPtrFunc);
  add("tds_substring", 3, SubstringFunc);
  add("tds_left", 2, LeftRightFunc);
  add("tds_right", 2, LeftRightFunc, &marker);
  add("tds_replace", 3, ReplaceFunc);
  add("tds_charindex", 2, CharIndexFunc);
  add("tds_charindex", 3, CharIndexFunc);
  add("tds_round", 4, RoundFunc);
  add("tds_floor", 2, FloorCeilFunc);
  add("tds_ceiling", 2, FloorCeilFunc, &marker);
  add("tds_abs", 2, AbsFunc);
  add("tds_sign", 2, SignFunc);
  add("tds_datepart", 2, DatePartFunc);
  add("tds_space", 1, SpaceFunc);
  add("tds_reverse", 1, ReverseFunc);
  add("tds_ascii", 1, AsciiFunc);
  add("tds_lower", 1, CaseFunc);
  add("tds_upper", 1, CaseFunc, &marker);
  add("tds_char", 1, CharFunc);
  add("tds_nchar", 1, CharFunc, &marker);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "tds_dsum", 1, flags, nullptr, nullptr, DecimalStep,
                                 DecimalFinal);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "tds_davg", 1, flags, &marker, nullptr, DecimalStep,
                                 DecimalFinal);
  }
  if (rc == SQLITE_OK) rc = sqlite3_create_collation(db, "TDSCI", SQLITE_UTF8, nullptr, CompareCi);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_collation(db, "TDSDEC", SQLITE_UTF8, nullptr, CompareDecimal);
  }
  return rc == SQLITE_OK;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace tdslite::sql
