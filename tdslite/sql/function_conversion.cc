// Conversions between SQL Server types (tds_cvt) and getdate().
#include "functions_internal.h"

namespace tdslite::sql::function_detail {

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

// UTF-16LE bytes as UTF-8; a lone surrogate or odd last byte becomes '?'.
std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  auto unit = [&](size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(&out, u >= 0xD800 && u < 0xE000 ? U'?' : u);
  }
  if (i < bytes.size()) out.push_back('?');
  return out;
}

// The text of a value for conversion to a string type.
std::string AsText(const Datum& d, const ColumnType& from, int style) {
  switch (d.storage) {
    case Storage::kInteger:
      return std::to_string(d.i);
    case Storage::kMoney:
      return FormatMoney(d.i, style == 1 || style == 2 ? style : 0);
    case Storage::kReal:
      return FormatFloat(d.f, from.id == TypeId::kReal);
    case Storage::kDecimalText:
      return FormatScaled(d.dec, d.scale);
    case Storage::kDateTicks: {
      auto s = FormatDateTime(d.i, style < 0 ? 0 : style, from.id == TypeId::kSmallDateTime);
      if (!s) {
        throw Failure{StyleNotValid(style, from)};
      }
      return *s;
    }
    case Storage::kWideTime:
    case Storage::kOffsetText:
      return WideText(d, from, style);
    case Storage::kGuid:
      return GuidTextFromWire(GuidWireFromKey(d.s));
    case Storage::kText:
    case Storage::kBlob:
      return d.s;
  }
  return d.s;
}

Message ConversionNotAllowed(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(529, 2, 16,
                     "Explicit conversion from data type " + TypeName(from.id) + " to " +
                         TypeName(to.id) + " is not allowed.");
}

Message ConversionError(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(
      8114, 5, 16,
      "Error converting data type " + TypeName(from.id) + " to " + TypeName(to.id) + ".");
}

Message ConversionOutOfRange(const ColumnType& from, const ColumnType& to) {
  return MakeMessage(242, 3, 16,
                     "The conversion of a " + TypeName(from.id) + " data type to a " +
                         TypeName(to.id) + " data type resulted in an out-of-range value.");
}

Message ConversionFailed(const ColumnType& from, const std::string& text, const ColumnType& to) {
  return MakeMessage(245, 1, 16,
                     "Conversion failed when converting the " + TypeName(from.id) + " value '" +
                         text + "' to data type " + TypeName(to.id) + ".");
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
    case Storage::kWideTime:
    case Storage::kOffsetText:
    case Storage::kGuid:
      throw Failure{ConversionNotAllowed(from, to)};
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
        throw Failure{ConversionError(from, to)};
      }
      return v;
    }
    case Storage::kBlob:
    case Storage::kWideTime:
    case Storage::kOffsetText:
    case Storage::kGuid:
      throw Failure{ConversionNotAllowed(from, to)};
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
          throw Failure{
              MakeMessage(235, 0, 16,
                          "Cannot convert a char value to money. The char value has incorrect "
                          "syntax.")};
        }
        return *v;
      }
      auto v = ParseScaled(t, scale, false);
      if (!v) {
        throw Failure{ConversionError(from, to)};
      }
      return *v;
    }
    case Storage::kBlob:
      throw Failure{Overflow(to)};
    case Storage::kWideTime:
    case Storage::kOffsetText:
    case Storage::kGuid:
      throw Failure{ConversionNotAllowed(from, to)};
  }
  return 0;
}

int64_t ToDateTime(const Datum& d, const ColumnType& from, const ColumnType& to, int style) {
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
      bool out_of_range = false;
      auto v = ParseDateTime(d.s, StyleDateOrder(style < 0 ? 0 : style), &out_of_range);
      if (!v && out_of_range) {
        throw Failure{ConversionOutOfRange(from, to)};
      }
      if (!v) {
        throw Failure{
            MakeMessage(241, 1, 16,
                        "Conversion failed when converting date and/or time from character "
                        "string.")};
      }
      serial = *v;
      break;
    }
    case Storage::kBlob:
      throw Failure{ConversionFailed(from, "binary", to)};
    case Storage::kWideTime:
    case Storage::kOffsetText:
      serial = WideToDateTime(d, from, to);
      break;
    case Storage::kGuid:
      throw Failure{ConversionNotAllowed(from, to)};
  }
  if (serial < static_cast<int64_t>(kMinDateTimeDays) * kTicksPerDay ||
      serial >= (static_cast<int64_t>(kMaxDateTimeDays) + 1) * kTicksPerDay) {
    throw Failure{ConversionOutOfRange(from, to)};
  }
  if (to.id == TypeId::kSmallDateTime) {
    auto s = ToSmallDateTime(serial);
    if (!s) {
      throw Failure{ConversionOutOfRange(from, to)};
    }
    serial = *s;
  }
  return serial;
}

Message Truncated() {
  return MakeMessage(8152, 14, 16, "String or binary data would be truncated.");
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
          throw Failure{MakeMessage(220, 1, 16,
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
        throw Failure{MakeMessage(8115, 2, 16,
                                  "Arithmetic overflow error converting " + TypeName(from.id) +
                                      " to data type numeric.")};
      }
      ResultText(ctx, FormatScaled(v, to.scale));
      return;
    }
    case Storage::kDateTicks:
      sqlite3_result_int64(ctx, ToDateTime(d, from, to, style));
      return;
    case Storage::kWideTime:
    case Storage::kOffsetText:
      ConvertWide(ctx, d, from, to, style);
      return;
    case Storage::kGuid:
      ConvertGuid(ctx, d, from, to);
      return;
    case Storage::kText: {
      std::string s;
      if (d.storage == Storage::kBlob) {
        // The bytes are text in the server's code page, or UTF-16 for
        // nchar and nvarchar.
        s = IsUnicodeType(to.id) ? Utf16ToUtf8(d.s) : FromCodePage(d.s);
      } else {
        s = AsText(d, from, style);
      }
      if (!IsLobType(to.id)) {
        // nchar and nvarchar lengths count UTF-16 code units.
        const bool unicode = IsUnicodeType(to.id);
        auto length = [&](std::string_view v) { return unicode ? Utf16Length(v) : Utf8Length(v); };
        int64_t chars = length(s);
        if (chars > to.length) {
          size_t cut = unicode ? Utf16Offset(s, to.length) : Utf8Offset(s, to.length);
          bool only_blanks = IsBlank(std::string_view(s).substr(cut));
          if (d.storage == Storage::kGuid) {
            throw Failure{MakeMessage(8170, 2, 16,
                                      "Insufficient result space to convert uniqueidentifier "
                                      "value to char.")};
          }
          if (assign && !only_blanks) throw Failure{Truncated()};
          if (!assign && !only_blanks && d.storage != Storage::kText &&
              d.storage != Storage::kBlob && d.storage != Storage::kDateTicks &&
              d.storage != Storage::kWideTime && d.storage != Storage::kOffsetText) {
            // A number that does not fit the string shows as '*' (SQL Server's rule).
            s = "*";
          } else {
            s.resize(cut);
          }
          chars = length(s);
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
          b = IsUnicodeType(from.id) ? Utf16Le(d.s) : ToCodePage(d.s);
          break;
        case Storage::kBlob:
          b = d.s;
          break;
        case Storage::kGuid:
          b = GuidWireFromKey(d.s);
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
          // A number keeps its low-order bytes: it is cut, or padded to
          // binary(n), on the left.
          if (!IsLobType(to.id) && static_cast<int64_t>(b.size()) > to.length && !assign) {
            b.erase(0, b.size() - static_cast<size_t>(to.length));
          }
          if (to.id == TypeId::kBinary && static_cast<int64_t>(b.size()) < to.length) {
            b.insert(0, static_cast<size_t>(to.length) - b.size(), '\0');
          }
          break;
        }
        default:
          throw Failure{ConversionNotAllowed(from, to)};
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

void GetDateFunc(sqlite3_context* ctx, int, sqlite3_value**) {
  auto* fc = static_cast<FunctionContext*>(sqlite3_user_data(ctx));
  sqlite3_result_int64(ctx, fc->statement_time != 0 ? fc->statement_time : CurrentDateTime());
}

}  // namespace tdslite::sql::function_detail
