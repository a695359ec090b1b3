// The values tdslite's layers hand one another: SQL Server data types,
// column descriptions and the values of a row. Every tdslite folder may use
// this; it uses nothing of tdslite.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tdslite {

// SQL Server data types tdslite can store and send. The protocol layer maps
// each to the wire type for the negotiated TDS version.
enum class TypeId : uint8_t {
  kTinyInt,
  kSmallInt,
  kInt,
  kBigInt,
  kBit,
  kReal,
  kFloat,
  kSmallMoney,
  kMoney,
  kSmallDateTime,
  kDateTime,
  kDecimal,
  kNumeric,
  kChar,
  kVarChar,
  kNChar,
  kNVarChar,
  kBinary,
  kVarBinary,
  kText,
  kNText,
  kImage,
  kDate,
  kTime,
  kDateTime2,
  kDateTimeOffset,
  kUniqueIdentifier,
};

// The declared length of varchar(max), nvarchar(max) and varbinary(max).
constexpr int32_t kMaxLength = 0x7FFFFFFF;

// A column's declared type. `length` is the declared length in characters for
// char/varchar/nchar/nvarchar (1..8000, nchar/nvarchar 1..4000) and in bytes for
// binary/varbinary (kMaxLength for the (max) types); it is unused for
// fixed-size types and text/ntext/image.
struct ColumnType {
  TypeId id = TypeId::kInt;
  int32_t length = 0;
  uint8_t precision = 0;  // decimal/numeric only (1..38)
  uint8_t scale = 0;      // decimal/numeric (0..precision); time, datetime2,
                          // datetimeoffset: fractional second digits (0..7)
};

struct ColumnDesc {
  std::string name;  // UTF-8; empty for an unnamed expression column
  ColumnType type;
  bool nullable = true;
  bool identity = false;
  // For text/ntext/image columns read straight from a table: the table the
  // value lives in, so that text pointers can be made (see TextPointer).
  std::string table;
};

// Calendar values as SQL Server keeps them: days since 1900-01-01 (negative
// before it) and 1/300-second ticks since midnight (0..25919999).
struct DateTimeValue {
  int32_t days = 0;
  uint32_t ticks = 0;
};

// A text/image value read from its row in pieces, so that a large value
// never has to be held whole. The sink asks for the bytes while it encodes
// the row, before the next row is fetched.
class LobSource {
 public:
  virtual ~LobSource() = default;
  // The stored value's size in bytes.
  virtual int64_t Size() = 0;
  // Reads out.size() bytes starting at `offset` (offset + out.size() <=
  // Size()). Answers false when the row is gone or SQLite fails.
  virtual bool Read(int64_t offset, std::span<char> out) = 0;
};

// One value of a row. The active member follows the column's TypeId:
//  - integer types and bit: `i`
//  - real/float: `f`
//  - smallmoney/money: `i`, the amount times 10000
//  - decimal/numeric: `dec`, the unscaled integer (value = dec / 10^scale)
//  - smalldatetime/datetime: `dt` (smalldatetime: ticks a multiple of 18000)
//  - date: `i` days since 0001-01-01; time: `i` 100 ns units since
//    midnight; datetime2: `i` days * 864000000000 + 100 ns units of the day;
//    datetimeoffset: `i` as datetime2, in UTC, and `offset` its minutes east
//    of UTC. For these four, `bytes` holds the value's text as well (for
//    clients older than TDS 7.3, which receive them as nvarchar)
//  - uniqueidentifier: `bytes` holds the 16 bytes in wire order
//  - char/varchar/text/nchar/nvarchar/ntext: `bytes` holds UTF-8 text
//  - binary/varbinary/image: `bytes` holds the raw bytes
// char(n)/nchar(n) values arrive already padded with blanks to n characters.
struct Value {
  bool is_null = true;
  int64_t i = 0;
  double f = 0;
  __int128 dec = 0;
  DateTimeValue dt;
  int16_t offset = 0;
  std::string bytes;
  // text/ntext/image only: the 16-byte text pointer and 8-byte timestamp the
  // protocol layer sends before a non-NULL value. Empty when not applicable.
  std::string text_pointer;
  std::string text_timestamp;
  // image only, instead of `bytes`: the stored value, read in pieces.
  std::shared_ptr<LobSource> lob;
};

}  // namespace tdslite
