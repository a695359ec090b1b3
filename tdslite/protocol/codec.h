// The TDS wire codec: byte order helpers, text conversions, PRELOGIN, LOGIN7
// and the encoding of every token tdslite sends, per negotiated TDS version.
//
// Everything here works on byte strings only (no sockets), so that the unit
// tests can check it byte by byte. connection.cc is its only user in the
// server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tdslite/exec/session.h"

namespace tdslite::protocol {

// Protocol revisions tdslite speaks. Ordered: comparisons mean "at least".
enum class TdsVersion : uint8_t { k70, k71, k72, k73, k74 };

// Packet types (first header byte).
enum PacketType : uint8_t {
  kPacketSqlBatch = 1,
  kPacketPreTds7Login = 2,
  kPacketRpc = 3,
  kPacketReply = 4,
  kPacketAttention = 6,
  kPacketBulk = 7,
  kPacketTransaction = 14,
  kPacketLogin7 = 16,
  kPacketSspi = 17,
  kPacketPrelogin = 18,
};

enum PacketStatus : uint8_t {
  kStatusEom = 0x01,
  kStatusIgnore = 0x02,
};

constexpr size_t kHeaderSize = 8;
// Packet sizes tdslite agrees to; the login reply always uses the default
// because some clients read it into a fixed 4096-byte buffer.
constexpr uint32_t kDefaultPacketSize = 4096;
constexpr uint32_t kMinPacketSize = 512;
constexpr uint32_t kMaxPacketSize = 32767;

// ---- little helpers over std::string used as a byte buffer ----

void PutU8(std::string& out, uint8_t v);
void PutU16(std::string& out, uint16_t v);  // little-endian
void PutU32(std::string& out, uint32_t v);
void PutU64(std::string& out, uint64_t v);
void PutU16BE(std::string& out, uint16_t v);
void PutU32BE(std::string& out, uint32_t v);
// B_VARCHAR / US_VARCHAR from UTF-8: a character count then UCS-2LE. Text
// longer than the count field allows is cut at the limit.
void PutBVarchar(std::string& out, std::string_view utf8);
void PutUsVarchar(std::string& out, std::string_view utf8);

// Bounds-checked reader: every getter answers 0/empty once the data runs out
// and sets ok() to false, so a parser checks ok() once at the end.
class ByteReader {
 public:
  explicit ByteReader(std::string_view data) : data_(data) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  uint16_t U16BE();
  std::string_view Bytes(size_t n);
  void Skip(size_t n) { Bytes(n); }
  size_t pos() const { return pos_; }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  bool ok() const { return ok_; }

 private:
  std::string_view data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// ---- text ----

// UTF-8 to UTF-16LE (characters beyond the BMP become surrogate pairs;
// malformed input becomes U+FFFD).
std::string Utf8ToUtf16(std::string_view utf8);
// UTF-16LE to UTF-8; an odd trailing byte is dropped, lone surrogates become
// U+FFFD.
std::string Utf16ToUtf8(std::string_view utf16);
// UTF-8 to Windows-1252, the code page of the server collation; characters
// the code page lacks become '?', as in SQL Server.
std::string Utf8ToCp1252(std::string_view utf8);
// The same two conversions appending to `out` (the per-value path).
void AppendUtf16(std::string& out, std::string_view utf8);
void AppendCp1252(std::string& out, std::string_view utf8);
// Number of UTF-16 code units of a UTF-8 string (what B_VARCHAR counts).
size_t Utf16Units(std::string_view utf8);

// ---- PRELOGIN ----

struct PreloginRequest {
  bool has_mars = false;  // the client sent a MARS option
  uint8_t encryption = 2;
};

// Parses a PRELOGIN payload; nullopt when the option table is malformed.
std::optional<PreloginRequest> ParsePrelogin(std::string_view payload);
// The reply payload: version, the ENCRYPTION value (by default
// ENCRYPT_NOT_SUP), empty instance, no thread id and (only when asked) MARS
// off.
std::string BuildPreloginReply(const PreloginRequest& request, uint8_t encryption = 2);

// ---- LOGIN7 ----

struct Login7 {
  uint32_t tds_version = 0;  // as sent (little-endian ULONG), e.g. 0x74000004
  uint32_t packet_size = 0;
  uint8_t option_flags1 = 0;
  uint8_t option_flags2 = 0;
  uint8_t option_flags3 = 0;
  std::string host_name;  // UTF-8
  std::string user_name;
  std::string password;  // descrambled
  std::string app_name;
  std::string server_name;
  std::string library_name;
  std::string language;
  std::string database;
  bool integrated_security() const { return (option_flags2 & 0x80) != 0; }
};

// The TYPE_INFO type codes tdslite sends in COLMETADATA and takes in RPC
// parameters.
enum WireType : uint8_t {
  kImage = 0x22,
  kText = 0x23,
  kIntN = 0x26,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kInt4 = 0x38,
  kDateTime4 = 0x3A,
  kFlt4 = 0x3B,
  kMoney = 0x3C,
  kDateTime = 0x3D,
  kFlt8 = 0x3E,
  kNText = 0x63,
  kBitN = 0x68,
  kDecimalN = 0x6A,
  kNumericN = 0x6C,
  kFltN = 0x6D,
  kMoneyN = 0x6E,
  kDateTimeN = 0x6F,
  kMoney4 = 0x7A,
  kInt8 = 0x7F,
  kBigVarBinary = 0xA5,
  kBigVarChar = 0xA7,
  kBigBinary = 0xAD,
  kBigChar = 0xAF,
  kNVarChar = 0xE7,
  kNChar = 0xEF,
  kGuid = 0x24,
  kDate = 0x28,
  kTimeN = 0x29,
  kDateTime2 = 0x2A,
  kDateTimeOffset = 0x2B,
};

enum class LoginParseError { kNone, kMalformed, kUnknownVersion };

// Parses a LOGIN7 payload strictly by its offset/length table. The version
// decides the fixed part's size (86 bytes before 7.2, 94 from 7.2).
LoginParseError ParseLogin7(std::string_view payload, Login7* login);
// The protocol revision for a LOGIN7 TDSVersion, or nullopt for a version
// tdslite does not speak. Newer 7.x clients are served as 7.4.
std::optional<TdsVersion> NegotiateVersion(uint32_t requested);
// The TDSVersion a LOGINACK answers to `requested` (written big-endian).
uint32_t LoginAckVersion(uint32_t requested);
// The packet size tdslite agrees to for a LOGIN7 PacketSize.
uint32_t NegotiatePacketSize(uint32_t requested);

// The server collation: Latin1_General, case-insensitive, accent-sensitive,
// sort id 52 (SQL_Latin1_General_CP1_CI_AS, code page 1252).
inline constexpr uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

// ---- tokens ----

enum TokenType : uint8_t {
  kTokenReturnStatus = 0x79,
  kTokenReturnValue = 0xAC,
  kTokenColMetadata = 0x81,
  kTokenError = 0xAA,
  kTokenInfo = 0xAB,
  kTokenLoginAck = 0xAD,
  kTokenRow = 0xD1,
  kTokenEnvChange = 0xE3,
  kTokenDone = 0xFD,
  kTokenDoneProc = 0xFE,
  kTokenDoneInProc = 0xFF,
};

enum DoneBits : uint16_t { kDoneMore = 0x0001 };

enum EnvChangeType : uint8_t {
  kEnvDatabase = 1,
  kEnvLanguage = 2,
  kEnvCharset = 3,
  kEnvPacketSize = 4,
  kEnvUnicodeLcid = 5,
  kEnvUnicodeCompare = 6,
  kEnvCollation = 7,
  kEnvBeginTran = 8,
  kEnvCommitTran = 9,
  kEnvRollbackTran = 10,
};

// How one result column travels for the negotiated version.
struct WireColumn {
  TypeId id = TypeId::kInt;
  uint8_t wire_type = 0;
  uint32_t max_length = 0;  // bytes; 0 for fixed-size types
  uint8_t precision = 0;
  uint8_t scale = 0;
  bool nullable_type = false;  // an N type: the value carries its length
  bool bigint_as_decimal = false;
  bool plp = false;  // a (max) type for TDS 7.2+: the value goes in chunks
};

WireColumn MapColumn(const ColumnType& type, bool nullable, TdsVersion version);

void EncodeColMetadata(std::span<const ColumnDesc> columns, TdsVersion version, std::string& out,
                       std::vector<WireColumn>* wire);
// One ROW token. `text_size` > 0 limits text/ntext/image values to that many
// bytes, as `set textsize` does.
void EncodeRow(std::span<const Value> values, std::span<const WireColumn> wire, int32_t text_size,
               std::string& out);
// The same; an image value with a LobSource is read in pieces, and `flush`
// (when set) is called whenever `out` holds a piece: it sends and clears it.
void EncodeRow(std::span<const Value> values, std::span<const WireColumn> wire, int32_t text_size,
               std::string& out, const std::function<void(std::string&)>& flush);
void EncodeMessage(const Message& message, std::string_view server_name, TdsVersion version,
                   std::string& out);
void EncodeDone(uint8_t token, uint16_t status, uint16_t current_command, uint64_t row_count,
                TdsVersion version, std::string& out);
void EncodeEnvChange(uint8_t type, std::string_view new_utf8, std::string_view old_utf8,
                     std::string& out);
void EncodeEnvChangeBytes(uint8_t type, std::string_view new_bytes, std::string_view old_bytes,
                          std::string& out);
void EncodeReturnStatus(int32_t status, std::string& out);
// RETURNVALUE: an output parameter's value, typed as a column would be.
void EncodeReturnValue(const ReturnedValue& value, TdsVersion version, std::string& out);
void EncodeLoginAck(uint32_t ack_version, std::string& out);

// Everything a successful login answers, in SQL Server's order: database and
// language changes with their INFO messages, the charset announcement (7.0)
// or collation (7.1+), LOGINACK, the packet size, DONE.
struct LoginReply {
  TdsVersion version = TdsVersion::k74;
  uint32_t ack_version = 0x74000004;
  std::string database;
  std::string server_name;
  uint32_t packet_size = kDefaultPacketSize;
};
std::string BuildLoginResponse(const LoginReply& reply);
// The tokens of a failed login: `messages` as ERROR tokens, then DONE(ERROR).
std::string BuildLoginFailure(std::span<const Message> messages, std::string_view server_name,
                              TdsVersion version);

// ---- RPC ----

struct RpcParameter {
  std::string name;     // as sent, with its '@'
  std::string literal;  // the value as a T-SQL literal, e.g. N'x', 12, NULL
  bool output = false;  // passed by reference: its value comes back in a RETURNVALUE
};

struct RpcCall {
  std::string procedure;
  // Any procedure but sp_executesql: `parameters` are its arguments, in order.
  bool by_name = false;
  std::string sql;  // sp_executesql's statement
  std::vector<RpcParameter> parameters;
  std::string error;  // why a call is not supported
};

enum class RpcParseResult { kOk, kMalformed, kUnsupported };

// Parses an RPC request after its ALL_HEADERS: sp_executesql's statement
// and parameters, or another procedure's name and arguments (by_name). A
// parameter type tdslite cannot render answers kUnsupported.
RpcParseResult ParseRpc(std::string_view body, TdsVersion version, RpcCall* call);
// Replaces each `@name` in `sql` that names a parameter with its literal,
// leaving string literals, quoted identifiers, comments and @@ names alone.
std::string SubstituteParameters(std::string_view sql, std::span<const RpcParameter> parameters);

}  // namespace tdslite::protocol
