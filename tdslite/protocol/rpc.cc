// RPC requests: sp_executesql is run by putting each parameter's value, as a
// T-SQL literal, where the statement names it; every other procedure is
// refused.
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "tdslite/common/text.h"
#include "tdslite/protocol/codec.h"
#include "tdslite/sql/lexer.h"

namespace tdslite::protocol {

namespace {

constexpr uint16_t kProcIdExecuteSql = 10;
constexpr uint16_t kPlpMarker = 0xFFFF;
constexpr uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;

// Civil date for a count of days since 0001-01-01.
void CivilFromDays(int64_t days_since_0001, int* y, unsigned* m, unsigned* d) {
  // Shift to days since 1970-01-01 (719162 days after 0001-01-01).
  int64_t z = days_since_0001 - 719162 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

// Days from 0001-01-01 to 1900-01-01.
constexpr int64_t kDays0001To1900 = 693595;

// A date and time parameter as a typed literal: cast('...' as `type`),
// with `units` the 100 ns units of the day. The text carries every digit
// the type keeps.
std::string DateTimeLiteral(int64_t days_since_0001, uint64_t units, const char* type,
                            bool with_date = true, bool with_time = true, int offset = 0,
                            bool with_offset = false) {
  int y;
  unsigned m, d;
  CivilFromDays(days_since_0001, &y, &m, &d);
  char date[32] = "", clock[48] = "", zone[16] = "";
  if (with_date) std::snprintf(date, sizeof date, "%04d-%02u-%02u", y, m, d);
  if (with_time) {
    const uint64_t secs = units / 10000000;
    std::snprintf(clock, sizeof clock, "%s%02u:%02u:%02u.%07u", with_date ? " " : "",
                  static_cast<unsigned>(secs / 3600 % 24), static_cast<unsigned>(secs / 60 % 60),
                  static_cast<unsigned>(secs % 60), static_cast<unsigned>(units % 10000000));
  }
  if (with_offset) {
    const int magnitude = offset < 0 ? -offset : offset;
    std::snprintf(zone, sizeof zone, " %c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 60 % 100,
                  magnitude % 60);
  }
  return std::string("cast('") + date + clock + zone + "' as " + type + ")";
}

std::string QuoteString(std::string_view utf8, bool national) {
  std::string out = national ? "N'" : "'";
  for (char c : utf8) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  out.push_back('\'');
  return out;
}

std::string DecimalLiteral(unsigned __int128 magnitude, bool negative, uint8_t scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale > 0) {
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    digits.insert(digits.size() - scale, ".");
  }
  return negative ? "-" + digits : digits;
}

uint64_t LittleEndian(std::string_view bytes) {
  uint64_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
  return v;
}

int64_t SignExtend(uint64_t v, size_t bytes) {
  if (bytes >= 8) return static_cast<int64_t>(v);
  uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  return static_cast<int64_t>((v ^ sign) - sign);
}

// Reads a PLP value: total length, then chunks up to a zero terminator.
bool ReadPlp(ByteReader& r, std::string* out, bool* is_null) {
  uint32_t lo = r.U32();
  uint32_t hi = r.U32();
  uint64_t total = (uint64_t{hi} << 32) | lo;
  *is_null = total == kPlpNull;
  out->clear();
  if (*is_null) return r.ok();
  for (;;) {
    uint32_t chunk = r.U32();
    if (!r.ok()) return false;
    if (chunk == 0) return true;
    std::string_view data = r.Bytes(chunk);
    if (!r.ok()) return false;
    out->append(data);
  }
}

// The literal for one value of a fixed-size or length-prefixed numeric,
// date or money type whose data bytes are `data`. A float that is not a
// number or infinite has no literal: *error says so.
bool FixedLiteral(uint8_t type, std::string_view data, std::string* literal, std::string* error) {
  uint64_t raw = LittleEndian(data);
  switch (type) {
    case kInt1:  // tinyint (unsigned)
      *literal = std::to_string(raw);
      return true;
    case kBit:  // bit
      *literal = raw ? "cast(1 as bit)" : "cast(0 as bit)";
      return true;
    case kInt2:
    case kInt4:
    case kInt8:  // smallint, int, bigint
      *literal = std::to_string(SignExtend(raw, data.size()));
      if (data.size() == 8) *literal = "cast(" + *literal + " as bigint)";
      return true;
    case kFlt4: {  // real
      float f;
      uint32_t bits = static_cast<uint32_t>(raw);
      static_assert(sizeof f == sizeof bits);
      __builtin_memcpy(&f, &bits, sizeof f);
      if (!std::isfinite(f)) {
        *error = "a real parameter that is not a finite number (NaN or infinity) is refused";
        return false;
      }
      char b[64];
      std::snprintf(b, sizeof b, "%.9gE0", static_cast<double>(f));
      *literal = b;
      return true;
    }
    case kFlt8: {  // float
      double f;
      __builtin_memcpy(&f, &raw, sizeof f);
      if (!std::isfinite(f)) {
        *error = "a float parameter that is not a finite number (NaN or infinity) is refused";
        return false;
      }
      char b[64];
      std::snprintf(b, sizeof b, "%.17gE0", f);
      *literal = b;
      return true;
    }
    case kMoney4:   // smallmoney
    case kMoney: {  // money: high half first
      int64_t v = data.size() == 4 ? SignExtend(raw, 4)
                                   : static_cast<int64_t>((LittleEndian(data.substr(0, 4)) << 32) |
                                                          LittleEndian(data.substr(4, 4)));
      bool negative = v < 0;
      unsigned __int128 magnitude =
          negative ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<uint64_t>(v);
      *literal = DecimalLiteral(magnitude, negative, 4);
      return true;
    }
    case kDateTime4:  // smalldatetime
      *literal = DateTimeLiteral(kDays0001To1900 + (raw & 0xFFFF), (raw >> 16) * 600000000ull,
                                 "smalldatetime");
      return true;
    case kDateTime: {  // datetime: days, then 1/300 s ticks
      int64_t days = SignExtend(raw & 0xFFFFFFFFu, 4);
      uint64_t ticks = raw >> 32;
      uint64_t ms = (ticks * 10 + 1) / 3;
      *literal = DateTimeLiteral(kDays0001To1900 + days, ms * 10000ull, "datetime");
      return true;
    }
    default:
      return false;
  }
}

// Maps an N type with its length to the fixed type of that size.
uint8_t FixedTypeFor(uint8_t ntype, size_t length) {
  // Any other length is malformed: the fixed type's decoder reads exactly
  // its own size.
  switch (ntype) {
    case kIntN:
      return length == 1   ? kInt1
             : length == 2 ? kInt2
             : length == 4 ? kInt4
             : length == 8 ? kInt8
                           : 0;
    case kBitN:
      return length == 1 ? kBit : 0;
    case kFltN:
      return length == 4 ? kFlt4 : length == 8 ? kFlt8 : 0;
    case kMoneyN:
      return length == 4 ? kMoney4 : length == 8 ? kMoney : 0;
    case kDateTimeN:
      return length == 4 ? kDateTime4 : length == 8 ? kDateTime : 0;
    default:
      return 0;
  }
}

bool IsFixedLength(uint8_t type, size_t* size) {
  switch (type) {
    case kInt1:
    case kBit:
      *size = 1;
      return true;
    case kInt2:
      *size = 2;
      return true;
    case kInt4:
    case kFlt4:
    case kMoney4:
    case kDateTime4:
      *size = 4;
      return true;
    case kInt8:
    case kFlt8:
    case kMoney:
    case kDateTime:
      *size = 8;
      return true;
    default:
      return false;
  }
}

// Reads one parameter's TYPE_INFO and value and renders the literal.
// Answers false with *error set for a type tdslite does not take.
bool ReadParameter(ByteReader& r, TdsVersion version, std::string* literal, std::string* error) {
  uint8_t type = r.U8();
  if (!r.ok()) return false;
  size_t fixed = 0;
  if (IsFixedLength(type, &fixed)) {
    std::string_view data = r.Bytes(fixed);
    return r.ok() && FixedLiteral(type, data, literal, error);
  }
  switch (type) {
    case kIntN:
    case kBitN:
    case kFltN:
    case kMoneyN:
    case kDateTimeN: {
      r.U8();  // max length
      uint8_t length = r.U8();
      if (length == 0) {
        *literal = "NULL";
        return r.ok();
      }
      std::string_view data = r.Bytes(length);
      uint8_t fixed_type = FixedTypeFor(type, length);
      return r.ok() && fixed_type && FixedLiteral(fixed_type, data, literal, error);
    }
    case kDecimalN:
    case kNumericN: {
      r.U8();  // max length
      r.U8();  // precision
      uint8_t scale = r.U8();
      uint8_t length = r.U8();
      if (length == 0) {
        *literal = "NULL";
        return r.ok();
      }
      if (length < 2 || length > 17 || scale > 38) return false;
      uint8_t sign = r.U8();
      std::string_view magnitude = r.Bytes(length - 1u);
      if (!r.ok()) return false;
      unsigned __int128 v = 0;
      for (size_t i = magnitude.size(); i-- > 0;) v = (v << 8) | static_cast<uint8_t>(magnitude[i]);
      *literal = DecimalLiteral(v, sign == 0, scale);
      return true;
    }
    case kBigVarChar:
    case kBigChar:
    case kNVarChar:
    case kNChar:
    case kBigVarBinary:
    case kBigBinary: {
      bool character = type != kBigVarBinary && type != kBigBinary;
      bool national = type == kNVarChar || type == kNChar;
      uint16_t max = r.U16();
      if (character && version >= TdsVersion::k71) r.Skip(5);  // collation
      std::string value;
      bool is_null = false;
      if (max == kPlpMarker) {
        if (!ReadPlp(r, &value, &is_null)) return false;
      } else {
        uint16_t length = r.U16();
        is_null = length == 0xFFFF;
        if (!is_null) value = std::string(r.Bytes(length));
      }
      if (!r.ok()) return false;
      if (is_null) {
        *literal = "NULL";
      } else if (!character) {
        *literal = "0x" + HexDigits(value, false);
      } else if (national) {
        *literal = QuoteString(Utf16ToUtf8(value), true);
      } else {
        // Single-byte text arrives in the server code page (1252), which
        // maps onto Unicode as Latin-1 does except for 0x80..0x9F; those are
        // rare in parameters and become '?'.
        std::string utf8;
        for (unsigned char c : value) {
          AppendUtf8(&utf8, (c >= 0x80 && c < 0xA0) ? '?' : c);
        }
        *literal = QuoteString(utf8, false);
      }
      return true;
    }
    case kText:
    case kNText:
    case kImage: {  // text, ntext, image: LONG lengths
      r.U32();      // max length
      if (type != kImage && version >= TdsVersion::k71) r.Skip(5);
      uint32_t length = r.U32();
      if (!r.ok()) return false;
      if (length == 0xFFFFFFFFu) {
        *literal = "NULL";
        return true;
      }
      std::string_view value = r.Bytes(length);
      if (!r.ok()) return false;
      if (type == kNText) {
        *literal = QuoteString(Utf16ToUtf8(value), true);
      } else if (type == kImage) {
        *literal = "0x" + HexDigits(value, false);
      } else {
        *literal = QuoteString(value, false);
      }
      return true;
    }
    case kGuid: {  // uniqueidentifier
      r.U8();      // max length
      uint8_t length = r.U8();
      if (!r.ok()) return false;
      if (length == 0) {
        *literal = "NULL";
        return true;
      }
      if (length != 16) return false;
      std::string_view b = r.Bytes(16);
      if (!r.ok()) return false;
      // The first three groups are little-endian on the wire.
      static constexpr int kTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string text;
      for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) text.push_back('-');
        const auto byte = static_cast<uint8_t>(b[static_cast<size_t>(kTextOrder[k])]);
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
      }
      *literal = "cast('" + text + "' as uniqueidentifier)";
      return true;
    }
    case kDate:              // date
    case kTimeN:             // time(n)
    case kDateTime2:         // datetime2(n)
    case kDateTimeOffset: {  // datetimeoffset(n)
      uint8_t scale = type == kDate ? 0 : r.U8();
      uint8_t length = r.U8();
      if (!r.ok() || scale > 7) return false;
      if (length == 0) {
        *literal = "NULL";
        return true;
      }
      const size_t time_bytes = type == kDate ? 0 : scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
      const size_t date_bytes = type == kTimeN ? 0 : 3;
      const size_t offset_bytes = type == kDateTimeOffset ? 2 : 0;
      if (length != time_bytes + date_bytes + offset_bytes) return false;
      uint64_t units = LittleEndian(r.Bytes(time_bytes));
      int64_t days = static_cast<int64_t>(LittleEndian(r.Bytes(date_bytes)));
      const int offset = static_cast<int>(SignExtend(LittleEndian(r.Bytes(offset_bytes)), 2));
      if (!r.ok()) return false;
      for (int i = scale; i < 7; ++i) units *= 10;
      if (units >= 864000000000ull || days > 3652058 || offset < -840 || offset > 840) return false;
      const std::string scaled = "(" + std::to_string(scale) + ")";
      switch (type) {
        case kDate:
          *literal = DateTimeLiteral(days, 0, "date", true, false);
          break;
        case kTimeN:
          *literal = DateTimeLiteral(0, units, ("time" + scaled).c_str(), false, true);
          break;
        case kDateTime2:
          *literal = DateTimeLiteral(days, units, ("datetime2" + scaled).c_str());
          break;
        default: {
          // The wire carries UTC; the literal the local time and offset.
          int64_t local = static_cast<int64_t>(units) + int64_t{offset} * 600000000;
          int64_t local_days = days + (local < 0 ? -1 : local >= 864000000000 ? 1 : 0);
          local = (local % 864000000000 + 864000000000) % 864000000000;
          *literal = DateTimeLiteral(local_days, static_cast<uint64_t>(local),
                                     ("datetimeoffset" + scaled).c_str(), true, true, offset, true);
          break;
        }
      }
      return true;
    }
    default: {
      char b[80];
      std::snprintf(b, sizeof b, "parameters of TDS type 0x%02X are not supported by tdslite",
                    type);
      *error = b;
      return false;
    }
  }
}

// The next byte starts another call of a batch of RPCs.
bool AnotherCall(const ByteReader& r, std::string_view body) {
  if (r.remaining() == 0) return false;
  const char next = body[r.pos()];
  return next == '\x80' || next == '\xff';
}

// A procedure called by name: every parameter, in order, with its output flag.
RpcParseResult ParseArguments(ByteReader& r, std::string_view body, TdsVersion version,
                              RpcCall* call) {
  call->by_name = true;
  while (r.remaining() > 0) {
    if (call->parameters.size() >= 2100) return RpcParseResult::kMalformed;
    uint8_t name_chars = r.U8();
    std::string name = Utf16ToUtf8(r.Bytes(size_t{name_chars} * 2));
    uint8_t status = r.U8();
    if (!r.ok()) return RpcParseResult::kMalformed;
    std::string literal;
    if (!ReadParameter(r, version, &literal, &call->error)) {
      return call->error.empty() ? RpcParseResult::kMalformed : RpcParseResult::kUnsupported;
    }
    call->parameters.push_back({std::move(name), std::move(literal), (status & 0x01) != 0});
    if (AnotherCall(r, body)) {
      call->error = "batched RPC calls are not supported by tdslite";
      return RpcParseResult::kUnsupported;
    }
  }
  return RpcParseResult::kOk;
}

}  // namespace

std::string SubstituteParameters(std::string_view sql, std::span<const RpcParameter> parameters) {
  // The batch's own lexer finds the variables, so that names inside
  // literals, quoted identifiers and comments stay as they are.
  sql::LexResult lexed = sql::Lex(sql);
  std::string out;
  size_t copied = 0;
  for (const sql::Token& t : lexed.tokens) {
    if (t.kind != sql::TokenKind::kVariable || t.text.starts_with("@@")) continue;
    const RpcParameter* match = nullptr;
    for (const RpcParameter& p : parameters) {
      if (EqualsIgnoreCase(p.name, t.text)) match = &p;
    }
    if (match == nullptr) continue;
    out.append(sql.substr(copied, t.offset - copied));
    out += match->literal;
    copied = t.offset + t.raw.size();
  }
  out.append(sql.substr(copied));
  return out;
}

RpcParseResult ParseRpc(std::string_view body, TdsVersion version, RpcCall* call) {
  ByteReader r(body);
  uint16_t name_length = r.U16();
  if (!r.ok()) return RpcParseResult::kMalformed;
  bool execute_sql = false;
  if (name_length == 0xFFFF) {
    uint16_t id = r.U16();
    execute_sql = id == kProcIdExecuteSql;
    call->procedure = execute_sql ? "sp_executesql" : "procedure id " + std::to_string(id);
  } else {
    std::string_view raw = r.Bytes(size_t{name_length} * 2);
    call->procedure = Utf16ToUtf8(raw);
    std::string_view name = call->procedure;
    if (size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
    execute_sql = EqualsIgnoreCase(name, "sp_executesql");
  }
  r.U16();  // option flags
  if (!r.ok()) return RpcParseResult::kMalformed;
  if (!execute_sql && name_length == 0xFFFF) return RpcParseResult::kUnsupported;
  if (!execute_sql) return ParseArguments(r, body, version, call);
  // Parameters: statement, declarations, then the values by name.
  int index = 0;
  while (r.remaining() > 0) {
    uint8_t name_chars = r.U8();
    std::string name = Utf16ToUtf8(r.Bytes(size_t{name_chars} * 2));
    r.U8();  // status flags
    if (!r.ok()) return RpcParseResult::kMalformed;
    std::string literal;
    if (!ReadParameter(r, version, &literal, &call->error)) {
      return call->error.empty() ? RpcParseResult::kMalformed : RpcParseResult::kUnsupported;
    }
    if (index == 0) {
      // The statement: a quoted N'...' literal back to its text.
      if (literal == "NULL" || literal.size() < 3) return RpcParseResult::kMalformed;
      std::string text;
      std::string_view inner = std::string_view(literal).substr(literal[0] == 'N' ? 2 : 1);
      inner.remove_suffix(1);
      for (size_t k = 0; k < inner.size(); ++k) {
        text.push_back(inner[k]);
        if (inner[k] == '\'') ++k;  // undo the doubling
      }
      call->sql = std::move(text);
    } else if (index > 1) {
      call->parameters.push_back({std::move(name), std::move(literal)});
    }
    ++index;
    // A batch of several RPCs is not taken: only the first call runs.
    if (r.remaining() > 0) {
      std::string_view next = body.substr(r.pos(), 1);
      if (next[0] == '\x80' || next[0] == '\xff') {
        call->error = "batched RPC calls are not supported by tdslite";
        return RpcParseResult::kUnsupported;
      }
    }
  }
  if (index == 0) {
    call->error =
        "Procedure or function 'sp_executesql' expects parameter '@statement', which was not "
        "supplied.";
    return RpcParseResult::kUnsupported;
  }
  return RpcParseResult::kOk;
}

}  // namespace tdslite::protocol
