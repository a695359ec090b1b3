// Token encoding: COLMETADATA and ROW per type and TDS version, messages,
// DONE, ENVCHANGE and RETURNSTATUS.
#include <algorithm>
#include <cstring>
#include <limits>

#include "tdslite/protocol/codec.h"
#include "tdslite/sql/temporal.h"

namespace tdslite::protocol {

namespace {

// Non-(max) character and binary columns hold at most 8000 bytes.
constexpr uint32_t kMaxShortLength = 8000;
constexpr int32_t kTextMaxLength = 2147483647;
constexpr int32_t kNTextMaxLength = 2147483646;
constexpr uint16_t kNullShortLength = 0xFFFF;
// SQL Server's message texts are at most 2047 characters; the cap keeps the
// token's 16-bit length field valid whatever a RAISERROR produced.
constexpr size_t kMaxMessageChars = 4000;
constexpr size_t kTextPointerSize = 16;
// Bytes of an image value read from SQLite at a time.
constexpr int64_t kLobPieceSize = 64 * 1024;
constexpr size_t kTextTimestampSize = 8;

// Bytes of a DECIMALN value (sign byte included) for a precision.
uint8_t DecimalLength(uint8_t precision) {
  if (precision <= 9) return 5;
  if (precision <= 19) return 9;
  if (precision <= 28) return 13;
  return 17;
}

uint32_t ClampLength(int32_t length, uint32_t max) {
  if (length < 1) return 1;
  return std::min(static_cast<uint32_t>(length), max);
}

// Bytes of the time part of time, datetime2 and datetimeoffset by scale.
uint32_t TimeBytes(uint8_t scale) {
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

bool IsTextLike(uint8_t wire_type) {
  return wire_type == kText || wire_type == kNText || wire_type == kImage;
}

bool HasCollation(uint8_t wire_type) {
  switch (wire_type) {
    case kBigVarChar:
    case kBigChar:
    case kNVarChar:
    case kNChar:
    case kText:
    case kNText:
      return true;
    default:
      return false;
  }
}

void PutFixed(std::string& out, uint64_t v, size_t bytes) {
  char buffer[8];
  for (size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  out.append(buffer, bytes);
}

void PutDecimal(std::string& out, __int128 value, uint8_t length) {
  PutU8(out, length);
  PutU8(out, value < 0 ? 0 : 1);
  unsigned __int128 magnitude = value < 0 ? static_cast<unsigned __int128>(-(value + 1)) + 1
                                          : static_cast<unsigned __int128>(value);
  for (int i = 0; i < length - 1; ++i) {
    out.push_back(static_cast<char>(static_cast<uint8_t>(magnitude & 0xFF)));
    magnitude >>= 8;
  }
}

enum class Encoding { kBytes, kCp1252, kUcs2 };

// Appends `value` in the wire encoding, answering the number of bytes added.
size_t AppendEncoded(std::string& out, std::string_view value, Encoding encoding) {
  size_t before = out.size();
  switch (encoding) {
    case Encoding::kBytes:
      out.append(value);
      break;
    case Encoding::kCp1252:
      AppendCp1252(out, value);
      break;
    case Encoding::kUcs2:
      AppendUtf16(out, value);
      break;
  }
  return out.size() - before;
}

// USHORT-length value of a character or binary column, cut to the declared
// maximum (for UCS-2, on a whole code unit). Encoded in place: no copy.
void PutShortValue(std::string& out, std::string_view value, uint32_t max, Encoding encoding) {
  size_t at = out.size();
  PutU16(out, 0);
  size_t n = std::min<size_t>(AppendEncoded(out, value, encoding), max);
  if (encoding == Encoding::kUcs2) n &= ~size_t{1};
  out.resize(at + 2 + n);
  out[at] = static_cast<char>(n & 0xFF);
  out[at + 1] = static_cast<char>(n >> 8);
}

// A value of length-prefixed chunks (PLP): its total length, one chunk
// holding it, the zero length that ends the chunks.
void PutPlpValue(std::string& out, std::string_view value, Encoding encoding, int32_t text_size) {
  const size_t at = out.size();
  PutU64(out, 0);
  PutU32(out, 0);
  size_t n = AppendEncoded(out, value, encoding);
  if (text_size > 0) n = std::min<size_t>(n, static_cast<size_t>(text_size));
  if (encoding == Encoding::kUcs2) n &= ~size_t{1};
  n = std::min<size_t>(n, 0x7FFFFFFF);
  out.resize(at + 12 + n);
  std::string lengths;
  PutU64(lengths, n);
  PutU32(lengths, static_cast<uint32_t>(n));
  out.replace(at, 12, lengths);
  // One chunk holds the whole value; an empty value has none. A zero
  // length ends the chunks.
  if (n == 0) out.resize(at + 8);
  PutU32(out, 0);
}

}  // namespace

WireColumn MapColumn(const ColumnType& type, bool nullable, TdsVersion version) {
  WireColumn w;
  w.id = type.id;
  auto fixed_or_n = [&](uint8_t fixed, uint8_t n_type, uint32_t size) {
    if (nullable) {
      w.wire_type = n_type;
      w.max_length = size;
      w.nullable_type = true;
    } else {
      w.wire_type = fixed;
    }
  };
  switch (type.id) {
    case TypeId::kTinyInt:
      fixed_or_n(kInt1, kIntN, 1);
      break;
    case TypeId::kSmallInt:
      fixed_or_n(kInt2, kIntN, 2);
      break;
    case TypeId::kInt:
      fixed_or_n(kInt4, kIntN, 4);
      break;
    case TypeId::kBigInt:
      if (version == TdsVersion::k70) {
        // TDS 7.0 has no bigint: SQL Server sends it as decimal(19,0).
        w.wire_type = kDecimalN;
        w.precision = 19;
        w.scale = 0;
        w.max_length = DecimalLength(19);
        w.nullable_type = true;
        w.bigint_as_decimal = true;
      } else {
        fixed_or_n(kInt8, kIntN, 8);
      }
      break;
    case TypeId::kBit:
      fixed_or_n(kBit, kBitN, 1);
      break;
    case TypeId::kReal:
      fixed_or_n(kFlt4, kFltN, 4);
      break;
    case TypeId::kFloat:
      fixed_or_n(kFlt8, kFltN, 8);
      break;
    case TypeId::kSmallMoney:
      fixed_or_n(kMoney4, kMoneyN, 4);
      break;
    case TypeId::kMoney:
      fixed_or_n(kMoney, kMoneyN, 8);
      break;
    case TypeId::kSmallDateTime:
      fixed_or_n(kDateTime4, kDateTimeN, 4);
      break;
    case TypeId::kDateTime:
      fixed_or_n(kDateTime, kDateTimeN, 8);
      break;
    case TypeId::kDecimal:
    case TypeId::kNumeric: {
      // Clients reject a precision outside 1..38 or a scale above it.
      uint8_t p = std::clamp<uint8_t>(type.precision, 1, 38);
      w.wire_type = type.id == TypeId::kDecimal ? kDecimalN : kNumericN;
      w.precision = p;
      w.scale = std::min(type.scale, p);
      w.max_length = DecimalLength(p);
      w.nullable_type = true;
      break;
    }
    case TypeId::kChar:
      w.wire_type = kBigChar;
      w.max_length = ClampLength(type.length, kMaxShortLength);
      break;
    case TypeId::kVarChar:
      w.wire_type = kBigVarChar;
      w.max_length = ClampLength(type.length, kMaxShortLength);
      break;
    case TypeId::kNChar:
      w.wire_type = kNChar;
      w.max_length = 2 * ClampLength(type.length, kMaxShortLength / 2);
      break;
    case TypeId::kNVarChar:
      w.wire_type = kNVarChar;
      w.max_length = 2 * ClampLength(type.length, kMaxShortLength / 2);
      break;
    case TypeId::kBinary:
      w.wire_type = kBigBinary;
      w.max_length = ClampLength(type.length, kMaxShortLength);
      break;
    case TypeId::kVarBinary:
      w.wire_type = kBigVarBinary;
      w.max_length = ClampLength(type.length, kMaxShortLength);
      break;
    case TypeId::kText:
      w.wire_type = kText;
      w.max_length = kTextMaxLength;
      break;
    case TypeId::kNText:
      w.wire_type = kNText;
      w.max_length = kNTextMaxLength;
      break;
    case TypeId::kImage:
      w.wire_type = kImage;
      w.max_length = kTextMaxLength;
      break;
    case TypeId::kUniqueIdentifier:
      w.wire_type = kGuid;
      w.max_length = 16;
      w.nullable_type = true;
      break;
    case TypeId::kDate:
    case TypeId::kTime:
    case TypeId::kDateTime2:
    case TypeId::kDateTimeOffset: {
      const uint8_t scale = type.id == TypeId::kDate ? 0 : std::min<uint8_t>(type.scale, 7);
      if (version < TdsVersion::k73) {
        // Older clients know none of these: SQL Server sends their text.
        w.wire_type = kNVarChar;
        w.max_length = 2 * static_cast<uint32_t>(sql::WideTextLength(type.id, scale));
        break;
      }
      w.wire_type = type.id == TypeId::kDate        ? kDate
                    : type.id == TypeId::kTime      ? kTimeN
                    : type.id == TypeId::kDateTime2 ? kDateTime2
                                                    : kDateTimeOffset;
      w.scale = scale;
      w.max_length = (type.id == TypeId::kDate ? 0 : TimeBytes(scale)) +
                     (type.id == TypeId::kTime ? 0 : 3) +
                     (type.id == TypeId::kDateTimeOffset ? 2 : 0);
      w.nullable_type = true;
      break;
    }
  }
  if (type.length == kMaxLength && (type.id == TypeId::kVarChar || type.id == TypeId::kNVarChar ||
                                    type.id == TypeId::kVarBinary)) {
    if (version >= TdsVersion::k72) {
      // (max): length 0xFFFF in the metadata, the value in chunks.
      w.max_length = 0xFFFF;
      w.plp = true;
    } else {
      // Older clients get text, ntext and image, as from SQL Server.
      w.wire_type = type.id == TypeId::kVarChar    ? kText
                    : type.id == TypeId::kNVarChar ? kNText
                                                   : kImage;
      w.max_length = type.id == TypeId::kNVarChar ? kNTextMaxLength : kTextMaxLength;
    }
  }
  return w;
}

void EncodeColMetadata(std::span<const ColumnDesc> columns, TdsVersion version, std::string& out,
                       std::vector<WireColumn>* wire) {
  wire->clear();
  PutU8(out, kTokenColMetadata);
  PutU16(out, static_cast<uint16_t>(std::min<size_t>(columns.size(), 0xFFFE)));
  size_t count = 0;
  for (const ColumnDesc& c : columns) {
    if (++count > 0xFFFE) break;
    WireColumn w = MapColumn(c.type, c.nullable, version);
    wire->push_back(w);
    // UserType widened from 2 to 4 bytes in 7.2.
    if (version >= TdsVersion::k72) {
      PutU32(out, 0);
    } else {
      PutU16(out, 0);
    }
    uint16_t flags = 0;
    if (c.nullable) flags |= 0x0001;
    if (!c.name.empty()) flags |= 0x0008;  // updatability unknown
    if (c.identity) flags |= 0x0010;
    PutU16(out, flags);
    PutU8(out, w.wire_type);
    if (IsTextLike(w.wire_type)) {
      PutU32(out, w.max_length);
    } else if (w.wire_type == kDecimalN || w.wire_type == kNumericN) {
      PutU8(out, static_cast<uint8_t>(w.max_length));
      PutU8(out, w.precision);
      PutU8(out, w.scale);
    } else if (w.wire_type == kDate) {
      // no TYPE_INFO beyond the type
    } else if (w.wire_type == kTimeN || w.wire_type == kDateTime2 ||
               w.wire_type == kDateTimeOffset) {
      PutU8(out, w.scale);
    } else if (w.nullable_type) {
      PutU8(out, static_cast<uint8_t>(w.max_length));
    } else if (w.max_length != 0) {
      PutU16(out, static_cast<uint16_t>(w.max_length));
    }
    if (version >= TdsVersion::k71 && HasCollation(w.wire_type)) {
      out.append(reinterpret_cast<const char*>(kCollation), 5);
    }
    if (IsTextLike(w.wire_type)) {
      std::string table = c.table.empty() ? std::string() : "dbo." + c.table;
      // 7.2 split the table name into parts; one part holding the whole name
      // is what clients accept.
      if (version >= TdsVersion::k72) PutU8(out, table.empty() ? 0 : 1);
      if (version < TdsVersion::k72 || !table.empty()) PutUsVarchar(out, table);
    }
    PutBVarchar(out, c.name);
  }
}

// An image value read from its row piece by piece. With `flush`, the bytes
// go out as they are read instead of piling up in `out`.
static void PutLobValue(std::string& out, LobSource& lob, int32_t text_size,
                        const std::function<void(std::string&)>& flush) {
  int64_t size = std::max<int64_t>(lob.Size(), 0);
  if (text_size > 0) size = std::min<int64_t>(size, text_size);
  size = std::min<int64_t>(size, kTextMaxLength);
  PutU32(out, static_cast<uint32_t>(size));
  bool ok = true;
  for (int64_t at = 0; at < size;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(size - at, kLobPieceSize));
    size_t start = out.size();
    out.resize(start + n);
    // The length is already out: a row that vanished mid-read is sent as
    // zeros rather than desynchronising the client.
    if (ok) ok = lob.Read(at, std::span<char>(out.data() + start, n));
    if (!ok) std::memset(out.data() + start, 0, n);
    at += static_cast<int64_t>(n);
    if (flush && out.size() >= kLobPieceSize) flush(out);
  }
}

void EncodeRow(std::span<const Value> values, std::span<const WireColumn> wire, int32_t text_size,
               std::string& out) {
  EncodeRow(values, wire, text_size, out, nullptr);
}

void EncodeRow(std::span<const Value> values, std::span<const WireColumn> wire, int32_t text_size,
               std::string& out, const std::function<void(std::string&)>& flush) {
  PutU8(out, kTokenRow);
  static const Value kNull;
  for (size_t i = 0; i < wire.size(); ++i) {
    const WireColumn& w = wire[i];
    // A row shorter than its metadata would desynchronise the client: the
    // missing values go out as NULL.
    const Value& v = i < values.size() ? values[i] : kNull;
    if (w.plp) {
      if (v.is_null) {
        PutU64(out, 0xFFFFFFFFFFFFFFFFull);
      } else {
        PutPlpValue(out, v.bytes,
                    w.wire_type == kBigVarChar ? Encoding::kCp1252
                    : w.wire_type == kNVarChar ? Encoding::kUcs2
                                               : Encoding::kBytes,
                    text_size);
      }
      continue;
    }
    switch (w.wire_type) {
      case kGuid:
        if (v.is_null || v.bytes.size() != 16) {
          PutU8(out, 0);
        } else {
          PutU8(out, 16);
          out += v.bytes;
        }
        continue;
      case kDate:
      case kTimeN:
      case kDateTime2:
      case kDateTimeOffset: {
        if (v.is_null) {
          PutU8(out, 0);
          continue;
        }
        PutU8(out, static_cast<uint8_t>(w.max_length));
        const int64_t stored = v.i;
        int64_t days = w.wire_type == kDate ? stored : stored / sql::kUnitsPerDay;
        int64_t units = w.wire_type == kTimeN ? stored : stored % sql::kUnitsPerDay;
        if (w.wire_type != kDate) {
          int64_t step = 1;
          for (int k = w.scale; k < 7; ++k) step *= 10;
          PutFixed(out, static_cast<uint64_t>(units / step), TimeBytes(w.scale));
        }
        if (w.wire_type != kTimeN) PutFixed(out, static_cast<uint64_t>(days), 3);
        if (w.wire_type == kDateTimeOffset) PutFixed(out, static_cast<uint16_t>(v.offset), 2);
        continue;
      }
      case kIntN:
      case kBitN:
      case kFltN:
      case kMoneyN:
      case kDateTimeN:
        if (v.is_null) {
          PutU8(out, 0);
          continue;
        }
        PutU8(out, static_cast<uint8_t>(w.max_length));
        break;
      case kDecimalN:
      case kNumericN:
        if (v.is_null) {
          PutU8(out, 0);
        } else {
          PutDecimal(out, w.bigint_as_decimal ? static_cast<__int128>(v.i) : v.dec,
                     static_cast<uint8_t>(w.max_length));
        }
        continue;
      case kBigChar:
      case kBigVarChar:
        if (v.is_null) {
          PutU16(out, kNullShortLength);
        } else {
          PutShortValue(out, v.bytes, w.max_length, Encoding::kCp1252);
        }
        continue;
      case kNChar:
      case kNVarChar:
        if (v.is_null) {
          PutU16(out, kNullShortLength);
        } else {
          PutShortValue(out, v.bytes, w.max_length, Encoding::kUcs2);
        }
        continue;
      case kBigBinary:
      case kBigVarBinary:
        if (v.is_null) {
          PutU16(out, kNullShortLength);
        } else {
          PutShortValue(out, v.bytes, w.max_length, Encoding::kBytes);
        }
        continue;
      case kText:
      case kNText:
      case kImage: {
        if (v.is_null) {
          PutU8(out, 0);  // no text pointer: NULL
          continue;
        }
        PutU8(out, kTextPointerSize);
        std::string pointer = v.text_pointer.substr(0, kTextPointerSize);
        pointer.resize(kTextPointerSize, '\0');
        std::string stamp = v.text_timestamp.substr(0, kTextTimestampSize);
        stamp.resize(kTextTimestampSize, '\0');
        out += pointer;
        out += stamp;
        Encoding encoding = w.wire_type == kText    ? Encoding::kCp1252
                            : w.wire_type == kNText ? Encoding::kUcs2
                                                    : Encoding::kBytes;
        if (v.lob && encoding == Encoding::kBytes) {
          PutLobValue(out, *v.lob, text_size, flush);
          continue;
        }
        size_t at = out.size();
        PutU32(out, 0);
        size_t n = AppendEncoded(out, v.bytes, encoding);
        if (text_size > 0) n = std::min<size_t>(n, static_cast<size_t>(text_size));
        n = std::min<size_t>(n, kTextMaxLength);
        if (encoding == Encoding::kUcs2) n &= ~size_t{1};
        out.resize(at + 4 + n);
        std::string length;
        PutU32(length, static_cast<uint32_t>(n));
        out.replace(at, 4, length);
        continue;
      }
      default:
        break;  // fixed-size types below
    }
    // Fixed-size values (also the payload of the N types above).
    switch (w.id) {
      case TypeId::kTinyInt:
        PutFixed(out, static_cast<uint64_t>(v.i), 1);
        break;
      case TypeId::kSmallInt:
        PutFixed(out, static_cast<uint64_t>(v.i), 2);
        break;
      case TypeId::kInt:
      case TypeId::kSmallMoney:
        PutFixed(out, static_cast<uint64_t>(v.i), 4);
        break;
      case TypeId::kBigInt:
        PutFixed(out, static_cast<uint64_t>(v.i), 8);
        break;
      case TypeId::kBit:
        PutU8(out, v.i != 0 ? 1 : 0);
        break;
      case TypeId::kReal: {
        float f = static_cast<float>(v.f);
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        PutU32(out, bits);
        break;
      }
      case TypeId::kFloat: {
        uint64_t bits;
        std::memcpy(&bits, &v.f, sizeof bits);
        PutU64(out, bits);
        break;
      }
      case TypeId::kMoney: {
        // High 32 bits first, then the low 32 bits.
        uint64_t bits = static_cast<uint64_t>(v.i);
        PutU32(out, static_cast<uint32_t>(bits >> 32));
        PutU32(out, static_cast<uint32_t>(bits & 0xFFFFFFFFu));
        break;
      }
      case TypeId::kSmallDateTime: {
        int32_t days = std::clamp<int32_t>(v.dt.days, 0, 0xFFFF);
        PutU16(out, static_cast<uint16_t>(days));
        PutU16(out, static_cast<uint16_t>(std::min<uint32_t>(v.dt.ticks / 18000, 1439)));
        break;
      }
      case TypeId::kDateTime:
        PutU32(out, static_cast<uint32_t>(v.dt.days));
        PutU32(out, v.dt.ticks);
        break;
      default:
        break;  // not a fixed-size type: handled above
    }
  }
}

void EncodeMessage(const Message& message, std::string_view server_name, TdsVersion version,
                   std::string& out) {
  std::string body;
  PutU32(body, static_cast<uint32_t>(message.number));
  PutU8(body, message.state);
  PutU8(body, message.severity);
  std::string text = Utf8ToUtf16(message.text);
  if (text.size() > 2 * kMaxMessageChars) text.resize(2 * kMaxMessageChars);
  PutU16(body, static_cast<uint16_t>(text.size() / 2));
  body += text;
  PutBVarchar(body, server_name);
  PutBVarchar(body, message.procedure);
  // The line number widened from 2 to 4 bytes in 7.2.
  if (version >= TdsVersion::k72) {
    PutU32(body, static_cast<uint32_t>(message.line));
  } else {
    PutU16(body, static_cast<uint16_t>(std::clamp<int32_t>(message.line, 0, 0xFFFF)));
  }
  PutU8(out, message.severity > 10 ? kTokenError : kTokenInfo);
  PutU16(out, static_cast<uint16_t>(body.size()));
  out += body;
}

void EncodeDone(uint8_t token, uint16_t status, uint16_t current_command, uint64_t row_count,
                TdsVersion version, std::string& out) {
  PutU8(out, token);
  PutU16(out, status);
  PutU16(out, current_command);
  // The row count widened from 4 to 8 bytes in 7.2.
  if (version >= TdsVersion::k72) {
    PutU64(out, row_count);
  } else {
    PutU32(out, static_cast<uint32_t>(std::min<uint64_t>(row_count, 0x7FFFFFFF)));
  }
}

void EncodeEnvChangeBytes(uint8_t type, std::string_view new_bytes, std::string_view old_bytes,
                          std::string& out) {
  PutU8(out, kTokenEnvChange);
  PutU16(out, static_cast<uint16_t>(1 + 1 + new_bytes.size() + 1 + old_bytes.size()));
  PutU8(out, type);
  PutU8(out, static_cast<uint8_t>(new_bytes.size()));
  out.append(new_bytes);
  PutU8(out, static_cast<uint8_t>(old_bytes.size()));
  out.append(old_bytes);
}

void EncodeEnvChange(uint8_t type, std::string_view new_utf8, std::string_view old_utf8,
                     std::string& out) {
  std::string values;
  PutBVarchar(values, new_utf8);
  PutBVarchar(values, old_utf8);
  PutU8(out, kTokenEnvChange);
  PutU16(out, static_cast<uint16_t>(1 + values.size()));
  PutU8(out, type);
  out += values;
}

void EncodeReturnStatus(int32_t status, std::string& out) {
  PutU8(out, kTokenReturnStatus);
  PutU32(out, static_cast<uint32_t>(status));
}

void EncodeReturnValue(const ReturnedValue& value, TdsVersion version, std::string& out) {
  // The parameter's type as a one-column COLMETADATA writes it (user type,
  // flags, TYPE_INFO, then an empty name), and its value as a ROW does.
  ColumnDesc column = value.column;
  column.name.clear();
  column.table.clear();
  std::string meta;
  std::vector<WireColumn> wire;
  EncodeColMetadata(std::span<const ColumnDesc>(&column, 1), version, meta, &wire);
  std::string row;
  EncodeRow(std::span<const Value>(&value.value, 1), wire, 0, row);
  PutU8(out, kTokenReturnValue);
  PutU16(out, value.ordinal);
  PutBVarchar(out, value.name);
  PutU8(out, 0x01);  // an output parameter
  // meta: token, count (3 bytes), the column, the name's length byte.
  out.append(meta, 3, meta.size() - 4);
  out.append(row, 1, std::string::npos);
}

}  // namespace tdslite::protocol
