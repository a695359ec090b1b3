// The width rules of a result column, and how its values are converted.
//
// A width is a number of characters: the longest text a value of the column
// can have. Character columns take the length they were declared with, which
// FreeTDS reports scaled for the client character set (varchar(20) gives 80
// under UTF-8), so the width divides it back. Every other type takes the
// longest text dbconvert makes of it: dbcollen of a number or a date is its
// binary size under FreeTDS, not a text length. The bytes a value is
// converted into are sized separately (FormatOf), from the library's byte
// length, so that no value is cut to a width.
#include <algorithm>

#include "statements/statements.h"

namespace ktdb {
namespace {

// The bytes dbconvert may write for a value of a fixed-size type: above its
// longest text (24 characters for a float, 41 for a decimal(38,38)), with
// room for month names that take more bytes under some locales.
constexpr std::int32_t kFixedRoom = 64;

}  // namespace

bool IsCharacterToken(int token) {
  switch (token) {
    case SYBCHAR:
    case SYBVARCHAR:
    case SYBTEXT:
    case SYBNTEXT:
    case SYBNVARCHAR:
      return true;
    default:
      return false;
  }
}

bool IsBinaryToken(int token) {
  return token == SYBIMAGE || token == SYBVARBINARY || token == SYBBINARY;
}

namespace {

bool IsDecimal(int token) {
  return token == SYBDECIMAL || token == SYBNUMERIC;
}

// The longest text of a decimal or numeric value: sign, digits and point;
// when all digits lie behind the point FreeTDS writes a 0 before it.
std::int64_t DecimalLength(const ColumnShape& shape) {
  const std::int32_t precision = shape.precision > 0 ? shape.precision : 38;
  return precision + 2 + (shape.scale >= precision ? 1 : 0);
}

// The longest text of a value, in characters; nothing for a type whose
// length only dbcollen tells.
std::optional<std::int64_t> LongestText(const ColumnShape& shape) {
  switch (shape.token) {
    case SYBINT1:
    case SYBBIT:
      return 3;  // 255
    case SYBINT2:
      return 6;  // -32768
    case SYBINT4:
      return 11;  // -2147483648
    case SYBINT8:
      return 20;  // -9223372036854775808
    case SYBMONEY:
    case SYBMONEY4:
      return 26;  // -922337203685477.5808 (21) fits the width money always had
    case SYBDATETIME:
    case SYBDATETIME4:
      return 26;  // Dec 31 9999 11:59:59:997PM
    case SYBFLT8:
    case SYBREAL:
      return 24;  // -1.7976931348623157e+308
    case kTokenUniqueIdentifier:
      return 36;  // 8-4-4-4-12 hex digits
    case SYBMSDATE:
    case SYBMSTIME:
    case SYBMSDATETIME2:
    case SYBMSDATETIMEOFFSET:
      return 30;  // Dec 31 9999 11:59:59:9999999PM
    default:
      break;
  }
  if (IsDecimal(shape.token)) return DecimalLength(shape);
  return std::nullopt;
}

// The describe base: the longest text, or for data without one the length
// DB-Library reports (binary: two hex digits a byte; characters: the
// declared length).
std::int64_t Base(const ColumnShape& shape) {
  if (const auto longest = LongestText(shape)) return *longest;
  const std::int64_t length = std::max<std::int64_t>(shape.byteLength, 0);
  if (IsBinaryToken(shape.token)) return 2 * length;
  if (IsCharacterToken(shape.token)) return length / std::max<std::int32_t>(shape.charBytes, 1);
  return length;
}

std::int32_t Cap(std::int64_t width, std::int64_t cap) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(width, 0, cap));
}

// Characters of a UTF-8 text: every byte that does not continue a sequence.
std::int32_t Utf8Length(const char* text) {
  std::int32_t count = 0;
  for (; *text != '\0'; ++text) {
    if ((static_cast<unsigned char>(*text) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace

ColumnShape ReadColumnShape(DBPROCESS* dbproc, int column) {
  ColumnShape shape{};
  shape.token = dbcoltype(dbproc, column);
  shape.byteLength = dbcollen(dbproc, column);
  shape.charBytes = ClientCharacterBytes;
  if (IsDecimal(shape.token)) {
    ColumnInfo.SizeOfStruct = sizeof(DBCOL);
    if (dbcolinfo(dbproc, CI_REGULAR, column, 0, &ColumnInfo) == SUCCEED) {
      shape.precision = ColumnInfo.Precision;
      shape.scale = ColumnInfo.Scale;
    }
  }
  const char* name = dbcolname(dbproc, column);
  shape.nameLength = name != nullptr ? Utf8Length(name) : 0;
  return shape;
}

std::int32_t DescribeWidth(const ColumnShape& shape) {
  return Cap(std::max<std::int64_t>(Base(shape) + 1, shape.nameLength), kWidthCap);
}

std::int32_t ValueWidth(const ColumnShape& shape) {
  return Cap(Base(shape) + 1, std::int64_t{kWidthCap} + 1);
}

ReportedWidth ReportWidth(const ColumnShape& shape) {
  if (IsDecimal(shape.token)) {
    const std::int32_t precision = shape.precision > 0 ? shape.precision : 38;
    return {Cap(precision - shape.scale, kWidthCap), shape.scale};
  }
  // datetime reports one more than its describe base.
  if (shape.token == SYBDATETIME || shape.token == SYBDATETIME4) return {27, 0};
  return {Cap(Base(shape), kWidthCap), 0};
}

ColumnFormat FormatOf(const ColumnShape& shape) {
  ColumnFormat format{shape.token, ValueWidth(shape), kFixedRoom};
  if (IsCharacterToken(shape.token) || IsBinaryToken(shape.token)) {
    // Copied or converted by its own length, up to the cap.
    format.room = kWidthCap;
  } else if (!LongestText(shape)) {
    // A type without a known longest text: what its byte length allows as
    // hex, and never less than a fixed type.
    const std::int64_t length = std::max<std::int64_t>(shape.byteLength, 0);
    format.room = Cap(std::max<std::int64_t>(2 * length + 1, kFixedRoom), kWidthCap);
  }
  return format;
}

void FillColumnFormats(std::int32_t columns) {
  const std::int32_t last = std::min<std::int32_t>(columns, kMaxColumns);
  for (std::int32_t j = 1; j <= last; ++j) {
    ColumnFormats[j] = FormatOf(ReadColumnShape(MainConnection, j));
  }
}

}  // namespace ktdb
